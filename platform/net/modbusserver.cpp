// Modbus TCP server over Qt SerialBus. Qt's TCP server holds every connection for ever and
// answers every unit id; a connection observer closes connections over the caps, moves each
// socket's descriptor above select()'s range, closes it when idle, and puts a filter in front of
// it that answers requests for another unit with the gateway exception, so a client that asks
// the wrong unit learns it at once.
#include "platform/modbusserver.h"
#include "platform/net/descriptors.h"
#include "platform/utility.h"

#include <QDataStream>
#include <QHash>
#include <QHostAddress>
#include <QModbusTcpConnectionObserver>
#include <QModbusTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>

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

// Follows a connection's byte stream frame by frame (the MBAP header's length field), so that
// only a whole request counts as a sign of life: a client that trickles bytes without ever
// finishing a request would otherwise hold its connection for ever.
class RequestCounter {
  public:
    // Takes the bytes as they come; returns the number of requests they completed.
    int take(const QByteArray &bytes) {
        int whole = 0;
        for (const char c : bytes) {
            const auto byte = static_cast<quint8>(c);
            if (headBytes_ < 6) {
                // Bytes 4 and 5 give the length of what follows: unit id and PDU.
                if (headBytes_ >= 4)
                    left_ = left_ * 256 + byte;
                if (++headBytes_ < 6 || left_ > 0)
                    continue;
            } else if (--left_ > 0) {
                continue;
            }
            headBytes_ = 0;
            left_ = 0;
            ++whole;
        }
        return whole;
    }

  private:
    int headBytes_ = 0;
    int left_ = 0;
};

// The connections held, by client address, and those closed; the counts are read from other
// threads, the rest only on the server's.
struct Admissions {
    ModbusLimits limits;
    int total = 0;
    QHash<QHostAddress, int> perAddress;
    std::atomic<uint64_t> addressCap{0}, totalCap{0}, idle{0};

    void release(const QHostAddress &address) {
        --total;
        if (--perAddress[address] <= 0)
            perAddress.remove(address);
    }
};

// Qt cannot renumber a socket's descriptor, but it takes a new one for the same connection
// before anything has read from it: the duplicate above select()'s range replaces the low number,
// which Qt closes. False when the socket is lost on the way.
bool moveAboveSelectRange(QTcpSocket *socket) {
    const int high = duplicateAboveSelectRange(static_cast<int>(socket->socketDescriptor()));
    if (high < 0)
        return true;
    if (socket->setSocketDescriptor(high))
        return true;
    ::close(high);
    return false;
}

// Qt asks it about each new connection before it reads from the socket, and closes the socket
// when it says no.
class ConnectionGuard : public QModbusTcpConnectionObserver {
  public:
    ConnectionGuard(quint8 unit, Admissions &admissions) : unitId_(unit), a_(admissions) {}

    bool acceptNewConnection(QTcpSocket *socket) override {
        const QHostAddress address = socket->peerAddress();
        if (a_.total >= a_.limits.maxConnections) {
            ++a_.totalCap;
            return false;
        }
        if (a_.perAddress.value(address) >= a_.limits.maxPerAddress) {
            ++a_.addressCap;
            return false;
        }
        if (!moveAboveSelectRange(socket))
            return false;
        ++a_.total;
        ++a_.perAddress[address];
        // Qt's own clean-up hangs on disconnected(); destroyed() covers a socket that goes
        // without it, and the flag keeps the two from releasing it twice.
        auto held = std::make_shared<bool>(true);
        auto release = [admissions = &a_, address, held] {
            if (*held)
                admissions->release(address);
            *held = false;
        };
        QObject::connect(socket, &QTcpSocket::disconnected, socket, release);
        QObject::connect(socket, &QObject::destroyed, release);

        QTimer *idle = nullptr;
        if (a_.limits.idleTimeoutMs > 0) {
            idle = new QTimer(socket);
            idle->setSingleShot(true);
            idle->setInterval(a_.limits.idleTimeoutMs);
            QObject::connect(idle, &QTimer::timeout, socket, [admissions = &a_, socket] {
                ++admissions->idle;
                // Not disconnectFromHost(): a client that does not read its answers would keep
                // the connection closing for ever.
                socket->abort();
            });
            idle->start();
        }
        // Connected before Qt's own handler, which reads everything the socket holds: so this
        // one sees each byte once, before Qt takes it.
        QObject::connect(socket, &QTcpSocket::readyRead, socket,
                         [socket, idle, unit = unitId_, requests = RequestCounter()]() mutable {
                             if (requests.take(socket->peek(socket->bytesAvailable())) > 0 && idle)
                                 idle->start();
                             filterUnit(socket, unit);
                         });
        return true;
    }

  private:
    quint8 unitId_;
    Admissions &a_;
};

} // namespace

struct ModbusServer::Impl {
    // Before the server, which releases its connections as it goes.
    Admissions admissions;
    BlockServer server;
};

ModbusServer::ModbusServer() : impl_(std::make_unique<Impl>()) {}

ModbusServer::~ModbusServer() {
    impl_->server.disconnectDevice();
    // Qt frees a connection's read buffer only on the socket's destroyed() signal, which does not
    // reach it when the socket goes with the server: the sockets go first, each on its own.
    for (QTcpSocket *socket : impl_->server.findChildren<QTcpSocket *>())
        delete socket;
}

bool ModbusServer::start(const std::string &address, int port, int unitId, std::string *error,
                         const ModbusLimits &limits) {
    QModbusDataUnitMap map;
    map.insert(QModbusDataUnit::InputRegisters,
               QModbusDataUnit(QModbusDataUnit::InputRegisters, 0, kModbusBlockSize));
    map.insert(QModbusDataUnit::HoldingRegisters,
               QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, kModbusBlockSize));
    impl_->server.setMap(map);
    impl_->server.setServerAddress(unitId);
    impl_->admissions.limits = limits;
    // Room above select()'s range for the sockets, when the web server has not made it already.
    raiseDescriptorLimit();
    // The server owns its observer.
    impl_->server.installConnectionObserver(
        new ConnectionGuard(static_cast<quint8>(unitId), impl_->admissions));
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

ModbusRefusals ModbusServer::refusals() const {
    const Admissions &a = impl_->admissions;
    return {a.addressCap.load(), a.totalCap.load(), a.idle.load()};
}
