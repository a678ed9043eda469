// Best-subset regression: for every number of candidate terms, the subsets
// with the least residual sum of squares, found exactly by branch and
// bound over updates of a QR factor.
//
// Input is the upper-triangular factor R (m x m) of a QR decomposition of
// the design [forced columns | candidate columns | y]. Only the upper
// triangle of R is read (a packed QR may keep other data below the
// diagonal). Everything the search needs is in R, so its cost does not
// depend on the number of rows.
//
// A candidate term is one column or a group of adjacent columns that enter
// and leave a model together (the columns of a categorical variable). The
// RSS of every subset reported is that of an exhaustive search to
// rounding; among subsets whose RSS ties within rounding, which one is
// reported may depend on the number of threads.
#pragma once

#include <Eigen/Dense>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace models {

struct subset {
    std::vector<int> terms; // 0-based candidate terms, ascending (forced-in ones included)
    double rss = 0;
    int columns = 0; // design columns of those terms
};

// What the progress callback is told now and then.
struct subset_progress {
    double fraction = 0;     // estimated share of the search done
    std::uint64_t nodes = 0; // search nodes expanded so far
};

struct subset_options {
    int forced = 1; // leading columns in every model (1: the intercept; 0: none)
    // Columns of each candidate term, in R's order after the forced
    // columns; empty: every candidate column is a term of its own.
    std::vector<int> widths;
    // Terms (0-based) in every model; they count in each subset's size.
    std::vector<int> force_in;
    int nbest = 1;   // subsets kept for each size
    int threads = 1; // threads searching; 0: one per core (one for small problems)
    // Called about every progress_seconds on the caller's thread while the
    // search runs; returning false stops the search, which then reports
    // the best subsets found so far.
    std::function<bool(const subset_progress&)> progress;
    double progress_seconds = 0.25;
};

enum class subset_status { ok, stopped, invalid_input };

struct subset_result {
    subset_status status = subset_status::invalid_input;
    std::string message; // why the input was refused
    // best[i]: the best subset with i + 1 terms beyond the forced-in ones
    // (empty terms when the search stopped before finding one).
    std::vector<subset> best;
    // listed[i]: up to nbest subsets of that size, best first.
    std::vector<std::vector<subset>> listed;
    double forced_only_rss = 0; // RSS of the forced columns alone
    double full_rss = 0;        // RSS of all candidates
    int candidates = 0;         // candidate terms, forced-in ones included
    int columns = 0;            // their design columns
    std::uint64_t nodes = 0;    // search nodes expanded
};

subset_result best_subsets(const Eigen::MatrixXd& r, const subset_options& options = {});

} // namespace models
