// The plot window: a plot scene drawn with GDI into a back buffer at the
// window's client size, and a message loop in the calling thread that runs
// until the window is destroyed.

#include "plot_window.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace models {

namespace {

constexpr char plot_class_name[] = "trelvane plot window";
constexpr int initial_client_width = 960;
constexpr int initial_client_height = 720;
constexpr int minimum_width = 320;
constexpr int minimum_height = 240;

// A GDI object (pen, brush, font, bitmap) deleted when it goes out of scope.
class gdi_object {
  public:
    explicit gdi_object(HGDIOBJ handle) : handle_(handle) {}
    ~gdi_object() {
        if (handle_)
            DeleteObject(handle_);
    }
    gdi_object(const gdi_object&) = delete;
    gdi_object& operator=(const gdi_object&) = delete;
    HGDIOBJ get() const { return handle_; }

  private:
    HGDIOBJ handle_;
};

// An object selected into a device context for a scope: the previous one
// is selected again at the end, so the object can be deleted.
class selection {
  public:
    selection(HDC dc, HGDIOBJ object)
        : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
    ~selection() {
        if (previous_)
            SelectObject(dc_, previous_);
    }
    selection(const selection&) = delete;
    selection& operator=(const selection&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

class memory_dc {
  public:
    explicit memory_dc(HDC screen) : dc_(CreateCompatibleDC(screen)) {}
    ~memory_dc() {
        if (dc_)
            DeleteDC(dc_);
    }
    memory_dc(const memory_dc&) = delete;
    memory_dc& operator=(const memory_dc&) = delete;
    HDC get() const { return dc_; }

  private:
    HDC dc_;
};

// A bitmap of the client's size in a memory DC: the picture is drawn there
// and copied to the screen in one operation, so it does not flicker.
// Members end in reverse order: the bitmap is deselected, deleted, then
// the DC deleted.
class back_buffer {
  public:
    back_buffer(HDC screen, int width, int height)
        : dc_(screen), bitmap_(CreateCompatibleBitmap(screen, width, height)),
          selected_(dc_.get(), dc_.get() ? bitmap_.get() : nullptr) {}
    bool ready() const { return dc_.get() && bitmap_.get(); }
    HDC dc() const { return dc_.get(); }

  private:
    memory_dc dc_;
    gdi_object bitmap_;
    selection selected_;
};

int px(double v) {
    return static_cast<int>(std::lround(std::clamp(v, -1e6, 1e6)));
}

COLORREF rgb(plot_color c) {
    return RGB(c.r, c.g, c.b);
}

// Scene texts are UTF-8; a text that is no UTF-8 is taken in the ANSI code page.
std::wstring wide_text(const std::string& text) {
    if (text.empty())
        return {};
    for (const UINT code_page : {UINT(CP_UTF8), UINT(CP_ACP)}) {
        const DWORD flags = code_page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        const int size = static_cast<int>(text.size());
        const int length = MultiByteToWideChar(code_page, flags, text.data(), size, nullptr, 0);
        if (length > 0) {
            std::wstring wide(static_cast<std::size_t>(length), L'\0');
            MultiByteToWideChar(code_page, flags, text.data(), size, wide.data(), length);
            return wide;
        }
    }
    return {};
}

void draw_rect(HDC dc, const scene_rect& r) {
    gdi_object pen(CreatePen(PS_SOLID, std::max(1, px(r.stroke_width)), rgb(r.stroke)));
    selection pen_selected(dc, pen.get());
    selection brush_selected(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, px(r.corner.x), px(r.corner.y), px(r.corner.x + r.width) + 1,
              px(r.corner.y + r.height) + 1);
}

void draw_line(HDC dc, const scene_line& l) {
    // Dashes are drawn by GDI only for one-pixel pens.
    gdi_object pen(l.dashed ? CreatePen(PS_DASH, 1, rgb(l.color))
                            : CreatePen(PS_SOLID, std::max(1, px(l.width)), rgb(l.color)));
    selection pen_selected(dc, pen.get());
    MoveToEx(dc, px(l.from.x), px(l.from.y), nullptr);
    LineTo(dc, px(l.to.x), px(l.to.y));
}

void draw_markers(HDC dc, const scene_markers& m) {
    gdi_object pen(CreatePen(PS_SOLID, 1, rgb(m.fill)));
    gdi_object brush(CreateSolidBrush(rgb(m.fill)));
    selection pen_selected(dc, pen.get());
    selection brush_selected(dc, brush.get());
    for (const plot_point& p : m.centres)
        Ellipse(dc, px(p.x - m.radius), px(p.y - m.radius), px(p.x + m.radius) + 1,
                px(p.y + m.radius) + 1);
}

void draw_polyline(HDC dc, const scene_polyline& l) {
    if (l.points.size() < 2)
        return;
    LOGBRUSH stroke{BS_SOLID, rgb(l.color), 0};
    gdi_object pen(ExtCreatePen(PS_GEOMETRIC | (l.dashed ? PS_DASH : PS_SOLID) | PS_ENDCAP_ROUND |
                                    PS_JOIN_ROUND,
                                std::max(1, px(l.width)), &stroke, 0, nullptr));
    selection pen_selected(dc, pen.get());
    std::vector<POINT> points;
    points.reserve(l.points.size());
    for (const plot_point& p : l.points)
        points.push_back({px(p.x), px(p.y)});
    Polyline(dc, points.data(), static_cast<int>(points.size()));
}

void draw_text(HDC dc, const scene_text& t) {
    const std::wstring text = wide_text(t.text);
    if (text.empty())
        return;
    const int angle = t.vertical ? 900 : 0; // tenths of a degree, anticlockwise
    gdi_object font(CreateFontW(-std::max(1, px(t.size)), 0, angle, angle,
                                t.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                                DEFAULT_PITCH | FF_SWISS, L"Arial"));
    selection font_selected(dc, font.get());
    const UINT align = t.align == text_align::start    ? TA_LEFT
                       : t.align == text_align::middle ? TA_CENTER
                                                       : TA_RIGHT;
    SetTextAlign(dc, TA_BASELINE | TA_NOUPDATECP | align);
    SetTextColor(dc, rgb(t.color));
    TextOutW(dc, px(t.anchor.x), px(t.anchor.y), text.c_str(), static_cast<int>(text.size()));
}

void draw_scene(HDC dc, const plot_scene& scene, const RECT& area) {
    gdi_object background(CreateSolidBrush(rgb(scene.background)));
    FillRect(dc, &area, static_cast<HBRUSH>(background.get()));
    SetBkMode(dc, TRANSPARENT);
    for (const scene_rect& r : scene.rects)
        draw_rect(dc, r);
    for (const scene_line& l : scene.lines)
        draw_line(dc, l);
    for (const scene_markers& m : scene.markers)
        draw_markers(dc, m);
    for (const scene_polyline& l : scene.polylines)
        draw_polyline(dc, l);
    for (const scene_text& t : scene.texts)
        draw_text(dc, t);
}

// What one shown window needs; it lives on the stack of show_plot_window.
struct window_state {
    const plot_model* model = nullptr;
    plot_scene scene;
    bool scene_current = false;
    bool closed = false;
};

window_state* state_of(HWND window) {
    return reinterpret_cast<window_state*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

// The scene is laid out again only when the client size changed.
void on_paint(HWND window, window_state& state) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client{};
    GetClientRect(window, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    if (dc && width > 0 && height > 0) {
        if (!state.scene_current || state.scene.width != width || state.scene.height != height) {
            state.scene = state.model->scene(width, height);
            state.scene_current = true;
        }
        back_buffer buffer(dc, width, height);
        if (buffer.ready()) {
            draw_scene(buffer.dc(), state.scene, client);
            BitBlt(dc, 0, 0, width, height, buffer.dc(), 0, 0, SRCCOPY);
        } else {
            draw_scene(dc, state.scene, client); // no memory for a buffer: draw directly
        }
    }
    EndPaint(window, &paint);
}

void on_size(HWND window, window_state& state) {
    state.scene_current = false;
    InvalidateRect(window, nullptr, FALSE);
}

void on_key_down(HWND window, WPARAM key) {
    if (key == VK_ESCAPE)
        DestroyWindow(window);
}

void on_get_min_max_info(LPARAM lParam) {
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    info->ptMinTrackSize.x = minimum_width;
    info->ptMinTrackSize.y = minimum_height;
}

LRESULT CALLBACK plot_window_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return DefWindowProcA(window, message, wParam, lParam);
    }
    if (message == WM_GETMINMAXINFO) { // comes before WM_NCCREATE
        on_get_min_max_info(lParam);
        return 0;
    }
    window_state* state = state_of(window);
    if (!state)
        return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
    case WM_ERASEBKGND:
        return 1; // WM_PAINT covers the whole client area
    case WM_PAINT:
        on_paint(window, *state);
        return 0;
    case WM_SIZE:
        on_size(window, *state);
        return 0;
    case WM_KEYDOWN:
        on_key_down(window, wParam);
        return 0;
    case WM_DESTROY:
        state->closed = true;
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

// The class is registered once per process; a window shown again reuses it.
bool register_plot_class(HINSTANCE instance) {
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(instance, plot_class_name, &existing))
        return true;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = plot_window_proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = nullptr; // painted whole by WM_PAINT
    wc.lpszClassName = plot_class_name;
    wc.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
    return RegisterClassExA(&wc) != 0;
}

} // namespace

int show_plot_window(const plot_model& model) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!register_plot_class(instance))
        return 1;
    window_state state;
    state.model = &model;
    const DWORD style = WS_OVERLAPPEDWINDOW;
    RECT frame{0, 0, initial_client_width, initial_client_height};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    HWND window = CreateWindowExA(0, plot_class_name, model.window_title().c_str(), style,
                                  CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, nullptr, instance, &state);
    if (!window)
        return 1;
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    SetForegroundWindow(window);

    // The window's own loop: the caller needs none, and a quit request
    // meant for the caller's loop ends the window and is passed on.
    int result = 0;
    MSG message{};
    while (!state.closed) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            DestroyWindow(window);
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (got == -1) {
            DestroyWindow(window);
            result = 1;
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return result;
}

} // namespace models
