// open, close and ioctl as the process sees them: the board's device file opens the emulated
// board over the current bench; every other file goes to the C library as usual. usleep too: the
// real library's pauses for the bus lines to settle pass at once on the emulated bus. Linked into a
// program (and exported from it) or preloaded, these definitions come before the C library's, so
// the real linux-gpib library reaches the emulation without being changed.

#undef _FORTIFY_SOURCE // the fortified open is an inline wrapper; this file defines open itself

#include "sim/board/board.h"
#include "sim/board/boardfaults.h"
#include "sim/simbus.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

#define KTQ_HOOK __attribute__((visibility("default")))

namespace {

using ktq::sim::SimBus;
using ktq::sim::WireBus;
using ktq::sim::board::BoardFaults;
using ktq::sim::board::EmulatedBoard;

constexpr const char* boardDevice = "/dev/gpib0";

// Never destroyed: every thread's close() and ioctl() come here, also those of threads still
// running while the process ends (Qt's own, a sanitizer's symbolizer) after the static objects
// have been destroyed.
std::mutex& boardsLock() {
    static auto* const lock = new std::mutex;
    return *lock;
}

std::map<int, EmulatedBoard>& boards() {
    static auto* const open = new std::map<int, EmulatedBoard>;
    return *open;
}

template <typename Function> Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

using OpenFunction = int (*)(const char*, int, ...);

// The descriptor is a real one (of /dev/null), so that nothing else in the process is handed the
// same number while the board is open.
int openBoard(OpenFunction realOpen, int flags) {
    bool present = false;
    ktq::sim::onCurrentBench([&](SimBus* bench) { present = bench && bench->boardPresent(); });
    if (!present) {
        errno = ENODEV; // the device file is there, no board behind it
        return -1;
    }
    const int fd = realOpen("/dev/null", O_RDWR | (flags & O_CLOEXEC));
    if (fd >= 0) {
        std::lock_guard guard(boardsLock());
        boards()[fd] = EmulatedBoard{};
    }
    return fd;
}

int openFile(OpenFunction realOpen, const char* path, int flags, va_list arguments) {
    if (path != nullptr && std::strcmp(path, boardDevice) == 0)
        return openBoard(realOpen, flags);
    mode_t mode = 0;
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE)
        mode = va_arg(arguments, mode_t);
    return realOpen(path, flags, mode);
}

} // namespace

extern "C" {

KTQ_HOOK int open(const char* path, int flags, ...) {
    static const auto realOpen = next<OpenFunction>("open");
    va_list arguments;
    va_start(arguments, flags);
    const int fd = openFile(realOpen, path, flags, arguments);
    va_end(arguments);
    return fd;
}

KTQ_HOOK int open64(const char* path, int flags, ...) {
    static const auto realOpen = next<OpenFunction>("open64");
    va_list arguments;
    va_start(arguments, flags);
    const int fd = openFile(realOpen, path, flags, arguments);
    va_end(arguments);
    return fd;
}

KTQ_HOOK int close(int fd) {
    static const auto realClose = next<int (*)(int)>("close");
    {
        std::lock_guard guard(boardsLock());
        boards().erase(fd);
    }
    return realClose(fd);
}

// FindLstn lets the lines settle for 1.5 ms before reading NDAC, twice per address: a tenth of a
// second per search, which the emulated bus does not need. Everyone else's sleep stays.
KTQ_HOOK int usleep(useconds_t microseconds) {
    static const auto realUsleep = next<int (*)(useconds_t)>("usleep");
    Dl_info caller{};
    if (dladdr(__builtin_return_address(0), &caller) != 0 && caller.dli_fname != nullptr &&
        std::strstr(caller.dli_fname, "libgpib") != nullptr)
        return 0;
    return realUsleep(microseconds);
}

KTQ_HOOK int ioctl(int fd, unsigned long request, ...) noexcept {
    static const auto realIoctl = next<int (*)(int, unsigned long, ...)>("ioctl");
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    std::unique_lock guard(boardsLock());
    const auto board = boards().find(fd);
    if (board == boards().end()) {
        guard.unlock();
        return realIoctl(fd, request, argument);
    }
    int result = -1;
    // A transfer nobody answers waits out its timeout (in real time with GPIB_SIM_TIMING=real):
    // that wait is owed here and served once the board and the bench are free again, so that
    // other threads are not held up for seconds by the board's state being taken.
    WireBus::TimeoutWait benchWait;
    std::chrono::microseconds owed{0};
    ktq::sim::onCurrentBench([&](SimBus* bench) {
        if (bench == nullptr || !bench->boardPresent()) {
            errno = ENODEV; // the board went away under an open descriptor
            return;
        }
        if (const int error =
                BoardFaults::errorFor(request, [bench](const std::string& line) { bench->note(line); })) {
            errno = error;
            return;
        }
        WireBus& wire = bench->wire();
        benchWait = wire.timeoutWait();
        wire.setTimeoutWait([&owed](std::chrono::microseconds timeout) { owed += timeout; });
        result = board->second.control(wire, request, argument);
        wire.setTimeoutWait(benchWait);
    });
    guard.unlock();
    if (owed.count() > 0 && benchWait) {
        const int error = errno; // the transfer's, which a sleep must not replace
        benchWait(owed);
        errno = error;
    }
    return result;
}
}
