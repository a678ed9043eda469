#include "solver.h"
#include "search.h"

#include <unsupported/Eigen/LevenbergMarquardt>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

namespace models {
namespace {

constexpr double eps = std::numeric_limits<double>::epsilon();
constexpr double inf = std::numeric_limits<double>::infinity();

// Residuals f(b) - y and the exact Jacobian, for Eigen's port of MINPACK's
// Levenberg-Marquardt. A step to a point where the model is not finite gets
// a NaN norm, which the method treats as a failed step and shrinks its trust
// region, so no special case is needed.
struct lm_functor : Eigen::DenseFunctor<double> {
    const fit_problem& pr;
    explicit lm_functor(const fit_problem& problem)
        : Eigen::DenseFunctor<double>(static_cast<int>(problem.p), static_cast<int>(problem.n)),
          pr(problem) {}
    int operator()(const Eigen::VectorXd& b, Eigen::VectorXd& r) const {
        Eigen::ArrayXd f;
        pr.model->evaluate(pr.columns, pr.n, b, f);
        r = (f - pr.y).matrix();
        return 0;
    }
    int df(const Eigen::VectorXd& b, Eigen::MatrixXd& jac) const {
        Eigen::ArrayXd f;
        pr.model->evaluate(pr.columns, pr.n, b, f, &jac);
        return 0;
    }
};

// Parameter b's degree in the parameters of `set`: 0 free of them, 1 affine
// in them jointly, 2 otherwise; read from the postfix program.
int degree_in(const expression& e, const std::vector<bool>& set) {
    std::vector<int> stack;
    for (const instruction& in : e.code) {
        switch (in.op) {
        case opcode::constant:
        case opcode::column:
            stack.push_back(0);
            break;
        case opcode::parameter:
            stack.push_back(set[static_cast<size_t>(in.index)] ? 1 : 0);
            break;
        case opcode::negate:
            break;
        case opcode::add:
        case opcode::subtract:
        case opcode::multiply:
        case opcode::divide:
        case opcode::power: {
            int b = stack.back();
            stack.pop_back();
            int& a = stack.back();
            if (in.op == opcode::add || in.op == opcode::subtract)
                a = std::max(a, b);
            else if (in.op == opcode::multiply)
                a = a == 0 ? b : (b == 0 ? a : 2);
            else if (in.op == opcode::divide)
                a = b == 0 ? a : 2;
            else
                a = (a == 0 && b == 0) ? 0 : 2;
            break;
        }
        default:
            stack.back() = stack.back() == 0 ? 0 : 2;
        }
    }
    return stack.back();
}

} // namespace

std::vector<bool> linear_parameters(const expression& model, Eigen::Index p) {
    std::vector<bool> set(static_cast<size_t>(p), false);
    for (size_t j = 0; j < set.size(); ++j) {
        set[j] = true;
        if (degree_in(model, set) > 1)
            set[j] = false;
    }
    return set;
}

double project_linear(const fit_problem& pr, const std::vector<bool>& linear, Eigen::VectorXd& b) {
    std::vector<Eigen::Index> lin;
    for (Eigen::Index j = 0; j < pr.p; ++j)
        if (linear[static_cast<size_t>(j)]) {
            lin.push_back(j);
            b[j] = 0;
        }
    Eigen::ArrayXd f0;
    Eigen::MatrixXd jac;
    pr.model->evaluate(pr.columns, pr.n, b, f0, &jac);
    Eigen::VectorXd target = (pr.y - f0).matrix();
    if (!lin.empty()) {
        // The model is affine in these parameters: its values are f0 plus
        // the Jacobian's columns times them, solved by QR.
        Eigen::MatrixXd a(pr.n, static_cast<Eigen::Index>(lin.size()));
        for (size_t k = 0; k < lin.size(); ++k)
            a.col(static_cast<Eigen::Index>(k)) = jac.col(lin[k]);
        if (!a.allFinite() || !target.allFinite())
            return inf;
        Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(a);
        Eigen::VectorXd c = qr.solve(target);
        for (size_t k = 0; k < lin.size(); ++k)
            b[lin[k]] = c[static_cast<Eigen::Index>(k)];
        target -= a * c;
    }
    double rss = target.squaredNorm();
    return std::isfinite(rss) ? rss : inf;
}

std::vector<Eigen::VectorXd> grid_search(const fit_problem& pr, const std::vector<bool>& linear,
                                         const Eigen::VectorXd& base,
                                         const std::vector<std::vector<double>>& candidates,
                                         size_t keep, size_t max_points) {
    std::vector<Eigen::Index> free;
    for (Eigen::Index j = 0; j < pr.p; ++j)
        if (!linear[static_cast<size_t>(j)])
            free.push_back(j);
    double total = 1;
    for (Eigen::Index j : free)
        total *= static_cast<double>(candidates[static_cast<size_t>(j)].size());
    const bool exhaustive = total <= static_cast<double>(max_points);
    const size_t points = exhaustive ? static_cast<size_t>(total) : max_points;

    std::mt19937 random(12345);
    std::vector<std::pair<double, Eigen::VectorXd>> best;
    Eigen::VectorXd b = base;
    for (size_t i = 0; i < points; ++i) {
        size_t code = i;
        for (Eigen::Index j : free) {
            const auto& values = candidates[static_cast<size_t>(j)];
            size_t pick = exhaustive ? code % values.size() : random() % values.size();
            code /= values.size();
            b[j] = values[pick];
        }
        double rss = project_linear(pr, linear, b);
        if (!std::isfinite(rss))
            continue;
        if (best.size() < keep || rss < best.back().first) {
            if (best.size() == keep)
                best.pop_back();
            auto at = std::upper_bound(best.begin(), best.end(), rss,
                                       [](double v, const auto& e) { return v < e.first; });
            best.insert(at, {rss, b});
        }
    }
    std::vector<Eigen::VectorXd> out;
    for (auto& e : best)
        out.push_back(e.second);
    return out;
}

long double residuals(const fit_problem& pr, const Eigen::VectorXd& b, Eigen::VectorXd& r) {
    expression::extended_array f;
    pr.model->evaluate_extended(pr.columns, pr.n, b, f, &pr.low);
    expression::extended_array e = f - pr.y_extended;
    r = e.cast<double>().matrix();
    long double sum = e.square().sum();
    return std::isfinite(sum) ? sum : inf;
}

namespace {

// Gauss-Newton steps from a Levenberg-Marquardt solution with residuals in
// extended precision: where the residuals are close to the rounding of the
// model values (near-exact fits), this recovers the digits double precision
// loses. A step is kept only if it lowers the sum of squares.
void polish(const fit_problem& pr, Eigen::VectorXd& b) {
    Eigen::VectorXd r;
    long double rss = residuals(pr, b, r);
    for (int step = 0; step < 4 && std::isfinite(rss) && rss > 0; ++step) {
        Eigen::ArrayXd f;
        Eigen::MatrixXd jac;
        pr.model->evaluate(pr.columns, pr.n, b, f, &jac);
        Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(jac);
        if (qr.rank() < pr.p)
            return;
        Eigen::VectorXd next = b - qr.solve(r);
        Eigen::VectorXd rn;
        long double rss_next = residuals(pr, next, rn);
        if (!(rss_next < rss))
            return;
        b = next;
        r = rn;
        rss = rss_next;
    }
}

struct run_result {
    Eigen::VectorXd b;
    int iterations = 0;
    int evaluations = 0;
    bool stopped = false; // ran out of evaluations or could not start
};

run_result levenberg_marquardt(const fit_problem& pr, Eigen::VectorXd b, int max_evaluations) {
    lm_functor functor(pr);
    Eigen::LevenbergMarquardt<lm_functor> lm(functor);
    // Stop only when a further step cannot change the sum of squares or the
    // parameters beyond rounding; the gradient is checked afterwards.
    lm.setFtol(4 * eps);
    lm.setXtol(4 * eps);
    lm.setGtol(0);
    lm.setMaxfev(max_evaluations);
    auto status = lm.minimize(b);
    if (b.allFinite())
        polish(pr, b);
    run_result r;
    r.b = b;
    r.iterations = static_cast<int>(lm.iterations());
    r.evaluations = static_cast<int>(lm.nfev());
    r.stopped = status == Eigen::LevenbergMarquardtSpace::TooManyFunctionEvaluation ||
                status == Eigen::LevenbergMarquardtSpace::ImproperInputParameters ||
                status == Eigen::LevenbergMarquardtSpace::UserAsked;
    return r;
}

// What is known of a candidate solution: its sum of squares and, if it is a
// sound minimum, the covariance of the estimates.
struct assessment {
    bool sound = false;
    std::string reason;
    double rss = inf;
    Eigen::MatrixXd covariance;
};

assessment assess(const fit_problem& pr, const run_result& run) {
    assessment a;
    Eigen::ArrayXd f;
    Eigen::MatrixXd jac;
    pr.model->evaluate(pr.columns, pr.n, run.b, f, &jac);
    Eigen::VectorXd r;
    a.rss = static_cast<double>(residuals(pr, run.b, r));
    if (!run.b.allFinite() || !std::isfinite(a.rss) || !jac.allFinite()) {
        a.rss = inf;
        a.reason = "the model is not finite at the parameters reached";
        return a;
    }
    if (run.stopped) {
        a.reason = "no convergence within " + std::to_string(run.evaluations) + " evaluations";
        return a;
    }
    // Column scaling makes the rank test independent of the parameters'
    // units; a column that vanishes is a parameter on a plateau.
    Eigen::VectorXd norms = jac.colwise().norm();
    for (Eigen::Index j = 0; j < pr.p; ++j)
        if (!(norms[j] > 0)) {
            a.reason = "parameter " + std::to_string(j + 1) + " has no effect on the model";
            return a;
        }
    Eigen::MatrixXd scaled = jac * norms.cwiseInverse().asDiagonal();
    Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(scaled);
    Eigen::MatrixXd rfac = qr.matrixR().topLeftCorner(pr.p, pr.p).triangularView<Eigen::Upper>();
    double rmax = std::abs(rfac(0, 0)), rmin = std::abs(rfac(pr.p - 1, pr.p - 1));
    if (!(rmin > 1e-13 * rmax)) {
        a.reason = "the parameters are not identifiable at the point reached (singular Jacobian)";
        return a;
    }
    // Scaled gradient: the cosine between the residuals and each column of
    // the Jacobian. At a minimum it is zero up to the rounding of the
    // residuals, which grows as the residuals shrink relative to the data.
    double rnorm = r.norm();
    if (rnorm > 0) {
        double noise = 1e3 * eps * std::max(1.0, pr.y.matrix().norm() / rnorm);
        double worst = (scaled.transpose() * r).cwiseAbs().maxCoeff() / rnorm;
        if (worst > std::max(1e-6, noise)) {
            a.reason = "the gradient is not zero at the point reached";
            return a;
        }
    }
    // (J^T J)^-1 = P R^-1 R^-T P^T from the QR of the scaled Jacobian, then
    // undo the column scaling; J^T J itself is never formed.
    Eigen::MatrixXd rinv =
        rfac.triangularView<Eigen::Upper>().solve(Eigen::MatrixXd::Identity(pr.p, pr.p));
    Eigen::MatrixXd inner =
        qr.colsPermutation() * (rinv * rinv.transpose()) * qr.colsPermutation().transpose();
    Eigen::VectorXd unscale = norms.cwiseInverse();
    double s2 = pr.n > pr.p ? a.rss / static_cast<double>(pr.n - pr.p)
                            : std::numeric_limits<double>::quiet_NaN();
    a.covariance = unscale.asDiagonal() * inner * unscale.asDiagonal() * s2;
    a.sound = true;
    return a;
}

// Candidate values of a non-linear parameter for a restart: its start value
// scaled by powers of ten, either sign.
std::vector<double> scale_candidates(double start, size_t free_count) {
    double s = start != 0 ? std::abs(start) : 1.0;
    double step = free_count <= 1 ? 0.25 : (free_count == 2 ? 0.5 : 1.0);
    std::vector<double> out;
    for (double k = -4; k <= 4 + 1e-9; k += step) {
        out.push_back(s * std::pow(10.0, k));
        out.push_back(-s * std::pow(10.0, k));
    }
    return out;
}

// The columns the model (and, with_response, the response) read, checked to
// be present and of one length.
bool prepare(const formula& f, const std::vector<std::vector<double>>& data, fit_problem& pr,
             std::string& error, bool with_response = true) {
    pr.model = &f.model;
    pr.p = static_cast<Eigen::Index>(f.parameters.size());
    pr.columns.resize(data.size());
    std::vector<int> used = f.model.columns_used();
    for (int c : with_response ? f.response.columns_used() : std::vector<int>())
        if (std::find(used.begin(), used.end(), c) == used.end())
            used.push_back(c);
    long long rows = -1;
    for (int c : used) {
        if (static_cast<size_t>(c) >= data.size()) {
            error = "a column of the formula is missing from the data";
            return false;
        }
        const auto& col = data[static_cast<size_t>(c)];
        if (rows >= 0 && static_cast<long long>(col.size()) != rows) {
            error = "the columns differ in length";
            return false;
        }
        rows = static_cast<long long>(col.size());
        pr.columns[static_cast<size_t>(c)] =
            Eigen::Map<const Eigen::ArrayXd>(col.data(), static_cast<Eigen::Index>(col.size()));
    }
    pr.n = rows < 0 ? 0 : static_cast<Eigen::Index>(rows);
    return true;
}

} // namespace

bool make_problem(const formula& f, const std::vector<std::vector<double>>& columns,
                  fit_problem& pr, std::string& error,
                  const std::vector<std::vector<double>>* low) {
    if (!prepare(f, columns, pr, error))
        return false;
    // The data's rounding to double, where given: residuals near that
    // rounding (a model that fits to 1e-13) are then formed from the values
    // as the file wrote them.
    if (low && low->size() == columns.size()) {
        pr.low.resize(low->size());
        for (std::size_t c = 0; c < low->size(); ++c)
            if ((*low)[c].size() == columns[c].size() && pr.columns[c].size() != 0)
                pr.low[c] = Eigen::Map<const Eigen::ArrayXd>(
                    (*low)[c].data(), static_cast<Eigen::Index>((*low)[c].size()));
    }
    if (pr.n < pr.p || pr.n == 0) {
        error = "fewer rows than parameters";
        return false;
    }
    f.response.evaluate_extended(pr.columns, pr.n, Eigen::VectorXd(), pr.y_extended, &pr.low);
    pr.y = pr.y_extended.cast<double>();
    for (Eigen::Index i = 0; i < pr.n; ++i)
        if (!std::isfinite(pr.y[i])) {
            error = "the response is not finite in row " + std::to_string(i + 1);
            return false;
        }
    return true;
}

std::vector<double> evaluate_model(const formula& f,
                                   const std::vector<std::vector<double>>& columns,
                                   const std::vector<double>& estimates) {
    fit_problem pr;
    std::string error;
    if (!prepare(f, columns, pr, error, false) || estimates.size() != f.parameters.size())
        return {};
    Eigen::ArrayXd values;
    Eigen::VectorXd b = Eigen::Map<const Eigen::VectorXd>(
        estimates.data(), static_cast<Eigen::Index>(estimates.size()));
    f.model.evaluate(pr.columns, pr.n, b, values);
    return std::vector<double>(values.data(), values.data() + values.size());
}

nonlinear_fit fit_nonlinear(const formula& f, const std::vector<std::vector<double>>& columns,
                            const std::vector<double>& starts, const solver_options& options) {
    nonlinear_fit out;
    out.parameters = f.parameters;
    fit_problem pr;
    if (!make_problem(f, columns, pr, out.error, options.low_parts))
        return out;
    if (starts.size() != f.parameters.size()) {
        out.error = "one start value per parameter is needed";
        return out;
    }
    Eigen::VectorXd b0 =
        Eigen::Map<const Eigen::VectorXd>(starts.data(), static_cast<Eigen::Index>(starts.size()));
    {
        Eigen::ArrayXd f0;
        f.model.evaluate(pr.columns, pr.n, b0, f0);
        if (!f0.allFinite()) {
            out.error = "the model is not finite at the start values";
            return out;
        }
    }
    out.ok = true;
    out.n = pr.n;
    out.df = pr.n - pr.p;
    const int max_evaluations =
        options.max_evaluations > 0 ? options.max_evaluations : 200 * static_cast<int>(pr.p + 1);

    std::vector<bool> linear = linear_parameters(f.model, pr.p);
    size_t free_count = static_cast<size_t>(std::count(linear.begin(), linear.end(), false));
    auto search_starts = [&]() {
        std::vector<std::vector<double>> candidates;
        for (Eigen::Index j = 0; j < pr.p; ++j)
            candidates.push_back(scale_candidates(b0[j], free_count));
        return grid_search(pr, linear, b0, candidates, 6, 6000);
    };

    std::vector<Eigen::VectorXd> tries;
    if (options.search_first)
        tries = search_starts();
    tries.insert(tries.begin(), b0);

    run_result best_run;
    assessment best;
    std::string first_reason;
    bool searched = options.search_first;
    int evaluations = 0;
    for (size_t t = 0; t < tries.size(); ++t) {
        run_result run = levenberg_marquardt(pr, tries[t], max_evaluations);
        evaluations += run.evaluations;
        assessment a = assess(pr, run);
        if (t == 0)
            first_reason = a.reason;
        if (a.sound && (!best.sound || a.rss < best.rss)) {
            best = a;
            best_run = run;
            out.restarted = t > 0;
        }
        // A run that ran away is retried from starts where the linear
        // parameters are solved exactly for a grid of the others.
        if (t + 1 == tries.size() && !best.sound && !searched && options.restart) {
            searched = true;
            for (auto& s : search_starts())
                tries.push_back(s);
        }
    }
    out.iterations = evaluations;
    if (!best.sound) {
        out.reason = first_reason;
        return out;
    }
    out.converged = true;
    out.estimates.assign(best_run.b.data(), best_run.b.data() + best_run.b.size());
    out.covariance = best.covariance;
    out.rss = best.rss;
    for (Eigen::Index j = 0; j < pr.p; ++j)
        out.std_errors.push_back(std::sqrt(best.covariance(j, j)));
    Eigen::ArrayXd fitted;
    f.model.evaluate(pr.columns, pr.n, best_run.b, fitted);
    out.fitted.assign(fitted.data(), fitted.data() + fitted.size());
    out.response.assign(pr.y.data(), pr.y.data() + pr.y.size());
    return out;
}

} // namespace models
