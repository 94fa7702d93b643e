// The function tables of the kinds of simulated unit.
#pragma once

#include "sim/units/valuerule.h"

#include <string>
#include <string_view>
#include <vector>

namespace ktq::sim {

/// One function of a unit: its header as the unit takes it, its value as delivered, what it accepts.
struct Property {
    std::string header;             // matched without regard to case, e.g. "VOLT:SLOPe"
    std::string defaultValue;       // in reply form; unused for the address function
    std::vector<ValueRule> accepts; // taken when any rule takes it; the first taker writes it back
    bool perChannel = false;        // one value per channel of a multi-channel unit
    bool address = false;           // the unit's own bus address (0..30, maybe 31)
};

/// The function table of one kind of unit.
struct Family {
    std::string name;
    std::vector<Property> properties;
};

/// How a multi-channel unit is told which channel a command is for.
enum class ChannelAccess {
    None,
    SecondaryAddress, // channel n answers at secondary address 10 + n behind the primary
    ChannelCommand,   // "C n" selects the channel for the following commands
    Both,             // the demo unit
};

/// What sets one model apart: its table, whether it waits for a trigger, how channels are reached.
struct ModelFacts {
    std::string text; // as listed, e.g. "7181B"
    const Family* family = nullptr;
    bool triggerGate = false; // silent until addressed to listen and sent Group Execute Trigger
    int channels = 1;
    ChannelAccess channelAccess = ChannelAccess::None;
};

/// The listed models, in list order.
const std::vector<ModelFacts>& knownModels();

/// The unit that answers every table: for trying any model without its hardware.
const ModelFacts& demoModel();

/// A listed model by its text (any case), by its bare number ("7134" is the first 7134 listed), or
/// "demo"; nullptr when there is none.
const ModelFacts* findModel(std::string_view text);

} // namespace ktq::sim
