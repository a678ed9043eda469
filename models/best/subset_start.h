// A first good subset of every size, found quickly, so that a best-subset
// search cuts with sharp bounds from its first node: forward selection,
// then sequential replacement (each chosen candidate in turn swapped for
// the one outside that lowers the RSS most, until no swap helps).
//
// The choices are made on the cross-products R'R by reversible sweeps
// (cheap, not accurate on ill-conditioned designs); every subset returned
// then has its RSS computed from R by a QR of its own columns, so that a
// bound taken from it is as exact as the search's own. Subsets with a
// nearly aliased column are left out.
#pragma once

#include "subsets.h"

#include <Eigen/Dense>

#include <vector>

namespace models {

// r: the upper triangle of [forced | p candidates | y] as in best_subsets.
// Returns at most one subset per size 1..p (candidate ids ascending).
std::vector<subset> replacement_start(const Eigen::MatrixXd& r, int forced, int p);

// The RSS of y on the forced columns and the given candidates, from R by a
// QR of those columns; NaN when a column is nearly aliased (its sine to the
// span of the others below `min_sine`).
double rss_from_r(const Eigen::MatrixXd& r, int forced, const std::vector<int>& candidates,
                  double min_sine);

} // namespace models
