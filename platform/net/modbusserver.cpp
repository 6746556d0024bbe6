// Modbus TCP server over Qt SerialBus. Qt's TCP server answers every unit id; a connection
// observer puts a filter in front of each client socket that answers requests for another unit
// with the gateway exception, so a client that asks the wrong unit learns it at once.
#include "platform/modbusserver.h"
#include "platform/utility.h"

#include <QDataStream>
#include <QHostAddress>
#include <QModbusTcpConnectionObserver>
#include <QModbusTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMbapHeaderBytes = 7;
// The exception a gateway sends when the addressed unit does not answer.
constexpr quint8 kGatewayTargetFailed = 0x0B;

class BlockServer : public QModbusTcpServer {
  public:
    double lastSample = -1.0;

  protected:
    QModbusResponse processRequest(const QModbusPdu &request) override {
        const auto function = request.functionCode();
        if (function != QModbusPdu::ReadHoldingRegisters &&
            function != QModbusPdu::ReadInputRegisters)
            return QModbusExceptionResponse(function, QModbusExceptionResponse::IllegalFunction);
        const double ageMs = lastSample < 0 ? 65535.0 : (Timer() - lastSample) * 1000.0;
        const auto age = static_cast<quint16>(std::clamp(std::floor(ageMs), 0.0, 65535.0));
        setData(QModbusDataUnit::InputRegisters, kModbusAgeRegister, age);
        setData(QModbusDataUnit::HoldingRegisters, kModbusAgeRegister, age);
        return QModbusTcpServer::processRequest(request);
    }
};

// Takes requests for other units off the front of the socket's buffer before Qt's own handler
// (connected after this one) reads it. Requests for the configured unit stay for Qt to answer.
void filterUnit(QTcpSocket *socket, quint8 unitId) {
    for (;;) {
        const QByteArray head = socket->peek(kMbapHeaderBytes + 1);
        if (head.size() < kMbapHeaderBytes + 1)
            return;
        const auto byte = [&head](int i) { return static_cast<quint8>(head[i]); };
        const int length = byte(4) * 256 + byte(5);
        if (byte(6) == unitId || length < 2)
            return;
        if (socket->bytesAvailable() < 6 + length)
            return;
        const QByteArray frame = socket->read(6 + length);
        QByteArray answer;
        QDataStream out(&answer, QIODevice::WriteOnly);
        out << static_cast<quint8>(frame[0]) << static_cast<quint8>(frame[1])
            << static_cast<quint16>(0) << static_cast<quint16>(3) << byte(6)
            << static_cast<quint8>(static_cast<quint8>(frame[7]) | 0x80) << kGatewayTargetFailed;
        socket->write(answer);
    }
}

class UnitFilter : public QModbusTcpConnectionObserver {
  public:
    explicit UnitFilter(quint8 unit) : unitId(unit) {}
    bool acceptNewConnection(QTcpSocket *socket) override {
        QObject::connect(socket, &QTcpSocket::readyRead, socket,
                         [socket, unit = unitId] { filterUnit(socket, unit); });
        return true;
    }
    quint8 unitId;
};

} // namespace

struct ModbusServer::Impl {
    BlockServer server;
};

ModbusServer::ModbusServer() : impl_(std::make_unique<Impl>()) {}

ModbusServer::~ModbusServer() {
    impl_->server.disconnectDevice();
}

bool ModbusServer::start(const std::string &address, int port, int unitId, std::string *error) {
    QModbusDataUnitMap map;
    map.insert(QModbusDataUnit::InputRegisters,
               QModbusDataUnit(QModbusDataUnit::InputRegisters, 0, kModbusBlockSize));
    map.insert(QModbusDataUnit::HoldingRegisters,
               QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, kModbusBlockSize));
    impl_->server.setMap(map);
    impl_->server.setServerAddress(unitId);
    // The server owns its observer.
    impl_->server.installConnectionObserver(new UnitFilter(static_cast<quint8>(unitId)));
    impl_->server.setConnectionParameter(QModbusDevice::NetworkAddressParameter,
                                         QString::fromStdString(address));
    impl_->server.setConnectionParameter(QModbusDevice::NetworkPortParameter, port);
    if (!impl_->server.connectDevice()) {
        if (error)
            *error = impl_->server.errorString().toStdString();
        return false;
    }
    return true;
}

void ModbusServer::update(const std::array<uint16_t, kModbusBlockSize> &block, bool freshSample) {
    if (freshSample)
        impl_->server.lastSample = Timer();
    QList<quint16> values(block.begin(), block.end());
    impl_->server.setData(QModbusDataUnit(QModbusDataUnit::InputRegisters, 0, values));
    impl_->server.setData(QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, values));
}
