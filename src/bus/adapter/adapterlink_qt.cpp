// Links to "++" adapters on Linux: Qt's serial port and TCP socket, used blocking on the bus thread.
// Built as a module of its own, which the program loads when it first looks for an adapter
// (linkmodule_posix.cpp).
#include "adapterlink.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTcpSocket>

#include <algorithm>

namespace ktq::bus {

namespace {

// How long one write may go without a byte leaving before the link counts as gone: far beyond
// what a working port needs for a command line, short enough not to look hung.
constexpr int writeStallMs = 5000;
// How long a TCP connection may take to open: a controller on the local network answers in
// milliseconds, one across a routed network in well under this.
constexpr int connectMs = 5000;

int waitMs(std::chrono::milliseconds wait) {
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, 24 * 3600 * 1000));
}

// Qt's serial port and socket watch their descriptors with socket notifiers, which need the
// thread's event dispatcher; a thread Qt did not start (the bus thread) has none until an event
// loop is made on it, and the dispatcher then stays with the thread. The blocking waits the links
// use need no loop to run.
// Writes every byte and waits until they have left; false when the device stalls or fails.
bool writeAll(QIODevice& device, std::string_view bytes) {
    if (device.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
        return false;
    }
    while (device.bytesToWrite() > 0) {
        if (!device.waitForBytesWritten(writeStallMs)) {
            return false;
        }
    }
    return true;
}

void ensureEventDispatcher() {
    if (QAbstractEventDispatcher::instance() == nullptr) {
        QEventLoop makesDispatcher;
    }
}

/// A serial port at 115200 8N1 without flow control. The Prologix GPIB-USB ignores the rate (it
/// is USB all the way); an AR488 on an Arduino runs at 115200 by default.
class SerialLink final : public AdapterLink {
public:
    explicit SerialLink(const std::string& name) : m_name(name) {
        m_port.setPortName(QString::fromStdString(name));
    }

    bool open(std::string& error) {
        if (!m_port.open(QIODevice::ReadWrite)) {
            error = m_port.errorString().toStdString();
            return false;
        }
        const bool set = m_port.setBaudRate(QSerialPort::Baud115200) &&
                         m_port.setDataBits(QSerialPort::Data8) && m_port.setParity(QSerialPort::NoParity) &&
                         m_port.setStopBits(QSerialPort::OneStop) &&
                         m_port.setFlowControl(QSerialPort::NoFlowControl);
        if (!set) {
            error = m_port.errorString().toStdString();
            m_port.close();
            return false;
        }
        return true;
    }

    std::string where() const override { return m_name; }

    bool write(std::string_view bytes) override {
        if (!m_port.isOpen()) {
            return false;
        }
        return writeAll(m_port, bytes) || lose();
    }

    std::string read(std::chrono::milliseconds wait, bool& gone) override {
        if (!m_port.isOpen()) {
            gone = true;
            return {};
        }
        if (m_port.bytesAvailable() == 0) {
            m_port.clearError();
            if (!m_port.waitForReadyRead(waitMs(wait))) {
                if (m_port.error() != QSerialPort::NoError && m_port.error() != QSerialPort::TimeoutError) {
                    lose();
                    gone = true;
                }
            }
        }
        const QByteArray bytes = m_port.readAll();
        return bytes.toStdString();
    }

private:
    // The port failed (unplugged, or the far end closed): it is closed, and every later call
    // fails at once.
    bool lose() {
        m_port.close();
        return false;
    }

    std::string m_name;
    QSerialPort m_port;
};

/// A TCP connection, with Nagle's delay off: every command is a short line the adapter should
/// see at once.
class TcpLink final : public AdapterLink {
public:
    TcpLink(const std::string& host, int port) : m_where(host + ":" + std::to_string(port)) {
        if (host.find(':') != std::string::npos) {
            m_where = "[" + host + "]:" + std::to_string(port);
        }
    }

    bool open(const std::string& host, int port, std::string& error) {
        m_socket.connectToHost(QString::fromStdString(host), static_cast<quint16>(port));
        if (!m_socket.waitForConnected(connectMs)) {
            error = m_socket.errorString().toStdString();
            m_socket.abort();
            return false;
        }
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return true;
    }

    std::string where() const override { return m_where; }

    bool write(std::string_view bytes) override {
        if (m_socket.state() != QAbstractSocket::ConnectedState) {
            return false;
        }
        return writeAll(m_socket, bytes) || lose();
    }

    std::string read(std::chrono::milliseconds wait, bool& gone) override {
        if (m_socket.bytesAvailable() == 0 && m_socket.state() == QAbstractSocket::ConnectedState) {
            if (!m_socket.waitForReadyRead(waitMs(wait)) &&
                m_socket.error() != QAbstractSocket::SocketTimeoutError) {
                gone = true;
            }
        }
        // What came before the far end closed is still the adapter's answer.
        const QByteArray bytes = m_socket.readAll();
        if (m_socket.state() != QAbstractSocket::ConnectedState) {
            gone = true;
        }
        return bytes.toStdString();
    }

private:
    bool lose() {
        m_socket.abort();
        return false;
    }

    std::string m_where;
    QTcpSocket m_socket;
};

class QtLinkOpener final : public LinkOpener {
public:
    std::vector<SerialPortInfo> serialPorts() override {
        std::vector<SerialPortInfo> ports;
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
            SerialPortInfo port;
            port.name = info.systemLocation().toStdString();
            if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
                port.vendorId = info.vendorIdentifier();
                port.productId = info.productIdentifier();
            }
            port.description = info.description().toStdString();
            ports.push_back(std::move(port));
        }
        return ports;
    }

    std::unique_ptr<AdapterLink> openSerial(const std::string& port, std::string& error) override {
        ensureEventDispatcher();
        auto link = std::make_unique<SerialLink>(port);
        if (!link->open(error)) {
            return nullptr;
        }
        return link;
    }

    std::unique_ptr<AdapterLink> openTcp(const std::string& host, int port, std::string& error) override {
        ensureEventDispatcher();
        auto link = std::make_unique<TcpLink>(host, port);
        if (!link->open(host, port, error)) {
            return nullptr;
        }
        return link;
    }
};

} // namespace

} // namespace ktq::bus

/// The module's one entry: a new opener, which the caller owns and deletes.
extern "C" ktq::bus::LinkOpener* KTQ_LINK_MODULE_ENTRY() {
    return new ktq::bus::QtLinkOpener;
}
