// The bounded sample queue.
#include "gateway/core/samplequeue.h"

#include <algorithm>

void SampleQueue::push(const GatewaySample &sample) {
    if (samples_.size() >= capacity_) {
        samples_.pop_front();
        ++dropped_;
    }
    samples_.push_back(sample);
}

void SampleQueue::requeue(std::vector<GatewaySample> samples) {
    std::sort(samples.begin(), samples.end(),
              [](const GatewaySample &a, const GatewaySample &b) { return a.seq < b.seq; });
    const std::size_t room = capacity_ > samples_.size() ? capacity_ - samples_.size() : 0;
    // The requeued samples are older than the queued ones, so the oldest of them go first.
    const std::size_t skip = samples.size() > room ? samples.size() - room : 0;
    dropped_ += skip;
    samples_.insert(samples_.begin(), samples.begin() + static_cast<std::ptrdiff_t>(skip),
                    samples.end());
}

std::vector<GatewaySample> SampleQueue::take(std::size_t count) {
    const std::size_t n = std::min(count, samples_.size());
    std::vector<GatewaySample> taken(samples_.begin(),
                                     samples_.begin() + static_cast<std::ptrdiff_t>(n));
    samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(n));
    return taken;
}
