// The simulated driver's C functions for the sim tests, found by name as the program finds a driver's.
#pragma once

#ifndef _WIN32
#include "sim/board/reallibrary.h"
#endif
#include "sim/simbus.h"
#include "src/bus/gpibcalls.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ktq::sim::test {

/// The bench's C functions, found by name as the program finds a driver's.
struct Driver {
#define KTQ_TEST_FUNCTION(result, name, params, ...) result(*name) params = nullptr;
    KTQ_GPIB_CALLS(KTQ_TEST_FUNCTION)
#undef KTQ_TEST_FUNCTION

    template <typename Resolver> static Driver resolve(Resolver&& symbol) {
        Driver d;
#define KTQ_TEST_BIND(result, name, params, ...) bind(d.name, symbol(#name));
        KTQ_GPIB_CALLS(KTQ_TEST_BIND)
#undef KTQ_TEST_BIND
        return d;
    }
    /// The bench's own functions, or with KTQ_REAL_LIBGPIB naming the real linux-gpib library, that
    /// library over the emulated board (its calls traced into the bench in the same form).
    static Driver inProcess() {
        const char* real = std::getenv("KTQ_REAL_LIBGPIB");
        if (real == nullptr || *real == '\0')
            return resolve(resolveSymbol);
#ifdef _WIN32
        throw std::runtime_error("the real linux-gpib library runs on Linux only");
#else
        std::string error;
        if (!board::loadRealLibrary(real, error))
            throw std::runtime_error("real linux-gpib library: " + error);
        return resolve(board::resolveRealLibrary);
#endif
    }

    /// A message as the program sends it: line feed and EOI appended by the driver.
    void send(std::uint16_t address, std::string_view text) const {
        Send(0, address, text.data(), static_cast<long>(text.size()), lg::NLend);
    }
    /// What a Receive of up to `count` bytes brings.
    std::string receive(std::uint16_t address, long count = 18, int termination = 0) const {
        std::string buffer(static_cast<std::size_t>(count), ' ');
        Receive(0, address, buffer.data(), count, termination);
        return buffer.substr(0, static_cast<std::size_t>(ThreadIbcntl()));
    }
    /// Query and reply, as the configuration run does it.
    std::string ask(std::uint16_t address, std::string_view query) const {
        send(address, query);
        return receive(address);
    }
    // -1 when the unit does not answer.
    int esr(std::uint16_t address) const {
        const std::string reply = ask(address, "*ESR?");
        return reply.empty() ? -1 : std::stoi(reply);
    }
    void commands(std::string_view bytes) const {
        SendCmds(0, bytes.data(), static_cast<long>(bytes.size()));
    }

private:
    template <typename F> static void bind(F& function, void* symbol) {
        function = reinterpret_cast<F>(symbol);
    }
};

inline constexpr std::uint16_t withSecondary(int primary, int secondary) {
    return static_cast<std::uint16_t>(primary | (0x60 + secondary) << 8);
}

} // namespace ktq::sim::test
