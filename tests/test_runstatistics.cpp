// The run statistics against a two-pass reference, and the rules that leave Cp and Cpk blank.
#include "app/commissioning/runstatistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

namespace {

TEST(RunStatisticsTest, MatchesATwoPassReferenceOverAMillionSamples) {
    // Far from zero and narrow, where a naive sum of squares loses its digits.
    std::mt19937 random(20261208);
    std::normal_distribution<double> noise(0.0, 3.7);
    std::vector<double> values(1000000);
    for (double &v : values)
        v = 40000.0 + noise(random);

    RunStatistics stats;
    long inside = 0;
    for (double v : values) {
        const bool in = std::fabs(v - 40000.0) <= 5.0;
        inside += in;
        stats.add(v, in);
    }

    const double n = static_cast<double>(values.size());
    const double mean = std::accumulate(values.begin(), values.end(), 0.0) / n;
    double squares = 0.0;
    for (double v : values)
        squares += (v - mean) * (v - mean);
    const double sigma = std::sqrt(squares / (n - 1));

    EXPECT_EQ(stats.count(), 1000000);
    EXPECT_NEAR(stats.mean(), mean, 1e-9 * mean);
    EXPECT_NEAR(stats.standardDeviation(), sigma, 1e-9 * sigma);
    EXPECT_EQ(stats.minimum(), *std::min_element(values.begin(), values.end()));
    EXPECT_EQ(stats.maximum(), *std::max_element(values.begin(), values.end()));
    EXPECT_DOUBLE_EQ(stats.inToleranceShare(), inside / n);

    const Capability c = processCapability(stats, true, 39990.0, 40012.0);
    EXPECT_NEAR(c.cp, 22.0 / (6 * sigma), 1e-9);
    EXPECT_NEAR(c.cpk, std::min(40012.0 - mean, mean - 39990.0) / (3 * sigma), 1e-9);
    EXPECT_TRUE(c.reason.empty());

    // The histogram holds every sample at its nearest whole unit.
    const std::vector<long> bins = stats.binCounts(39900, 10, 20);
    EXPECT_EQ(std::accumulate(bins.begin(), bins.end(), 0L), 1000000);
    const long atMean = std::count_if(values.begin(), values.end(), [](double v) {
        return std::lround(v) >= 40000 && std::lround(v) < 40010;
    });
    EXPECT_EQ(bins[10], atMean);
}

TEST(RunStatisticsTest, CapabilityIsBlankWithAReasonWhereItCannotBeGiven) {
    struct Case {
        const char *what;
        std::vector<double> values;
        bool window;
        const char *reason;
    };
    const Case cases[] = {
        {"no sample", {}, true, "at least two"},
        {"one sample", {500}, true, "at least two"},
        {"all equal", {500, 500, 500, 500}, true, "standard deviation 0"},
        {"two windows", {490, 500, 510}, false, "Two tolerance windows"},
    };
    for (const Case &c : cases) {
        RunStatistics stats;
        for (double v : c.values)
            stats.add(v, true);
        const Capability capability = processCapability(stats, c.window, 400, 600);
        EXPECT_TRUE(std::isnan(capability.cp)) << c.what;
        EXPECT_TRUE(std::isnan(capability.cpk)) << c.what;
        EXPECT_NE(capability.reason.find(c.reason), std::string::npos) << c.what;
    }

    RunStatistics empty;
    EXPECT_TRUE(std::isnan(empty.mean()));
    EXPECT_TRUE(std::isnan(empty.inToleranceShare()));
    empty.add(7, false);
    EXPECT_EQ(empty.mean(), 7);
    EXPECT_TRUE(std::isnan(empty.standardDeviation()));
    empty.reset();
    EXPECT_EQ(empty.count(), 0);
    EXPECT_EQ(empty.binCounts(0, 1, 10), std::vector<long>(10, 0));
}

TEST(RunStatisticsTest, BinsGroupWholeUnitsAndIgnoreTheRangeOutside) {
    RunStatistics stats;
    for (double v : {-3.0, 0.0, 0.4, 1.6, 5.0, 9.0, 65535.0, 70000.0})
        stats.add(v, false);
    // -3 counts at 0, 70000 at 65535: the sensor's words cannot go beyond.
    EXPECT_EQ(stats.binCounts(0, 5, 2), (std::vector<long>{4, 2}));
    EXPECT_EQ(stats.binCounts(-10, 5, 3), (std::vector<long>{0, 0, 4}));
    EXPECT_EQ(stats.binCounts(65530, 10, 1), (std::vector<long>{2}));
}

} // namespace
