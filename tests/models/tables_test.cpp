// The models' function tables: prompts, commands and setup flags.
#include "models/routines.h"

#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string_view>
#include <vector>

namespace ktq::models {

void PrintTo(const FunctionEntry& entry, std::ostream* os) {
    *os << '{' << '"' << entry.prompt << "\", \"" << entry.command << "\"}";
}

namespace {

using Table = std::vector<FunctionEntry>;

Table tableOf(const SetupRoutine& routine) {
    return {routine.functions.begin(), routine.functions.end()};
}

const FunctionEntry& function(const SetupRoutine& routine, int number) {
    return routine.functions[static_cast<std::size_t>(number - 1)];
}

struct Flags {
    const SetupRoutine* routine;
    int count;
    std::string_view prefix;
    int addressFunction;
    bool lock;
    bool trigger;
    int channels;
    std::string_view noticeModel;
    bool keepsAddress;
    bool hidesNext;
};

TEST(FunctionTables, FlagsAndFunctionCounts) {
    const Flags expected[] = {
        {&Config7121, 21, "", 1, true, false, 0, "7121", false, false},
        {&Config7172, 21, "", 1, true, false, 0, "7172", false, false},
        {&Config7158, 21, "", 1, true, false, 0, "7158", false, false},
        {&Config7165B, 21, "", 1, true, false, 0, "7165B", false, false},
        {&Config7185A, 17, "", 3, false, true, 0, "", false, false},
        {&Config7187, 13, "SYST", 3, false, true, 0, "", false, false},
        {&Config7189, 14, "", 1, false, false, 4, "", true, true},
        {&Config7142, 10, "", 1, true, false, 0, "", false, false},
        {&Config7150, 12, "", 1, true, false, 0, "", false, false},
        {&Config7181A, 6, "SYST", 3, false, true, 0, "", false, false},
        {&Config7181B, 7, "SYST", 3, false, true, 0, "", false, false},
        {&Config7170, 15, "", 1, true, false, 4, "", false, false},
        {&Config7174, 3, "", 1, true, false, 0, "", false, false},
        {&Config7179, 3, "", 1, true, false, 0, "", false, false},
        {&Config7147, 3, "", 1, true, false, 0, "", false, false},
        {&Config7153, 11, "", 1, true, false, 0, "", false, false},
        {&Config7199, 10, "", 1, true, false, 0, "", false, false},
    };
    ASSERT_EQ(allRoutines().size(), std::size(expected));
    for (const Flags& e : expected) {
        const SetupRoutine& r = *e.routine;
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.functionCount(), e.count);
        EXPECT_EQ(r.commandPrefix, e.prefix);
        EXPECT_EQ(r.addressFunction, e.addressFunction);
        EXPECT_EQ(r.lockSupported, e.lock);
        EXPECT_EQ(r.triggerOnStart, e.trigger);
        EXPECT_EQ(r.channelCount, e.channels);
        EXPECT_EQ(r.noticeModel, e.noticeModel);
        EXPECT_EQ(r.keepsDeviceAddress, e.keepsAddress);
        EXPECT_EQ(r.hidesNextChannel, e.hidesNext);
    }
}

TEST(FunctionTables, StructuralRulesHoldForEveryTable) {
    std::set<std::string_view> names;
    for (const SetupRoutine* routine : allRoutines()) {
        const SetupRoutine& r = *routine;
        SCOPED_TRACE(r.name);
        EXPECT_TRUE(names.insert(r.name).second) << "listed twice";
        EXPECT_GE(r.functionCount(), 1);
        EXPECT_LE(r.functionCount(), 25);
        const bool prefixed = r.commandPrefix == "SYST";
        EXPECT_TRUE(prefixed || r.commandPrefix.empty());
        for (const FunctionEntry& entry : r.functions) {
            EXPECT_FALSE(entry.prompt.empty());
            ASSERT_FALSE(entry.command.empty());
            EXPECT_EQ(entry.command.front() == ':', prefixed) << entry.command;
            EXPECT_EQ(entry.command.find_first_of(" \t?"), std::string_view::npos) << entry.command;
        }
        ASSERT_GE(r.addressFunction, 1);
        ASSERT_LE(r.addressFunction, r.functionCount());
        EXPECT_TRUE(function(r, r.addressFunction).command.ends_with("GPIB:ADDR"));
    }
}

TEST(FunctionTables, TimeoutPromptsEndInOneDoubleQuote) {
    for (const SetupRoutine* routine : {&Config7142, &Config7150}) {
        EXPECT_EQ(function(*routine, 7), (FunctionEntry{"Timeout - 25 to 65535 ms\"", "SYST:COMM:SER:TIME"}))
            << routine->name;
    }
}

TEST(FunctionTables, ParallelStringWidthsDifferPerModel) {
    const struct {
        const SetupRoutine* routine;
        std::string_view width;
    } widths[] = {{&Config7121, "5"}, {&Config7172, "6"}, {&Config7158, "16"}, {&Config7165B, "7"}};
    for (const auto& w : widths) {
        SCOPED_TRACE(w.routine->name);
        const std::string suffix = "String Bytes - (@1:" + std::string(w.width) + ")";
        EXPECT_EQ(function(*w.routine, 3).prompt, "Input " + suffix);
        EXPECT_EQ(function(*w.routine, 10).prompt, "Output " + suffix);
    }
    // Apart from the widths, 7158 and 7165B are the 7121 table.
    for (const SetupRoutine* routine : {&Config7158, &Config7165B}) {
        for (int k = 1; k <= 21; ++k) {
            if (k != 3 && k != 10) {
                EXPECT_EQ(function(*routine, k), function(Config7121, k))
                    << routine->name << " function " << k;
            }
        }
    }
}

TEST(FunctionTables, Parallel7172DiffersFrom7121OnlyInItsPrompts) {
    std::vector<int> differing;
    for (int k = 1; k <= 21; ++k) {
        EXPECT_EQ(function(Config7172, k).command, function(Config7121, k).command) << "function " << k;
        if (function(Config7172, k).prompt != function(Config7121, k).prompt) {
            differing.push_back(k);
        }
    }
    EXPECT_EQ(differing, (std::vector<int>{3, 4, 6, 7, 8, 10, 11, 13, 14, 15, 16, 17, 18, 19}));
    EXPECT_EQ(function(Config7121, 8).prompt, "Talk Format - Ascii/HEXL/HEX/Table");
    EXPECT_EQ(function(Config7172, 8).prompt, "Talk Format - ASCii/HEX/HEXL/Table");
    EXPECT_EQ(function(Config7121, 14).prompt, "List Format-ASCii/HEXL/Hex/7116/BIN");
    EXPECT_EQ(function(Config7172, 14).prompt, "List Format-ASCii/HEXL/HEX/7116/BIN");
}

TEST(FunctionTables, Printer7181BInsertsTheIdleFunctionAsSixth) {
    Table expected = tableOf(Config7181A);
    expected.insert(expected.begin() + 5, {"Enable spc-bkspc every 8s - 0 or 1", ":COMM:GPIB:IDLE"});
    EXPECT_EQ(tableOf(Config7181B), expected);
}

TEST(FunctionTables, Serial7150InsertsTwoFunctionsAfterTheTimeout) {
    Table expected = tableOf(Config7142);
    expected.insert(expected.begin() + 7, {{"RS485 half-duplex operation - 0/1", "SYST:COMM:SER:RS485"},
                                           {"External serial EOMchar-hex value", "SYST:COMM:SER:EOMchr"}});
    EXPECT_EQ(tableOf(Config7150), expected);
}

TEST(FunctionTables, Modbus7199Is7153WithoutExtAddressAndWithTheTristatePrompt) {
    Table expected = tableOf(Config7153);
    ASSERT_EQ(expected[1].command, "SYST:COMM:GPIB:ADDR:EXT");
    expected.erase(expected.begin() + 1);
    ASSERT_EQ(expected[5].prompt, "RS-485 half-duplex operation-1/0");
    expected[5].prompt = "Tristate xtmr btwn msgs - 1/0";
    EXPECT_EQ(tableOf(Config7199), expected);
}

TEST(FunctionTables, Serial7187SendsTheHeadersOf7185AInTheSameOrder) {
    // Each prefixed 7187 header must be found in 7185A, later than the one before it.
    std::size_t from = 0;
    for (const FunctionEntry& entry : Config7187.functions) {
        const std::string wire = std::string(Config7187.commandPrefix) + std::string(entry.command);
        std::size_t k = from;
        while (k < Config7185A.functions.size() && Config7185A.functions[k].command != wire) {
            ++k;
        }
        ASSERT_LT(k, Config7185A.functions.size()) << wire;
        from = k + 1;
    }
}

TEST(FunctionTables, SimpleUnitsShareOneTable) {
    EXPECT_EQ(tableOf(Config7179), tableOf(Config7174));
    EXPECT_EQ(tableOf(Config7147), tableOf(Config7174));
    EXPECT_EQ(function(Config7174, 2).command, "*ESE");
    EXPECT_EQ(function(Config7174, 3).command, "*SRE");
}

TEST(FunctionTables, TrickyStringsAreKeptExactly) {
    const struct {
        const SetupRoutine* routine;
        int number;
        FunctionEntry entry;
    } spots[] = {
        {&Config7121, 4, {"Input Data Pol - 1/0 ", "CONF:INP:POL"}},
        {&Config7121, 5, {"Input Handshake - 1=On/0=Off ", "CONF:INP:HAND"}},
        {&Config7172, 6, {"EDR Signal Pol. 0=Low, 1=Hi ", "CONF:EDR"}},
        {&Config7170, 4, {"V Out Slope +/-dd.dddd", "VOLT:SLOPe"}},
        {&Config7170, 5, {"V Out Limit dd.dddd", "VOLT:LIMit"}},
        {&Config7170, 7, {"V Out pon value +/-dd.dddd", "VOLT"}},
        {&Config7170, 11, {"V In Pol - 1=Uni, 2=Bipolar ", "MEAS:POL"}},
        {&Config7150, 9, {"External serial EOMchar-hex value", "SYST:COMM:SER:EOMchr"}},
        {&Config7185A, 15, {"Tristate Xtmr btwn msgs - 1/0", "SYST:COMM:SER:RS485"}},
        {&Config7187, 4, {"Baud - enter rate 300-38400", ":COMM:SER:BAUD"}},
        {&Config7153, 9, {"Modbus timeout - 50 to 1000 ms", "D"}},
        {&Config7153, 10, {"Modbus device address - 1 to 250", "C"}},
    };
    for (const auto& spot : spots) {
        EXPECT_EQ(function(*spot.routine, spot.number), spot.entry)
            << spot.routine->name << " function " << spot.number;
    }
}

} // namespace
} // namespace ktq::models
