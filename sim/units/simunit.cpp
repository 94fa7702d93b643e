// One simulated unit: the messages it takes, the replies it gives, the settings it keeps.
#include "sim/units/simunit.h"

#include <stdexcept>

namespace ktq::sim {

namespace {

constexpr int firstChannelSecondary = 11; // channel n answers at secondary address 10 + n

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::optional<std::string> acceptFor(const Property& property, std::string_view text) {
    for (const ValueRule& rule : property.accepts)
        if (auto reply = acceptValue(rule, text))
            return reply;
    return std::nullopt;
}

std::optional<int> wholeNumber(std::string_view text) {
    const auto number = acceptValue(integerRange(-32767, 32767), text);
    if (!number)
        return std::nullopt;
    return std::stoi(*number);
}

bool takesChannelCommand(const ModelFacts& facts) {
    return facts.channelAccess == ChannelAccess::ChannelCommand || facts.channelAccess == ChannelAccess::Both;
}

} // namespace

SimUnit::SimUnit(int primary, const ModelFacts& facts)
    : m_facts(&facts), m_primary(primary), m_savedPrimary(primary) {
    if (facts.family == nullptr)
        throw std::invalid_argument("model without a function table");
    for (const Property& property : facts.family->properties)
        m_values.emplace_back(property.perChannel ? facts.channels : 1, property.defaultValue);
    m_saved = m_values;
}

bool SimUnit::listensAt(int secondary) const {
    const bool onChannel =
        secondary >= firstChannelSecondary && secondary < firstChannelSecondary + channelCount();
    switch (m_facts->channelAccess) {
    case ChannelAccess::SecondaryAddress:
        return onChannel;
    case ChannelAccess::Both:
        return secondary < 0 || onChannel;
    case ChannelAccess::None:
    case ChannelAccess::ChannelCommand:
        break;
    }
    return secondary < 0;
}

int SimUnit::findProperty(std::string_view header) const {
    const std::string wanted = upperCase(header);
    const auto& properties = m_facts->family->properties;
    for (std::size_t i = 0; i < properties.size(); ++i)
        if (upperCase(properties[i].header) == wanted)
            return static_cast<int>(i);
    return -1;
}

int SimUnit::checkedProperty(std::string_view header) const {
    const int index = findProperty(header);
    if (index < 0)
        throw std::invalid_argument("unit " + model() + " has no function " + std::string(header));
    return index;
}

std::size_t SimUnit::slot(int property, int channel) const {
    if (channel < 1 || channel > channelCount())
        throw std::out_of_range("unit " + model() + " has no channel " + std::to_string(channel));
    return m_facts->family->properties[property].perChannel ? static_cast<std::size_t>(channel - 1) : 0;
}

int SimUnit::channelFor(int secondary) const {
    const auto access = m_facts->channelAccess;
    if ((access == ChannelAccess::SecondaryAddress || access == ChannelAccess::Both) && secondary >= 0 &&
        listensAt(secondary))
        return secondary - firstChannelSecondary + 1;
    return m_selectedChannel;
}

std::string SimUnit::currentValue(int property, int channel) const {
    if (m_facts->family->properties[property].address)
        return std::to_string(m_report31 ? 32 + m_primary : m_primary);
    return m_values[property][slot(property, channel)];
}

void SimUnit::store(int property, int channel, const std::string& replyForm) {
    if (m_facts->family->properties[property].address) {
        // 31 leaves the unit where it is; from then on it reports 32 plus its address.
        const int address = std::stoi(replyForm);
        m_report31 = address == 31;
        if (address != 31)
            m_primary = address;
        return;
    }
    m_values[property][slot(property, channel)] = replyForm;
}

std::string SimUnit::value(std::string_view header, int channel) const {
    const std::string wanted = upperCase(header);
    if (wanted == "*ESE")
        return std::to_string(m_ese);
    if (wanted == "*SRE")
        return std::to_string(m_sre);
    const int property = checkedProperty(header);
    return currentValue(property, channel);
}

void SimUnit::setValue(std::string_view header, std::string_view value, int channel) {
    const std::string wanted = upperCase(header);
    if (wanted == "*ESE" || wanted == "*SRE") {
        const auto mask = acceptValue(integerRange(0, 255), trimBlanks(value));
        if (!mask)
            throw std::invalid_argument("bad mask " + std::string(value));
        (wanted == "*ESE" ? m_ese : m_sre) = std::stoi(*mask);
        return;
    }
    const int property = checkedProperty(header);
    slot(property, channel);
    const auto reply = acceptFor(m_facts->family->properties[property], trimBlanks(value));
    if (!reply)
        throw std::invalid_argument("unit " + model() + " refuses " + std::string(header) + " " +
                                    std::string(value));
    store(property, channel, *reply);
}

std::string SimUnit::savedValue(std::string_view header, int channel) const {
    const int property = checkedProperty(header);
    if (m_facts->family->properties[property].address)
        return std::to_string(m_savedReport31 ? 32 + m_savedPrimary : m_savedPrimary);
    return m_saved[property][slot(property, channel)];
}

std::vector<std::string> SimUnit::headers() const {
    std::vector<std::string> list;
    for (const Property& property : m_facts->family->properties)
        list.push_back(property.header);
    return list;
}

void SimUnit::powerCycle() {
    m_values = m_saved;
    m_primary = m_savedPrimary;
    m_report31 = m_savedReport31;
    if (m_powerOnClear) {
        m_ese = 0;
        m_sre = 0;
    }
    m_esr = 0;
    m_triggered = false;
    m_listening = false;
    m_selectedChannel = 1;
    m_input.clear();
    m_output.clear();
}

void SimUnit::deviceClear() {
    m_input.clear();
    m_output.clear();
}

void SimUnit::takeBytes(std::string_view bytes, bool eoi, int secondary) {
    for (char byte : bytes) {
        if (byte != '\n') {
            m_input.push_back(byte);
            continue;
        }
        std::string message;
        message.swap(m_input);
        handleMessage(message, secondary);
    }
    if (eoi && !m_input.empty()) {
        std::string message;
        message.swap(m_input);
        handleMessage(message, secondary);
    }
}

void SimUnit::handleMessage(const std::string& message, int secondary) {
    m_messages.push_back(message);
    m_output.clear();
    // Before its trigger a serial or printer unit passes what it hears on to its port.
    if (m_facts->triggerGate && !m_triggered)
        return;
    std::string_view text = trimBlanks(message);
    if (text.empty())
        return;
    std::size_t end = 0;
    while (end < text.size() && !isBlank(text[end]))
        ++end;
    std::string_view header = text.substr(0, end);
    const std::string_view parameter = trimBlanks(text.substr(end));
    const bool query = header.back() == '?';
    if (query)
        header.remove_suffix(1);
    if (!header.empty() && header.front() == ':')
        header.remove_prefix(1);
    const int channel = channelFor(secondary);
    if (query) {
        if (!parameter.empty())
            m_esr |= CommandError;
        else
            answer(upperCase(header), channel);
        return;
    }
    execute(upperCase(header), parameter, channel);
}

void SimUnit::answer(const std::string& header, int channel) {
    if (header == "*ESR") {
        reply(std::to_string(m_esr));
        m_esr = 0;
    } else if (header == "*ESE") {
        reply(std::to_string(m_ese));
    } else if (header == "*SRE") {
        reply(std::to_string(m_sre));
    } else if (header == "*PSC") {
        reply(m_powerOnClear ? "1" : "0");
    } else if (header == "CAL:LOCK") {
        reply(m_locked ? "1" : "0");
    } else if (const int property = findProperty(header); property >= 0) {
        reply(currentValue(property, channel));
    } else if (header == "C" && takesChannelCommand(*m_facts)) {
        reply(std::to_string(m_selectedChannel));
    } else {
        m_esr |= CommandError;
    }
}

bool SimUnit::selectChannel(std::string_view parameter) {
    if (!takesChannelCommand(*m_facts))
        return false;
    const auto channel = acceptValue(integerRange(1, channelCount()), parameter);
    if (!channel)
        return false;
    m_selectedChannel = std::stoi(*channel);
    return true;
}

// The commands every unit takes, with their parameter.
void SimUnit::executeCommon(const std::string& header, std::string_view parameter) {
    if (header == "*ESE" || header == "*SRE") {
        const auto mask = acceptValue(integerRange(0, 255), parameter);
        if (!mask)
            m_esr |= ExecutionError;
        else
            (header == "*ESE" ? m_ese : m_sre) = std::stoi(*mask);
    } else if (header == "*PSC") {
        const auto flag = wholeNumber(parameter);
        if (!flag)
            m_esr |= ExecutionError;
        else
            m_powerOnClear = *flag != 0;
    } else if (header == "*SAV") {
        // One stored setting set only; the lock does not stop a save (Lock Settings saves after).
        if (acceptValue(integerRange(0, 0), parameter)) {
            m_saved = m_values;
            m_savedPrimary = m_primary;
            m_savedReport31 = m_report31;
            ++m_saveCount;
        } else {
            m_esr |= ExecutionError;
        }
    } else {
        const auto state = acceptValue(choice({"ON", "OFF", "1", "0"}), parameter);
        if (!state)
            m_esr |= ExecutionError;
        else
            m_locked = *state == "ON" || *state == "1";
    }
}

void SimUnit::execute(const std::string& header, std::string_view parameter, int channel) {
    const bool common = header == "*CLS" || header == "*ESE" || header == "*SRE" || header == "*PSC" ||
                        header == "*SAV" || header == "CAL:LOCK";
    if (header == "*CLS") {
        if (!parameter.empty())
            m_esr |= CommandError;
        else
            m_esr = 0;
        return;
    }
    if (parameter.empty()) {
        m_esr |= CommandError; // every other command here needs a parameter
        return;
    }
    if (common) {
        executeCommon(header, parameter);
        return;
    }
    // "C n" picks the channel whatever the lock; on the demo unit the same header is also the
    // Modbus device address, which then follows the usual rules without raising an error.
    const bool channelSelected = header == "C" && selectChannel(parameter);
    const int property = findProperty(header);
    if (property < 0) {
        if (!channelSelected)
            m_esr |= header == "C" && takesChannelCommand(*m_facts) ? ExecutionError : CommandError;
        return;
    }
    const auto reply = acceptFor(m_facts->family->properties[property], parameter);
    if (m_locked || !reply) {
        if (!channelSelected)
            m_esr |= ExecutionError;
        return;
    }
    store(property, channel, *reply);
}

} // namespace ktq::sim
