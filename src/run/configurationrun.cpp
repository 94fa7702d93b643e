// One configuration run's talk with its unit, without a window.
#include "configurationrun.h"

#include "numbers.h"
#include "pauser.h"

#include "bus/busaddress.h"
#include "bus/gpibconstants.h"
#include "bus/messagebus.h"
#include "models/catalogue.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <string_view>
#include <utility>

namespace ktq::run {

namespace {

constexpr int replyLength = 18;
constexpr int findLstnLimit = 32;
constexpr int maxFunctions = 25;
constexpr int queryError = 4;
constexpr int executionError = 16;
constexpr int commandError = 32;
constexpr double addressSwitch = 32; // a bus address read back at or above this is "set by the switches"

const QString blankReply = QString(replyLength, u' ');

QString latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString withoutLeadingBlanks(QString text) {
    while (text.startsWith(u' ')) {
        text.remove(0, 1);
    }
    return text;
}

// The bus address as the unit reports it: at or above 32 it is set by the switches.
QString addressShown(double address, const QString& switches, const QString& end) {
    return withoutLeadingBlanks(
        (address >= addressSwitch ? numberText(address - addressSwitch) + switches : numberText(address)) +
        end);
}

std::int16_t addressWord(int primary, int secondary) {
    return static_cast<std::int16_t>(bus::BusAddress::withSecondary(primary, secondary).word());
}

bus::BusAddress unitAt(std::int16_t deviceAddress) {
    return bus::BusAddress::fromWord(static_cast<std::uint16_t>(deviceAddress));
}

} // namespace

ConfigurationRun::ConfigurationRun(bus::MessageBus& bus, SharedState& state, Pauser& pauser,
                                   BoardGone boardGoneAt)
    : m_bus(bus), m_state(state), m_pauser(pauser), m_boardGoneAt(std::move(boardGoneAt)) {}

std::string_view ConfigurationRun::driverFamily() const {
    return m_bus.family();
}

bool ConfigurationRun::leaveOnceOverdue(bool asked) {
    return m_bus.leaveOnceOverdue(asked);
}

int ConfigurationRun::functionCount() const {
    const models::SetupRoutine* routine = m_state.Routine;
    return routine == nullptr ? 0 : std::min(routine->functionCount(), maxFunctions);
}

QString ConfigurationRun::functionPrompt(int index) const {
    return latin1(m_state.Routine->functions[index - 1].prompt);
}

QString ConfigurationRun::queryText(int index) const {
    const models::SetupRoutine& routine = *m_state.Routine;
    return latin1(routine.commandPrefix) + latin1(routine.functions[index - 1].command) + QStringLiteral("?");
}

bool ConfigurationRun::isMultiChannelModel() const {
    const models::SetupRoutine* routine = m_state.Routine;
    return routine != nullptr && routine->channelCount > 0;
}

void ConfigurationRun::startList() {
    m_functionIndex = 1;
    m_modelQueriesAnswered = 0;
}

bool ConfigurationRun::nextFunction() {
    ++m_functionIndex;
    return m_functionIndex <= functionCount();
}

bool ConfigurationRun::setAddress(const QString& entry) {
    const std::optional<std::int16_t> typed = toInt16(roundHalfEven(numericValue(entry)));
    if (typed) {
        m_state.PrimaryAddress = *typed;
    }
    // Negative entries are refused too: -1 is the driver's "no address", which would clear every
    // device on the bus.
    const bool outOfRange = !typed || *typed < 0 || *typed >= 3000 || (*typed >= 31 && *typed <= 99) ||
                            (*typed >= 100 && *typed % 100 > 30);
    if (outOfRange) {
        return false;
    }
    if (*typed < 100) {
        m_state.DeviceAddress = *typed;
    } else {
        m_state.PrimaryAddress = static_cast<std::int16_t>(*typed / 100);
        m_state.SecondaryAddress = static_cast<std::int16_t>(*typed % 100);
        m_state.DeviceAddress = addressWord(m_state.PrimaryAddress, m_state.SecondaryAddress);
    }
    return true;
}

void ConfigurationRun::addressChannel() {
    m_state.SecondaryAddress = static_cast<std::int16_t>(m_state.ChannelNumber + 10);
    m_state.DeviceAddress = addressWord(m_state.PrimaryAddress, m_state.SecondaryAddress);
}

bus::StatusSnapshot ConfigurationRun::onBoard(BusStep step,
                                              const std::function<bus::StatusSnapshot()>& call) {
    if (!m_boardGone) {
        m_lastStatus = call();
        m_boardGone = m_bus.boardGone();
    }
    if (m_boardGone && m_boardGoneAt) {
        // Said at every step that sends nothing, also at those that check no status.
        m_boardGoneAt(step, m_lastStatus);
    }
    return m_lastStatus;
}

bus::StatusSnapshot ConfigurationRun::sendText(const QString& text, BusStep step) {
    return onBoard(step, [&] { return m_bus.write(unitAt(m_state.DeviceAddress), text); });
}

ListenerSearch ConfigurationRun::findListeners() {
    std::array<std::int16_t, findLstnLimit> listeners{};
    ListenerSearch search;
    search.status = onBoard(BusStep::Search, [&] { return m_bus.findListeners(listeners); });
    // The driver wrote at most the limit; a larger or negative count never indexes past that.
    const int found = std::clamp<int>(search.status.ibcnt, 0, findLstnLimit);
    // A search that finds nothing must not announce the previous run's device.
    if (found > 0 && !search.driverFault()) {
        search.count = search.status.ibcnt;
        search.addresses.assign(listeners.begin(), listeners.begin() + found);
    }
    return search;
}

bool ListenerSearch::driverFault() const {
    return status.failed() && status.iberr == bus::ni::EDVR;
}

bool ListenerSearch::tooMany() const {
    return status.failed() && status.iberr == bus::ni::ETAB;
}

bus::StatusSnapshot ConfigurationRun::clearInterface() {
    return onBoard(BusStep::ClearUnit, [&] { return m_bus.clearInterface(); });
}

bus::StatusSnapshot ConfigurationRun::clearUnit() {
    clearInterface();
    return onBoard(BusStep::ClearUnit, [&] { return m_bus.clear(unitAt(m_state.DeviceAddress)); });
}

StoreOutcome ConfigurationRun::store(StoreAction action) {
    std::vector<QLatin1String> commands;
    switch (action) {
    case StoreAction::SaveSettings:
        commands = {models::commands::save};
        break;
    case StoreAction::LockSettings:
        commands = {models::commands::lock, models::commands::save};
        break;
    case StoreAction::KeepStatusEnables:
        commands = {models::commands::keepStatusEnables};
        break;
    case StoreAction::ClearStatusEnables:
        commands = {models::commands::clearStatusEnables};
        break;
    }
    StoreOutcome outcome;
    for (const QLatin1String command : commands) {
        outcome.last = sendText(QString(command), BusStep::Store);
        if (outcome.last.failed() && !outcome.failure) {
            outcome.failure = outcome.last;
        }
    }
    if (action == StoreAction::SaveSettings && !outcome.failure) {
        m_saved = true;
    }
    return outcome;
}

QString ConfigurationRun::receiveReply(bus::StatusSnapshot& status) {
    QString reply = blankReply;
    status = onBoard(BusStep::Query, [&] { return m_bus.read(unitAt(m_state.DeviceAddress), reply); });
    return reply;
}

QueryOutcome ConfigurationRun::ask(const QString& query) {
    QueryOutcome outcome;
    if (const bus::StatusSnapshot sent = sendText(query); sent.failed()) {
        outcome.firstFailure = sent;
    }
    outcome.reply = receiveReply(outcome.receiveStatus);
    if (!outcome.firstFailure && outcome.receiveStatus.failed()) {
        outcome.firstFailure = outcome.receiveStatus;
    }
    return outcome;
}

void ConfigurationRun::sendTrigger() {
    for (int step = 0; step < m_bus.triggerSteps(); ++step) {
        onBoard(BusStep::Query, [&] { return m_bus.trigger(unitAt(m_state.DeviceAddress), step); });
        ShortPause();
    }
}

QString ConfigurationRun::TrimResponse(const QString& reply) {
    const qsizetype lineFeed = reply.indexOf(u'\n');
    return lineFeed >= 0 ? reply.left(lineFeed + 1) : reply;
}

void ConfigurationRun::ShortPause() {
    m_pauser.pause(std::chrono::milliseconds(200));
}

FunctionReading ConfigurationRun::readFunction() {
    const int index = m_functionIndex;
    const models::SetupRoutine& routine = *m_state.Routine;
    if (index == 1 && routine.triggerOnStart) {
        sendTrigger();
    }
    if (index == 1 && routine.lockSupported) {
        sendText(models::commands::unlock);
        sendText(models::commands::clearStatus);
    }
    const QueryOutcome answer = ask(queryText(index));
    FunctionReading reading{answer.reply, {}, answer.receiveStatus, false};
    if (answer.receiveFailed()) {
        reading.failure = answer.firstFailure;
        // Two queries in and not a word of the model's own back. The bus address query does not
        // count, as units of every model answer it alike. Only a reply that never came says so; a
        // query nobody took, or any other error, is said as the driver gave it.
        reading.silentUnit =
            index >= 2 && m_modelQueriesAnswered == 0 && answer.firstFailure->iberr == bus::ni::EABO;
        return reading;
    }
    if (index != routine.addressFunction) {
        ++m_modelQueriesAnswered;
    }
    reading.setting = TrimResponse(answer.reply);
    if (const double address = numericValue(reading.setting);
        index == routine.addressFunction && address >= addressSwitch) {
        reading.setting = addressShown(address, QStringLiteral("/31 "), QString());
    }
    return reading;
}

SettingVerdict ConfigurationRun::setFunction(const QString& value) {
    const int index = m_functionIndex;
    const models::SetupRoutine& routine = *m_state.Routine;
    sendText(latin1(routine.commandPrefix) + latin1(routine.functions[index - 1].command) +
             QStringLiteral(" ") + value);
    if (index == routine.addressFunction) {
        const std::optional<double> typed = leadingNumber(value);
        const std::optional<std::int16_t> address = typed ? toInt16(*typed) : std::nullopt;
        // Only an address the unit can move to moves the program: 31 keeps the address, and so
        // does a value the unit refuses (one that is not a number among them), which would
        // otherwise strand every later transfer.
        if (address && *address >= 0 && *address <= bus::highestPrimary) {
            const int word = routine.keepsDeviceAddress
                                 ? bus::BusAddress::withSecondary(*address, m_state.SecondaryAddress).word()
                                 : *address;
            if (word <= INT16_MAX) {
                m_state.PrimaryAddress = *address;
                m_state.DeviceAddress = static_cast<std::int16_t>(word);
            }
        }
        ShortPause();
    }
    ShortPause();

    // The unit's verdict and the read-back are not checked: what they bring is what the line shows.
    const QString verdict = ask(models::commands::statusQuery).reply;
    if (verdict == blankReply) {
        return {QStringLiteral("No response\n"), false};
    }
    if ((static_cast<long long>(roundHalfEven(numericValue(verdict))) &
         (queryError | executionError | commandError)) != 0) {
        return {QStringLiteral("Error - retry\n"), true};
    }
    // The unit took a value the last save did not store: Done must ask again.
    m_saved = false;
    QString shown = TrimResponse(ask(queryText(index)).reply);
    // A read-back that brought nothing stays blank rather than showing address 0.
    if (index == routine.addressFunction && shown != blankReply) {
        shown = addressShown(numericValue(shown.left(2)), QStringLiteral("/31"), QStringLiteral("\n"));
    }
    return {shown, false};
}

} // namespace ktq::run
