// The backlog's sending, pacing and bookkeeping; the store and the queue keep the samples.
#include "gateway/core/backlog.h"
#include "gateway/core/logging.h"
#include "gateway/core/storedhistory.h"
#include "gateway/options.h"
#include "platform/tr.h"
#include "platform/utility.h"

#include <algorithm>

namespace {

// Messages sent but not yet delivered; more wait in the queue, so memory stays bounded even
// when the broker accepts the connection but reads slowly.
constexpr std::size_t kMaxOutstanding = 200;
// How often repeated drops reach the log at most.
constexpr double kReportInterval = 10.0;

} // namespace

Backlog::Backlog(const GatewayOptions &options, Publish publish, Open open)
    : o_(options), publish_(std::move(publish)), open_(std::move(open)), queue_(options.queue) {}

bool Backlog::openStore(std::string *error) {
    if (o_.store.empty())
        return true;
    store_ = std::make_unique<SampleStore>(o_.store, o_.queue, o_.storeMaxMb << 20, logEvent);
    // The OPC UA face's HistoryRead reads the file's history, so a restart keeps it.
    store_->keepHistory(o_.opcua ? kHistoryKept : 0);
    return store_->open(error);
}

void Backlog::add(const GatewaySample &sample) {
    if (store_) {
        // Committed first; a full live batch goes out at once when nothing older waits, so the
        // store's samples leave in seq order.
        GatewaySample s = sample;
        store_->add(&s);
        if (++liveBatch_ < static_cast<std::size_t>(o_.batch))
            return;
        const std::size_t count = liveBatch_;
        liveBatch_ = 0;
        if (open_() && store_->unsent() == count && storeOutstanding_.size() < kMaxOutstanding)
            sendFromStore(count, false);
        return;
    }
    batch_.push_back(sample);
    if (batch_.size() < static_cast<std::size_t>(o_.batch))
        return;
    std::vector<GatewaySample> samples;
    samples.swap(batch_);
    if (open_() && outstanding_.size() < kMaxOutstanding && send(samples))
        return;
    for (GatewaySample &late : samples) {
        late.replay = true;
        queue_.push(late);
    }
}

bool Backlog::send(std::vector<GatewaySample> samples) {
    const int id = publish_(samples);
    if (id < 0)
        return false;
    outstanding_[id] = std::move(samples);
    return true;
}

bool Backlog::sendFromStore(std::size_t count, bool replay) {
    std::vector<int64_t> ids;
    std::vector<GatewaySample> samples = store_->takeUnsent(count, &ids);
    for (GatewaySample &s : samples)
        s.replay = replay;
    const int id = publish_(samples);
    if (id < 0) {
        store_->giveBack(samples.size());
        return false;
    }
    storeOutstanding_[id] = std::move(ids);
    return true;
}

// The store's rows of the live batch being filled are not backlog yet.
std::size_t Backlog::waiting() const {
    if (!store_)
        return queue_.size();
    return store_->unsent() > liveBatch_ ? store_->unsent() - liveBatch_ : 0;
}

void Backlog::pump(bool unpaced) {
    const double now = Timer();
    if (!open_() || waiting() == 0) {
        lastReplayTime_ = now;
        replayCredit_ = 0.0;
        return;
    }
    // Credit for at most a tenth of a second, so a stall is not followed by a burst.
    replayCredit_ = std::min(replayCredit_ + (now - lastReplayTime_) * o_.replayRate,
                             std::max(1.0, o_.replayRate / 10.0));
    lastReplayTime_ = now;
    while (store_ && (unpaced || replayCredit_ >= 1.0) && waiting() > 0 &&
           storeOutstanding_.size() < kMaxOutstanding) {
        const std::size_t count = std::min(waiting(), static_cast<std::size_t>(o_.batch));
        if (!sendFromStore(count, true))
            return;
        replayed_ += count;
        replayCredit_ -= 1.0;
    }
    while (!store_ && (unpaced || replayCredit_ >= 1.0) && !queue_.empty() &&
           outstanding_.size() < kMaxOutstanding) {
        std::vector<GatewaySample> samples = queue_.take(static_cast<std::size_t>(o_.batch));
        const std::size_t count = samples.size();
        if (!send(samples)) {
            queue_.requeue(std::move(samples));
            return;
        }
        replayed_ += count;
        replayCredit_ -= 1.0;
    }
    if (waiting() == 0 && replayed_ > 0) {
        logEvent(kvex::tr("backlog sent: %llu samples"),
                 static_cast<unsigned long long>(replayed_));
        replayed_ = 0;
    }
}

void Backlog::connected() {
    if (size() > 0)
        logEvent(kvex::tr("sending backlog of %zu samples"), size());
    lastReplayTime_ = Timer();
    replayCredit_ = 0.0;
}

void Backlog::lost() {
    std::vector<GatewaySample> undelivered;
    for (auto &entry : outstanding_)
        for (GatewaySample &s : entry.second) {
            s.replay = true;
            undelivered.push_back(s);
        }
    outstanding_.clear();
    queue_.requeue(std::move(undelivered));
    if (store_) {
        storeOutstanding_.clear();
        store_->resendAll();
    }
}

void Backlog::delivered(int id) {
    outstanding_.erase(id);
    if (!store_)
        return;
    const auto sent = storeOutstanding_.find(id);
    if (sent != storeOutstanding_.end()) {
        store_->delivered(sent->second);
        storeOutstanding_.erase(sent);
    }
}

void Backlog::maintain() {
    if (store_)
        store_->maintain();
    const uint64_t dropped = this->dropped();
    const double now = Timer();
    if (dropped == droppedReported_ || now - lastDropReport_ < kReportInterval)
        return;
    logEvent(kvex::tr("samples dropped: %llu so far (queue of %zu full)"),
             static_cast<unsigned long long>(dropped), queue_.capacity());
    droppedReported_ = dropped;
    lastDropReport_ = now;
}

void Backlog::flushBatch() {
    if (!batch_.empty()) {
        std::vector<GatewaySample> rest;
        rest.swap(batch_);
        if (!(open_() && send(rest)))
            for (GatewaySample &s : rest) {
                s.replay = true;
                queue_.push(s);
            }
    }
    // The live batch being filled is already in the store.
    liveBatch_ = 0;
}

bool Backlog::drained() const {
    return size() == 0 && outstanding_.empty();
}

void Backlog::close() {
    if (store_) {
        const std::string fault = store_->fault();
        const SampleStore::Closing closing = store_->close();
        if (closing.kept > 0)
            logEvent(kvex::tr("%zu samples kept in the store %s for the next start"), closing.kept,
                     store_->path().c_str());
        if (closing.lost > 0) {
            lostStoreFailing_ += closing.lost;
            logEvent(kvex::tr("%zu samples lost at the stop: the store %s could not be written "
                              "(%s)"),
                     closing.lost, store_->path().c_str(),
                     fault.empty() ? kvex::trNow("its last commit failed") : fault.c_str());
        }
    }
    std::size_t unsent = queue_.size();
    for (const auto &entry : outstanding_)
        unsent += entry.second.size();
    if (unsent > 0) {
        lostAtStop_ += unsent;
        logEvent(kvex::tr("%zu samples lost at the stop: not published, and no --store to keep "
                          "them"),
                 unsent);
    }
}

std::size_t Backlog::size() const {
    return store_ ? store_->size() : queue_.size();
}

uint64_t Backlog::dropped() const {
    return store_ ? store_->dropped() : queue_.dropped();
}

std::string Backlog::storeWord() const {
    if (!store_)
        return "off";
    return store_->fault().empty() ? "ok" : "failing: " + store_->fault();
}
