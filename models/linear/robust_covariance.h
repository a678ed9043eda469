// Heteroskedasticity-consistent covariance of least-squares coefficients,
// the sandwich B M B with B = (X'X)^-1 and M = sum of w_i x_i x_i', as R's
// sandwich::vcovHC types:
//   HC0 (White): w_i = e_i²;  HC1: HC0 * n / (n - k);
//   HC2: e_i² / (1 - h_i);    HC3 (MacKinnon-White): e_i² / (1 - h_i)²,
// with h_i the leverage of row i. The rows come in a second pass over the
// data, after the fit. Work is done in centred coordinates (each column
// less its mean when the first column is an intercept of ones), where the
// triangle's first row is known exactly, then carried back.
#pragma once

#include <Eigen/Core>

#include <string>
#include <vector>

namespace models {

enum class hc_type { hc0, hc1, hc2, hc3 };

// "hc0".."hc3" (any case); false for any other text.
bool parse_hc_type(const std::string& text, hc_type& type);

class sandwich_covariance {
  public:
    // kept: the triangle of the k kept columns then y (kept_triangle());
    // beta: their coefficients; means: per kept column, its mean over the
    // rows (used when centred); centred: the first kept column is the
    // intercept's column of ones, so the others are centred on their means.
    sandwich_covariance(const Eigen::MatrixXd& kept, Eigen::VectorXd beta,
                        std::vector<double> means, bool centred, hc_type type);
    // One row: y and its k kept design columns.
    void add(double y, const double* x);
    // The covariance of the kept coefficients, in the data's own terms.
    Eigen::MatrixXd covariance() const;

  private:
    // Sums and products in extended precision: the residuals, the meat's
    // rank updates and the bread's triangular solves each round, and a
    // standard error of a term correlated with others amplifies that.
    using long_matrix = Eigen::Matrix<long double, Eigen::Dynamic, Eigen::Dynamic>;
    using long_vector = Eigen::Matrix<long double, Eigen::Dynamic, 1>;
    long_matrix r_; // the triangle in centred coordinates (k x k)
    long_vector beta_;
    std::vector<double> means_;
    bool centred_;
    hc_type type_;
    long_matrix meat_;
    long_vector z_, u_;
    long long n_ = 0;
};

} // namespace models
