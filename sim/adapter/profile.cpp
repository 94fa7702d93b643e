// The adapter models the bench emulates, each as its manual or its firmware's source has it.
#include "sim/adapter/profile.h"

#include <algorithm>

namespace ktq::sim::adapter {

bool AdapterProfile::knows(std::string_view command) const {
    return std::find(commands.begin(), commands.end(), command) != commands.end();
}

// The Prologix GPIB-USB Controller User Manual (version 6.107): its command list, SAD 96 to 126,
// read_tmo_ms at most 3000 ms (the change log of September 2009), "++savecfg 1" enabling the
// saving of parameters as they change, and that setting always enabled on startup. The manual
// gives neither the power-up read timeout nor an answer to an unknown command or argument: the
// bench takes 500 ms, keeps quiet, and "++ver" ignores an argument.
const AdapterProfile& prologixProfile() {
    static const AdapterProfile profile = [] {
        AdapterProfile p;
        p.name = "prologix";
        p.version = "Prologix GPIB-USB Controller version 6.107";
        p.commands = {"addr",  "auto", "clr",    "eoi",  "eos",  "eot_enable",  "eot_char", "ifc",
                      "llo",   "loc",  "lon",    "mode", "read", "read_tmo_ms", "rst",      "savecfg",
                      "spoll", "srq",  "status", "trg",  "ver",  "help"};
        p.savesFromPowerUp = true;
        return p;
    }();
    return profile;
}

// The GPIB-ETHERNET controller takes the same commands (the GPIB-USB manual's); its "++ver" answer
// is as client libraries record it in their tests (msl-equipment's Prologix finder among them).
const AdapterProfile& prologixEthernetProfile() {
    static const AdapterProfile profile = [] {
        AdapterProfile ethernet = prologixProfile();
        ethernet.name = "prologix-ethernet";
        ethernet.version = "Prologix GPIB-ETHERNET Controller version 01.06.06.00";
        return ethernet;
    }();
    return profile;
}

// AR488 0.53.04 (AR488.ino and AR488_GPIBbus.cpp): its command table, the defaults of
// setDefaultCfg (EOI off, primary 1, read_tmo_ms 1200), values out of range answered "Invalid
// parameter" and the setting kept, "++addr" answering "9,107", "++fndl" naming secondaries as
// sent (96 to 126), "++savecfg" writing the EEPROM whatever its argument, "++mode 1" restarting
// controller mode, and on an Uno the 64-byte serial buffer (63 bytes held) and the 128-byte line
// buffer. Not here: "++auto 3", "++eor", "++macro", "++ppoll", "++spoll all", "++xdiag" and the
// other extensions answer as unknown.
const AdapterProfile& ar488Profile() {
    static const AdapterProfile profile = [] {
        AdapterProfile p;
        p.name = "ar488";
        p.version = "AR488 GPIB controller, ver. 0.53.04, 13/04/2025";
        p.ar488 = true;
        p.commands = {"addr",       "auto",     "clr",   "dcl",    "default",     "eoi", "eos",
                      "eot_enable", "eot_char", "flags", "fndl",   "ifc",         "id",  "llo",
                      "loc",        "lon",      "mode",  "read",   "read_tmo_ms", "ren", "rst",
                      "savecfg",    "spoll",    "srq",   "status", "trg",         "ver", "verbose"};
        p.readTimeoutMax = 32000;
        p.readTimeoutDefault = 1200;
        p.clampsReadTimeout = false;
        p.lowestPrimary = 1;
        p.defaultPrimary = 1;
        p.highestAuto = 2;
        p.defaultEoi = false;
        p.bareSecondary = true;
        p.addressSeparator = ",";
        p.rawSecondaryInSearch = true;
        p.save = SaveStyle::Snapshot;
        p.unknownReply = "Unrecognized command";
        p.invalidReply = "Invalid parameter";
        p.restartsController = true;
        p.inputBuffer = 63;
        p.lineBuffer = 128;
        return p;
    }();
    return profile;
}

// AR488 0.51.09: no "++fndl", "++flags" or "++id"-less differences aside, "++addr" takes the
// primary alone (atoi of "9 107" is 9), a value out of range answers "Unrecognized command", EOI
// is pulsed on its own after the last byte, and "++spoll 5" reads past its parameters and polls
// nobody (fixed after 0.51.09).
const AdapterProfile& ar488OldProfile() {
    static const AdapterProfile profile = [] {
        AdapterProfile p = ar488Profile();
        p.name = "ar488-0.51";
        p.version = "AR488 GPIB controller, ver. 0.51.09, 20/06/2022";
        std::erase_if(p.commands, [](const std::string& c) { return c == "fndl" || c == "flags"; });
        p.secondaryAddresses = false;
        p.bareSecondary = false;
        p.invalidReply = "Unrecognized command";
        p.eoiWithLastByte = false;
        p.pollTakesAddress = false;
        p.untWithAddress = false;
        p.talkerAddressedTwice = true;
        p.idleAfterRead = true;
        return p;
    }();
    return profile;
}

const AdapterProfile* findProfile(std::string_view name) {
    for (const AdapterProfile* profile :
         {&prologixProfile(), &prologixEthernetProfile(), &ar488Profile(), &ar488OldProfile()})
        if (profile->name == name)
            return profile;
    return nullptr;
}

} // namespace ktq::sim::adapter
