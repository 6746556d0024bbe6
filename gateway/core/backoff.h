// Reconnect delays: doubling from a first delay up to a limit, each spread by random jitter so
// many gateways that lost one broker do not all come back in the same instant.
#pragma once

#include <cstdint>
#include <random>

class Backoff {
  public:
    Backoff(double firstSeconds, double maxSeconds, uint32_t seed)
        : first_(firstSeconds), max_(maxSeconds), rng_(seed) {}

    // The delay before the next attempt; each call doubles the base.
    double next();
    void reset() { attempts_ = 0; }

  private:
    double first_, max_;
    int attempts_ = 0;
    std::mt19937 rng_;
};
