// The bench layout from GPIB_SIM_BENCH: a bad layout is refused with std::invalid_argument,
// never with another exception or a crash.
#include "fuzzapp.h"

#include "sim/simbus.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <stdexcept>
#include <string_view>

using ktq::fuzz::fail;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view layout(reinterpret_cast<const char*>(data), size);
    try {
        const auto bench = ktq::sim::SimBus::fromBenchLayout(layout);
        std::set<int> addresses;
        for (ktq::sim::SimUnit* unit : bench->units()) {
            if (unit->primary() < 0 || unit->primary() > 30 || !addresses.insert(unit->primary()).second) {
                fail("a unit outside 0..30 or two at one address");
            }
        }
    } catch (const std::invalid_argument&) {
    }
    return 0;
}
