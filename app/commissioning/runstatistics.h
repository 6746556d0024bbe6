// Statistics of the measured value over one run: Welford's running mean and variance, extremes,
// the share inside the tolerance window, counts per value for the histogram, and the process
// capability against the window. Constant work per sample.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class RunStatistics {
  public:
    RunStatistics();

    void reset();
    void add(double value, bool inTolerance);

    long count() const { return count_; }
    // NaN while there is no sample.
    double mean() const;
    // The sample standard deviation (n - 1); NaN below two samples.
    double standardDeviation() const;
    double minimum() const;
    double maximum() const;
    // Share of the samples inside the tolerance window, 0 to 1; NaN while there is no sample.
    double inToleranceShare() const;

    // Samples per bin for `bins` bins of `width` whole units from `lower`; values are counted
    // at their nearest whole unit.
    std::vector<long> binCounts(long lower, long width, int bins) const;

  private:
    long count_ = 0;
    long inTolerance_ = 0;
    double mean_ = 0.0;
    double m2_ = 0.0; // sum of squared deviations from the running mean
    double min_ = 0.0;
    double max_ = 0.0;
    // Samples per whole unit over the sensor's 16-bit range, so the histogram can be regrouped
    // at any time without keeping the samples.
    std::vector<std::uint32_t> perUnit_;
};

// Process capability against a tolerance window [lower, upper]. Cp and Cpk are NaN when they
// cannot be given, with the reason for the operator in `reason`.
struct Capability {
    double cp;
    double cpk;
    std::string reason;
};
Capability processCapability(const RunStatistics &stats, bool hasWindow, double lower,
                             double upper);

// The histogram's bins: about `target` bins of whole units over the samples' range, widened to
// the tolerance window [lower, upper] when there is one. Empty counts while there is no sample.
// The panel's and the recording window's histograms.
constexpr int kHistogramBins = 40;
struct HistogramBins {
    double lower = 0.0; // the first bin's left edge
    long width = 1;
    std::vector<long> counts;
};
HistogramBins histogramBins(const RunStatistics &stats, bool window, long lower, long upper,
                            int target);
