// libgpib.so.0 with linux-gpib's names: a stand-in for the real driver library that puts the
// program on a simulated bench. Everything but these names stays hidden in the library.

#include "sim/ktqsim.h"

#include <cstdint>

#define KTQ_DRIVER_EXPORT __attribute__((visibility("default")))

namespace {

// The bench comes from the environment; there is nobody to install one.
struct EnvironmentBench {
    EnvironmentBench() { ktqsim_useEnvironmentBench(); }
} const environmentBench;

} // namespace

extern "C" {

#define KTQ_DROPIN_EXPORT(result, name, params, args, ...)                                                   \
    KTQ_DRIVER_EXPORT result name params {                                                                   \
        return ktqsim_##name args;                                                                           \
    }
KTQ_GPIB_CALLS(KTQ_DROPIN_EXPORT)
#undef KTQ_DROPIN_EXPORT
}
