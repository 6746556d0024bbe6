// The gateway's store on disk against kills, restarts and a failing disk: with the real broker,
// the simulated sensor on a pseudo-terminal and the gateway as a child process; and the store on
// its own.
#include "gateway/core/samplestore.h"
#include "gateway/core/sampletime.h"
#include "gateway/core/storedhistory.h"
#include "gateway_fixture.h"

#include <random>
#include <regex>
#include <sqlite3.h>

using namespace gatewaytest;

namespace {

class StoreTest : public GatewayTest {
  protected:
    std::vector<std::string> storeArgs(int brokerPort, const std::string &db) {
        return {"--mqtt",         "127.0.0.1:" + std::to_string(brokerPort),
                "--topic-prefix", kPrefix,
                "--meas-qos",     "1",
                "--store",        db,
                "--replay-rate",  "100000"};
    }
    std::size_t measRequests() const {
        std::size_t n = 0;
        for (const kvexsim::Request &r : sensor->requests())
            n += r.command() == 8;
        return n;
    }
    // Sleeps while the gateway polls on; false when the sensor got no new request meanwhile.
    bool pollsOnFor(double seconds) {
        const std::size_t before = measRequests();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        return measRequests() > before + 3;
    }
    // How many samples the last stop said were taken.
    long takenAtLastStop() const {
        const std::string text = log();
        const auto at = text.rfind("stopped; ");
        return at == std::string::npos ? -1 : std::atol(text.c_str() + at + 9);
    }
};

// The gateways started meanwhile get the fault library, switched by the control file; under a
// sanitizer build its runtime would insist on being loaded first.
class FaultPreload {
  public:
    explicit FaultPreload(const std::string &control) {
        const char *asan = std::getenv("ASAN_OPTIONS");
        asanBefore_ = asan ? asan : "";
        setenv("LD_PRELOAD", KVEX_FAULT_PRELOAD, 1);
        setenv("ASAN_OPTIONS", (asanBefore_ + ":verify_asan_link_order=0").c_str(), 1);
        setenv("KVEX_FAULT_CONTROL", control.c_str(), 1);
    }
    ~FaultPreload() {
        unsetenv("LD_PRELOAD");
        setenv("ASAN_OPTIONS", asanBefore_.c_str(), 1);
    }

  private:
    std::string asanBefore_;
};

struct Arrivals {
    std::map<qint64, std::vector<int>> seqs; // by epoch, in the order they came, resends dropped
    bool inOrder = true;
    int live = 0;
    int unflaggedRepeats = 0; // a sample that came again without replay
    int reused = 0;           // an (epoch, seq) that came with another sample's time
    // Every epoch's seqs, the epochs in the order they began.
    std::vector<int> all() const {
        std::vector<int> out;
        for (const auto &epoch : seqs)
            out.insert(out.end(), epoch.second.begin(), epoch.second.end());
        return out;
    }
};

Arrivals arrivalsOf(const Subscriber &subscriber) {
    Arrivals a;
    std::map<qint64, std::map<int, QString>> seen;
    for (const QJsonObject &s : samplesOf(subscriber.messages("/meas"))) {
        const qint64 epoch = s["store_epoch"].toInteger();
        const int seq = s["seq"].toInt();
        const auto first = seen[epoch].emplace(seq, s["ts"].toString());
        if (!first.second) {
            a.unflaggedRepeats += !s["replay"].toBool();
            a.reused += first.first->second != s["ts"].toString();
            continue;
        }
        std::vector<int> &list = a.seqs[epoch];
        a.inOrder = a.inOrder && (list.empty() || seq > list.back());
        list.push_back(seq);
        a.live += !s["replay"].toBool();
    }
    return a;
}

// Whether an epoch's samples are 1, 2, ... n, every one of them.
bool complete(const std::vector<int> &seqs) {
    for (std::size_t i = 0; i < seqs.size(); ++i)
        if (seqs[i] != static_cast<int>(i) + 1)
            return false;
    return true;
}

std::string integrityOf(const std::string &path) {
    sqlite3 *db = nullptr;
    std::string verdict = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        verdict.clear();
        sqlite3_stmt *check = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) == SQLITE_OK)
            while (sqlite3_step(check) == SQLITE_ROW)
                verdict += reinterpret_cast<const char *>(sqlite3_column_text(check, 0));
        sqlite3_finalize(check);
    }
    sqlite3_close(db);
    return verdict;
}

// The last seq the file holds (0 when there is none yet), as the gateway's next start finds it.
std::size_t storedSeq(const std::string &path) {
    sqlite3 *db = nullptr;
    std::size_t seq = 0;
    sqlite3_stmt *query = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db,
                           "SELECT max(coalesce((SELECT max(seq) FROM samples), 0),"
                           " coalesce((SELECT value FROM meta WHERE key = 'seq'), 0))",
                           -1, &query, nullptr) == SQLITE_OK &&
        sqlite3_step(query) == SQLITE_ROW)
        seq = static_cast<std::size_t>(sqlite3_column_int64(query, 0));
    sqlite3_finalize(query);
    sqlite3_close(db);
    return seq;
}

// The gateway is killed at random moments while the broker is away, restarted each time, then
// started once more with the broker back: every answered sample arrives, in order, and no
// (epoch, seq) is given twice. A kill begins a new epoch at the next start; stops do not.
TEST_F(StoreTest, KillsAndStopsAtRandomMomentsLoseNoAnsweredSample) {
    struct Case {
        int signal;
        int runs;
        // Answered samples one stop may lose: the one waiting for its commit until the next
        // request is on the wire, and the one being read.
        std::size_t bound;
    };
    sensor->setPaced(false);
    for (const Case &c : {Case{SIGKILL, 20, 2}, Case{SIGTERM, 4, 0}}) {
        SCOPED_TRACE(c.signal);
        const std::string caseDir = makeTempDir();
        const std::string db = caseDir + "/state/gateway.db";
        Broker broker(caseDir);
        std::mt19937 random(static_cast<unsigned>(c.signal));
        std::uniform_int_distribution<int> moment(100, 1500);
        std::size_t answered = 0, storedBefore = 0;
        for (int run = 0; run < c.runs; ++run) {
            const std::size_t before = measRequests();
            std::vector<std::string> args = {KVEX_CLI_PATH,        "--lang", "en", "--port",
                                             sensor->devicePath(), "serve"};
            for (const std::string &a : storeArgs(broker.port(), db))
                args.push_back(a);
            ASSERT_TRUE(gateway.start(args, dir + "/gateway.log"));
            std::this_thread::sleep_for(std::chrono::milliseconds(moment(random)));
            gateway.kill(c.signal);
            // A stop before the gateway has set up its handlers ends it by the signal itself.
            const int code = c.signal == SIGTERM ? gateway.wait(10.0) : 0;
            ASSERT_TRUE(code == 0 || code == 128 + SIGTERM) << code;
            // What this run answered against what it left in the file.
            const std::size_t stored = storedSeq(db);
            EXPECT_LE(measRequests() - before, stored - storedBefore + c.bound) << "stop " << run;
            storedBefore = stored;
            answered += measRequests() - before;
        }
        ASSERT_TRUE(broker.start());
        Subscriber subscriber(broker.port(), std::string(kPrefix) + "/meas");
        ASSERT_TRUE(subscriber.waitSubscribed());
        ASSERT_TRUE(startGateway(storeArgs(broker.port(), db)));
        // The samples taken before this start, which the live ones must not be counted for.
        const std::string text = log();
        const auto next = text.rfind("next seq ");
        ASSERT_NE(next, std::string::npos);
        const std::size_t takenBefore = std::strtoul(text.c_str() + next + 9, nullptr, 10) - 1;
        EXPECT_GE(takenBefore, answered - std::min(answered, c.bound * c.runs))
            << answered << " answered before";
        EXPECT_TRUE(waitFor(
            [&] {
                const Arrivals a = arrivalsOf(subscriber);
                return a.live > 10 && a.all().size() > takenBefore;
            },
            40.0));
        gateway.kill(SIGTERM);
        EXPECT_EQ(gateway.wait(10.0), 0);

        const Arrivals a = arrivalsOf(subscriber);
        if (c.signal == SIGTERM)
            EXPECT_EQ(a.seqs.size(), 1u) << "a clean stop began a new epoch";
        else
            EXPECT_GT(a.seqs.size(), 1u) << "a kill kept its epoch";
        EXPECT_NE(a.seqs.begin()->first, 0);
        EXPECT_TRUE(a.inOrder);
        EXPECT_EQ(a.unflaggedRepeats, 0);
        EXPECT_EQ(a.reused, 0);
        EXPECT_TRUE(complete(a.all())) << "a gap in seq";
        EXPECT_EQ(integrityOf(db), "ok");
        if (!HasFailure())
            std::filesystem::remove_all(caseDir);
    }
}

// A disk that fills up, writes or syncs that fail, a folder that is read-only and a damaged file:
// the gateway polls on, says so, writes again once it can, and loses nothing it had stored.
TEST_F(StoreTest, FailingDiskKeepsPollingAndLosesNothingStored) {
    struct Case {
        const char *fault;
        bool atStart; // the fault is there when the gateway starts
        const char *logged;
    };
    const Case cases[] = {
        {"enospc", false, "database or disk is full"},
        {"eio", false, "disk I/O error"},
        {"fsync", false, "disk I/O error"},
        {"rofs", true, "readonly database"},
        {"damaged", true, "is damaged (file is not a database)"},
    };
    const std::string control = dir + "/fault";
    const FaultPreload preload(control);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.fault);
        const std::string caseDir = makeTempDir();
        const std::string db = caseDir + "/state/gateway.db";
        setenv("KVEX_FAULT_PATH", (caseDir + "/state/").c_str(), 1);
        Broker broker(caseDir);
        const std::vector<std::string> args = storeArgs(broker.port(), db);
        // Samples stored before the fault, with the broker away.
        const std::size_t started = log().size();
        ASSERT_TRUE(startGateway(args));
        ASSERT_TRUE(pollsOnFor(1.0));
        const std::size_t logged = log().size();
        const auto epochAt = log().find(": epoch ", started);
        ASSERT_NE(epochAt, std::string::npos);
        const qint64 epoch = std::atoll(log().c_str() + epochAt + 8);
        if (c.atStart) {
            gateway.kill(SIGTERM);
            ASSERT_EQ(gateway.wait(10.0), 0);
        }
        if (std::string(c.fault) == "damaged")
            std::ofstream(db, std::ios::binary | std::ios::in) << "not a database, not at all";
        else
            std::ofstream(control) << c.fault;
        if (c.atStart)
            ASSERT_TRUE(startGateway(args));
        EXPECT_TRUE(
            waitFor([&] { return log().find(c.logged, logged) != std::string::npos; }, 10.0));
        EXPECT_TRUE(pollsOnFor(1.0)) << "polling stopped";
        std::remove(control.c_str());
        if (std::string(c.fault) == "damaged") {
            const auto aside = log().find("moved aside to ", logged);
            ASSERT_NE(aside, std::string::npos);
            const std::string moved = log().substr(aside + 15, log().find(';', aside) - aside - 15);
            EXPECT_EQ(readFile(moved).rfind("not a database", 0), 0u) << moved;
        } else {
            EXPECT_TRUE(waitFor(
                [&] { return log().find("written again", logged) != std::string::npos; }, 10.0));
        }
        gateway.kill(SIGTERM);
        ASSERT_EQ(gateway.wait(10.0), 0);
        const long taken = takenAtLastStop();

        ASSERT_TRUE(broker.start());
        Subscriber subscriber(broker.port(), std::string(kPrefix) + "/meas");
        ASSERT_TRUE(subscriber.waitSubscribed());
        ASSERT_TRUE(startGateway(args));
        EXPECT_TRUE(waitFor(
            [&] {
                const Arrivals a = arrivalsOf(subscriber);
                return !a.seqs.empty() && a.seqs.rbegin()->second.size() >= std::size_t(taken);
            },
            20.0))
            << taken << " taken";
        gateway.kill(SIGTERM);
        EXPECT_EQ(gateway.wait(10.0), 0);
        const Arrivals a = arrivalsOf(subscriber);
        // A damaged file's samples stay in the file moved aside; the new epoch has them all. A
        // run that could not mark the file as in use gave its samples an epoch of their own.
        const bool readOnly = std::string(c.fault) == "rofs";
        ASSERT_EQ(a.seqs.size(), readOnly ? 2u : 1u);
        EXPECT_EQ(a.seqs.begin()->first != epoch, std::string(c.fault) == "damaged");
        EXPECT_TRUE(a.inOrder);
        EXPECT_EQ(a.reused, 0);
        EXPECT_TRUE(complete(a.all()));
        EXPECT_EQ(integrityOf(db), "ok");
        if (!HasFailure())
            std::filesystem::remove_all(caseDir);
    }
}

// A stop while the store cannot be written, with the broker up (samples published under ids the
// file never heard of) and away (samples held only in memory): the stop says what it loses, and
// the next start gives no id twice.
TEST_F(StoreTest, AStopWhileTheStoreFailsSaysItsLossAndReusesNoId) {
    const std::string control = dir + "/fault";
    const FaultPreload preload(control);
    for (const bool brokerUp : {true, false}) {
        SCOPED_TRACE(brokerUp ? "broker up" : "broker away");
        const std::string caseDir = makeTempDir();
        const std::string db = caseDir + "/state/gateway.db";
        setenv("KVEX_FAULT_PATH", (caseDir + "/state/").c_str(), 1);
        Broker broker(caseDir);
        std::unique_ptr<Subscriber> subscriber;
        if (brokerUp) {
            ASSERT_TRUE(broker.start());
            subscriber = std::make_unique<Subscriber>(broker.port(), std::string(kPrefix) + "/meas");
            ASSERT_TRUE(subscriber->waitSubscribed());
        }
        const std::vector<std::string> args = storeArgs(broker.port(), db);
        const std::size_t started = log().size();
        ASSERT_TRUE(startGateway(args));
        ASSERT_TRUE(pollsOnFor(1.0));
        std::ofstream(control) << "enospc";
        EXPECT_TRUE(waitFor([&] { return log().find("failing", started) != std::string::npos; },
                            10.0));
        ASSERT_TRUE(pollsOnFor(1.5));
        gateway.kill(SIGTERM);
        ASSERT_EQ(gateway.wait(10.0), 0);
        std::remove(control.c_str());
        const std::string stop = log().substr(started);
        std::smatch lost;
        const bool said =
            std::regex_search(stop, lost, std::regex("([0-9]+) samples lost at the stop: the store"));
        if (brokerUp)
            EXPECT_FALSE(said) << "the broker had them: " << stop;
        else
            EXPECT_TRUE(said && std::stol(lost[1]) > 0) << stop;
        // What the stop says the file keeps is what the next start delivers of the old epoch.
        std::smatch kept;
        const std::size_t keptSaid =
            std::regex_search(stop, kept, std::regex("([0-9]+) samples kept in the store"))
                ? std::stoul(kept[1])
                : 0;

        if (!brokerUp) {
            ASSERT_TRUE(broker.start());
            subscriber = std::make_unique<Subscriber>(broker.port(), std::string(kPrefix) + "/meas");
            ASSERT_TRUE(subscriber->waitSubscribed());
        }
        const std::size_t restarted = log().size();
        ASSERT_TRUE(startGateway(args));
        EXPECT_NE(log().find("was not closed cleanly: new epoch", restarted), std::string::npos)
            << log().substr(restarted);
        ASSERT_TRUE(waitFor([&] { return arrivalsOf(*subscriber).live > 10; }, 20.0));
        gateway.kill(SIGTERM);
        ASSERT_EQ(gateway.wait(10.0), 0);
        const Arrivals a = arrivalsOf(*subscriber);
        EXPECT_EQ(a.seqs.size(), 2u);
        EXPECT_EQ(a.reused, 0) << "an id given to two samples";
        if (!brokerUp)
            EXPECT_EQ(a.seqs.begin()->second.size(), keptSaid);
        EXPECT_TRUE(a.inOrder);
        if (!HasFailure())
            std::filesystem::remove_all(caseDir);
    }
}

// A store bounded to 20 rows while the broker is away: the oldest go, and the count survives
// the restart into info, matching exactly the samples that never arrive.
TEST_F(StoreTest, DroppedSamplesAreCountedAcrossARestart) {
    Broker broker(dir);
    std::vector<std::string> args = storeArgs(broker.port(), dir + "/state/gateway.db");
    args.insert(args.end(), {"--queue", "20"});
    ASSERT_TRUE(startGateway(args));
    ASSERT_TRUE(pollsOnFor(2.0));
    gateway.kill(SIGTERM);
    ASSERT_EQ(gateway.wait(10.0), 0);
    ASSERT_TRUE(broker.start());
    Subscriber subscriber(broker.port(), std::string(kPrefix) + "/#");
    ASSERT_TRUE(subscriber.waitSubscribed());
    ASSERT_TRUE(startGateway(args));
    ASSERT_TRUE(waitFor([&] { return arrivalsOf(subscriber).live > 5; }, 20.0));
    gateway.kill(SIGTERM);
    ASSERT_EQ(gateway.wait(10.0), 0);
    const Arrivals a = arrivalsOf(subscriber);
    ASSERT_EQ(a.seqs.size(), 1u);
    const std::vector<int> &seqs = a.seqs.begin()->second;
    const QJsonObject info = jsonObject(subscriber.last("/info"));
    EXPECT_GT(info["dropped"].toInt(), 0);
    EXPECT_EQ(info["dropped"].toInt(), seqs.front() - 1) << "not the oldest that went";
    EXPECT_EQ(seqs.back() - seqs.front() + 1, static_cast<int>(seqs.size())) << "a gap";
    EXPECT_EQ(info["store"].toString(), "ok");
    EXPECT_EQ(info["store_epoch"].toInteger(), a.seqs.begin()->first);
}

// A store that cannot be made, or one another gateway holds: a clear error naming it.
TEST_F(StoreTest, AStoreItCannotHaveIsAClearError) {
    std::ofstream(dir + "/file") << "x";
    const std::string db = dir + "/state/gateway.db";
    ASSERT_TRUE(startGateway(storeArgs(1, db)));
    const struct {
        std::string store;
        std::string logged;
    } cases[] = {
        {dir + "/file/state/gateway.db", "cannot create the store's folder " + dir + "/file/state"},
        {db, "the store " + db + " is in use by another process"},
    };
    for (const auto &c : cases) {
        Child second;
        ASSERT_TRUE(second.start({KVEX_CLI_PATH, "--lang", "en", "--port", sensor->devicePath(),
                                  "serve", "--mqtt", "127.0.0.1:1", "--store", c.store},
                                 dir + "/second.log"));
        EXPECT_EQ(second.wait(10.0), 1);
        EXPECT_NE(readFile(dir + "/second.log").find(c.logged), std::string::npos) << c.logged;
    }
}

void quiet(const char *, ...) {}

// Bounded to 1 MiB, a store of 30 000 rows drops the oldest; the file shrinks to the bound and
// the next open finds the same counters and the newest rows, seq going on.
TEST(StoreCore, FileStaysWithinItsBoundAcrossAReopen) {
    const std::string dir = makeTempDir();
    const std::string path = dir + "/store.db";
    constexpr uint32_t kRows = 30000;
    uint64_t dropped = 0;
    {
        SampleStore store(path, 100000, 1 << 20, quiet);
        std::string error;
        ASSERT_TRUE(store.open(&error)) << error;
        for (uint32_t seq = 1; seq <= kRows; ++seq) {
            GatewaySample s{};
            s.seq = seq;
            s.timeMs = msOfIsoTime("2026-01-01T00:00:00.000Z");
            s.left = 300;
            s.right = 600;
            s.um = std::nan("");
            store.add(&s);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        store.maintain();
        EXPECT_TRUE(store.fault().empty()) << store.fault();
        dropped = store.dropped();
        EXPECT_GT(dropped, 0u);
        EXPECT_EQ(store.size() + dropped, kRows);
    }
    EXPECT_LE(std::filesystem::file_size(path), 1100u * 1024u);
    SampleStore again(path, 100000, 1 << 20, quiet);
    std::string error;
    ASSERT_TRUE(again.open(&error)) << error;
    EXPECT_EQ(again.dropped(), dropped);
    EXPECT_EQ(again.lastSeq(), kRows);
    EXPECT_EQ(again.size(), kRows - dropped);
    std::vector<int64_t> ids;
    const std::vector<GatewaySample> oldest = again.takeUnsent(1, &ids);
    ASSERT_EQ(oldest.size(), 1u);
    EXPECT_EQ(oldest[0].seq, dropped + 1);
    EXPECT_EQ(oldest[0].epoch, again.epoch());
    std::filesystem::remove_all(dir);
}

// A file from before rows carried their epoch (and before stops marked it clean): its rows keep
// the file's epoch, the new samples get a new one above every seq it holds, and both survive a
// clean reopen.
TEST(StoreCore, AnOlderFileKeepsItsRowsEpochUnderANewOne) {
    const std::string dir = makeTempDir();
    const std::string path = dir + "/store.db";
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE meta(key TEXT PRIMARY KEY, value INTEGER NOT NULL);"
                           "INSERT INTO meta VALUES('epoch', 5), ('seq', 10), ('dropped', 0);"
                           "CREATE TABLE samples(id INTEGER PRIMARY KEY, seq INTEGER NOT NULL,"
                           " ts TEXT NOT NULL, left INTEGER, right INTEGER, value INTEGER, um REAL,"
                           " setpoint INTEGER, tol INTEGER, in_tol INTEGER, ana_max INTEGER,"
                           " ana_min INTEGER);"
                           "INSERT INTO samples(id, seq, ts) VALUES"
                           " (1, 9, '2026-01-01T00:00:00.000Z'), (2, 10, '2026-01-01T00:00:00.037Z');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    int64_t epoch = 0;
    for (int open = 0; open < 2; ++open) {
        SCOPED_TRACE(open);
        SampleStore store(path, 100, 0, quiet);
        std::string error;
        ASSERT_TRUE(store.open(&error)) << error;
        if (open == 0) {
            EXPECT_NE(store.epoch(), 5);
            epoch = store.epoch();
            GatewaySample s{};
            s.seq = store.lastSeq() + 1;
            s.timeMs = msOfIsoTime("2026-01-01T00:00:01.000Z");
            store.add(&s);
        }
        EXPECT_EQ(store.epoch(), epoch) << "a clean stop began a new epoch";
        std::vector<int64_t> ids;
        const std::vector<GatewaySample> rows = store.takeUnsent(10, &ids);
        ASSERT_EQ(rows.size(), 3u);
        const std::pair<uint32_t, int64_t> expected[] = {{9, 5}, {10, 5}, {11, epoch}};
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_EQ(std::make_pair(rows[i].seq, rows[i].epoch), expected[i]) << i;
        store.giveBack(rows.size());
    }
    std::filesystem::remove_all(dir);
}

} // namespace

// The history for HistoryRead: delivered samples leave the queue but stay in the history, which
// a reader on its own connection pages through by time (a cursor of time and seq) or reads
// newest first; a reopen keeps the newest it may, one without history clears it, and under the
// bytes bound the history goes before any unsent sample.
TEST(StoreCore, HistoryOutlivesDeliveryAndReopensAndGivesWayFirst) {
    const std::string dir = makeTempDir();
    const std::string path = dir + "/store.db";
    constexpr int64_t kStart = 1'790'000'000'000;
    auto sampleAt = [](uint32_t seq) {
        GatewaySample s{};
        s.seq = seq;
        s.timeMs = kStart + seq * 38;
        s.value = static_cast<uint16_t>(seq % 4096);
        s.um = seq % 2 ? std::nan("") : seq * 0.5;
        s.inTol = seq % 3 == 0;
        return s;
    };
    std::vector<GatewaySample> got;
    auto read = [&](int64_t from, int64_t to, HistoryCursor after, std::size_t count,
                    bool newestFirst) {
        return readStoredHistory(path, from, to, after, count, newestFirst, &got);
    };
    EXPECT_FALSE(read(INT64_MIN, INT64_MAX, {}, 10, false)) << "no file yet";
    EXPECT_FALSE(std::filesystem::exists(path));
    {
        SampleStore store(path, 1000, 0, quiet);
        store.keepHistory(500);
        std::string error;
        ASSERT_TRUE(store.open(&error)) << error;
        for (uint32_t seq = 1; seq <= 600; ++seq) {
            GatewaySample s = sampleAt(seq);
            store.add(&s);
        }
        std::vector<int64_t> ids;
        store.takeUnsent(600, &ids);
        store.delivered(ids);
        GatewaySample last = sampleAt(601);
        store.add(&last);
        EXPECT_EQ(store.size(), 1u);
        // The history is written by the store's upkeep, ten seconds' rows in one commit.
        ASSERT_TRUE(read(INT64_MIN, INT64_MAX, {}, 10, false));
        EXPECT_TRUE(got.empty());
        store.maintain();
        // Pages of 250 from the start, each going on from the cursor of the one after it.
        std::vector<uint32_t> seqs;
        HistoryCursor cursor;
        for (int page = 0; page < 4; ++page) {
            ASSERT_TRUE(read(INT64_MIN, INT64_MAX, cursor, 251, false));
            for (std::size_t i = 0; i < std::min<std::size_t>(got.size(), 250); ++i)
                seqs.push_back(got[i].seq);
            if (got.size() <= 250)
                break;
            cursor = {got.back().timeMs, got.back().seq};
        }
        ASSERT_EQ(seqs.size(), 500u);
        for (uint32_t i = 0; i < seqs.size(); ++i)
            EXPECT_EQ(seqs[i], i + 102);
        ASSERT_TRUE(read(kStart + 100 * 38, kStart + 109 * 38, {}, 3, true));
        ASSERT_EQ(got.size(), 3u);
        const GatewaySample expected = sampleAt(109);
        EXPECT_EQ(got[0].seq, 109u);
        EXPECT_EQ(got[2].seq, 107u);
        EXPECT_EQ(got[0].timeMs, expected.timeMs);
        EXPECT_EQ(got[0].value, expected.value);
        EXPECT_EQ(got[0].inTol, expected.inTol);
        EXPECT_TRUE(std::isnan(got[0].um));
        EXPECT_EQ(got[1].um, sampleAt(108).um);
    }
    struct Reopen {
        std::size_t keep;
        std::size_t expected;
        uint32_t oldest;
    } const reopens[] = {{500, 500, 102}, {100, 100, 502}, {0, 0, 0}};
    for (const Reopen &r : reopens) {
        SCOPED_TRACE(r.keep);
        SampleStore store(path, 1000, 0, quiet);
        store.keepHistory(r.keep);
        std::string error;
        ASSERT_TRUE(store.open(&error)) << error;
        ASSERT_TRUE(read(INT64_MIN, INT64_MAX, {}, 1000, false));
        ASSERT_EQ(got.size(), r.expected);
        if (!got.empty()) {
            EXPECT_EQ(got.front().seq, r.oldest);
            EXPECT_EQ(got.back().seq, 601u);
        }
    }
    std::filesystem::remove_all(path);

    // Bounded to 512 KiB with a history of 30 000 rows and 3 000 unsent ones: the history
    // shrinks, no unsent sample goes.
    SampleStore store(path, 100000, 1 << 19, quiet);
    store.keepHistory(100000);
    std::string error;
    ASSERT_TRUE(store.open(&error)) << error;
    for (uint32_t seq = 1; seq <= 30000; ++seq) {
        GatewaySample s = sampleAt(seq);
        store.add(&s);
        if (seq == 27000) {
            std::vector<int64_t> ids;
            store.takeUnsent(27000, &ids);
            store.delivered(ids);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    store.maintain();
    EXPECT_TRUE(store.fault().empty()) << store.fault();
    EXPECT_EQ(store.dropped(), 0u);
    EXPECT_EQ(store.size(), 3000u);
    ASSERT_TRUE(read(INT64_MIN, INT64_MAX, {}, 100000, false));
    EXPECT_LT(got.size(), 30000u);
    EXPECT_GT(got.size(), 3000u);
    EXPECT_EQ(got.back().seq, 30000u);
    std::filesystem::remove_all(dir);
}
