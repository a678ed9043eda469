// Best-subset regression: for every number of candidate predictors, the
// subset with the least residual sum of squares, found exactly by branch and
// bound over updates of a QR factor.
//
// Input is the upper-triangular factor R (m x m) of a QR decomposition of
// the design [forced columns | p candidates | y], m = forced + p + 1. Only
// the upper triangle of R is read (a packed QR may keep other data below the
// diagonal). Everything the search needs is in R, so its cost does not
// depend on the number of rows.
#pragma once

#include <Eigen/Dense>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace models {

struct subset {
    std::vector<int> terms; // 0-based candidate indices, ascending
    double rss = 0;
};

// What the progress callback is told now and then.
struct subset_progress {
    double fraction = 0;     // share of all 2^p - 1 subsets examined or ruled out
    std::uint64_t nodes = 0; // search nodes expanded so far
};

struct subset_options {
    int forced = 1; // leading columns in every model (1: the intercept; 0: none)
    // Called about every progress_seconds while the search runs (and every
    // 64 nodes when progress_seconds is 0); returning false stops
    // the search, which then reports the best subsets found so far.
    std::function<bool(const subset_progress&)> progress;
    double progress_seconds = 0.25;
};

enum class subset_status { ok, stopped, invalid_input };

struct subset_result {
    subset_status status = subset_status::invalid_input;
    std::string message;        // why the input was refused
    std::vector<subset> best;   // best[k - 1]: the best subset of size k = 1..p
    double forced_only_rss = 0; // RSS of the forced columns alone (size 0)
    double full_rss = 0;        // RSS of all candidates
    int candidates = 0;         // p
    std::uint64_t nodes = 0;    // search nodes expanded
};

subset_result best_subsets(const Eigen::MatrixXd& r, const subset_options& options = {});

} // namespace models
