// The poll loop over the program's own link code (SendRUNRequest, isAnswerTo, the receive callback
// and CopyPPtoMeasurement, as run mode uses them), the jobs and reserve lines between two cycles,
// reconnects to sensor and broker, and the news every face hears.
#include "gateway/core/poller.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/measurement.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "com232/sensorunits.h"
#include "gateway/core/logging.h"
#include "gateway/core/sampletime.h"
#include "gateway/core/sensorjobs.h"
#include "gateway/core/servicemanager.h"
#include "platform/eventwait.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "platform/utility.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <optional>

#ifndef KVEX_VERSION
#define KVEX_VERSION "unknown"
#endif

namespace {

constexpr double kSensorRetrySeconds = 1.0;
// The longest the loops sleep without looking at the broker's events and the backlog.
constexpr double kLongestWait = 0.05;
// How long a stop waits for the queue and the last messages to go out.
constexpr double kStopFlushSeconds = 3.0;
// Other threads read the health at most this stale; each sample and each change of identity,
// words or reserve is published at once.
constexpr double kSnapshotInterval = 0.25;
// The first drift check after the start, once the poll has settled.
constexpr double kFirstDriftCheckSeconds = 5.0;
// A drift check after a write through the gateway waits this long for the act's next write.
constexpr double kDriftAfterWriteSeconds = 2.0;

std::atomic<bool> quitRequested{false};
std::atomic<int> quitSignal{0};

bool quitting() {
    return quitRequested.load();
}

} // namespace

void requestGatewayStop(int signal) {
    quitSignal = signal;
    quitRequested = true;
}

GatewayCore::GatewayCore(const GatewayOptions &options, int port, std::string device,
                         std::string host, std::string topicPrefix, std::string clientId)
    : o_(options), port_(port), device_(std::move(device)), host_(std::move(host)),
      topicPrefix_(std::move(topicPrefix)), clientId_(std::move(clientId)),
      jobs_(JobScheduler::Limits{}, steadySeconds),
      trend_(std::make_shared<const std::deque<ReserveReading>>()) {
    quitRequested = false;
    state_.startedAt = steadySeconds();
    state_.version = KVEX_VERSION;
    state_.info.device = device_;
    state_.info.version = KVEX_VERSION;
    state_.info.pitchMicrons = std::nan("");
    state_.reserve.warnBelow = o_.reserveWarn;
    state_.reserve.enabled = o_.reserveEvery > 0.0;
    state_.drift.enabled = o_.driftEvery > 0.0;
    state_.drift.goldenFile = o_.golden;
    if (o_.mqtt) {
        broker_ = std::make_unique<BrokerLink>(o_, clientId_);
        backlog_ = std::make_unique<Backlog>(
            o_,
            [this](const std::vector<GatewaySample> &samples) { return publishSamples(samples); },
            [this] { return samplesMayGo(); });
    }
    if (o_.http)
        web_ = std::make_unique<WebListener>(o_);
    publishSnapshot();
}

GatewayCore::~GatewayCore() {
    // A waiting job may hold a web client's reply, which must be let go of while the web server
    // is still there; and the listener's routes belong to the faces: no request may reach one
    // that is gone.
    jobs_.stop();
    if (web_)
        web_->stop();
}

void GatewayCore::makeFaces(const std::vector<FaceMaker> &makers) {
    // The faces keep it by reference: it lives as long as the core.
    services_ = std::make_unique<FaceServices>(
        FaceServices{o_, device_, host_, topicPrefix_, jobs_, audit_, broker_.get(), web_.get(),
                     [this] { return snapshot(); },
                     [this] {
                         const std::lock_guard<std::mutex> lock(snapshotMutex_);
                         return trend_;
                     },
                     modbusRefusals_});
    for (FaceMaker make : makers)
        if (std::unique_ptr<GatewayFace> face = make(*services_))
            faces_.push_back(std::move(face));
}

bool GatewayCore::start() {
    if (web_) {
        std::string error;
        if (!web_->start(&error)) {
            logEvent(kvex::tr("cannot serve the web page on %s:%d: %s"), o_.httpAddress.c_str(),
                     o_.httpPort, error.c_str());
            return false;
        }
    }
    for (const auto &face : faces_) {
        std::string error;
        if (!face->start(&error)) {
            if (!error.empty())
                logEvent("serve: %s", error.c_str());
            return false;
        }
    }
    if (backlog_) {
        std::string error;
        if (!backlog_->openStore(&error)) {
            logEvent("serve: %s", error.c_str());
            return false;
        }
        if (SampleStore *store = backlog_->store()) {
            seq_ = store->lastSeq();
            state_.samples = seq_;
            state_.info.storeEpoch = store->epoch();
            const std::lock_guard<std::mutex> lock(snapshotMutex_);
            trend_ = std::make_shared<const std::deque<ReserveReading>>(store->readings());
        }
        logEvent(kvex::tr("MQTT broker %s:%d, topics under %s/"), o_.mqttHost.c_str(), o_.mqttPort,
                 topicPrefix_.c_str());
    }
    if (o_.driftEvery > 0.0) {
        if (o_.golden.empty())
            logEvent(kvex::tr("drift check every %.0f s: RAM against EEPROM (no --golden)"),
                     o_.driftEvery);
        else
            logEvent(kvex::tr("drift check every %.0f s: RAM, EEPROM and the approved set %s"),
                     o_.driftEvery, o_.golden.c_str());
    }
    refreshHealth();
    publishSnapshot();
    // Every face listens and the store is open: what depends on the gateway may start.
    serviceReady("serving " + device_);
    return true;
}

void GatewayCore::run() {
    bool failureLogged = false;
    while (!quitting()) {
        if (identifySensor()) {
            failureLogged = false;
            logEvent(kvex::tr("sensor found on %s: type %u, board %u, %u pixels, firmware \"%s\""),
                     device_.c_str(), state_.info.ccdtype, state_.info.pcbtype, state_.info.pixels,
                     state_.info.firmware.c_str());
            sensorChanged(true);
            if (poll() == PollEnd::Quit)
                break;
            logEvent(kvex::tr("sensor lost on %s: no answer within %.1f s; retrying"),
                     device_.c_str(), TIMEOUT);
        } else if (!failureLogged) {
            failureLogged = true;
            logEvent(kvex::tr("no sensor answering on %s (%s); retrying every %.0f s"),
                     device_.c_str(), szStatus, kSensorRetrySeconds);
        }
        if (state_.sensorAnswering || !state_.sensorChecked)
            sensorChanged(false);
        pumpUntil(Timer() + kSensorRetrySeconds);
    }
}

// One answer to "did the sensor answer?", the one the panel and the command line take.
bool GatewayCore::identifySensor() {
    CloseCom(port_);
    com = port_;
    setStatus("");
    if (InitRS232(port_) != LINK_OK)
        return false;
    SensorInfo &info = state_.info;
    info.ccdtype = ccdtype;
    info.pcbtype = pcbtype;
    info.pixels = ccdmaxpixel;
    info.firmware = szVersion;
    while (!info.firmware.empty() && info.firmware.back() == ' ')
        info.firmware.pop_back();
    const SensorGeometry *geometry = sensorGeometry(ccdtype);
    info.pitchMicrons = geometry ? geometry->pitchMicrons : std::nan("");
    state_.identified = true;
    state_.positions = static_cast<int>(ccdsubpixel);
    state_.params = {power, pMode, vThd,   anaMode,   polarity, eMode,  eBeg,    eEnd,
                     tVal,  tTol,  opMode, eHardware, para12,   para13, average, para15};
    state_.haveParams = true;
    return true;
}

void GatewayCore::sensorChanged(bool answering) {
    // A sensor found again may be another one, come up with its factory words: checked soon.
    if (answering)
        driftCheck_.scheduled = false;
    state_.sensorChecked = true;
    state_.sensorAnswering = answering;
    jobs_.setSensorAnswering(answering);
    refreshHealth();
    publishSnapshot();
    for (const auto &face : faces_)
        face->sensorChanged(state_);
}

GatewayCore::PollEnd GatewayCore::poll() {
    const ExchangeScope exchange;
    const double interval = o_.rate > 0.0 ? 1.0 / o_.rate : 0.0;
    double nextRequest = Timer();
    bool serialError = false;
    // An answer is published while the next request is on the wire, as run mode draws then:
    // the request goes out as soon as the answer is in.
    std::optional<Measurement> answered;
    int64_t answeredAt = 0;
    auto publishAnswered = [&] {
        if (!answered)
            return;
        takeSample(*answered, answeredAt, serialError);
        serialError = false;
        answered.reset();
    };
    const auto runner = [this](const SensorJob &job) { return runJob(job); };
    while (!quitting()) {
        if (interval > 0.0) {
            publishAnswered();
            pumpUntil(nextRequest);
            if (quitting())
                break;
            nextRequest = std::max(nextRequest + interval, Timer());
        }
        // The faces' work runs here, between two cycles, as far as its budget allows; so do the
        // reserve line and the drift check. The first reserve line comes one interval after the
        // start, as a restart must not add a line of its own; the first drift check soon after
        // the sensor is found, so a restart says at once whether it still holds the approved set.
        submitWhenDue(&reserveLine_, o_.reserveEvery, o_.reserveEvery, SensorJob::Kind::ReserveLine,
                      &GatewayCore::reserveLineDone);
        submitWhenDue(&driftCheck_, o_.driftEvery, kFirstDriftCheckSeconds,
                      SensorJob::Kind::DriftCheck, &GatewayCore::driftCheckDone);
        if (jobs_.ready()) {
            publishAnswered();
            jobs_.runNext(runner);
        }
        // The port does not watch the line while request and answer cross the wire, so the
        // wait sleeps through the answer's bytes yet serves Modbus clients and the broker's
        // events the moment they come.
        SendRUNRequest();
        publishAnswered();
        for (double waited = 0.0; rx_flag == 0 && waited <= TIMEOUT; waited = Timer() - tstart) {
            waitForEvents(std::min(kLongestWait, TIMEOUT + 0.001 - waited));
            tick();
        }
        if (rx_flag == 0)
            return PollEnd::Lost;
        if (!isAnswerTo(8)) {
            serialError = true;
            ++state_.serialErrors;
            continue;
        }
        // The next request overwrites pp, so the answer is kept now.
        CopyPPtoMeasurement();
        answered = currentMeasurement();
        answeredAt = epochMsNow();
    }
    publishAnswered();
    rx_flag = 0;
    FlushInQ(com);
    FlushOutQ(com);
    return PollEnd::Quit;
}

void GatewayCore::takeSample(const Measurement &m, int64_t timeMs, bool serialError) {
    GatewaySample s{};
    s.timeMs = timeMs;
    s.seq = ++seq_;
    s.left = m.left;
    s.right = m.right;
    s.value = m.value;
    s.um = m.microns;
    s.setpoint = m.setpoint;
    s.tol = m.tolerance;
    s.inTol = m.inTolerance;
    s.anaMax = m.anaMax;
    s.anaMin = m.anaMin;
    s.replay = false;
    s.epoch = state_.info.storeEpoch;

    state_.haveSample = true;
    state_.sample = s;
    state_.sampleAt = steadySeconds();
    state_.answerBroken = serialError;
    state_.samples = seq_;
    publishSnapshot();
    for (const auto &face : faces_)
        face->sampleTaken(state_);
    if (backlog_)
        backlog_->add(s);
}

void GatewayCore::submitWhenDue(Periodic *p, double every, double first, SensorJob::Kind kind,
                                void (GatewayCore::*done)(const JobResult &)) {
    if (every <= 0.0 || p->pending)
        return;
    if (!p->scheduled) {
        p->scheduled = true;
        p->next = Timer() + first;
    }
    if (Timer() < p->next)
        return;
    SensorJob job;
    job.kind = kind;
    const JobScheduler::Ticket ticket = jobs_.submit(
        job, [this, done](const JobResult &result) { (this->*done)(result); }, {}, true);
    p->pending = ticket.admission == JobScheduler::Admission::Queued ||
                 ticket.admission == JobScheduler::Admission::Joined;
}

// A line that does not come whole is counted and tried again at the next interval; the last
// reading stands, since a reserve of 0 would say the edges are lost.
void GatewayCore::reserveLineDone(const JobResult &result) {
    reserveLine_.pending = false;
    if (result.status != JobResult::Status::Done)
        return;
    reserveLine_.next = Timer() + o_.reserveEvery;
    ReserveHealth &reserve = state_.reserve;
    if (!result.answered) {
        ++reserve.failures;
        logEvent(kvex::tr("reserve line did not come whole (%llu so far); next in %.0f s"),
                 static_cast<unsigned long long>(reserve.failures), o_.reserveEvery);
        publishSnapshot();
        for (const auto &face : faces_)
            face->reserveChecked(state_, nullptr);
        return;
    }
    const bool warnedBefore = reserveWarns(reserve);
    reserve.last = result.video.reserve;
    reserve.known = true;
    reserve.line = result.video.pixels;
    reserve.lineMs = epochMsNow();
    reserve.proposal = lineProposal(result.video, state_.positions);
    const bool warns = reserveWarns(reserve);
    if (warns && !warnedBefore)
        logEvent(kvex::tr("signal reserve %.2f (%s) below %.2f: clean the lens or check the light"),
                 reserve.last.ratio, reserve.last.state.c_str(), reserve.warnBelow);
    else if (!warns && warnedBefore)
        logEvent(kvex::tr("signal reserve %.2f back above %.2f"), reserve.last.ratio,
                 reserve.warnBelow);
    if (backlog_ && backlog_->store())
        backlog_->store()->addReading(reserve.last);
    {
        const std::lock_guard<std::mutex> lock(snapshotMutex_);
        auto trend = std::make_shared<std::deque<ReserveReading>>(*trend_);
        trend->push_back(reserve.last);
        if (trend->size() > kReserveTrendKept)
            trend->pop_front();
        trend_ = std::move(trend);
    }
    publishSnapshot();
    for (const auto &face : faces_)
        face->reserveChecked(state_, &reserve.last);
}

// A drift is said in the log when it begins, changes or ends; a check that finds what the last
// one found says nothing. A check whose reads did not come whole is tried again at the next
// interval, and the last finding stands.
void GatewayCore::driftCheckDone(const JobResult &result) {
    driftCheck_.pending = false;
    if (result.status != JobResult::Status::Done)
        return;
    driftCheck_.next = Timer() + o_.driftEvery;
    DriftHealth &drift = state_.drift;
    if (!result.answered) {
        ++drift.failures;
        logEvent(kvex::tr("drift check: the parameter sets did not come whole (%llu so far); next "
                          "in %.0f s"),
                 static_cast<unsigned long long>(drift.failures), o_.driftEvery);
    } else {
        // Someone may have written the RAM past the gateway: what it holds is the sensor's word.
        if (result.ram != state_.params)
            adoptParams(result.ram);
        const ParameterDrift found = CompareDRIFT(result.ram.data(), result.words.data(),
                                                  haveApproved_ ? approved_.data() : nullptr);
        const std::vector<std::string> before = drift.known ? driftLines(drift.last)
                                                            : std::vector<std::string>{},
                                       after = driftLines(found);
        if (after != before) {
            if (!after.empty()) {
                std::string says;
                for (const std::string &text : driftSays(found))
                    says += (says.empty() ? "" : ", ") + text;
                std::string words;
                for (const std::string &line : after)
                    words += "; " + line;
                logEvent(kvex::tr("parameter drift: %s%s"), says.c_str(), words.c_str());
            } else {
                logEvent(haveApproved_ ? kvex::tr("parameter drift ended: RAM, EEPROM and the "
                                                  "approved set agree")
                                       : kvex::tr("parameter drift ended: RAM and EEPROM agree"));
            }
        }
        drift.known = true;
        drift.last = found;
        drift.ts = isoTimeNow();
        drift.checkedMs = epochMsNow();
    }
    publishSnapshot();
    for (const auto &face : faces_)
        face->driftChecked(state_);
}

bool GatewayCore::loadApprovedSet(std::vector<std::string> *problems) {
    if (o_.golden.empty())
        return true;
    unsigned short words[PNUM];
    *problems = ReadAPPROVEDSet(o_.golden, state_.identified ? state_.positions : -1, words);
    if (!problems->empty())
        return false;
    std::copy(words, words + PNUM, approved_.begin());
    haveApproved_ = true;
    return true;
}

JobResult GatewayCore::runJob(const SensorJob &job) {
    JobResult result;
    switch (job.kind) {
    case SensorJob::Kind::Write: {
        auto step = [&](const std::string &what, const WriteOutcome &outcome) {
            result.steps.push_back({what, outcome});
            if (outcome.ramChanged)
                adoptParams(outcome.words);
        };
        if (job.ram)
            step(job.ram->what, runWordWrite(*job.ram));
        if (job.eeprom)
            step(job.eeprom->what, runWordWrite(*job.eeprom));
        if (job.teach)
            step("teach", runTeach());
        if (job.reset)
            step("reset max/min", runResetMaxMin());
        result.answered = true;
        // What the write left in RAM and EEPROM is compared soon after, once the writes of one
        // act (RAM, then EEPROM) are through, so the moment between them is not a drift.
        if (driftCheck_.scheduled)
            driftCheck_.next = Timer() + kDriftAfterWriteSeconds;
        break;
    }
    case SensorJob::Kind::DriftCheck: {
        uint16_t ram[16], eeprom[16];
        result.answered =
            readSensorWords(WordMemory::Ram, ram) && readSensorWords(WordMemory::Eeprom, eeprom);
        if (result.answered) {
            std::copy(ram, ram + 16, result.ram.begin());
            std::copy(eeprom, eeprom + 16, result.words.begin());
        }
        break;
    }
    case SensorJob::Kind::ReadEeprom: {
        uint16_t words[16];
        result.answered = readSensorWords(WordMemory::Eeprom, words);
        if (result.answered)
            std::copy(words, words + 16, result.words.begin());
        break;
    }
    case SensorJob::Kind::VideoLine:
    case SensorJob::Kind::ReserveLine: {
        uint16_t line[256];
        result.answered = readSensorVideoLine(line);
        if (!result.answered)
            break;
        VideoLine &out = result.video;
        out.ts = isoTimeNow();
        out.pixels.assign(line, line + 256);
        out.xStep = xArray8[1];
        out.fullScale = YAXISMAX;
        out.reserve = lineReserve(line, state_.params.data(), out.ts);
        out.threshold = state_.params[2];
        out.left = state_.sample.left;
        out.right = state_.sample.right;
        out.value = state_.sample.value;
        out.evalBegin = state_.params[6];
        out.evalEnd = state_.params[7];
        out.pixelCount = state_.info.pixels;
        out.positions = state_.positions;
        break;
    }
    case SensorJob::Kind::PortCheck: {
        // The gateway holds the port between two cycles; the check may use it meanwhile.
        const int depth = exchangeDepth;
        exchangeDepth = 0;
        result.report = examinePort(port_);
        exchangeDepth = depth;
        result.answered = true;
        break;
    }
    }
    return result;
}

void GatewayCore::adoptParams(const ParameterSet &words) {
    std::copy(words.begin(), words.end(), pp);
    CopyPPtoVars();
    state_.params = words;
    state_.haveParams = true;
    publishSnapshot();
    for (const auto &face : faces_)
        face->paramsChanged(state_);
}

void GatewayCore::pumpUntil(double until) {
    for (double left = until - Timer(); !quitting() && left > 0.0; left = until - Timer()) {
        waitForEvents(std::min(kLongestWait, left));
        tick();
    }
}

void GatewayCore::tick() {
    serviceAlive();
    jobs_.sweep();
    if (broker_) {
        handleBrokerEvents();
        backlog_->pump(false);
        backlog_->maintain();
    }
    for (const std::string &entry : audit_.takeNew())
        for (const auto &face : faces_)
            face->audited(entry);
    refreshHealth();
    for (const auto &face : faces_)
        face->tick(state_);
    if (steadySeconds() - lastSnapshot_ >= kSnapshotInterval)
        publishSnapshot();
}

void GatewayCore::handleBrokerEvents() {
    for (const MqttEvent &event : broker_->takeEvents()) {
        switch (event.kind) {
        case MqttEvent::Connected:
            refreshHealth();
            for (const auto &face : faces_)
                face->brokerUp(state_);
            backlog_->connected();
            break;
        case MqttEvent::Lost:
            for (const auto &face : faces_)
                face->brokerDown();
            backlog_->lost();
            break;
        case MqttEvent::Delivered:
            backlog_->delivered(event.messageId);
            break;
        case MqttEvent::Message:
            for (const auto &face : faces_)
                face->brokerMessage(event.topic, event.text, event.retained);
            break;
        }
    }
    if (!quitting() && broker_->attemptDue()) {
        MqttWill will;
        for (const auto &face : faces_)
            if (will.topic.empty())
                face->chooseWill(&will);
        broker_->attempt(will);
    }
}

// One batch on every face that sends samples now, in the faces' order on the one connection,
// so the id returned (the last message's) is delivered only after the others went out too.
int GatewayCore::publishSamples(const std::vector<GatewaySample> &samples) {
    int id = -1;
    for (const auto &face : faces_) {
        if (!face->takesSamples())
            continue;
        id = face->publishSamples(samples);
        if (id < 0)
            return -1;
    }
    return id;
}

bool GatewayCore::samplesMayGo() const {
    return broker_ && broker_->up() &&
           std::any_of(faces_.begin(), faces_.end(),
                       [](const auto &face) { return face->takesSamples(); });
}

void GatewayCore::refreshHealth() {
    state_.broker = !broker_ ? "off" : broker_->word();
    if (backlog_) {
        state_.queueDepth = backlog_->size();
        state_.dropped = backlog_->dropped();
        state_.lostAtStop = backlog_->lostAtStop();
        state_.lostStoreFailing = backlog_->lostStoreFailing();
        state_.store = backlog_->storeWord();
        state_.info.dropped = state_.dropped;
        if (SampleStore *store = backlog_->store())
            state_.info.storeFault = store->fault();
    }
}

void GatewayCore::publishSnapshot() {
    auto copy = std::make_shared<const GatewayState>(state_);
    lastSnapshot_ = steadySeconds();
    const std::lock_guard<std::mutex> lock(snapshotMutex_);
    snapshot_ = std::move(copy);
}

std::shared_ptr<const GatewayState> GatewayCore::snapshot() const {
    const std::lock_guard<std::mutex> lock(snapshotMutex_);
    return snapshot_;
}

void GatewayCore::reload() {
    bool reloaded = false;
    if (!o_.golden.empty()) {
        // A file that no longer passes leaves the approved set as it was: the plant's check
        // must not go blind because of a slip in the file.
        std::vector<std::string> problems;
        if (loadApprovedSet(&problems)) {
            logEvent(kvex::tr("SIGHUP: approved parameter set read again from %s"),
                     o_.golden.c_str());
            if (driftCheck_.scheduled)
                driftCheck_.next = Timer();
        } else {
            for (const std::string &problem : problems)
                logEvent(kvex::tr("SIGHUP: %s; the approved set stays as it was"), problem.c_str());
        }
        reloaded = true;
    }
    // The broker's TLS files are read at every connection attempt anyway.
    if (web_ && web_->reloadTls())
        reloaded = true;
    if (!reloaded)
        logEvent(kvex::tr("SIGHUP: nothing to reload (no --http-cert, no --golden); the gateway "
                          "goes on"));
}

int GatewayCore::finish() {
    serviceStopping();
    logEvent(kvex::tr("stopping on signal %d"), quitSignal.load());
    jobs_.stop();
    if (web_)
        web_->stop();
    if (broker_) {
        handleBrokerEvents();
        backlog_->flushBatch();
        const double deadline = Timer() + kStopFlushSeconds;
        while (broker_->up() && !backlog_->drained() && Timer() < deadline) {
            handleBrokerEvents();
            backlog_->pump(true);
            Delay(0.005);
        }
        backlog_->close();
        refreshHealth();
        int last = -1;
        if (broker_->up())
            for (const auto &face : faces_) {
                const int id = face->lastWords(state_);
                if (id >= 0)
                    last = id;
            }
        // A clean disconnect keeps the will to the broker: each face has said its goodbye.
        broker_->disconnectAfter(last, 2.0);
    }
    for (const auto &face : faces_)
        face->stop();
    CloseCom(port_);
    logEvent(kvex::tr("stopped; %u samples taken, %llu dropped, %llu lost at the stop"),
             static_cast<unsigned>(seq_),
             static_cast<unsigned long long>(backlog_ ? backlog_->dropped() : 0),
             static_cast<unsigned long long>(
                 backlog_ ? backlog_->lostAtStop() + backlog_->lostStoreFailing() : 0));
    return 0;
}
