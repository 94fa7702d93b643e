// A configuration run on the simulated bench with chosen driver calls made to fail.
#include "faultrun.h"

#include "sim/linuxgpib.h"

#include <algorithm>
#include <regex>
#include <stdexcept>

namespace ktq::test {

const std::vector<DriverError>& driverErrors() {
    static const std::vector<DriverError> errors = {
        {sim::lg::EDVR, "EDVR", " EDVR <Op System Error>"},
        {sim::lg::ECIC, "ECIC", " ECIC <Not CIC>"},
        {sim::lg::ENOL, "ENOL", " ENOL <No Listener>"},
        {sim::lg::EABO, "EABO", " EABO <Operation aborted>"},
        {sim::lg::ENEB, "ENEB", " ENEB <No GPIB board>"},
        {sim::lg::EARG, "EARG", " EARG <Invalid argument>"},
        {sim::lg::ESAC, "ESAC", " ESAC <Not Sys Ctrlr>"},
        {sim::lg::EBUS, "EBUS", " EBUS <Command error>"},
        {sim::lg::ETAB, "ETAB", " ETAB <Table Overflow>"},
    };
    return errors;
}

QString expectedReport(const QString& message, int iberr, long ibcnt, const char* status) {
    const char* text = "";
    for (const DriverError& error : driverErrors()) {
        if (error.iberr == iberr) {
            text = error.text;
        }
    }
    // The bench reports a timeout (EABO) with TIMO beside ERR.
    const QString shown = status != nullptr        ? QString::fromLatin1(status)
                          : iberr == sim::lg::EABO ? QStringLiteral("&HC000 <  ERR TIMO  >")
                                                   : QStringLiteral("&H8000 <  ERR  >");
    return message + QStringLiteral(",  ibsta = ") + shown + QStringLiteral(", iberr =  ") +
           QString::number(iberr) + QString::fromLatin1(text) + QStringLiteral(", ibcnt =  ") +
           QString::number(ibcnt);
}

void FaultInjector::arm(std::string function, int nth, int iberr) {
    m_function = std::move(function);
    m_nth = nth;
    m_seen = 0;
    m_iberr = iberr;
    m_armed = true;
    m_fired = false;
}

void FaultInjector::beforeCall(const char* function) {
    m_faked = false;
    if (m_armed && m_function == function && ++m_seen == m_nth) {
        m_bench.failNext(function, m_iberr);
        m_armed = false;
        m_fired = true;
    }
}

void FaultInjector::Receive(int board, std::uint16_t address, void* buffer, long count, int termination) {
    beforeCall("Receive");
    if (m_emptyIn > 0 && --m_emptyIn == 0) {
        // The unit asserts EOI without a data byte: the transfer ends at once, nothing written.
        m_faked = true;
        m_bench.note("Receive(" + std::to_string(board) + ", " + std::to_string(address) + ", " +
                     std::to_string(count) + ", " + std::to_string(termination) + ") \"\" -> 0x2120 0 0");
        return;
    }
    inner().Receive(board, address, buffer, count, termination);
}

int FaultInjector::ThreadIbsta() {
    return m_faked ? sim::lg::END | sim::lg::CMPL | sim::lg::CIC : inner().ThreadIbsta();
}

int FaultInjector::ThreadIberr() {
    return m_faked ? 0 : inner().ThreadIberr();
}

int FaultInjector::ThreadIbcnt() {
    return m_faked ? 0 : inner().ThreadIbcnt();
}

long FaultInjector::ThreadIbcntl() {
    return m_faked ? 0 : inner().ThreadIbcntl();
}

void FaultRun::open(const QString& modelText) {
    bench.state.ModelText = modelText;
    bench.state.ModelNumber = static_cast<std::int16_t>(modelText.left(4).toInt());
    window->openRun();
}

void FaultRun::setAddress(const QString& entry) {
    edit("txtAddr")->setText(entry);
    button("cmdSet")->click();
}

void FaultRun::enter(const QString& value) {
    edit("txtChoice")->setText(value);
    button("cmdEnter")->click();
}

void FaultRun::advance(int times) {
    for (int k = 0; k < times; ++k) {
        enter();
    }
}

QStringList FaultRun::lines() const {
    QStringList out;
    auto* list = control<QListWidget>(*window, "lstFunction");
    for (int k = 0; k < list->count(); ++k) {
        out << list->item(k)->text();
    }
    return out;
}

void MainRun::choose(const QString& model) {
    auto* list = control<QListWidget>(window, "listUnit");
    const auto items = list->findItems(model, Qt::MatchExactly);
    if (items.size() != 1) {
        throw std::runtime_error("no model " + model.toStdString());
    }
    list->setCurrentItem(items.front());
}

void MainRun::configure(std::function<void(QDialog&)> inside) {
    fake.scripts.push_back([inside](QDialog& dialog) {
        if (inside) {
            inside(dialog);
        }
        dialog.done(0);
    });
    control<QPushButton>(window, "cmdConfig")->click();
    // A Configure that stopped before the window opened leaves its script unused.
    fake.scripts.clear();
}

int MainRun::configRuns() const {
    return static_cast<int>(
        std::count(fake.modals.begin(), fake.modals.end(), QStringLiteral("Configuration Form")));
}

std::vector<int> deviceAddresses(const Bench& bench, std::size_t from) {
    static const std::regex call(R"re(^(Send|Receive|DevClear)\(\d+, (\d+))re");
    std::vector<int> out;
    for (const std::string& line : bench.calls(from)) {
        std::smatch m;
        if (std::regex_search(line, m, call)) {
            out.push_back(std::stoi(m[2].str()));
        }
    }
    return out;
}

QString setting(const QString& line) {
    return line.mid(35);
}

} // namespace ktq::test
