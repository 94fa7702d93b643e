// Finding and opening the NI-488.2 compatible driver library, and the driver families it can be.
#pragma once

#include "bus/gpibdriver.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ktq::bus {

class SharedLibrary;
struct DriverConstants;

/// Looks a function up by name in a loaded library; nullptr when it is not there.
using SymbolResolver = std::function<void*(const char* name)>;

/// A driver whose functions live in a loaded library.
class LibraryDriver : public GpibDriver {
public:
    LibraryDriver();
    ~LibraryDriver() override;
    // Keeps the library loaded for as long as its functions can be called.
    void adoptLibrary(std::unique_ptr<SharedLibrary> library);
    /// The file the library was loaded from; its board is all this driver tries.
    DriverPlan plan() const override;

private:
    // In the base, so that it is released last, after nothing can call into the library.
    std::unique_ptr<SharedLibrary> m_library;
};

/// Builds one family's driver from a library's exports: its table of functions looked up by name,
/// in that family's shapes. nullptr when one it needs is missing, in which case `missing` names
/// the first.
using DriverResolver = std::unique_ptr<LibraryDriver> (*)(const SymbolResolver& resolve,
                                                          const DriverConstants& constants,
                                                          std::string& missing);

/// A driver family: its name, how its library is read, and the numbers in which its interface
/// differs from NI's.
struct DriverConstants {
    const char* family = "";
    DriverResolver resolve = nullptr;
    int nlEnd = 1;       // end mode that appends a line feed sent with EOI
    int dabEnd = 2;      // end mode that sends EOI with the last data byte
    int stopEnd = 0x100; // termination value meaning "no end-of-string byte"
};

/// linux-gpib's libgpib.so.0: the calls as gpibcalls.h lists them, ibonl possibly absent.
const DriverConstants& linuxGpibConstants();
/// NI-488.2's ni4882.h, the same on Windows (ni4882.dll) and Linux (libni4882.so).
const DriverConstants& niGpibConstants();

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
