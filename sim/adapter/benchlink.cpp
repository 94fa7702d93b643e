// The adapter driver's byte link straight to an emulated adapter's core.
#include "sim/adapter/benchlink.h"

#include <algorithm>
#include <utility>

namespace ktq::sim::adapter {

namespace {

using std::chrono::milliseconds;

// An Uno after its port opened: in reset, then optiboot's wait for an upload; the firmware's
// start after a foreign byte (optiboot's 16 ms watchdog) and its start-up before it answers (two
// 40 ms waits of its bus clear).
constexpr milliseconds heldInReset{66};
constexpr milliseconds bootloaderWait{1000};
constexpr milliseconds watchdogStart{16};
constexpr milliseconds firmwareStartUp{85};

} // namespace

BenchLink::BenchLink(AdapterCore& core, Start start) : m_core(core), m_resets(start == Start::ResetsOnOpen) {
    if (m_resets)
        m_core.restart();
    else
        m_firmwareStart = milliseconds(0) - firmwareStartUp;
}

bool BenchLink::firmwareRunning() {
    if (!m_firmwareStart && m_now >= heldInReset + bootloaderWait)
        m_firmwareStart = heldInReset + bootloaderWait;
    return m_firmwareStart && m_now >= *m_firmwareStart;
}

bool BenchLink::write(std::string_view bytes) {
    m_writes.emplace_back(bytes);
    if (m_unplugged)
        return false;
    if (!firmwareRunning()) {
        m_lostWhileStarting += bytes.size();
        if (!m_firmwareStart && m_now >= heldInReset && bytes.size() >= 2)
            m_firmwareStart = m_now + watchdogStart;
        return true;
    }
    m_answers += m_core.fromHost(bytes);
    m_answersFrom = std::max(m_now, *m_firmwareStart + firmwareStartUp);
    return true;
}

std::string BenchLink::read(milliseconds wait, bool& gone) {
    ++m_reads;
    gone = m_unplugged;
    if (m_unplugged)
        return {};
    if (m_resets && (m_answers.empty() || m_answersFrom > m_now)) {
        const milliseconds until = m_answers.empty() ? wait : std::min(wait, m_answersFrom - m_now);
        m_now += until;
        firmwareRunning();
        if (m_answers.empty() || m_answersFrom > m_now)
            return {};
    }
    return std::exchange(m_answers, {});
}

} // namespace ktq::sim::adapter
