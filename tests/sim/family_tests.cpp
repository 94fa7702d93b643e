// Each family of simulated units: the values it takes and its start.
#include "simdriver.h"

#include <gtest/gtest.h>

#include <set>

namespace ktq::sim::test {
namespace {

// The start of a run on a unit that waits for its trigger: Unlisten, listen address, Unlisten,
// listen address with Group Execute Trigger.
void trigger(const Driver& driver, int primary) {
    const char listen = static_cast<char>(lg::LAD + primary);
    driver.commands("?");
    driver.commands(std::string(1, listen));
    driver.commands("?");
    driver.commands(std::string{listen, static_cast<char>(lg::GET)});
}

struct ValueCase {
    const char* model;
    const char* header;
    const char* value;
    int esr;              // event status after the setting
    const char* readBack; // what the query answers afterwards, without the line feed
};

std::ostream& operator<<(std::ostream& out, const ValueCase& c) {
    return out << c.model << " " << c.header << " " << c.value;
}

class AcceptedValues : public ::testing::TestWithParam<ValueCase> {};

TEST_P(AcceptedValues, SettingIsStoredInReplyFormOrRefused) {
    const ValueCase& c = GetParam();
    SimBus bench;
    ScopedBench installed(bench);
    const Driver driver = Driver::inProcess();
    SimUnit& unit = bench.addUnit(5, c.model);
    if (unit.triggerGate())
        trigger(driver, 5);
    const bool known = c.esr != SimUnit::CommandError;
    const std::string before = known ? unit.value(c.header) : "";
    const std::uint16_t address =
        unit.facts().channelAccess == ChannelAccess::SecondaryAddress ? withSecondary(5, 11) : 5;

    driver.send(address, std::string(c.header) + " " + c.value);
    EXPECT_EQ(driver.esr(address), c.esr);
    if (known) {
        const std::string expected = c.esr == 0 ? c.readBack : before;
        EXPECT_EQ(driver.ask(address, std::string(c.header) + "?"), expected + "\n");
        EXPECT_EQ(unit.value(c.header), expected);
    }
}

constexpr int EXE = SimUnit::ExecutionError;
constexpr int CME = SimUnit::CommandError;

INSTANTIATE_TEST_SUITE_P(Choices, AcceptedValues,
                         ::testing::Values(ValueCase{"7153", "FORM:TALK", "asc", 0, "ASCII"},
                                           ValueCase{"7153", "FORM:TALK", "HEXL", 0, "HEXL"},
                                           ValueCase{"7153", "FORM:TALK", "hex", EXE, ""},
                                           ValueCase{"7121", "FORM:TALK", "hex", 0, "HEX"},
                                           ValueCase{"7121", "FORM:TALK", "tabl", 0, "TABLE"},
                                           ValueCase{"7121", "FORM:TALK", "ta", EXE, ""},
                                           ValueCase{"7121", "FORM:LIST", "7116", 0, "7116"},
                                           ValueCase{"7142", "SYST:MODE", "stan", 0, "STANDARD"},
                                           ValueCase{"7142", "SYST:MODE", "Smart", 0, "SMART"},
                                           ValueCase{"7142", "SYST:MODE", "G", EXE, ""},
                                           ValueCase{"7185A", "SYST:MODE", "s", 0, "S"},
                                           ValueCase{"7185A", "SYST:MODE", "ASYNC", EXE, ""},
                                           ValueCase{"7187", "SYST:EMUL", "ni", 0, "NI"},
                                           ValueCase{"7181B", "SYST:PMOD", "talk only", 0, "TALK ONLY"},
                                           ValueCase{"7181B", "SYST:PMOD", "cont", 0, "CONTROLLER"},
                                           ValueCase{"7181B", "SYST:PMOD", "talk", EXE, ""},
                                           ValueCase{"7153", "SYST:COMM:SER:PAR", "even", 0, "EVEN"},
                                           ValueCase{"7153", "SYST:COMM:SER:PAR", "e", EXE, ""}));

INSTANTIATE_TEST_SUITE_P(Numbers, AcceptedValues,
                         ::testing::Values(ValueCase{"7185A", "SYST:COMM:SER:BAUD", "115200", 0, "115200"},
                                           ValueCase{"7187", "SYST:COMM:SER:BAUD", "115200", EXE, ""},
                                           ValueCase{"7142", "SYST:COMM:SER:BAUD", "19201", EXE, ""},
                                           ValueCase{"7153", "SYST:COMM:SER:BITS", "7", 0, "7"},
                                           ValueCase{"7153", "SYST:COMM:SER:BITS", "9", EXE, ""},
                                           ValueCase{"7153", "SYST:COMM:SER:SBIT", "3", EXE, ""},
                                           ValueCase{"7142", "SYST:COMM:SER:TIME", "24", EXE, ""},
                                           ValueCase{"7142", "SYST:COMM:SER:TIME", "100ms", 0, "100"},
                                           ValueCase{"7189", "SYST:COMM:GPIB:BUFS", "10", EXE, ""},
                                           ValueCase{"7189", "SYST:COMM:GPIB:BUFS", "52K", 0, "52"},
                                           ValueCase{"7153", "D", "49", EXE, ""},
                                           ValueCase{"7153", "C", "250", 0, "250"},
                                           ValueCase{"7199", "C", "0", EXE, ""},
                                           ValueCase{"7170A", "MEAS:RANGE", ".1", 0, "0.1"},
                                           ValueCase{"7170A", "MEAS:RANGE", "1.0", 0, "1"},
                                           ValueCase{"7170A", "MEAS:RANGE", "2", EXE, ""},
                                           ValueCase{"7170A", "VOLT:OFFSET", "-2.5", 0, "-2.5000"},
                                           ValueCase{"7170A", "VOLT:OFFSET", "12.34567", 0, "+12.3457"},
                                           ValueCase{"7170A", "VOLT:OFFSET", "100", EXE, ""},
                                           ValueCase{"7170A", "volt:slope", "+1.5", 0, "+1.5000"},
                                           ValueCase{"7170A", "VOLT:LIMit", "-1", EXE, ""},
                                           ValueCase{"7170A", "MEAS:AVER", "51", EXE, ""},
                                           ValueCase{"7121", "SYST:COMM:GPIB:ADDR", "31", EXE, ""},
                                           ValueCase{"7142", "SYST:COMM:GPIB:ADDR", "31", 0, "37"},
                                           ValueCase{"7185A", "SYST:COMM:SER:ADD:CHAR", "256", EXE, ""}));

INSTANTIATE_TEST_SUITE_P(Texts, AcceptedValues,
                         ::testing::Values(ValueCase{"7142", "CAL:DATE", "2/29/2024", 0, "02/29/2024"},
                                           ValueCase{"7142", "CAL:DATE", "02/29/2023", EXE, ""},
                                           ValueCase{"7153", "CAL:DATE", "13/01/2024", EXE, ""},
                                           ValueCase{"7153", "CAL:DATE", "1/1/24", EXE, ""},
                                           ValueCase{"7150", "SYST:COMM:SER:EOMchr", "0d", 0, "0D"},
                                           ValueCase{"7150", "SYST:COMM:SER:EOMchr", "#H0A", 0, "0A"},
                                           ValueCase{"7150", "SYST:COMM:SER:EOMchr", "100", EXE, ""},
                                           ValueCase{"7121", "CONF:INP", "(@1:5)", 0, "(@1:5)"},
                                           ValueCase{"7121", "CONF:INP", "(@1:6)", EXE, ""},
                                           ValueCase{"7172", "CONF:OUT", "(@1:6)", 0, "(@1:6)"},
                                           ValueCase{"7158", "CONF:OUT", "(@ 2, 4:16)", 0, "(@2,4:16)"},
                                           ValueCase{"7165B", "CONF:INP", "(@3:2)", EXE, ""},
                                           ValueCase{"7165B", "CONF:INP", "1:5", EXE, ""},
                                           ValueCase{"7121", "FORM:TALK:TRANS", "\"FEDCBA9876543210\"", 0,
                                                     "FEDCBA9876543210"},
                                           ValueCase{"7121", "FORM:TALK:TRANS", "short", EXE, ""},
                                           ValueCase{"7181A", "SYST:COMM:GPIB:IDLE", "1", CME, ""},
                                           ValueCase{"7187", "SYST:COMM:GPIB:SWAP", "CR", CME, ""}));

// Each model answers every function of its table after the start of a run, with a reply the
// program can read whole, and takes that reply back as a setting.
TEST(ModelTables, EveryModelAnswersAndTakesBackEachOfItsFunctions) {
    for (const ModelFacts& facts : knownModels()) {
        SCOPED_TRACE(facts.text);
        SimBus bench;
        ScopedBench installed(bench);
        const Driver driver = Driver::inProcess();
        SimUnit& unit = bench.addUnit(5, facts.text);
        if (unit.triggerGate())
            trigger(driver, 5);
        const std::uint16_t address =
            facts.channelAccess == ChannelAccess::SecondaryAddress ? withSecondary(5, 11) : 5;
        for (const std::string& header : unit.headers()) {
            SCOPED_TRACE(header);
            const std::string reply = driver.ask(address, header + "?");
            ASSERT_FALSE(reply.empty());
            EXPECT_LE(reply.size(), 18u);
            EXPECT_EQ(reply.back(), '\n');
            driver.send(address, header + " " + reply.substr(0, reply.size() - 1));
            EXPECT_EQ(driver.esr(address), 0);
            EXPECT_EQ(driver.ask(address, header + "?"), reply);
        }
        for (const char* common : {"*ESE", "*SRE"})
            EXPECT_EQ(driver.ask(address, std::string(common) + "?"), "0\n");
    }
}

TEST(ModelTables, ListHasTheTwentyEightModelsAndFindsBareNumbers) {
    std::set<std::string> texts;
    for (const ModelFacts& facts : knownModels())
        texts.insert(facts.text);
    EXPECT_EQ(texts.size(), 28u);
    EXPECT_EQ(knownModels().size(), 28u);
    struct Case {
        const char* asked;
        const char* found;
    };
    for (const Case c : {Case{"7134", "7134A"}, Case{"7181b", "7181B"}, Case{"7181", "7181A"},
                         Case{"7165", "7165B"}, Case{"demo", "demo"}, Case{"7199A", "7199A"}}) {
        SCOPED_TRACE(c.asked);
        const ModelFacts* facts = findModel(c.asked);
        ASSERT_NE(facts, nullptr);
        EXPECT_EQ(facts->text, c.found);
    }
    for (const char* unknown : {"7100", "7181C", "71", ""})
        EXPECT_EQ(findModel(unknown), nullptr) << unknown;
}

class Channels : public ::testing::Test {
protected:
    SimBus bench;
    ScopedBench installed{bench};
    Driver driver = Driver::inProcess();
};

TEST_F(Channels, FourChannelSerialKeepsASetPerSecondaryAddress) {
    SimUnit& unit = bench.addUnit(5, "7189");
    driver.send(withSecondary(5, 12), "SYST:COMM:SER:BAUD 19200");
    EXPECT_EQ(driver.esr(withSecondary(5, 12)), 0);
    EXPECT_EQ(unit.value("SYST:COMM:SER:BAUD", 2), "19200");
    EXPECT_EQ(unit.value("SYST:COMM:SER:BAUD", 1), "9600");
    EXPECT_EQ(driver.ask(withSecondary(5, 11), "SYST:COMM:SER:BAUD?"), "9600\n");
    EXPECT_EQ(driver.ask(withSecondary(5, 12), "SYST:COMM:SER:BAUD?"), "19200\n");

    // The address belongs to the unit: set on channel 3, every channel moves.
    driver.send(withSecondary(5, 13), "SYST:COMM:GPIB:ADDR 8");
    EXPECT_EQ(unit.primary(), 8);
    EXPECT_EQ(driver.ask(withSecondary(8, 14), "SYST:COMM:GPIB:ADDR?"), "8\n");
    driver.send(withSecondary(5, 11), "*CLS");
    EXPECT_EQ(driver.ThreadIberr(), lg::ENOL);
}

TEST_F(Channels, AnalogUnitActsOnTheChannelChosenWithC) {
    SimUnit& unit = bench.addUnit(5, "7170A");
    driver.send(5, "C  2");
    EXPECT_EQ(driver.esr(5), 0);
    driver.send(5, "VOLT:OFFSET 1.5");
    driver.send(5, "CAL:FAULT 0");
    EXPECT_EQ(unit.value("VOLT:OFFSET", 2), "+1.5000");
    EXPECT_EQ(unit.value("VOLT:OFFSET", 1), "+0.0000");
    EXPECT_EQ(unit.value("CAL:FAULT", 4), "0") << "the fault output is one for the unit";

    driver.send(5, "C 5");
    EXPECT_EQ(driver.esr(5), SimUnit::ExecutionError);
    EXPECT_EQ(unit.selectedChannel(), 2);

    driver.send(5, "CAL:LOCK ON");
    driver.send(5, "C 1");
    EXPECT_EQ(driver.esr(5), 0);
    EXPECT_EQ(driver.ask(5, "VOLT:OFFSET?"), "+0.0000\n");
    EXPECT_EQ(driver.ask(5, "C?"), "1\n");
}

TEST_F(Channels, ChannelCommandIsUnknownToOtherUnits) {
    bench.addUnit(5, "7174");
    bench.addUnit(6, "7189");
    driver.send(5, "C 2");
    EXPECT_EQ(driver.esr(5), SimUnit::CommandError);
    driver.send(withSecondary(6, 11), "C 2");
    EXPECT_EQ(driver.esr(withSecondary(6, 11)), SimUnit::CommandError);
}

TEST(TriggerGate, GatedUnitsStaySilentUntilAddressedAndTriggered) {
    for (const char* model : {"7134A", "7181A", "7181B", "7185B", "7187"}) {
        SCOPED_TRACE(model);
        SimBus bench;
        ScopedBench installed(bench);
        const Driver driver = Driver::inProcess();
        SimUnit& unit = bench.addUnit(12, model);
        bench.addUnit(13, "7174");

        driver.send(12, "SYST:EMUL NI");
        EXPECT_EQ(driver.ask(12, "SYST:EMUL?"), "");
        EXPECT_EQ(driver.ThreadIberr(), lg::EABO);
        EXPECT_EQ(unit.value("SYST:EMUL"), "KTQ") << "what it hears before the trigger is not configuration";

        driver.commands("\x08");   // nobody addressed to listen
        driver.commands("?-\x08"); // another unit triggered
        EXPECT_FALSE(unit.triggered());
        EXPECT_EQ(driver.ask(12, "SYST:EMUL?"), "");

        trigger(driver, 12);
        EXPECT_EQ(driver.ask(12, "SYST:EMUL?"), "KTQ\n");
        unit.powerCycle();
        EXPECT_EQ(driver.ask(12, "SYST:EMUL?"), "");
    }
}

TEST(TriggerGate, ListenAddressStaysUntilUnlisten) {
    SimBus bench;
    ScopedBench installed(bench);
    const Driver driver = Driver::inProcess();
    SimUnit& unit = bench.addUnit(12, "7181A");
    driver.commands(",");
    driver.commands("\x08");
    EXPECT_TRUE(unit.triggered());

    unit.powerCycle();
    driver.commands(",?\x08");
    EXPECT_FALSE(unit.triggered());
}

class DemoUnit : public ::testing::Test {
protected:
    std::unique_ptr<SimBus> bench = SimBus::fromBenchLayout("");
    ScopedBench installed{*bench};
    Driver driver = Driver::inProcess();
    SimUnit& unit = *bench->unitAt(5);
};

TEST_F(DemoUnit, AnswersEveryHeaderOfEveryModelWithoutTrigger) {
    for (const ModelFacts& facts : knownModels()) {
        SimUnit model(5, facts);
        for (const std::string& header : model.headers()) {
            SCOPED_TRACE(facts.text + " " + header);
            const std::string reply = driver.ask(5, header + "?");
            EXPECT_FALSE(reply.empty());
            EXPECT_EQ(driver.esr(5), 0);
        }
    }
}

TEST_F(DemoUnit, TakesWhatAnyModelTakes) {
    for (const char* setting : {"SYST:MODE S", "SYST:MODE SMART", "SYST:COMM:SER:BAUD 115200",
                                "FORM:TALK TABLE", "SYST:COMM:GPIB:ADDR 31", "CONF:INP (@1:16)"}) {
        SCOPED_TRACE(setting);
        driver.send(5, setting);
        EXPECT_EQ(driver.esr(5), 0);
    }
}

TEST_F(DemoUnit, ReachesChannelsBySecondaryAddressAndByC) {
    driver.send(withSecondary(5, 12), "SYST:COMM:SER:BAUD 19200");
    EXPECT_EQ(unit.value("SYST:COMM:SER:BAUD", 2), "19200");
    EXPECT_EQ(driver.ask(5, "SYST:COMM:SER:BAUD?"), "9600\n");

    driver.send(5, "C  3");
    driver.send(5, "VOLT 2");
    EXPECT_EQ(driver.esr(5), 0);
    EXPECT_EQ(unit.value("VOLT", 3), "+2.0000");
    EXPECT_EQ(driver.ask(withSecondary(5, 14), "VOLT?"), "+0.0000\n");

    // "C" is also the Modbus device address on the demo unit.
    driver.send(5, "C 17");
    EXPECT_EQ(driver.esr(5), 0);
    EXPECT_EQ(driver.ask(5, "C?"), "17\n");
    EXPECT_EQ(unit.selectedChannel(), 3);
}

TEST(Messages, NewMessageDropsAnUnreadReply) {
    SimBus bench;
    ScopedBench installed(bench);
    const Driver driver = Driver::inProcess();
    bench.addUnit(5, "7174");
    driver.send(5, "SYST:COMM:GPIB:ADDR?");
    driver.send(5, "*ESE 1");
    EXPECT_EQ(driver.receive(5), "");
    EXPECT_EQ(driver.ThreadIberr(), lg::EABO);
    EXPECT_EQ(driver.ask(5, ":SYST:COMM:GPIB:ADDR?"), "5\n");
    EXPECT_EQ(driver.esr(5), 0);
}

} // namespace
} // namespace ktq::sim::test
