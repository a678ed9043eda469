#include "subset_start.h"

#include <Eigen/QR>

#include <algorithm>
#include <cmath>
#include <limits>

namespace models {
namespace {

using Eigen::Index;
using Eigen::MatrixXd;

// A candidate is not swept in when what is left of it after the chosen
// ones is below this share of its squared length (a sine below about
// 3e-5): the sweep's cross-products would be mostly rounding.
constexpr double min_sweep_share = 1e-9;
// The exact RSS of a start subset is not trusted when a column's sine to
// the others is below this (the QR's rounding would then show in it).
constexpr double start_min_sine = 1e-6;
// Replacement rounds over a subset; each swap lowers the RSS, so rounds
// end anyway, this only bounds the work on flat problems.
constexpr int max_replacement_rounds = 20;

// The reversible sweep of a symmetric matrix on pivot k: sweeping in
// projects the other rows and columns on k out; sweeping out undoes it.
void sweep(MatrixXd& a, Index k, bool in) {
    const double d = a(k, k);
    const Index n = a.rows();
    const Eigen::VectorXd col = a.col(k);
    for (Index j = 0; j < n; ++j) {
        if (j == k)
            continue;
        for (Index i = 0; i < n; ++i)
            if (i != k)
                a(i, j) -= col[i] * col[j] / d;
    }
    for (Index i = 0; i < n; ++i)
        if (i != k) {
            a(i, k) = (in ? col[i] : -col[i]) / d;
            a(k, i) = a(i, k);
        }
    a(k, k) = -1 / d;
}

class replacer {
  public:
    replacer(const MatrixXd& r, int forced, int p) : f_(forced), p_(p), y_(forced + p) {
        const MatrixXd upper = r.triangularView<Eigen::Upper>();
        gram_ = upper.transpose() * upper;
        length2_ = gram_.diagonal();
        for (int j = 0; j < f_; ++j)
            if (gram_(j, j) > 0)
                sweep(gram_, j, true);
        base_ = gram_;
    }

    // The candidate outside `in` that lowers the RSS most, or -1.
    int best_addition(const MatrixXd& a, const std::vector<char>& in, double& rss) const {
        int best = -1;
        rss = a(y_, y_);
        for (int j = 0; j < p_; ++j) {
            const Index c = f_ + j;
            if (in[j] || !(a(c, c) > min_sweep_share * length2_[c]))
                continue;
            const double candidate = a(y_, y_) - a(c, y_) * a(c, y_) / a(c, c);
            if (candidate < rss) {
                rss = candidate;
                best = j;
            }
        }
        return best;
    }

    // Forward selection: the nested subsets of sizes 1, 2, ...
    std::vector<std::vector<int>> forward() {
        MatrixXd a = base_;
        std::vector<char> in(p_, 0);
        std::vector<int> chosen;
        std::vector<std::vector<int>> path;
        for (int k = 1; k <= p_; ++k) {
            double rss = 0;
            const int j = best_addition(a, in, rss);
            if (j < 0)
                break;
            sweep(a, f_ + j, true);
            in[j] = 1;
            chosen.push_back(j);
            path.push_back(chosen);
        }
        return path;
    }

    // Sequential replacement from `start`.
    std::vector<int> replace(std::vector<int> chosen) {
        MatrixXd a = base_;
        std::vector<char> in(p_, 0);
        for (int j : chosen) {
            sweep(a, f_ + j, true);
            in[j] = 1;
        }
        for (int round = 0; round < max_replacement_rounds; ++round) {
            bool swapped = false;
            for (int& j : chosen) {
                const double before = a(y_, y_);
                sweep(a, f_ + j, false);
                in[j] = 0;
                double rss = 0;
                int better = best_addition(a, in, rss);
                // Swap only for a clear gain: a tie (or rounding) would
                // swap back and forth.
                if (better < 0 || !(rss < before * (1 - 1e-12)))
                    better = j;
                swapped |= better != j;
                sweep(a, f_ + better, true);
                in[better] = 1;
                j = better;
            }
            if (!swapped)
                break;
        }
        std::sort(chosen.begin(), chosen.end());
        return chosen;
    }

  private:
    int f_, p_;
    Index y_;
    MatrixXd gram_;
    Eigen::VectorXd length2_;
    MatrixXd base_;
};

} // namespace

double rss_from_r(const MatrixXd& r, int forced, const std::vector<int>& candidates,
                  double min_sine) {
    const Index m = r.rows();
    MatrixXd cols(m, forced + candidates.size() + 1);
    const MatrixXd upper = r.triangularView<Eigen::Upper>();
    Index c = 0;
    for (int j = 0; j < forced; ++j)
        cols.col(c++) = upper.col(j);
    for (int j : candidates)
        cols.col(c++) = upper.col(forced + j);
    cols.col(c) = upper.col(m - 1);
    const Eigen::HouseholderQR<MatrixXd> qr(cols);
    const MatrixXd& packed = qr.matrixQR();
    for (Index j = 0; j < c; ++j) {
        const double length = cols.col(j).norm();
        if (!(std::abs(packed(j, j)) > min_sine * length) && length > 0)
            return std::numeric_limits<double>::quiet_NaN();
    }
    // The reflection of y's column leaves its residual length on the diagonal.
    return packed(c, c) * packed(c, c);
}

std::vector<subset> replacement_start(const MatrixXd& r, int forced, int p) {
    std::vector<subset> start;
    if (p < 2)
        return start;
    replacer search(r, forced, p);
    for (const std::vector<int>& nested : search.forward()) {
        subset s;
        s.terms = search.replace(nested);
        s.rss = rss_from_r(r, forced, s.terms, start_min_sine);
        if (!std::isnan(s.rss))
            start.push_back(std::move(s));
    }
    return start;
}

} // namespace models
