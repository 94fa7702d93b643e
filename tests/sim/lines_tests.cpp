// The units on the bus's lines against a controller that drives them as the AR488 firmware does.
#include "sim/units/families.h"
#include "sim/wire/gpiblines.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace ktq::sim::test {
namespace {

// The firmware's handshake, step by step (AR488_GPIBbus.cpp: writeByte, readByte, setControls).
// Where the firmware would wait out its timeout the script gives up at once: nothing on the
// units' side changes without a pin change. Pin by pin, each register write reaches the units
// one pin at a time, as an emulated port may report it.
class Firmware {
public:
    Firmware(WireBus& bus, bool pinByPin) : m_units(bus), m_pinByPin(pinByPin) {}
    GpibLines seen() const { return m_mine | m_units.unitsDrive(); }
    GpibLines unitsEver;

    void set(const std::function<void(GpibLines&)>& change) {
        GpibLines next = m_mine;
        change(next);
        static constexpr bool GpibLines::*pins[] = {&GpibLines::ifc, &GpibLines::ndac, &GpibLines::nrfd,
                                                    &GpibLines::dav, &GpibLines::eoi,  &GpibLines::ren,
                                                    &GpibLines::atn};
        for (int bit = 0; m_pinByPin && bit < 8; ++bit)
            drive([&](GpibLines& l) { l.data = (l.data & ~(1 << bit)) | (next.data & (1 << bit)); });
        for (auto pin : pins)
            if (m_pinByPin)
                drive([&](GpibLines& l) { l.*pin = next.*pin; });
        drive([&](GpibLines& l) { l = next; });
    }
    bool writeByte(char byte, bool eoi) {
        if (!seen().ndac || seen().nrfd)
            return false;
        set([&](GpibLines& l) { l.data = static_cast<std::uint8_t>(byte); });
        set([&](GpibLines& l) { l.dav = true, l.eoi = eoi; });
        if (!seen().nrfd || seen().ndac)
            return false;
        set([](GpibLines& l) { l.dav = l.eoi = false; });
        set([](GpibLines& l) { l.data = 0; }); // left driven high
        return true;
    }
    std::string receive(std::size_t most) { // CLAS, readByte until EOI, CIDS
        set([](GpibLines& l) { l.atn = false, l.nrfd = l.ndac = true; });
        std::string got;
        bool eoi = false;
        while (got.size() < most && !eoi) {
            set([](GpibLines& l) { l.nrfd = false; });
            if (!seen().dav)
                break;
            set([](GpibLines& l) { l.nrfd = true; });
            got += static_cast<char>(seen().data);
            eoi = seen().eoi;
            set([](GpibLines& l) { l.ndac = false; });
            if (seen().dav)
                break;
            set([](GpibLines& l) { l.ndac = true; });
        }
        set([](GpibLines& l) { l.nrfd = l.ndac = false; });
        return got;
    }

private:
    void drive(const std::function<void(GpibLines&)>& change) {
        change(m_mine);
        unitsEver = unitsEver | m_units.controllerDrives(m_mine);
    }
    UnitsOnLines m_units;
    bool m_pinByPin;
    GpibLines m_mine;
};

enum class Op { Command, Ndac, Send, SendEoiAfter, Receive, Poll, Srq, Ifc, Ren, RenOff };
struct Step {
    Op op;
    std::string bytes = {};
};

struct Outcome {
    std::string seen; // bytes read, NDAC and SRQ as the controller found them
    std::vector<std::string> events;
    GpibLines unitsEver;
};

// The steps on the lines (pinByPin 0 or 1) or, as a board does, through the byte-level calls (-1).
Outcome run(WireBus& bus, const std::vector<Step>& steps, int pinByPin) {
    Firmware fw(bus, pinByPin == 1);
    std::string seen;
    for (const Step& s : steps) {
        const bool lines = pinByPin >= 0;
        const auto send = [&](bool eoi) { // CTAS, bytes, CIDS
            fw.set([](GpibLines& l) { l.atn = l.nrfd = l.ndac = false; });
            for (std::size_t i = 0; i < s.bytes.size(); ++i)
                fw.writeByte(s.bytes[i], eoi && i + 1 == s.bytes.size());
        };
        if (s.op == Op::Command && lines) {
            fw.set([](GpibLines& l) { l.atn = true, l.nrfd = l.ndac = false; });
            for (char byte : s.bytes)
                fw.writeByte(byte, false);
        } else if (s.op == Op::Command) {
            bus.command(s.bytes);
        } else if (s.op == Op::Ndac) {
            lines ? fw.set([](GpibLines& l) { l.atn = false; }) : bus.setAttention(false);
            seen += (lines ? fw.seen().ndac : bus.ndacHeld()) ? "L" : "-";
        } else if (s.op == Op::Send || s.op == Op::SendEoiAfter) {
            const bool withLast = s.op == Op::Send;
            lines ? send(withLast) : void(bus.write(s.bytes, withLast));
            if (lines && !withLast) { // 0.51.09: EOI alone after the last byte
                fw.set([](GpibLines& l) { l.eoi = true; });
                fw.set([](GpibLines& l) { l.eoi = false; });
            }
        } else if (s.op == Op::Receive || s.op == Op::Poll) {
            const std::size_t most = s.op == Op::Poll ? 1 : 100;
            seen += lines ? fw.receive(most) : bus.read(most, -1, true, std::chrono::microseconds(0)).bytes;
        } else if (s.op == Op::Srq) {
            seen += (lines ? fw.seen().srq : bus.srqAsserted()) ? "S" : "-";
        } else if (s.op == Op::Ifc) {
            lines ? fw.set([](GpibLines& l) { l.ifc = true; }) : bus.interfaceClear();
            if (lines)
                fw.set([](GpibLines& l) { l.ifc = false; });
        } else {
            lines ? fw.set([&](GpibLines& l) { l.ren = s.op == Op::Ren; })
                  : bus.remoteEnable(s.op == Op::Ren);
        }
    }
    bus.flushEvents();
    return {seen, bus.events(), fw.unitsEver};
}

const std::vector<std::vector<Step>> exchanges = {
    // A 7174 at 5 asked for its address; then a query it does not know, nothing to read.
    {{Op::Command, "?_%"},
     {Op::Send, "SYST:COMM:GPIB:ADDR?\n"},
     {Op::Command, "?_E"},
     {Op::Receive},
     {Op::Command, "?_%"},
     {Op::Send, "*IDN?\n"},
     {Op::Command, "?_E"},
     {Op::Receive},
     {Op::Command, "?_"}},
    // Serial poll of a unit asking for service (MAV enabled, a reply waiting).
    {{Op::Command, "?_%"},
     {Op::Send, "*SRE 16\n"},
     {Op::Send, "*ESE?\n"},
     {Op::Srq},
     {Op::Command, "? \x18"
                   "E"},
     {Op::Poll},
     {Op::Command, "\x19_?"},
     {Op::Srq}},
    // The 7189's first channel behind secondary 11; EOI as a separate pulse (0.51.09).
    {{Op::Command, "?_)k"}, {Op::SendEoiAfter, "*ESE?\n"}, {Op::Command, "?_Ik"}, {Op::Receive}},
    // Listener detection: nobody at 6, the 7174 at 5, the 7189 only behind a secondary address.
    {{Op::Command, "?_&"},
     {Op::Ndac},
     {Op::Command, "?_%"},
     {Op::Ndac},
     {Op::Command, "?_)"},
     {Op::Ndac},
     {Op::Command, "?_)m"},
     {Op::Ndac}},
    {{Op::Ren}, {Op::Command, "?_%"}, {Op::Ifc}, {Op::Ndac}, {Op::RenOff}},
};

TEST(UnitsOnLines, AnswerTheFirmwaresHandshakeAsTheyAnswerABoard) {
    for (int pinByPin : {0, 1}) {
        for (std::size_t i = 0; i < exchanges.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "exchange " << i << (pinByPin ? ", pin by pin" : ""));
            WireBus board, lines;
            for (WireBus* bus : {&board, &lines}) {
                bus->addUnit(5, *findModel("7174"));
                bus->addUnit(9, *findModel("7189"));
                bus->setEventLog(true);
            }
            const Outcome onLines = run(lines, exchanges[i], pinByPin);
            const Outcome direct = run(board, exchanges[i], -1);
            EXPECT_EQ(onLines.seen, direct.seen);
            EXPECT_EQ(onLines.events, direct.events);
        }
    }
}

TEST(UnitsOnLines, AnEmptyBusAssertsNothing) {
    for (const auto& steps : exchanges) {
        WireBus bus;
        bus.setEventLog(true);
        const Outcome outcome = run(bus, steps, 0);
        EXPECT_EQ(outcome.unitsEver, GpibLines{});
        for (const std::string& event : outcome.events)
            EXPECT_TRUE(event == "IFC" || event.starts_with("REN")) << event;
    }
}

} // namespace
} // namespace ktq::sim::test
