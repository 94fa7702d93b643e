// Serves an emulated adapter to a host program on a pseudo-terminal or a loopback TCP port.
#pragma once

#include "sim/adapter/adaptercore.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace ktq::sim::adapter {

/// Ends a serving thread's waits from any other thread: a pipe whose read end turns readable,
/// and stays so, once raised. Closing the descriptor a thread waits on would not wake it.
class StopSignal {
public:
    /// Throws std::runtime_error naming the call that failed.
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void raise();
    int fd() const { return m_read; }

private:
    int m_read = -1;
    int m_write = -1;
};

/// A pseudo-terminal in raw mode whose far end a program opens as it would a USB serial port.
/// The bench keeps the far end open too, so that a host closing it and opening it again finds
/// the adapter still there. A thread serving it is stopped and joined before the link is freed.
class PtyLink {
public:
    /// Throws std::runtime_error naming the call that failed.
    PtyLink();
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    const std::string& path() const { return m_path; }
    /// Passes the host's bytes to the adapter and its answers back, until stop() or the link fails.
    void serve(AdapterCore& core);
    /// Ends serve(), at once or as soon as it starts; from any thread.
    void stop() { m_stop.raise(); }
    /// Waits until the adapter has taken `count` bytes from the host in all and sent its answers
    /// to them, so that a test can go on as if the link were the bench's own.
    void waitTaken(std::uint64_t count) const;

private:
    std::atomic<std::uint64_t> m_taken{0};
    int m_master = -1;
    int m_keeper = -1;
    std::string m_path;
    StopSignal m_stop;
};

/// A TCP port on 127.0.0.1 that takes one host connection at a time, as the Prologix
/// GPIB-ETHERNET controller does on port 1234. A thread serving it is stopped and joined before
/// the link is freed.
class TcpLink {
public:
    static constexpr int prologixPort = 1234;

    /// Port 0 takes a free port. Throws std::runtime_error naming the call that failed.
    explicit TcpLink(int port);
    ~TcpLink();
    TcpLink(const TcpLink&) = delete;
    TcpLink& operator=(const TcpLink&) = delete;

    int port() const { return m_port; }
    /// Takes host connections one after the other, each until it closes, and until stop().
    void serve(AdapterCore& core);
    /// Closes the host's connection, as a network cable pulled and put back would; the next
    /// connection is taken. From any thread.
    void dropConnection();
    /// Ends serve(), closing the host's connection, at once or as soon as it starts; from any
    /// thread.
    void stop() { m_stop.raise(); }
    /// As PtyLink's, over every connection so far.
    void waitTaken(std::uint64_t count) const;

private:
    std::atomic<std::uint64_t> m_taken{0};
    int m_listener = -1;
    int m_port = 0;
    StopSignal m_stop;
    // Held while the connection is taken, shut down or closed, so that dropConnection() never
    // reaches a descriptor number the system has handed out again.
    std::mutex m_hostLock;
    int m_host = -1; // the connection being served, -1 for none
};

} // namespace ktq::sim::adapter
