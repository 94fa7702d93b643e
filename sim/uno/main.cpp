// ktqsim-uno: the AR488 firmware on an emulated Arduino Uno, its serial port a pseudo-terminal,
// its GPIB pins on the simulated bench's lines.
#include "sim/simbus.h"
#include "sim/uno/board.h"
#include "sim/uno/dialogue.h"
#include "sim/uno/hostport.h"
#include "sim/uno/pins.h"
#include "sim/wire/gpiblines.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <unistd.h>

using namespace ktq::sim;
using namespace ktq::sim::uno;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The host's bytes are taken, and the board's passed on, between slices of simulated time.
constexpr std::uint64_t sliceCycles = UnoBoard::cyclesPerMs;
// The dialogue trace writes the firmware's answer once it has been quiet this long.
constexpr std::uint64_t answerQuietCycles = 20 * UnoBoard::cyclesPerMs;

volatile std::sig_atomic_t g_stop = 0;

struct Options {
    std::string firmware = "0.53.04";
    bool pty = false;
    bool realTime = false;
    std::string eepromFile;
};

int usage() {
    std::cerr
        << "usage: ktqsim-uno [--firmware 0.53.04|0.51.09] --pty [--real-time] [--eeprom FILE]\n"
           "  --pty        serve the Uno's serial port on a pseudo-terminal; printed as \"pty PATH\"\n"
           "  --real-time  pace the emulated time to real time (otherwise it runs as fast as it can)\n"
           "  --eeprom F   the EEPROM's 1024 bytes from F (erased if F does not exist), saved to F at exit\n"
           "Standard output also says \"eeprom N\" each time the count of EEPROM bytes written changes,\n"
           "before any answer the firmware sends after that write. The bench comes from GPIB_SIM_BENCH;\n"
           "GPIB_SIM_TRACE records the bus events, GPIB_SIM_ADAPTER_TRACE the serial dialogue.\n";
    return 2;
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--firmware" && i + 1 < argc)
            options.firmware = argv[++i];
        else if (argument == "--eeprom" && i + 1 < argc)
            options.eepromFile = argv[++i];
        else if (argument == "--pty")
            options.pty = true;
        else if (argument == "--real-time")
            options.realTime = true;
        else
            return false;
    }
    return options.pty && (options.firmware == "0.53.04" || options.firmware == "0.51.09");
}

// The protocol lines go to the standard output the tool was started with; everything else
// written to standard output (simavr's own messages) goes to standard error instead.
class Protocol {
public:
    Protocol() : m_fd(::dup(STDOUT_FILENO)) { ::dup2(STDERR_FILENO, STDOUT_FILENO); }
    ~Protocol() { ::close(m_fd); }
    Protocol(const Protocol&) = delete;
    Protocol& operator=(const Protocol&) = delete;

    void say(const std::string& line) const {
        const std::string text = line + '\n';
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(m_fd, text.data() + done, text.size() - done);
            if (n <= 0 && errno != EINTR)
                return;
            done += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
    }

private:
    int m_fd = -1;
};

// How fast simulated time runs. While the board starts (held in reset, then in optiboot), and
// throughout with --real-time, it keeps to real time, so that the host meets the bootloader for
// the second it would on a real Uno. Otherwise it runs flat out until both the host and the
// firmware have been idle for a while (the firmware polls the bus pins while it waits on the
// bus, and does nothing a host can see while it waits for the host): then each slice first
// waits for the host's next byte, so that simulated time crawls and an idle board costs little.
class Pace {
public:
    explicit Pace(bool realTime) : m_realTime(realTime) {}

    void hostSent(std::uint64_t cycle) { m_hostCycle = cycle; }
    void boardBusy(std::uint64_t cycle) { m_boardCycle = cycle; }

    milliseconds waitBeforeSlice(std::uint64_t cycle, bool starting) {
        const bool idle = cycle - m_hostCycle >= quietCycles && cycle - m_boardCycle >= quietCycles;
        if (!starting && (idle || !m_realTime)) {
            m_anchored = false;
            return idle ? idleWait : milliseconds(0);
        }
        const auto now = Clock::now();
        if (!m_anchored) {
            m_anchor = {now, cycle};
            m_anchored = true;
        }
        const auto simulated = milliseconds((cycle - m_anchor.cycle) / UnoBoard::cyclesPerMs);
        const auto real = std::chrono::duration_cast<milliseconds>(now - m_anchor.time);
        return std::max(milliseconds(0), simulated - real);
    }

private:
    // An idle slice of 1 ms waits 20 ms: about 2.5 % of a core (measured).
    static constexpr milliseconds idleWait{20};
    static constexpr std::uint64_t quietCycles = 200 * UnoBoard::cyclesPerMs;

    bool m_realTime = false;
    std::uint64_t m_hostCycle = 0;
    std::uint64_t m_boardCycle = 0;
    struct {
        Clock::time_point time;
        std::uint64_t cycle = 0;
    } m_anchor;
    bool m_anchored = false;
};

std::vector<std::uint8_t> readEeprom(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::vector<std::uint8_t>(UnoBoard::eepromSize, 0xff); // erased, as a new chip's
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
    if (bytes.size() != UnoBoard::eepromSize)
        throw std::runtime_error(path + " does not hold 1024 bytes");
    return bytes;
}

void writeEeprom(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file)
        throw std::runtime_error("cannot write " + path);
}

void serve(UnoBoard& board, const GpibPins& pins, HostPort& port, const Protocol& protocol, bool realTime) {
    const char* tracePath = std::getenv("GPIB_SIM_ADAPTER_TRACE");
    DialogueTrace dialogue(tracePath ? tracePath : "");
    Pace pace(realTime);
    std::uint64_t reported = board.eepromWrites();
    std::uint64_t activity = 0; // what shows the firmware busy while it says nothing
    while (!g_stop) {
        const HostPort::Events events = port.wait(pace.waitBeforeSlice(board.cycle(), board.starting()));
        if (events.opened)
            board.resetFromHost(); // DTR
        if (!events.bytes.empty()) {
            dialogue.fromHost(events.bytes);
            board.fromHost(events.bytes);
            pace.hostSent(board.cycle());
        }
        board.run(sliceCycles);
        const std::string out = board.takeToHost();
        if (board.eepromWrites() != reported) {
            reported = board.eepromWrites();
            protocol.say("eeprom " + std::to_string(reported));
        }
        // Starting, the firmware waits in delay() (the bus clear takes 80 ms) without a sign.
        if (pins.pinReads() + reported != activity || !out.empty() || board.starting()) {
            activity = pins.pinReads() + reported;
            pace.boardBusy(board.cycle());
        }
        if (!out.empty() && port.isOpen()) {
            dialogue.toHost(out, board.cycle());
            port.send(out);
        }
        dialogue.settle(board.cycle(), answerQuietCycles);
    }
}

void onSignal(int) {
    g_stop = 1;
}

void catchSignals() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options))
        return usage();
    const Protocol protocol;
    catchSignals();

    // The same bench the drop-in driver builds from the environment, its trace the bus events.
    useEnvironmentBench(EnvironmentTrace::BusEvents);
    SimBus* bench = nullptr;
    onCurrentBench([&bench](SimBus* current) { bench = current; });
    if (bench == nullptr)
        return 1; // the bench said why

    try {
        const std::string firmwareDir = KTQ_UNO_FIRMWARE_DIR;
        UnoBoard board(firmwareDir + "/AR488-" + options.firmware + ".hex",
                       firmwareDir + "/optiboot_atmega328.hex");
        if (!options.eepromFile.empty())
            board.setEeprom(readEeprom(options.eepromFile));
        UnitsOnLines units(bench->wire());
        GpibPins pins(board.chip(),
                      [&units](const GpibLines& firmware) { return units.controllerDrives(firmware); });
        board.setResetHook([&pins] { pins.afterReset(); });
        HostPort port;
        protocol.say("pty " + port.path());
        std::string failure;
        try {
            serve(board, pins, port, protocol, options.realTime);
        } catch (const std::runtime_error& error) {
            failure = error.what(); // the EEPROM is saved all the same
        }
        if (!options.eepromFile.empty())
            writeEeprom(options.eepromFile, board.eeprom());
        if (!failure.empty())
            throw std::runtime_error(failure);
    } catch (const std::exception& error) {
        std::cerr << "ktqsim-uno: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
