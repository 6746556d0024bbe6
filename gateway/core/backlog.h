// The samples on their way to the broker: a bounded queue in memory or the store on disk, the
// messages sent but not yet delivered, and the paced replay of what waited while the broker was
// away. Every face that speaks MQTT gets the same batches, in seq order.
#pragma once

#include "gateway/core/samplequeue.h"
#include "gateway/core/samplestore.h"
#include "gateway/core/state.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct GatewayOptions;

class Backlog {
  public:
    // Sends one batch over every face that takes samples now; the id of the last message, or
    // -1 when none took it.
    using Publish = std::function<int(const std::vector<GatewaySample> &)>;
    // Whether samples may go now (the broker is up and a face takes them).
    using Open = std::function<bool()>;

    Backlog(const GatewayOptions &options, Publish publish, Open open);

    // With --store: opens the file (false with a reason when it cannot be). Without: true.
    bool openStore(std::string *error);
    SampleStore *store() { return store_.get(); }

    // A new sample: into the store first, or into the live batch; a full batch goes at once
    // when nothing older waits.
    void add(const GatewaySample &sample);
    // Sends what waits, at --replay-rate unless `unpaced`.
    void pump(bool unpaced);
    void connected();
    void lost();
    void delivered(int id);
    // Once a second: the store's upkeep and the drops' log line.
    void maintain();

    // The stop: the live batch goes or waits; then whether anything waits or is on its way, and
    // at the end what the store keeps and what is counted as dropped.
    void flushBatch();
    bool drained() const;
    void close();

    std::size_t size() const;
    uint64_t dropped() const;
    // Samples the stop could not keep: unpublished without a store, or held only in memory
    // while the store could not be written.
    uint64_t lostAtStop() const { return lostAtStop_; }
    uint64_t lostStoreFailing() const { return lostStoreFailing_; }
    // "off", "ok" or "failing: " and what failed.
    std::string storeWord() const;

  private:
    bool send(std::vector<GatewaySample> samples);
    bool sendFromStore(std::size_t count, bool replay);
    std::size_t waiting() const;

    const GatewayOptions &o_;
    Publish publish_;
    Open open_;
    SampleQueue queue_;
    std::unique_ptr<SampleStore> store_;
    // Messages sent but not delivered: their samples (memory) or store rows (disk).
    std::map<int, std::vector<GatewaySample>> outstanding_;
    std::map<int, std::vector<int64_t>> storeOutstanding_;
    // The live batch being filled: samples (memory) or a count of store rows (disk).
    std::vector<GatewaySample> batch_;
    std::size_t liveBatch_ = 0;
    double replayCredit_ = 0.0;
    double lastReplayTime_ = 0.0;
    uint64_t replayed_ = 0;
    uint64_t droppedReported_ = 0;
    uint64_t lostAtStop_ = 0;
    uint64_t lostStoreFailing_ = 0;
    double lastDropReport_ = -1e9;
};
