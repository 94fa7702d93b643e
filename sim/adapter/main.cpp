// ktqsim-adapter: an emulated "++" GPIB adapter in front of the simulated bench.
#include "sim/adapter/server.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>

using namespace ktq::sim;
using namespace ktq::sim::adapter;

namespace {

// A USB serial chip holds a short reply until its latency timer runs out, 16 ms unless set.
constexpr std::chrono::milliseconds usbSerialLatency{16};

int usage() {
    std::cerr << "usage: ktqsim-adapter --model prologix|prologix-ethernet|ar488|ar488-0.51 (--pty | --tcp "
                 "[PORT])\n"
                 "  --pty       serve on a pseudo-terminal; its path is printed as \"pty PATH\"\n"
                 "  --tcp PORT  serve on 127.0.0.1:PORT (1234 if left out, 0 for a free one); printed as"
                 " \"tcp PORT\"\n"
                 "The bench comes from GPIB_SIM_BENCH; GPIB_SIM_TRACE records the bus events,\n"
                 "GPIB_SIM_ADAPTER_TRACE the dialogue with the adapter, GPIB_SIM_TIMING=real real time.\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const AdapterProfile* profile = nullptr;
    bool pty = false;
    std::optional<int> tcpPort;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--model" && i + 1 < argc) {
            profile = findProfile(argv[++i]);
            if (profile == nullptr) {
                std::cerr << "ktqsim-adapter: unknown model \"" << argv[i] << "\"\n";
                return usage();
            }
        } else if (argument == "--pty") {
            pty = true;
        } else if (argument == "--tcp") {
            tcpPort = TcpLink::prologixPort;
            if (i + 1 < argc && argv[i + 1][0] != '-') {
                const std::string port = argv[++i];
                if (port.empty() || port.size() > 5 ||
                    port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) > 65535)
                    return usage();
                tcpPort = std::stoi(port);
            }
        } else {
            return usage();
        }
    }
    if (profile == nullptr || pty == tcpPort.has_value())
        return usage();

    // The same bench the drop-in driver builds from the environment, its trace the bus events.
    useEnvironmentBench(EnvironmentTrace::BusEvents);
    SimBus* bench = nullptr;
    onCurrentBench([&bench](SimBus* current) { bench = current; });
    if (bench == nullptr || !bench->boardPresent())
        return 1; // the bench said why

    try {
        AdapterCore core(*bench, *profile);
        if (const char* trace = std::getenv("GPIB_SIM_ADAPTER_TRACE"); trace && *trace)
            core.setTraceFile(trace);
        const bool realTime = Timing::fromSettings(std::getenv("GPIB_SIM_TIMING"), nullptr).timeouts;
        if (pty) {
            PtyLink link;
            if (realTime)
                core.setLinkLatency(usbSerialLatency);
            std::cout << "pty " << link.path() << std::endl;
            link.serve(core);
        } else {
            TcpLink link(*tcpPort);
            std::cout << "tcp " << link.port() << std::endl;
            link.serve(core);
        }
    } catch (const std::runtime_error& error) {
        std::cerr << "ktqsim-adapter: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
