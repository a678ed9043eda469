// Best subsets of terms that are groups of columns, by branch and bound.
//
// The tree is the one of subset_tree.cpp, over terms: a node is an ordered
// set of terms S of which the first k are fixed; its leading models (the
// first j terms, j > k) are recorded, and its children drop one free term
// and fix the ones before it. Each node factorises its own columns afresh
// from R (a Householder QR whose rank grows only on columns that add a
// direction, so that aliased columns, such as an interaction cell that the
// main effects already span, count for nothing). That costs more per node
// than the single-column tree's updates, and is exact whatever the groups.
// The free terms are ordered by how much RSS each adds in turn, largest
// first, so that the leading models are strong and the largest subtrees
// are the ones cut.
#include "subset_pool.h"
#include "subset_search.h"

#include <Eigen/Householder>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numeric>

namespace models {
namespace {

using Eigen::Index;
using Eigen::MatrixXd;
using Eigen::VectorXd;

// A column adds no direction when what is left of it after the columns
// before it is below this share of its length (as in subset_tree.cpp).
constexpr double aliased_sine = 1e-10;

struct group_node {
    std::vector<int> terms; // k fixed, then the free ones in order
    int k = 0;
    double rss_bound = 0; // the parent's RSS: no model below is better
    double share = 1;
};

class group_tree {
  public:
    group_tree(const search_setup& setup, incumbents& best, work_pool<group_node>& pool)
        : r_(setup.r->triangularView<Eigen::Upper>()), forced_(setup.forced), widths_(setup.widths),
          best_(best), pool_(pool), nodes_(new counter[pool.workers()]) {
        for (int t = 0, c = forced_; t < static_cast<int>(widths_.size()); c += widths_[t++])
            first_.push_back(c);
    }

    // RSS after the forced columns and each term of `terms` in turn
    // (after[i]: the first i + 1 terms); returns the RSS of them all.
    double factorise(const std::vector<int>& terms, std::vector<double>& after) const {
        std::vector<Index> cols(forced_);
        std::iota(cols.begin(), cols.end(), 0);
        std::vector<Index> ends; // one past each term's last column
        for (int t : terms) {
            for (int c = 0; c < widths_[t]; ++c)
                cols.push_back(first_[t] + c);
            ends.push_back(static_cast<Index>(cols.size()));
        }
        const Index m = r_.rows();
        MatrixXd a(m, cols.size() + 1);
        for (std::size_t j = 0; j < cols.size(); ++j)
            a.col(j) = r_.col(cols[j]);
        a.col(cols.size()) = r_.col(m - 1);
        VectorXd workspace(a.cols());
        Index rank = 0;
        std::size_t term = 0;
        after.assign(terms.size(), 0);
        for (Index j = 0; j < static_cast<Index>(cols.size()); ++j) {
            const double length = r_.col(cols[j]).norm();
            auto rest = a.col(j).tail(m - rank);
            if (rest.norm() > aliased_sine * length && rank < m - 1) {
                double tau = 0, beta = 0;
                VectorXd essential(m - rank - 1);
                rest.makeHouseholder(essential, tau, beta);
                a.block(rank, j + 1, m - rank, a.cols() - j - 1)
                    .applyHouseholderOnTheLeft(essential, tau, workspace.data());
                ++rank;
            }
            while (term < ends.size() && ends[term] == j + 1)
                after[term++] = a.col(a.cols() - 1).tail(m - rank).squaredNorm();
        }
        return a.col(a.cols() - 1).tail(m - rank).squaredNorm();
    }

    void work(int w) {
        group_node n;
        std::vector<double> after;
        while (pool_.take(w, n)) {
            const int total = static_cast<int>(n.terms.size());
            if (n.rss_bound >= best_.bound_over(n.k + 1, total)) {
                pool_.add_done(w, n.share);
            } else {
                nodes_[w].n.fetch_add(1, std::memory_order_relaxed);
                expand(w, n, after);
            }
            pool_.finished();
        }
    }

    std::uint64_t nodes() const {
        std::uint64_t sum = 0;
        for (int w = 0; w < pool_.workers(); ++w)
            sum += nodes_[w].n.load(std::memory_order_relaxed);
        return sum;
    }

  private:
    void expand(int w, group_node& n, std::vector<double>& after) {
        const int total = static_cast<int>(n.terms.size());
        const int m = total - n.k;
        factorise(n.terms, after);
        // Free terms by what each adds in turn, largest first, then the
        // leading models in that order.
        std::vector<std::pair<double, int>> gain;
        for (int i = n.k; i < total; ++i)
            gain.push_back({(i == 0 ? base_rss() : after[i - 1]) - after[i], n.terms[i]});
        std::stable_sort(gain.begin(), gain.end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        for (int i = 0; i < m; ++i)
            n.terms[n.k + i] = gain[i].second;
        const double rss = factorise(n.terms, after);
        for (int j = n.k + 1; j <= total; ++j)
            best_.offer(j, after[j - 1], n.terms.data());
        std::vector<int> kept;
        for (int c = 0; c + 1 < m; ++c)
            if (rss < best_.bound_over(n.k + c + 1, total - 1))
                kept.push_back(c);
        const double unit = kept_share(n.share, kept.size());
        pool_.add_done(w, unit);
        for (int c : kept) {
            group_node child;
            child.terms = n.terms;
            child.terms.erase(child.terms.begin() + n.k + c);
            child.k = n.k + c;
            child.rss_bound = rss;
            child.share = unit;
            pool_.push(w, std::move(child));
        }
    }

    double base_rss() const {
        return r_.col(r_.cols() - 1).tail(r_.rows() - forced_).squaredNorm();
    }

    struct alignas(64) counter {
        std::atomic<std::uint64_t> n{0};
    };

    MatrixXd r_;
    int forced_;
    std::vector<int> widths_;
    std::vector<Index> first_; // each term's first column in R
    incumbents& best_;
    work_pool<group_node>& pool_;
    std::unique_ptr<counter[]> nodes_;
};

} // namespace

search_outcome search_groups(const search_setup& setup, incumbents& best) {
    work_pool<group_node> pool(setup.threads);
    group_tree tree(setup, best, pool);
    group_node root;
    root.terms.resize(setup.widths.size());
    std::iota(root.terms.begin(), root.terms.end(), 0);
    search_outcome out;
    std::vector<double> after;
    out.full_rss = tree.factorise(root.terms, after);
    root.rss_bound = 0;
    pool.push(0, std::move(root));
    pool.run([&](int w) { tree.work(w); }, *setup.options, [&] { return tree.nodes(); });
    out.stopped = pool.stopped();
    out.nodes = tree.nodes();
    return out;
}

} // namespace models
