// The serial dialogue trace of ktqsim-uno.
#include "sim/uno/dialogue.h"

#include "sim/tracetext.h"

namespace ktq::sim::uno {

namespace {

constexpr char esc = 0x1b;

} // namespace

DialogueTrace::DialogueTrace(const std::string& path) {
    if (!path.empty())
        m_file.open(path, std::ios::app | std::ios::binary);
}

DialogueTrace::~DialogueTrace() {
    writeAnswer();
}

void DialogueTrace::fromHost(std::string_view bytes) {
    if (!m_file.is_open())
        return;
    for (const char ch : bytes) {
        const bool plain = m_escape;
        m_escape = !plain && ch == esc;
        if (plain || (ch != '\r' && ch != '\n')) {
            m_line += ch;
            continue;
        }
        if (m_line.empty())
            continue;
        writeAnswer();
        m_file << "> " << escaped(m_line) << '\n' << std::flush;
        m_line.clear();
    }
}

void DialogueTrace::toHost(std::string_view bytes, std::uint64_t cycle) {
    if (!m_file.is_open() || bytes.empty())
        return;
    m_answer += bytes;
    m_answerCycle = cycle;
}

void DialogueTrace::settle(std::uint64_t cycle, std::uint64_t quietCycles) {
    if (!m_answer.empty() && cycle - m_answerCycle >= quietCycles)
        writeAnswer();
}

void DialogueTrace::writeAnswer() {
    if (m_answer.empty())
        return;
    std::string_view answer = m_answer;
    if (answer.size() >= 2 && answer.substr(answer.size() - 2) == "\r\n")
        answer.remove_suffix(2);
    m_file << "< " << escaped(answer) << '\n' << std::flush;
    m_answer.clear();
}

} // namespace ktq::sim::uno
