// Running statistics of a run and its process capability.
#include "app/commissioning/runstatistics.h"
#include "platform/tr.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr long kUnits = 65536;
} // namespace

RunStatistics::RunStatistics() : perUnit_(kUnits, 0) {}

void RunStatistics::reset() {
    count_ = inTolerance_ = 0;
    mean_ = m2_ = min_ = max_ = 0.0;
    std::fill(perUnit_.begin(), perUnit_.end(), 0);
}

void RunStatistics::add(double value, bool inTolerance) {
    ++count_;
    inTolerance_ += inTolerance ? 1 : 0;
    const double delta = value - mean_;
    mean_ += delta / static_cast<double>(count_);
    m2_ += delta * (value - mean_);
    if (count_ == 1) {
        min_ = max_ = value;
    } else {
        min_ = std::min(min_, value);
        max_ = std::max(max_, value);
    }
    const long unit = std::clamp(std::lround(value), 0L, kUnits - 1);
    ++perUnit_[static_cast<std::size_t>(unit)];
}

double RunStatistics::mean() const {
    return count_ > 0 ? mean_ : kNaN;
}

double RunStatistics::standardDeviation() const {
    return count_ > 1 ? std::sqrt(m2_ / static_cast<double>(count_ - 1)) : kNaN;
}

double RunStatistics::minimum() const {
    return count_ > 0 ? min_ : kNaN;
}

double RunStatistics::maximum() const {
    return count_ > 0 ? max_ : kNaN;
}

double RunStatistics::inToleranceShare() const {
    return count_ > 0 ? static_cast<double>(inTolerance_) / static_cast<double>(count_) : kNaN;
}

std::vector<long> RunStatistics::binCounts(long lower, long width, int bins) const {
    std::vector<long> counts(static_cast<std::size_t>(std::max(bins, 0)), 0);
    if (width < 1)
        return counts;
    for (int bin = 0; bin < bins; ++bin) {
        const long from = std::max(lower + bin * width, 0L);
        const long to = std::min(lower + (bin + 1) * width, kUnits);
        for (long unit = from; unit < to; ++unit)
            counts[static_cast<std::size_t>(bin)] += perUnit_[static_cast<std::size_t>(unit)];
    }
    return counts;
}

Capability processCapability(const RunStatistics &stats, bool hasWindow, double lower,
                             double upper) {
    if (!hasWindow)
        return {kNaN, kNaN,
                kvex::tr("Two tolerance windows (one per edge): no single window to rate")};
    if (stats.count() < 2)
        return {kNaN, kNaN, kvex::tr("Needs at least two samples")};
    const double sigma = stats.standardDeviation();
    if (!(sigma > 0.0) || !std::isfinite(sigma))
        return {kNaN, kNaN, kvex::tr("All samples are equal (standard deviation 0)")};
    const double mean = stats.mean();
    return {(upper - lower) / (6.0 * sigma), std::min(upper - mean, mean - lower) / (3.0 * sigma),
            ""};
}

HistogramBins histogramBins(const RunStatistics &stats, bool window, long lower, long upper,
                            int target) {
    HistogramBins bins;
    if (stats.count() == 0 || target < 1)
        return bins;
    long from = std::lround(stats.minimum()), to = std::lround(stats.maximum());
    if (window) {
        from = std::min(from, lower);
        to = std::max(to, upper);
    }
    bins.width = std::max(1L, (to - from + target) / target);
    bins.lower = static_cast<double>(from) - 0.5;
    bins.counts = stats.binCounts(from, bins.width, static_cast<int>((to - from) / bins.width + 1));
    return bins;
}
