#include "fitted_model.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>

namespace models {

namespace {

// The triangle of the chosen columns of a design whose full triangle is
// given: X_kept'X_kept is R[:, kept]'R[:, kept], whose own QR gives it.
Eigen::MatrixXd triangle_of_columns(const Eigen::MatrixXd& full, const std::vector<int>& kept) {
    Eigen::MatrixXd chosen(full.rows(), static_cast<Eigen::Index>(kept.size()));
    for (std::size_t a = 0; a < kept.size(); ++a)
        chosen.col(static_cast<Eigen::Index>(a)) = full.col(kept[a]);
    const Eigen::Index k = chosen.cols();
    Eigen::HouseholderQR<Eigen::MatrixXd> qr(chosen);
    return qr.matrixQR().topRows(k).triangularView<Eigen::Upper>();
}

class linear_model final : public fitted_model {
  public:
    linear_model(const design& d, const least_squares_fit& fit) : d_(d) {
        const int terms = d.terms();
        for (int j = 0; j < terms; ++j) {
            if (fit.aliased[j])
                continue;
            kept_.push_back(j);
            beta_.push_back(fit.shifted_coefficients[j]);
        }
        shifts_ = fit.shifts;
        shifts_.resize(static_cast<std::size_t>(d.predictors) + 1, 0.0);
        row_.resize(static_cast<std::size_t>(terms));
        triangle = triangle_of_columns(fit.triangle.topLeftCorner(terms, terms), kept_);
        df = fit.n - fit.rank;
        sigma = df > 0 ? std::sqrt(fit.rss / static_cast<double>(df)) : NAN;
    }

    bool evaluate(const double* row, double& fitted, double* gradient) const override {
        expand_terms<double>(d_, row, shifts_, [this](int j) -> double& {
            return row_[static_cast<std::size_t>(j)];
        });
        double value = shifts_[0];
        for (std::size_t a = 0; a < kept_.size(); ++a) {
            const double g = row_[static_cast<std::size_t>(kept_[a])];
            value += beta_[a] * g;
            if (gradient)
                gradient[a] = g;
        }
        fitted = value;
        return std::isfinite(value);
    }

  private:
    design d_;
    std::vector<int> kept_;
    std::vector<double> beta_, shifts_;
    mutable std::vector<double> row_; // the design row, reused
};

class nonlinear_model final : public fitted_model {
  public:
    nonlinear_model(const formula& f, const std::vector<double>& estimates, std::size_t names,
                    std::vector<std::size_t> places)
        : f_(f), b_(Eigen::Map<const Eigen::VectorXd>(estimates.data(),
                                                      static_cast<Eigen::Index>(estimates.size()))),
          places_(std::move(places)), one_(names) {}

    // The Jacobian's triangle at the estimates over every fitted row.
    void factorise(const std::vector<std::vector<double>>& data) {
        std::vector<Eigen::ArrayXd> all(data.size());
        Eigen::Index n = 0;
        for (std::size_t c = 0; c < data.size(); ++c) {
            all[c] = Eigen::Map<const Eigen::ArrayXd>(data[c].data(),
                                                      static_cast<Eigen::Index>(data[c].size()));
            n = std::max(n, all[c].size());
        }
        Eigen::ArrayXd values;
        Eigen::MatrixXd jacobian;
        f_.model.evaluate(all, n, b_, values, &jacobian);
        const Eigen::Index p = b_.size();
        if (jacobian.rows() < p || !jacobian.allFinite()) {
            triangle = Eigen::MatrixXd::Constant(p, p, NAN);
            return;
        }
        Eigen::HouseholderQR<Eigen::MatrixXd> qr(jacobian);
        triangle = qr.matrixQR().topRows(p).triangularView<Eigen::Upper>();
    }

    bool evaluate(const double* row, double& fitted, double* gradient) const override {
        put(row);
        f_.model.evaluate(one_, 1, b_, values_, gradient ? &jacobian_ : nullptr);
        if (values_.size() != 1 || !std::isfinite(values_[0]))
            return false;
        fitted = values_[0];
        if (gradient) {
            for (Eigen::Index a = 0; a < b_.size(); ++a)
                gradient[a] = jacobian_(0, a);
            return jacobian_.row(0).allFinite();
        }
        return true;
    }

    double observed(const double* row) const override {
        put(row);
        f_.response.evaluate(one_, 1, Eigen::VectorXd(), values_);
        return values_.size() == 1 ? values_[0] : NAN;
    }

  private:
    void put(const double* row) const {
        for (std::size_t c = 0; c < places_.size(); ++c)
            one_[places_[c]] = Eigen::ArrayXd::Constant(1, row[c]);
    }

    formula f_;
    Eigen::VectorXd b_;
    std::vector<std::size_t> places_;
    mutable std::vector<Eigen::ArrayXd> one_; // one row's columns, reused
    mutable Eigen::ArrayXd values_;
    mutable Eigen::MatrixXd jacobian_;
};

} // namespace

std::unique_ptr<fitted_model> linear_fitted_model(const design& d, const least_squares_fit& fit,
                                                  std::vector<std::size_t> columns) {
    auto model = std::make_unique<linear_model>(d, fit);
    model->columns = std::move(columns);
    return model;
}

std::unique_ptr<fitted_model>
nonlinear_fitted_model(const formula& f, const std::vector<double>& estimates,
                       std::vector<std::size_t> columns, std::vector<std::size_t> places,
                       std::size_t response_columns, double rss, long long df,
                       const std::vector<std::vector<double>>& data) {
    auto model = std::make_unique<nonlinear_model>(f, estimates, data.size(), std::move(places));
    model->columns = std::move(columns);
    model->response_columns = response_columns;
    model->df = df;
    model->sigma = df > 0 ? std::sqrt(rss / static_cast<double>(df)) : NAN;
    model->factorise(data);
    return model;
}

} // namespace models
