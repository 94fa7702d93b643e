// The program's side of an emulated adapter without a port in between: the adapter driver's byte
// link straight to the adapter core, for tests that run the program on the bench.
#pragma once

#include "sim/adapter/adaptercore.h"
#include "src/bus/adapter/adapterlink.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ktq::sim::adapter {

/// A link whose far end is the adapter core itself: what the host writes reaches the core at once
/// and its answers wait to be read. A read returns everything answered so far, or nothing at once:
/// the core has answered all it will before the write returned, so waiting would bring no more.
///
/// Opened as an Uno's USB serial port is (ResetsOnOpen), the board resets: it is held in reset
/// 66 ms, then its bootloader takes what arrives in its first second and starts the firmware 16 ms
/// after two bytes that are not its protocol (or at the end of that second); those bytes are
/// lost. The firmware takes bytes from its start and answers 85 ms later. Time passes only while
/// the host waits in a read, by the wait it asked for.
class BenchLink final : public bus::AdapterLink {
public:
    enum class Start { AtOnce, ResetsOnOpen };
    explicit BenchLink(AdapterCore& core, Start start = Start::AtOnce);

    std::string where() const override { return "bench:" + m_core.profile().name; }
    bool write(std::string_view bytes) override;
    std::string read(std::chrono::milliseconds wait, bool& gone) override;

    /// The cable pulled: every later write fails and every read reports the link gone.
    void unplug() { m_unplugged = true; }
    /// Every write the host made, as it made it, the failed ones included.
    const std::vector<std::string>& writes() const { return m_writes; }
    /// How many times the host read, the failed reads included.
    int reads() const { return m_reads; }
    /// The bytes the starting board lost.
    std::size_t lostWhileStarting() const { return m_lostWhileStarting; }

private:
    bool firmwareRunning();

    AdapterCore& m_core;
    std::string m_answers;
    bool m_unplugged = false;
    int m_reads = 0;
    std::vector<std::string> m_writes;
    bool m_resets = false;
    std::chrono::milliseconds m_now{0};
    std::optional<std::chrono::milliseconds> m_firmwareStart; // unset while reset or in the bootloader
    std::chrono::milliseconds m_answersFrom{0};
    std::size_t m_lostWhileStarting = 0;
};

} // namespace ktq::sim::adapter
