// Advice beside the bus error report: which rule fits a failed call, and the texts of the end of a run.
#pragma once

#include "bus/status.h"
#include "run/busstep.h"

#include <QString>

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace ktq::bus {
struct DriverPlan;
}

namespace ktq::run {

/// The failed call and what the operator chose, for the advice to name.
struct BusFailure {
    BusStep step = BusStep::FindBoard;
    bus::StatusSnapshot status{};
    std::string_view driverFamily{}; // as the driver loader names it; empty when no library loaded
    QString address{};               // as the operator types it
    QString model{};                 // the row chosen in the model list
};

/// A sentence the operator can act on after a failed driver call, shown beside the bus error
/// report, and where to see the calls that led to it.
QString busAdvice(const BusFailure& failure);
/// The sentence of the rule that fits the failed call alone; empty where none fits.
QString ruleAdvice(const BusFailure& failure);

/// One advice rule as the troubleshooting table lists it, in the order the rules are tried.
struct AdviceRuleView {
    unsigned steps = 0;        // BusStep bits
    std::string_view family{}; // as the driver loader names it; "none" without a library, empty for any
    int iberr = -1;            // -1 for any error code
    long count = -1;           // -1 for any count
    std::string_view text{};   // {address}, {model}, {libraries}, {configfile}, {noadapter} unfilled
};

std::vector<AdviceRuleView> adviceRuleViews();

/// The sentence for where no "++" adapter answered either: the ports this platform asks, and how
/// the operator names an adapter.
QString noAdapterAdvice();

/// The gpib.conf that linux-gpib reads, as far as the program can tell: the file IB_CONFIG names,
/// else both places a linux-gpib library is usually built to read.
QString linuxGpibConfigurationFile();

/// Where the README and the other docs are installed for a program in `programFolder`: on
/// Windows that folder itself; elsewhere share/doc/ktqconfig beside the program's bin folder.
QString documentationFolder(const QString& programFolder);

/// The README as the advice names it: in the documentation folder of a program in
/// `programFolder` where it is there, else where the Debian package installs it.
QString readmePlace(const QString& programFolder);

/// Said when the main window opens: what Configure will use, as the program learnt it at start.
QString startAdvice(const bus::DriverPlan& plan, std::string_view driverFamily);

/// Said once the search found a single unit, whose address the address box now holds.
QString singleListenerAdvice(std::int16_t address, const QString& model);

/// Said once the search found nobody; `behindSecondaries` for a unit whose channels listen
/// only at secondary addresses, which a search need not list.
QString noListenerAdvice(const QString& model, bool behindSecondaries);

/// Said after "Error - retry": the unit refused the value for the function with that prompt.
QString refusedValueAdvice(const QString& address, const QString& value, const QString& prompt);

/// Said once a run's first two queries both went unanswered.
QString silentUnitAdvice(const QString& address, const QString& model);

/// The end-of-run commands and what they leave in the unit.
enum class StoreAction { SaveSettings, LockSettings, KeepStatusEnables, ClearStatusEnables };

/// What the status line says after an end-of-run command went out, or failed.
QString storeOutcome(StoreAction action, const QString& address, bool succeeded);

/// An address word as the operator types it: the primary address, or primary x 100 + secondary.
std::int16_t addressEntry(std::int16_t word);

/// The listeners a search found, in entry form and in the order found: "5, 9, 911".
QString addressListText(std::span<const std::int16_t> words);

/// Said after a search that found several listeners: where they are, as the address box takes
/// them, and what to do.
QString listenersAdvice(std::span<const std::int16_t> words);

} // namespace ktq::run
