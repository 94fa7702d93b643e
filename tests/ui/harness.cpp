// The window tests' bench, interaction recorder and pauser.
#include "harness.h"

#ifndef _WIN32
#include "sim/board/reallibrary.h"
#endif

#include <cstdlib>
#include <regex>
#include <stdexcept>

namespace ktq::test {

bool Bench::onRealLibrary() {
    const char* path = std::getenv("KTQ_REAL_LIBGPIB");
    return path != nullptr && *path != '\0';
}

std::unique_ptr<bus::GpibDriver> Bench::simDriver() {
    std::string missing;
    if (!onRealLibrary())
        return bus::makeResolvedDriver(&sim::resolveSymbol, bus::linuxGpibConstants(), missing);
#ifdef _WIN32
    throw std::runtime_error("the real linux-gpib library runs on Linux only");
#else
    if (!sim::board::loadRealLibrary(std::getenv("KTQ_REAL_LIBGPIB"), missing))
        throw std::runtime_error("real linux-gpib library: " + missing);
    return bus::makeResolvedDriver(&sim::board::resolveRealLibrary, bus::linuxGpibConstants(), missing);
#endif
}

std::vector<std::string> Bench::calls(std::size_t from) const {
    std::vector<std::string> out;
    const auto& trace = sim.trace();
    for (std::size_t k = from; k < trace.size(); ++k) {
        const std::string& line = trace[k];
        const auto arrow = line.rfind(" -> ");
        out.push_back(arrow == std::string::npos ? line : line.substr(0, arrow));
    }
    return out;
}

std::vector<std::string> Bench::wire(std::size_t from) const {
    static const std::regex send(R"re(^Send\(\d+, \d+, "(.*)", \d+, \d+\))re");
    static const std::regex receive(R"re(^Receive\(\d+, \d+, \d+, \d+\) "(.*)"$)re");
    static const std::regex commands(R"re(^SendCmds\(\d+, "(.*)", \d+\))re");
    std::vector<std::string> out;
    for (const std::string& line : calls(from)) {
        std::smatch m;
        if (std::regex_search(line, m, send)) {
            out.push_back("> " + m[1].str());
        } else if (std::regex_search(line, m, receive)) {
            out.push_back("< " + m[1].str());
        } else if (std::regex_search(line, m, commands)) {
            out.push_back("cmd " + m[1].str());
        } else {
            out.push_back(line);
        }
    }
    return out;
}

} // namespace ktq::test
