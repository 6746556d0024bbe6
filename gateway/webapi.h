// The gateway's web side: the page, the JSON API, the live stream and the metrics. The polling
// thread publishes immutable snapshots; the server's threads only read them, and whatever must
// reach the sensor waits in a queue the polling thread runs between two run cycles.
#pragma once

#include "gateway/payloads.h"
#include "gateway/sample.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct GatewayOptions;

// The gateway's health as the polling thread sees it.
struct WebHealth {
    bool sensorChecked = false;
    bool sensorPresent = false;
    const char *mqtt = "off"; // "connected", "disconnected" or "off"
    std::size_t queueDepth = 0;
    uint64_t dropped = 0;
    uint64_t samples = 0;
    // The store on disk: "off" without one, "ok", or "failing: " and what failed.
    std::string store = "off";
};

class WebApi {
  public:
    // What the API's work on the polling thread tells the gateway.
    struct Hooks {
        // The gateway's health, asked on the polling thread.
        std::function<WebHealth()> health;
        // The sensor's RAM words changed (a write, teach): the gateway takes them as its own.
        std::function<void(const uint16_t words[16])> paramsChanged;
        // A write was done or refused: {"ts","client","what","result"}, for the broker.
        std::function<void(const std::string &entry)> audit;
    };

    // `token` empty: writes are off.
    WebApi(const GatewayOptions &options, std::string token, int port, Hooks hooks);
    // Refuses what still waits, then closes every connection.
    ~WebApi();
    WebApi(const WebApi &) = delete;
    WebApi &operator=(const WebApi &) = delete;

    // Listens as the options say; false with a reason.
    bool start(std::string *error);
    int listeningPort() const;

    // The polling thread's news.
    void publishSample(const GatewaySample &sample, bool serialError);
    void publishInfo(const SensorInfo &info);
    void publishParams(const uint16_t words[16]);
    // The reserve's health after a reserve line: `reading` the line's figures (added to the
    // trend), nullptr when the line did not come (only the count of failures changed).
    void publishReserve(const ReserveHealth &health, const ReserveReading *reading);
    // The trend as the store kept it from the last run, oldest first.
    void restoreReserveTrend(std::deque<ReserveReading> readings);
    // Runs waiting requests: those that talk to the sensor only `betweenCycles` (or refuses
    // them while no sensor answers), the others at once; refreshes the health once a second.
    void tick(bool betweenCycles);
    // A write another face did (Sparkplug DCMD), into the same audit list, stream and topic as the
    // web's own; `format` is the log line's, with the client, what and the result.
    void audit(const char *format, const std::string &client, const std::string &what,
               const std::string &result);
    // Whether a request waits to talk to the sensor.
    bool sensorWorkWaiting() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
