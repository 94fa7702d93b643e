#pragma once

#include "gpibdriver.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ktq::bus {

/// Which functions a driver library exports, and in which shapes.
enum class DriverExports {
    /// linux-gpib's libgpib.so.0: ibfind, ibsre, ibtmo and ThreadIbcntl as functions, counts as
    /// long, status as int.
    LinuxGpib,
    /// NI-488.2's ni4882.h, the same on Windows (ni4882.dll) and Linux (libni4882.so): ibfind only
    /// as ibfindA, ibsre and ibtmo possibly only as ibconfig options, ibcntl read through
    /// ThreadIbcnt, counts as size_t, status as a 32-bit unsigned.
    Ni4882,
};

/// The numbers in which a driver library's interface differs from NI's.
struct DriverConstants {
    const char* family = "";
    DriverExports exports = DriverExports::LinuxGpib;
    int nlEnd = 1;       // end mode that appends a line feed sent with EOI
    int dabEnd = 2;      // end mode that sends EOI with the last data byte
    int stopEnd = 0x100; // termination value meaning "no end-of-string byte"
};

const DriverConstants& linuxGpibConstants();
/// NI-488.2's library on either platform.
const DriverConstants& niGpibConstants();

/// Looks a function up by name in a loaded library; nullptr when it is not there.
using SymbolResolver = std::function<void*(const char* name)>;

/// A driver whose functions were all found through the resolver; nullptr when one is missing,
/// in which case `missing` names it.
std::unique_ptr<GpibDriver> makeResolvedDriver(const SymbolResolver& resolve,
                                               const DriverConstants& constants, std::string& missing);

/// A driver with no library behind it: every call fails with ERR, EDVR and a count of 0.
std::unique_ptr<GpibDriver> makeUnavailableDriver();

/// A library file to try, and the numbers its interface uses.
struct DriverCandidate {
    std::string fileName;
    const DriverConstants* constants = nullptr;
};

/// Opens the candidates in order; the first one that opens and has every function wins and owns
/// its library handle. Writes one line to `log` like loadSystemDriver.
std::unique_ptr<GpibDriver> loadFirstDriver(std::span<const DriverCandidate> candidates, std::ostream& log);

/// The family of the library behind a driver ("linux-gpib", "NI-488.2"); empty for the
/// unavailable driver.
std::string_view driverFamily(const GpibDriver& driver);

/// Where this platform's driver library is looked for, in order. Linux: linux-gpib's libgpib.so.0,
/// then NI-488.2 for Linux's libni4882.so, by bare name through the dynamic loader's search path.
/// Windows: NI-488.2's ni4882.dll by full path, in the program's own folder and then the system
/// folder, never the current folder or PATH.
std::vector<DriverCandidate> systemDriverCandidates();

/// Loads the system's NI-488.2 compatible library (the first of systemDriverCandidates that works)
/// and writes one line to `log` naming the file loaded, or what was looked for and why it failed.
/// Never returns nullptr: without a usable library the unavailable driver is returned.
std::unique_ptr<GpibDriver> loadSystemDriver(std::ostream& log);

} // namespace ktq::bus
