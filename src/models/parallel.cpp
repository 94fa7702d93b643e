// The function tables of the parallel interface units.
#include "routines.h"

#include <array>
#include <string_view>

namespace ktq::models {

namespace {

// 7121, 7158 and 7165B share every prompt but the string widths of functions 3 and 10; 7172 has
// its own widths and wording. All four share the headers.
constexpr std::array<FunctionEntry, 21> kParallel7121{{
    {"Bus Address - 0 to 30", "SYST:COMM:GPIB:ADDR"},
    {"Bus Address Ext - 1=On/0=Off", "SYST:COMM:GPIB:ADDR:EXT"},
    {"Input String Bytes - (@1:5)", "CONF:INP"},
    {"Input Data Pol - 1/0 ", "CONF:INP:POL"},
    {"Input Handshake - 1=On/0=Off ", "CONF:INP:HAND"},
    {"EDR Signal Pol 0=Low, 1=Hi ", "CONF:EDR"},
    {"Inhibit Signal Pol 0=Low, 1=Hi", "CONF:INH"},
    {"Talk Format - Ascii/HEXL/HEX/Table", "FORM:TALK"},
    {"Talk Translate Table-16 chars", "FORM:TALK:TRANS"},
    {"Output String Bytes - (@1:5)", "CONF:OUT"},
    {"Output Data Polarity - 1/0", "CONF:OUT:POL"},
    {"Output Handshake - 1=On/0=Off", "CONF:OUT:HAND"},
    {"Output Strobe Pol 0=Low, 1=Hi", "CONF:STROBE"},
    {"List Format-ASCii/HEXL/Hex/7116/BIN", "FORM:LIST"},
    {"Remote Signal Pol 0=Low, 1=Hi", "CONF:REM"},
    {"Reset Pulse Pol 0=Low, 1=Hi", "CONF:RES"},
    {"Trigger Pulse Pol 0=Low, 1=Hi", "CONF:TRIG"},
    {"Status A Pol 0=Low, 1=Hi", "CONF:ASTATUS"},
    {"Status B Pol 0=Low, 1=Hi", "CONF:BSTATUS"},
    {"ESR Enable Bits - 0 to 255", "*ESE"},
    {"SRE Enable Bits - 0 to 255", "*SRE"},
}};

constexpr std::array<FunctionEntry, 21> kParallel7172{{
    {"Bus Address - 0 to 30", "SYST:COMM:GPIB:ADDR"},
    {"Bus Address Ext - 1=On/0=Off", "SYST:COMM:GPIB:ADDR:EXT"},
    {"Input String Bytes - (@1:6)", "CONF:INP"},
    {"Input Data Polarity - 1/0 ", "CONF:INP:POL"},
    {"Input Handshake - 1=On/0=Off ", "CONF:INP:HAND"},
    {"EDR Signal Pol. 0=Low, 1=Hi ", "CONF:EDR"},
    {"Inhibit Sig Pol. 0=Low, 1=Hi", "CONF:INH"},
    {"Talk Format - ASCii/HEX/HEXL/Table", "FORM:TALK"},
    {"Talk Translate Table-16 chars", "FORM:TALK:TRANS"},
    {"Output String Bytes - (@1:6)", "CONF:OUT"},
    {"Output Data Pol. - 1/0", "CONF:OUT:POL"},
    {"Output Handshake - 1=On/0=Off", "CONF:OUT:HAND"},
    {"Output Strobe Pol. 0=Low, 1=Hi", "CONF:STROBE"},
    {"List Format-ASCii/HEXL/HEX/7116/BIN", "FORM:LIST"},
    {"Remote Sig Pol. 0=Low, 1=Hi", "CONF:REM"},
    {"Reset Pulse Pol. 0=Low, 1=Hi", "CONF:RES"},
    {"Trigger Pulse Pol. 0=Low, 1=Hi", "CONF:TRIG"},
    {"Status A Polarity 0=Low, 1=Hi", "CONF:ASTATUS"},
    {"Status B Polarity 0=Low, 1=Hi", "CONF:BSTATUS"},
    {"ESR Enable Bits - 0 to 255", "*ESE"},
    {"SRE Enable Bits - 0 to 255", "*SRE"},
}};

// The 7121 table with the unit's own input (function 3) and output (function 10) string widths.
constexpr std::array<FunctionEntry, 21> withStringWidths(std::string_view inputPrompt,
                                                         std::string_view outputPrompt) {
    auto table = kParallel7121;
    table[2].prompt = inputPrompt;
    table[9].prompt = outputPrompt;
    return table;
}

constexpr auto kParallel7158 =
    withStringWidths("Input String Bytes - (@1:16)", "Output String Bytes - (@1:16)");
constexpr auto kParallel7165B =
    withStringWidths("Input String Bytes - (@1:7)", "Output String Bytes - (@1:7)");

} // namespace

const SetupRoutine Config7121{
    .name = "Config7121",
    .functions = kParallel7121,
    .lockSupported = true,
    .noticeModel = "7121",
};

const SetupRoutine Config7172{
    .name = "Config7172",
    .functions = kParallel7172,
    .lockSupported = true,
    .noticeModel = "7172",
};

const SetupRoutine Config7158{
    .name = "Config7158",
    .functions = kParallel7158,
    .lockSupported = true,
    .noticeModel = "7158",
};

const SetupRoutine Config7165B{
    .name = "Config7165B",
    .functions = kParallel7165B,
    .lockSupported = true,
    .noticeModel = "7165B",
};

} // namespace ktq::models
