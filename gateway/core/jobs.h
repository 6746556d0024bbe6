// The sensor work a face may ask for, and the scheduler that fits it between two run cycles so that
// the measurement comes first: a budget of the line's time, identical reads done once, a bounded
// queue, deadlines checked when a job would start, and askers that left taking their job along.
#pragma once

#include "app/porttools/portdoctor.h"
#include "gateway/core/state.h"
#include "gateway/core/wordwrites.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// What a face asks of the sensor. Faces never reach the link themselves: the poller runs this.
struct SensorJob {
    enum class Kind { Write, ReadEeprom, VideoLine, PortCheck, ReserveLine, DriftCheck };
    Kind kind = Kind::Write;
    // Write: the steps, run in this order: words to RAM, words to EEPROM, teach, reset max/min.
    std::optional<CheckedWrite> ram, eeprom;
    bool teach = false, reset = false;
};

// What came of a job, handed to everyone who waited for it.
struct JobResult {
    enum class Status {
        Done,     // it ran
        NoSensor, // no sensor answers: it never ran
        Late,     // its deadline passed before it could start
        Stopping, // the gateway stops
    };
    Status status = Status::Done;
    // Write: each step with what it was ("teach", "parameter words to RAM: power=600").
    std::vector<std::pair<std::string, WriteOutcome>> steps;
    // The reads: whether the sensor's answer came whole.
    bool answered = false;
    ParameterSet words{}; // ReadEeprom, DriftCheck (the EEPROM's)
    ParameterSet ram{};   // DriftCheck
    VideoLine video;      // VideoLine, ReserveLine
    PortReport report;    // PortCheck
};

class JobScheduler {
  public:
    struct Limits {
        // Jobs together take at most `share` of any `window` seconds of the line's time, and the
        // reads (EEPROM, video lines, port checks) at most `readShare`, so a flood of reads
        // leaves both the measurement and the operator's writes their time.
        double window = 10.0;
        double share = 0.25;
        double readShare = 0.1;
        // Distinct jobs waiting; beyond them a new one is refused (Full).
        std::size_t maxWaiting = 16;
        // Askers joining one waiting read.
        std::size_t maxAskers = 1024;
        // From asking to starting; a job not started by then is answered Late, never run.
        double deadline = 15.0;
        // A port check's result answers the checks asked within this long after it.
        double portCheckShared = 10.0;
        // A new video line for the faces at most this often; the reserve line's own is exempt.
        double videoInterval = 1.0;
    };
    using Clock = std::function<double()>;
    using Runner = std::function<JobResult(const SensorJob &)>;
    // Called once with the result, on the thread that runs the jobs (or, for a port check's
    // shared result, on the asker's own thread inside submit).
    using Done = std::function<void(const JobResult &)>;
    // Whether the asker has gone (a web client that closed its connection); any thread.
    using Gone = std::function<bool()>;

    enum class Admission {
        Queued,   // a new job waits
        Joined,   // the same read waits or runs already: one exchange answers both
        Answered, // a port check's recent result was handed over at once
        Full,     // too many jobs wait: try again after `retryAfter`
        TooSoon,  // a video line came less than videoInterval ago: after `retryAfter`
        NoSensor, // no sensor answers
        Stopping, // the gateway stops
    };
    struct Ticket {
        Admission admission;
        double retryAfter = 0.0; // seconds, for Full and TooSoon
    };

    JobScheduler(Limits limits, Clock clock);
    JobScheduler(const JobScheduler &) = delete;
    JobScheduler &operator=(const JobScheduler &) = delete;

    // Any thread. `internal` is the poller's own work (the reserve line): never refused for the
    // queue's size or the video interval.
    Ticket submit(SensorJob job, Done done, Gone gone = {}, bool internal = false);

    // The poller's thread, between two run cycles: whether a job may start now, and runs the
    // first one that may (true when one ran). Operator writes go before reads.
    bool ready();
    bool runNext(const Runner &runner);
    // Answers those past their deadline and forgets those whose askers all left.
    void sweep();
    // While no sensor answers, what waits and what comes is answered NoSensor.
    void setSensorAnswering(bool answering);
    // Answers everything Stopping, now and from now on.
    void stop();

    std::size_t waiting() const;
    // Seconds of the line the jobs took in the last window, and those of the reads.
    double busySeconds() const;
    double readSeconds() const;

  private:
    struct Asker {
        Done done;
        Gone gone;
        double deadline;
    };
    struct Waiting {
        SensorJob job;
        std::vector<Asker> askers;
        bool read;
        int priority;
    };
    struct Span {
        double start, end;
        bool read;
    };

    static bool isRead(SensorJob::Kind kind);
    static int priorityOf(SensorJob::Kind kind);
    static std::string keyOf(const SensorJob &job);
    double usedLocked(double now, bool readsOnly) const;
    double estimateLocked(SensorJob::Kind kind) const;
    bool fitsLocked(const Waiting &w, double now) const;
    std::deque<Waiting>::iterator firstLocked();
    void dropGoneLocked(std::vector<std::pair<Done, JobResult::Status>> *answers, double now);
    double retryAfterLocked(double now) const;

    const Limits limits_;
    const Clock clock_;
    mutable std::mutex mutex_;
    std::deque<Waiting> jobs_;
    // The job on the line now: a read asked for meanwhile is answered with its result.
    std::optional<Waiting> running_;
    std::deque<Span> spans_;
    std::map<SensorJob::Kind, double> lastDuration_;
    double lastVideo_ = -1e9;
    std::optional<JobResult> lastPortCheck_;
    double lastPortCheckAt_ = -1e9;
    bool answering_ = false;
    bool stopping_ = false;
};
