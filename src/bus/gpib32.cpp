// The wrappers through which the program makes every driver call and keeps its status.
#include "gpib32.h"

#include "busaddress.h"
#include "busthread.h"
#include "calltext.h"
#include "families.h"
#include "gpibconstants.h"

#include <QByteArray>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <functional>
#include <type_traits>
#include <vector>

namespace ktq::bus {

namespace {

// One byte per 16-bit character, so the byte count always equals the text's length; a
// character the 8-bit code page cannot hold goes out as '?' rather than as a wrong byte.
QByteArray toBusBytes(const QString& text) {
    QByteArray bytes(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        bytes[i] = c > 0xFF ? '?' : static_cast<char>(c);
    }
    return bytes;
}

// The driver's address type is unsigned; the program's address word keeps the same 16 bits.
std::uint16_t addressBits(std::int16_t address) {
    return static_cast<std::uint16_t>(address);
}

std::int16_t low16(long value) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
}

} // namespace

// The driver hears no more of the listener once these wrappers end: it makes calls only for them.
Gpib32::Gpib32(GpibDriver& driver) : m_driver(driver) {
    m_driver.setLinkListener(&m_dialogue);
}

Gpib32::Gpib32(GpibDriver& driver, CallRunner& runner) : m_driver(driver), m_runner(&runner) {
    m_driver.setLinkListener(&m_dialogue);
}

// Runs the driver call and reads its status on the same thread, then keeps that status as the
// wrappers' snapshot and the call in the traffic. `call` returns the call's result, or nothing;
// `describe` gives the call's text from what it left. A call the runner no longer makes may
// still be writing the caller's buffers, so its text is made from an outcome that reads none.
template <typename Call, typename Describe>
auto Gpib32::onBus(const char* name, Call call, Describe describe) {
    using Raw = decltype(call());
    using Result = std::conditional_t<std::is_void_v<Raw>, bool, Raw>;
    Outcome<Result> outcome;
    const std::function<void()> job = [&] {
        if constexpr (std::is_void_v<Raw>) {
            call();
        } else {
            outcome.result = call();
        }
        outcome.status = GpibCopyStatus();
    };
    m_dialogue.take(); // what an abandoned call said after it was given up belongs to none
    CallRecord record;
    record.timeOfDay = m_clock->timeOfDay();
    const auto start = m_clock->now();
    const bool made = m_runner != nullptr ? m_runner->run(BusCall{name, m_timeout, &job}) : (job(), true);
    record.duration = std::chrono::duration_cast<std::chrono::microseconds>(m_clock->now() - start);
    if (!made) {
        if constexpr (!std::is_void_v<Raw>) {
            outcome.result = Raw(-1);
        }
        outcome.status =
            StatusSnapshot{static_cast<std::int16_t>(ni::ERR), static_cast<std::int16_t>(ni::EABO), 0, 0};
    }
    m_status = outcome.status;
    record.status = m_status;
    record.call = describe(CallOutcome{m_status.ibsta, m_status.iberr, m_status.ibcntl});
    record.dialogue = m_dialogue.take();
    m_traffic.add(std::move(record));
    if constexpr (!std::is_void_v<Raw>) {
        return outcome.result;
    } else {
        return m_status;
    }
}

bool Gpib32::leaveOnceOverdue(bool asked) {
    return m_runner != nullptr && m_runner->leaveOnceOverdue(asked);
}

StatusSnapshot Gpib32::GpibFind(const QString& name, std::int16_t* descriptor) {
    const QByteArray bytes = toBusBytes(name);
    const std::int16_t result = low16(onBus(
        "ibfind", [&] { return m_driver.ibfind(bytes.constData()); },
        [&](const CallOutcome&) { return calltext::ibfind(bytes.constData()); }));
    // Written on failure as well: the caller keeps whatever the driver answered.
    if (descriptor) {
        *descriptor = result;
    }
    return m_status;
}

StatusSnapshot Gpib32::GpibAsk(std::int16_t descriptor, std::int16_t option, std::int16_t& value) {
    int slot = 0;
    onBus(
        "ibask", [&] { return m_driver.ibask(descriptor, option, &slot); },
        [&](const CallOutcome& o) { return calltext::ibask(descriptor, option, &slot, o); });
    // Options the program asks for fit in 16 bits; anything wider keeps its low bits instead
    // of stopping the program.
    value = low16(slot);
    return m_status;
}

StatusSnapshot Gpib32::GpibSre(std::int16_t descriptor, std::int16_t value) {
    onBus(
        "ibsre", [&] { return m_driver.ibsre(descriptor, value); },
        [&](const CallOutcome&) { return calltext::setting("ibsre", descriptor, value); });
    return m_status;
}

StatusSnapshot Gpib32::GpibTmo(std::int16_t descriptor, std::int16_t timeoutCode) {
    onBus(
        "ibtmo", [&] { return m_driver.ibtmo(descriptor, timeoutCode); },
        [&](const CallOutcome&) { return calltext::setting("ibtmo", descriptor, timeoutCode); });
    // The driver's codes 1 (10 us) to 17 (1000 s). Code 0, no timeout at all, gives no limit to
    // judge a call by, so the one before stays.
    const auto& durations = ni::timeoutDurations;
    if (!m_status.failed() && timeoutCode > 0 && timeoutCode < static_cast<std::int16_t>(durations.size())) {
        m_timeout =
            std::chrono::ceil<std::chrono::milliseconds>(durations[static_cast<std::size_t>(timeoutCode)]);
    }
    return m_status;
}

StatusSnapshot Gpib32::GpibOnl(std::int16_t descriptor, std::int16_t online) {
    onBus(
        "ibonl", [&] { return m_driver.ibonl(descriptor, online); },
        [&](const CallOutcome&) { return calltext::setting("ibonl", descriptor, online); });
    return m_status;
}

StatusSnapshot Gpib32::GpibSendIFC(std::int16_t board) {
    return onBus(
        "SendIFC", [&] { m_driver.SendIFC(board); },
        [&](const CallOutcome&) { return calltext::SendIFC(board); });
}

StatusSnapshot Gpib32::GpibDevClear(std::int16_t board, std::int16_t address) {
    return onBus(
        "DevClear", [&] { m_driver.DevClear(board, addressBits(address)); },
        [&](const CallOutcome&) { return calltext::DevClear(board, addressBits(address)); });
}

StatusSnapshot Gpib32::GpibFindLstn(std::int16_t board, std::span<const std::int16_t> addressList,
                                    std::span<std::int16_t> resultList, std::int16_t limit) {
    // The driver reads the list up to the no-address marker; a list that lacks it gets one here
    // so that the driver never reads past the caller's array.
    std::vector<std::uint16_t> addresses(addressList.begin(), addressList.end());
    if (std::find(addresses.begin(), addresses.end(), ni::NOADDR) == addresses.end()) {
        addresses.push_back(ni::NOADDR);
    }

    // A negative limit still reaches the driver, which rejects it as an invalid argument.
    const auto clampedLimit =
        static_cast<int>(std::min<std::int64_t>(limit, static_cast<std::int64_t>(resultList.size())));
    // int16 and uint16 may alias, so the driver writes straight into the caller's array.
    auto* const results = reinterpret_cast<std::uint16_t*>(resultList.data());
    return onBus(
        "FindLstn", [&] { m_driver.FindLstn(board, addresses.data(), results, clampedLimit); },
        [&](const CallOutcome& o) {
            return calltext::FindLstn(board, addresses.data(), results, clampedLimit, o);
        });
}

StatusSnapshot Gpib32::GpibSend(std::int16_t board, std::int16_t address, const QString& text,
                                std::int16_t endMode) {
    const QByteArray bytes = toBusBytes(text);
    return onBus(
        "Send", [&] { m_driver.Send(board, addressBits(address), bytes.constData(), bytes.size(), endMode); },
        [&](const CallOutcome&) {
            return calltext::Send(board, addressBits(address), bytes.constData(), bytes.size(),
                                  calltext::endModeName(endMode, calltext::EndModes::Ni));
        });
}

StatusSnapshot Gpib32::GpibReceive(std::int16_t board, std::int16_t address, QString& text,
                                   std::int16_t termination) {
    QByteArray buffer = toBusBytes(text);
    const StatusSnapshot status = onBus(
        "Receive",
        [&] { m_driver.Receive(board, addressBits(address), buffer.data(), buffer.size(), termination); },
        [&](const CallOutcome& o) {
            return calltext::Receive(board, addressBits(address), buffer.constData(), buffer.size(),
                                     termination, o);
        });
    // The whole buffer comes back, so positions the driver did not fill keep the pre-fill.
    text = QString::fromLatin1(buffer);
    return status;
}

StatusSnapshot Gpib32::GpibSendCmds(std::int16_t board, const QString& text) {
    const QByteArray bytes = toBusBytes(text);
    return onBus(
        "SendCmds", [&] { m_driver.SendCmds(board, bytes.constData(), bytes.size()); },
        [&](const CallOutcome&) { return calltext::SendCmds(board, bytes.constData(), bytes.size()); });
}

int Gpib32::triggerSteps() const {
    return m_driver.triggersItself() ? 1 : static_cast<int>(triggerCommands(0).size());
}

StatusSnapshot Gpib32::GpibTrigger(std::int16_t board, std::int16_t address, int step) {
    const int primary = BusAddress::fromWord(addressBits(address)).primary;
    if (m_driver.triggersItself()) {
        const auto unit = static_cast<std::uint16_t>(primary);
        return onBus(
            "Trigger", [&] { m_driver.TriggerUnit(board, unit); },
            [&](const CallOutcome&) { return calltext::TriggerUnit(board, unit); });
    }
    const std::string commands = triggerCommands(primary).at(static_cast<std::size_t>(step));
    const auto count = static_cast<long>(commands.size());
    return onBus(
        "SendCmds", [&] { m_driver.SendCmds(board, commands.data(), count); },
        [&](const CallOutcome&) { return calltext::SendCmds(board, commands.data(), count); });
}

bool Gpib32::boardGone() const {
    return m_status.failed() && driverFamily() == linuxGpibFamily && m_status.iberr == ni::EDVR &&
           m_status.ibcntl == ENODEV;
}

StatusSnapshot Gpib32::GpibCopyStatus() {
    return StatusSnapshot{
        low16(m_driver.ThreadIbsta()),
        low16(m_driver.ThreadIberr()),
        low16(m_driver.ThreadIbcnt()),
        static_cast<std::int32_t>(static_cast<std::uint32_t>(m_driver.ThreadIbcntl())),
    };
}

} // namespace ktq::bus
