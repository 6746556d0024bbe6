// Samples waiting for the broker: bounded, the oldest dropped first and counted.
#pragma once

#include "gateway/core/state.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

class SampleQueue {
  public:
    explicit SampleQueue(std::size_t capacity) : capacity_(capacity) {}

    // Adds the newest sample, dropping the oldest when full.
    void push(const GatewaySample &sample);
    // Puts samples that were sent but not delivered back in front, in seq order; those that no
    // longer fit are dropped like the oldest.
    void requeue(std::vector<GatewaySample> samples);
    // Up to `count` of the oldest samples, taken out.
    std::vector<GatewaySample> take(std::size_t count);

    std::size_t size() const { return samples_.size(); }
    bool empty() const { return samples_.empty(); }
    std::size_t capacity() const { return capacity_; }
    uint64_t dropped() const { return dropped_; }
    void countDropped(uint64_t n) { dropped_ += n; }

  private:
    std::size_t capacity_;
    std::deque<GatewaySample> samples_;
    uint64_t dropped_ = 0;
};
