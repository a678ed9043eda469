#include "pick_file.h"

#include "ansi_path.h"

#include <windows.h>
#include <commdlg.h>

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace {

// The dialog record's size up to and including lpTemplateName: the record
// without its last three members, which older systems do not know.
constexpr DWORD dialog_record_size = static_cast<DWORD>(offsetof(OPENFILENAMEW, lpTemplateName) +
                                                        sizeof(OPENFILENAMEW::lpTemplateName));
#ifdef _WIN64
static_assert(dialog_record_size == 136, "x86-64 dialog record: 136 bytes");
#else
static_assert(dialog_record_size == 76, "32-bit dialog record: 76 bytes");
#endif

constexpr DWORD dialog_flags = OFN_EXPLORER | OFN_HIDEREADONLY;
static_assert(dialog_flags == 0x80004 && OFN_FILEMUSTEXIST == 0x1000, "dialog flag values");

// One filter: description, pattern, and the closing empty string (the
// literal's own NUL).
constexpr wchar_t file_filter[] = L"All files (*.*)\0*.*\0";
constexpr wchar_t no_default_extension[] = L"";

// The program's image in memory: where it starts and how long it is.
struct image_span {
    std::uintptr_t base;
    std::uintptr_t size;
};

image_span own_image() {
    const auto base = reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return {base, nt->OptionalHeader.SizeOfImage};
}

void write_to_standard_output(const char* bytes, std::size_t count) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        return;
    }
    while (count > 0) {
        DWORD written = 0;
        if (!WriteFile(out, bytes, static_cast<DWORD>(count), &written, nullptr) || written == 0) {
            return;
        }
        bytes += written;
        count -= written;
    }
}

class win32_handoff_files final : public handoff_files {
  public:
    std::uint32_t open(const char* path) override {
        file_ = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
        return file_ == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    }

    bool write(const char* bytes, std::size_t count) override {
        DWORD written = 0;
        const BOOL done = WriteFile(file_, bytes, static_cast<DWORD>(count), &written, nullptr);
        return done && written == count;
    }

    void close() override {
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }

    // Kept out of line: its return address is the place of the failing check.
    [[noreturn]] __attribute__((noinline)) void fail(int code) override {
        const auto location = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
        void* frames[report_max_addresses + 8];
        const USHORT captured = RtlCaptureStackBackTrace(0, std::size(frames), frames, nullptr);

        // The calls still active are the frames beyond the failing check.
        std::uintptr_t returns[std::size(frames)];
        std::size_t count = 0;
        bool past_check = false;
        for (USHORT i = 0; i < captured; ++i) {
            const auto address = reinterpret_cast<std::uintptr_t>(frames[i]);
            if (past_check) {
                returns[count++] = address;
            }
            past_check = past_check || address == location;
        }

        const image_span image = own_image();
        const error_report report =
            format_error_report(code, location, returns, count, image.base, image.size);
        write_to_standard_output(report.bytes.data(), report.size);
        ExitProcess(static_cast<UINT>(code));
    }

  private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

class win32_ansi_code_page final : public ansi_code_page {
  public:
    std::size_t to_ansi(const wchar_t* wide, std::size_t count, char* out, std::size_t room,
                        bool& exact) override {
        // A UTF-8 ANSI code page maps every character and knows neither
        // best fit nor default characters: there only invalid UTF-16 fails.
        const bool utf8 = GetACP() == CP_UTF8;
        const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
        BOOL used_default = FALSE;
        BOOL* const ask_default = utf8 ? nullptr : &used_default;
        const int wide_count = static_cast<int>(count);

        // Measured first: the bytes are stored only when they fit.
        const int needed =
            WideCharToMultiByte(CP_ACP, flags, wide, wide_count, nullptr, 0, nullptr, ask_default);
        if (needed > 0 && static_cast<std::size_t>(needed) <= room) {
            used_default = FALSE;
            if (WideCharToMultiByte(CP_ACP, flags, wide, wide_count, out, needed, nullptr,
                                    ask_default) != needed) {
                return 0;
            }
        }
        exact = used_default == FALSE;
        return needed > 0 ? static_cast<std::size_t>(needed) : 0;
    }

    std::size_t short_form(const wchar_t* path, wchar_t* out, std::size_t room) override {
        // The length without the NUL when it fit, the room it needs when not.
        const DWORD length = GetShortPathNameW(path, out, static_cast<DWORD>(room));
        return length < room ? length : 0;
    }
};

} // namespace

void pick_file(path_buffer_type& path_buffer, bool must_exist) {
    OPENFILENAMEW dialog{};
    path_buffer[0] = L'\0';
    dialog.lStructSize = dialog_record_size;
    dialog.hwndOwner = nullptr;
    dialog.lpstrFilter = file_filter;
    dialog.lpstrFile = path_buffer.data();
    dialog.nMaxFile = dialog_path_room;
    dialog.Flags = dialog_flags | (must_exist ? OFN_FILEMUSTEXIST : 0);
    dialog.lpstrDefExt = no_default_extension;

    // A cancel or a failure of the dialog leaves the buffer empty, and the
    // empty line is written all the same.
    GetOpenFileNameW(&dialog);

    win32_ansi_code_page code_page;
    win32_handoff_files files;
    write_handoff(path_buffer.data(), path_buffer.size(), code_page, files);
}
