// The window tests' bench, interaction recorder and pauser.
#include "harness.h"

#include "bus/calltext.h"

#include "bus/adapter/adapterdriver.h"
#include "bus/gpibconstants.h"
#include "sim/adapter/benchlink.h"
#include "sim/adapter/profile.h"

#ifndef _WIN32
#include "sim/board/reallibrary.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
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

namespace {

std::unique_ptr<bus::AdapterLink> benchLink(sim::adapter::AdapterCore& core) {
    return std::make_unique<sim::adapter::BenchLink>(core);
}

#ifndef _WIN32
// The program's own link (Qt's serial port or TCP socket) to the core served as ktqsim-adapter
// serves it. Each write returns once the core has taken and answered every byte, so a read need
// not wait: what the core will say is already on its way, as with the bench's own link. How the
// links wait is what adapter_links_test.cpp exercises.
class ServedLink final : public bus::AdapterLink {
public:
    ServedLink(sim::adapter::AdapterCore& core, bool tcp) : m_served(core, tcp) {
        if (tcp) {
            m_link = bus::makeSystemLinkOpener()->openTcp("127.0.0.1", m_served.port(), m_error);
        } else {
            m_link = bus::makeSystemLinkOpener()->openSerial(m_served.where(), m_error);
        }
    }

    std::string where() const override { return m_link ? m_link->where() : "unopened: " + m_error; }
    bool write(std::string_view bytes) override {
        if (!m_link || !m_link->write(bytes)) {
            return false;
        }
        m_written += bytes.size();
        m_served.waitTaken(m_written);
        return true;
    }
    std::string read(std::chrono::milliseconds, bool& gone) override {
        if (!m_link) {
            gone = true;
            return {};
        }
        return m_link->read(std::chrono::milliseconds(0), gone);
    }

private:
    ServedCore m_served; // stopped once the link below is closed
    std::unique_ptr<bus::AdapterLink> m_link;
    std::string m_error;
    std::uint64_t m_written = 0;
};

std::unique_ptr<bus::AdapterLink> ptyLink(sim::adapter::AdapterCore& core) {
    return std::make_unique<ServedLink>(core, false);
}

std::unique_ptr<bus::AdapterLink> tcpLink(sim::adapter::AdapterCore& core) {
    return std::make_unique<ServedLink>(core, true);
}
#endif

std::unique_ptr<bus::GpibDriver> adapterDriver(sim::adapter::AdapterCore& core, const AdapterSide& side) {
    if (side.ownersSetUp)
        side.ownersSetUp(core);
    std::unique_ptr<bus::AdapterLink> link = side.link(core);
    const auto identity = bus::identifyAdapter(*link);
    if (!identity)
        throw std::runtime_error("no adapter answers on " + link->where());
    return std::make_unique<bus::AdapterDriver>(std::move(link), *identity);
}

} // namespace

const std::vector<AdapterSide>& adapterSides() {
    static const std::vector<AdapterSide> sides{
        {"BenchPrologix", &sim::adapter::prologixProfile(), benchLink},
        {"BenchAr488", &sim::adapter::ar488Profile(), benchLink},
        {"BenchAr488Old", &sim::adapter::ar488OldProfile(), benchLink},
        // Left by its owner in verbose mode, with every handshake flag and a Prologix's version
        // text for other software.
        {"BenchAr488SetUpByItsOwner", &sim::adapter::ar488Profile(), benchLink,
         [](sim::adapter::AdapterCore& core) {
             core.fromHost("++flags 7\n++id verstr Prologix GPIB-USB Controller version 6.107\n");
             core.setVerbose(true);
         }},
#ifndef _WIN32
        {"PtyPrologix", &sim::adapter::prologixProfile(), ptyLink},
        {"TcpPrologixEthernet", &sim::adapter::prologixEthernetProfile(), tcpLink},
        {"PtyAr488", &sim::adapter::ar488Profile(), ptyLink},
#endif
    };
    return sides;
}

#ifndef _WIN32
ServedCore::ServedCore(sim::adapter::AdapterCore& core, bool tcp) {
    if (tcp) {
        m_tcp = std::make_unique<sim::adapter::TcpLink>(0);
        m_where = "127.0.0.1:" + std::to_string(m_tcp->port());
        m_server = std::thread([this, &core] { m_tcp->serve(core); });
    } else {
        m_pty = std::make_unique<sim::adapter::PtyLink>();
        m_where = m_pty->path();
        m_server = std::thread([this, &core] { m_pty->serve(core); });
    }
}

void ServedCore::stop() {
    if (!m_server.joinable())
        return;
    if (m_tcp) {
        m_tcp->stop();
    } else {
        m_pty->stop();
    }
    m_server.join();
}
#endif

Bench::Bench(const AdapterSide& side)
    : adapter(std::make_unique<sim::adapter::AdapterCore>(sim, *side.profile)),
      driver(adapterDriver(*adapter, side)) {}

Bench::~Bench() {
    if (!adapter)
        return;
    EXPECT_EQ(adapter->savedWrites(), 0) << "a setting reached the adapter's memory";
    const std::vector<std::string>& told = adapter->settingsCommands();
    if (adapter->profile().ar488) {
        EXPECT_TRUE(std::ranges::none_of(told, [](const std::string& c) {
            return c.starts_with("++savecfg");
        })) << "an AR488 was asked to save";
    } else {
        EXPECT_TRUE(!told.empty() && told.front() == "++savecfg 0") << "the first setting command";
    }
}

bool Bench::bringUp() {
    std::int16_t descriptor = -1;
    std::int16_t address = -1;
    gpib.GpibFind(QStringLiteral("GPIB0"), &descriptor);
    bool ok = !gpib.status().failed();
    gpib.GpibAsk(descriptor, bus::ni::IbaPAD, address);
    ok = ok && !gpib.status().failed();
    gpib.GpibSendIFC(0);
    ok = ok && !gpib.status().failed();
    gpib.GpibSre(descriptor, 1);
    ok = ok && !gpib.status().failed();
    gpib.GpibTmo(descriptor, bus::ni::T3s);
    return ok && !gpib.status().failed();
}

std::vector<std::string> traceCalls(const std::vector<std::string>& trace) {
    std::vector<std::string> calls;
    std::copy_if(trace.begin(), trace.end(), std::back_inserter(calls),
                 [](const std::string& line) { return line.find(" -> 0x") != std::string::npos; });
    return calls;
}

std::vector<std::string> trafficCalls(const bus::TrafficLog& traffic) {
    std::vector<std::string> calls;
    for (const bus::CallRecord& record : traffic.since(0))
        calls.push_back(bus::calltext::line(
            record.call, bus::CallOutcome{record.status.ibsta, record.status.iberr, record.status.ibcntl}));
    return calls;
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
    static const std::regex send(R"re(^Send\(\d+, \d+, "(.*)", \d+, \w+\))re");
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
