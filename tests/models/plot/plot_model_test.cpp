// The plot model: nice axes, the geometry of small fits, degenerate data and
// the thinning of many rows.

#include "plot_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace models {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

bool inside(const plot_point& p, const scene_rect& r) {
    constexpr double slack = 1e-9;
    return p.x >= r.corner.x - slack && p.x <= r.corner.x + r.width + slack &&
           p.y >= r.corner.y - slack && p.y <= r.corner.y + r.height + slack;
}

bool in_a_frame(const plot_point& p, const plot_scene& s) {
    return std::any_of(s.rects.begin(), s.rects.end(),
                       [&](const scene_rect& r) { return inside(p, r); });
}

// Every coordinate finite; points and curves inside a panel's frame (the
// fitted curve in panel a's, rects[0]).
void expect_sound(const plot_scene& s) {
    auto finite = [](plot_point p) { return std::isfinite(p.x) && std::isfinite(p.y); };
    ASSERT_EQ(s.rects.size(), 4u);
    for (const auto& r : s.rects)
        EXPECT_TRUE(finite(r.corner) && r.width > 0 && r.height > 0 && std::isfinite(r.width));
    for (const auto& l : s.lines)
        EXPECT_TRUE(finite(l.from) && finite(l.to));
    for (const auto& t : s.texts)
        EXPECT_TRUE(finite(t.anchor) && t.size > 0) << t.text;
    for (std::size_t i = 0; i < s.markers.size(); ++i)
        for (const auto& p : s.markers[i].centres)
            EXPECT_TRUE(finite(p) && in_a_frame(p, s));
    for (const auto& l : s.polylines)
        for (const auto& p : l.points)
            EXPECT_TRUE(finite(p) && (l.dashed ? in_a_frame(p, s) : inside(p, s.rects[0])));
}

bool has_text(const plot_scene& s, const std::string& text) {
    return std::any_of(s.texts.begin(), s.texts.end(),
                       [&](const scene_text& t) { return t.text == text; });
}

TEST(NiceAxis, TicksAreFewRoundMultiplesInsideAGrownRange) {
    struct row {
        double low, high;
        int max_ticks;
    };
    const row rows[] = {
        {0, 10, 6},          {-3.7, 12.2, 5},        {1e-9, 3e-9, 5},
        {1e300, 1.7e308, 5}, {-DBL_MAX, DBL_MAX, 5}, {5, 5, 5},
        {0, 0, 5},           {1e15, 1e15 + 1, 4},    {nan, 1, 5},
        {-inf, inf, 5},      {4.9e-324, 1e-310, 5},  {12, -3, 2},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.low << " .. " << r.high);
        const axis_scale a = nice_axis(r.low, r.high, r.max_ticks);
        ASSERT_TRUE(std::isfinite(a.low) && std::isfinite(a.high) && a.low < a.high);
        if (std::isfinite(r.low) && std::isfinite(r.high)) {
            EXPECT_LE(a.low, std::min(r.low, r.high));
            EXPECT_GE(a.high, std::max(r.low, r.high));
        }
        EXPECT_GE(a.ticks.size(), 2u);
        EXPECT_LE(a.ticks.size(), std::size_t(r.max_ticks));
        const double mantissa = a.step / std::pow(10.0, std::floor(std::log10(a.step)));
        EXPECT_TRUE(std::fabs(mantissa - 1) < 1e-9 || std::fabs(mantissa - 2) < 1e-9 ||
                    std::fabs(mantissa - 5) < 1e-9)
            << a.step;
        for (double t : a.ticks) {
            EXPECT_TRUE(t >= a.low && t <= a.high) << t;
            EXPECT_NEAR(t / a.step, std::round(t / a.step), 1e-6) << t;
        }
    }
}

TEST(TickLabel, IsShortAndExact) {
    struct row {
        double value, step;
        const char* label;
    };
    const row rows[] = {
        {0.5, 0.5, "0.5"},    {1200, 200, "1200"},
        {2e6, 1e6, "2e6"},    {1.5e-7, 5e-8, "1.5e-7"},
        {-1e-10, 0.5, "0"},   {0.30000000000000004, 0.1, "0.3"},
        {-2.5, 0.5, "-2.5"},  {1e-4, 1e-4, "0.0001"},
        {5e-5, 1e-5, "5e-5"}, {1.2e300, 2e299, "1.2e300"},
        {3, 1, "3"},          {inf, 1, ""},
    };
    for (const row& r : rows)
        EXPECT_EQ(tick_label(r.value, r.step), r.label) << r.value;
}

// y = 2x + 1 with a small wiggle, and its fitted line.
plot_model small_linear_fit() {
    plot_model model({"linear", "y ~ x", "y", "x"}, plot_kind::data_and_curve);
    double x[20], y[20], fitted[20];
    for (int i = 0; i < 20; ++i) {
        x[i] = i * 0.5;
        fitted[i] = 2 * x[i] + 1;
        y[i] = fitted[i] + ((i % 3) - 1) * 0.4;
    }
    model.add_points(x, y, fitted, 20);
    model.set_curve([](double v) { return 2 * v + 1; });
    return model;
}

TEST(PlotScene, SmallFitHasPointsCurveAxesAndLabels) {
    const plot_model model = small_linear_fit();
    for (const auto& [w, h] : {std::pair{960.0, 480.0}, {400.0, 800.0}}) {
        const plot_scene s = model.scene(w, h);
        expect_sound(s);
        ASSERT_EQ(s.markers.size(), 2u);
        EXPECT_EQ(s.markers[0].centres.size(), 24u); // 20 rows and the 4 extremes
        ASSERT_EQ(s.polylines.size(), 1u);
        EXPECT_GE(s.polylines[0].points.size(), 201u);
        // The line runs from the first point's x to the last point's x.
        const auto& curve = s.polylines[0].points;
        const auto [left, right] =
            std::minmax_element(s.markers[0].centres.begin(), s.markers[0].centres.end(),
                                [](plot_point a, plot_point b) { return a.x < b.x; });
        EXPECT_NEAR(curve.front().x, left->x, 1e-9);
        EXPECT_NEAR(curve.back().x, right->x, 1e-9);
        EXPECT_GT(curve.front().y, curve.back().y); // rises (y grows downwards)
        for (const char* text : {"linear model: y ~ x", "y against x", "x", "y", "fitted",
                                 "residual", "residuals against fitted"})
            EXPECT_TRUE(has_text(s, text)) << text;
    }
    // Two by two, or one row or column when far wider or taller: each
    // panel's frame begins right of or below the one before it.
    struct layout {
        double width, height;
        int columns;
    };
    for (const layout& l : {layout{960, 720, 2}, layout{960, 480, 2}, layout{1600, 400, 4},
                            layout{300, 900, 1}, layout{500, 500, 2}}) {
        const plot_scene s = model.scene(l.width, l.height);
        int in_first_row = 1;
        for (std::size_t k = 1; k < 4; ++k)
            in_first_row += s.rects[k].corner.y < s.rects[0].corner.y + s.rects[0].height;
        EXPECT_EQ(in_first_row, l.columns) << l.width << " x " << l.height;
        for (const auto& r : s.rects)
            EXPECT_GE(std::min(r.width, r.height), l.columns == 2 ? 150 : 80);
    }
    EXPECT_EQ(model.window_title(), "trelvane plot: linear model");
}

TEST(PlotScene, SeveralPredictorsShowDiagonalAndZeroLine) {
    plot_model model({"linear", "y ~ a + b", "yield", ""}, plot_kind::observed_vs_fitted);
    const double y[] = {1, 4, 2, 8, 5};
    const double fitted[] = {1.5, 3.5, 2.5, 7, 5.5};
    model.add_points(nullptr, y, fitted, 5);
    const plot_scene s = model.scene(960, 480);
    expect_sound(s);
    const auto dashed =
        std::count_if(s.lines.begin(), s.lines.end(), [](const scene_line& l) { return l.dashed; });
    EXPECT_EQ(dashed, 2); // the diagonal and the zero line
    EXPECT_TRUE(has_text(s, "observed against fitted") && has_text(s, "yield"));
}

TEST(PlotScene, DegenerateDataGivesFiniteGeometry) {
    struct row {
        const char* name;
        std::vector<double> x, y, fitted;
        double (*curve)(double);
    };
    const row rows[] = {
        {"no rows", {}, {}, {}, nullptr},
        {"one point", {3}, {4}, {4}, [](double) { return 4.0; }},
        {"constant x", {2, 2, 2}, {1, 5, 3}, {3, 3, 3}, [](double) { return 3.0; }},
        {"not finite",
         {nan, 1, inf, 2, 3},
         {1, nan, 2, -inf, 3},
         {1, 1, nan, 2, 3},
         [](double v) { return v > 2 ? nan : v; }},
        {"huge",
         {-1.7e308, 0, 1.7e308},
         {1e308, -1e308, 1.7e308},
         {0, -1e308, 1e308},
         [](double v) { return v * 1e10; }},
        {"tiny",
         {1e-300, 2e-300, 3e-310},
         {1e-320, 0, 5e-324},
         {0, 0, 0},
         [](double v) { return v; }},
        {"curve far off", {0, 1, 2}, {0, 1, 2}, {0, 1, 2}, [](double v) { return 1 / (v - 1); }},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        plot_model model({"non-linear", "y ~ f(x)", "y", "x"}, plot_kind::data_and_curve);
        model.add_points(r.x.data(), r.y.data(), r.fitted.data(), r.x.size());
        // The same values as standardized residuals and leverages.
        model.add_influence(r.y.data(), r.x.data(), r.x.size());
        model.set_coefficients(2);
        if (r.curve)
            model.set_curve(r.curve);
        for (const auto& [w, h] : {std::pair{960.0, 480.0}, {30.0, 20.0}, {nan, 0.0}})
            expect_sound(model.scene(w, h));
    }
}

// Normal quantiles as standardized residuals lie on the Q-Q panel's
// diagonal; the leverage panel has Cook's contours at 0.5 and 1 (above and
// below zero), labelled.
TEST(PlotScene, InfluencePanelsShowQuantilesAndCooksContours) {
    plot_model model({"linear", "y ~ x", "y", "x"}, plot_kind::data_and_curve);
    constexpr int n = 50;
    std::vector<double> x(n), y(n), std(n), h(n);
    for (int i = 0; i < n; ++i) {
        x[i] = y[i] = i;
        h[i] = 0.02 + 0.3 * i / n;
    }
    // qnorm((i + 0.5) / 50), i = 0..49, from a table of its own: symmetric.
    const double upper[] = {0.02506891, 0.07526986, 0.12566135, 0.17637416, 0.22754498,
                            0.27931903, 0.33185335, 0.38532047, 0.43991317, 0.49585035,
                            0.55338472, 0.61281299, 0.67448975, 0.73884685, 0.80642125,
                            0.8778963,  0.95416525, 1.03643339, 1.12639113, 1.22652812,
                            1.34075503, 1.47579103, 1.64485363, 1.88079361, 2.32634787};
    for (int i = 0; i < 25; ++i) {
        std[25 + i] = upper[i];
        std[24 - i] = -upper[i];
    }
    model.add_points(x.data(), y.data(), y.data(), n);
    model.add_influence(std.data(), h.data(), n);
    model.set_coefficients(3);
    const plot_scene s = model.scene(960, 720);
    expect_sound(s);
    ASSERT_EQ(s.markers.size(), 4u);
    // On the diagonal: the same distance from the frame's bottom left corner
    // along both axes once scaled, so check the order and the symmetry.
    const auto& q = s.markers[2].centres;
    ASSERT_GE(q.size(), static_cast<std::size_t>(n));
    const scene_rect& frame = s.rects[2];
    for (int i = 0; i < n; ++i) {
        const double fx = (q[i].x - frame.corner.x) / frame.width;
        const double fy = (frame.corner.y + frame.height - q[i].y) / frame.height;
        const double mx = (q[n - 1 - i].x - frame.corner.x) / frame.width;
        EXPECT_NEAR(fx + mx, 1.0, 0.05) << i; // symmetric about the middle
        EXPECT_GT(fy, 0);
    }
    const auto dashed = std::count_if(s.polylines.begin(), s.polylines.end(),
                                      [](const scene_polyline& l) { return l.dashed; });
    EXPECT_GE(dashed, 2); // the contours that reach the frame
    for (const char* text : {"normal Q-Q of standardized residuals",
                             "standardized residuals against leverage", "leverage", "0.5", "1"})
        EXPECT_TRUE(has_text(s, text)) << text;
}

// Cook's contour labels of a fit with leverages near 1 (a high-degree
// polynomial), where the contours above and below zero meet: at every size
// their boxes (as laid out: right-aligned, baseline a fifth of the size up)
// stay inside the leverage panel's frame and clear of each other.
TEST(PlotScene, CooksContourLabelsNeverOverlap) {
    plot_model model({"curve-linear", "y ~ x", "y", "x"}, plot_kind::data_and_curve);
    constexpr int n = 40;
    std::vector<double> x(n), y(n), std(n), h(n);
    for (int i = 0; i < n; ++i) {
        x[i] = y[i] = i;
        std[i] = std::sin(i * 1.3) * 1.5;
        h[i] = i < 16 ? 0.999 - 0.002 * i : 0.1 + 0.6 * i / n;
    }
    model.add_points(x.data(), y.data(), y.data(), n);
    model.add_influence(std.data(), h.data(), n);
    model.set_coefficients(16);
    for (double width = 400; width <= 1400; width += 50) {
        const plot_scene s = model.scene(width, width * 0.75);
        const scene_rect& frame = s.rects[3];
        std::vector<scene_rect> boxes;
        for (const auto& t : s.texts) {
            if ((t.text != "0.5" && t.text != "1") || t.color.r != 205 || t.color.g != 60 ||
                !inside(t.anchor, frame))
                continue;
            const double w = estimated_text_width(t.text, t.size);
            scene_rect b;
            b.corner = {t.anchor.x - w, t.anchor.y - 0.8 * t.size};
            b.width = w;
            b.height = t.size;
            EXPECT_TRUE(inside(b.corner, frame) &&
                        inside({b.corner.x + w, b.corner.y + t.size}, frame))
                << t.text << " at " << width;
            for (const auto& o : boxes)
                EXPECT_FALSE(b.corner.x < o.corner.x + o.width && o.corner.x < b.corner.x + w &&
                             b.corner.y < o.corner.y + o.height && o.corner.y < b.corner.y + t.size)
                    << t.text << " at " << width;
            boxes.push_back(b);
        }
        EXPECT_GE(boxes.size(), 2u) << width; // the 0.5 contour's labels above and below
    }
}

TEST(QuantileSketch, BoundedWithTheExtremesAndTheMedianKept) {
    plot_model::quantile_sketch sketch;
    constexpr int n = 1000000;
    for (int i = 0; i < n; ++i)
        sketch.add(static_cast<double>((i * 7919LL) % n)); // 0..n-1 in a scrambled order
    EXPECT_EQ(sketch.count(), n);
    EXPECT_LE(sketch.kept(), 2 * plot_model::quantile_sketch::limit);
    const auto positions = sketch.positions();
    EXPECT_EQ(positions.front().second, 0);
    EXPECT_EQ(positions.back().second, n - 1);
    for (const auto& [p, value] : positions)
        EXPECT_NEAR(p, value / n, 0.002);
}

TEST(PointCloud, ThinsToTheGridAndKeepsTheExtremes) {
    // Sorted x makes the extent grow with nearly every point.
    plot_model::point_cloud cloud;
    constexpr int n = 1000000;
    for (int i = 0; i < n; ++i)
        cloud.add(i * 1e-3, std::sin(i * 1e-3) + (i == 777777 ? 50 : 0));
    constexpr auto cells = plot_model::point_cloud::grid_size * plot_model::point_cloud::grid_size;
    EXPECT_LE(cloud.kept(), cells);
    EXPECT_EQ(cloud.min_x(), 0);
    EXPECT_EQ(cloud.max_x(), (n - 1) * 1e-3);
    EXPECT_GT(cloud.max_y(), 49);
    const auto points = cloud.points();
    EXPECT_TRUE(std::any_of(points.begin(), points.end(), [](plot_point p) { return p.y > 49; }));
}

TEST(PlotScene, ManyRowsStreamedInBlocksKeepThePicturesExtent) {
    plot_model many({"linear", "y ~ x", "y", "x"}, plot_kind::data_and_curve);
    plot_model extremes_only({"linear", "y ~ x", "y", "x"}, plot_kind::data_and_curve);
    std::uint32_t state = 12345;
    auto noise = [&] { return (state = state * 1664525u + 1013904223u) / 4294967296.0 - 0.5; };
    constexpr std::size_t block = 10000;
    std::vector<double> x(block), y(block), fitted(block);
    for (int b = 0; b < 100; ++b) {
        for (std::size_t i = 0; i < block; ++i) {
            x[i] = 10 * noise();
            fitted[i] = 3 * x[i];
            y[i] = fitted[i] + noise();
        }
        many.add_points(x.data(), y.data(), fitted.data(), block);
    }
    // The rows that decide the extent, alone.
    const double ex[] = {-7, 6, 9, -12};
    const double ey[] = {-40, 45, 2, 0};
    const double ef[] = {-21, 18, 27, -36};
    many.add_points(ex, ey, ef, 4);
    extremes_only.add_points(ex, ey, ef, 4);
    EXPECT_EQ(many.rows(), 1000004);

    const plot_scene a = many.scene(960, 480);
    const plot_scene b = extremes_only.scene(960, 480);
    expect_sound(a);
    // Same frames and ticks: the same extent.
    ASSERT_EQ(a.texts.size(), b.texts.size());
    for (std::size_t i = 0; i < a.texts.size(); ++i)
        EXPECT_EQ(a.texts[i].text, b.texts[i].text);
    EXPECT_EQ(a.rects[0].corner.x, b.rects[0].corner.x);
    // Bounded by the drawing grid, and every extreme point drawn.
    for (std::size_t panel = 0; panel < 2; ++panel) {
        const scene_rect& f = a.rects[panel];
        const double r = a.markers[panel].radius;
        EXPECT_LE(a.markers[panel].centres.size(), (f.width / r + 1) * (f.height / r + 1) + 4);
        for (const plot_point& p : b.markers[panel].centres) {
            EXPECT_TRUE(std::any_of(a.markers[panel].centres.begin(),
                                    a.markers[panel].centres.end(), [&](plot_point q) {
                                        return std::fabs(p.x - q.x) < 1e-9 &&
                                               std::fabs(p.y - q.y) < 1e-9;
                                    }));
        }
    }
}

} // namespace
} // namespace models
