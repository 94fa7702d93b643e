// The adapter driver's byte link straight to an emulated adapter's core.
#include "sim/adapter/benchlink.h"

#include <utility>

namespace ktq::sim::adapter {

bool BenchLink::write(std::string_view bytes) {
    m_writes.emplace_back(bytes);
    if (m_unplugged)
        return false;
    m_answers += m_core.fromHost(bytes);
    return true;
}

std::string BenchLink::read(std::chrono::milliseconds /*wait*/, bool& gone) {
    ++m_reads;
    gone = m_unplugged;
    if (m_unplugged)
        return {};
    return std::exchange(m_answers, {});
}

} // namespace ktq::sim::adapter
