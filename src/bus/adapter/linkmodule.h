// On Linux the links to "++" adapters live in a module of their own (adapterlink_qt.cpp), loaded
// when an adapter is first looked for, so that a program on a board never maps Qt's serial port
// and network modules.
#pragma once

#include "adapterlink.h"

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace ktq::bus {

/// The module's entry: a new opener, which the caller owns.
using LinkOpenerFactory = LinkOpener* (*)();

/// Where the module is looked for, in order: in the program's folder's ../lib/ktqconfig, where it
/// is installed and where build/src/ktqconfig finds it in the build; then by its bare name
/// through the dynamic loader's search path, as the test programs, built elsewhere, find it.
std::vector<std::string> linkModuleCandidates();

/// Opens the first candidate that has the entry and keeps it loaded for the rest of the process:
/// a link it made may outlive every opener, and Qt's modules are not made to be unloaded. nullptr
/// when none could; `failure` then says on one line what was looked for and why each failed.
LinkOpenerFactory openLinkModule(std::span<const std::string> candidates, std::string& failure);

/// Asks `load` for the module's entry at its first call, not before, and then passes every call
/// to an opener that entry made. Where `load` fails, its failure is whyUnusable, nothing is
/// listed, and every link asked for fails with it.
std::unique_ptr<LinkOpener> makeModuleLinkOpener(std::function<LinkOpenerFactory(std::string& failure)> load);

} // namespace ktq::bus
