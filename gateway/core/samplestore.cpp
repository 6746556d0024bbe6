// The sample store on SQLite: WAL journal, a commit per sample, a synced checkpoint a second.
#include "gateway/core/samplestore.h"
#include "app/measurement.h"
#include "gateway/core/sampletime.h"
#include "platform/tr.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sqlite3.h>
#include <sys/file.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

// How long a failing file rests before it is tried again.
constexpr double kRetrySeconds = 5.0;
// Deletions of delivered rows wait at most this long for the next sample's commit.
constexpr double kDeleteDelay = 0.2;
// How often the journal is checkpointed, which syncs it: what a power cut may take.
constexpr double kSyncInterval = 1.0;
// How often the history's new rows are written, in one commit.
constexpr double kHistoryInterval = 10.0;
// Distinguishes the gateway's file from any other SQLite file ("KVXS").
constexpr int kApplicationId = 0x4b565853;

double monotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t newEpoch() {
    // Microseconds of the wall clock: new with each file, and larger than an older file's.
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A sample's nine measured columns (left, right, value, um, setpoint, tol, in_tol, ana_max,
// ana_min) from column `first` on, in the samples' and the history's tables alike.
void bindMeasurement(sqlite3_stmt *statement, int first, const GatewaySample &s) {
    const int words[] = {s.left, s.right, s.value};
    for (int k = 0; k < 3; ++k)
        sqlite3_bind_int(statement, first + k, words[k]);
    if (std::isnan(s.um))
        sqlite3_bind_null(statement, first + 3);
    else
        sqlite3_bind_double(statement, first + 3, s.um);
    const int more[] = {s.setpoint, s.tol, s.inTol ? 1 : 0, s.anaMax, s.anaMin};
    for (int k = 0; k < 5; ++k)
        sqlite3_bind_int(statement, first + 4 + k, more[k]);
}

std::string stampNow() {
    const std::tm utc = utcCalendar(std::time(nullptr));
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

} // namespace

SampleStore::SampleStore(std::string path, std::size_t maxRows, std::size_t maxBytes,
                         LogFunction log)
    : path_(std::move(path)), maxRows_(maxRows), maxBytes_(maxBytes), log_(log) {}

SampleStore::~SampleStore() {
    close();
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

bool SampleStore::open(std::string *error) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(path_).parent_path();
    std::error_code ec;
    if (!folder.empty() && !fs::is_directory(folder, ec)) {
        fs::create_directories(folder, ec);
        std::error_code again;
        if (!fs::is_directory(folder, again)) {
            *error = kvex::trArgs("cannot create the store's folder %1: %2",
                                  {folder.string(), ec ? ec.message() : std::strerror(ENOTDIR)});
            return false;
        }
    }
    if (fs::is_directory(path_, ec)) {
        *error = kvex::trArgs("the store %1 is a folder, not a file", {path_});
        return false;
    }
    // Two gateways given the same file would write over each other's rows. Where the lock file
    // cannot be made (a read-only folder) the gateway goes on without it.
    const std::string lockPath = path_ + ".lock";
    lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd_ < 0)
        lockFd_ = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (lockFd_ >= 0 && ::flock(lockFd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        *error = kvex::trArgs("the store %1 is in use by another process", {path_});
        return false;
    }
    openFile(true);
    if (!markedInUse_ && (epoch_ == 0 || epoch_ == loadedEpoch_)) {
        // The file cannot say which seqs this run gives out, so the next start could not resume
        // above them: this run's samples get an epoch of their own. Rows read from the file keep
        // theirs.
        epoch_ = newEpoch();
        log_(kvex::tr("store %s: new epoch %lld kept in memory until the file can be written; "
                      "%zu samples kept from before, next seq %u"),
             path_.c_str(), static_cast<long long>(epoch_), rows_.size(), lastSeq_ + 1);
    } else if (loadedEpoch_ != 0 && epoch_ != loadedEpoch_) {
        log_(kvex::tr("store %s was not closed cleanly: new epoch %lld; %zu samples kept from "
                      "epoch %lld, next seq %u"),
             path_.c_str(), static_cast<long long>(epoch_), rows_.size(),
             static_cast<long long>(loadedEpoch_), lastSeq_ + 1);
    } else {
        log_(kvex::tr("store %s: epoch %lld, %zu samples kept, next seq %u"), path_.c_str(),
             static_cast<long long>(epoch_), rows_.size(), lastSeq_ + 1);
    }
    return true;
}

bool SampleStore::exec(const char *sql) {
    return noteError(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr), SQLITE_OK);
}

// Keeps SQLite's words for the first error, before a rollback replaces them.
bool SampleStore::noteError(int rc, int expected) {
    if (rc == expected)
        return true;
    if (error_.empty()) {
        error_ = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        if (db_ && sqlite3_system_errno(db_) != 0)
            error_ += std::string(" (") + std::strerror(sqlite3_system_errno(db_)) + ")";
    }
    return false;
}

// Opens the file and brings it in line with the rows in memory. On the first open an existing
// file's epoch, counters and rows are taken over; later, the memory's rows are written over it.
bool SampleStore::openFile(bool first) {
    error_.clear();
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        fail("open");
        return false;
    }
    sqlite3_busy_timeout(db_, 1000);
    sqlite3_stmt *check = nullptr;
    std::string verdict;
    int rc = sqlite3_prepare_v2(db_, "PRAGMA integrity_check", -1, &check, nullptr);
    if (rc == SQLITE_OK) {
        while ((rc = sqlite3_step(check)) == SQLITE_ROW)
            verdict += reinterpret_cast<const char *>(sqlite3_column_text(check, 0));
        if (rc == SQLITE_DONE)
            rc = SQLITE_OK;
    }
    sqlite3_finalize(check);
    const bool damaged = (rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB ||
                         (rc == SQLITE_OK && verdict != "ok");
    if (!damaged && rc != SQLITE_OK) {
        fail("check");
        return false;
    }
    int64_t fileEpoch = 0;
    bool fileClean = false;
    std::size_t fileRows = 0;
    if (!damaged) {
        sqlite3_stmt *meta = nullptr;
        if (sqlite3_prepare_v2(db_, "SELECT key, value FROM meta", -1, &meta, nullptr) ==
            SQLITE_OK) {
            while (sqlite3_step(meta) == SQLITE_ROW) {
                const unsigned char *text = sqlite3_column_text(meta, 0);
                const std::string key = text ? reinterpret_cast<const char *>(text) : "";
                const int64_t value = sqlite3_column_int64(meta, 1);
                if (key == "epoch")
                    fileEpoch = value;
                else if (key == "seq" && first)
                    lastSeq_ = static_cast<uint32_t>(value);
                else if (key == "dropped" && first)
                    dropped_ = static_cast<uint64_t>(value);
                else if (key == "clean")
                    fileClean = value == 1;
            }
            sqlite3_finalize(meta);
        }
        if (first && fileEpoch != 0) {
            epoch_ = loadedEpoch_ = fileEpoch;
            if (!loadRows()) {
                fail("read");
                return false;
            }
            // A run that was killed, lost its power or could not write at its stop may have
            // published seqs the file never heard of; only a clean stop's counters are final.
            if (!fileClean)
                epoch_ = newEpoch();
        } else if (fileEpoch != 0 && fileEpoch != epoch_ && fileEpoch != loadedEpoch_) {
            sqlite3_stmt *count = nullptr;
            if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM samples", -1, &count, nullptr) ==
                    SQLITE_OK &&
                sqlite3_step(count) == SQLITE_ROW)
                fileRows = static_cast<std::size_t>(sqlite3_column_int64(count, 0));
            sqlite3_finalize(count);
        }
    }
    if (damaged || fileRows > 0) {
        // Kept for whoever wants to look; the samples of a file another epoch wrote are in it.
        const std::string aside = moveAside();
        if (damaged)
            log_(kvex::tr("store %s is damaged (%s): moved aside to %s; a new epoch begins"),
                 path_.c_str(), verdict.empty() ? sqlite3_errstr(rc) : verdict.c_str(),
                 aside.c_str());
        else
            log_(kvex::tr("store %s holds another epoch's samples: moved aside to %s"),
                 path_.c_str(), aside.c_str());
        if (first) {
            lastSeq_ = 0;
            dropped_ = 0;
        }
        if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK) {
            fail("open");
            return false;
        }
        sqlite3_busy_timeout(db_, 1000);
    }
    // WAL with synchronous=NORMAL: a commit is a write() into the journal, which a killed
    // process cannot take back; the sync waits for the checkpoint once a second.
    char limits[160];
    std::snprintf(limits, sizeof limits, "PRAGMA application_id=%d; PRAGMA journal_size_limit=%d;",
                  kApplicationId, 4 << 20);
    // Small pages: a sample's row is about 60 bytes, and every commit writes whole pages.
    // Incremental vacuum (new files only) lets a trim to --store-max-mb hand pages back.
    if (!exec("PRAGMA page_size=1024; PRAGMA auto_vacuum=INCREMENTAL; PRAGMA journal_mode=WAL; "
              "PRAGMA synchronous=NORMAL;"
              "PRAGMA wal_autocheckpoint=0;") ||
        !exec(limits) ||
        !exec("CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value INTEGER NOT NULL);"
              "CREATE TABLE IF NOT EXISTS samples(id INTEGER PRIMARY KEY, seq INTEGER NOT NULL,"
              " ts TEXT NOT NULL, left INTEGER, right INTEGER, value INTEGER, um REAL,"
              " setpoint INTEGER, tol INTEGER, in_tol INTEGER, ana_max INTEGER,"
              " ana_min INTEGER, epoch INTEGER);"
              "CREATE TABLE IF NOT EXISTS reserve(id INTEGER PRIMARY KEY, ts TEXT NOT NULL,"
              " ratio REAL, state TEXT NOT NULL, contrast REAL, saturated INTEGER);"
              // Keyed by the sample's time (ms since 1970), which HistoryRead asks by.
              "CREATE TABLE IF NOT EXISTS history(t INTEGER PRIMARY KEY, seq INTEGER NOT NULL,"
              " left INTEGER, right INTEGER, value INTEGER, um REAL, setpoint INTEGER,"
              " tol INTEGER, in_tol INTEGER, ana_max INTEGER, ana_min INTEGER);") ||
        (!hasEpochColumn() && !exec("ALTER TABLE samples ADD COLUMN epoch INTEGER")) ||
        !prepare() || !trimHistory()) {
        fail("set up");
        return false;
    }
    lastHistoryTrim_ = monotonicSeconds();
    if (epoch_ == 0)
        epoch_ = newEpoch();
    // The mark that the file is in use is synced before this run gives out a seq: a power cut
    // must not leave a file that looks cleanly closed.
    if (!exec("PRAGMA synchronous=FULL") || !writeAll() || !exec("PRAGMA synchronous=NORMAL")) {
        fail("write");
        return false;
    }
    markedInUse_ = true;
    startSync();
    return true;
}

// Files written before rows carried their epoch lack the column; their rows are the file's.
bool SampleStore::hasEpochColumn() {
    sqlite3_stmt *probe = nullptr;
    const bool has = sqlite3_prepare_v2(db_, "SELECT epoch FROM samples LIMIT 0", -1, &probe,
                                        nullptr) == SQLITE_OK;
    sqlite3_finalize(probe);
    return has;
}

// The checkpoint, with its two syncs, runs on a thread and a connection of its own: a slow
// disk then holds up neither the commits nor the polling. WAL lets it run beside the writer.
void SampleStore::startSync() {
    syncStop_ = false;
    syncError_.clear();
    syncThread_ = std::thread([this] {
        sqlite3 *db = nullptr;
        std::string error;
        // A connection knows the file is in WAL mode only once it has read it; until then a
        // checkpoint does nothing.
        if (sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
            sqlite3_exec(db, "SELECT count(*) FROM meta", nullptr, nullptr, nullptr) != SQLITE_OK)
            error = sqlite3_errmsg(db);
        std::unique_lock<std::mutex> lock(syncMutex_);
        while (error.empty() &&
               !syncWake_.wait_for(lock, std::chrono::duration<double>(kSyncInterval),
                                   [this] { return syncStop_; })) {
            lock.unlock();
            const int rc =
                sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
            if (rc == SQLITE_OK)
                ++checkpoints_;
            else if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED)
                error = std::string(sqlite3_errmsg(db)) +
                        (sqlite3_system_errno(db) != 0
                             ? std::string(" (") + std::strerror(sqlite3_system_errno(db)) + ")"
                             : std::string());
            lock.lock();
        }
        syncError_ = error;
        sqlite3_close_v2(db);
    });
}

void SampleStore::stopSync() {
    if (!syncThread_.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(syncMutex_);
        syncStop_ = true;
    }
    syncWake_.notify_all();
    syncThread_.join();
}

bool SampleStore::prepare() {
    return sqlite3_prepare_v3(db_,
                              "INSERT INTO samples(id, seq, ts, left, right, value, um, setpoint,"
                              " tol, in_tol, ana_max, ana_min, epoch)"
                              " VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?)",
                              -1, SQLITE_PREPARE_PERSISTENT, &insert_, nullptr) == SQLITE_OK &&
           sqlite3_prepare_v3(db_, "DELETE FROM samples WHERE id = ?", -1,
                              SQLITE_PREPARE_PERSISTENT, &remove_, nullptr) == SQLITE_OK &&
           sqlite3_prepare_v3(db_, "INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)", -1,
                              SQLITE_PREPARE_PERSISTENT, &setMeta_, nullptr) == SQLITE_OK &&
           // A sample of the same millisecond as one kept (a clock set back) replaces it.
           sqlite3_prepare_v3(db_,
                              "INSERT OR REPLACE INTO history(t, seq, left, right, value, um,"
                              " setpoint, tol, in_tol, ana_max, ana_min)"
                              " VALUES(?,?,?,?,?,?,?,?,?,?,?)",
                              -1, SQLITE_PREPARE_PERSISTENT, &history_, nullptr) == SQLITE_OK;
}

void SampleStore::finalize() {
    for (sqlite3_stmt **s : {&insert_, &remove_, &setMeta_, &history_}) {
        sqlite3_finalize(*s);
        *s = nullptr;
    }
}

bool SampleStore::loadRows() {
    sqlite3_stmt *select = nullptr;
    const std::string query = std::string("SELECT id, seq, ts, left, right, value, um, setpoint,"
                                          " tol, in_tol, ana_max, ana_min, ") +
                              (hasEpochColumn() ? "epoch" : "NULL") + " FROM samples ORDER BY id";
    if (sqlite3_prepare_v2(db_, query.c_str(), -1, &select, nullptr) != SQLITE_OK)
        return false;
    int rc;
    while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
        Row row{};
        row.id = sqlite3_column_int64(select, 0);
        GatewaySample &s = row.sample;
        s.seq = static_cast<uint32_t>(sqlite3_column_int64(select, 1));
        // The file keeps the time as text, as every body gives it.
        const unsigned char *ts = sqlite3_column_text(select, 2);
        s.timeMs = ts ? msOfIsoTime(reinterpret_cast<const char *>(ts)) : 0;
        s.left = static_cast<uint16_t>(sqlite3_column_int(select, 3));
        s.right = static_cast<uint16_t>(sqlite3_column_int(select, 4));
        s.value = static_cast<uint16_t>(sqlite3_column_int(select, 5));
        s.um = sqlite3_column_type(select, 6) == SQLITE_NULL ? std::nan("")
                                                             : sqlite3_column_double(select, 6);
        s.setpoint = static_cast<uint16_t>(sqlite3_column_int(select, 7));
        s.tol = static_cast<uint16_t>(sqlite3_column_int(select, 8));
        s.inTol = sqlite3_column_int(select, 9) != 0;
        s.anaMax = static_cast<uint16_t>(sqlite3_column_int(select, 10));
        s.anaMin = static_cast<uint16_t>(sqlite3_column_int(select, 11));
        s.epoch = sqlite3_column_type(select, 12) == SQLITE_NULL ? epoch_
                                                                 : sqlite3_column_int64(select, 12);
        rows_.push_back(row);
        nextId_ = std::max(nextId_, row.id + 1);
        lastSeq_ = std::max(lastSeq_, s.seq);
    }
    sqlite3_finalize(select);
    if (rc != SQLITE_DONE)
        return false;
    if (rows_.size() > maxRows_)
        dropOldest(rows_.size() - maxRows_);
    return true;
}

// Replaces the file's rows and counters with those in memory, in one transaction.
bool SampleStore::writeAll() {
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    bool ok = exec("DELETE FROM samples");
    const std::size_t unwrittenBefore = unwritten_;
    const std::vector<int64_t> deletionsBefore = deletions_;
    deletions_.clear();
    unwritten_ = rows_.size();
    ok = ok && commitPending() && exec("COMMIT");
    if (!ok) {
        // The file keeps what it had; so does the count of what it lacks.
        exec("ROLLBACK");
        unwritten_ = unwrittenBefore;
        deletions_ = deletionsBefore;
    }
    return ok;
}

// Writes the rows added and deleted since the last commit, with the counters, and commits
// (inside writeAll's transaction it only writes).
bool SampleStore::commitPending() {
    const bool own = sqlite3_get_autocommit(db_) != 0;
    if (own && !exec("BEGIN IMMEDIATE"))
        return false;
    bool ok = true;
    for (std::size_t i = rows_.size() - unwritten_; ok && i < rows_.size(); ++i) {
        const Row &row = rows_[i];
        const GatewaySample &s = row.sample;
        sqlite3_bind_int64(insert_, 1, row.id);
        sqlite3_bind_int64(insert_, 2, s.seq);
        sqlite3_bind_text(insert_, 3, isoTimeOfMs(s.timeMs).c_str(), -1, SQLITE_TRANSIENT);
        bindMeasurement(insert_, 4, s);
        sqlite3_bind_int64(insert_, 13, s.epoch);
        ok = noteError(sqlite3_step(insert_), SQLITE_DONE);
        sqlite3_reset(insert_);
    }
    // The newest row holds the last seq, so the counters are written only when samples were
    // dropped or the newest row leaves: most commits then write a single page.
    const bool counters =
        !own || closing_ || dropped_ != droppedWritten_ ||
        (lastSeq_ != seqWritten_ && (rows_.empty() || rows_.back().sample.seq != lastSeq_));
    for (std::size_t i = 0; ok && i < deletions_.size(); ++i) {
        sqlite3_bind_int64(remove_, 1, deletions_[i]);
        ok = noteError(sqlite3_step(remove_), SQLITE_DONE);
        sqlite3_reset(remove_);
    }
    const std::pair<const char *, int64_t> meta[] = {{"epoch", epoch_},
                                                     {"seq", lastSeq_},
                                                     {"dropped", static_cast<int64_t>(dropped_)},
                                                     {"clean", closing_ ? 1 : 0}};
    for (const auto &entry : meta) {
        if (!ok || !counters)
            break;
        sqlite3_bind_text(setMeta_, 1, entry.first, -1, SQLITE_STATIC);
        sqlite3_bind_int64(setMeta_, 2, entry.second);
        ok = noteError(sqlite3_step(setMeta_), SQLITE_DONE);
        sqlite3_reset(setMeta_);
    }
    if (own) {
        lastCommit_ = monotonicSeconds();
        ok = ok && exec("COMMIT");
        if (!ok)
            exec("ROLLBACK");
    }
    if (ok && counters) {
        seqWritten_ = lastSeq_;
        droppedWritten_ = dropped_;
    }
    if (ok) {
        commits_ += own;
        unwritten_ = 0;
        deletions_.clear();
        error_.clear();
    }
    return ok;
}

void SampleStore::add(GatewaySample *sample) {
    lastSeq_ = sample->seq;
    sample->epoch = epoch_;
    sample->replay = false;
    // The bound counts the rows waiting, as the queue without a store does: those on their way
    // are bounded by the messages in flight.
    if (unsent() >= maxRows_)
        dropOldest(unsent() - maxRows_ + 1);
    rows_.push_back({nextId_++, *sample});
    ++unwritten_;
    if (historyRows_ > 0) {
        historyPending_.push_back(*sample);
        if (historyPending_.size() > historyRows_)
            historyPending_.pop_front();
    }
    if (db_ && !commitPending())
        fail("write");
}

// The history's rows since the last call, in a commit of their own: ten seconds' rows share their
// pages, where a row in each sample's commit would double what the store writes, and each
// commit rewrites the table's last pages. A crash takes at most those seconds from the history
// (never from the samples the broker waits for); HistoryRead fills them from memory while the
// gateway runs.
bool SampleStore::writeHistory() {
    if (historyPending_.empty())
        return true;
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    bool ok = true;
    for (std::size_t i = 0; ok && i < historyPending_.size(); ++i) {
        const GatewaySample &s = historyPending_[i];
        sqlite3_bind_int64(history_, 1, s.timeMs);
        sqlite3_bind_int64(history_, 2, s.seq);
        bindMeasurement(history_, 3, s);
        ok = noteError(sqlite3_step(history_), SQLITE_DONE);
        sqlite3_reset(history_);
    }
    ok = ok && exec("COMMIT");
    if (!ok) {
        exec("ROLLBACK");
        return false;
    }
    historyPending_.clear();
    return true;
}

// The oldest rows not on their way go (those on their way may well arrive); only when every row
// is on its way does the oldest of them go.
void SampleStore::dropOldest(std::size_t count) {
    count = std::min(count, rows_.size());
    for (std::size_t n = 0; n < count; ++n) {
        const std::size_t at = inFlight_ < rows_.size() ? inFlight_ : 0;
        if (at >= rows_.size() - unwritten_)
            --unwritten_;
        else
            deletions_.push_back(rows_[at].id);
        rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(at));
        if (at == 0 && inFlight_ > 0)
            --inFlight_;
    }
    dropped_ += count;
}

void SampleStore::giveBack(std::size_t count) {
    inFlight_ -= std::min(inFlight_, count);
}

std::vector<GatewaySample> SampleStore::takeUnsent(std::size_t count, std::vector<int64_t> *ids) {
    std::vector<GatewaySample> taken;
    ids->clear();
    for (; count > 0 && inFlight_ < rows_.size(); --count, ++inFlight_) {
        taken.push_back(rows_[inFlight_].sample);
        ids->push_back(rows_[inFlight_].id);
    }
    return taken;
}

void SampleStore::delivered(const std::vector<int64_t> &ids) {
    for (const int64_t id : ids) {
        // Rows on their way are the oldest, in the order sent.
        const auto end = rows_.begin() + static_cast<std::ptrdiff_t>(inFlight_);
        const auto at = std::lower_bound(rows_.begin(), end, id,
                                         [](const Row &row, int64_t v) { return row.id < v; });
        if (at == end || at->id != id)
            continue; // dropped meanwhile
        if (static_cast<std::size_t>(at - rows_.begin()) >= rows_.size() - unwritten_)
            --unwritten_;
        else
            deletions_.push_back(id);
        rows_.erase(at);
        --inFlight_;
    }
}

void SampleStore::maintain() {
    const double now = monotonicSeconds();
    if (!db_) {
        if (now < nextRetry_)
            return;
        if (!openFile(false))
            return;
        log_(kvex::tr("store %s written again: %zu samples kept"), path_.c_str(), rows_.size());
        fault_.clear();
        lastSync_ = now;
        return;
    }
    if (!deletions_.empty() && now - lastCommit_ >= kDeleteDelay) {
        if (!commitPending()) {
            fail("write");
            return;
        }
    }
    if (now - lastHistoryWrite_ >= kHistoryInterval) {
        lastHistoryWrite_ = now;
        if (!writeHistory()) {
            fail("write");
            return;
        }
    }
    if (now - lastSync_ < kSyncInterval)
        return;
    lastSync_ = now;
    std::string syncError;
    {
        const std::lock_guard<std::mutex> lock(syncMutex_);
        syncError = syncError_;
    }
    if (!syncError.empty()) {
        error_ = syncError;
        fail("sync");
        return;
    }
    // The history's trim walks its index, so it runs once a minute (some 1 600 rows over).
    if (historyRows_ > 0 && now - lastHistoryTrim_ >= 60.0) {
        lastHistoryTrim_ = now;
        if (!trimHistory()) {
            fail("write");
            return;
        }
    }
    trimToBytes();
}

// The history keeps its newest rows; a file from a run that kept more (or kept it, where this
// one does not) gives up the rest.
bool SampleStore::trimHistory() {
    if (historyRows_ == 0)
        return exec("DELETE FROM history");
    char trim[160];
    std::snprintf(trim, sizeof trim,
                  "DELETE FROM history WHERE t < (SELECT t FROM history ORDER BY t DESC LIMIT 1 "
                  "OFFSET %zu)",
                  historyRows_ - 1);
    return exec(trim);
}

// Drops the oldest rows while the live pages would pass the bound, and hands the freed pages
// back, so the file stays at about the bound.
void SampleStore::trimToBytes() {
    if (maxBytes_ == 0 || (rows_.empty() && historyRows_ == 0))
        return;
    auto pragma = [this](const char *sql) {
        sqlite3_stmt *s = nullptr;
        int64_t value = 0;
        if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW)
            value = sqlite3_column_int64(s, 0);
        sqlite3_finalize(s);
        return value;
    };
    const int64_t used = (pragma("PRAGMA page_count") - pragma("PRAGMA freelist_count")) *
                         pragma("PRAGMA page_size");
    if (used <= static_cast<int64_t>(maxBytes_))
        return;
    const double excess = static_cast<double>(used) - 0.9 * static_cast<double>(maxBytes_);
    // The history gives way first: what is not delivered yet matters more than what was. Its
    // rows are about the size of the samples' (no id, no epoch, no text time: somewhat smaller).
    if (const int64_t kept = pragma("SELECT count(*) FROM history"); kept > 0) {
        const auto rows =
            static_cast<int64_t>(static_cast<double>(kept + static_cast<int64_t>(rows_.size())) *
                                 excess / static_cast<double>(used)) +
            1;
        char trim[160];
        std::snprintf(trim, sizeof trim,
                      "DELETE FROM history WHERE t <= (SELECT t FROM history ORDER BY t LIMIT 1 "
                      "OFFSET %lld)",
                      static_cast<long long>(std::min(rows, kept) - 1));
        if (!exec(trim) || !exec("PRAGMA incremental_vacuum"))
            fail("write");
        return;
    }
    if (rows_.empty())
        return;
    dropOldest(static_cast<std::size_t>(static_cast<double>(rows_.size()) * excess /
                                        static_cast<double>(used)) +
               1);
    if (!commitPending() || !exec("PRAGMA incremental_vacuum"))
        fail("write");
}

void SampleStore::fail(const char *what) {
    stopSync();
    const bool wasWorking = fault_.empty();
    noteError(db_ ? sqlite3_errcode(db_) : SQLITE_NOMEM, SQLITE_OK);
    fault_ = std::string(what) + ": " + error_;
    error_.clear();
    finalize();
    sqlite3_close_v2(db_);
    db_ = nullptr;
    nextRetry_ = monotonicSeconds() + kRetrySeconds;
    if (wasWorking)
        log_(kvex::tr("store %s failing (%s): samples wait in memory (at most %zu); trying again "
                      "every %.0f s"),
             path_.c_str(), fault_.c_str(), maxRows_, kRetrySeconds);
}

std::string SampleStore::moveAside() {
    stopSync();
    finalize();
    sqlite3_close_v2(db_);
    db_ = nullptr;
    const std::string aside = path_ + ".damaged-" + stampNow();
    for (const char *suffix : {"", "-wal", "-shm"})
        std::rename((path_ + suffix).c_str(), (aside + suffix).c_str());
    return aside;
}

SampleStore::Closing SampleStore::close() {
    stopSync();
    Closing closing;
    if (!db_) {
        // What the last commit before the fault put in the file is there for the next start.
        closing.lost = std::min(unwritten_, rows_.size());
        closing.kept = rows_.size() - closing.lost;
        return closing;
    }
    // The history's last rows; without them the file is still whole for the samples.
    writeHistory();
    // Only a file that holds every row and the final counters is marked closed cleanly.
    closing_ = markedInUse_;
    if (!commitPending()) {
        closing_ = false;
        closing.lost = std::min(unwritten_, rows_.size());
        log_(kvex::tr("store %s: the last commit failed (%s)"), path_.c_str(), error_.c_str());
    }
    closing.kept = rows_.size() - closing.lost;
    // Back to a rollback journal: a file without a journal beside it can be read even where
    // nothing can be written, so the next start still finds its epoch, seq and samples.
    exec("PRAGMA journal_mode=DELETE");
    log_(kvex::tr("store %s closed: %llu commits, %llu checkpoints since the start"), path_.c_str(),
         static_cast<unsigned long long>(commits_),
         static_cast<unsigned long long>(checkpoints_.load()));
    finalize();
    sqlite3_close_v2(db_);
    db_ = nullptr;
    // A second close (the destructor's) finds nothing more to keep.
    rows_.clear();
    unwritten_ = 0;
    return closing;
}

void SampleStore::addReading(const ReserveReading &reading) {
    if (!db_)
        return;
    sqlite3_stmt *insert = nullptr;
    bool ok = sqlite3_prepare_v2(db_,
                                 "INSERT INTO reserve(ts, ratio, state, contrast, saturated) "
                                 "VALUES(?, ?, ?, ?, ?)",
                                 -1, &insert, nullptr) == SQLITE_OK;
    if (ok) {
        sqlite3_bind_text(insert, 1, reading.ts.c_str(), -1, SQLITE_TRANSIENT);
        const double figures[] = {reading.ratio, reading.contrast};
        for (int k = 0; k < 2; ++k) {
            if (std::isfinite(figures[k]))
                sqlite3_bind_double(insert, k == 0 ? 2 : 4, figures[k]);
            else
                sqlite3_bind_null(insert, k == 0 ? 2 : 4);
        }
        sqlite3_bind_text(insert, 3, reading.state.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 5, reading.saturated ? 1 : 0);
        ok = sqlite3_step(insert) == SQLITE_DONE;
    }
    sqlite3_finalize(insert);
    char trim[120];
    std::snprintf(trim, sizeof trim,
                  "DELETE FROM reserve WHERE id <= (SELECT max(id) FROM reserve) - %zu",
                  kReserveTrendKept);
    // A reading that does not reach the file stays in the page's trend; the samples' own
    // commits notice a failing file and say so.
    if (ok)
        exec(trim);
}

std::deque<ReserveReading> SampleStore::readings() {
    std::deque<ReserveReading> out;
    sqlite3_stmt *select = nullptr;
    if (db_ && sqlite3_prepare_v2(db_,
                                  "SELECT ts, ratio, state, contrast, saturated FROM reserve "
                                  "ORDER BY id",
                                  -1, &select, nullptr) == SQLITE_OK) {
        while (sqlite3_step(select) == SQLITE_ROW) {
            ReserveReading r;
            r.ts = reinterpret_cast<const char *>(sqlite3_column_text(select, 0));
            r.ratio = sqlite3_column_type(select, 1) == SQLITE_NULL
                          ? std::nan("")
                          : sqlite3_column_double(select, 1);
            r.state = reinterpret_cast<const char *>(sqlite3_column_text(select, 2));
            r.contrast = sqlite3_column_type(select, 3) == SQLITE_NULL
                             ? std::nan("")
                             : sqlite3_column_double(select, 3);
            r.saturated = sqlite3_column_int(select, 4) != 0;
            out.push_back(r);
        }
    }
    sqlite3_finalize(select);
    while (out.size() > kReserveTrendKept)
        out.pop_front();
    return out;
}
