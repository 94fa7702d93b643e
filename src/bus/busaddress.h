// A unit's address on the bus, in the forms the drivers take it: NI's address word and the bus
// command bytes a board is sent.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace ktq::bus {

inline constexpr int highestPrimary = 30;
/// A secondary address n goes on the bus, and in the address word's high byte, as 96 + n.
inline constexpr int secondaryBase = 0x60;
inline constexpr int highestSecondaryByte = 0x7e;

/// The address word's parts: PAD in the low byte, SAD 0x60..0x7E in the high byte (0: none).
struct BusAddress {
    int primary = 0;
    int secondary = 0; // as sent, 96..126; 0 for none

    /// The unit at `primary`, its secondary address `n` (0 to 30).
    static constexpr BusAddress withSecondary(int primary, int n) { return {primary, secondaryBase + n}; }
    static constexpr BusAddress fromWord(std::uint16_t word) { return {word & 0xff, word >> 8}; }
    /// NI's Addr4882_t; above 16 signed bits for a secondary address the unit cannot have.
    constexpr int word() const { return primary + 256 * secondary; }
};

/// The bus commands that trigger the unit at `primary` on a board, one transfer each, with a pause
/// after each: unlisten, its listen address, unlisten, its listen address with Group Execute
/// Trigger.
inline std::array<std::string, 4> triggerCommands(int primary) {
    constexpr char unlisten = 0x3f;
    constexpr char firstListen = 0x20;
    constexpr char groupExecuteTrigger = 0x08;
    const std::string listen(1, static_cast<char>(firstListen + primary));
    return {std::string(1, unlisten), listen, std::string(1, unlisten), listen + groupExecuteTrigger};
}

} // namespace ktq::bus
