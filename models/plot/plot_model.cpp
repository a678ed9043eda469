// The plot model: collecting rows within a bounded grid, nice axes, and the
// layout of the four panels as a scene.

#include "plot_model.h"

#include <boost/math/distributions/normal.hpp>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <utility>

namespace models {

namespace {

// Sum and difference that stay finite: a range around a huge value is cut
// at the largest double instead of becoming infinite.
double finite_sum(double a, double b) {
    const double r = a + b;
    if (std::isfinite(r))
        return r;
    return r > 0 ? DBL_MAX : -DBL_MAX;
}

// Half the distance from low to high, computed without overflow.
double half_span(double low, double high) {
    return high / 2 - low / 2;
}

// Where v lies from low (0) to high (1); 0.5 when the range is empty.
double fraction(double v, double low, double high) {
    const double span = half_span(low, high);
    if (!(span > 0))
        return 0.5;
    const double f = (v / 2 - low / 2) / span;
    return std::isfinite(f) ? f : 0.5;
}

std::string compact_exponent(const std::string& text) {
    const auto e = text.find('e');
    if (e == std::string::npos)
        return text;
    std::string mantissa = text.substr(0, e);
    if (mantissa.find('.') != std::string::npos) {
        while (!mantissa.empty() && mantissa.back() == '0')
            mantissa.pop_back();
        if (!mantissa.empty() && mantissa.back() == '.')
            mantissa.pop_back();
    }
    std::string exponent = text.substr(e + 1);
    std::string sign;
    if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
        if (exponent[0] == '-')
            sign = "-";
        exponent.erase(0, 1);
    }
    const auto digit = exponent.find_first_not_of('0');
    exponent = digit == std::string::npos ? "0" : exponent.substr(digit);
    return mantissa + "e" + sign + exponent;
}

std::size_t code_points(const std::string& text) {
    std::size_t count = 0;
    for (unsigned char c : text)
        count += (c & 0xC0) != 0x80;
    return count;
}

// The text cut to at most count code points.
std::string first_code_points(const std::string& text, std::size_t count) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == count)
                return text.substr(0, i);
            ++seen;
        }
    }
    return text;
}

// A text that fits a width: a smaller font down to min_size, then cut with "...".
std::pair<std::string, double> fit_text(const std::string& text, double size, double min_size,
                                        double width) {
    while (size > min_size && estimated_text_width(text, size) > width)
        size = std::max(min_size, size - 1);
    if (estimated_text_width(text, size) <= width)
        return {text, size};
    const double per_char = estimated_text_width("0", size);
    const double room = width / per_char - 3;
    const std::size_t keep = room > 1 ? static_cast<std::size_t>(room) : 1;
    return {first_code_points(text, keep) + "...", size};
}

// Liang-Barsky: cuts the segment a-b to the rectangle; false when no part
// of it lies inside.
bool clip_segment(plot_point& a, plot_point& b, double left, double top, double right,
                  double bottom) {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    double t0 = 0;
    double t1 = 1;
    const std::array<std::pair<double, double>, 4> edges{{
        {-dx, a.x - left},
        {dx, right - a.x},
        {-dy, a.y - top},
        {dy, bottom - a.y},
    }};
    for (const auto& [p, q] : edges) {
        if (p == 0) {
            if (q < 0)
                return false;
            continue;
        }
        const double t = q / p;
        if (p < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1)
            return false;
    }
    const plot_point start = a;
    if (t0 > 0)
        a = {start.x + t0 * dx, start.y + t0 * dy};
    if (t1 < 1)
        b = {start.x + t1 * dx, start.y + t1 * dy};
    return true;
}

// Style of the picture.
constexpr double outer_margin = 10;
constexpr double title_band = 36;
constexpr double title_size = 15;
constexpr double heading_size = 12;
constexpr double label_size = 12;
constexpr double tick_size = 11;
constexpr double tick_length = 4;
constexpr int curve_segments = 256;
constexpr std::size_t draw_exact_limit = 5000; // more points are thinned at drawing resolution
constexpr plot_color text_color{30, 30, 30};
constexpr plot_color frame_color{90, 90, 90};
constexpr plot_color grid_color{228, 228, 228};
constexpr plot_color point_color{40, 95, 170};
constexpr plot_color curve_color{205, 60, 40};
constexpr plot_color reference_color{110, 110, 110};
constexpr plot_color contour_color{205, 60, 40};
// Cook's distances whose contours panel (d) draws, as R's plot.lm does.
constexpr double cook_levels[] = {0.5, 1.0};
// Panels in one row (or column) once the picture is this much wider than
// tall (or taller than wide); two by two otherwise.
constexpr double one_row_ratio = 2.4;

struct box {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
    double right() const { return left + width; }
    double bottom() const { return top + height; }
};

// One panel's content before layout.
struct panel_content {
    std::string heading;
    std::string x_label;
    std::string y_label;
    std::vector<plot_point> points;
    double x_low = NAN, x_high = NAN, y_low = NAN, y_high = NAN;
    std::size_t extremes = 0; // the last points: each axis's extremes, always drawn
    bool diagonal = false;
    bool zero_line = false;
    struct curve_samples {
        std::vector<std::pair<double, double>> samples; // x, f(x)
        plot_color color = curve_color;
        double width = 2;
        bool dashed = false;
        std::string label; // written beside the curve, inside the frame (see place_label)
    };
    std::vector<curve_samples> curves;
};

class panel_painter {
  public:
    panel_painter(plot_scene& scene, const box& area, const panel_content& content,
                  double marker_radius)
        : scene_(scene), area_(area), content_(content), radius_(marker_radius) {}

    void paint() {
        layout_axes();
        paint_frame_and_ticks();
        const bool any = !content_.points.empty();
        if (content_.diagonal && any)
            paint_diagonal();
        if (content_.zero_line && any)
            paint_zero_line();
        paint_points();
        for (const auto& curve : content_.curves)
            paint_curve(curve);
        paint_labels();
    }

  private:
    plot_point map(double x, double y) const {
        return {frame_.left + fraction(x, x_.low, x_.high) * frame_.width,
                frame_.bottom() - fraction(y, y_.low, y_.high) * frame_.height};
    }

    void layout_axes() {
        const double top = area_.top + heading_size + 12;
        const double bottom = area_.bottom() - (tick_length + 3 + tick_size + 6 + label_size + 6);
        frame_.top = top;
        frame_.height = std::max(1.0, bottom - top);
        const int y_ticks = std::clamp(static_cast<int>(frame_.height / 50), 2, 10);
        y_ = nice_axis(content_.y_low, content_.y_high, y_ticks);
        double widest = 0;
        for (double t : y_.ticks)
            widest = std::max(widest, estimated_text_width(tick_label(t, y_.step), tick_size));
        frame_.left = area_.left + 4 + label_size + 8 + widest + 3 + tick_length;
        frame_.width = std::max(1.0, area_.right() - 16 - frame_.left);
        // As many x ticks as leave room between their labels.
        for (int n = std::clamp(static_cast<int>(frame_.width / 60), 2, 10); n >= 2; --n) {
            x_ = nice_axis(content_.x_low, content_.x_high, n);
            double label_width = 0;
            for (double t : x_.ticks)
                label_width =
                    std::max(label_width, estimated_text_width(tick_label(t, x_.step), tick_size));
            const double spacing = frame_.width * fraction(x_.low + x_.step, x_.low, x_.high);
            if (label_width + 10 <= spacing)
                break;
        }
    }

    void paint_frame_and_ticks() {
        for (double t : x_.ticks) {
            const double x = map(t, y_.low).x;
            scene_.lines.push_back({{x, frame_.top}, {x, frame_.bottom()}, grid_color, 1, false});
            scene_.lines.push_back(
                {{x, frame_.bottom()}, {x, frame_.bottom() + tick_length}, frame_color, 1, false});
            scene_.texts.push_back({{x, frame_.bottom() + tick_length + 3 + tick_size * 0.8},
                                    tick_label(t, x_.step),
                                    tick_size,
                                    text_align::middle,
                                    false,
                                    false,
                                    text_color});
        }
        for (double t : y_.ticks) {
            const double y = map(x_.low, t).y;
            scene_.lines.push_back({{frame_.left, y}, {frame_.right(), y}, grid_color, 1, false});
            scene_.lines.push_back(
                {{frame_.left - tick_length, y}, {frame_.left, y}, frame_color, 1, false});
            scene_.texts.push_back({{frame_.left - tick_length - 3, y + tick_size * 0.35},
                                    tick_label(t, y_.step),
                                    tick_size,
                                    text_align::end,
                                    false,
                                    false,
                                    text_color});
        }
        scene_.rects.push_back(
            {{frame_.left, frame_.top}, frame_.width, frame_.height, frame_color, 1});
    }

    void paint_diagonal() {
        const double low = std::max(x_.low, y_.low);
        const double high = std::min(x_.high, y_.high);
        if (!(low < high))
            return;
        scene_.lines.push_back({map(low, low), map(high, high), reference_color, 1, true});
    }

    void paint_zero_line() {
        if (!(y_.low <= 0 && 0 <= y_.high))
            return;
        const double y = map(x_.low, 0).y;
        scene_.lines.push_back({{frame_.left, y}, {frame_.right(), y}, reference_color, 1, true});
    }

    // Beyond a few thousand points, one point per marker-sized cell: the
    // picture is the same, the renderers have less to draw.
    void paint_points() {
        scene_markers markers;
        markers.radius = radius_;
        markers.fill = point_color;
        const bool thin = content_.points.size() > draw_exact_limit;
        const std::size_t columns = static_cast<std::size_t>(frame_.width / radius_) + 1;
        const std::size_t rows = static_cast<std::size_t>(frame_.height / radius_) + 1;
        std::vector<bool> taken(thin ? columns * rows : 0, false);
        const std::size_t first_extreme = content_.points.size() - content_.extremes;
        for (std::size_t i = 0; i < content_.points.size(); ++i) {
            const plot_point& p = content_.points[i];
            const plot_point at = map(p.x, p.y);
            if (thin) {
                const auto column = static_cast<std::size_t>(
                    std::clamp((at.x - frame_.left) / radius_, 0.0, double(columns - 1)));
                const auto row = static_cast<std::size_t>(
                    std::clamp((at.y - frame_.top) / radius_, 0.0, double(rows - 1)));
                if (taken[row * columns + column] && i < first_extreme)
                    continue;
                taken[row * columns + column] = true;
            }
            markers.centres.push_back(at);
        }
        if (!markers.centres.empty())
            scene_.markers.push_back(std::move(markers));
    }

    // A curve as polylines inside the frame: cut where it leaves the frame
    // or where the model has no finite value.
    void paint_curve(const panel_content::curve_samples& curve) {
        constexpr double far = 1e6; // logical units; beyond that a point is as good as infinite
        scene_polyline current{{}, curve.color, curve.width, curve.dashed};
        bool open = false;
        plot_point previous{};
        bool have_previous = false;
        std::vector<plot_point> inside; // the drawn points, left to right
        auto finish = [&] {
            if (current.points.size() >= 2) {
                inside.insert(inside.end(), current.points.begin(), current.points.end());
                scene_.polylines.push_back(current);
            }
            current.points.clear();
            open = false;
        };
        bool below = false; // the curve's values negative: its label goes under it
        for (const auto& [x, value] : curve.samples) {
            if (!std::isfinite(value)) {
                finish();
                have_previous = false;
                continue;
            }
            below = value < 0;
            plot_point p = map(x, value);
            p.y = std::clamp(p.y, -far, far);
            if (have_previous) {
                plot_point a = previous;
                plot_point b = p;
                if (clip_segment(a, b, frame_.left, frame_.top, frame_.right(), frame_.bottom())) {
                    const bool joins = open && a.x == previous.x && a.y == previous.y;
                    if (!joins) {
                        finish();
                        current.points.push_back(a);
                    }
                    current.points.push_back(b);
                    open = b.x == p.x && b.y == p.y;
                    if (!open)
                        finish();
                } else {
                    finish();
                }
            }
            previous = p;
            have_previous = true;
        }
        finish();
        if (!curve.label.empty())
            place_label(curve, inside, below);
    }

    // A curve's label beside one of its drawn points: the rightmost point
    // whose label box (above the curve, or under it for a curve below zero)
    // lies inside the frame and clear of the labels placed so far, stepping
    // left by the label's width; left out when no point gives one (curves
    // that meet, as Cook's contours do towards leverage 1).
    void place_label(const panel_content::curve_samples& curve,
                     const std::vector<plot_point>& points, bool below) {
        const double width = estimated_text_width(curve.label, tick_size);
        const double gap = 3; // between the curve's point and the text
        double next_x = INFINITY;
        for (auto p = points.rbegin(); p != points.rend(); ++p) {
            if (p->x > next_x)
                continue;
            next_x = p->x - width;
            box label;
            label.width = width;
            label.height = tick_size; // ascent and descent, baseline a fifth up from the bottom
            label.left = p->x - gap - width;
            label.top = below ? p->y + gap : p->y - gap - tick_size;
            const bool fits = label.left >= frame_.left && label.right() <= frame_.right() &&
                              label.top >= frame_.top && label.bottom() <= frame_.bottom();
            const bool clear =
                std::none_of(labels_.begin(), labels_.end(), [&label](const box& other) {
                    return label.left < other.right() && other.left < label.right() &&
                           label.top < other.bottom() && other.top < label.bottom();
                });
            if (!fits || !clear)
                continue;
            labels_.push_back(label);
            scene_.texts.push_back({{label.right(), label.bottom() - 0.2 * tick_size},
                                    curve.label,
                                    tick_size,
                                    text_align::end,
                                    false,
                                    false,
                                    curve.color});
            return;
        }
    }

    void paint_labels() {
        const auto heading = fit_text(content_.heading, heading_size, 9, area_.width - 8);
        scene_.texts.push_back({{frame_.left + frame_.width / 2, area_.top + heading_size},
                                heading.first,
                                heading.second,
                                text_align::middle,
                                false,
                                true,
                                text_color});
        const auto x_label = fit_text(content_.x_label, label_size, 9, frame_.width);
        scene_.texts.push_back({{frame_.left + frame_.width / 2, area_.bottom() - 6},
                                x_label.first,
                                x_label.second,
                                text_align::middle,
                                false,
                                false,
                                text_color});
        const auto y_label = fit_text(content_.y_label, label_size, 9, frame_.height);
        scene_.texts.push_back({{area_.left + 4 + label_size * 0.8, frame_.top + frame_.height / 2},
                                y_label.first,
                                y_label.second,
                                text_align::middle,
                                true,
                                false,
                                text_color});
    }

    plot_scene& scene_;
    box area_;
    const panel_content& content_;
    double radius_;
    box frame_;
    axis_scale x_;
    axis_scale y_;
    std::vector<box> labels_; // of the curves, placed so far
};

void set_ranges(panel_content& panel, const plot_model::point_cloud& cloud) {
    if (cloud.empty())
        return;
    panel.points = cloud.points();
    panel.extremes = 4;
    panel.x_low = cloud.min_x();
    panel.x_high = cloud.max_x();
    panel.y_low = cloud.min_y();
    panel.y_high = cloud.max_y();
}

// Samples the curve through the x range, and widens the y range to show it
// (but not beyond one data span either side: a curve that runs off far is
// cut at the frame instead of squeezing the data).
void sample_curve(panel_content& panel, const std::function<double(double)>& curve) {
    double low = panel.x_low;
    double high = panel.x_high;
    if (!std::isfinite(low) || !std::isfinite(high))
        return;
    if (!(low < high)) {
        const axis_scale axis = nice_axis(low, high, 2);
        low = axis.low;
        high = axis.high;
    }
    const double span = half_span(panel.y_low, panel.y_high) * 2;
    const double floor_y = finite_sum(panel.y_low, -span);
    const double ceiling_y = finite_sum(panel.y_high, span);
    panel.curves.emplace_back();
    auto& samples = panel.curves.back().samples;
    for (int i = 0; i <= curve_segments; ++i) {
        const double t = static_cast<double>(i) / curve_segments;
        const double x = i == curve_segments ? high : low + (high / 2 - low / 2) * 2 * t;
        const double value = curve(x);
        samples.emplace_back(x, value);
        if (std::isfinite(value) && value >= floor_y && value <= ceiling_y) {
            panel.y_low = std::min(panel.y_low, value);
            panel.y_high = std::max(panel.y_high, value);
        }
    }
}

// Panel (c): the standardized residuals' quantiles against the normal's.
void set_quantiles(panel_content& panel, const plot_model::quantile_sketch& sketch) {
    const boost::math::normal_distribution<double> normal;
    for (const auto& [probability, value] : sketch.positions()) {
        if (!(probability > 0 && probability < 1))
            continue;
        panel.points.push_back({boost::math::quantile(normal, probability), value});
    }
    if (panel.points.empty())
        return;
    // The first and last stand for the extremes: drawn however many points.
    panel.points.push_back(panel.points.front());
    panel.points.push_back(panel.points[panel.points.size() - 2]);
    panel.extremes = 2;
    panel.x_low = panel.points.front().x;
    panel.x_high = panel.points.back().x;
    panel.y_low = panel.x_low;
    panel.y_high = panel.x_high;
    for (const plot_point& p : panel.points) {
        panel.y_low = std::min(panel.y_low, p.y);
        panel.y_high = std::max(panel.y_high, p.y);
    }
}

// Panel (d)'s contours: the standardized residual at which Cook's distance
// reaches a level, r = ±sqrt(level p (1 - h) / h), over the leverages shown.
void add_cook_contours(panel_content& panel, int coefficients) {
    if (coefficients <= 0 || !(panel.x_high > 0))
        return;
    const double high = std::min(panel.x_high, 1.0);
    for (double level : cook_levels) {
        for (double sign : {1.0, -1.0}) {
            panel_content::curve_samples contour;
            contour.color = contour_color;
            contour.width = 1;
            contour.dashed = true;
            contour.label = tick_label(level, 0.5);
            for (int i = 1; i <= curve_segments; ++i) {
                const double h = high * i / curve_segments;
                const double r = sign * std::sqrt(level * coefficients * (1 - h) / h);
                contour.samples.emplace_back(h, r);
            }
            panel.curves.push_back(std::move(contour));
        }
    }
}

} // namespace

axis_scale nice_axis(double low, double high, int max_ticks) {
    if (!std::isfinite(low) || !std::isfinite(high)) {
        low = 0;
        high = 1;
    }
    if (low > high)
        std::swap(low, high);
    max_ticks = std::max(max_ticks, 2);
    const double magnitude = std::max(std::fabs(low), std::fabs(high));
    double half = half_span(low, high);
    if (!(half > magnitude * 1e-9) || half < 1e-290) {
        // A single value (or values equal to about nine digits): a range around it.
        const double centre = low / 2 + high / 2;
        double around = std::fabs(centre) * 0.1;
        if (!(around >= 1e-290))
            around = 1;
        low = finite_sum(centre, -around);
        high = finite_sum(centre, around);
    } else {
        const double pad = half * 0.08;
        low = finite_sum(low, -pad);
        high = finite_sum(high, pad);
    }
    half = half_span(low, high);

    // The smallest round step that puts at most max_ticks ticks in the range.
    double raw = half / max_ticks * 2;
    if (!std::isfinite(raw))
        raw = DBL_MAX;
    const double base = std::pow(10.0, std::floor(std::log10(raw)));
    double step = half;
    for (double m : {1.0, 2.0, 5.0, 10.0, 20.0, 50.0, 100.0}) {
        const double candidate = m * base;
        if (std::isfinite(candidate) &&
            std::floor(high / candidate) - std::ceil(low / candidate) + 1 <= max_ticks) {
            step = candidate;
            break;
        }
    }
    axis_scale axis;
    axis.low = low;
    axis.high = high;
    // A range narrower than its round step has one tick or none: a step one
    // round value smaller (5, 2, 1) gives it two.
    for (int finer = 0; finer < 3; ++finer) {
        axis.step = step;
        axis.ticks.clear();
        const double first = std::ceil(low / step);
        const double last = std::floor(high / step);
        for (double k = first; k <= last && axis.ticks.size() < 3 * std::size_t(max_ticks);
             k += 1) {
            double t = k * step;
            if (std::fabs(t) < step * 1e-9)
                t = 0;
            axis.ticks.push_back(std::clamp(t, low, high));
        }
        if (axis.ticks.size() >= 2)
            break;
        const double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
        step *= mantissa > 4 ? 0.4 : 0.5;
    }
    return axis;
}

std::string tick_label(double value, double step) {
    if (!std::isfinite(value))
        return "";
    if (!(step > 0) || !std::isfinite(step))
        step = value != 0 ? std::fabs(value) : 1;
    if (std::fabs(value) < step * 1e-9)
        return "0";
    const int step_exponent = static_cast<int>(std::floor(std::log10(step) + 1e-9));
    const double magnitude = std::max(std::fabs(value), step);
    char text[64];
    if (magnitude >= 1e6 || magnitude < 1e-4) {
        const int value_exponent =
            static_cast<int>(std::floor(std::log10(std::fabs(value)) + 1e-9));
        const int digits = std::clamp(value_exponent - step_exponent, 0, 16);
        std::snprintf(text, sizeof text, "%.*e", digits, value);
        return compact_exponent(text);
    }
    std::snprintf(text, sizeof text, "%.*f", std::max(0, -step_exponent), value);
    return text;
}

double estimated_text_width(const std::string& text, double size) {
    return static_cast<double>(code_points(text)) * 0.6 * size;
}

// point_cloud

void plot_model::point_cloud::add(double x, double y) {
    const plot_point p{x, y};
    if (!any_) {
        any_ = true;
        min_x_ = max_x_ = min_y_ = max_y_ = p;
    } else {
        if (x < min_x_.x)
            min_x_ = p;
        if (x > max_x_.x)
            max_x_ = p;
        if (y < min_y_.y)
            min_y_ = p;
        if (y > max_y_.y)
            max_y_ = p;
    }
    if (!gridded_) {
        points_.push_back(p);
        if (points_.size() > exact_limit)
            start_grid();
        return;
    }
    if (x < x0_ || x > x1_ || y < y0_ || y > y1_)
        grow_to(x, y);
    bin(p);
}

std::vector<plot_point> plot_model::point_cloud::points() const {
    std::vector<plot_point> all = points_;
    if (any_)
        all.insert(all.end(), {min_x_, max_x_, min_y_, max_y_});
    return all;
}

void plot_model::point_cloud::start_grid() {
    gridded_ = true;
    x0_ = min_x_.x;
    x1_ = max_x_.x;
    y0_ = min_y_.y;
    y1_ = max_y_.y;
    rebin();
}

// The extent grows by a quarter of its span beyond the point on the side
// the point falls: points arriving in sorted order re-bin only a
// logarithmic number of times, and the grid stays at most one and a half
// times the data's extent, so that its cells stay small in the picture.
void plot_model::point_cloud::grow_to(double x, double y) {
    const double width = half_span(x0_, x1_) / 2;
    const double height = half_span(y0_, y1_) / 2;
    if (x < x0_)
        x0_ = finite_sum(x, -width);
    if (x > x1_)
        x1_ = finite_sum(x, width);
    if (y < y0_)
        y0_ = finite_sum(y, -height);
    if (y > y1_)
        y1_ = finite_sum(y, height);
    rebin();
}

void plot_model::point_cloud::rebin() {
    cells_.assign(grid_size * grid_size, 0);
    std::vector<plot_point> old;
    old.swap(points_);
    for (const plot_point& p : old)
        bin(p);
}

bool plot_model::point_cloud::bin(plot_point p) {
    const auto cell = [](double v, double low, double high) {
        const double f = fraction(v, low, high) * grid_size;
        return static_cast<std::size_t>(std::clamp(f, 0.0, double(grid_size - 1)));
    };
    std::uint32_t& slot = cells_[cell(p.y, y0_, y1_) * grid_size + cell(p.x, x0_, x1_)];
    if (slot != 0)
        return false;
    points_.push_back(p);
    slot = static_cast<std::uint32_t>(points_.size());
    return true;
}

// plot_model

plot_model::plot_model(plot_labels labels, plot_kind kind)
    : labels_(std::move(labels)), kind_(kind) {}

void plot_model::set_curve(std::function<double(double)> curve) {
    curve_ = std::move(curve);
}

void plot_model::add_points(const double* x, const double* y, const double* fitted,
                            std::size_t count) {
    if (!y || !fitted || (kind_ == plot_kind::data_and_curve && !x))
        return;
    for (std::size_t i = 0; i < count; ++i) {
        ++rows_;
        const double xi = kind_ == plot_kind::data_and_curve ? x[i] : fitted[i];
        const double residual = y[i] - fitted[i];
        bool used = false;
        if (std::isfinite(xi) && std::isfinite(y[i])) {
            data_.add(xi, y[i]);
            used = true;
        }
        if (std::isfinite(fitted[i]) && std::isfinite(residual)) {
            residuals_.add(fitted[i], residual);
            used = true;
        }
        if (!used)
            ++skipped_;
    }
}

void plot_model::add_influence(const double* std_residual, const double* leverage,
                               std::size_t count) {
    if (!std_residual || !leverage)
        return;
    for (std::size_t i = 0; i < count; ++i) {
        if (!std::isfinite(std_residual[i]))
            continue;
        standardized_.add(std_residual[i]);
        if (std::isfinite(leverage[i]))
            leverage_.add(leverage[i], std_residual[i]);
    }
}

void plot_model::quantile_sketch::add(double value) {
    items_.emplace_back(value, 1.0);
    ++count_;
    if (items_.size() >= 2 * limit)
        compact();
}

// Sorted, neighbours merged in pairs: one of each pair stands for both,
// alternately the lower and the upper so that no side is favoured; the
// extremes stay.
void plot_model::quantile_sketch::compact() {
    std::sort(items_.begin(), items_.end());
    std::vector<std::pair<double, double>> merged;
    merged.reserve(items_.size() / 2 + 2);
    const std::size_t last = items_.size() - 1;
    merged.push_back(items_.front());
    std::size_t i = 1;
    for (; i + 1 < last; i += 2) {
        const auto& a = items_[i];
        const auto& b = items_[i + 1];
        merged.emplace_back(flip_ ? b.first : a.first, a.second + b.second);
        flip_ = !flip_;
    }
    for (; i <= last; ++i)
        merged.push_back(items_[i]);
    items_ = std::move(merged);
}

std::vector<std::pair<double, double>> plot_model::quantile_sketch::positions() const {
    std::vector<std::pair<double, double>> sorted = items_;
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::pair<double, double>> out;
    out.reserve(sorted.size());
    const double n = static_cast<double>(count_);
    const double a = count_ <= 10 ? 3.0 / 8 : 0.5; // R's ppoints
    double before = 0;
    for (const auto& [value, weight] : sorted) {
        // The middle of the ranks the item stands for.
        const double rank = before + (weight + 1) / 2;
        out.emplace_back((rank - a) / (n + 1 - 2 * a), value);
        before += weight;
    }
    return out;
}

std::string plot_model::title() const {
    const std::string model = labels_.model.empty() ? "fitted" : labels_.model;
    return labels_.formula.empty() ? model + " model" : model + " model: " + labels_.formula;
}

std::string plot_model::window_title() const {
    return "trelvane plot: " + (labels_.model.empty() ? std::string("fitted") : labels_.model) +
           " model";
}

plot_scene plot_model::scene(double width, double height) const {
    plot_scene scene;
    scene.width = std::isfinite(width) ? std::max(width, 1.0) : plot_default_width;
    scene.height = std::isfinite(height) ? std::max(height, 1.0) : plot_default_height;
    scene.title = title();

    const std::string response = labels_.response.empty() ? "y" : labels_.response;
    panel_content data;
    panel_content residuals;
    set_ranges(data, data_);
    set_ranges(residuals, residuals_);
    if (kind_ == plot_kind::data_and_curve) {
        const std::string predictor = labels_.predictor.empty() ? "x" : labels_.predictor;
        data.heading = response + " against " + predictor;
        data.x_label = predictor;
        if (curve_ && !data_.empty())
            sample_curve(data, curve_);
    } else {
        data.heading = "observed against fitted";
        data.x_label = "fitted";
        data.diagonal = true;
        // One range for both axes, so that the diagonal runs corner to corner.
        if (!data_.empty()) {
            data.x_low = data.y_low = std::min(data.x_low, data.y_low);
            data.x_high = data.y_high = std::max(data.x_high, data.y_high);
        }
    }
    data.y_label = response;
    residuals.heading = "residuals against fitted";
    residuals.x_label = "fitted";
    residuals.y_label = "residual";
    residuals.zero_line = true;
    if (!residuals_.empty()) {
        residuals.y_low = std::min(residuals.y_low, 0.0);
        residuals.y_high = std::max(residuals.y_high, 0.0);
    }

    panel_content quantiles;
    quantiles.heading = "normal Q-Q of standardized residuals";
    quantiles.x_label = "normal quantile";
    quantiles.y_label = "standardized residual";
    quantiles.diagonal = true;
    set_quantiles(quantiles, standardized_);

    panel_content leverage;
    leverage.heading = "standardized residuals against leverage";
    leverage.x_label = "leverage";
    leverage.y_label = "standardized residual";
    leverage.zero_line = true;
    set_ranges(leverage, leverage_);
    if (!leverage_.empty()) {
        leverage.x_low = std::min(leverage.x_low, 0.0);
        leverage.y_low = std::min(leverage.y_low, 0.0);
        leverage.y_high = std::max(leverage.y_high, 0.0);
        add_cook_contours(leverage, coefficients_);
    }

    const auto title = fit_text(scene.title, title_size, 9, scene.width - 2 * outer_margin);
    scene.texts.push_back({{scene.width / 2, outer_margin + title_size},
                           title.first,
                           title.second,
                           text_align::middle,
                           false,
                           true,
                           text_color});

    // Two by two; in one row on a picture far wider than tall, in one
    // column on one far taller than wide.
    const double inner_width = std::max(1.0, scene.width - 2 * outer_margin);
    const double inner_height = std::max(1.0, scene.height - title_band - outer_margin);
    int columns = 2;
    if (scene.width >= one_row_ratio * scene.height)
        columns = 4;
    else if (scene.height >= one_row_ratio * scene.width)
        columns = 1;
    const int rows = 4 / columns;
    const double cell_width = inner_width / columns;
    const double cell_height = inner_height / rows;
    const std::size_t shown = data.points.size() + residuals.points.size() +
                              quantiles.points.size() + leverage.points.size();
    const double radius = shown <= 4 * 2000 ? 2.5 : 1.6;
    const panel_content* panels[] = {&data, &residuals, &quantiles, &leverage};
    for (int k = 0; k < 4; ++k) {
        const box cell{outer_margin + (k % columns) * cell_width,
                       title_band + static_cast<double>(k / columns) * cell_height, cell_width,
                       cell_height};
        panel_painter(scene, cell, *panels[k], radius).paint();
    }
    return scene;
}

} // namespace models
