// Exponential back-off with jitter of up to a quarter of the delay either way.
#include "gateway/core/backoff.h"

#include <algorithm>
#include <cmath>

double Backoff::next() {
    const double base = std::min(max_, first_ * std::pow(2.0, attempts_));
    if (base < max_)
        ++attempts_;
    std::uniform_real_distribution<double> spread(0.75, 1.25);
    return base * spread(rng_);
}
