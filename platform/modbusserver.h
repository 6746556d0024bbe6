// Modbus TCP server of one register block, as input registers and read-only holding registers.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

constexpr int kModbusBlockSize = 32;
// Register of the block that the server fills in itself when a client reads it.
constexpr int kModbusAgeRegister = 3;

struct ModbusLimits {
    // Connections held at once from one client address, and in all; a connection beyond either
    // is closed as soon as it comes. A PLC or a SCADA server needs one or two.
    int maxPerAddress = 8;
    int maxConnections = 64;
    // A connection that brings no whole request for this long is closed (0: never); a client
    // that keeps polling is never cut, one that trickles bytes without finishing a request is.
    int idleTimeoutMs = 60000;
};

// Connections the server closed, by cause, since it started.
struct ModbusRefusals {
    uint64_t addressCap = 0; // over maxPerAddress
    uint64_t totalCap = 0;   // over maxConnections
    uint64_t idle = 0;       // idle for idleTimeoutMs
};

class ModbusServer {
  public:
    ModbusServer();
    ~ModbusServer();
    ModbusServer(const ModbusServer &) = delete;
    ModbusServer &operator=(const ModbusServer &) = delete;

    // Listens on address:port and answers unit `unitId` only; false with a reason on failure.
    bool start(const std::string &address, int port, int unitId, std::string *error,
               const ModbusLimits &limits = ModbusLimits());
    // Replaces the whole block at once; `freshSample` restarts the age of the last sample.
    void update(const std::array<uint16_t, kModbusBlockSize> &block, bool freshSample);
    // Safe from any thread (the metrics are read on the web server's).
    ModbusRefusals refusals() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
