// A configuration run on the simulated bench with chosen driver calls made to fail.
#pragma once

#include "harness.h"

#include "bus/driverbases.h"
#include "ui/config/frmconfig.h"
#include "ui/main/frmmain.h"

#include <QSignalSpy>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace ktq::test {

/// An error code the driver can leave in iberr, with the words the bus error report gives it.
struct DriverError {
    int iberr;
    const char* name;
    const char* text; // what the report puts after the number
};

/// The codes a driver call of this program can fail with.
const std::vector<DriverError>& driverErrors();
inline void PrintTo(const DriverError& error, std::ostream* os) {
    *os << error.name;
}

/// The report line for `message` after a failed call with `iberr` and a count of 0, written out
/// the way the operator reads it.
QString expectedReport(const QString& message, int iberr, long ibcnt = 0, const char* status = nullptr);

/// A Receive nobody answered, as the bus reports it: ERR and TIMO beside the board's state,
/// listening in standby.
inline constexpr const char* unansweredReceive = "&HC124 <  ERR TIMO CMPL CIC LACS  >";

/// Passes every call on to the simulated driver and makes one chosen call fail: the nth call of a
/// driver function counted from arm(). The failure goes through the bench's own failNext, so
/// the status and the trace line are the bench's. It can also answer one Receive with nothing
/// at all (END, no byte), which the bench cannot queue.
class FaultInjector final : public bus::ForwardingDriver {
public:
    FaultInjector(bus::GpibDriver& inner, sim::SimBus& bench) : ForwardingDriver(inner), m_bench(bench) {}

    void arm(std::string function, int nth, int iberr);
    bool fired() const { return m_fired; }
    // The nth Receive from now on gets no byte at all.
    void answerEmpty(int nth) { m_emptyIn = nth; }

    void Receive(int board, std::uint16_t address, void* buffer, long count, int termination) override;
    int ThreadIbsta() override;
    int ThreadIberr() override;
    int ThreadIbcnt() override;
    long ThreadIbcntl() override;

private:
    void beforeCall(const char* function) override;

    sim::SimBus& m_bench;
    std::string m_function;
    int m_nth = 0;
    int m_seen = 0;
    int m_iberr = 0;
    bool m_armed = false;
    bool m_fired = false;
    int m_emptyIn = 0;
    bool m_faked = false; // the status reads describe a Receive answered here
};

/// A configuration window on a simulated bench whose driver calls pass the injector.
struct FaultRun {
    Bench bench;
    FaultInjector injector{*bench.driver, bench.sim};
    bus::Gpib32 gpib{injector};
    bus::DriverBus messages{gpib};
    std::unique_ptr<ui::frmConfig> window = std::make_unique<ui::frmConfig>(bench.session(messages));
    QSignalSpy closed{window.get(), &QDialog::finished};

    void open(const QString& modelText);
    void setAddress(const QString& entry);
    void enter(const QString& value = {});
    void advance(int times);
    QStringList lines() const;
    QPushButton* button(const char* name) const { return control<QPushButton>(*window, name); }
    ui::MessageLine* box(const char* name) const { return control<ui::MessageLine>(*window, name); }
    QLineEdit* edit(const char* name) const { return control<QLineEdit>(*window, name); }
    std::size_t mark() const { return bench.sim.trace().size(); }
    // Presses Done: true when the window closed at once (settings saved, or leaving confirmed).
    bool leavesAtOnce() {
        const auto closedBefore = closed.count();
        button("cmdDone")->click();
        return closed.count() > closedBefore;
    }
};

/// The main window on a session; the configuration window it opens is answered by the scripts of
/// the session's FakeInteraction.
struct MainRun {
    explicit MainRun(ui::Session session, FakeInteraction& interaction)
        : window(session), fake(interaction) {}

    ui::frmMain window;
    FakeInteraction& fake;

    void choose(const QString& model);
    // Configure; `inside` runs in the configuration window if it opens, which is then closed.
    void configure(std::function<void(QDialog&)> inside = {});
    ui::MessageLine* message() const { return control<ui::MessageLine>(window, "txtGPIBErr"); }
    int configRuns() const;
};

/// The addresses that Send, Receive and DevClear went to from trace line `from` on.
std::vector<int> deviceAddresses(const Bench& bench, std::size_t from = 0);

/// The setting column of a function line (from character 36 on, the prompts here being short).
QString setting(const QString& line);

} // namespace ktq::test
