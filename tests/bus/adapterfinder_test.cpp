// Choosing between the library's board and a "++" adapter: the operator's setting, the serial
// ports asked and in what order, and what the program is told of the choice.
#include "bus/adapter/adapterdriver.h"
#include "bus/adapter/adapterfinder.h"
#include "bus/driverbases.h"
#include "bus/gpibconstants.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <utility>

namespace ktq::bus {
namespace {

constexpr const char* prologixVersion = "Prologix GPIB-USB Controller version 6.107";
constexpr const char* ar488Version = "AR488 GPIB controller, ver. 0.53.04, 13/04/2025";

// What is at the far end of a port: an adapter answering "++ver", something else that answers
// every line with its own words, or nothing at all.
struct FarEnd {
    explicit FarEnd(std::string version = {}, std::string other = {})
        : versionAnswer(std::move(version)), otherAnswer(std::move(other)) {}
    std::string versionAnswer; // empty: "++ver" gets no answer of an adapter
    std::string otherAnswer;   // what any line gets, where not empty
    std::string written;       // everything the program wrote
    bool unplugged = false;
    std::string firmware = versionAnswer.starts_with("AR488") ? versionAnswer : ""; // "++ver real"
};

class FakeLink final : public AdapterLink {
public:
    FakeLink(std::string where, FarEnd& end) : m_where(std::move(where)), m_end(end) {}
    std::string where() const override { return m_where; }
    bool write(std::string_view bytes) override {
        if (m_end.unplugged) {
            return false;
        }
        m_end.written += bytes;
        for (std::size_t end = bytes.find('\n'); end != std::string_view::npos; end = bytes.find('\n')) {
            const std::string_view line = bytes.substr(0, end);
            bytes.remove_prefix(end + 1);
            if (!m_end.otherAnswer.empty()) {
                m_answers += m_end.otherAnswer + "\r\n";
            } else if (line == "++ver" && !m_end.versionAnswer.empty()) {
                m_answers += m_end.versionAnswer + "\r\n";
            } else if (line == "++ver real" && !m_end.firmware.empty()) {
                m_answers += m_end.firmware + "\r\n";
            } else if ((line == "++mode" || line == "++eoi") && !m_end.versionAnswer.empty()) {
                m_answers += "1\r\n";
            }
        }
        return true;
    }
    // Everything answered comes with the write, so a read never needs to wait.
    std::string read(std::chrono::milliseconds, bool& gone) override {
        gone = m_end.unplugged;
        return std::exchange(m_answers, {});
    }

private:
    std::string m_where;
    FarEnd& m_end;
    std::string m_answers;
};

class FakeOpener final : public LinkOpener {
public:
    std::vector<SerialPortInfo> ports;
    std::map<std::string, FarEnd> ends; // by port name, or "host:port" for TCP
    std::vector<std::string> opened;    // "serial NAME" or "tcp HOST PORT", in order

    std::vector<SerialPortInfo> serialPorts() override { return ports; }
    std::unique_ptr<AdapterLink> openSerial(const std::string& port, std::string& error) override {
        opened.push_back("serial " + port);
        return open(port, error);
    }
    std::unique_ptr<AdapterLink> openTcp(const std::string& host, int port, std::string& error) override {
        opened.push_back("tcp " + host + " " + std::to_string(port));
        return open(host + ":" + std::to_string(port), error);
    }

    std::string allWritten() const {
        std::string all;
        for (const auto& [name, end] : ends) {
            all += end.written;
        }
        return all;
    }

private:
    std::unique_ptr<AdapterLink> open(const std::string& where, std::string& error) {
        const auto end = ends.find(where);
        if (end == ends.end() || end->second.unplugged) {
            error = "No such file or directory";
            return nullptr;
        }
        return std::make_unique<FakeLink>(where, end->second);
    }
};

// The loaded library: its board opens (descriptor 16) or does not, as linux-gpib's does without
// a gpib.conf; or there is no library at all (no family, every call fails).
class FakeLibrary final : public FailingDriver {
public:
    explicit FakeLibrary(bool boardOpens, std::string_view family = "linux-gpib")
        : FailingDriver(family, ni::EDVR, 2), m_boardOpens(boardOpens) {}
    int ibfind(const char*) override {
        ++finds;
        return m_boardOpens ? 16 : -1;
    }
    int finds = 0;

private:
    bool m_boardOpens;
};

struct Finder {
    explicit Finder(std::string setting = {}, bool boardOpens = false,
                    std::string_view family = "linux-gpib") {
        auto ownedLibrary = std::make_unique<FakeLibrary>(boardOpens, family);
        library = ownedLibrary.get();
        auto ownedOpener = std::make_unique<FakeOpener>();
        opener = ownedOpener.get();
        finder = std::make_unique<AdapterFinder>(std::move(ownedLibrary), std::move(ownedOpener),
                                                 AdapterSearch{std::move(setting), true}, log);
    }
    void addPort(const std::string& name, int vendor, int product, FarEnd end) {
        opener->ports.push_back(SerialPortInfo{name, vendor, product, {}});
        opener->ends[name] = std::move(end);
    }
    int find() { return finder->ibfind("GPIB0"); }

    std::ostringstream log;
    FakeLibrary* library = nullptr;
    FakeOpener* opener = nullptr;
    std::unique_ptr<AdapterFinder> finder;
};

constexpr int ftdi = 0x0403;
constexpr int ft232r = 0x6001;
constexpr int someUsbVendor = 0x1a86;

// The setting names the one adapter used: TCP by default on the GPIB-ETHERNET's port 1234, or a
// serial port by path or COM name. The library's board is never tried, nor any other port.
TEST(AdapterFinder, TheSettingNamesTheOneAdapterTried) {
    const struct {
        std::string setting;
        std::string opens;
        std::string endName;
    } cases[] = {
        {"lab-gpib", "tcp lab-gpib 1234", "lab-gpib:1234"},
        {"lab-gpib:1234", "tcp lab-gpib 1234", "lab-gpib:1234"},
        {" 10.0.0.7:5000 ", "tcp 10.0.0.7 5000", "10.0.0.7:5000"},
        {"[fe80::1]:1234", "tcp fe80::1 1234", "fe80::1:1234"},
        {"/dev/ttyUSB3", "serial /dev/ttyUSB3", "/dev/ttyUSB3"},
        {"COM5", "serial COM5", "COM5"},
        {R"(\\.\COM12)", R"(serial \\.\COM12)", R"(\\.\COM12)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        Finder f(c.setting, /*boardOpens=*/true);
        f.addPort("/dev/ttyUSB0", ftdi, ft232r, FarEnd{prologixVersion});
        f.opener->ends[c.endName] = FarEnd{ar488Version};

        EXPECT_EQ(f.find(), 0);
        EXPECT_EQ(f.finder->ThreadIbsta() & ni::ERR, 0);
        EXPECT_EQ(f.library->finds, 0) << "the board is not tried";
        EXPECT_EQ(f.opener->opened, std::vector<std::string>{c.opens});
        EXPECT_EQ(f.opener->ends["/dev/ttyUSB0"].written, "");
        EXPECT_EQ(f.finder->family(), adapterFamily);
        EXPECT_NE(f.finder->linkDescription().find("AR488 0.53.04 on "), std::string::npos)
            << f.finder->linkDescription();
    }
}

// A setting that names nothing usable fails ibfind as a driver failure, says why on the log, and
// the advice is the adapter's; nothing else is tried.
TEST(AdapterFinder, ASettingThatCannotBeUsedFailsIbfindAndSaysWhy) {
    const struct {
        std::string setting;
        std::string saysWhy;
    } cases[] = {
        {"lab-gpib:0", "the port must be a number from 1 to 65535"},
        {"lab-gpib:http", "the port must be a number from 1 to 65535"},
        {":1234", "no host, device path or COM port is named"},
        {"[::1", "lacks its \"]\""},
        {"/dev/ttyUSB9", "/dev/ttyUSB9 (KTQ_GPIB_ADAPTER) cannot be opened: No such file or directory"},
        {"/dev/ttyS0", "nothing on /dev/ttyS0 (KTQ_GPIB_ADAPTER) answers \"++ver\" as a GPIB adapter"},
        {"/dev/ttyUSB1", "nothing on /dev/ttyUSB1"}, // a unit's own USB port, answering its own words
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        Finder f(c.setting, /*boardOpens=*/true);
        f.opener->ends["/dev/ttyS0"] = FarEnd{};
        f.opener->ends["/dev/ttyUSB1"] = FarEnd{{}, "KEITHLEY INSTRUMENTS"};
        EXPECT_LT(f.find(), 0);
        EXPECT_EQ(f.finder->ThreadIbsta() & ni::ERR, ni::ERR);
        EXPECT_EQ(f.finder->ThreadIberr(), ni::EDVR);
        EXPECT_EQ(f.finder->family(), adapterFamily);
        EXPECT_EQ(f.finder->linkDescription(), "");
        EXPECT_EQ(f.library->finds, 0);
        EXPECT_NE(f.log.str().find(c.saysWhy), std::string::npos) << f.log.str();
        EXPECT_EQ(f.log.str().find('\n'), f.log.str().size() - 1) << "one line";
        // The same reason for the status line: on Windows nobody reads standard error.
        EXPECT_NE(f.log.str().find(f.finder->unreachableReason()), std::string::npos) << f.log.str();
        EXPECT_NE(f.finder->unreachableReason().find(c.saysWhy), std::string::npos);
    }
}

// Without a setting the board comes first: where it opens, no port is opened, let alone written.
TEST(AdapterFinder, ABoardThatOpensIsUsedAndNoPortIsTouched) {
    Finder f({}, /*boardOpens=*/true);
    f.addPort("/dev/ttyUSB0", ftdi, ft232r, FarEnd{prologixVersion});
    EXPECT_EQ(f.find(), 16);
    EXPECT_EQ(f.library->finds, 1);
    EXPECT_TRUE(f.opener->opened.empty());
    EXPECT_EQ(f.opener->allWritten(), "");
    EXPECT_EQ(f.finder->family(), "linux-gpib");
    EXPECT_EQ(f.finder->linkDescription(), "");
    EXPECT_EQ(f.log.str(), "");
}

// Where the board does not open (or no library loaded), the USB serial ports are asked, known
// adapter identities first, and the first that answers as an adapter is used. A port that
// answers with other words, or not at all, is passed over; a port that is no USB port is not
// opened at all.
TEST(AdapterFinder, WithoutABoardTheFirstPortThatAnswersAsAnAdapterIsUsed) {
    const struct {
        const char* name;
        std::string_view family; // the library's: none loaded, or one whose board did not open
    } libraries[] = {{"no library", ""}, {"linux-gpib without a board", "linux-gpib"}};
    for (const auto& library : libraries) {
        SCOPED_TRACE(library.name);
        Finder f({}, false, library.family);
        f.addPort("/dev/ttyS0", -1, -1, FarEnd{prologixVersion}); // never asked: no USB port
        f.addPort("/dev/ttyUSB0", someUsbVendor, 0x7523, FarEnd{});
        f.addPort("/dev/ttyUSB1", someUsbVendor, 0x7523, FarEnd{{}, "KEITHLEY INSTRUMENTS"});
        f.addPort("/dev/ttyACM0", someUsbVendor, 0x7523, FarEnd{ar488Version});
        EXPECT_EQ(f.find(), 0);
        EXPECT_EQ(f.finder->ThreadIbsta() & ni::ERR, 0);
        EXPECT_EQ(f.opener->opened, (std::vector<std::string>{"serial /dev/ttyUSB0", "serial /dev/ttyUSB1",
                                                              "serial /dev/ttyACM0"}));
        EXPECT_EQ(f.opener->ends["/dev/ttyS0"].written, "");
        EXPECT_EQ(f.finder->family(), adapterFamily);
        EXPECT_EQ(f.finder->linkDescription(), "AR488 0.53.04 on /dev/ttyACM0");
        EXPECT_EQ(f.log.str(), "ktqconfig: GPIB adapter: AR488 0.53.04 on /dev/ttyACM0\n");
        // Every later call goes to the adapter.
        int pad = -1;
        f.finder->ibask(0, ni::IbaPAD, &pad);
        EXPECT_EQ(pad, 0);
        EXPECT_EQ(f.finder->ThreadIbsta() & ni::ERR, 0);
    }
}

// Several adapters answering: the known identity (a Prologix's FTDI chip) goes first whatever the
// list's order, and the status text says which others answered and how to choose one.
TEST(AdapterFinder, WhereSeveralAnswerTheTextSaysWhichIsUsedAndHowToChooseAnother) {
    Finder f;
    f.addPort("/dev/ttyACM0", someUsbVendor, 0x7523, FarEnd{ar488Version});
    f.addPort("/dev/ttyUSB4", ftdi, ft232r, FarEnd{prologixVersion});
    EXPECT_EQ(f.find(), 0);
    EXPECT_EQ(f.finder->linkDescription(),
              "Prologix GPIB-USB 6.107 on /dev/ttyUSB4; answering too: AR488 "
              "0.53.04 on /dev/ttyACM0 (set KTQ_GPIB_ADAPTER to choose another)");
    EXPECT_EQ(f.log.str(), "ktqconfig: GPIB adapter: " + f.finder->linkDescription() + "\n");
    EXPECT_NE(f.opener->ends["/dev/ttyUSB4"].written.find("++eot_char 0"), std::string::npos)
        << "the one used is set up";
    EXPECT_EQ(f.opener->ends["/dev/ttyACM0"].written, "++ver\n++ver real\n++eoi\n")
        << "the other is only asked";
}

// No adapter anywhere: ibfind fails as the library's did, with the library's family, so that the
// advice stays the library's (or says there is no driver at all); the log says what was asked.
TEST(AdapterFinder, WhereNoAdapterAnswersTheLibrarysFailureStands) {
    Finder f;
    f.addPort("/dev/ttyUSB0", someUsbVendor, 0x7523, FarEnd{});
    EXPECT_LT(f.find(), 0);
    EXPECT_EQ(f.finder->family(), "linux-gpib");
    EXPECT_EQ(f.finder->ThreadIberr(), ni::EDVR);
    EXPECT_EQ(f.finder->ThreadIbcntl(), 2) << "the library's count, which its advice reads";
    EXPECT_EQ(f.finder->linkDescription(), "");
    EXPECT_EQ(f.log.str(), "ktqconfig: GPIB adapter: none found (asked /dev/ttyUSB0)\n");
}

// An adapter in use is kept while it answers, without asking the other ports again; once it is
// gone (unplugged), the next ibfind lets its port go and looks again, as after plugging it back.
TEST(AdapterFinder, AnAdapterIsKeptWhileItAnswersAndLookedForAgainOnceGone) {
    Finder f;
    f.addPort("/dev/ttyUSB0", ftdi, ft232r, FarEnd{prologixVersion});
    ASSERT_EQ(f.find(), 0);
    ASSERT_EQ(f.find(), 0);
    EXPECT_EQ(f.opener->opened.size(), 1U) << "kept, not opened again";

    f.opener->ends["/dev/ttyUSB0"].unplugged = true;
    f.finder->SendIFC(0);
    EXPECT_EQ(f.finder->ThreadIberr(), ni::EDVR);
    EXPECT_LT(f.find(), 0);
    EXPECT_EQ(f.finder->family(), "linux-gpib");

    f.opener->ends["/dev/ttyUSB0"].unplugged = false;
    EXPECT_EQ(f.find(), 0);
    EXPECT_EQ(f.finder->ThreadIbsta() & ni::ERR, 0);
    EXPECT_EQ(f.opener->opened.size(), 3U);
}

// Only USB serial ports are worth asking on Linux; Windows' COM ports all are. Known adapter
// identities go first, the rest keep the system's order.
TEST(AdapterFinder, PortsAreAskedKnownIdentitiesFirst) {
    const std::vector<SerialPortInfo> listed{{"/dev/ttyS0", -1, -1, {}},
                                             {"/dev/ttyUSB0", someUsbVendor, 0x7523, {}},
                                             {"/dev/ttyACM0", 0x2341, 0x0043, {}},
                                             {"/dev/ttyUSB1", ftdi, 0x6015, {}},
                                             {"/dev/ttyUSB2", ftdi, ft232r, {}}};
    const auto names = [](const std::vector<SerialPortInfo>& ports) {
        std::vector<std::string> out;
        for (const SerialPortInfo& port : ports) {
            out.push_back(port.name);
        }
        return out;
    };
    EXPECT_EQ(names(portsToProbe(listed, true)),
              (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB2", "/dev/ttyUSB0", "/dev/ttyUSB1"}));
    EXPECT_EQ(names(portsToProbe(listed, false)),
              (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB2", "/dev/ttyS0", "/dev/ttyUSB0",
                                        "/dev/ttyUSB1"}));
}

} // namespace
} // namespace ktq::bus
