// The two adapter models the bench emulates, each as its manual describes it.
#include "sim/adapter/profile.h"

#include <algorithm>

namespace ktq::sim::adapter {

bool AdapterProfile::knows(std::string_view command) const {
    return std::find(commands.begin(), commands.end(), command) != commands.end();
}

// The Prologix GPIB-USB Controller User Manual (version 6.107): its command list, SAD 96 to 126,
// read_tmo_ms at most 3000 ms (the change log of September 2009), "++savecfg 1" enabling the
// saving of parameters as they change. The manual gives neither the power-up read timeout nor an
// answer to an unknown command: the bench takes 500 ms and keeps quiet.
const AdapterProfile& prologixProfile() {
    static const AdapterProfile profile{
        "prologix",
        "Prologix GPIB-USB Controller version 6.107",
        {"addr",  "auto", "clr",    "eoi",  "eos",  "eot_enable",  "eot_char", "ifc",
         "llo",   "loc",  "lon",    "mode", "read", "read_tmo_ms", "rst",      "savecfg",
         "spoll", "srq",  "status", "trg",  "ver",  "help"},
        1,
        3000,
        500,
        0,
        1,
        false,
        SaveStyle::OnEveryChange,
        "",
        false,
    };
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

// The AR488 GPIB Controller User Manual (version 0.53.03): the Prologix commands less "++help"
// (as its README says), plus "++dcl", "++default", "++fndl" (listener search), "++ren"; primary
// addresses 1 to 30 and secondary 96 to 126 or 0 to 31; read_tmo_ms 0 to 32000; "++savecfg"
// writing one snapshot of the settings; "++auto 2" reading only after a query; IFC and REN
// asserted at power-up in controller mode; "Unrecognized command". The version string is the
// manual's example of FWVER. "++findlstn" is the ESP32 fork's name for the listener search (its
// README). Not here: "++auto 3" (continuous reading), "++eor", "++id", "++macro", "++ppoll",
// "++spoll all", "++xdiag" and the other extensions; they answer as unknown.
const AdapterProfile& ar488Profile() {
    static const AdapterProfile profile{
        "ar488",
        "AR488 GPIB controller, ver. 0.51.09, 20/06/2022",
        {"addr",     "auto", "clr",     "dcl",   "default", "eoi",    "eos",  "eot_enable", "eot_char",
         "findlstn", "fndl", "ifc",     "llo",   "loc",     "lon",    "mode", "read",       "read_tmo_ms",
         "ren",      "rst",  "savecfg", "spoll", "srq",     "status", "trg",  "ver"},
        0,
        32000,
        500,
        1,
        2,
        true,
        SaveStyle::Snapshot,
        "Unrecognized command",
        true,
    };
    return profile;
}

const AdapterProfile* findProfile(std::string_view name) {
    for (const AdapterProfile* profile : {&prologixProfile(), &prologixEthernetProfile(), &ar488Profile()})
        if (profile->name == name)
            return profile;
    return nullptr;
}

} // namespace ktq::sim::adapter
