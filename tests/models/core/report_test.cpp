#include "report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace models;

TEST(Report, JsonNumbersStringsAndNulls) {
    EXPECT_EQ(json_number(0.1), "0.10000000000000001");
    EXPECT_EQ(json_number(std::numeric_limits<double>::quiet_NaN()), "null");
    EXPECT_EQ(json_number(-std::numeric_limits<double>::infinity()), "null");
    EXPECT_EQ(json_string("a\"b\\c\nd\x01"), "\"a\\\"b\\\\c\\nd\\u0001\"");
    EXPECT_EQ(json_string("caf\xe9 \xc3\xa9"), "\"caf\xc3\xa9 \xc3\xa9\""); // ANSI and UTF-8
}

TEST(Report, StatisticsOfOneCoefficient) {
    const coefficient row = make_coefficient("x", 2.0, 0.5, 10);
    EXPECT_DOUBLE_EQ(row.t, 4.0);
    EXPECT_NEAR(row.p, 0.0025183326247366930, 1e-15); // two-sided t(10) tail at 4
    EXPECT_NEAR(row.ci_low, 2.0 - 2.2281388519862747 * 0.5, 1e-14);
    const coefficient exact = make_coefficient("x", 2.0, 0.0, 10);
    EXPECT_TRUE(std::isnan(exact.t));
    EXPECT_EQ(exact.ci_low, 2.0);
    EXPECT_TRUE(std::isnan(make_coefficient("x", 2.0, 0.5, 0).p));
    const information info = gaussian_information(8.0, 16.0, 2);
    EXPECT_NEAR(info.log_likelihood, -8.0 * (std::log(2 * M_PI * 0.5) + 1), 1e-12);
    EXPECT_NEAR(info.aic, -2 * info.log_likelihood + 6, 1e-12);
}

TEST(Report, JsonHoldsEveryMemberInOrder) {
    fit_report r;
    r.program = "ROSKA_mid_15";
    r.model = "linear";
    r.estimates.push_back(make_coefficient("(intercept)", 1, 0.5, 3));
    r.aliased = {"x3"};
    r.extra_json = {{"converged", "true"}};
    const std::string json = json_report(r);
    const char* members[] = {"\"program\"",
                             "\"model\"",
                             "\"data\"",
                             "\"response\"",
                             "\"formula\"",
                             "\"estimates\"",
                             "\"n\"",
                             "\"df\"",
                             "\"rss\"",
                             "\"residual_sd\"",
                             "\"r_squared\"",
                             "\"adj_r_squared\"",
                             "\"f\"",
                             "\"f_p\"",
                             "\"log_likelihood\"",
                             "\"aic\"",
                             "\"bic\"",
                             "\"aliased\": [\"x3\"]",
                             "\"converged\": true"};
    std::size_t at = 0;
    for (const char* member : members) {
        const std::size_t found = json.find(member, at);
        ASSERT_NE(found, std::string::npos) << member << " missing or out of order in " << json;
        at = found;
    }
}
