// Discovery and addressing in the configuration window, per driver family.
#include "bus/calltext.h"
#include "bus/driverbus.h"
#include "configrun.h"

#include "bus/driverbases.h"
#include "bus/gpibconstants.h"
#include "ui/dialogs/statusline.h"

#include <gtest/gtest.h>

namespace ktq::test {
namespace {

using Wire = std::vector<std::string>;

TEST(Discovery, FindsNothingOneOrSeveralAndSaysSoInOneBox) {
    const struct {
        std::vector<int> units;
        const char* title;
        const char* text;
        int beeps;
        const char* proposed;
        const char* listed = ""; // added after the box's own text
    } cases[] = {
        {{},
         "WARNING - No devices found",
         "Check bus for an active GPIB device and manually enter its GPIB address or restart this program",
         0,
         ""},
        {{9},
         "Found a single device",
         "FindLstn found a device at address 9, Please confirm or change device address before pressing the "
         "SET "
         "ADDRESS button",
         0,
         " 9"},
        {{3, 7, 12},
         "CAUTION - Found multiple devices",
         "FindLstn found 3 devices, Check bus connections and manually enter device GPIB address",
         1,
         "",
         "\n\nListeners found at addresses: 3, 7, 12"},
    };
    for (const auto& c : cases) {
        ConfigRun run;
        for (int address : c.units) {
            run.bench.sim.addUnit(address, "7174");
        }
        run.open(QStringLiteral("7174"));
        ASSERT_EQ(run.bench.interaction.boxes.size(), 1u) << c.title;
        EXPECT_EQ(run.bench.interaction.boxes[0].title, QString::fromLatin1(c.title));
        EXPECT_EQ(run.bench.interaction.boxes[0].text, QString::fromLatin1(c.text) + QLatin1String(c.listed));
        EXPECT_EQ(run.bench.interaction.beeps, c.beeps) << c.title;
        EXPECT_EQ(control<QLineEdit>(*run.window, "txtAddr")->text(), QString::fromLatin1(c.proposed));
        const auto calls = run.bench.calls();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(
            calls[0].rfind("FindLstn(0, [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, "
                           "20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30], 32)",
                           0),
            0u)
            << calls[0];
    }
}

// linux-gpib's FindLstn never reports a listener found only behind secondary addresses: a 7189
// alone is not found, and the operator types its address.
TEST(Discovery, AUnitListeningOnlyBehindSecondaryAddressesIsNotFoundButCanBeTyped) {
    ConfigRun run;
    run.bench.sim.addUnit(5, "7189"); // listens on 511 to 514 only
    run.open(QStringLiteral("7189"));
    ASSERT_EQ(run.bench.interaction.boxes.size(), 1u);
    EXPECT_EQ(run.bench.interaction.boxes[0].title, QStringLiteral("WARNING - No devices found"));
    EXPECT_TRUE(control<QLineEdit>(*run.window, "txtAddr")->text().isEmpty());

    run.bench.interaction.scripts.push_back(answerChannel(QStringLiteral("1")));
    run.setAddress(QStringLiteral("5"));
    EXPECT_TRUE(run.box("txtGPIBErr")->isHidden());
    EXPECT_EQ(run.lines().size(), 1);
    EXPECT_EQ(run.bench.sim.unitAt(5)->messages().back(), "SYST:COMM:GPIB:ADDR?");
}

// The search is the driver's: NI's reports a unit listening only behind secondary addresses as
// its channels, which the window lists in the box and keeps on the status line once the box is
// closed; linux-gpib's finds nothing there, and the status line says to type the address.
// In-process, whatever the route of the other tests.
TEST(Discovery, EachDriverFamilySearchesAsItsDriverDoes) {
    const struct {
        sim::DriverFamily family;
        const bus::DriverConstants& constants;
        const char* title;
        const char* listed;   // after the box's own text
        const char* guidance; // the status line afterwards
    } cases[] = {
        {sim::DriverFamily::LinuxGpib, bus::linuxGpibConstants(), "WARNING - No devices found", "",
         "A 7189 listens only at its channels' secondary addresses, which not every driver's search "
         "lists: type the unit's address (0 to 30) and press Set Address; the channel dialog follows."},
        {sim::DriverFamily::Ni, bus::niGpibConstants(), "CAUTION - Found multiple devices",
         "FindLstn found 4 devices, Check bus connections and manually enter device GPIB address"
         "\n\nListeners found at addresses: 911, 912, 913, 914",
         "Listeners answered at addresses 911, 912, 913, 914: type the address of the unit to configure "
         "and press Set Address."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.constants.family);
        Bench bench;
        bench.sim.setDriverFamily(c.family);
        bench.sim.addUnit(9, "7189"); // listens on 911 to 914 only
        std::string missing;
        // The bench's C functions under NI's name for ibfind too.
        const auto resolve = [](const char* name) {
            return sim::resolveSymbol(std::string_view(name) == "ibfindA" ? "ibfind" : name);
        };
        const auto driver = bus::makeResolvedDriver(resolve, c.constants, missing);
        ASSERT_NE(driver, nullptr) << missing;
        bus::Gpib32 gpib(*driver);
        bus::DriverBus messages(gpib);
        ui::frmConfig window(bench.session(messages));
        bench.state.ModelText = QStringLiteral("7189");
        bench.state.ModelNumber = 7189;
        window.openRun();

        ASSERT_EQ(bench.interaction.boxes.size(), 1u);
        EXPECT_EQ(bench.interaction.boxes[0].title, QString::fromLatin1(c.title));
        if (*c.listed != '\0') {
            EXPECT_EQ(bench.interaction.boxes[0].text, QString::fromLatin1(c.listed));
        }
        EXPECT_TRUE(control<QLineEdit>(window, "txtAddr")->text().isEmpty());
        EXPECT_EQ(control<ui::StatusLine>(window, "statusLine")->text(), QString::fromLatin1(c.guidance));
    }
}

// A driver whose search finds exactly the given address words; every other call succeeds. The
// calls that return nothing stay the base's, which reach no bus: the status reads here tell success.
class ListenerDriver final : public bus::FailingDriver {
public:
    explicit ListenerDriver(std::vector<std::uint16_t> found, int iberr = 0)
        : FailingDriver("linux-gpib"), m_found(std::move(found)), m_iberr(iberr) {}
    int ibfind(const char*) override { return 0; }
    int ibask(int, int, int*) override { return 0; }
    int ibsre(int, int) override { return 0; }
    int ibtmo(int, int) override { return 0; }
    int ibonl(int, int) override { return 0; }
    void FindLstn(int, const std::uint16_t*, std::uint16_t* result, int limit) override {
        m_count = std::min<int>(limit, static_cast<int>(m_found.size()));
        std::copy_n(m_found.begin(), m_count, result);
    }
    int ThreadIbsta() override { return m_iberr != 0 ? 0x8100 : 0x0100; }
    int ThreadIberr() override { return m_iberr; }
    int ThreadIbcnt() override { return m_count; }
    long ThreadIbcntl() override { return m_count; }

private:
    std::vector<std::uint16_t> m_found;
    int m_iberr = 0;
    int m_count = 0;
};

TEST(Discovery, ProposesASingleDeviceBehindASecondaryAddressInEntryForm) {
    Bench bench;
    ListenerDriver driver({5 + 256 * (2 + 96)});
    bus::Gpib32 gpib(driver);
    bus::DriverBus messages(gpib);
    ui::frmConfig window(bench.session(messages));
    bench.state.ModelText = QStringLiteral("7174");
    window.openRun();
    ASSERT_EQ(bench.interaction.boxes.size(), 1u);
    EXPECT_EQ(bench.interaction.boxes[0].text,
              QStringLiteral(
                  "FindLstn found a device at address 502, Please confirm or change device address before "
                  "pressing the SET ADDRESS button"));
    EXPECT_EQ(control<QLineEdit>(window, "txtAddr")->text(), QStringLiteral(" 502"));
}

// Only a driver can report more listeners than the table holds: 30 candidate addresses never fill
// it on a real bus.
TEST(Discovery, MoreListenersThanTheLimitAreNotAFailure) {
    Bench bench;
    ListenerDriver driver(std::vector<std::uint16_t>(33, 7), bus::ni::ETAB);
    bus::Gpib32 gpib(driver);
    bus::DriverBus messages(gpib);
    ui::frmConfig window(bench.session(messages));
    bench.state.ModelText = QStringLiteral("7174");
    window.openRun();
    EXPECT_TRUE(control<ui::MessageLine>(window, "txtGPIBErr")->isHidden());
    // The first 32 of the driver's listeners are named, as the operator would type them.
    const QStringList listed(32, QStringLiteral("7"));
    ASSERT_EQ(bench.interaction.boxes.size(), 1u);
    EXPECT_EQ(bench.interaction.boxes[0].text,
              QStringLiteral(
                  "FindLstn found 32 devices, Check bus connections and manually enter device GPIB address") +
                  QStringLiteral("\n\nListeners found at addresses: ") + listed.join(QStringLiteral(", ")));
}

TEST(Discovery, ASystemErrorIsReportedAndNothingIsProposed) {
    ConfigRun run;
    run.bench.sim.addUnit(5, "7174");
    run.bench.sim.failNext("FindLstn", bus::ni::EDVR);
    run.open(QStringLiteral("7174"));
    EXPECT_FALSE(run.box("txtGPIBErr")->isHidden());
    EXPECT_EQ(
        run.box("txtGPIBErr")->text(),
        QStringLiteral(
            "FindLstn error,  ibsta = &H8000 <  ERR  >, iberr =  0 EDVR <Op System Error>, ibcnt =  0"));
    EXPECT_EQ(run.bench.interaction.boxes.at(0).title, QStringLiteral("WARNING - No devices found"));
    EXPECT_TRUE(control<QLineEdit>(*run.window, "txtAddr")->text().isEmpty());
}

TEST(Discovery, ASecondRunThatFindsNothingDoesNotProposeTheFirstRunsDevice) {
    ConfigRun run;
    run.bench.sim.addUnit(9, "7174");
    run.open(QStringLiteral("7174"));
    ASSERT_EQ(control<QLineEdit>(*run.window, "txtAddr")->text(), QStringLiteral(" 9"));
    run.bench.sim.removeUnit(9);
    run.open(QStringLiteral("7174"));
    EXPECT_EQ(run.bench.interaction.boxes.back().title, QStringLiteral("WARNING - No devices found"));
    EXPECT_TRUE(control<QLineEdit>(*run.window, "txtAddr")->text().isEmpty());
}

struct EntryCase {
    const char* entry;
    int deviceClear; // -1: refused
    int primary;
    int secondary;
};

class AddressEntryForms : public testing::TestWithParam<EntryCase> {};

TEST_P(AddressEntryForms, ChecksTheEntryAndClearsTheAddressedDevice) {
    const EntryCase c = GetParam();
    ConfigRun run;
    run.open(QStringLiteral("7174"));
    run.bench.state.SecondaryAddress = -7; // to see whether the entry set it
    const auto before = run.mark();
    const int beeps = run.bench.interaction.beeps;
    run.setAddress(QString::fromLatin1(c.entry));
    const auto calls = run.bench.calls(before);
    if (c.deviceClear < 0) {
        EXPECT_EQ(calls, std::vector<std::string>{"beep"}) << "nothing is sent";
        EXPECT_EQ(run.bench.interaction.beeps, beeps + 1);
        EXPECT_EQ(run.box("txtErrMsg")->text(), QStringLiteral("Address out of range, re-enter"));
        EXPECT_FALSE(run.box("txtErrMsg")->isHidden());
        EXPECT_EQ(control<QLineEdit>(*run.window, "txtAddr")->text(), QString::fromLatin1(c.entry));
        return;
    }
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "SendIFC(0)");
    // The trace prints the word as the operator types the address: 25093 as 502.
    EXPECT_EQ(calls[1], "DevClear(0, " + bus::addressText(static_cast<std::uint16_t>(c.deviceClear)) + ")");
    EXPECT_TRUE(run.box("txtErrMsg")->isHidden());
    EXPECT_EQ(run.bench.state.PrimaryAddress, c.primary);
    EXPECT_EQ(run.bench.state.SecondaryAddress, c.secondary);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, AddressEntryForms,
    testing::Values(EntryCase{"7", 7, 7, -7}, EntryCase{"30", 30, 30, -7}, EntryCase{"31", -1, 0, 0},
                    EntryCase{"99", -1, 0, 0}, EntryCase{"100", 0x6001, 1, 0}, EntryCase{"502", 25093, 5, 2},
                    EntryCase{"2930", 32285, 29, 30}, EntryCase{"3000", -1, 0, 0}, EntryCase{"", 0, 0, -7},
                    EntryCase{"abc", 0, 0, -7}, EntryCase{" 5", 5, 5, -7}, EntryCase{"5.5", 6, 6, -7},
                    EntryCase{"6.5", 6, 6, -7}, EntryCase{"-5", -1, 0, 0}, EntryCase{"-1", -1, 0, 0},
                    EntryCase{"531", -1, 0, 0}, EntryCase{"70000", -1, 0, 0}, EntryCase{"32768", -1, 0, 0},
                    EntryCase{"1e3", 1, 1, -7}));

TEST(SetAddress, AFailedDeviceClearStaysInAddressEntry) {
    ConfigRun run;
    run.open(QStringLiteral("7174"));
    run.bench.sim.failNext("DevClear", bus::ni::ENOL);
    run.setAddress(QStringLiteral("12"));
    EXPECT_FALSE(run.box("txtGPIBErr")->isHidden());
    EXPECT_TRUE(run.box("txtGPIBErr")
                    ->text()
                    .startsWith(QStringLiteral("DevClear Error,  ibsta = &H8000 <  ERR  >, "
                                               "iberr =  2 ENOL <No Listener>")));
    EXPECT_FALSE(run.button("cmdEnter")->isEnabled());
    EXPECT_TRUE(run.lines().isEmpty());
    EXPECT_EQ(run.bench.state.DeviceAddress, 12);
}

TEST(SetAddress, Model7189ChoosesTheChannelBeforeClearingItsSecondaryAddress) {
    ConfigRun run;
    run.bench.sim.addUnit(5, "7189");
    run.open(QStringLiteral("7189"));
    run.bench.interaction.scripts.push_back(answerChannel(QStringLiteral("3")));
    const auto before = run.mark();
    run.setAddress(QStringLiteral("5"));
    const auto calls = run.bench.calls(before);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0], "modal Channels");
    EXPECT_EQ(calls[1], "SendIFC(0)");
    EXPECT_EQ(calls[2], "DevClear(0, 513)");
    EXPECT_EQ(run.bench.state.SecondaryAddress, 13);
    EXPECT_EQ(control<QLineEdit>(*run.window, "txtChNum")->text(), QStringLiteral("Configuring channel # 3"));
    EXPECT_FALSE(control<QLineEdit>(*run.window, "txtChNum")->isHidden());
    EXPECT_EQ(run.bench.calls(before).at(3).rfind("Send(0, 513, \"SYST:COMM:GPIB:ADDR?\"", 0), 0u);
}

TEST(SetAddress, Model7170IsToldItsChannelAfterTheClear) {
    ConfigRun run;
    run.bench.sim.addUnit(5, "7170A");
    run.open(QStringLiteral("7170A"));
    run.bench.interaction.scripts.push_back(answerChannel(QStringLiteral("2")));
    const auto before = run.mark();
    run.setAddress(QStringLiteral("5"));
    const Wire expected = {"SendIFC(0)",   "DevClear(0, 5)", "modal Channels",        "> C  2",
                           "> CAL:LOCK 0", "> *CLS",         "> SYST:COMM:GPIB:ADDR?"};
    Wire wire = run.bench.wire(before);
    ASSERT_GE(wire.size(), expected.size());
    wire.resize(expected.size());
    EXPECT_EQ(wire, expected);
    EXPECT_EQ(run.bench.sim.unitAt(5)->selectedChannel(), 2);
}

TEST(SetAddress, Model7170GetsNoChannelDialogAfterAFailedClear) {
    ConfigRun failing;
    failing.open(QStringLiteral("7170A"));
    failing.bench.sim.failNext("DevClear", bus::ni::ENOL);
    failing.setAddress(QStringLiteral("5"));
    EXPECT_TRUE(failing.bench.interaction.modals.empty()) << "no channel dialog after a failed clear";
}

// Device clear is commands only: nobody has to answer it, so an address nobody listens at shows
// only when the first query goes unanswered.
TEST(SetAddress, AnAddressNobodyListensAtShowsWhenTheFirstQueryTimesOut) {
    ConfigRun run;
    run.open(QStringLiteral("7174"));
    run.setAddress(QStringLiteral("12"));
    EXPECT_TRUE(run.box("txtGPIBErr")->text().startsWith(QStringLiteral("Receive Error,")))
        << run.box("txtGPIBErr")->text().toStdString();
    EXPECT_TRUE(run.box("txtGPIBErr")->text().contains(QStringLiteral("EABO")));
    EXPECT_EQ(run.lines().size(), 1);
}

TEST(SetAddress, AModelWithoutATableClosesTheWindow) {
    ConfigRun run;
    run.bench.sim.addUnit(5, "7174");
    run.open(QStringLiteral("7122"));
    const auto before = run.mark();
    run.setAddress(QStringLiteral("5"));
    EXPECT_EQ(run.box("txtErrMsg")->text(), QStringLiteral("Bad Model Number, Configuration halted"));
    EXPECT_EQ(run.bench.wire(before), (Wire{"SendIFC(0)", "DevClear(0, 5)", "pause 200"}));
    EXPECT_EQ(run.closed.count(), 1);
}

} // namespace
} // namespace ktq::test
