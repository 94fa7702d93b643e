// The function tables of the kinds of simulated unit.
#include "sim/units/families.h"

#include <algorithm>
#include <memory>

namespace ktq::sim {

namespace {

Property addressFunction(bool takes31) {
    Property property;
    property.header = "SYST:COMM:GPIB:ADDR";
    property.accepts = {integerRange(0, takes31 ? 31 : 30)};
    property.address = true;
    return property;
}

Property setting(std::string header, std::string defaultValue, std::vector<ValueRule> accepts,
                 bool perChannel = false) {
    Property property;
    property.header = std::move(header);
    property.defaultValue = std::move(defaultValue);
    property.accepts = std::move(accepts);
    property.perChannel = perChannel;
    return property;
}

// Values the prompts of the tables name.
ValueRule onOff() {
    return integerRange(0, 1);
}
ValueRule baudTo38400() {
    return integerSet({300, 600, 1200, 2400, 4800, 9600, 19200, 38400});
}
ValueRule baudTo115200() {
    return integerSet({300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200});
}
ValueRule dataBits() {
    return integerSet({7, 8});
}
ValueRule stopBits() {
    return integerSet({1, 2});
}
ValueRule parity() {
    return choice({"ODD", "EVEN", "NONE"});
}
ValueRule byteValue() {
    return integerRange(0, 255);
}
ValueRule volts() {
    return fixedPoint(-99.9999, 99.9999, 4, true);
}
ValueRule uniBipolar() {
    return integerSet({1, 2});
}

// *ESE and *SRE, which several tables list, are common commands of every unit and are handled
// beside the tables.
const Family& simpleFamily() {
    static const Family family{"simple", {addressFunction(true)}};
    return family;
}

// The parallel units differ only in how many bytes a string may have.
Family parallelFamily(int stringBytes) {
    const std::string wholeString = "(@1:" + std::to_string(stringBytes) + ")";
    return Family{"parallel " + std::to_string(stringBytes),
                  {
                      addressFunction(false),
                      setting("SYST:COMM:GPIB:ADDR:EXT", "0", {onOff()}),
                      setting("CONF:INP", wholeString, {channelList(stringBytes)}),
                      setting("CONF:INP:POL", "1", {onOff()}),
                      setting("CONF:INP:HAND", "1", {onOff()}),
                      setting("CONF:EDR", "1", {onOff()}),
                      setting("CONF:INH", "0", {onOff()}),
                      setting("FORM:TALK", "ASCII", {choice({"ASCii", "HEXL", "HEX", "TABLe"})}),
                      setting("FORM:TALK:TRANS", "0123456789ABCDEF", {text(16, 16)}),
                      setting("CONF:OUT", wholeString, {channelList(stringBytes)}),
                      setting("CONF:OUT:POL", "1", {onOff()}),
                      setting("CONF:OUT:HAND", "1", {onOff()}),
                      setting("CONF:STROBE", "0", {onOff()}),
                      setting("FORM:LIST", "ASCII", {choice({"ASCii", "HEXL", "HEX", "7116", "BIN"})}),
                      setting("CONF:REM", "0", {onOff()}),
                      setting("CONF:RES", "1", {onOff()}),
                      setting("CONF:TRIG", "1", {onOff()}),
                      setting("CONF:ASTATUS", "1", {onOff()}),
                      setting("CONF:BSTATUS", "1", {onOff()}),
                  }};
}

const Family& parallel5() {
    static const Family family = parallelFamily(5);
    return family;
}
const Family& parallel6() {
    static const Family family = parallelFamily(6);
    return family;
}
const Family& parallel7() {
    static const Family family = parallelFamily(7);
    return family;
}
const Family& parallel16() {
    static const Family family = parallelFamily(16);
    return family;
}

// Serial units with Mode and Emulation; the smaller one lacks Swap and Tristate and stops at 38400 baud.
Family modeSerialFamily(bool full) {
    Family family{full ? "serial mode" : "serial mode 38400",
                  {
                      setting("SYST:MODE", "G", {choice({"G", "S"})}),
                      setting("SYST:EMUL", "KTQ", {choice({"KTQ", "NI"})}),
                      addressFunction(true),
                      setting("SYST:COMM:SER:BAUD", "9600", {full ? baudTo115200() : baudTo38400()}),
                      setting("SYST:COMM:SER:BITS", "8", {dataBits()}),
                      setting("SYST:COMM:SER:PAR", "NONE", {parity()}),
                      setting("SYST:COMM:SER:PAR:CHECK", "0", {onOff()}),
                      setting("SYST:COMM:SER:SBIT", "1", {stopBits()}),
                      setting("SYST:COMM:SER:PACE", "NONE", {choice({"NONE", "XON"})}),
                  }};
    if (full)
        family.properties.push_back(
            setting("SYST:COMM:GPIB:SWAP", "NONE", {choice({"TIME", "CR", "LF", "NONE"})}));
    family.properties.push_back(setting("SYST:COMM:SER:EOM", "10", {byteValue()}));
    family.properties.push_back(setting("SYST:COMM:SER:ADD:ENAB", "0", {onOff()}));
    family.properties.push_back(setting("SYST:COMM:SER:ADD:CHAR", "13", {byteValue()}));
    family.properties.push_back(setting("SYST:COMM:SER:EOI", "1", {onOff()}));
    if (full)
        family.properties.push_back(setting("SYST:COMM:SER:RS485", "0", {onOff()}));
    return family;
}

const Family& modeSerial() {
    static const Family family = modeSerialFamily(true);
    return family;
}
const Family& modeSerial38400() {
    static const Family family = modeSerialFamily(false);
    return family;
}

// Four serial ports, each its own set of settings; the address belongs to the whole unit.
const Family& fourChannelSerial() {
    static const Family family{
        "serial four channel",
        {
            addressFunction(true),
            setting("SYST:COMM:GPIB:BUFS", "8",
                    {integerSet({8, 12, 16, 20, 24, 28, 32, 36, 40, 44, 48, 52}, "K")}, true),
            setting("SYST:COMM:SER:BAUD", "9600", {baudTo115200()}, true),
            setting("SYST:COMM:SER:BITS", "8", {dataBits()}, true),
            setting("SYST:COMM:SER:PAR", "NONE", {parity()}, true),
            setting("SYST:COMM:SER:PAR:CHECK", "0", {onOff()}, true),
            setting("SYST:COMM:SER:SBIT", "1", {stopBits()}, true),
            setting("SYST:COMM:SER:PACE", "NONE", {choice({"NONE", "XON"})}, true),
            setting("SYST:COMM:SER:EOM", "10", {byteValue()}, true),
            setting("SYST:COMM:SER:ADD:ENAB", "0", {onOff()}, true),
            setting("SYST:COMM:SER:ADD:CHAR", "13", {byteValue()}, true),
            setting("SYST:COMM:SER:EOI", "1", {onOff()}, true),
        }};
    return family;
}

// Serial units with Async/Standard/Smart and a calibration date; the larger adds RS-485 and an
// external end-of-message character.
Family smartSerialFamily(bool withRs485) {
    Family family{withRs485 ? "serial smart rs485" : "serial smart",
                  {
                      addressFunction(true),
                      setting("SYST:MODE", "ASYNC", {choice({"ASYNc", "STANdard", "SMARt"})}),
                      setting("SYST:COMM:SER:BAUD", "9600", {baudTo38400()}),
                      setting("SYST:COMM:SER:BITS", "8", {dataBits()}),
                      setting("SYST:COMM:SER:PAR", "NONE", {parity()}),
                      setting("SYST:COMM:SER:SBIT", "1", {stopBits()}),
                      setting("SYST:COMM:SER:TIME", "1000", {integerRange(25, 65535, "MS")}),
                  }};
    if (withRs485) {
        family.properties.push_back(setting("SYST:COMM:SER:RS485", "0", {onOff()}));
        family.properties.push_back(setting("SYST:COMM:SER:EOMchr", "0A", {hexByte()}));
    }
    family.properties.push_back(setting("SYST:COMM:GPIB:ADD:CHAR", "0D", {hexByte()}));
    family.properties.push_back(setting("SYST:COMM:GPIB:ADD:ENAB", "0", {onOff()}));
    family.properties.push_back(setting("CAL:DATE", "01/01/2000", {date()}));
    return family;
}

const Family& smartSerial() {
    static const Family family = smartSerialFamily(false);
    return family;
}
const Family& smartSerialRs485() {
    static const Family family = smartSerialFamily(true);
    return family;
}

Family printerFamily(bool withIdle) {
    Family family{withIdle ? "printer idle" : "printer",
                  {
                      setting("SYST:EMUL", "KTQ", {choice({"KTQ", "NI"})}),
                      setting("SYST:MODE", "G", {choice({"G", "P"})}),
                      addressFunction(true),
                      setting("SYST:COMM:GPIB:FORM", "1", {onOff()}),
                      setting("SYST:COMM:GPIB:PLOT", "0", {onOff()}),
                  }};
    if (withIdle)
        family.properties.push_back(setting("SYST:COMM:GPIB:IDLE", "0", {onOff()}));
    family.properties.push_back(
        setting("SYST:PMOD", "DEVICE", {choice({"CONTroller", "DEVice", "TALK ONLY"})}));
    return family;
}

const Family& printer() {
    static const Family family = printerFamily(false);
    return family;
}
const Family& printerIdle() {
    static const Family family = printerFamily(true);
    return family;
}

// Outputs and inputs per channel; address and fault output belong to the whole unit.
const Family& analogIo() {
    static const Family family{"analog io",
                               {
                                   addressFunction(true),
                                   setting("SYST:COMM:GPIB:ADDR:EXT", "0", {onOff()}),
                                   setting("VOLT:OFFSET", "+0.0000", {volts()}, true),
                                   setting("VOLT:SLOPe", "+1.0000", {volts()}, true),
                                   setting("VOLT:LIMit", "10.0000", {fixedPoint(0, 99.9999, 4, false)}, true),
                                   setting("VOLT:POL", "1", {uniBipolar()}, true),
                                   setting("VOLT", "+0.0000", {volts()}, true),
                                   setting("OUTP:POL", "0", {onOff()}, true),
                                   setting("OUTP:STATE", "0", {onOff()}, true),
                                   setting("MEAS:RANGE", "10", {numberSet({"10", "1", "0.1"})}, true),
                                   setting("MEAS:POL", "2", {uniBipolar()}, true),
                                   setting("MEAS:AVER", "1", {integerRange(1, 50)}, true),
                                   setting("CAL:FAULT", "1", {onOff()}),
                               }};
    return family;
}

Family modbusFamily(bool withExtendedAddress) {
    Family family{withExtendedAddress ? "modbus ext" : "modbus", {addressFunction(true)}};
    if (withExtendedAddress)
        family.properties.push_back(setting("SYST:COMM:GPIB:ADDR:EXT", "0", {onOff()}));
    for (Property property : {
             setting("SYST:COMM:SER:BAUD", "9600", {baudTo38400()}),
             setting("SYST:COMM:SER:BITS", "8", {dataBits()}),
             setting("SYST:COMM:SER:PAR", "NONE", {parity()}),
             setting("SYST:COMM:SER:SBIT", "1", {stopBits()}),
             setting("SYST:COMM:SER:RS485", "0", {onOff()}),
             setting("FORM:TALK", "ASCII", {choice({"ASCii", "HEXL"})}),
             setting("D", "100", {integerRange(50, 1000, "MS")}),
             setting("C", "1", {integerRange(1, 250)}),
             setting("CAL:DATE", "01/01/2000", {date()}),
         })
        family.properties.push_back(std::move(property));
    return family;
}

const Family& modbusExt() {
    static const Family family = modbusFamily(true);
    return family;
}
const Family& modbus() {
    static const Family family = modbusFamily(false);
    return family;
}

// The demo table is the union of all tables: a header found in several takes what any of them
// takes and keeps the delivery value of the first.
Family mergeAll(const std::vector<const Family*>& families) {
    Family merged{"demo", {}};
    for (const Family* family : families) {
        for (const Property& property : family->properties) {
            auto same =
                std::find_if(merged.properties.begin(), merged.properties.end(), [&](const Property& p) {
                    return upperCase(p.header) == upperCase(property.header);
                });
            if (same == merged.properties.end()) {
                merged.properties.push_back(property);
                continue;
            }
            same->accepts.insert(same->accepts.end(), property.accepts.begin(), property.accepts.end());
            same->perChannel = same->perChannel || property.perChannel;
        }
    }
    return merged;
}

ModelFacts model(std::string text, const Family& family) {
    ModelFacts facts;
    facts.text = std::move(text);
    facts.family = &family;
    return facts;
}

} // namespace

const std::vector<ModelFacts>& knownModels() {
    static const std::vector<ModelFacts> models = [] {
        struct Row {
            const char* text;
            const Family& family;
            bool triggerGate = false;
            int channels = 1;
            ChannelAccess access = ChannelAccess::None;
        };
        const Row rows[] = {
            {"7121", parallel5()},
            {"7134A", modeSerial(), true},
            {"7134B", modeSerial(), true},
            {"7142", smartSerial()},
            {"7147", simpleFamily()},
            {"7150", smartSerialRs485()},
            {"7153", modbusExt()},
            {"7153A", modbusExt()},
            {"7158", parallel16()},
            {"7160", smartSerial()},
            {"7162", modbus()},
            {"7162A", modbus()},
            {"7165B", parallel7()},
            {"7168A", modbusExt()},
            {"7170A", analogIo(), false, 4, ChannelAccess::ChannelCommand},
            {"7170B", analogIo(), false, 4, ChannelAccess::ChannelCommand},
            {"7172", parallel6()},
            {"7174", simpleFamily()},
            {"7176", smartSerial()},
            {"7179", simpleFamily()},
            {"7181A", printer(), true},
            {"7181B", printerIdle(), true},
            {"7185A", modeSerial(), true},
            {"7185B", modeSerial(), true},
            {"7187", modeSerial38400(), true},
            {"7189", fourChannelSerial(), false, 4, ChannelAccess::SecondaryAddress},
            {"7199", modbus()},
            {"7199A", modbus()},
        };
        std::vector<ModelFacts> list;
        for (const Row& row : rows) {
            ModelFacts facts = model(row.text, row.family);
            facts.triggerGate = row.triggerGate;
            facts.channels = row.channels;
            facts.channelAccess = row.access;
            list.push_back(std::move(facts));
        }
        return list;
    }();
    return models;
}

const ModelFacts& demoModel() {
    static const ModelFacts demo = [] {
        std::vector<const Family*> families;
        for (const ModelFacts& facts : knownModels())
            if (std::find(families.begin(), families.end(), facts.family) == families.end())
                families.push_back(facts.family);
        static const Family merged = mergeAll(families);
        ModelFacts facts = model("demo", merged);
        facts.channels = 4;
        facts.channelAccess = ChannelAccess::Both;
        return facts;
    }();
    return demo;
}

const ModelFacts* findModel(std::string_view text) {
    const std::string wanted = upperCase(trimBlanks(text));
    if (wanted == "DEMO")
        return &demoModel();
    const auto& models = knownModels();
    for (const ModelFacts& facts : models)
        if (upperCase(facts.text) == wanted)
            return &facts;
    for (const ModelFacts& facts : models)
        if (wanted.size() == 4 && facts.text.substr(0, 4) == wanted)
            return &facts;
    return nullptr;
}

} // namespace ktq::sim
