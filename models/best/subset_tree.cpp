// Best subsets of single columns by branch and bound on a tree of
// column-dropping QR updates.
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
// node is cut as soon as RSS(S) is no better than the bound of each of
// those sizes. Before its children are made, a node sorts its free
// candidates by how much the RSS grows when each alone is dropped (largest
// first). Then the leading models are the strongest ones, and the children
// with the largest subtrees (dropping an early, strong candidate) have the
// highest bounds and are cut most often. Those growths are known before any
// child is built (from the inverse of the free block), so most cut children
// cost nothing to rule out.
//
// Subtrees are independent but for the incumbents, so worker threads share
// the tree (subset_pool.h) and the incumbents (subset_incumbents.h).
#include "subset_pool.h"
#include "subset_search.h"

#include <Eigen/Jacobi>

#include <algorithm>
#include <cmath>
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
    MatrixXd block;   // (m + 1) x (m + 1), upper triangular; last column is y
    double rss = 0;   // RSS of all of vars
    double share = 1; // this subtree's share of the whole tree, for progress
};

// A free column is aliased when its diagonal is below this share of its
// full length: exact collinearity leaves rounding noise of about 1e-15
// there, far below it.
constexpr double aliased_sine = 1e-10;

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
bool drop_growths(const MatrixXd& b, int m, MatrixXd& inv, VectorXd& growth, double& min_sine) {
    min_sine = 1;
    for (int i = 0; i < m; ++i) {
        const double norm = b.col(i).head(i + 1).norm();
        const double sine = norm > 0 ? std::abs(b(i, i)) / norm : 0;
        min_sine = std::min(min_sine, sine);
    }
    if (!(min_sine > 1e-6))
        return false;
    // The inverse of the upper-triangular U is upper triangular: column j
    // solves the leading (j + 1) x (j + 1) triangle against e_j by
    // column-oriented back substitution (backward stable; with every sine
    // above the threshold the free block is well enough conditioned for
    // these to be good orderings and, with the caller's margin, safe
    // bounds). Written out: the blocks are small, and a library call per
    // column costs more than the arithmetic.
    inv.setZero(m, m);
    for (int j = 0; j < m; ++j) {
        double* x = &inv(0, j);
        x[j] = 1;
        for (int l = j; l >= 0; --l) {
            const double xl = x[l] / b(l, l);
            x[l] = xl;
            const double* u = &b(0, l);
            for (int i = 0; i < l; ++i)
                x[i] -= xl * u[i];
        }
    }
    growth.resize(m);
    const auto z = b.col(b.cols() - 1).head(m);
    for (int i = 0; i < m; ++i) {
        const double beta = inv.row(i).tail(m - i).dot(z.tail(m - i));
        const double w = inv.row(i).tail(m - i).squaredNorm();
        growth[i] = w > 0 ? beta * beta / w : 0;
    }
    return true;
}

// What one worker keeps between nodes.
struct worker_state {
    std::vector<node> spare;
    VectorXd growth;
    MatrixXd inverse;
    MatrixXd work;
    MatrixXd gram_inverse;     // M = (U'U)^-1 of the free block
    std::vector<double> scale; // joint_drop_scales
    std::vector<double> row_sum;
    std::vector<double> suffix;          // sums of the smallest growths
    std::vector<int> order;              // sort_free's permutation
    std::vector<int> kept;               // children not ruled out
    std::vector<double> unit;            // 1 / sqrt(M_ii), sorted order
    std::atomic<std::uint64_t> nodes{0}; // read by the progress report
};

class column_tree {
  public:
    column_tree(incumbents& best, std::vector<double> norms, work_pool<node>& pool)
        : best_(best), norms_(std::move(norms)), pool_(pool), states_(pool.workers()) {}

    void work(int w) {
        worker_state& state = states_[w];
        node current;
        while (pool_.take(w, current)) {
            if (current.rss >= best_.bound_over(current.k + 1, current.k + current.m))
                pool_.add_done(w, current.share);
            else
                expand(state, w, current);
            state.spare.push_back(std::move(current));
            current = node{};
            pool_.finished();
        }
    }

    std::uint64_t nodes() const {
        std::uint64_t sum = 0;
        for (const worker_state& s : states_)
            sum += s.nodes.load(std::memory_order_relaxed);
        return sum;
    }

    // A free candidate whose column lies (within rounding) in the span of
    // the fixed and earlier free ones adds no direction to any model, and
    // the entry of y in its row then belongs to an arbitrary direction, not
    // to the fit. Such candidates move to the end of the free order, their
    // part on and below the diagonal becomes exactly zero, and y's entries
    // in their rows join the residual. Returns the number of independent
    // free candidates, which come first.
    int set_aside_aliased(node& n) const {
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

  private:
    void expand(worker_state& s, int w, node& n) {
        s.nodes.store(s.nodes.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        const int free = set_aside_aliased(n);
        const int m = n.m;
        double min_sine = 0;
        const bool known = free >= 2 && drop_growths(n.block, free, s.inverse, s.growth, min_sine);
        if (known)
            sort_free(s, n, free);
        record_leading(n);
        // Growths are drop-one values of the independent candidates; with
        // aliased ones beside them, dropping one may cost nothing (an
        // aliased one takes its place), so only the node's RSS bounds then.
        // Bounds from growths carry rounding from the inverse; a child is
        // only ruled out here when its bound clears the incumbent by a
        // margin well above that error. Children let through are checked
        // again with their exact RSS when taken.
        const bool sharp = known && free == m;
        const double z2 = n.block.col(m).head(m).squaredNorm();
        const double margin = sharp ? 1e-9 * (z2 + n.rss) / (min_sine * min_sine) : 0;
        if (sharp)
            joint_drop_scales(s, m);
        s.kept.clear();
        for (int c = 0; c + 1 < m; ++c) {
            const int lo = n.k + c + 1;
            const int hi = n.k + m - 1;
            const double bound = n.rss + (sharp ? s.growth[c] : 0);
            if (bound - margin >= best_.bound_over(lo, hi) ||
                (sharp && sizes_ruled_out(s, n, c, margin)))
                continue;
            s.kept.push_back(c);
        }
        const double unit = kept_share(n.share, s.kept.size());
        pool_.add_done(w, unit);
        for (int c : s.kept) {
            node child = make_child(s, n, c);
            child.share = unit;
            pool_.push(w, std::move(child));
        }
    }

    // Dropping a set D of free candidates raises the RSS by
    // b_D' (M_DD)^-1 b_D, with b the coefficients and M = (U'U)^-1; that is
    // at least the sum of their single growths over the largest eigenvalue
    // of M_DD scaled to a unit diagonal, and Gershgorin bounds that
    // eigenvalue by a row's absolute sum. For each c, scale[c] bounds it for
    // every D among the free candidates from c on (the ones a child that
    // drops c can still drop). With little correlation it is near 1 and the
    // bound is near the sum of the growths: far sharper, for small models,
    // than the largest single growth. The growths must be sorted, and the
    // inverse in the sorted order.
    static void joint_drop_scales(worker_state& s, int m) {
        // The inverse is in the order before sorting: order[i] is where
        // sorted candidate i stood.
        const auto v = s.inverse.topLeftCorner(m, m);
        s.gram_inverse.noalias() = v.triangularView<Eigen::Upper>() * v.transpose();
        const MatrixXd& g = s.gram_inverse;
        s.scale.assign(m, 1.0);
        s.row_sum.assign(m, 0.0);
        s.suffix.assign(m + 1, 0.0);
        s.unit.resize(m);
        for (int i = m - 1; i >= 0; --i) {
            s.suffix[i] = s.suffix[i + 1] + s.growth[i];
            s.unit[i] = 1 / std::sqrt(g(s.order[i], s.order[i]));
        }
        // Row sums over columns c..m-1, for c from the last down; scale[c]
        // is the largest of rows c..m-1.
        double largest = 0;
        for (int c = m - 1; c >= 0; --c) {
            const double* column = &g(0, s.order[c]);
            s.row_sum[c] += 1;
            for (int i = c + 1; i < m; ++i) {
                const double entry = std::abs(column[s.order[i]]) * s.unit[i] * s.unit[c];
                s.row_sum[i] += entry;
                s.row_sum[c] += entry;
            }
            for (int i = c; i < m; ++i)
                largest = std::max(largest, s.row_sum[i]);
            s.scale[c] = largest;
        }
    }

    // Whether every size of child c is ruled out by the joint bound above:
    // a model of size `size` below that child drops c and n - 1 - size of
    // the candidates after it, at least the ones with the smallest growths.
    bool sizes_ruled_out(const worker_state& s, const node& n, int c, double margin) const {
        const int m = n.m;
        for (int size = n.k + c + 1; size <= n.k + m - 1; ++size) {
            const int others = n.k + m - 1 - size;
            const double joint = (s.growth[c] + s.suffix[m - others]) / s.scale[c];
            if (n.rss + std::max(s.growth[c], joint) - margin < best_.bound(size))
                return false;
        }
        return true;
    }

    // Insertion sort of the free candidates, largest growth first, by
    // adjacent swaps: the order inherited from the parent is nearly sorted
    // already, so few rotations are needed.
    static void sort_free(worker_state& s, node& n, int free) {
        s.order.resize(free);
        for (int i = 0; i < free; ++i)
            s.order[i] = i;
        for (int i = 1; i < free; ++i) {
            for (int j = i; j > 0 && s.growth[j] > s.growth[j - 1]; --j) {
                swap_adjacent(n.block, j - 1);
                std::swap(s.growth[j], s.growth[j - 1]);
                std::swap(s.order[j], s.order[j - 1]);
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
            best_.offer(size, rss, n.vars.data());
            const double entry = n.block(j - 1, n.m);
            rss += entry * entry;
        }
    }

    // The child that drops free candidate c: the block without column c is
    // upper Hessenberg from row c on; rotations restore the triangle, and
    // the child keeps the part below the candidates it fixes.
    static node make_child(worker_state& s, const node& n, int c) {
        const int m = n.m;
        const int q = m - c; // child block size: m - c - 1 free, and y
        s.work = n.block.block(c, c + 1, q + 1, q);
        for (int i = 0; i + 1 < q; ++i)
            rotate_rows(s.work, i, i);
        node child;
        if (!s.spare.empty()) {
            child = std::move(s.spare.back());
            s.spare.pop_back();
        }
        child.k = n.k + c;
        child.m = q - 1;
        child.vars.assign(n.vars.begin(), n.vars.end());
        child.vars.erase(child.vars.begin() + n.k + c);
        child.block = s.work.topRows(q);
        // y's last two entries hold the child's RSS between them.
        const double last = std::hypot(s.work(q - 1, q - 1), s.work(q, q - 1));
        child.block(q - 1, q - 1) = last;
        child.rss = last * last;
        return child;
    }

    incumbents& best_;
    std::vector<double> norms_; // each candidate's column length
    work_pool<node>& pool_;
    std::vector<worker_state> states_;
};

} // namespace

search_outcome search_columns(const search_setup& setup, incumbents& best) {
    const MatrixXd& r = *setup.r;
    const int f = setup.forced;
    const int p = static_cast<int>(setup.widths.size());
    const Index size = r.rows();
    search_outcome out;
    node root;
    root.m = p;
    root.block = r.bottomRightCorner(p + 1, p + 1).triangularView<Eigen::Upper>();
    root.rss = r(size - 1, size - 1) * r(size - 1, size - 1);
    root.vars.resize(p);
    for (int i = 0; i < p; ++i)
        root.vars[i] = i;
    std::vector<double> norms(p);
    for (int j = 0; j < p; ++j)
        norms[j] = r.col(f + j).head(f + j + 1).norm();

    work_pool<node> pool(setup.threads);
    column_tree tree(best, std::move(norms), pool);
    tree.set_aside_aliased(root);
    out.full_rss = root.rss;
    pool.push(0, std::move(root));
    pool.run([&](int w) { tree.work(w); }, *setup.options, [&] { return tree.nodes(); });
    out.stopped = pool.stopped();
    out.nodes = tree.nodes();
    return out;
}

} // namespace models
