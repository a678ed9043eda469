// The picture of a fit, independent of where it is drawn.
//
// A plot_model collects the rows of a fitted model (streamed in blocks, kept
// within a bounded grid) and lays out, for any width x height, a scene of
// simple primitives: four panels, (a) the data with the fitted curve (one
// predictor) or observed against fitted with the diagonal (several
// predictors), (b) residuals against fitted values with the zero line,
// (c) a normal Q-Q plot of the standardized residuals with the line y = x,
// and (d) standardized residuals against leverage with Cook's distance
// contours at 0.5 and 1. Two by two, or in one row or column when the
// picture is far wider than tall or far taller than wide.
// The SVG writer and the window renderer draw the same scene.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace models {

// Logical coordinates: origin at the top left, y grows downwards.
struct plot_point {
    double x = 0;
    double y = 0;
};

struct plot_color {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
};

// Horizontal placement of a text relative to its anchor, along its direction.
enum class text_align { start, middle, end };

struct scene_rect {
    plot_point corner; // top left
    double width = 0;
    double height = 0;
    plot_color stroke;
    double stroke_width = 1;
};

struct scene_line {
    plot_point from;
    plot_point to;
    plot_color color;
    double width = 1;
    bool dashed = false;
};

// Filled circles of one size and colour.
struct scene_markers {
    std::vector<plot_point> centres;
    double radius = 2;
    plot_color fill;
};

struct scene_polyline {
    std::vector<plot_point> points;
    plot_color color;
    double width = 1;
    bool dashed = false;
};

// The anchor lies on the text's baseline. A vertical text reads from the
// bottom upwards (turned a quarter to the left about its anchor).
struct scene_text {
    plot_point anchor;
    std::string text; // UTF-8 (bytes that are no UTF-8 are read as Windows-1252)
    double size = 12; // font height in logical units
    text_align align = text_align::start;
    bool vertical = false;
    bool bold = false;
    plot_color color;
};

// Drawn in this order: background, rectangles, lines, markers, polylines,
// texts. Every coordinate is finite.
struct plot_scene {
    double width = 0;
    double height = 0;
    std::string title;
    plot_color background{255, 255, 255};
    std::vector<scene_rect> rects;
    std::vector<scene_line> lines;
    std::vector<scene_markers> markers;
    std::vector<scene_polyline> polylines;
    std::vector<scene_text> texts;
};

// An axis: its shown range and its ticks, multiples of a step of 1, 2 or 5
// times a power of ten, all inside [low, high].
struct axis_scale {
    double low = 0;
    double high = 1;
    double step = 0.5;
    std::vector<double> ticks;
};

// The axis for data from data_low to data_high (a little margin added; a
// single value is given a range around it) with at most max_ticks ticks.
// Non-finite bounds give the axis 0 to 1.
axis_scale nice_axis(double data_low, double data_high, int max_ticks);

// A tick's label, as short as the step allows: "0.5", "1200", "2e6", "1.5e-7".
std::string tick_label(double value, double step);

// Width of a text in logical units at a font size, estimated (the scene is
// laid out before it is drawn anywhere).
double estimated_text_width(const std::string& text, double size);

struct plot_labels {
    std::string model;     // "linear", "curve-linear", "non-linear", ...
    std::string formula;   // "y ~ x", "y ~ b1*(1-exp(-b2*x))"
    std::string response;  // the response column's name
    std::string predictor; // the predictor's column name (one predictor)
};

enum class plot_kind {
    data_and_curve,    // one predictor: y against x, with the fitted curve
    observed_vs_fitted // several predictors: y against fitted, with the diagonal
};

// Size of the SVG picture a program writes in batch.
constexpr double plot_default_width = 960;
constexpr double plot_default_height = 720;

class plot_model {
  public:
    plot_model(plot_labels labels, plot_kind kind);

    // The fitted model as a function of the predictor, drawn through the
    // whole range of x (data_and_curve only). Values that are not finite
    // break the curve.
    void set_curve(std::function<double(double)> curve);

    // One block of rows: x (may be null for observed_vs_fitted), observed y
    // and fitted values. A row with a value that is not finite is left out
    // of the panel that needs it. Memory stays bounded however many rows come.
    void add_points(const double* x, const double* y, const double* fitted, std::size_t count);

    // One block of rows' standardized residuals and leverages (rows whose
    // values are not finite are left out), and the number of coefficients
    // the Cook's distance contours are drawn for.
    void add_influence(const double* std_residual, const double* leverage, std::size_t count);
    void set_coefficients(int p) { coefficients_ = p; }

    // The picture at a size in logical units (pixels for a window).
    plot_scene scene(double width, double height) const;

    std::string title() const;        // "linear model: y ~ x"
    std::string window_title() const; // "trelvane plot: linear model"
    long long rows() const { return rows_; }
    long long skipped_rows() const { return skipped_; } // in neither panel

    // A grid keeping at most one point per cell, plus each axis's extreme
    // points, over an extent that grows as points arrive.
    class point_cloud {
      public:
        void add(double x, double y);
        bool empty() const { return !any_; }
        std::size_t kept() const { return points_.size(); }
        // The kept points and the four extreme points.
        std::vector<plot_point> points() const;
        double min_x() const { return min_x_.x; }
        double max_x() const { return max_x_.x; }
        double min_y() const { return min_y_.y; }
        double max_y() const { return max_y_.y; }

        static constexpr std::size_t exact_limit = 20000; // kept as given up to this count
        static constexpr std::size_t grid_size = 512;     // cells per axis when thinning

      private:
        void start_grid();
        void grow_to(double x, double y);
        void rebin();
        bool bin(plot_point p);

        std::vector<plot_point> points_;
        std::vector<std::uint32_t> cells_; // 1 + index into points_, 0 when empty
        bool gridded_ = false;
        double x0_ = 0, x1_ = 0, y0_ = 0, y1_ = 0; // the grid's extent
        bool any_ = false;
        plot_point min_x_, max_x_, min_y_, max_y_;
    };

    // Panel (b)'s points: fitted value, residual.
    const point_cloud& residual_points() const { return residuals_; }
    // What panel (a) draws.
    plot_kind kind() const { return kind_; }

    // A bounded summary of a sample's distribution for a Q-Q plot: every
    // value up to a limit, then pairs of neighbours merged (their weights
    // added), the smallest and largest value always kept exactly.
    class quantile_sketch {
      public:
        void add(double value);
        long long count() const { return count_; }
        // (cumulative probability at the value's plotting position, value),
        // in increasing order; positions (i - 1/2) / n, or (i - 3/8) / (n +
        // 1/4) for ten values or fewer.
        std::vector<std::pair<double, double>> positions() const;
        std::size_t kept() const { return items_.size(); }

        static constexpr std::size_t limit = 8192; // values kept before merging

      private:
        void compact();
        std::vector<std::pair<double, double>> items_; // value, weight
        long long count_ = 0;
        bool flip_ = false;
    };

  private:
    plot_labels labels_;
    plot_kind kind_;
    std::function<double(double)> curve_;
    point_cloud data_;             // panel (a)
    point_cloud residuals_;        // panel (b): fitted, residual
    quantile_sketch standardized_; // panel (c)
    point_cloud leverage_;         // panel (d): leverage, standardized residual
    int coefficients_ = 0;
    long long rows_ = 0;
    long long skipped_ = 0;
};

} // namespace models
