// A whole configuration run driven by the fuzzer's bytes: the unit's replies, the operator's
// entries and buttons, and driver failures, in any order. Besides crashes it looks for stray
// traffic: a control byte inside a message, a bus command that is not part of the trigger, or an
// address word no unit can have.
#include "fuzzapp.h"

#include "harness.h"

#include "bus/driverbases.h"

#include "models/catalogue.h"
#include "sim/linuxgpib.h"
#include "ui/config/frmconfig.h"

#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

using ktq::fuzz::fail;

namespace {

void checkAddress(std::uint16_t word) {
    const int primary = word & 0xFF;
    const int high = word >> 8;
    if (primary > 30 || (high != 0 && (high < 0x60 || high > 0x60 + 30))) {
        fail("a transfer to an address word no unit can have");
    }
}

/// Passes everything to the simulated driver and checks what goes out.
class WireCheck final : public ktq::bus::ForwardingDriver {
public:
    using ForwardingDriver::ForwardingDriver;

    void DevClear(int board, std::uint16_t address) override {
        checkAddress(address);
        ForwardingDriver::DevClear(board, address);
    }
    void Send(int board, std::uint16_t address, const void* buffer, long count, int eotMode) override {
        checkAddress(address);
        const auto* bytes = static_cast<const unsigned char*>(buffer);
        for (long k = 0; k < count; ++k) {
            if (bytes[k] < 0x20 || bytes[k] == 0x7F) {
                fail("a control byte inside a message: the unit would read two commands");
            }
        }
        ForwardingDriver::Send(board, address, buffer, count, eotMode);
    }
    void Receive(int board, std::uint16_t address, void* buffer, long count, int termination) override {
        checkAddress(address);
        if (count != 18) {
            fail("a read of other than 18 bytes");
        }
        ForwardingDriver::Receive(board, address, buffer, count, termination);
    }
    void SendCmds(int board, const void* commands, long count) override {
        const auto* bytes = static_cast<const unsigned char*>(commands);
        for (long k = 0; k < count; ++k) {
            // Unlisten, a listen address 0..30, Group Execute Trigger: nothing else.
            if (bytes[k] != ktq::sim::lg::GET && (bytes[k] < 0x20 || bytes[k] > 0x3F)) {
                fail("a bus command outside the trigger sequence");
            }
        }
        ForwardingDriver::SendCmds(board, commands, count);
    }
};

struct Run {
    ktq::test::Bench bench;
    WireCheck wire{*bench.driver};
    ktq::bus::Gpib32 gpib{wire};
    ktq::ui::frmConfig window{ktq::ui::Session{gpib, bench.state, bench.interaction, bench.pauser}};

    QPushButton* button(const char* name) { return ktq::test::control<QPushButton>(window, name); }
    QLineEdit* edit(const char* name) { return ktq::test::control<QLineEdit>(window, name); }
};

const char* const functions[] = {"ibfind",   "ibask",    "ibsre", "ibtmo",   "SendIFC",
                                 "DevClear", "FindLstn", "Send",  "Receive", "SendCmds"};
const int codes[] = {0, 1, 2, 4, 5, 6, 7, 14, 20};
const char* const buttons[] = {"cmdSav",  "cmdLock",   "cmdSRQ",  "cmdNoSRQ",
                               "cmdRedo", "cmdNextCh", "cmdDone", "cmdSet"};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ktq::fuzz::startApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    static const QStringList models = ktq::models::modelList();
    const QString model = models.at(data[0] % models.size());
    Run run;
    run.bench.sim.addUnit(5, model.toStdString());
    run.bench.state.ModelText = model;
    run.bench.state.ModelNumber = static_cast<std::int16_t>(model.left(4).toInt());
    const ktq::models::SetupRoutine* routine = ktq::models::dispatch(run.bench.state.ModelNumber, model);
    run.window.openRun();
    // The channel dialog is answered with the fuzzer's text. It only closes on a channel it
    // takes, which the stand-in for the desktop cannot wait for: a refused entry is followed by 1.
    auto answerChannel = [&run](const QString& text) {
        run.bench.interaction.scripts.push_back([text](QDialog& dialog) {
            if (dialog.windowTitle() == QStringLiteral("Channels")) {
                auto* entry = ktq::test::control<QLineEdit>(dialog, "txtChNum");
                auto* button = ktq::test::control<QPushButton>(dialog, "cmdChSel");
                entry->setText(text);
                button->click();
                if (dialog.result() != QDialog::Accepted) {
                    entry->setText(QStringLiteral("1"));
                    button->click();
                }
            } else if (dialog.windowTitle() == QStringLiteral("NOTICE")) {
                ktq::test::control<QPushButton>(dialog, "cmdCancel")->click();
            }
        });
    };

    std::size_t pos = 1;
    for (int op = 0; op < 64 && pos + 2 <= size; ++op) {
        const int code = data[pos] % 8;
        const std::size_t length = std::min<std::size_t>(data[pos + 1], size - pos - 2);
        const char* payload = reinterpret_cast<const char*>(data + pos + 2);
        const QString text = QString::fromUtf8(payload, static_cast<qsizetype>(length));
        const unsigned char first = length > 0 ? static_cast<unsigned char>(payload[0]) : 0;
        const unsigned char second = length > 1 ? static_cast<unsigned char>(payload[1]) : 0;
        pos += 2 + length;
        switch (code) {
        case 0:
            run.bench.sim.queueReply(5, std::string(payload, length));
            break;
        case 1:
            run.edit("txtChoice")->setText(text);
            if (run.button("cmdEnter")->isEnabled()) {
                run.button("cmdEnter")->click();
            }
            break;
        case 2:
            run.edit("txtChoice")->clear();
            if (run.button("cmdEnter")->isEnabled()) {
                run.button("cmdEnter")->click();
            }
            break;
        case 3:
            answerChannel(text.right(8));
            run.edit("txtAddr")->setText(text);
            if (run.button("cmdSet")->isEnabled()) {
                run.button("cmdSet")->click();
            }
            run.bench.interaction.scripts.clear();
            break;
        case 4:
            run.bench.sim.failNext(functions[first % 10], codes[second % 9]);
            break;
        case 5:
            run.bench.sim.silence(5, (first & 1) != 0);
            break;
        case 6: {
            answerChannel(text);
            QPushButton* button = run.button(buttons[first % 8]);
            if (button->isEnabled() && button->isVisibleTo(&run.window)) {
                button->click();
            }
            run.bench.interaction.scripts.clear();
            break;
        }
        case 7:
            run.window.lstFunction_DblClick();
            break;
        }
        // The line selected after a function was shown is that function's line: it begins with a
        // prompt of the model's table.
        const auto* list = ktq::test::control<QListWidget>(run.window, "lstFunction");
        const QListWidgetItem* selected = list->currentRow() >= 0 ? list->currentItem() : nullptr;
        if (selected != nullptr && routine != nullptr &&
            std::none_of(routine->functions.begin(), routine->functions.end(),
                         [&](const ktq::models::FunctionEntry& entry) {
                             return selected->text().startsWith(QString::fromLatin1(
                                 entry.prompt.data(), static_cast<qsizetype>(entry.prompt.size())));
                         })) {
            fail("the selected line is not a function of the model's table");
        }
    }
    return 0;
}
