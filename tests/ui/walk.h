// One model walked through its table at address 5, as the tests of every way to the bus walk it.
#pragma once

#include "configrun.h"

#include <functional>
#include <string>
#include <vector>

namespace ktq::test {

using Lines = std::vector<std::string>;

// What the units received and sent. The command bytes are left out on purpose: an adapter names
// the listener again before each message, reads with the controller made listener its own way,
// and polls where a board searches, so only data, replies and timeouts have to agree. Where the
// adapter pulses EOI on its own after the last byte (which the wire's events do not show), EOI
// is left out of the data too.
inline Lines dataOf(const Lines& events, bool withEoi = true) {
    Lines data;
    for (std::string e : events) {
        if (!withEoi && e.starts_with("WRITE ") && e.ends_with(" EOI"))
            e.resize(e.size() - 4);
        if (e.starts_with("WRITE ") || e.starts_with("READ ") || e.starts_with("TIMEOUT "))
            data.push_back(std::move(e));
    }
    return data;
}

struct Walk {
    Lines data;
    QStringList shown;
    int saves = 0;
};

// The model at 5: Set Address, Enter on every function of the (first) table, Save where offered;
// the parallel units' notice cancelled, and channel 1 taken where a model asks for a channel.
// `searched` runs once the window has loaded and searched the bus, before Set Address.
inline QStringList walkWindow(ConfigRun& run, const QString& model, const std::function<void()>& searched) {
    for (int k = 0; k < 4; ++k)
        run.bench.interaction.scripts.push_back([](QDialog& dialog) {
            if (dialog.windowTitle() == QStringLiteral("NOTICE"))
                control<QPushButton>(dialog, "cmdCancel")->click();
            else
                answerChannel(QStringLiteral("1"))(dialog);
        });
    run.open(model);
    searched();
    run.setAddress(QStringLiteral("5"));
    for (int guard = 0; guard < 30 && run.button("cmdEnter")->isEnabled(); ++guard)
        run.enter();
    if (run.button("cmdSav")->isEnabled())
        run.button("cmdSav")->click();
    return run.lines();
}

// The model at 5, walked as every way to the bus walks it, with the unit on the bench.
inline Walk walkTable(ConfigRun& run, const QString& model, bool withEoi = true) {
    sim::SimUnit& unit = run.bench.sim.addUnit(5, model.toStdString());
    const QStringList shown = walkWindow(run, model, [&run] { run.bench.sim.wire().setEventLog(true); });
    run.bench.sim.wire().flushEvents();
    return Walk{dataOf(run.bench.sim.wire().events(), withEoi), shown, unit.saveCount()};
}

} // namespace ktq::test
