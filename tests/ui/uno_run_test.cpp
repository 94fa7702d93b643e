// The program on the real AR488 firmware: ktqsim-uno runs it on an emulated Arduino Uno whose
// serial port the program opens as it opens a user's /dev/ttyACM0, named by KTQ_GPIB_ADAPTER.
// Each run starts from a fresh board: the program's opening resets it and its bootloader takes
// the first second, as on a real Uno. The firmware's EEPROM is watched throughout.
#include "walk.h"

#include "bus/adapter/adapterfinder.h"
#include "bus/driverbases.h"
#include "models/catalogue.h"
#include "unoprocess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <tuple>

namespace ktq::test {
namespace {

// The tool, and a run through the program's own way to the adapter KTQ_GPIB_ADAPTER names: no
// board, the system's serial port. `owners` the board's owner sent at a terminal before.
struct OnUno {
    OnUno(const UnoFirmware& firmware, const std::string& bench, const Lines& owners = {})
        : uno(firmware, {}, bench), ownersWrites(owners.empty() ? 0 : uno.ownersSetUp(owners)),
          run(std::make_unique<bus::AdapterFinder>(std::make_unique<bus::FailingDriver>(),
                                                   bus::makeSystemLinkOpener(),
                                                   bus::AdapterSearch{uno.path(), true}, log)) {}
    UnoProcess uno;
    int ownersWrites;
    std::ostringstream log;
    ConfigRun run;
};

Lines from(const Lines& lines, std::size_t first) {
    return Lines(lines.begin() + static_cast<long>(std::min(first, lines.size())), lines.end());
}

// A dialogue after the bring-up's last setting, the timeout, and its answers (before it, the
// firmware's start decides how much of the first exchange the bootloader took): the host's lines
// and everything that came back, line ends left out, as where one answer ends and the next
// begins depends on when the trace saw the line fall quiet.
struct Dialogue {
    Lines sent;
    std::string answers;
};

Dialogue heard(const Lines& dialogue) {
    auto at = std::ranges::find_if(
        dialogue, [](const std::string& line) { return line.starts_with("> ++read_tmo_ms 3000"); });
    Dialogue d;
    for (at += at != dialogue.end(); at != dialogue.end(); ++at) {
        if (at->starts_with("> ")) {
            d.sent.push_back(*at);
        } else if (at->starts_with("< ") && !d.sent.empty()) {
            d.answers += at->substr(2);
        }
    }
    for (auto end = d.answers.find("\\r\\n"); end != std::string::npos; end = d.answers.find("\\r\\n"))
        d.answers.erase(end, 4);
    return d;
}

class UnoCatalogue : public UnoTest<std::tuple<int, std::size_t>> {};

// Every table through the real firmware, against the same walk on a board and through the
// emulation that follows the firmware: the same data bytes on the wire as on the board and the
// same lines shown; once the driver is up, the emulation's dialogue on the serial line and its
// events on the bus; and the firmware's EEPROM never written.
TEST_P(UnoCatalogue, WalksTheTableAsOnABoardAndAsItsEmulationDoes) {
    const QString model = models::modelList().at(std::get<0>(GetParam()));
    const UnoFirmware& side = unoFirmwares().at(std::get<1>(GetParam()));
    ConfigRun board;
    const Walk onBoard = walkTable(board, model, side.eoiOnWire);
    const auto emulatedSide = std::ranges::find(adapterSides(), side.emulated, &AdapterSide::name);
    ASSERT_NE(emulatedSide, adapterSides().end()) << side.emulated;
    ConfigRun emulated(*emulatedSide);
    emulated.bench.sim.addUnit(5, model.toStdString());
    emulated.bench.sim.wire().setEventLog(true);
    walkWindow(emulated, model, [] {});
    emulated.bench.sim.wire().flushEvents();

    OnUno on(side, "5=" + model.toStdString());
    const std::size_t up = on.uno.busEvents().size();
    std::size_t searched = 0;
    const QStringList shown = walkWindow(on.run, model, [&] { searched = on.uno.busEvents().size(); });
    const bool reported = !on.run.box("txtGPIBErr")->isHidden();
    on.uno.stop();
    const Lines data = dataOf(from(on.uno.busEvents(), searched), side.eoiOnWire);
    const Dialogue onFirmware = heard(on.uno.dialogueLines());
    const Dialogue onEmulation = heard(emulated.bench.adapter->dialogue());
    EXPECT_EQ(onFirmware.sent, onEmulation.sent);
    EXPECT_EQ(onFirmware.answers, onEmulation.answers);
    EXPECT_EQ(from(on.uno.busEvents(), up), emulated.bench.sim.wire().events());

    EXPECT_EQ(on.uno.eepromWrites(), 0);
    // A 7189's channels answer behind secondary addresses; where the firmware cannot send them,
    // the clear is refused and reported, and nothing reaches another address instead.
    const bool refused = !side.secondaryAddresses && model == QStringLiteral("7189");
    EXPECT_EQ(reported, refused) << on.run.box("txtGPIBErr")->text().toStdString();
    if (refused) {
        EXPECT_TRUE(data.empty()) << testing::PrintToString(data);
        return;
    }
    EXPECT_EQ(data, onBoard.data);
    EXPECT_EQ(shown, onBoard.shown);
}

INSTANTIATE_TEST_SUITE_P(EveryModel, UnoCatalogue,
                         testing::Combine(testing::Range(0, static_cast<int>(models::modelList().size())),
                                          testing::Range<std::size_t>(0, unoFirmwares().size())),
                         [](const testing::TestParamInfo<std::tuple<int, std::size_t>>& info) {
                             return "Model" + models::modelList().at(std::get<0>(info.param)).toStdString() +
                                    "_" + unoFirmwares().at(std::get<1>(info.param)).name;
                         });

using UnoBus = UnoTest<>;

// Where the unit stands on the bus, what the search through the firmware proposes, and the first
// function line once its address is set (a 7189's after the channel dialog).
TEST_P(UnoBus, TheSearchAndTheFirstLineWhereverTheUnitStands) {
    const struct {
        const char* bench;
        const char* model;
        const char* box;      // the search's box
        const char* proposed; // the address it proposes
        const char* typed;    // what the operator sets
    } cases[] = {
        {"1=7174", "7174", "Found a single device", " 1", "1"},
        {"30=7174", "7174", "Found a single device", " 30", "30"},
        {"17=7121", "7121", "Found a single device", " 17", "17"},
        {";", "7174", "WARNING - No devices found", "", "5"},
        {"5=7189", "7189", "WARNING - No devices found", "", "5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bench);
        OnUno on(firmware(), c.bench);
        ConfigRun& run = on.run;
        if (std::string(c.model) == "7189")
            run.bench.interaction.scripts.push_back(answerChannel(QStringLiteral("1")));
        run.open(QString::fromLatin1(c.model));
        ASSERT_EQ(run.bench.interaction.boxes.size(), 1u);
        EXPECT_EQ(run.bench.interaction.boxes[0].title, QString::fromLatin1(c.box));
        EXPECT_EQ(control<QLineEdit>(*run.window, "txtAddr")->text(), QString::fromLatin1(c.proposed));
        run.setAddress(QString::fromLatin1(c.typed));
        // Refused and reported where nobody answers at 5, or the channel is behind a secondary
        // address this firmware cannot send; no line shown then, and a first line otherwise.
        const bool nobody = std::string(c.bench) == ";";
        const bool refused = nobody || (std::string(c.model) == "7189" && !firmware().secondaryAddresses);
        EXPECT_EQ(!run.box("txtGPIBErr")->isHidden(), refused) << run.box("txtGPIBErr")->text().toStdString();
        if (!nobody) {
            EXPECT_EQ(run.lines().isEmpty(), refused);
        }
        EXPECT_EQ(on.uno.eepromWrites(), 0);
    }
}

// The owner set the firmware's version text to look like a Prologix's and saved it: the program
// still knows the firmware, names it, and never writes its EEPROM over a whole run.
TEST_P(UnoBus, AVersionTextLikeAPrologixsLeavesTheEepromAlone) {
    OnUno on(firmware(), "5=7174", {"++id verstr Prologix GPIB-USB Controller version 6.107", "++savecfg"});
    ASSERT_GT(on.ownersWrites, 0) << "the owner's ++savecfg wrote the EEPROM";
    const QStringList shown = walkWindow(on.run, QStringLiteral("7174"), [] {});
    on.uno.stop();
    EXPECT_EQ(on.uno.eepromWrites(), on.ownersWrites);
    EXPECT_EQ(shown.size(), 3);
    EXPECT_NE(on.log.str().find("AR488"), std::string::npos) << on.log.str();
    EXPECT_EQ(on.uno.dialogue().find("++savecfg"), on.uno.dialogue().rfind("++savecfg"))
        << "the owner's alone";
}

INSTANTIATE_TEST_SUITE_P(Firmware, UnoBus, testing::Range<std::size_t>(0, unoFirmwares().size()),
                         unoFirmwareName);

} // namespace
} // namespace ktq::test
