// The searches behind best_subsets (internal): one over single columns, a
// tree of QR updates run on several threads, and one over terms that are
// groups of columns. Both take R with the forced columns (the intercept and
// any forced-in terms) first and report into shared incumbents.
#pragma once

#include "subset_incumbents.h"
#include "subsets.h"

#include <Eigen/Dense>

#include <cstdint>
#include <vector>

namespace models {

struct search_setup {
    const Eigen::MatrixXd* r = nullptr; // upper triangle: [forced | candidate columns | y]
    int forced = 0;                     // forced columns
    std::vector<int> widths;            // columns of each candidate, in R's order
    int threads = 1;
    const subset_options* options = nullptr; // progress
};

struct search_outcome {
    bool stopped = false;
    std::uint64_t nodes = 0;
    double full_rss = 0; // every candidate, aliased ones set aside
};

// Every width 1.
search_outcome search_columns(const search_setup& setup, incumbents& best);
// Any widths.
search_outcome search_groups(const search_setup& setup, incumbents& best);

} // namespace models
