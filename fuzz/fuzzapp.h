// The application object the fuzz targets' windows share.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace ktq::fuzz {

/// Creates the one application object the windows need, on the offscreen platform. Call from
/// LLVMFuzzerInitialize.
void startApplication();

/// Stops the run at once with a message: a broken invariant is a finding like a crash.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

} // namespace ktq::fuzz
