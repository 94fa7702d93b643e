// The real linux-gpib library loaded in the tests' own process, its calls traced into the bench.
#pragma once

#include <string>

namespace ktq::sim::board {

/// Loads the real linux-gpib library from `path` for resolveRealLibrary, with IB_CONFIG naming the
/// emulated board's gpib.conf unless it is set; false, with the loader's reason in `error`, when it
/// cannot be opened or lacks a function. Loading it again is harmless.
bool loadRealLibrary(const std::string& path, std::string& error);

/// linux-gpib's function of this name from the loaded real library, wrapped so that each call also
/// leaves a trace line in the current bench exactly as the drop-in traces its own calls, with the
/// status the real library reported. The status reads (ThreadIbsta ...) are the library's own.
/// nullptr for a name not offered or before loadRealLibrary succeeded.
void* resolveRealLibrary(const char* name);

} // namespace ktq::sim::board
