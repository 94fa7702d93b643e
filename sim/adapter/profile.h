// Adapter models as data: what each "++" adapter knows, answers and allows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ktq::sim::adapter {

/// How an adapter comes to write its settings into its non-volatile memory.
enum class SaveStyle {
    OnEveryChange, // while "++savecfg 1" is in force every change of a setting is written; "++savecfg 0"
                   // stops it
    Snapshot,      // "++savecfg" writes the settings as they stand, once, whatever its argument
};

/// One adapter model. The core acts on the bus the same way for every model; a profile says
/// which commands exist, what they accept and what the adapter says of itself.
struct AdapterProfile {
    std::string name; // as the bench's command line names it: "prologix", "ar488" ...
    /// A Prologix's "++ver" answer; an AR488's firmware line, which "++ver real" always answers
    /// and "++ver" answers until the owner sets a text of its own with "++id verstr".
    std::string version;
    bool ar488 = false;
    /// The commands it takes, without "++"; any other is unknown.
    std::vector<std::string> commands;
    int readTimeoutMin = 1;
    int readTimeoutMax = 3000;
    int readTimeoutDefault = 500;
    bool clampsReadTimeout = true; // a value out of range is clamped; else refused and the old kept
    int lowestPrimary = 0;         // "++addr" takes this .. 30
    int defaultPrimary = 0;
    int highestAuto = 1;                // "++auto" takes 0 .. this
    bool defaultEoi = true;             // EOI with the last byte from power-up
    bool bareSecondary = false;         // "++addr 9 3" means secondary 3 (as well as 96 + 3)
    bool secondaryAddresses = true;     // false: a secondary address after the primary is ignored
    std::string addressSeparator = " "; // between primary and secondary in the "++addr" answer
    bool rawSecondaryInSearch = false;  // the listener search names secondary 11 as 107
    SaveStyle save = SaveStyle::OnEveryChange;
    bool savesFromPowerUp = false; // OnEveryChange in force from power-up until "++savecfg 0"
    /// The line an unknown command gets, without its line end; empty: none at all.
    std::string unknownReply;
    /// The line a value out of range gets; empty: none.
    std::string invalidReply;
    /// At power-up, "++rst" and every "++mode 1": REN released for 40 ms, asserted, IFC.
    bool restartsController = false;
    bool eoiWithLastByte = true; // false: EOI is a pulse of its own after the last byte
    // How an AR488 addresses a unit (0.53.04 against 0.51.09): UNT with every address; the talker
    // addressed once or twice before a read; ATN released after a read's unaddressing.
    bool untWithAddress = true;
    bool talkerAddressedTwice = false;
    bool idleAfterRead = false;
    bool pollTakesAddress = true; // false: "++spoll 5" polls nobody and answers nothing
    /// The serial receive buffer: what arrives while the firmware is busy on the bus beyond this
    /// many bytes is lost. 0: no limit.
    std::size_t inputBuffer = 0;
    /// The firmware's line buffer: a longer data line goes out in pieces this long, a longer
    /// command is dropped. 0: no limit.
    std::size_t lineBuffer = 0;

    bool knows(std::string_view command) const;
};

/// The Prologix GPIB-USB controller, firmware 6.107.
const AdapterProfile& prologixProfile();
/// The Prologix GPIB-ETHERNET controller: the same commands, its own version string.
const AdapterProfile& prologixEthernetProfile();
/// The AR488 Arduino firmware 0.53.04 on an Uno, as its source has it.
const AdapterProfile& ar488Profile();
/// The AR488 firmware 0.51.09 on an Uno, as its source has it.
const AdapterProfile& ar488OldProfile();
/// By name ("prologix", "prologix-ethernet", "ar488", "ar488-0.51"); nullptr for any other.
const AdapterProfile* findProfile(std::string_view name);

} // namespace ktq::sim::adapter
