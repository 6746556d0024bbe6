// The gateway's serve loop: identification and run-mode polling over the program's own link
// code, the MQTT topics with their bounded backlog, and the Modbus register block.
#include "gateway/serve.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/measurement.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "com232/sensorunits.h"
#include "gateway/core/backoff.h"
#include "gateway/options.h"
#include "gateway/payloads.h"
#include "gateway/faces/modbus/registermap.h"
#include "gateway/core/samplequeue.h"
#include "gateway/core/samplestore.h"
#include "gateway/core/sensorjobs.h"
#include "gateway/faces/sparkplug/node.h"
#include "gateway/webapi.h"
#include "gateway/core/wordwrites.h"
#include "platform/eventwait.h"
#include "platform/inisettings.h"
#include "platform/modbusserver.h"
#include "platform/mqttclient.h"
#include "platform/rs232.h"
#include "platform/stopsignals.h"
#include "platform/tr.h"
#include "platform/utility.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <unistd.h>

#ifndef KVEX_VERSION
#define KVEX_VERSION "unknown"
#endif

namespace {

// Messages sent but not yet delivered; more wait in the queue, so memory stays bounded even
// when the broker accepts the connection but reads slowly.
constexpr std::size_t kMaxOutstanding = 200;
// How often repeated conditions (drops) reach the log and the info topic at most.
constexpr double kReportInterval = 10.0;
constexpr double kSensorRetrySeconds = 1.0;
// The longest the loops sleep without looking at the broker's events and the backlog.
constexpr double kLongestWait = 0.05;
// How long a stop waits for the queue and the last messages to go out.
constexpr double kStopFlushSeconds = 3.0;
// DCMDs waiting for the pause between two cycles; each takes the sensor for up to a few
// exchanges, so a flood is refused rather than queued.
constexpr std::size_t kMaxSparkplugCommands = 16;

bool quitRequested = false;
int quitSignal = 0;

// One line on stderr, the journal under systemd, in the operator's language: the format is
// marked with kvex::tr where it is written and translated here.
void logEvent(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, kvex::trNow(format), args);
    va_end(args);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

std::string hostName() {
    char name[256] = "";
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

class Gateway {
  public:
    Gateway(const GatewayOptions &options, int port, std::string device, std::string prefix,
            std::string clientId)
        : o_(options), port_(port), device_(std::move(device)), prefix_(std::move(prefix)),
          clientId_(std::move(clientId)), queue_(options.queue),
          backoff_(1.0, 30.0, static_cast<uint32_t>(getpid()) ^ static_cast<uint32_t>(Timer())) {}

    bool start();
    void run();
    int finish();

  private:
    enum class PollEnd { Quit, Lost };

    bool identifySensor();
    PollEnd poll();
    void takeSample(const Measurement &m, bool serialError);
    void pumpUntil(double until);
    void tick();
    void handleMqttEvents();
    void sendBacklog(bool unpaced);
    bool sendMeas(std::vector<GatewaySample> samples);
    void storeSample(GatewaySample s);
    bool sendFromStore(std::size_t count, bool replay);
    std::size_t backlogSize() const;
    uint64_t dropped() const;
    void publishState();
    void publishStatus();
    void publishInfo();
    void reportDrops();
    void updateModbus(bool freshSample);
    void takeReserveLine();
    void publishHealth();
    int publishRetained(const std::string &topic, const std::string &payload);
    void adoptParams(const uint16_t words[16]);
    // The Sparkplug face (gateway/sparkplug/): births, data, deaths, commands.
    int publishSamples(const std::vector<GatewaySample> &samples);
    bool sendingOpen() const;
    void prepareConnect();
    void sparkplugConnected();
    void sparkplugMessage(const std::string &topic, const std::string &payload);
    void sparkplugBirths();
    void sparkplugSensorChanged();
    void sparkplugHealth(bool force);
    SparkplugHealth sparkplugHealthNow() const;
    void runSparkplugCommands();
    void sparkplugAudit(const std::string &what, const std::string &result);
    int publishSparkplug(const SparkplugMessage &message, int qos = 0);

    GatewayOptions o_;
    int port_;
    std::string device_, prefix_, clientId_;

    std::unique_ptr<MqttClient> mqtt_;
    bool mqttUp_ = false;
    bool attemptPending_ = false;
    bool failureLogged_ = false;
    double nextAttempt_ = 0.0;
    Backoff backoff_;
    std::map<int, std::vector<GatewaySample>> outstanding_;
    SampleQueue queue_;
    // With --store the samples wait there instead of in queue_; these are the store's row ids
    // of the messages on their way, and the samples of the live batch being filled.
    std::unique_ptr<SampleStore> store_;
    std::map<int, std::vector<int64_t>> storeOutstanding_;
    std::size_t liveBatch_ = 0;
    std::string storeFaultPublished_;
    std::vector<GatewaySample> batch_;
    double replayCredit_ = 0.0;
    double lastReplayTime_ = 0.0;
    uint64_t replayed_ = 0;
    uint64_t droppedReported_ = 0;
    uint64_t droppedPublished_ = 0;
    double lastDropReport_ = -1e9;

    std::unique_ptr<ModbusServer> modbus_;
    RegisterState registers_;

    std::unique_ptr<WebApi> web_;

    bool sensorChecked_ = false;
    bool sensorPresent_ = false;
    SensorInfo info_{};
    uint16_t params_[16] = {};
    uint32_t seq_ = 0;

    // The signal reserve: when the next reserve line is due, and what the last ones gave.
    double nextReserve_ = 0.0;
    bool reserveScheduled_ = false;
    ReserveHealth reserve_;
    std::unique_ptr<SparkplugNode> sparkplug_;
    std::deque<SparkplugRequest> sparkplugWork_;
    uint64_t serialErrors_ = 0;
    double lastSparkplugHealth_ = -1e9;
};

bool readPasswordFile(const std::string &path, std::string *password);

bool Gateway::start() {
    if (o_.http) {
        std::string token;
        if (!o_.httpTokenFile.empty() &&
            (!readPasswordFile(o_.httpTokenFile, &token) || token.empty())) {
            logEvent(kvex::tr("cannot read a token from %s"), o_.httpTokenFile.c_str());
            return false;
        }
        WebApi::Hooks hooks;
        hooks.health = [this] {
            WebHealth health;
            health.sensorChecked = sensorChecked_;
            health.sensorPresent = sensorPresent_;
            health.mqtt = !mqtt_ ? "off" : mqttUp_ ? "connected" : "disconnected";
            health.queueDepth = backlogSize();
            health.dropped = dropped();
            health.samples = seq_;
            if (store_)
                health.store = store_->fault().empty() ? "ok" : "failing: " + store_->fault();
            return health;
        };
        hooks.paramsChanged = [this](const uint16_t words[16]) { adoptParams(words); };
        hooks.audit = [this](const std::string &entry) {
            if (mqtt_ && mqttUp_)
                publishRetained("audit", entry);
        };
        web_ = std::make_unique<WebApi>(o_, token, port_, std::move(hooks));
        std::string error;
        if (!web_->start(&error)) {
            logEvent(kvex::tr("cannot serve the web page on %s:%d: %s"), o_.httpAddress.c_str(),
                     o_.httpPort, error.c_str());
            return false;
        }
        logEvent(kvex::tr("web page on %s://%s:%d/, writes %s"),
                 o_.httpCert.empty() ? "http" : "https", o_.httpAddress.c_str(),
                 web_->listeningPort(),
                 token.empty() ? kvex::trNow("off") : kvex::trNow("on (token file)"));
    }
    if (o_.modbus) {
        modbus_ = std::make_unique<ModbusServer>();
        std::string error;
        if (!modbus_->start(o_.modbusAddress, o_.modbusPort, o_.unitId, &error)) {
            logEvent(kvex::tr("cannot serve Modbus TCP on %s:%d: %s%s"), o_.modbusAddress.c_str(),
                     o_.modbusPort, error.c_str(),
                     o_.modbusPort < 1024 ? kvex::trNow(" (ports below 1024 need privileges)")
                                          : "");
            return false;
        }
        logEvent(kvex::tr("Modbus TCP on %s:%d, unit id %d"), o_.modbusAddress.c_str(),
                 o_.modbusPort, o_.unitId);
        updateModbus(false);
    }
    if (!o_.store.empty()) {
        store_ = std::make_unique<SampleStore>(o_.store, o_.queue, o_.storeMaxMb << 20, logEvent);
        std::string error;
        if (!store_->open(&error)) {
            logEvent("serve: %s", error.c_str());
            return false;
        }
        seq_ = store_->lastSeq();
        info_.storeEpoch = store_->epoch();
        if (web_)
            web_->restoreReserveTrend(store_->readings());
    }
    if (o_.mqtt) {
        MqttSettings settings;
        settings.host = o_.mqttHost;
        settings.port = o_.mqttPort;
        settings.clientId = clientId_;
        settings.username = o_.username;
        settings.password = o_.password;
        settings.cafile = o_.cafile;
        settings.certfile = o_.cert;
        settings.keyfile = o_.key;
        settings.willTopic = prefix_ + "/status";
        settings.willPayload = "offline";
        settings.willQos = o_.stateQos;
        if (!o_.jsonTopics)
            settings.willTopic.clear();
        mqtt_ = std::make_unique<MqttClient>(settings);
        logEvent(kvex::tr("MQTT broker %s:%d, topics under %s/"), o_.mqttHost.c_str(), o_.mqttPort,
                 prefix_.c_str());
    }
    reserve_.warnBelow = o_.reserveWarn;
    reserve_.enabled = o_.reserveEvery > 0.0;
    info_.device = device_;
    info_.version = KVEX_VERSION;
    info_.pitchMicrons = std::nan("");
    if (mqtt_ && !o_.sparkplugGroup.empty()) {
        SparkplugSettings settings;
        settings.group = o_.sparkplugGroup;
        settings.node =
            o_.sparkplugNode.empty() ? defaultSparkplugNode(hostName(), device_) : o_.sparkplugNode;
        settings.device = o_.sparkplugDevice;
        settings.primaryHost = o_.sparkplugHost;
        settings.bdSeqFile = sparkplugBdSeqFile(o_.store, settings.group, settings.node);
        settings.version = KVEX_VERSION;
        sparkplug_ = std::make_unique<SparkplugNode>(settings);
        logEvent(kvex::tr("Sparkplug B: spBv1.0/%s/+/%s/%s, commands %s%s%s, bdSeq in %s"),
                 settings.group.c_str(), settings.node.c_str(), settings.device.c_str(),
                 o_.sparkplugCommands ? kvex::trNow("on") : kvex::trNow("off"),
                 settings.primaryHost.empty() ? "" : kvex::trNow(", primary host "),
                 settings.primaryHost.c_str(), settings.bdSeqFile.c_str());
    }
    return true;
}

void Gateway::run() {
    bool failureLogged = false;
    while (!quitRequested) {
        if (identifySensor()) {
            failureLogged = false;
            logEvent(kvex::tr("sensor found on %s: type %u, board %u, %u pixels, firmware \"%s\""),
                     device_.c_str(), info_.ccdtype, info_.pcbtype, info_.pixels,
                     info_.firmware.c_str());
            publishState();
            sparkplugSensorChanged();
            if (poll() == PollEnd::Quit)
                break;
            logEvent(kvex::tr("sensor lost on %s: no answer within %.1f s; retrying"),
                     device_.c_str(), TIMEOUT);
        } else if (!failureLogged) {
            failureLogged = true;
            logEvent(kvex::tr("no sensor answering on %s (%s); retrying every %.0f s"),
                     device_.c_str(), szStatus, kSensorRetrySeconds);
        }
        if (sensorPresent_ || !sensorChecked_) {
            sensorPresent_ = false;
            sensorChecked_ = true;
            registers_.sensorAnswering = false;
            updateModbus(false);
            publishStatus();
            sparkplugSensorChanged();
        }
        pumpUntil(Timer() + kSensorRetrySeconds);
    }
}

bool Gateway::identifySensor() {
    CloseCom(port_);
    com = port_;
    setStatus("");
    InitRS232(port_);
    if (ret < 72)
        return false;
    sensorChecked_ = true;
    sensorPresent_ = true;
    info_.ccdtype = ccdtype;
    info_.pcbtype = pcbtype;
    info_.pixels = ccdmaxpixel;
    info_.firmware = szVersion;
    while (!info_.firmware.empty() && info_.firmware.back() == ' ')
        info_.firmware.pop_back();
    const SensorGeometry *geometry = sensorGeometry(ccdtype);
    info_.pitchMicrons = geometry ? geometry->pitchMicrons : std::nan("");
    const unsigned short words[16] = {power,  pMode,  vThd,    anaMode, polarity, eMode,
                                      eBeg,   eEnd,   tVal,    tTol,    opMode,   eHardware,
                                      para12, para13, average, para15};
    std::copy(std::begin(words), std::end(words), params_);
    std::copy(std::begin(words), std::end(words), registers_.params);
    registers_.sensorAnswering = true;
    updateModbus(false);
    return true;
}

Gateway::PollEnd Gateway::poll() {
    const ExchangeScope exchange;
    const double interval = o_.rate > 0.0 ? 1.0 / o_.rate : 0.0;
    double nextRequest = Timer();
    bool serialError = false;
    // An answer is published while the next request is on the wire, as run mode draws then:
    // the request goes out as soon as the answer is in.
    std::optional<Measurement> answered;
    if (web_) {
        web_->publishInfo(info_);
        web_->publishParams(params_);
    }
    auto publishAnswered = [&] {
        if (!answered)
            return;
        takeSample(*answered, serialError);
        serialError = false;
        answered.reset();
    };
    while (!quitRequested) {
        if (interval > 0.0) {
            publishAnswered();
            pumpUntil(nextRequest);
            if (quitRequested)
                break;
            nextRequest = std::max(nextRequest + interval, Timer());
        }
        // Requests from the web that talk to the sensor run here, between two cycles.
        if (web_ && web_->sensorWorkWaiting()) {
            publishAnswered();
            web_->tick(true);
        }
        // So does the reserve line, over the same video line transfer as the page's button. The
        // first comes one interval after the start, as a restart must not add a line of its own.
        if (o_.reserveEvery > 0.0 && !reserveScheduled_) {
            reserveScheduled_ = true;
            nextReserve_ = Timer() + o_.reserveEvery;
        }
        if (o_.reserveEvery > 0.0 && Timer() >= nextReserve_) {
            publishAnswered();
            takeReserveLine();
        }
        if (!sparkplugWork_.empty()) {
            publishAnswered();
            runSparkplugCommands();
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
            ++serialErrors_;
            continue;
        }
        // The next request overwrites pp, so the answer is kept now.
        CopyPPtoMeasurement();
        answered = currentMeasurement();
    }
    publishAnswered();
    rx_flag = 0;
    FlushInQ(com);
    FlushOutQ(com);
    return PollEnd::Quit;
}

// A line that does not come whole is counted and tried again at the next interval; the last
// reading stands, since a reserve of 0 would say the edges are lost.
void Gateway::takeReserveLine() {
    nextReserve_ = Timer() + o_.reserveEvery;
    uint16_t line[256];
    if (!readSensorVideoLine(line)) {
        ++reserve_.failures;
        logEvent(kvex::tr("reserve line did not come whole (%llu so far); next in %.0f s"),
                 static_cast<unsigned long long>(reserve_.failures), o_.reserveEvery);
        if (web_)
            web_->publishReserve(reserve_, nullptr);
        publishHealth();
        return;
    }
    const bool warnedBefore = reserveWarns(reserve_);
    reserve_.last = lineReserve(line, params_, isoTimeNow());
    reserve_.known = true;
    const bool warns = reserveWarns(reserve_);
    if (warns && !warnedBefore)
        logEvent(kvex::tr("signal reserve %.2f (%s) below %.2f: clean the lens or check the light"),
                 reserve_.last.ratio, reserve_.last.state.c_str(), reserve_.warnBelow);
    else if (!warns && warnedBefore)
        logEvent(kvex::tr("signal reserve %.2f back above %.2f"), reserve_.last.ratio,
                 reserve_.warnBelow);
    if (store_)
        store_->addReading(reserve_.last);
    if (web_)
        web_->publishReserve(reserve_, &reserve_.last);
    publishHealth();
}

void Gateway::publishHealth() {
    if (mqtt_ && mqttUp_ && o_.reserveEvery > 0.0)
        publishRetained("health", healthJson(reserve_));
}

void Gateway::takeSample(const Measurement &m, bool serialError) {
    GatewaySample s{};
    std::snprintf(s.ts, sizeof s.ts, "%s", m.time.c_str());
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

    registers_.sensorAnswering = true;
    registers_.serialError = serialError;
    registers_.heartbeat = static_cast<uint16_t>(registers_.heartbeat + 1);
    registers_.haveSample = true;
    registers_.sample = s;
    updateModbus(true);
    if (web_)
        web_->publishSample(s, serialError);

    if (!mqtt_)
        return;
    if (store_) {
        storeSample(s);
        return;
    }
    batch_.push_back(s);
    if (batch_.size() < static_cast<std::size_t>(o_.batch))
        return;
    std::vector<GatewaySample> samples;
    samples.swap(batch_);
    if (sendingOpen() && outstanding_.size() < kMaxOutstanding && sendMeas(samples))
        return;
    for (GatewaySample &late : samples) {
        late.replay = true;
        queue_.push(late);
    }
}

// The sample is committed to the store first; a full live batch goes out at once when nothing
// older waits, so the store's samples leave in seq order.
void Gateway::storeSample(GatewaySample s) {
    store_->add(&s);
    if (++liveBatch_ < static_cast<std::size_t>(o_.batch))
        return;
    const std::size_t count = liveBatch_;
    liveBatch_ = 0;
    if (sendingOpen() && store_->unsent() == count && storeOutstanding_.size() < kMaxOutstanding)
        sendFromStore(count, false);
}

bool Gateway::sendFromStore(std::size_t count, bool replay) {
    std::vector<int64_t> ids;
    std::vector<GatewaySample> samples = store_->takeUnsent(count, &ids);
    for (GatewaySample &s : samples)
        s.replay = replay;
    const int mid = publishSamples(samples);
    if (mid < 0) {
        store_->giveBack(samples.size());
        return false;
    }
    storeOutstanding_[mid] = std::move(ids);
    return true;
}

std::size_t Gateway::backlogSize() const {
    return store_ ? store_->size() : queue_.size();
}

uint64_t Gateway::dropped() const {
    return store_ ? store_->dropped() : queue_.dropped();
}

void Gateway::pumpUntil(double until) {
    for (double left = until - Timer(); !quitRequested && left > 0.0; left = until - Timer()) {
        waitForEvents(std::min(kLongestWait, left));
        tick();
    }
}

void Gateway::tick() {
    if (web_)
        web_->tick(false);
    if (!mqtt_)
        return;
    handleMqttEvents();
    sendBacklog(false);
    reportDrops();
    sparkplugHealth(false);
    if (store_) {
        store_->maintain();
        if (store_->fault() != storeFaultPublished_ && mqttUp_ && sensorPresent_)
            publishInfo();
    }
}

void Gateway::handleMqttEvents() {
    for (const MqttEvent &event : mqtt_->takeEvents()) {
        switch (event.kind) {
        case MqttEvent::Connected:
            mqttUp_ = true;
            attemptPending_ = false;
            failureLogged_ = false;
            backoff_.reset();
            logEvent(kvex::tr("broker connected: %s:%d as %s"), o_.mqttHost.c_str(), o_.mqttPort,
                     clientId_.c_str());
            publishState();
            sparkplugConnected();
            if (backlogSize() > 0)
                logEvent(kvex::tr("sending backlog of %zu samples"), backlogSize());
            lastReplayTime_ = Timer();
            replayCredit_ = 0.0;
            break;
        case MqttEvent::Lost: {
            const double delay = backoff_.next();
            if (mqttUp_)
                logEvent(kvex::tr("broker lost: %s; samples wait in the queue (at most %zu)"),
                         event.text.c_str(), queue_.capacity());
            else if (!failureLogged_)
                logEvent(kvex::tr("broker not reachable: %s; retrying with back-off"),
                         event.text.c_str());
            failureLogged_ = !mqttUp_ || failureLogged_;
            mqttUp_ = false;
            attemptPending_ = false;
            if (sparkplug_)
                sparkplug_->connectionLost();
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
            nextAttempt_ = Timer() + delay;
            break;
        }
        case MqttEvent::Delivered:
            outstanding_.erase(event.messageId);
            if (store_) {
                const auto sent = storeOutstanding_.find(event.messageId);
                if (sent != storeOutstanding_.end()) {
                    store_->delivered(sent->second);
                    storeOutstanding_.erase(sent);
                }
            }
            break;
        case MqttEvent::Message:
            sparkplugMessage(event.topic, event.text);
            break;
        }
    }
    if (!mqttUp_ && !attemptPending_ && !quitRequested && Timer() >= nextAttempt_) {
        attemptPending_ = true;
        prepareConnect();
        mqtt_->connect();
    }
}

void Gateway::sendBacklog(bool unpaced) {
    const double now = Timer();
    // The store's rows of the live batch being filled are not backlog yet.
    auto waiting = [this] {
        if (!store_)
            return queue_.size();
        return store_->unsent() > liveBatch_ ? store_->unsent() - liveBatch_ : 0;
    };
    if (!sendingOpen() || waiting() == 0) {
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
        if (!sendMeas(samples)) {
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

bool Gateway::sendMeas(std::vector<GatewaySample> samples) {
    const int mid = publishSamples(samples);
    if (mid < 0)
        return false;
    outstanding_[mid] = std::move(samples);
    return true;
}

int Gateway::publishRetained(const std::string &topic, const std::string &payload) {
    if (!o_.jsonTopics)
        return -1;
    return mqtt_->publish(prefix_ + "/" + topic, payload, o_.stateQos, true);
}

void Gateway::publishStatus() {
    if (mqtt_ && mqttUp_ && sensorChecked_)
        publishRetained("status", sensorPresent_ ? "online" : "no-sensor");
}

void Gateway::publishInfo() {
    info_.dropped = dropped();
    if (store_) {
        info_.storeFault = store_->fault();
        storeFaultPublished_ = info_.storeFault;
    }
    droppedPublished_ = info_.dropped;
    publishRetained("info", infoJson(info_));
}

void Gateway::publishState() {
    if (!mqtt_ || !mqttUp_ || !sensorChecked_)
        return;
    publishStatus();
    if (!sensorPresent_)
        return;
    publishInfo();
    publishRetained("params", paramsJson(params_));
    publishHealth();
}

void Gateway::reportDrops() {
    const uint64_t dropped = this->dropped();
    const double now = Timer();
    if (dropped == droppedReported_ || now - lastDropReport_ < kReportInterval)
        return;
    logEvent(kvex::tr("samples dropped: %llu so far (queue of %zu full)"),
             static_cast<unsigned long long>(dropped), queue_.capacity());
    droppedReported_ = dropped;
    lastDropReport_ = now;
    if (mqttUp_ && sensorPresent_ && dropped != droppedPublished_)
        publishInfo();
}

void Gateway::updateModbus(bool freshSample) {
    if (modbus_)
        modbus_->update(buildRegisterBlock(registers_, o_.swapWords), freshSample);
}

int Gateway::finish() {
    logEvent(kvex::tr("stopping on signal %d"), quitSignal);
    web_.reset();
    if (mqtt_) {
        handleMqttEvents();
        if (!batch_.empty()) {
            std::vector<GatewaySample> rest;
            rest.swap(batch_);
            if (!(mqttUp_ && sendMeas(rest)))
                for (GatewaySample &s : rest) {
                    s.replay = true;
                    queue_.push(s);
                }
        }
        // The live batch being filled is already in the store.
        liveBatch_ = 0;
        const double deadline = Timer() + kStopFlushSeconds;
        while (mqttUp_ && (backlogSize() > 0 || !outstanding_.empty()) && Timer() < deadline) {
            handleMqttEvents();
            sendBacklog(true);
            Delay(0.005);
        }
        if (store_) {
            if (store_->size() > 0)
                logEvent(kvex::tr("%zu samples kept in the store %s for the next start"),
                         store_->size(), store_->path().c_str());
            store_->close();
        }
        std::size_t unsent = queue_.size();
        for (const auto &entry : outstanding_)
            unsent += entry.second.size();
        if (unsent > 0) {
            queue_.countDropped(unsent);
            logEvent(kvex::tr("%zu samples not published before the stop: counted as dropped"),
                     unsent);
        }
        if (mqttUp_) {
            if (sensorPresent_)
                publishInfo();
            // A clean disconnect keeps the will to the broker: the node says its death itself.
            int deathMid = -1;
            if (sparkplug_ && sparkplug_->live()) {
                if (sparkplug_->deviceLive())
                    publishSparkplug(sparkplug_->deviceDeath());
                deathMid = publishSparkplug(sparkplug_->nodeDeath(), 1);
            }
            const int mid = o_.jsonTopics ? publishRetained("status", "offline") : deathMid;
            const double end = Timer() + 2.0;
            bool delivered = mid < 0;
            while (!delivered && Timer() < end) {
                for (const MqttEvent &event : mqtt_->takeEvents())
                    delivered = delivered ||
                                (event.kind == MqttEvent::Delivered && event.messageId == mid) ||
                                event.kind == MqttEvent::Lost;
                Delay(0.005);
            }
            mqtt_->disconnect();
        }
        mqtt_.reset();
    }
    modbus_.reset();
    CloseCom(port_);
    logEvent(kvex::tr("stopped; %u samples taken, %llu dropped"), static_cast<unsigned>(seq_),
             static_cast<unsigned long long>(dropped()));
    return 0;
}

void Gateway::adoptParams(const uint16_t words[16]) {
    std::copy(words, words + 16, pp);
    CopyPPtoVars();
    std::copy(words, words + 16, params_);
    std::copy(words, words + 16, registers_.params);
    updateModbus(false);
    if (web_)
        web_->publishParams(params_);
    if (mqtt_ && mqttUp_)
        publishRetained("params", paramsJson(params_));
}

// One batch of samples on every face that is on: DDATA first, then meas, on the one connection,
// so the id returned (the last message's) is delivered only after the other went out too.
int Gateway::publishSamples(const std::vector<GatewaySample> &samples) {
    int mid = -1;
    if (sparkplug_ && sparkplug_->deviceLive()) {
        mid = publishSparkplug(sparkplug_->deviceData(samples, params_));
        if (mid < 0)
            return -1;
    }
    if (o_.jsonTopics)
        mid = mqtt_->publish(prefix_ + "/meas", measJson(samples), o_.measQos, false);
    return mid;
}

// With the JSON topics off, samples wait (for is_historical later) while Sparkplug may not send.
bool Gateway::sendingOpen() const {
    return mqttUp_ && (o_.jsonTopics || (sparkplug_ && sparkplug_->deviceLive()));
}

int Gateway::publishSparkplug(const SparkplugMessage &message, int qos) {
    return mqtt_->publish(message.topic, message.payload, qos, false);
}

// Every connection gets the will of a new bdSeq, which is kept on disk before it is used.
void Gateway::prepareConnect() {
    if (!sparkplug_)
        return;
    std::string error;
    const SparkplugMessage will = sparkplug_->nextWill(&error);
    if (!error.empty())
        logEvent(kvex::tr("Sparkplug: bdSeq %llu not kept (%s); a restart may repeat it"),
                 static_cast<unsigned long long>(sparkplug_->bdSeq()), error.c_str());
    mqtt_->setWill(will.topic, will.payload, 1, false);
}

void Gateway::sparkplugConnected() {
    if (!sparkplug_)
        return;
    sparkplug_->connectionUp();
    // Commands and the host's STATE are subscribed before the births, so none is missed.
    for (const std::string &filter : sparkplug_->subscriptions())
        mqtt_->subscribe(filter, 1);
    if (sparkplug_->birthDue())
        sparkplugBirths();
    else
        logEvent(kvex::tr("Sparkplug: waiting for primary host %s to be online"),
                 sparkplug_->settings().primaryHost.c_str());
}

SparkplugHealth Gateway::sparkplugHealthNow() const {
    SparkplugHealth health;
    health.queueDepth = backlogSize();
    health.dropped = dropped();
    health.serialErrors = serialErrors_;
    health.samples = seq_;
    if (store_)
        health.store = store_->fault().empty() ? "ok" : "failing: " + store_->fault();
    health.sensorAnswering = sensorPresent_;
    return health;
}

void Gateway::sparkplugBirths() {
    const bool sensor = sensorChecked_ && sensorPresent_;
    for (const SparkplugMessage &m :
         sparkplug_->births(sparkplugHealthNow(), sensor ? &info_ : nullptr, params_,
                            sensor && registers_.haveSample ? &registers_.sample : nullptr))
        publishSparkplug(m);
    lastSparkplugHealth_ = Timer();
    logEvent(kvex::tr("Sparkplug: births sent with bdSeq %llu"),
             static_cast<unsigned long long>(sparkplug_->bdSeq()));
}

// The sensor was found (DBIRTH) or stopped answering (DDEATH).
void Gateway::sparkplugSensorChanged() {
    if (!sparkplug_ || !sparkplug_->live())
        return;
    if (sensorPresent_ && !sparkplug_->deviceLive())
        publishSparkplug(sparkplug_->deviceBirth(
            info_, params_, registers_.haveSample ? &registers_.sample : nullptr));
    else if (!sensorPresent_ && sparkplug_->deviceLive())
        publishSparkplug(sparkplug_->deviceDeath());
}

// NDATA once a second at most, when a figure changed.
void Gateway::sparkplugHealth(bool force) {
    if (!sparkplug_ || !sparkplug_->live() || (!force && Timer() - lastSparkplugHealth_ < 1.0))
        return;
    lastSparkplugHealth_ = Timer();
    SparkplugMessage message;
    if (sparkplug_->nodeData(sparkplugHealthNow(), &message))
        publishSparkplug(message);
}

void Gateway::sparkplugMessage(const std::string &topic, const std::string &payload) {
    if (!sparkplug_)
        return;
    SparkplugRequest request = sparkplug_->handle(topic, payload);
    switch (request.kind) {
    case SparkplugRequest::None:
        break;
    case SparkplugRequest::Rebirth:
        if (sparkplug_->live()) {
            logEvent(kvex::tr("Sparkplug: rebirth asked for"));
            sparkplugBirths();
        }
        break;
    case SparkplugRequest::HostOnline:
        if (sparkplug_->birthDue()) {
            logEvent(kvex::tr("Sparkplug: primary host %s online"),
                     sparkplug_->settings().primaryHost.c_str());
            sparkplugBirths();
        }
        break;
    case SparkplugRequest::HostOffline:
        // The connection stays for the JSON topics; hosts learn of the pause from the NDEATH.
        if (sparkplug_->live()) {
            logEvent(kvex::tr("Sparkplug: primary host %s offline; publishing paused"),
                     sparkplug_->settings().primaryHost.c_str());
            if (sparkplug_->deviceLive())
                publishSparkplug(sparkplug_->deviceDeath());
            publishSparkplug(sparkplug_->nodeDeath(), 1);
            sparkplug_->died();
        }
        break;
    case SparkplugRequest::Command:
        if (!o_.sparkplugCommands) {
            sparkplugAudit(request.what, "refused: commands are off (start the gateway with "
                                         "--sparkplug-commands)");
        } else if (!request.refusal.empty()) {
            sparkplugAudit(request.what, "refused: " + request.refusal);
        } else if (!sensorPresent_) {
            sparkplugAudit(request.what, "refused: no sensor answering");
        } else if (sparkplugWork_.size() >= kMaxSparkplugCommands) {
            sparkplugAudit(request.what, "refused: too many commands waiting");
        } else {
            // The exchanges wait for the pause between two run cycles.
            sparkplugWork_.push_back(std::move(request));
        }
        break;
    }
}

void Gateway::runSparkplugCommands() {
    while (!sparkplugWork_.empty()) {
        const SparkplugRequest request = std::move(sparkplugWork_.front());
        sparkplugWork_.pop_front();
        if (!sensorPresent_) {
            sparkplugAudit(request.what, "refused: no sensor answering");
            continue;
        }
        const int positions = static_cast<int>(ccdsubpixel);
        std::vector<std::string> results;
        // Every check first: a command with one bad value changes nothing at all.
        CheckedWrite ram, eeprom;
        int status = 0;
        std::string body;
        if (!request.ram.empty() &&
            !checkWordWrite(request.ram, false, positions, &ram, &status, &body)) {
            sparkplugAudit(request.what, "refused: " + ram.refusal);
            continue;
        }
        if (!request.eeprom.empty() &&
            !checkWordWrite(request.eeprom, true, positions, &eeprom, &status, &body)) {
            sparkplugAudit(request.what, "refused: " + eeprom.refusal);
            continue;
        }
        auto run = [&](const std::string &what, const WriteOutcome &outcome) {
            results.push_back(what + ": " + outcome.result);
            if (outcome.ramChanged)
                adoptParams(outcome.words);
        };
        if (!request.ram.empty())
            run(ram.what, runWordWrite(ram));
        if (!request.eeprom.empty())
            run(eeprom.what, runWordWrite(eeprom));
        if (request.teach)
            run("teach", runTeach());
        if (request.reset)
            run("reset max/min", runResetMaxMin());
        std::string result;
        for (const std::string &r : results)
            result += (result.empty() ? "" : "; ") + r;
        sparkplugAudit(request.what, result);
    }
}

// A command's entry in the audit (the web's list, stream and topic when the web is on) and its
// answer in the next DDATA.
void Gateway::sparkplugAudit(const std::string &what, const std::string &result) {
    const char *format = kvex::tr("Sparkplug write from %s: %s: %s");
    if (web_) {
        web_->audit(format, "DCMD", what, result);
    } else {
        std::string line = what;
        for (char &c : line)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                c = ' ';
        logEvent(format, "DCMD", line.c_str(), result.c_str());
        if (mqtt_ && mqttUp_)
            publishRetained("audit", auditEntryJson(isoTimeNow(), "DCMD", line, result));
    }
    sparkplug_->commandAnswered(result);
}

bool readPasswordFile(const std::string &path, std::string *password) {
    std::ifstream in(path);
    if (!in)
        return false;
    std::getline(in, *password);
    while (!password->empty() && (password->back() == '\r' || password->back() == '\n'))
        password->pop_back();
    return true;
}

} // namespace

int runServeCommand(int port, const std::vector<std::string> &args) {
    OptionList words;
    std::string error;
    if (!splitOptionWords(args, &words, &error)) {
        logEvent("serve: %s", error.c_str());
        return 2;
    }
    GatewayOptions options;
    for (const auto &word : words) {
        if (word.first == "help") {
            std::fputs(optionsHelp().c_str(), stdout);
            return 0;
        }
        if (word.first == "config")
            options.config = word.second;
    }
    if (!options.config.empty()) {
        std::map<std::string, std::string> values;
        if (!readIniFile(options.config, &values, &error)) {
            logEvent("serve: %s", error.c_str());
            return 2;
        }
        for (const auto &value : values)
            if (!applyOption(&options, value.first, value.second, true, &error)) {
                logEvent("serve: %s: %s", options.config.c_str(), error.c_str());
                return 2;
            }
    }
    for (const auto &word : words)
        if (!applyOption(&options, word.first, word.second, false, &error)) {
            logEvent("serve: %s", error.c_str());
            return 2;
        }
    if (!options.passwordFile.empty()) {
        if (!readPasswordFile(options.passwordFile, &options.password)) {
            logEvent(kvex::tr("serve: cannot read the password file %s"),
                     options.passwordFile.c_str());
            return 2;
        }
    } else if (options.password.empty()) {
        if (const char *env = std::getenv("KVEX_MQTT_PASSWORD"))
            options.password = env;
    }
    setLowLatencyRequested(options.lowLatency);
    if (!options.store.empty() && !options.mqtt) {
        logEvent(kvex::tr("serve: --store keeps samples for the MQTT broker; give --mqtt too"));
        return 2;
    }
    if (!options.mqtt && !options.modbus && !options.http) {
        logEvent(kvex::tr("serve: nothing to serve; give --mqtt HOST, --modbus PORT and/or --http "
                          "PORT"));
        return 2;
    }
    const std::string device = portDevicePath(port);
    if (device.empty()) {
        logEvent(kvex::tr("serve: port %d has no device"), port);
        return 2;
    }
    const std::string host = hostName();
    const std::string prefix =
        options.topicPrefix.empty() ? defaultTopicPrefix(host, device) : options.topicPrefix;
    std::string clientId = options.clientId;
    // Stable across restarts: the broker replaces the session of the gateway's last run instead
    // of keeping one per process.
    // From the host and port, not from --topic-prefix: two gateways given the same prefix must
    // not take each other's session.
    if (clientId.empty()) {
        const std::string own = defaultTopicPrefix(host, device);
        clientId = "kvex-rtn-" + own.substr(own.find('/') + 1);
    }
    if (!options.sparkplugGroup.empty() && !options.mqtt) {
        logEvent(kvex::tr("serve: --sparkplug publishes over the MQTT broker; give --mqtt too"));
        return 2;
    }

    quitRequested = false;
    installStopSignals([](int number) {
        quitRequested = true;
        quitSignal = number;
        stop_flag = 1;
    });
    Gateway gateway(options, port, device, prefix, clientId);
    if (!gateway.start())
        return 1;
    gateway.run();
    return gateway.finish();
}
