// The units on the bus's lines against a controller that drives them as the AR488 firmware does.
#include "sim/units/families.h"
#include "sim/wire/gpiblines.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ktq::sim::test {
namespace {

using L = GpibLines;

// Makes an exchange through the byte-level calls as a board does (pinByPin -1), or on the lines,
// handshake by handshake as the firmware's sendCmd, sendData, receiveData and readByte do. Where
// the firmware would wait out its timeout this one stops at once: nothing changes on the units'
// side without a pin change. Pin by pin (1), the units hear of each pin of a port write alone.
class Controller {
public:
    Controller(WireBus& bus, int pinByPin) : m_bus(bus), m_pinByPin(pinByPin == 1) {
        if (pinByPin >= 0)
            m_units.emplace(bus);
    }
    GpibLines unitsEver;

    void command(std::string_view bytes) {
        if (!m_units)
            return m_bus.command(bytes);
        set([](L& l) { l.atn = true, l.nrfd = l.ndac = false; }); // CCMS
        for (char byte : bytes)
            writeByte(byte, false);
    }
    // Without EOI, as 0.51.09 sends: EOI alone after the last byte.
    void send(std::string_view bytes, bool eoi) {
        if (!m_units)
            return void(m_bus.write(bytes, eoi));
        set([](L& l) { l.atn = false; }); // CTAS
        for (std::size_t i = 0; i < bytes.size(); ++i)
            writeByte(bytes[i], eoi && i + 1 == bytes.size());
        for (bool pulse : {!eoi, false})
            set([pulse](L& l) { l.eoi = pulse; });
    }
    std::string receive(std::size_t most) {
        if (!m_units)
            return m_bus.read(most, -1, true, {}).bytes;
        set([](L& l) { l.atn = false; }); // CLAS: ATN, then the handshake lines
        set([](L& l) { l.nrfd = l.ndac = true; });
        std::string got;
        for (bool eoi = false; got.size() < most && !eoi;) {
            set([](L& l) { l.nrfd = false; });
            if (!seen().dav)
                break; // nobody talks: the firmware waits out its timeout
            set([](L& l) { l.nrfd = true; });
            got += static_cast<char>(seen().data);
            eoi = seen().eoi;
            set([](L& l) { l.ndac = false; });
            if (seen().dav)
                break;
            set([](L& l) { l.ndac = true; });
        }
        set([](L& l) { l.nrfd = l.ndac = false; }); // CIDS
        return got;
    }
    // What the controller finds in standby: a listener's NDAC, and SRQ.
    std::string standby() {
        m_units ? set([](L& l) { l.atn = false; }) : m_bus.setAttention(false);
        const GpibLines found = m_units ? seen() : L{.ndac = m_bus.ndacHeld(), .srq = m_bus.srqAsserted()};
        return {found.ndac ? 'L' : '-', found.srq ? 'S' : '-'};
    }
    void ifc() {
        m_units ? set([](L& l) { l.ifc = true; }) : m_bus.interfaceClear();
        set([](L& l) { l.ifc = false; });
    }
    void ren(bool on) {
        m_units ? set([on](L& l) { l.ren = on; }) : m_bus.remoteEnable(on);
    }

private:
    GpibLines seen() const { return m_mine | m_units->unitsDrive(); }
    void writeByte(char byte, bool eoi) {
        if (!seen().ndac || seen().nrfd)
            return;
        set([byte](L& l) { l.data = static_cast<std::uint8_t>(byte); });
        set([eoi](L& l) { l.dav = true, l.eoi = eoi; });
        if (seen().nrfd && !seen().ndac)
            set([](L& l) { l.dav = l.eoi = false; });
        set([](L& l) { l.data = 0; }); // left driven high
    }
    void set(const std::function<void(L&)>& change) {
        if (!m_units)
            return;
        GpibLines next = m_mine;
        change(next);
        static constexpr bool L::*pins[] = {&L::ifc, &L::ndac, &L::nrfd, &L::dav, &L::eoi, &L::ren, &L::atn};
        for (int bit = 0; m_pinByPin && bit < 8; ++bit) {
            m_mine.data ^= (m_mine.data ^ next.data) & (1 << bit);
            drive();
        }
        for (auto pin : pins) {
            m_mine.*pin = m_pinByPin ? next.*pin : m_mine.*pin;
            drive();
        }
        m_mine = next;
        drive();
    }
    void drive() { unitsEver = unitsEver | m_units->controllerDrives(m_mine); }

    WireBus& m_bus;
    bool m_pinByPin = false;
    std::optional<UnitsOnLines> m_units;
    GpibLines m_mine;
};

std::string ask(Controller& c, const char* listen, const char* text, bool eoi, const char* talk) {
    c.command(listen);
    c.send(text, eoi);
    c.command(talk);
    return c.receive(100) + "|";
}

// Each returns what the controller read or found.
const std::vector<std::function<std::string(Controller&)>> exchanges = {
    [](Controller& c) { // a 7174 at 5 asked for its address, then a query it does not know
        return ask(c, "?_%", "SYST:COMM:GPIB:ADDR?\n", true, "?_E") + ask(c, "?_%", "*IDN?\n", true, "?_E");
    },
    [](Controller& c) { // the 7189's first channel, behind secondary 11
        return ask(c, "?_)k", "*ESE?\n", false, "?_Ik");
    },
    [](Controller& c) { // a serial poll of a unit asking for service: MAV enabled, a reply waiting
        c.command("?_%");
        c.send("*SRE 16\n*ESE?\n", true);
        std::string found = c.standby();
        c.command("? \x18\x45");
        found += c.receive(1);
        c.command("\x19_?");
        return found;
    },
    [](Controller& c) { // listeners: nobody at 6, the 7174 at 5, the 7189 only behind secondaries
        std::string found;
        for (const char* address : {"?_&", "?_%", "?_)", "?_)m"}) {
            c.command(address);
            found += c.standby();
        }
        c.ren(true);
        c.ifc();
        c.ren(false);
        return found + c.standby();
    },
};

TEST(UnitsOnLines, AnswerTheFirmwaresHandshakeAsABoardsCalls) {
    for (const int pinByPin : {0, 1}) {
        for (std::size_t i = 0; i < exchanges.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "exchange " << i << (pinByPin ? ", pin by pin" : ""));
            WireBus direct, lines, empty;
            for (WireBus* bus : {&direct, &lines, &empty}) {
                for (const auto& [primary, model] : {std::pair{5, "7174"}, std::pair{9, "7189"}})
                    if (bus != &empty)
                        bus->addUnit(primary, *findModel(model));
                bus->setEventLog(true);
            }
            Controller board(direct, -1), firmware(lines, pinByPin), alone(empty, pinByPin);
            EXPECT_EQ(exchanges[i](firmware), exchanges[i](board));
            lines.flushEvents(), direct.flushEvents();
            EXPECT_EQ(lines.events(), direct.events());
            exchanges[i](alone); // nobody answers: only IFC and REN reach the bus
            EXPECT_EQ(alone.unitsEver, GpibLines{});
            for (const std::string& event : empty.events())
                EXPECT_TRUE(event == "IFC" || event.starts_with("REN")) << event;
        }
    }
}

} // namespace
} // namespace ktq::sim::test
