// The serial dialogue with the emulated Uno, in the lines ktqsim-adapter's trace uses.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

namespace ktq::sim::uno {

/// "> ++addr 5" for each line the host sent (as sent, without its line end; a line ends at a
/// CR or LF that no ESC escapes, as the firmware reads it), "< 5" for what came back after it
/// (one CR LF at its end left out), bytes escaped as in the wire trace. What the firmware sends
/// is written out once it has been quiet for a while or the host's next line is complete.
class DialogueTrace {
public:
    /// Appends to the file; an empty path records nothing.
    explicit DialogueTrace(const std::string& path);
    ~DialogueTrace();
    DialogueTrace(const DialogueTrace&) = delete;
    DialogueTrace& operator=(const DialogueTrace&) = delete;

    void fromHost(std::string_view bytes);
    void toHost(std::string_view bytes, std::uint64_t cycle);
    /// Writes out what the firmware sent once nothing more came for `quietCycles`.
    void settle(std::uint64_t cycle, std::uint64_t quietCycles);

private:
    void writeAnswer();

    std::ofstream m_file;
    std::string m_line;
    bool m_escape = false;
    std::string m_answer;
    std::uint64_t m_answerCycle = 0;
};

} // namespace ktq::sim::uno
