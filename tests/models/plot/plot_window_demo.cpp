// Shows the plot window with a sample fit, or writes the sample's SVG, for
// the end-to-end test under Wine and for a look at the picture.
//
//   plot_window_demo show linear|curve|several|many [times]
//       shows the window `times` times (default 1), one after the other, and
//       prints "closed <k>" when the k-th one was closed
//   plot_window_demo svg linear|curve|several|many FILE.svg
//       writes the picture; on failure prints the reason and exits 1

#include "plot_window.h"
#include "svg_writer.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using models::plot_kind;
using models::plot_model;

// Noise from -0.5 to 0.5, the same on every run.
double wiggle(int i) {
    const double v = std::sin(i * 12.9898 + 78.233) * 43758.5453;
    return v - std::floor(v) - 0.5;
}

plot_model sample(const char* kind) {
    const bool several = std::strcmp(kind, "several") == 0;
    const bool curve = std::strcmp(kind, "curve") == 0;
    const bool many = std::strcmp(kind, "many") == 0;
    plot_model model({curve ? "non-linear" : "linear",
                      curve     ? "growth ~ b1*(1-exp(-b2*dose))"
                      : several ? "yield ~ rain + sun + soil"
                                : "weight ~ height",
                      curve     ? "growth"
                      : several ? "yield"
                                : "weight",
                      curve ? "dose" : "height"},
                     several ? plot_kind::observed_vs_fitted : plot_kind::data_and_curve);
    const auto f = [curve](double x) {
        return curve ? 12 * (1 - std::exp(-0.35 * x)) : 0.9 * x - 95;
    };
    const int rows = many ? 1000000 : 60;
    const auto x_of = [&](int i) {
        return curve ? i * 0.25 : 150 + (many ? (i % 9973) * 0.005 : i * 0.8);
    };
    // The leverages of a straight line through these x: 1/n + (x - mean)^2 / Sxx.
    double mean = 0, sxx = 0;
    for (int i = 0; i < rows; ++i)
        mean += x_of(i) / rows;
    for (int i = 0; i < rows; ++i)
        sxx += (x_of(i) - mean) * (x_of(i) - mean);
    const double noise = (curve ? 1.2 : 6) / std::sqrt(12.0);
    std::vector<double> x, y, fitted, standardized, leverage;
    const auto flush = [&] {
        model.add_points(x.data(), y.data(), fitted.data(), x.size());
        model.add_influence(standardized.data(), leverage.data(), x.size());
        x.clear(), y.clear(), fitted.clear(), standardized.clear(), leverage.clear();
    };
    for (int i = 0; i < rows; ++i) {
        x.push_back(x_of(i));
        fitted.push_back(f(x.back()) + (several ? wiggle(i + 7) * 4 : 0));
        y.push_back(fitted.back() + wiggle(i) * (curve ? 1.2 : 6));
        leverage.push_back(1.0 / rows + (x.back() - mean) * (x.back() - mean) / sxx);
        standardized.push_back((y.back() - fitted.back()) /
                               (noise * std::sqrt(1 - leverage.back())));
        if (x.size() == 10000) // streamed in blocks
            flush();
    }
    flush();
    model.set_coefficients(2);
    if (!several)
        model.set_curve(f);
    return model;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "show") == 0) {
        const plot_model model = sample(argv[2]);
        const int times = argc >= 4 ? std::atoi(argv[3]) : 1;
        for (int k = 1; k <= times; ++k) {
            if (models::show_plot_window(model) != 0) {
                std::printf("no window\n");
                return 1;
            }
            std::printf("closed %d\n", k);
            std::fflush(stdout);
        }
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "svg") == 0) {
        const plot_model model = sample(argv[2]);
        const auto written = models::write_svg_file(
            argv[3], model.scene(models::plot_default_width, models::plot_default_height));
        if (!written.ok) {
            std::printf("%s\n", written.error.c_str());
            return 1;
        }
        return 0;
    }
    std::printf("usage: plot_window_demo show|svg linear|curve|several|many [times|FILE.svg]\n");
    return 2;
}
