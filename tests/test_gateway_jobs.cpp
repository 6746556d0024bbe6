// The gateway's job scheduler on a fake clock: the budget holds in every window, writes go before
// reads, identical reads are done once, the queue is bounded, deadlines are checked when a job
// would start, and askers that left take their job along.
#include "gateway/core/jobs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using Kind = SensorJob::Kind;
using Admission = JobScheduler::Admission;
using Status = JobResult::Status;

// A clock that moves only when the test (or a job) moves it, and a runner whose jobs take the
// time each kind takes on the wire.
class JobsTest : public ::testing::Test {
  protected:
    JobsTest() { restart(); }

    void restart() {
        jobs = std::make_unique<JobScheduler>(JobScheduler::Limits{}, [this] { return now; });
        jobs->setSensorAnswering(true);
        ran.clear();
        spans.clear();
        answers.clear();
    }
    static SensorJob job(Kind kind) {
        SensorJob j;
        j.kind = kind;
        return j;
    }
    JobScheduler::Done record(const std::string &name) {
        return [this, name](const JobResult &r) {
            answers.push_back({name, r.status});
            results[name] = r;
        };
    }
    Admission ask(Kind kind, const std::string &name, JobScheduler::Gone gone = {}) {
        return jobs->submit(job(kind), record(name), std::move(gone)).admission;
    }
    bool run() {
        return jobs->runNext([this](const SensorJob &j) {
            if (duringRun)
                duringRun();
            ran.push_back(j.kind);
            spans.push_back({now, now + duration[j.kind]});
            now += duration[j.kind];
            JobResult r;
            r.answered = true;
            r.words[0] = static_cast<uint16_t>(ran.size());
            return r;
        });
    }
    std::vector<std::string> answered() const {
        std::vector<std::string> names;
        for (const auto &a : answers)
            names.push_back(a.first);
        return names;
    }

    double now = 1000.0;
    std::map<Kind, double> duration = {{Kind::Write, 0.35},
                                       {Kind::ReadEeprom, 0.1},
                                       {Kind::VideoLine, 0.4},
                                       {Kind::ReserveLine, 0.4},
                                       {Kind::PortCheck, 0.6}};
    std::unique_ptr<JobScheduler> jobs;
    std::vector<Kind> ran;
    std::vector<std::pair<double, double>> spans;
    std::vector<std::pair<std::string, Status>> answers;
    std::map<std::string, JobResult> results;
    // What another thread does while a job is on the line.
    std::function<void()> duringRun;
};

// The most job time any window of `window` seconds holds, on a grid of 10 ms.
double busiestWindow(const std::vector<std::pair<double, double>> &spans, double window) {
    double most = 0.0;
    for (double end = spans.front().first; end <= spans.back().second + window; end += 0.01) {
        double used = 0.0;
        for (const auto &[a, b] : spans)
            used += std::max(0.0, std::min(b, end) - std::max(a, end - window));
        most = std::max(most, used);
    }
    return most;
}

// A poller that measures in 37.5 ms cycles and offers the scheduler the gap between two, against
// faces that keep the queue full for a minute: writes, or reads of every kind at once.
TEST_F(JobsTest, JobsTakeAtMostTheirShareOfEveryWindowAndReadsLess) {
    struct Row {
        const char *load;
        std::vector<Kind> kinds;
        double share;
    } rows[] = {{"writes", {Kind::Write}, 0.25},
                {"reads", {Kind::ReadEeprom, Kind::VideoLine, Kind::PortCheck}, 0.1},
                {"writes and reads", {Kind::Write, Kind::VideoLine, Kind::PortCheck}, 0.25}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.load);
        restart();
        const double start = now;
        while (now < start + 60.0) {
            for (const Kind kind : row.kinds)
                while (jobs->submit(job(kind), [](const JobResult &) {}).admission ==
                           Admission::Queued &&
                       kind == Kind::Write) {
                }
            if (jobs->ready())
                run();
            now += 0.0375;
        }
        ASSERT_GT(spans.size(), 10u);
        EXPECT_LE(busiestWindow(spans, 10.0), row.share * 10.0 + 1e-6);
        double total = 0.0;
        for (const auto &[a, b] : spans)
            total += b - a;
        // The budget is used, not merely kept.
        EXPECT_GE(total, row.share * 60.0 * 0.75);
    }
}

TEST_F(JobsTest, TheOperatorsWritesGoFirstAndAJobLargerThanTheBudgetRunsAlone) {
    EXPECT_EQ(ask(Kind::ReadEeprom, "read"), Admission::Queued);
    EXPECT_EQ(ask(Kind::VideoLine, "video"), Admission::Queued);
    EXPECT_EQ(ask(Kind::Write, "write"), Admission::Queued);
    while (run()) {
    }
    EXPECT_EQ(answered(), (std::vector<std::string>{"write", "read", "video"}));

    // A port check of 3 s is more than the reads' budget: it runs in an empty window, and
    // nothing else of its class for a window after it.
    now += 20.0;
    duration[Kind::PortCheck] = 3.0;
    ask(Kind::PortCheck, "slow check");
    ASSERT_TRUE(run());
    ask(Kind::ReadEeprom, "read after");
    EXPECT_FALSE(jobs->ready());
    now += 9.0;
    EXPECT_FALSE(jobs->ready());
    now += 2.0;
    EXPECT_TRUE(run());
}

TEST_F(JobsTest, OneReadAnswersEveryoneWhoAskedAndAPortCheckIsSharedForTenSeconds) {
    EXPECT_EQ(ask(Kind::ReadEeprom, "a"), Admission::Queued);
    EXPECT_EQ(ask(Kind::ReadEeprom, "b"), Admission::Joined);
    EXPECT_EQ(ask(Kind::ReadEeprom, "c"), Admission::Joined);
    // The reserve line and a face's video line are the same line.
    EXPECT_EQ(ask(Kind::VideoLine, "video"), Admission::Queued);
    EXPECT_EQ(jobs->submit(job(Kind::ReserveLine), record("reserve"), {}, true).admission,
              Admission::Joined);
    while (run()) {
    }
    EXPECT_EQ(ran, (std::vector<Kind>{Kind::ReadEeprom, Kind::VideoLine}));
    EXPECT_EQ(answered(), (std::vector<std::string>{"a", "b", "c", "video", "reserve"}));
    EXPECT_EQ(results["a"].words[0], results["c"].words[0]);

    // A second line within a second is refused, but the gateway's own reserve line is not.
    EXPECT_EQ(ask(Kind::VideoLine, "too soon"), Admission::TooSoon);
    EXPECT_EQ(jobs->submit(job(Kind::ReserveLine), record("own"), {}, true).admission,
              Admission::Queued);

    now += 20.0;
    ask(Kind::PortCheck, "check");
    Admission meanwhile = Admission::Queued;
    duringRun = [&] {
        if (ran.size() == 3)
            meanwhile = ask(Kind::PortCheck, "while it runs");
    };
    while (run()) {
    }
    ASSERT_EQ(ran.back(), Kind::PortCheck);
    EXPECT_EQ(meanwhile, Admission::Joined);
    EXPECT_EQ(answered().back(), "while it runs");
    now += 9.0;
    EXPECT_EQ(ask(Kind::PortCheck, "within ten seconds"), Admission::Answered);
    EXPECT_EQ(answers.back(), std::make_pair(std::string("within ten seconds"), Status::Done));
    now += 2.0;
    EXPECT_EQ(ask(Kind::PortCheck, "later"), Admission::Queued);
}

TEST_F(JobsTest, TheQueueIsBoundedAndNeverRunsAJobLateOrForNobody) {
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(ask(Kind::Write, "write " + std::to_string(i)), Admission::Queued);
    const JobScheduler::Ticket full = jobs->submit(job(Kind::Write), record("17th"));
    EXPECT_EQ(full.admission, Admission::Full);
    EXPECT_GE(full.retryAfter, 1.0);
    EXPECT_LE(full.retryAfter, 15.0);
    // The gateway's own line is not a client's and never refused for the queue.
    EXPECT_EQ(jobs->submit(job(Kind::ReserveLine), record("reserve"), {}, true).admission,
              Admission::Queued);
    jobs->stop();
    EXPECT_EQ(answers.size(), 17u);
    EXPECT_TRUE(std::all_of(answers.begin(), answers.end(),
                            [](const auto &a) { return a.second == Status::Stopping; }));
    EXPECT_EQ(ask(Kind::Write, "after the stop"), Admission::Stopping);

    // Past its deadline a job is answered Late when it would start, and does not run.
    restart();
    ask(Kind::Write, "late");
    now += 15.5;
    EXPECT_FALSE(run());
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(answers.back(), std::make_pair(std::string("late"), Status::Late));
    // The sweep answers those the budget holds back, too.
    ask(Kind::Write, "held");
    now += 16.0;
    jobs->sweep();
    EXPECT_EQ(answers.back(), std::make_pair(std::string("held"), Status::Late));

    // An asker that left takes its job along unless another waits for the same read.
    bool aGone = false, bGone = false;
    ask(Kind::ReadEeprom, "a", [&] { return aGone; });
    ask(Kind::ReadEeprom, "b", [&] { return bGone; });
    aGone = true;
    ASSERT_TRUE(run());
    EXPECT_EQ(answered().back(), "b");
    answers.clear();
    ask(Kind::Write, "left", [] { return true; });
    jobs->sweep();
    EXPECT_EQ(jobs->waiting(), 0u);
    EXPECT_TRUE(answers.empty());
}

TEST_F(JobsTest, WithoutASensorNothingWaits) {
    ask(Kind::Write, "waiting");
    jobs->setSensorAnswering(false);
    EXPECT_EQ(answers.back(), std::make_pair(std::string("waiting"), Status::NoSensor));
    EXPECT_EQ(ask(Kind::VideoLine, "asked now"), Admission::NoSensor);
    jobs->setSensorAnswering(true);
    EXPECT_EQ(ask(Kind::VideoLine, "back"), Admission::Queued);
}

} // namespace
