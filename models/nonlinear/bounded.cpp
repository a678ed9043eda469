// The projected Levenberg-Marquardt of search.h: box constraints on the
// parameters of a non-linear least-squares problem.
#include "search.h"

#include <cmath>
#include <limits>

namespace models {

namespace {

constexpr double eps = std::numeric_limits<double>::epsilon();
// A step whose predicted or actual reduction of the sum of squares is within
// this share of it changes nothing beyond rounding.
constexpr double rounding_share = 4 * eps;
// The damping starts at this share of the largest diagonal of J^T J.
constexpr double initial_damping = 1e-3;
// Damping beyond this multiple of the largest diagonal means no step along
// the projected gradient lowers the sum of squares: the point is a minimum
// to rounding.
constexpr double damping_limit = 1e16;

Eigen::VectorXd project(const Eigen::VectorXd& b, const Eigen::VectorXd& lower,
                        const Eigen::VectorXd& upper) {
    return b.cwiseMax(lower).cwiseMin(upper);
}

} // namespace

bounded_run projected_levenberg_marquardt(const fit_problem& pr, Eigen::VectorXd b,
                                          const Eigen::VectorXd& lower,
                                          const Eigen::VectorXd& upper, int max_evaluations) {
    bounded_run run;
    b = project(b, lower, upper);
    Eigen::VectorXd r;
    Eigen::MatrixXd jac;
    weighted_model(pr, b, r, &jac);
    run.evaluations = 1;
    double rss = r.squaredNorm();
    double damping = -1;
    while (std::isfinite(rss)) {
        if (run.evaluations >= max_evaluations) {
            run.stopped = true;
            break;
        }
        const Eigen::VectorXd gradient = jac.transpose() * r;
        // Held: at a bound with the descent direction pointing out of the box.
        std::vector<Eigen::Index> free;
        for (Eigen::Index j = 0; j < pr.p; ++j) {
            const bool held =
                (b[j] <= lower[j] && gradient[j] > 0) || (b[j] >= upper[j] && gradient[j] < 0);
            if (!held)
                free.push_back(j);
        }
        if (free.empty())
            break;
        const Eigen::MatrixXd part = jac(Eigen::all, free);
        Eigen::VectorXd scale = part.colwise().norm();
        for (Eigen::Index k = 0; k < scale.size(); ++k)
            if (!(scale[k] > 0))
                scale[k] = 1;
        if (damping < 0)
            damping = initial_damping * scale.cwiseAbs2().maxCoeff();
        // The damped step from the QR of [J; sqrt(damping) D] against [-r; 0],
        // with D the column norms (Marquardt's scaling); J^T J is never formed.
        const Eigen::Index q = part.cols();
        Eigen::MatrixXd augmented(pr.n + q, q);
        augmented.topRows(pr.n) = part;
        augmented.bottomRows(q) = (std::sqrt(damping) * scale).asDiagonal();
        Eigen::VectorXd target = Eigen::VectorXd::Zero(pr.n + q);
        target.head(pr.n) = -r;
        const Eigen::VectorXd step = augmented.colPivHouseholderQr().solve(target);
        Eigen::VectorXd next = b;
        for (Eigen::Index k = 0; k < q; ++k)
            next[free[static_cast<size_t>(k)]] += step[k];
        next = project(next, lower, upper);
        const Eigen::VectorXd moved = next - b;
        const double predicted = rss - (r + jac * moved).squaredNorm();
        if (!(predicted > rounding_share * rss) || moved.norm() <= eps * (b.norm() + eps))
            break;
        Eigen::VectorXd r_next;
        weighted_model(pr, next, r_next);
        ++run.evaluations;
        const double rss_next = r_next.squaredNorm();
        if (std::isfinite(rss_next) && rss_next < rss) {
            const double gain = (rss - rss_next) / predicted;
            const bool settled = rss - rss_next <= rounding_share * rss;
            b = next;
            r = r_next;
            rss = rss_next;
            weighted_model(pr, b, r, &jac);
            damping *= gain > 0.75 ? 1.0 / 3 : (gain > 0.25 ? 1.0 : 2.0);
            if (settled)
                break;
        } else {
            damping *= 4;
            if (damping > damping_limit * scale.cwiseAbs2().maxCoeff())
                break;
        }
    }
    run.b = b;
    return run;
}

} // namespace models
