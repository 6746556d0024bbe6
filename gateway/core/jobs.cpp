// The job scheduler: a sliding window of the line's time spent on jobs, one queue ordered by
// priority, and the answers handed out after the lock is let go, so a callback may ask again.
#include "gateway/core/jobs.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// What a job of each kind takes on the wire at 19 200 baud before one has been timed: a write is
// a read, the words, the sensor's store time and a read-back; a video line four 64-word blocks.
double firstEstimate(SensorJob::Kind kind) {
    switch (kind) {
    case SensorJob::Kind::Write:
        return 0.35;
    case SensorJob::Kind::ReadEeprom:
        return 0.1;
    case SensorJob::Kind::DriftCheck:
        return 0.2;
    case SensorJob::Kind::VideoLine:
    case SensorJob::Kind::ReserveLine:
        return 0.4;
    case SensorJob::Kind::PortCheck:
        return 0.6;
    }
    return 0.5;
}

} // namespace

JobScheduler::JobScheduler(Limits limits, Clock clock)
    : limits_(limits), clock_(std::move(clock)) {}

bool JobScheduler::isRead(SensorJob::Kind kind) {
    return kind != SensorJob::Kind::Write;
}

// The operator's writes first, then the gateway's own reserve line and drift check, then the
// faces' reads.
int JobScheduler::priorityOf(SensorJob::Kind kind) {
    if (kind == SensorJob::Kind::Write)
        return 0;
    return kind == SensorJob::Kind::ReserveLine || kind == SensorJob::Kind::DriftCheck ? 1 : 2;
}

// Reads that give everyone the same answer share one exchange; a write is never shared.
std::string JobScheduler::keyOf(const SensorJob &job) {
    switch (job.kind) {
    case SensorJob::Kind::ReadEeprom:
        return "eeprom";
    case SensorJob::Kind::VideoLine:
    case SensorJob::Kind::ReserveLine:
        return "video";
    case SensorJob::Kind::PortCheck:
        return "port";
    case SensorJob::Kind::DriftCheck:
        return "drift";
    case SensorJob::Kind::Write:
        break;
    }
    return {};
}

JobScheduler::Ticket JobScheduler::submit(SensorJob job, Done done, Gone gone, bool internal) {
    std::optional<JobResult> shared;
    Ticket ticket{Admission::Queued};
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const double now = clock_();
        if (stopping_)
            return {Admission::Stopping};
        if (!answering_)
            return {Admission::NoSensor};
        const double deadline =
            internal ? std::numeric_limits<double>::infinity() : now + limits_.deadline;
        const std::string key = keyOf(job);
        if (!key.empty()) {
            Waiting *same = running_ && keyOf(running_->job) == key ? &*running_ : nullptr;
            for (Waiting &w : jobs_)
                if (!same && keyOf(w.job) == key)
                    same = &w;
            if (same) {
                if (same->askers.size() >= limits_.maxAskers && !internal)
                    return {Admission::Full, retryAfterLocked(now)};
                same->askers.push_back({std::move(done), std::move(gone), deadline});
                return {Admission::Joined};
            }
        }
        if (job.kind == SensorJob::Kind::PortCheck && lastPortCheck_ &&
            now - lastPortCheckAt_ < limits_.portCheckShared) {
            shared = lastPortCheck_;
            ticket.admission = Admission::Answered;
        } else {
            if (job.kind == SensorJob::Kind::VideoLine && !internal &&
                now - lastVideo_ < limits_.videoInterval)
                return {Admission::TooSoon,
                        std::max(1.0, std::ceil(limits_.videoInterval - (now - lastVideo_)))};
            if (!internal && jobs_.size() >= limits_.maxWaiting)
                return {Admission::Full, retryAfterLocked(now)};
            if (job.kind == SensorJob::Kind::VideoLine && !internal)
                lastVideo_ = now;
            Waiting waiting{std::move(job), {}, false, 0};
            waiting.read = isRead(waiting.job.kind);
            waiting.priority = priorityOf(waiting.job.kind);
            waiting.askers.push_back({std::move(done), std::move(gone), deadline});
            const auto after = std::find_if(jobs_.begin(), jobs_.end(), [&](const Waiting &w) {
                return w.priority > waiting.priority;
            });
            jobs_.insert(after, std::move(waiting));
        }
    }
    if (shared)
        done(*shared);
    return ticket;
}

double JobScheduler::usedLocked(double now, bool readsOnly) const {
    const double from = now - limits_.window;
    double used = 0.0;
    for (const Span &span : spans_)
        if ((!readsOnly || span.read) && span.end > from)
            used += span.end - std::max(span.start, from);
    return used;
}

double JobScheduler::estimateLocked(SensorJob::Kind kind) const {
    const auto timed = lastDuration_.find(kind);
    return timed == lastDuration_.end() ? firstEstimate(kind) : timed->second;
}

// A job fits when the window has room for it; a job larger than the whole budget runs only
// when the window holds no other, so it cannot be starved, nor followed by another for a window.
bool JobScheduler::fitsLocked(const Waiting &w, double now) const {
    const double estimate = estimateLocked(w.job.kind);
    auto fits = [&](bool readsOnly, double share) {
        const double used = usedLocked(now, readsOnly);
        return used <= 0.0 || used + estimate <= share * limits_.window;
    };
    return fits(false, limits_.share) && (!w.read || fits(true, limits_.readShare));
}

double JobScheduler::retryAfterLocked(double now) const {
    double work = 0.0;
    for (const Waiting &w : jobs_)
        work += estimateLocked(w.job.kind);
    const double busy =
        std::max(0.0, usedLocked(now, false) + work - limits_.share * limits_.window);
    return std::min(limits_.deadline, std::max(1.0, std::ceil(busy / limits_.share)));
}

void JobScheduler::dropGoneLocked(std::vector<std::pair<Done, JobResult::Status>> *answers,
                                  double now) {
    for (Waiting &w : jobs_) {
        auto kept = w.askers.begin();
        for (Asker &asker : w.askers) {
            if (asker.gone && asker.gone())
                continue;
            if (now > asker.deadline) {
                answers->push_back({std::move(asker.done), JobResult::Status::Late});
                continue;
            }
            *kept++ = std::move(asker);
        }
        w.askers.erase(kept, w.askers.end());
    }
    jobs_.erase(std::remove_if(jobs_.begin(), jobs_.end(),
                               [](const Waiting &w) { return w.askers.empty(); }),
                jobs_.end());
}

namespace {

void answerAll(std::vector<std::pair<JobScheduler::Done, JobResult::Status>> &answers) {
    for (auto &answer : answers) {
        JobResult result;
        result.status = answer.second;
        answer.first(result);
    }
}

} // namespace

bool JobScheduler::ready() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return !jobs_.empty() && fitsLocked(jobs_.front(), clock_());
}

bool JobScheduler::runNext(const Runner &runner) {
    std::vector<std::pair<Done, JobResult::Status>> answers;
    SensorJob job;
    bool read = false;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const double now = clock_();
        dropGoneLocked(&answers, now);
        if (!jobs_.empty() && fitsLocked(jobs_.front(), now)) {
            running_ = std::move(jobs_.front());
            jobs_.pop_front();
            job = running_->job;
            read = running_->read;
        }
    }
    answerAll(answers);
    if (!running_)
        return false;
    const double start = clock_();
    const JobResult result = runner(job);
    const double end = clock_();
    std::vector<Asker> askers;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        askers = std::move(running_->askers);
        running_.reset();
        spans_.push_back({start, end, read});
        while (!spans_.empty() && spans_.front().end < end - limits_.window)
            spans_.pop_front();
        lastDuration_[job.kind] = end - start;
        if (job.kind == SensorJob::Kind::PortCheck) {
            lastPortCheck_ = result;
            lastPortCheckAt_ = end;
        }
    }
    for (Asker &asker : askers)
        asker.done(result);
    return true;
}

void JobScheduler::sweep() {
    std::vector<std::pair<Done, JobResult::Status>> answers;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        dropGoneLocked(&answers, clock_());
    }
    answerAll(answers);
}

void JobScheduler::setSensorAnswering(bool answering) {
    std::vector<std::pair<Done, JobResult::Status>> answers;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        answering_ = answering;
        if (answering)
            return;
        for (Waiting &w : jobs_)
            for (Asker &asker : w.askers)
                answers.push_back({std::move(asker.done), JobResult::Status::NoSensor});
        jobs_.clear();
    }
    answerAll(answers);
}

void JobScheduler::stop() {
    std::vector<std::pair<Done, JobResult::Status>> answers;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        for (Waiting &w : jobs_)
            for (Asker &asker : w.askers)
                answers.push_back({std::move(asker.done), JobResult::Status::Stopping});
        jobs_.clear();
    }
    answerAll(answers);
}

std::size_t JobScheduler::waiting() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.size();
}

double JobScheduler::busySeconds() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return usedLocked(clock_(), false);
}

double JobScheduler::readSeconds() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return usedLocked(clock_(), true);
}
