#include "solver.h"
#include "search.h"

#include <unsupported/Eigen/LevenbergMarquardt>

#include <algorithm>
#include <cmath>
#include <limits>
#include <cstdio>
#include <random>

namespace models {
namespace {

constexpr double eps = std::numeric_limits<double>::epsilon();
constexpr double inf = std::numeric_limits<double>::infinity();

// Weighted residuals and the exact Jacobian over the parameters in `free`
// (the others keep their values in `full`), for Eigen's port of MINPACK's
// Levenberg-Marquardt. A step to a point where the model is not finite gets
// a NaN norm, which the method treats as a failed step and shrinks its trust
// region, so no special case is needed.
struct lm_functor : Eigen::DenseFunctor<double> {
    const fit_problem& pr;
    std::vector<Eigen::Index> free;
    Eigen::VectorXd full;
    lm_functor(const fit_problem& problem, std::vector<Eigen::Index> free_parameters,
               Eigen::VectorXd values)
        : Eigen::DenseFunctor<double>(static_cast<int>(free_parameters.size()),
                                      static_cast<int>(problem.n)),
          pr(problem), free(std::move(free_parameters)), full(std::move(values)) {}
    Eigen::VectorXd expand(const Eigen::VectorXd& x) const {
        if (static_cast<Eigen::Index>(free.size()) == pr.p)
            return x;
        Eigen::VectorXd b = full;
        for (size_t k = 0; k < free.size(); ++k)
            b[free[k]] = x[static_cast<Eigen::Index>(k)];
        return b;
    }
    int operator()(const Eigen::VectorXd& x, Eigen::VectorXd& r) const {
        weighted_model(pr, expand(x), r);
        return 0;
    }
    int df(const Eigen::VectorXd& x, Eigen::MatrixXd& jac) const {
        Eigen::VectorXd r;
        if (static_cast<Eigen::Index>(free.size()) == pr.p) {
            weighted_model(pr, x, r, &jac);
            return 0;
        }
        Eigen::MatrixXd all;
        weighted_model(pr, expand(x), r, &all);
        jac = all(Eigen::all, free);
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
    Eigen::VectorXd target;
    Eigen::MatrixXd jac;
    weighted_model(pr, b, target, &jac);
    target = -target;
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
                                         size_t keep, size_t max_points, size_t* tried) {
    std::vector<Eigen::Index> free;
    for (Eigen::Index j = 0; j < pr.p; ++j)
        if (!linear[static_cast<size_t>(j)])
            free.push_back(j);
    double total = 1;
    for (Eigen::Index j : free)
        total *= static_cast<double>(candidates[static_cast<size_t>(j)].size());
    const bool exhaustive = total <= static_cast<double>(max_points);
    const size_t points = exhaustive ? static_cast<size_t>(total) : max_points;
    if (tried)
        *tried = points;

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

void weighted_model(const fit_problem& pr, const Eigen::VectorXd& b, Eigen::VectorXd& r,
                    Eigen::MatrixXd* jacobian) {
    Eigen::ArrayXd f;
    pr.model->evaluate(pr.columns, pr.n, b, f, jacobian);
    Eigen::ArrayXd e = f - pr.y;
    if (pr.root_weights.size() != 0) {
        e *= pr.root_weights;
        if (jacobian)
            *jacobian = pr.root_weights.matrix().asDiagonal() * *jacobian;
    }
    r = e.matrix();
}

long double residuals(const fit_problem& pr, const Eigen::VectorXd& b, Eigen::VectorXd& r) {
    expression::extended_array f;
    pr.model->evaluate_extended(pr.columns, pr.n, b, f, &pr.low);
    expression::extended_array e = f - pr.y_extended;
    if (pr.root_weights.size() != 0)
        e *= pr.root_weights.cast<long double>();
    r = e.cast<double>().matrix();
    long double sum = e.square().sum();
    return std::isfinite(sum) ? sum : inf;
}

namespace {

// Gauss-Newton steps from a Levenberg-Marquardt solution with residuals in
// extended precision: where the residuals are close to the rounding of the
// model values (near-exact fits), this recovers the digits double precision
// loses. A step is kept only if it lowers the sum of squares.
void polish(const fit_problem& pr, Eigen::VectorXd& b, const std::vector<Eigen::Index>& free) {
    Eigen::VectorXd r;
    long double rss = residuals(pr, b, r);
    for (int step = 0; step < 4 && std::isfinite(rss) && rss > 0; ++step) {
        Eigen::VectorXd unused;
        Eigen::MatrixXd jac;
        weighted_model(pr, b, unused, &jac);
        Eigen::MatrixXd part = jac(Eigen::all, free);
        Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(part);
        if (qr.rank() < part.cols())
            return;
        Eigen::VectorXd step_free = qr.solve(r);
        Eigen::VectorXd next = b;
        for (size_t k = 0; k < free.size(); ++k)
            next[free[k]] -= step_free[static_cast<Eigen::Index>(k)];
        Eigen::VectorXd rn;
        long double rss_next = residuals(pr, next, rn);
        if (!(rss_next < rss))
            return;
        b = next;
        r = rn;
        rss = rss_next;
    }
}

std::vector<Eigen::Index> every_parameter(Eigen::Index p) {
    std::vector<Eigen::Index> all(static_cast<size_t>(p));
    for (Eigen::Index j = 0; j < p; ++j)
        all[static_cast<size_t>(j)] = j;
    return all;
}

struct run_result {
    Eigen::VectorXd b;
    int iterations = 0;
    int evaluations = 0;
    bool stopped = false; // ran out of evaluations or could not start
};

run_result levenberg_marquardt(const fit_problem& pr, const Eigen::VectorXd& start,
                               int max_evaluations, const std::vector<Eigen::Index>& free) {
    lm_functor functor(pr, free, start);
    Eigen::LevenbergMarquardt<lm_functor> lm(functor);
    // Stop only when a further step cannot change the sum of squares or the
    // parameters beyond rounding; the gradient is checked afterwards.
    lm.setFtol(4 * eps);
    lm.setXtol(4 * eps);
    lm.setGtol(0);
    lm.setMaxfev(max_evaluations);
    Eigen::VectorXd x = start(free);
    auto status = lm.minimize(x);
    Eigen::VectorXd b = functor.expand(x);
    if (b.allFinite())
        polish(pr, b, free);
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

// held marks parameters at a bound: they are left out of the tests and get
// no covariance (NaN).
assessment assess(const fit_problem& pr, const run_result& run, const std::vector<bool>& held) {
    assessment a;
    Eigen::VectorXd unused;
    Eigen::MatrixXd all;
    weighted_model(pr, run.b, unused, &all);
    Eigen::VectorXd r;
    a.rss = static_cast<double>(residuals(pr, run.b, r));
    if (!run.b.allFinite() || !std::isfinite(a.rss) || !all.allFinite()) {
        a.rss = inf;
        a.reason = "the model is not finite at the parameters reached";
        return a;
    }
    if (run.stopped) {
        a.reason = "no convergence within " + std::to_string(run.evaluations) + " evaluations";
        return a;
    }
    std::vector<Eigen::Index> free;
    for (Eigen::Index j = 0; j < pr.p; ++j)
        if (!held[static_cast<size_t>(j)])
            free.push_back(j);
    const Eigen::Index q = static_cast<Eigen::Index>(free.size());
    a.covariance = Eigen::MatrixXd::Constant(pr.p, pr.p, std::numeric_limits<double>::quiet_NaN());
    if (q == 0) {
        a.sound = true;
        return a;
    }
    Eigen::MatrixXd jac = all(Eigen::all, free);
    // Column scaling makes the rank test independent of the parameters'
    // units; a column that vanishes is a parameter on a plateau.
    Eigen::VectorXd norms = jac.colwise().norm();
    for (Eigen::Index k = 0; k < q; ++k)
        if (!(norms[k] > 0)) {
            a.reason = "parameter " + std::to_string(free[static_cast<size_t>(k)] + 1) +
                       " has no effect on the model";
            return a;
        }
    Eigen::MatrixXd scaled = jac * norms.cwiseInverse().asDiagonal();
    Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(scaled);
    Eigen::MatrixXd rfac = qr.matrixR().topLeftCorner(q, q).triangularView<Eigen::Upper>();
    double rmax = std::abs(rfac(0, 0)), rmin = std::abs(rfac(q - 1, q - 1));
    if (!(rmin > 1e-13 * rmax)) {
        a.reason = "the parameters are not identifiable at the point reached (singular Jacobian)";
        return a;
    }
    // Scaled gradient: the cosine between the residuals and each column of
    // the Jacobian. At a minimum it is zero up to the rounding of the
    // residuals, which grows as the residuals shrink relative to the data.
    double rnorm = r.norm();
    if (rnorm > 0) {
        double ynorm = pr.root_weights.size() != 0 ? (pr.y * pr.root_weights).matrix().norm()
                                                   : pr.y.matrix().norm();
        double noise = 1e3 * eps * std::max(1.0, ynorm / rnorm);
        double worst = (scaled.transpose() * r).cwiseAbs().maxCoeff() / rnorm;
        if (worst > std::max(1e-6, noise)) {
            a.reason = "the gradient is not zero at the point reached";
            return a;
        }
    }
    // (J^T J)^-1 = P R^-1 R^-T P^T from the QR of the scaled Jacobian, then
    // undo the column scaling; J^T J itself is never formed.
    Eigen::MatrixXd rinv =
        rfac.triangularView<Eigen::Upper>().solve(Eigen::MatrixXd::Identity(q, q));
    Eigen::MatrixXd inner =
        qr.colsPermutation() * (rinv * rinv.transpose()) * qr.colsPermutation().transpose();
    Eigen::VectorXd unscale = norms.cwiseInverse();
    double s2 = pr.counted > pr.p ? a.rss / static_cast<double>(pr.counted - pr.p)
                                  : std::numeric_limits<double>::quiet_NaN();
    a.covariance(free, free) = unscale.asDiagonal() * inner * unscale.asDiagonal() * s2;
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
                  fit_problem& pr, std::string& error, const std::vector<std::vector<double>>* low,
                  const std::vector<double>* weights) {
    if (!prepare(f, columns, pr, error))
        return false;
    if (weights) {
        if (static_cast<Eigen::Index>(weights->size()) != pr.n) {
            error = "one weight per row is needed";
            return false;
        }
        for (std::size_t i = 0; i < weights->size(); ++i)
            if (!std::isfinite((*weights)[i]) || (*weights)[i] < 0) {
                error = "the weight in row " + std::to_string(i + 1) +
                        " is not a finite number of zero or more";
                return false;
            }
        pr.root_weights = Eigen::Map<const Eigen::ArrayXd>(weights->data(), pr.n).sqrt();
    }
    pr.counted = pr.root_weights.size() != 0 ? (pr.root_weights > 0).count() : pr.n;
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
    if (pr.counted < pr.p || pr.counted == 0) {
        error = weights ? "fewer rows of positive weight than parameters"
                        : "fewer rows than parameters";
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

long double fit_with_fixed(const fit_problem& pr, Eigen::VectorXd& b,
                           const std::vector<bool>& fixed, int max_evaluations, int& evaluations) {
    std::vector<Eigen::Index> free;
    for (Eigen::Index j = 0; j < pr.p; ++j)
        if (!fixed[static_cast<size_t>(j)])
            free.push_back(j);
    Eigen::VectorXd r;
    if (free.empty())
        return residuals(pr, b, r);
    run_result run = levenberg_marquardt(pr, b, max_evaluations, free);
    evaluations += run.evaluations;
    if (run.stopped || !run.b.allFinite())
        return inf;
    b = run.b;
    return residuals(pr, b, r);
}

namespace {

// The samples between neighbouring x of the data at which a pole is looked for.
constexpr int pole_samples = 32;
// A change across an interval this many times the span of the response and
// the fitted values is a jump, not a steep stretch of a smooth curve.
constexpr double jump_spans = 10;
// Bisections of an interval with a large change: a pole keeps the change
// large however short the interval, a smooth curve does not.
constexpr int jump_bisections = 60;

pole_interval pole_of(const fit_problem& pr, const Eigen::VectorXd& b) {
    pole_interval out;
    std::vector<int> used = pr.model->columns_used();
    if (used.size() != 1)
        return out;
    const int c = used[0];
    std::vector<double> x(pr.columns[static_cast<size_t>(c)].data(),
                          pr.columns[static_cast<size_t>(c)].data() + pr.n);
    std::sort(x.begin(), x.end());
    x.erase(std::unique(x.begin(), x.end()), x.end());
    if (x.size() < 2)
        return out;
    Eigen::ArrayXd fitted;
    pr.model->evaluate(pr.columns, pr.n, b, fitted);
    const double lo = std::min(pr.y.minCoeff(), fitted.minCoeff());
    const double hi = std::max(pr.y.maxCoeff(), fitted.maxCoeff());
    const double span = hi > lo ? hi - lo : std::max(1.0, std::abs(hi));
    std::vector<Eigen::ArrayXd> columns(pr.columns.size());
    auto value_at = [&](double at) {
        columns[static_cast<size_t>(c)] = Eigen::ArrayXd::Constant(1, at);
        Eigen::ArrayXd v;
        pr.model->evaluate(columns, 1, b, v);
        return v[0];
    };
    for (size_t i = 0; i + 1 < x.size(); ++i) {
        double previous_x = x[i], previous = value_at(x[i]);
        for (int k = 1; k <= pole_samples; ++k) {
            const double at = x[i] + (x[i + 1] - x[i]) * k / pole_samples;
            const double v = value_at(at);
            bool jump = !std::isfinite(v) || !std::isfinite(previous);
            if (!jump && std::abs(v - previous) > jump_spans * span) {
                // Bisect towards the larger change; it stays large at a pole.
                double a = previous_x, fa = previous, z = at, fz = v;
                for (int step = 0; step < jump_bisections; ++step) {
                    const double m = 0.5 * (a + z), fm = value_at(m);
                    if (!std::isfinite(fm))
                        break;
                    if (std::abs(fm - fa) > std::abs(fz - fm))
                        z = m, fz = fm;
                    else
                        a = m, fa = fm;
                }
                jump = !(std::abs(fz - fa) <= jump_spans * span);
            }
            if (jump) {
                out.found = true;
                out.column = c;
                out.from = x[i];
                out.to = x[i + 1];
                return out;
            }
            previous_x = at;
            previous = v;
        }
    }
    return out;
}

// A grid point counts as a lower minimum's basin when its sum of squares is
// below the converged fit's by more than this share: a smaller difference
// is within what solving the linear parameters at a grid point can round.
constexpr double markedly_lower = 1e-6;

Eigen::VectorXd clamped(const Eigen::VectorXd& b, const std::vector<double>& lower,
                        const std::vector<double>& upper) {
    if (lower.empty())
        return b;
    Eigen::VectorXd out = b;
    for (Eigen::Index j = 0; j < b.size(); ++j)
        out[j] = std::min(std::max(out[j], lower[static_cast<size_t>(j)]),
                          upper[static_cast<size_t>(j)]);
    return out;
}

std::string short_text(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

} // namespace

pole_interval find_pole(const formula& f, const std::vector<std::vector<double>>& columns,
                        const std::vector<double>& estimates) {
    fit_problem pr;
    std::string error;
    if (!make_problem(f, columns, pr, error) || estimates.size() != f.parameters.size())
        return {};
    return pole_of(pr, Eigen::Map<const Eigen::VectorXd>(estimates.data(), pr.p));
}

nonlinear_fit fit_nonlinear(const formula& f, const std::vector<std::vector<double>>& columns,
                            const std::vector<double>& starts, const solver_options& options) {
    nonlinear_fit out;
    out.parameters = f.parameters;
    fit_problem pr;
    if (!make_problem(f, columns, pr, out.error, options.low_parts, options.weights))
        return out;
    if (starts.size() != f.parameters.size()) {
        out.error = "one start value per parameter is needed";
        return out;
    }
    const bool bounded = !options.lower.empty();
    if (bounded &&
        (options.lower.size() != starts.size() || options.upper.size() != starts.size())) {
        out.error = "one bound of each side per parameter is needed";
        return out;
    }
    const Eigen::VectorXd b0 = clamped(
        Eigen::Map<const Eigen::VectorXd>(starts.data(), static_cast<Eigen::Index>(starts.size())),
        options.lower, options.upper);
    {
        Eigen::ArrayXd f0;
        f.model.evaluate(pr.columns, pr.n, b0, f0);
        if (!f0.allFinite()) {
            out.error = "the model is not finite at the start values";
            return out;
        }
    }
    out.ok = true;
    out.n = pr.counted;
    out.df = pr.counted - pr.p;
    const int max_evaluations =
        options.max_evaluations > 0 ? options.max_evaluations : 200 * static_cast<int>(pr.p + 1);

    std::vector<bool> linear = linear_parameters(f.model, pr.p);
    size_t free_count = static_cast<size_t>(std::count(linear.begin(), linear.end(), false));
    auto search_around = [&](const Eigen::VectorXd& centre, size_t keep, size_t* tried) {
        std::vector<std::vector<double>> candidates;
        for (Eigen::Index j = 0; j < pr.p; ++j) {
            std::vector<double> values = scale_candidates(centre[j], free_count);
            if (bounded)
                values.erase(std::remove_if(values.begin(), values.end(),
                                            [&](double v) {
                                                return v < options.lower[size_t(j)] ||
                                                       v > options.upper[size_t(j)];
                                            }),
                             values.end());
            if (values.empty())
                values.push_back(centre[j]);
            candidates.push_back(values);
        }
        return grid_search(pr, linear, centre, candidates, keep, 6000, tried);
    };
    const std::vector<Eigen::Index> all = every_parameter(pr.p);
    // One run from a start: a parameter at a bound is held there.
    auto run_from = [&](const Eigen::VectorXd& start, std::vector<bool>& held) {
        held.assign(static_cast<size_t>(pr.p), false);
        if (!bounded)
            return levenberg_marquardt(pr, start, max_evaluations, all);
        Eigen::VectorXd lo = Eigen::Map<const Eigen::VectorXd>(options.lower.data(), pr.p);
        Eigen::VectorXd hi = Eigen::Map<const Eigen::VectorXd>(options.upper.data(), pr.p);
        // The unconstrained method is the stronger one (and polished in
        // extended precision): where its run ends strictly inside the box,
        // the bounds do not bind there and that run is the fit.
        const Eigen::VectorXd inside = clamped(start, options.lower, options.upper);
        const run_result free_run = levenberg_marquardt(pr, inside, max_evaluations, all);
        if (!free_run.stopped && free_run.b.allFinite() &&
            (free_run.b.array() > lo.array()).all() && (free_run.b.array() < hi.array()).all())
            return free_run;
        bounded_run br = projected_levenberg_marquardt(pr, inside, lo, hi, max_evaluations);
        run_result run;
        run.b = br.b;
        run.evaluations = free_run.evaluations + br.evaluations;
        run.stopped = br.stopped;
        for (Eigen::Index j = 0; j < pr.p; ++j)
            held[size_t(j)] = run.b[j] <= lo[j] || run.b[j] >= hi[j];
        return run;
    };

    std::vector<Eigen::VectorXd> tries;
    if (options.search_first)
        tries = search_around(b0, 6, nullptr);
    tries.insert(tries.begin(), b0);

    run_result best_run;
    assessment best;
    std::vector<bool> best_held;
    std::string first_reason;
    bool searched = options.search_first;
    int evaluations = 0;
    for (size_t t = 0; t < tries.size(); ++t) {
        std::vector<bool> held;
        run_result run = run_from(tries[t], held);
        evaluations += run.evaluations;
        assessment a = assess(pr, run, held);
        if (t == 0)
            first_reason = a.reason;
        if (a.sound && (!best.sound || a.rss < best.rss)) {
            best = a;
            best_run = run;
            best_held = held;
            out.restarted = t > 0;
        }
        // A run that ran away is retried from starts where the linear
        // parameters are solved exactly for a grid of the others.
        if (t + 1 == tries.size() && !best.sound && !searched && options.restart) {
            searched = true;
            for (auto& s : search_around(b0, 6, nullptr))
                tries.push_back(s);
        }
    }
    // A converged fit is a local minimum: the grid around it, with the
    // linear parameters solved exactly at each point, finds the basin of a
    // lower one if there is one, and the fit goes on from there.
    if (best.sound && options.check_lower && free_count > 0) {
        size_t tried = 0;
        const double converged_rss = best.rss;
        for (const auto& s : search_around(best_run.b, 3, &tried)) {
            Eigen::VectorXd r;
            const double at =
                static_cast<double>(residuals(pr, clamped(s, options.lower, options.upper), r));
            if (!(at < best.rss * (1 - markedly_lower)))
                continue;
            std::vector<bool> held;
            run_result run = run_from(s, held);
            evaluations += run.evaluations;
            assessment a = assess(pr, run, held);
            if (a.sound && a.rss < best.rss * (1 - markedly_lower)) {
                best = a;
                best_run = run;
                best_held = held;
                out.restarted = true;
            }
        }
        out.grid_points = static_cast<int>(tried);
        if (best.rss < converged_rss)
            out.note = "the start values led to a local minimum with RSS " +
                       short_text(converged_rss) +
                       "; a grid over the non-linear parameters found this lower one";
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
    for (Eigen::Index j = 0; j < pr.p; ++j) {
        out.std_errors.push_back(std::sqrt(best.covariance(j, j)));
        int side = 0;
        if (best_held[size_t(j)])
            side = best_run.b[j] <= options.lower[size_t(j)] ? -1 : 1;
        out.at_bound.push_back(side);
    }
    out.pole = pole_of(pr, best_run.b);
    Eigen::ArrayXd fitted;
    f.model.evaluate(pr.columns, pr.n, best_run.b, fitted);
    out.fitted.assign(fitted.data(), fitted.data() + fitted.size());
    out.response.assign(pr.y.data(), pr.y.data() + pr.y.size());
    return out;
}

} // namespace models
