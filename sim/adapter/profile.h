// Adapter models as data: what each "++" adapter knows, answers and allows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ktq::sim::adapter {

/// How an adapter comes to write its settings into its non-volatile memory.
enum class SaveStyle {
    OnEveryChange, // "++savecfg 1" makes every later change of a setting write it; "++savecfg 0" stops it
    Snapshot,      // "++savecfg" writes the settings as they stand, once
};

/// One adapter model. The core acts on the bus the same way for every model; a profile says
/// which commands exist, what they accept and what the adapter says of itself.
struct AdapterProfile {
    std::string name;    // as the bench's command line names it: "prologix", "ar488" ...
    std::string version; // the "++ver" answer
    /// The commands it takes, without "++"; any other is unknown.
    std::vector<std::string> commands;
    int readTimeoutMin = 1;
    int readTimeoutMax = 3000;
    int readTimeoutDefault = 500;
    int lowestPrimary = 0;      // "++addr" takes this .. 30
    int highestAuto = 1;        // "++auto" takes 0 .. this
    bool bareSecondary = false; // "++addr 9 3" means secondary 3 (as well as 96 + 3)
    SaveStyle save = SaveStyle::OnEveryChange;
    /// The line an unknown command gets, without its line end; empty: none at all.
    std::string unknownReply;
    /// At power-up and after "++rst" the adapter clears the interface and asserts REN.
    bool clearsBusAtPowerUp = false;

    bool knows(std::string_view command) const;
};

/// The Prologix GPIB-USB controller, firmware 6.107.
const AdapterProfile& prologixProfile();
/// The Prologix GPIB-ETHERNET controller: the same commands, its own version string.
const AdapterProfile& prologixEthernetProfile();
/// The AR488 Arduino firmware, as its manual 0.53.03 describes it.
const AdapterProfile& ar488Profile();
/// By name ("prologix", "prologix-ethernet", "ar488"); nullptr for any other.
const AdapterProfile* findProfile(std::string_view name);

} // namespace ktq::sim::adapter
