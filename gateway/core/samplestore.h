// Samples kept in an SQLite file until the broker has them, so a restart or a crash loses none.
#pragma once

#include "gateway/core/state.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// The rows the store holds are mirrored in memory, oldest first, so sending never waits on the
// disk and samples wait there while the file cannot be written. Every row is committed when it
// is added; a delivered row is deleted in the next commit. Asked to, it also keeps the newest
// samples, delivered or not, in a history table of their own (for HistoryRead over OPC UA,
// which reads the file on a connection of its own: storedhistory.h).
class SampleStore {
  public:
    // `log` writes one line: a printf format marked with kvex::tr and its arguments.
    using LogFunction = void (*)(const char *format, ...);

    SampleStore(std::string path, std::size_t maxRows, std::size_t maxBytes, LogFunction log);
    ~SampleStore();
    SampleStore(const SampleStore &) = delete;
    SampleStore &operator=(const SampleStore &) = delete;

    // Keep the newest `rows` samples in the history table too (0, the default: none), written
    // every 10 s by maintain() and at close(); before open(). Under the bound of --store-max-mb the history
    // goes before any unsent row.
    void keepHistory(std::size_t rows) { historyRows_ = rows; }

    // Creates the folder if needed and opens (or creates) the file; a damaged file is moved
    // aside and a new epoch begins. False only when the folder cannot be created: the store
    // then has nothing to keep samples in. A file that cannot be written leaves the samples in
    // memory and is tried again later.
    bool open(std::string *error);
    // What a stop leaves: the rows the file holds for the next start, and those only memory
    // held, which are lost with the process.
    struct Closing {
        std::size_t kept = 0;
        std::size_t lost = 0;
    };
    // Commits what is pending, marks the file as closed cleanly when all of it is there, and
    // closes it.
    Closing close();

    int64_t epoch() const { return epoch_; }
    uint32_t lastSeq() const { return lastSeq_; }
    uint64_t dropped() const { return dropped_; }
    // Rows held, sent or not.
    std::size_t size() const { return rows_.size(); }
    std::size_t unsent() const { return rows_.size() - inFlight_; }
    std::size_t capacity() const { return maxRows_; }
    // Empty while the file is written; otherwise what went wrong.
    const std::string &fault() const { return fault_; }
    const std::string &path() const { return path_; }

    // Keeps the sample, its seq given, under the store's epoch, and commits it; the oldest
    // unsent row goes when `maxRows` wait.
    void add(GatewaySample *sample);
    // Up to `count` of the oldest unsent rows, now counted as on their way.
    std::vector<GatewaySample> takeUnsent(std::size_t count, std::vector<int64_t> *ids);
    // The broker has these rows: they leave the store.
    void delivered(const std::vector<int64_t> &ids);
    // Rows on their way go back to unsent (the connection dropped).
    void resendAll() { inFlight_ = 0; }
    // The last `count` rows taken could not be sent.
    void giveBack(std::size_t count);
    // The signal reserve's trend beside the samples, so it outlives a restart: the newest
    // kReserveTrendKept readings stay. Nothing is kept while the file cannot be written.
    void addReading(const ReserveReading &reading);
    std::deque<ReserveReading> readings();
    // Once a second or so: syncs the journal to disk, keeps the file within its bound, tries a
    // failing file again.
    void maintain();

  private:
    struct Row {
        int64_t id;
        GatewaySample sample;
    };

    bool openFile(bool first);
    bool exec(const char *sql);
    bool hasEpochColumn();
    bool noteError(int rc, int expected);
    bool prepare();
    void finalize();
    bool trimHistory();
    bool writeHistory();
    void startSync();
    void stopSync();
    bool loadRows();
    bool writeAll();
    bool commitPending();
    void dropOldest(std::size_t count);
    void trimToBytes();
    void fail(const char *what);
    std::string moveAside();

    std::string path_;
    std::size_t maxRows_;
    std::size_t maxBytes_;
    LogFunction log_;

    int lockFd_ = -1;
    sqlite3 *db_ = nullptr;
    sqlite3_stmt *insert_ = nullptr;
    sqlite3_stmt *remove_ = nullptr;
    sqlite3_stmt *setMeta_ = nullptr;
    sqlite3_stmt *history_ = nullptr;
    std::size_t historyRows_ = 0;
    // Samples for the history not in the file yet.
    std::deque<GatewaySample> historyPending_;

    std::deque<Row> rows_;
    std::size_t inFlight_ = 0;
    // Rows added since the last commit that reached the file, and ids to delete there.
    std::size_t unwritten_ = 0;
    std::vector<int64_t> deletions_;
    int64_t nextId_ = 1;
    int64_t epoch_ = 0;
    // The epoch the file had when it was read at the start: its rows are in memory, so the file
    // is not moved aside when it comes back.
    int64_t loadedEpoch_ = 0;
    // The file has been marked as in use by this run (synced): only then may the next start
    // trust its counters.
    bool markedInUse_ = false;
    // The final commit of a clean stop, which marks the file closed cleanly.
    bool closing_ = false;
    uint32_t lastSeq_ = 0;
    uint64_t dropped_ = 0;
    uint32_t seqWritten_ = 0;
    uint64_t droppedWritten_ = 0;
    uint64_t commits_ = 0;
    std::atomic<uint64_t> checkpoints_{0};
    std::thread syncThread_;
    std::mutex syncMutex_;
    std::condition_variable syncWake_;
    bool syncStop_ = false;
    std::string syncError_; // what the checkpoint thread met; guarded by syncMutex_
    std::string fault_;
    std::string error_;
    double nextRetry_ = 0.0;
    double lastCommit_ = 0.0;
    double lastSync_ = 0.0;
    double lastHistoryTrim_ = 0.0;
    double lastHistoryWrite_ = 0.0;
};
