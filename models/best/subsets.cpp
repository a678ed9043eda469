// Best subsets by branch and bound on a tree of column-dropping QR updates.
//
// A search node is an ordered set of candidates S = (s_1..s_n) of which the
// first k are fixed (in every model below the node) and the other m = n - k
// are free. Only the trailing (m + 1) x (m + 1) block of R for S is kept:
// the fixed columns are already projected out of it, and its last column
// holds y. From that block come, at no cost, the RSS of the "leading" models
// (s_1..s_j) for j = k+1..n: the RSS of all of S plus the squares of y's
// entries below row j. The children of a node drop one free candidate
// s_{k+c+1} (c = 0..m-2) and fix the ones before it, so that every subset is
// a leading model of exactly one node.
//
// Every model below a node is a subset of S and contains its fixed part, so
// its RSS is at least RSS(S); a node's models have k+1..n candidates, and a
// node is cut as soon as RSS(S) is no better than the best RSS found so far
// for each of those sizes. Before its children are made, a node sorts its
// free candidates by how much the RSS grows when each alone is dropped
// (largest first). Then the leading models are the strongest ones, and the
// children with the largest subtrees (dropping an early, strong candidate)
// have the highest bounds and are cut most often. Those growths are known
// before any child is built (from the inverse of the free block), so most
// cut children cost nothing to rule out.
#include "subsets.h"

#include <Eigen/Jacobi>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <utility>

namespace models {
namespace {

using Eigen::Index;
using Eigen::MatrixXd;
using Eigen::VectorXd;

struct node {
    std::vector<int> vars; // candidate ids: k fixed, then the m free in block order
    int k = 0;
    int m = 0;
    MatrixXd block; // (m + 1) x (m + 1), upper triangular; last column is y
    double rss = 0; // RSS of all of vars
};

// Zeroes b(row + 1, col) against b(row, col) with a Givens rotation of those
// two rows, applied to the columns from col on (the ones to the left are zero
// in both rows). Eigen's rotation handles a zero pair without dividing.
void rotate_rows(MatrixXd& b, Index row, Index col) {
    Eigen::JacobiRotation<double> g;
    g.makeGivens(b(row, col), b(row + 1, col));
    b.rightCols(b.cols() - col).applyOnTheLeft(row, row + 1, g.adjoint());
    b(row + 1, col) = 0;
}

// Swaps free columns j and j + 1 of an upper-triangular block and restores
// the triangle with one rotation.
void swap_adjacent(MatrixXd& b, Index j) {
    b.col(j).swap(b.col(j + 1));
    rotate_rows(b, j, j);
}

// How much the RSS of the node's set grows when free candidate i alone is
// dropped: beta_i^2 / [(U'U)^-1]_ii with U the free block, i.e. the squared
// component of y along the direction that only candidate i adds. Returns
// false (values unknown) when a free column is nearly a combination of the
// ones before it: the inverse would then be inaccurate or not exist, and the
// caller falls back on the node's own RSS as the bound, which is always
// valid. min_sine receives the smallest sine of the angle between a free
// column and the span of the earlier ones. Only the first m free columns
// are looked at; y is the block's last column.
bool drop_growths(const MatrixXd& b, int m, VectorXd& growth, double& min_sine) {
    min_sine = 1;
    for (int i = 0; i < m; ++i) {
        const double norm = b.col(i).head(i + 1).norm();
        const double sine = norm > 0 ? std::abs(b(i, i)) / norm : 0;
        min_sine = std::min(min_sine, sine);
    }
    if (!(min_sine > 1e-6))
        return false;
    const auto u = b.topLeftCorner(m, m).triangularView<Eigen::Upper>();
    // A triangular solve is backward stable; with every sine above the
    // threshold the free block is well enough conditioned for these to be
    // good orderings and (with the caller's margin) safe bounds.
    MatrixXd inv = MatrixXd::Identity(m, m);
    u.solveInPlace(inv);
    const VectorXd beta = inv * b.col(b.cols() - 1).head(m);
    growth.resize(m);
    for (int i = 0; i < m; ++i) {
        const double w = inv.row(i).squaredNorm();
        growth[i] = w > 0 ? beta[i] * beta[i] / w : 0;
    }
    return true;
}

class search {
  public:
    search(const subset_options& options, int p, std::vector<double> norms)
        : options_(options), norms_(std::move(norms)) {
        best_.assign(p, subset{{}, std::numeric_limits<double>::infinity()});
        total_ = std::ldexp(1.0, p) - 1;
        last_call_ = clock::now();
    }

    // Runs the search from the root block; false when stopped by the caller.
    // Returns the RSS of all candidates, corrected for aliased ones.
    bool run(node root, double& full_rss) {
        set_aside_aliased(root);
        full_rss = root.rss;
        stack_.push_back(std::move(root));
        while (!stack_.empty()) {
            node current = std::move(stack_.back());
            stack_.pop_back();
            if (current.rss >= best_over(current.k + 1, current.k + current.m)) {
                done_ += subtree_models(current.m);
            } else {
                expand(current);
            }
            recycle(std::move(current));
            if (!report_progress())
                return false;
        }
        return true;
    }

    std::vector<subset>& best() { return best_; }
    std::uint64_t nodes() const { return nodes_; }

  private:
    using clock = std::chrono::steady_clock;

    void expand(node& n) {
        ++nodes_;
        const int free = set_aside_aliased(n);
        const int m = n.m;
        double min_sine = 0;
        const bool known = free >= 2 && drop_growths(n.block, free, growth_, min_sine);
        if (known)
            sort_free(n, free);
        record_leading(n);
        done_ += m;
        // Growths are drop-one values of the independent candidates; with
        // aliased ones beside them, dropping one may cost nothing (an
        // aliased one takes its place), so only the node's RSS bounds then.
        // Bounds from growths carry rounding from the inverse; a child is
        // only ruled out here when its bound clears the best RSS by a margin
        // well above that error. Children let through are checked again
        // with their exact RSS when taken from the stack.
        const bool sharp = known && free == m;
        const double z2 = n.block.col(m).head(m).squaredNorm();
        const double margin = sharp ? 1e-9 * (z2 + n.rss) / (min_sine * min_sine) : 0;
        for (int c = 0; c + 1 < m; ++c) {
            const int lo = n.k + c + 1;
            const int hi = n.k + m - 1;
            const double bound = n.rss + (sharp ? growth_[c] : 0);
            if (bound - margin >= best_over(lo, hi)) {
                done_ += subtree_models(m - c - 1);
                continue;
            }
            stack_.push_back(make_child(n, c));
        }
    }

    // A free candidate whose column lies (within rounding) in the span of
    // the fixed and earlier free ones adds no direction to any model, and
    // the entry of y in its row then belongs to an arbitrary direction, not
    // to the fit. Such candidates move to the end of the free order, their
    // part on and below the diagonal becomes exactly zero, and y's entries
    // in their rows join the residual. Returns the number of independent
    // free candidates, which come first.
    int set_aside_aliased(node& n) {
        const int m = n.m;
        int independent = m;
        for (int j = 0; j < independent;) {
            if (std::abs(n.block(j, j)) > aliased_sine * norms_[n.vars[n.k + j]]) {
                ++j;
                continue;
            }
            n.block.col(j).segment(j, m + 1 - j).setZero();
            for (int i = j; i + 1 < m; ++i) {
                swap_adjacent(n.block, i);
                std::swap(n.vars[n.k + i], n.vars[n.k + i + 1]);
            }
            --independent;
        }
        if (independent < m) {
            n.block(m, m) = n.block.col(m).segment(independent, m + 1 - independent).norm();
            n.block.col(m).segment(independent, m - independent).setZero();
            n.rss = n.block(m, m) * n.block(m, m);
        }
        return independent;
    }

    // Insertion sort of the free candidates, largest growth first, by
    // adjacent swaps: the order inherited from the parent is nearly sorted
    // already, so few rotations are needed.
    void sort_free(node& n, int free) {
        for (int i = 1; i < free; ++i) {
            for (int j = i; j > 0 && growth_[j] > growth_[j - 1]; --j) {
                swap_adjacent(n.block, j - 1);
                std::swap(growth_[j], growth_[j - 1]);
                std::swap(n.vars[n.k + j], n.vars[n.k + j - 1]);
            }
        }
    }

    // The leading models s_1..s_j, j = k+1..n: RSS(S) plus the squares of
    // y's entries below row j of the block (a sum of squares, no
    // cancellation).
    void record_leading(const node& n) {
        double rss = n.rss;
        for (int j = n.m; j >= 1; --j) {
            const int size = n.k + j;
            if (rss < best_[size - 1].rss) {
                subset& s = best_[size - 1];
                s.rss = rss;
                s.terms.assign(n.vars.begin(), n.vars.begin() + size);
                std::sort(s.terms.begin(), s.terms.end());
            }
            const double entry = n.block(j - 1, n.m);
            rss += entry * entry;
        }
    }

    // The child that drops free candidate c: the block without column c is
    // upper Hessenberg from row c on; rotations restore the triangle, and
    // the child keeps the part below the candidates it fixes.
    node make_child(const node& n, int c) {
        const int m = n.m;
        const int q = m - c; // child block size: m - c - 1 free, and y
        work_ = n.block.block(c, c + 1, q + 1, q);
        for (int i = 0; i + 1 < q; ++i)
            rotate_rows(work_, i, i);
        node child = fresh();
        child.k = n.k + c;
        child.m = q - 1;
        child.vars.assign(n.vars.begin(), n.vars.end());
        child.vars.erase(child.vars.begin() + n.k + c);
        child.block = work_.topRows(q);
        // y's last two entries hold the child's RSS between them.
        const double last = std::hypot(work_(q - 1, q - 1), work_(q, q - 1));
        child.block(q - 1, q - 1) = last;
        child.rss = last * last;
        return child;
    }

    double best_over(int lo, int hi) const {
        double worst = -std::numeric_limits<double>::infinity();
        for (int s = lo; s <= hi; ++s)
            worst = std::max(worst, best_[s - 1].rss);
        return worst;
    }

    // Models below a node with m free candidates: 2^m - 1.
    static double subtree_models(int m) { return std::ldexp(1.0, m) - 1; }

    node fresh() {
        if (spare_.empty())
            return node{};
        node n = std::move(spare_.back());
        spare_.pop_back();
        return n;
    }
    void recycle(node n) { spare_.push_back(std::move(n)); }

    bool report_progress() {
        if (!options_.progress || (++steps_ & 63) != 0)
            return true;
        const auto now = clock::now();
        if (std::chrono::duration<double>(now - last_call_).count() < options_.progress_seconds)
            return true;
        last_call_ = now;
        subset_progress p;
        p.fraction = total_ > 0 ? std::min(1.0, done_ / total_) : 1.0;
        p.nodes = nodes_;
        return options_.progress(p);
    }

    // A free column is aliased when its diagonal is below this share of
    // its full length: exact collinearity leaves rounding noise of about
    // 1e-15 there, far below it.
    static constexpr double aliased_sine = 1e-10;

    const subset_options& options_;
    std::vector<double> norms_; // each candidate's column length
    std::vector<subset> best_;
    std::vector<node> stack_;
    std::vector<node> spare_;
    VectorXd growth_;
    MatrixXd work_;
    std::uint64_t nodes_ = 0;
    std::uint64_t steps_ = 0;
    double done_ = 0;
    double total_ = 0;
    clock::time_point last_call_;
};

subset_result refuse(std::string message) {
    subset_result r;
    r.status = subset_status::invalid_input;
    r.message = std::move(message);
    return r;
}

} // namespace

subset_result best_subsets(const MatrixXd& r, const subset_options& options) {
    const Index size = r.rows();
    const int f = options.forced;
    if (r.cols() != size)
        return refuse("R is not square");
    if (f < 0 || size < f + 1)
        return refuse("R is smaller than the forced columns and y");
    const MatrixXd upper = r.triangularView<Eigen::Upper>();
    if (!upper.allFinite())
        return refuse("R holds a value that is not finite");

    const int p = static_cast<int>(size) - f - 1;
    subset_result result;
    result.candidates = p;
    result.forced_only_rss = upper.col(size - 1).segment(f, p + 1).squaredNorm();
    result.full_rss = upper(size - 1, size - 1) * upper(size - 1, size - 1);
    result.status = subset_status::ok;
    if (p == 0)
        return result;

    node root;
    root.m = p;
    root.block = upper.bottomRightCorner(p + 1, p + 1);
    root.rss = result.full_rss;
    root.vars.resize(p);
    for (int i = 0; i < p; ++i)
        root.vars[i] = i;

    std::vector<double> norms(p);
    for (int j = 0; j < p; ++j)
        norms[j] = upper.col(f + j).head(f + j + 1).norm();
    search s(options, p, std::move(norms));
    if (!s.run(std::move(root), result.full_rss))
        result.status = subset_status::stopped;
    result.best = std::move(s.best());
    result.nodes = s.nodes();
    return result;
}

} // namespace models
