// The Windows TCP link to a "++" adapter against a Winsock listener in the test itself: what
// crosses it each way, a read that finds nothing, an adapter that closes or is not there.
#include "bus/adapter/adapterlink.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace ktq::bus {
namespace {

using namespace std::chrono_literals;

// A listening socket on 127.0.0.1 with a free port; accept() takes the link's connection.
class Listener {
public:
    Listener() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        int size = sizeof address;
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
    }
    ~Listener() {
        closesocket(m_socket);
        WSACleanup();
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    void listenNow() { listen(m_socket, 1); }
    SOCKET accept() { return ::accept(m_socket, nullptr, nullptr); }
    int port() const { return m_port; }

private:
    SOCKET m_socket = INVALID_SOCKET;
    int m_port = 0;
};

// Receives until `count` bytes have come (or the connection ends).
std::string receive(SOCKET peer, std::size_t count) {
    std::string bytes;
    char buffer[256];
    while (bytes.size() < count) {
        const int n = recv(peer, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

TEST(WindowsAdapterLink, TcpCarriesBothWaysAndTellsWhenTheAdapterCloses) {
    Listener listener;
    listener.listenNow();
    const auto opener = makeSystemLinkOpener();
    std::string error;
    const auto link = opener->openTcp("127.0.0.1", listener.port(), error);
    ASSERT_NE(link, nullptr) << error;
    EXPECT_EQ(link->where(), "127.0.0.1:" + std::to_string(listener.port()));
    const SOCKET peer = listener.accept();
    ASSERT_NE(peer, INVALID_SOCKET);

    bool gone = false;
    EXPECT_EQ(link->read(0ms, gone), "") << "nothing was sent";
    EXPECT_FALSE(gone);

    // Every byte, the escapes and a NUL among them, reaches the adapter as written.
    const std::string command("++ver\n\x1b+\x1b\r\0x\n", 12);
    ASSERT_TRUE(link->write(command));
    EXPECT_EQ(receive(peer, command.size()), command);

    // The wait is an upper bound: bytes already sent come back without it running out.
    const std::string answer("1.5E+0\n\0", 8);
    send(peer, answer.data(), static_cast<int>(answer.size()), 0);
    std::string got;
    while (got.size() < answer.size() && !gone) {
        const std::string part = link->read(10s, gone);
        if (part.empty())
            break;
        got += part;
    }
    EXPECT_EQ(got, answer);
    EXPECT_FALSE(gone);

    closesocket(peer);
    const std::string last = link->read(10s, gone);
    EXPECT_EQ(last, "");
    EXPECT_TRUE(gone) << "a closed connection is a link gone, not a silent adapter";
}

TEST(WindowsAdapterLink, TcpToNobodyFailsWithTheReason) {
    int port = 0;
    {
        Listener unused; // a port that was free a moment ago and that nobody listens on
        port = unused.port();
    }
    const auto opener = makeSystemLinkOpener();
    std::string error;
    EXPECT_EQ(opener->openTcp("127.0.0.1", port, error), nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;

    error.clear();
    EXPECT_EQ(opener->openTcp("no-such-host.invalid", 1234, error), nullptr);
    EXPECT_NE(error.find("no-such-host.invalid"), std::string::npos) << error;
}

TEST(WindowsAdapterLink, APortThatIsNotThereIsNotOpened) {
    const auto opener = makeSystemLinkOpener();
    std::string error;
    EXPECT_EQ(opener->openSerial("COM255", error), nullptr);
    EXPECT_FALSE(error.empty());
}

} // namespace
} // namespace ktq::bus
