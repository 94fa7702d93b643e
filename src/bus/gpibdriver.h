#pragma once

#include <cstdint>
#include <string_view>

namespace ktq::bus {

/// One NI-488.2 driver: the calls the wrappers make, in NI terms and with NI constants.
class GpibDriver {
public:
    virtual ~GpibDriver() = default;

    /// The family of the driver library behind it ("linux-gpib", "NI-488.2"), which the advice
    /// tells error codes apart by; empty when no library is behind it.
    virtual std::string_view family() const = 0;

    virtual int ibfind(const char* name) = 0;
    virtual int ibask(int ud, int option, int* value) = 0;
    virtual int ibsre(int ud, int v) = 0;
    virtual int ibtmo(int ud, int v) = 0;
    virtual int ibonl(int ud, int v) = 0;
    virtual void SendIFC(int board) = 0;
    virtual void DevClear(int board, std::uint16_t address) = 0;
    virtual void FindLstn(int board, const std::uint16_t* padList, std::uint16_t* resultList, int limit) = 0;
    virtual void Send(int board, std::uint16_t address, const void* buffer, long count, int eotMode) = 0;
    virtual void Receive(int board, std::uint16_t address, void* buffer, long count, int termination) = 0;
    virtual void SendCmds(int board, const void* commands, long count) = 0;
    virtual int ThreadIbsta() = 0;
    virtual int ThreadIberr() = 0;
    virtual int ThreadIbcnt() = 0;
    virtual long ThreadIbcntl() = 0;
};

} // namespace ktq::bus
