// A configuration window on a simulated bench, for the window tests.
#pragma once

#include "harness.h"

#include "ui/config/frmconfig.h"
#include "ui/dialogs/trafficopener.h"

#include <QSignalSpy>

#include <stdexcept>

#include <memory>
#include <utility>

namespace ktq::test {

/// A configuration window on a simulated bench, opened as the main window opens it.
struct ConfigRun {
    ConfigRun() = default;
    /// Through an emulated adapter (an AdapterSide) or a driver of the program's own, brought up
    /// as the main window brings up a driver.
    template <typename Way> explicit ConfigRun(Way&& way) : bench(std::forward<Way>(way)) {
        if (!bench.bringUp())
            throw std::runtime_error("the driver was not brought up");
    }

    Bench bench;
    ui::BusTrafficOpener traffic{bench.gpib.traffic(), bench.interaction};
    std::unique_ptr<ui::frmConfig> window =
        std::make_unique<ui::frmConfig>(bench.session(), nullptr, &traffic);
    QSignalSpy closed{window.get(), &QDialog::finished};

    // Chooses the model as the main window would and runs the window's load.
    void open(const QString& modelText) {
        bench.state.ModelText = modelText;
        bench.state.ModelNumber = static_cast<std::int16_t>(modelText.left(4).toInt());
        window->openRun();
    }
    void setAddress(const QString& entry) {
        control<QLineEdit>(*window, "txtAddr")->setText(entry);
        control<QPushButton>(*window, "cmdSet")->click();
    }
    void enter(const QString& value = {}) {
        control<QLineEdit>(*window, "txtChoice")->setText(value);
        control<QPushButton>(*window, "cmdEnter")->click();
    }
    // Enter or Advance on an empty box, `times` times.
    void advance(int times) {
        for (int k = 0; k < times; ++k) {
            enter();
        }
    }
    QStringList lines() const {
        QStringList out;
        auto* list = control<QListWidget>(*window, "lstFunction");
        for (int k = 0; k < list->count(); ++k) {
            out << list->item(k)->text();
        }
        return out;
    }
    QPushButton* button(const char* name) const { return control<QPushButton>(*window, name); }
    ui::MessageLine* box(const char* name) const { return control<ui::MessageLine>(*window, name); }
    std::size_t mark() const { return bench.sim.trace().size(); }
    // Presses Done: true when the window closed at once, as it does once the settings were saved
    // or leaving without saving was confirmed; false when it asked first.
    bool leavesAtOnce() {
        const auto closedBefore = closed.count();
        button("cmdDone")->click();
        return closed.count() > closedBefore;
    }
};

// A 7174 at address 5 walked to the end of its list.
struct FinishedRun : ConfigRun {
    FinishedRun() {
        bench.sim.addUnit(5, "7174");
        open(QStringLiteral("7174"));
        setAddress(QStringLiteral("5"));
        advance(3);
    }
    bool enabled(const char* name) const { return button(name)->isEnabled(); }
};

// A function line as the window shows it: the prompt, blanks to column 36, the setting.
inline QString line(const QString& prompt, const QString& setting) {
    const qsizetype pad = prompt.size() < 34 ? 35 - prompt.size() : 1;
    return prompt + QString(pad, u' ') + setting;
}

} // namespace ktq::test
