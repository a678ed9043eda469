// best_subsets: checks the input, moves forced-in terms among the forced
// columns, seeds the incumbents with a quick heuristic and runs the search
// that fits the terms (subset_search.h).
#include "subsets.h"

#include "subset_incumbents.h"
#include "subset_search.h"
#include "subset_start.h"

#include <Eigen/QR>

#include <algorithm>
#include <limits>
#include <numeric>
#include <thread>
#include <utility>

namespace models {
namespace {

using Eigen::Index;
using Eigen::MatrixXd;

subset_result refuse(std::string message) {
    subset_result r;
    r.status = subset_status::invalid_input;
    r.message = std::move(message);
    return r;
}

// Problems this small are over before a second thread starts: one per
// core is only taken from this many terms on.
constexpr int min_terms_for_threads = 16;

int thread_count(int asked, int terms) {
    if (asked > 0)
        return asked;
    if (terms < min_terms_for_threads)
        return 1;
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
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
    const int columns = static_cast<int>(size) - f - 1;
    std::vector<int> widths = options.widths;
    if (widths.empty())
        widths.assign(columns, 1);
    if (std::any_of(widths.begin(), widths.end(), [](int w) { return w < 1; }) ||
        std::accumulate(widths.begin(), widths.end(), 0) != columns)
        return refuse("the terms' widths do not add up to R's candidate columns");
    const int terms = static_cast<int>(widths.size());
    std::vector<char> forced_in(terms, 0);
    for (int t : options.force_in) {
        if (t < 0 || t >= terms || forced_in[t])
            return refuse("a forced-in term is out of range or repeated");
        forced_in[t] = 1;
    }
    std::vector<int> first(terms); // each term's first candidate column
    for (int t = 0, c = 0; t < terms; c += widths[t++])
        first[t] = c;

    subset_result result;
    result.status = subset_status::ok;
    result.candidates = terms;
    result.columns = columns;
    result.forced_only_rss = upper.col(size - 1).segment(f, columns + 1).squaredNorm();
    result.full_rss = upper(size - 1, size - 1) * upper(size - 1, size - 1);

    // The search's own order: forced columns, forced-in terms, free terms,
    // y. Forced-in terms become forced columns (a QR of R's columns in that
    // order); `free_terms` maps the search's term ids to the caller's.
    std::vector<int> free_terms;
    std::vector<int> order(f);
    std::iota(order.begin(), order.end(), 0);
    int forced_columns = f;
    for (int t : options.force_in)
        for (int c = 0; c < widths[t]; ++c, ++forced_columns)
            order.push_back(f + first[t] + c);
    search_setup setup;
    for (int t = 0; t < terms; ++t)
        if (!forced_in[t]) {
            free_terms.push_back(t);
            setup.widths.push_back(widths[t]);
            for (int c = 0; c < widths[t]; ++c)
                order.push_back(f + first[t] + c);
        }
    order.push_back(static_cast<int>(size) - 1);
    MatrixXd searched = upper;
    if (!options.force_in.empty()) {
        MatrixXd permuted(size, size);
        for (Index j = 0; j < size; ++j)
            permuted.col(j) = upper.col(order[j]);
        searched =
            Eigen::HouseholderQR<MatrixXd>(permuted).matrixQR().triangularView<Eigen::Upper>();
    }
    const int p = static_cast<int>(free_terms.size());
    if (p == 0)
        return result;

    const bool single =
        std::all_of(setup.widths.begin(), setup.widths.end(), [](int w) { return w == 1; });
    incumbents best(p, options.nbest);
    if (single)
        for (const subset& s : replacement_start(searched, forced_columns, p))
            best.offer(static_cast<int>(s.terms.size()), s.rss, s.terms.data());
    setup.r = &searched;
    setup.forced = forced_columns;
    setup.threads = thread_count(options.threads, p);
    setup.options = &options;
    const search_outcome found = single ? search_columns(setup, best) : search_groups(setup, best);
    result.full_rss = found.full_rss;
    result.nodes = found.nodes;
    if (found.stopped)
        result.status = subset_status::stopped;

    // Back to the caller's term ids, the forced-in terms added.
    int forced_in_columns = forced_columns - f;
    result.listed.resize(p);
    result.best.assign(p, subset{{}, std::numeric_limits<double>::infinity(), 0});
    for (int k = 1; k <= p; ++k) {
        for (const subset& s : best.lists()[k - 1]) {
            subset mapped{options.force_in, s.rss, forced_in_columns};
            for (int t : s.terms) {
                mapped.terms.push_back(free_terms[t]);
                mapped.columns += widths[free_terms[t]];
            }
            std::sort(mapped.terms.begin(), mapped.terms.end());
            result.listed[k - 1].push_back(std::move(mapped));
        }
        if (!result.listed[k - 1].empty())
            result.best[k - 1] = result.listed[k - 1].front();
    }
    return result;
}

} // namespace models
