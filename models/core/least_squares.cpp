// The driver: the double pass, the choice of the pass that follows, and
// the refinement or quadruple pass over the rows kept or read again.
#include "least_squares.h"

#include "error_estimate.h"
#include "fold.h"
#include "precision.h"
#include "rank_revealing_solve.h"
#include "refinement.h"
#include "split_first_pass.h"

#include <Eigen/Dense>
#include <boost/multiprecision/eigen.hpp>
#include <boost/multiprecision/float128.hpp>

#include <algorithm>
#include <cmath>
#include <memory>

namespace models {

namespace {

using namespace least_squares_detail;
using quad = boost::multiprecision::float128;

// Moves the shifts of a linear design with an intercept to the columns'
// means, in the triangle itself: a column less a constant is the column
// less that constant times the intercept's column of ones, and as the ones
// stand first, only the triangle's first row changes. With the columns
// centred, the intercept is the mean response less the slopes times the
// means, which cancels far less than an intercept carried back from the
// first row's values; and the quadruple pass starts from the same centre.
// Polynomial designs keep their shifts (a power's centre does not move by a
// row operation); their quadruple pass is centred on the mean of x instead.
std::vector<double> recentre(const design& d, Eigen::MatrixXd& r, const std::vector<double>& shifts,
                             const std::vector<long double>& sums, long long n) {
    if (!d.intercept || d.degree > 0 || shifts.empty() || sums.size() != shifts.size() || n == 0 ||
        !(r(0, 0) != 0))
        return shifts;
    std::vector<double> centre = shifts;
    // R(0, 0) is ±sqrt(n), and R(0, j) the sum of column j over it. The sums
    // kept in extended precision give the first row anew, without the
    // rounding that folding a million rows left in it.
    const long double root = static_cast<long double>(r(0, 0));
    // Column j of the triangle (1..k, then y) and raw column c (y = 0).
    for (int j = 1; j <= d.terms(); ++j) {
        const int c = j < d.terms() ? j : 0;
        const long double sum = sums[c];
        const double mean = static_cast<double>(shifts[c] + sum / n);
        if (!std::isfinite(mean))
            continue;
        // What is left of the column's sum once the mean, rounded, is the shift.
        r(0, j) =
            static_cast<double>((sum - (static_cast<long double>(mean) - shifts[c]) * n) / root);
        centre[c] = mean;
    }
    return centre;
}

bool all_finite(const Eigen::MatrixXd& r) {
    return r.allFinite();
}

// Where the rows come from after the first pass: memory when they were kept
// there, else the source, or the split source when the first pass was split.
class row_reader {
  public:
    row_reader(const row_source& source, std::size_t raw) : source_(source), raw_(raw) {}

    std::vector<double> kept;
    bool kept_whole = true;
    const split_row_source* split = nullptr; // set when the first pass was split
    int reads = 0;

    // Sends every row once to state (add), or, split, each range to a copy
    // of state that is then absorbed into it in the ranges' order.
    template <class State> bool read(State& state) {
        ++reads;
        if (kept_whole) {
            state.add(kept.data(), kept.size() / raw_);
            return true;
        }
        if (split != nullptr)
            return read_split(*split, state);
        return source_([&](const double* values, std::size_t rows) {
            state.add(values, rows);
            return true;
        });
    }

    // Each range into a copy of state, absorbed into it in the ranges' order.
    template <class State> static bool read_split(const split_row_source& split, State& state) {
        return read_ranges(
            split, [&state] { return std::make_unique<State>(state); },
            [&state](State& part) { state.absorb(part); });
    }

  private:
    const row_source& source_;
    std::size_t raw_;
};

} // namespace

least_squares_fit fit_least_squares(const design& d, const row_source& source,
                                    const split_row_source& split) {
    least_squares_fit fit;
    const int terms = d.terms();
    const std::size_t raw = static_cast<std::size_t>(d.raw_columns());
    if (terms < 1 || (d.degree > 0 && d.predictors != 1)) {
        fit.error = "the model has no terms";
        return fit;
    }
    row_reader rows(source, raw);
    solution<double> pilot;
    std::unique_ptr<first_pass> split_pass = split ? read_split_first(d, split, pilot) : nullptr;
    accumulator<double> fast(d, {});
    if (split_pass) {
        fast = std::move(split_pass->fold);
        rows.kept_whole = false;
        rows.split = &split;
        rows.reads = 1;
    } else {
        rows.kept.reserve(std::min<std::size_t>(kept_values_max, 4096 * raw));
        rows.reads = 1;
        if (!source([&](const double* values, std::size_t count) {
                if (rows.kept_whole && rows.kept.size() + count * raw <= kept_values_max) {
                    rows.kept.insert(rows.kept.end(), values, values + count * raw);
                } else if (rows.kept_whole) {
                    rows.kept_whole = false;
                    std::vector<double>().swap(rows.kept);
                }
                fast.add(values, count);
                return true;
            })) {
            fit.error = "the data could not be read";
            return fit;
        }
    }
    fit.n = fast.rows();
    fit.reads = rows.reads;
    if (fit.n < terms) {
        fit.error = "too few rows: " + std::to_string(fit.n) + " for " + std::to_string(terms) +
                    " coefficients";
        return fit;
    }
    Eigen::MatrixXd r = fast.triangle().topRows(terms + 1);
    if (!all_finite(r)) {
        fit.error = "the values are too large to fit (a power or product overflows)";
        return fit;
    }
    const std::vector<double> shifts = recentre(d, r, fast.shifts(), fast.sums(), fit.n);
    // The passes after the first read the rows with these shifts: a linear
    // design's predictor that the first pass left unshifted (zero on the
    // first row: an indicator, or a product with one) stays so, that its
    // zeros stay exact and sparse rows stay sparse (fold.h, refinement.h);
    // a 0/1 column gains nothing from centring.
    std::vector<double> row_shifts = shifts;
    if (d.degree == 0 && row_shifts.size() == fast.shifts().size())
        for (std::size_t c = 1; c < row_shifts.size(); ++c)
            if (fast.shifts()[c] == 0)
                row_shifts[c] = 0;
    // The quadruple pass of a polynomial is centred on the mean of x (and y).
    std::vector<double> exact_shifts = row_shifts;
    if (d.degree > 0 && d.intercept && !shifts.empty() && r(0, 0) != 0) {
        exact_shifts[1] = shifts[1] + r(0, 1) / r(0, 0);
        exact_shifts[0] = shifts[0] + r(0, terms) / r(0, 0);
        if (!std::isfinite(exact_shifts[0]) || !std::isfinite(exact_shifts[1]))
            exact_shifts = shifts;
    }
    const solution<double> s = solve<double>(r, terms, 0.0);
    const bool suspect = has_suspect_term(r, s);
    double_pass_estimate estimate;
    estimate.error = 1.0;
    if (!suspect) {
        estimate = estimate_double_pass(d, s, shifts, r.col(terms).norm());
        fit.condition = estimate.condition;
    }
    const double error = estimate.error, se_error = estimate.se_error;
    fit.tss = d.intercept ? r.col(terms).tail(terms).squaredNorm() : r.col(terms).squaredNorm();

    if (!suspect && error <= trusted_error) {
        take(fit, finish<double>(d, s, shifts, fit.n), s);
        fit.triangle = r;
        return fit;
    }

    // Refinement where the design is well enough conditioned for it to
    // contract fast: each step multiplies the error by about this.
    const double contraction = 8 * unit_roundoff * fit.condition * fit.condition;
    // It sharpens the coefficients and the residual sum of squares; the
    // standard errors stay those of the double triangle, so they must
    // already be good.
    if (!suspect && contraction < 1e-3 && se_error <= se_trusted_error) {
        int steps = error * contraction <= trusted_error ? 1 : 2;
        std::unique_ptr<refinement> refine;
        long double rss = 0;
        // The split pass's sums at the pilot: one step from there, kept when
        // it leaves 14 digits (its error is about the contraction times the
        // step, which is about the pilot's error).
        if (split_pass && split_pass->refine.rows() == fit.n && pilot.kept == s.kept &&
            split_pass->refine.rebase(shifts)) {
            refine = std::make_unique<refinement>(std::move(split_pass->refine));
            const vector<long double> from = refine->beta();
            const long double rss_from = refine->residual_squares();
            rss = refine->step(s.reduced);
            const Eigen::VectorXd beta = refine->beta().cast<double>();
            const Eigen::VectorXd change = (refine->beta() - from).cast<double>();
            const double length = scaled_length(s, beta);
            const double normwise =
                length > 0 ? contraction * scaled_length(s, change) / length : 1;
            // The sum of squares fell by |half|^2 from the pilot's, which
            // the double triangle gives to about κ u of itself.
            const double rss_error = rss > 0 ? 2 * unit_roundoff * fit.condition *
                                                   static_cast<double>((rss_from - rss) / rss)
                                             : 1;
            const double refined_error =
                std::max(worst_coefficient_error(d, s, beta, shifts, normwise), rss_error);
            steps = refined_error <= trusted_error                 ? 0
                    : refined_error * contraction <= trusted_error ? 1
                                                                   : 2;
        } else {
            refine = std::make_unique<refinement>(d, s, shifts, row_shifts);
        }
        bool read = true;
        for (int step = 0; step < steps && read; ++step) {
            read = rows.read(*refine) && refine->rows() == fit.n;
            rss = refine->step(s.reduced);
        }
        fit.reads = rows.reads;
        if (!read) {
            fit.error = "the data changed or could not be read again for the second pass";
            return fit;
        }
        solution<long double> refined;
        refined.aliased = s.aliased;
        refined.kept = s.kept;
        refined.beta = refine->beta();
        refined.cov = s.cov.cast<long double>();
        refined.reduced = s.reduced.cast<long double>();
        refined.rss = rss;
        take(fit, finish<long double>(d, refined, shifts, fit.n), refined);
        fit.triangle = r;
        fit.refined = true;
        return fit;
    }

    // The quadruple pass, centred on the means the first pass found.
    accumulator<quad> exact(d, exact_shifts);
    const bool read = rows.read(exact);
    fit.reads = rows.reads;
    if (!read || exact.rows() != fit.n) {
        fit.error = "the data changed or could not be read again for the second pass";
        return fit;
    }
    const matrix<quad> rq = exact.triangle().topRows(terms + 1);
    const solution<quad> sq = solve<quad>(rq, terms, aliased_share);
    take(fit, finish<quad>(d, sq, exact.shifts(), fit.n), sq);
    fit.tss = static_cast<double>(d.intercept ? rq.col(terms).tail(terms).squaredNorm()
                                              : rq.col(terms).squaredNorm());
    fit.triangle = rq.cast<double>();
    fit.extended = true;
    return fit;
}

} // namespace models
