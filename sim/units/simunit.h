// One simulated unit: the messages it takes, the replies it gives, the settings it keeps.
#pragma once

#include "sim/units/families.h"

#include <string>
#include <string_view>
#include <vector>

namespace ktq::sim {

/// One simulated unit on the bus: a model's function table with current and saved values, the
/// IEEE 488.2 status registers, the lock, and the channel and trigger state.
///
/// On the bus it takes one message per line feed or EOI and, for a query "HEADER?", queues the
/// value followed by a line feed, talked with EOI. A new message discards an unread reply.
/// Event status bits: 16 for a value the function does not take (or any setting while locked),
/// 32 for an unknown header, a missing or unexpected parameter.
class SimUnit {
public:
    static constexpr int QueryError = 4;
    static constexpr int ExecutionError = 16;
    static constexpr int CommandError = 32;

    SimUnit(int primary, const ModelFacts& facts);

    const std::string& model() const { return m_facts->text; }
    const ModelFacts& facts() const { return *m_facts; }
    int primary() const { return m_primary; }
    int channelCount() const { return m_facts->channels; }
    // secondary -1: the primary address alone.
    bool listensAt(int secondary) const;

    /// The value as the unit would answer it, without the line feed. Also "*ESE" and "*SRE".
    /// Throws std::invalid_argument for a header the unit does not have.
    std::string value(std::string_view header, int channel = 1) const;
    /// Sets a value as a setting on the bus would, without lock or status: the address function
    /// moves the unit. Throws std::invalid_argument when the unit would refuse it.
    void setValue(std::string_view header, std::string_view value, int channel = 1);
    /// The value that "*SAV 0" last stored (the delivery value before any save).
    std::string savedValue(std::string_view header, int channel = 1) const;
    std::vector<std::string> headers() const;

    int esr() const { return m_esr; }
    int ese() const { return m_ese; }
    int sre() const { return m_sre; }
    bool locked() const { return m_locked; }
    // false after "*PSC 0": the enable masks survive power-up.
    bool powerOnStatusClear() const { return m_powerOnClear; }
    bool triggerGate() const { return m_facts->triggerGate; }
    // The gate is open: addressed to listen and sent Group Execute Trigger since power-up.
    bool triggered() const { return m_triggered; }
    // The channel chosen with "C n" (1 until then).
    int selectedChannel() const { return m_selectedChannel; }
    int saveCount() const { return m_saveCount; }
    bool replyPending() const { return !m_output.empty(); }
    /// Every message the unit took off the bus, without its line feed, in order.
    const std::vector<std::string>& messages() const { return m_messages; }

    /// Off and on: settings back to what "*SAV 0" stored (the address too), the lock kept, the
    /// enable masks kept only after "*PSC 0", status and trigger gate cleared.
    void powerCycle();

private:
    friend class WireBus;

    // Bus side, used by the buses.
    void takeBytes(std::string_view bytes, bool eoi, int secondary);
    void deviceClear();
    void setAddressedToListen(bool listening) { m_listening = listening; }
    bool addressedToListen() const { return m_listening; }
    void trigger() { m_triggered = true; }
    std::string& output() { return m_output; }

    void handleMessage(const std::string& message, int secondary);
    void answer(const std::string& header, int channel);
    void execute(const std::string& header, std::string_view parameter, int channel);
    void executeCommon(const std::string& header, std::string_view parameter);
    bool selectChannel(std::string_view parameter);
    int findProperty(std::string_view header) const;
    int checkedProperty(std::string_view header) const;
    std::size_t slot(int property, int channel) const;
    int channelFor(int secondary) const;
    void store(int property, int channel, const std::string& replyForm);
    std::string currentValue(int property, int channel) const;
    void reply(const std::string& text) { m_output = text + "\n"; }

    const ModelFacts* m_facts = nullptr;
    int m_primary = 0;
    bool m_report31 = false; // after address 31: the address function answers 32 + address
    std::vector<std::vector<std::string>> m_values;

    int m_savedPrimary = 0;
    bool m_savedReport31 = false;
    std::vector<std::vector<std::string>> m_saved;
    int m_saveCount = 0;

    int m_esr = 0;
    int m_ese = 0;
    int m_sre = 0;
    bool m_powerOnClear = true;
    bool m_locked = false;
    bool m_triggered = false;
    bool m_listening = false;
    int m_selectedChannel = 1;

    std::string m_input;
    std::string m_output;
    std::vector<std::string> m_messages;
};

} // namespace ktq::sim
