// Modbus TCP server of one register block, as input registers and read-only holding registers.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

constexpr int kModbusBlockSize = 32;
// Register of the block that the server fills in itself when a client reads it.
constexpr int kModbusAgeRegister = 3;

class ModbusServer {
  public:
    ModbusServer();
    ~ModbusServer();
    ModbusServer(const ModbusServer &) = delete;
    ModbusServer &operator=(const ModbusServer &) = delete;

    // Listens on address:port and answers unit `unitId` only; false with a reason on failure.
    bool start(const std::string &address, int port, int unitId, std::string *error);
    // Replaces the whole block at once; `freshSample` restarts the age of the last sample.
    void update(const std::array<uint16_t, kModbusBlockSize> &block, bool freshSample);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
