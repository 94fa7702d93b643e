// The program's side of an emulated adapter without a port in between: the adapter driver's byte
// link straight to the adapter core, for tests that run the program on the bench.
#pragma once

#include "sim/adapter/adaptercore.h"
#include "src/bus/adapterlink.h"

#include <string>
#include <string_view>
#include <vector>

namespace ktq::sim::adapter {

/// A link whose far end is the adapter core itself: what the host writes reaches the core at once
/// and its answers wait to be read. A read returns everything answered so far, or nothing at once:
/// the core has answered all it will before the write returned, so waiting would bring no more.
class BenchLink final : public bus::AdapterLink {
public:
    explicit BenchLink(AdapterCore& core) : m_core(core) {}

    std::string where() const override { return "bench:" + m_core.profile().name; }
    bool write(std::string_view bytes) override;
    std::string read(std::chrono::milliseconds wait, bool& gone) override;

    /// The cable pulled: every later write fails and every read reports the link gone.
    void unplug() { m_unplugged = true; }
    /// Every write the host made, as it made it, the failed ones included.
    const std::vector<std::string>& writes() const { return m_writes; }
    /// How many times the host read, the failed reads included.
    int reads() const { return m_reads; }

private:
    AdapterCore& m_core;
    std::string m_answers;
    bool m_unplugged = false;
    int m_reads = 0;
    std::vector<std::string> m_writes;
};

} // namespace ktq::sim::adapter
