// The emulated board's answers to the real linux-gpib library's ioctls, taken from the wire-level bus.
#include "sim/board/board.h"

#include "sim/board/gpibioctl.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <set>
#include <string_view>

namespace ktq::sim::board {

namespace {

void reportUnknown(unsigned long request) {
    static std::mutex lock;
    static std::set<unsigned long> reported;
    std::lock_guard guard(lock);
    if (reported.insert(request).second)
        std::fprintf(stderr, "emulated GPIB board: ioctl 0x%lx is not emulated\n", request);
}

int fail(int error) {
    errno = error;
    return -1;
}

std::string_view bytesOf(const ReadWrite& transfer) {
    return {reinterpret_cast<const char*>(static_cast<std::uintptr_t>(transfer.buffer)), transfer.requested};
}

} // namespace

int EmulatedBoard::control(WireBus& bus, unsigned long request, void* argument) {
    switch (request) {
    case IBCMD:
    case IBWRT:
    case IBRD:
        return transferData(bus, request, *static_cast<ReadWrite*>(argument));
    case IBGTS:
        bus.setAttention(false);
        return 0;
    case IBCAC:
        bus.setAttention(true);
        return 0;
    case IBSIC:
        bus.interfaceClear();
        return 0;
    case IBSRE:
        bus.remoteEnable(*static_cast<int*>(argument) != 0);
        return 0;
    case IBTMO:
        m_usecTimeout = *static_cast<unsigned*>(argument);
        return 0;
    case IBEOS: {
        const auto& eos = *static_cast<Eos*>(argument);
        m_eos = (eos.flags & eosRead) ? (eos.eos & 0xff) : -1;
        m_eosEightBit = (eos.flags & eosEightBit) != 0;
        return 0;
    }
    case IBWAIT:
    case IBLINES:
    case IBBOARD_INFO:
        return report(bus, request, argument);
    case IBPAD:
        bus.setControllerAddress(static_cast<int>(static_cast<Pad*>(argument)->pad),
                                 bus.controllerSecondary());
        return 0;
    case IBSAD:
        bus.setControllerAddress(bus.controllerPrimary(), static_cast<Sad*>(argument)->sad);
        return 0;
    case IBOPENDEV:
        static_cast<OpenDevice*>(argument)->handle = m_nextHandle++;
        return 0;
    case IBCLOSEDEV:
    case IBMUTEX:
    case IBRSC:
    case IBAUTOSPOLL:
    case IBLOC:
        return 0;
    case IBQUERY_BOARD_RSV:
        *static_cast<int*>(argument) = 0;
        return 0;
    case IBEVENT:
    case IBPP2_GET:
        *static_cast<short*>(argument) = 0;
        return 0;
    default:
        reportUnknown(request);
        return fail(EINVAL);
    }
}

// The transfers: bus commands, data out and data in.
int EmulatedBoard::transferData(WireBus& bus, unsigned long request, ReadWrite& transfer) {
    switch (request) {
    case IBCMD: {
        bus.command(bytesOf(transfer));
        transfer.completed = transfer.requested;
        return 0;
    }
    case IBWRT: {
        transfer.completed = 0;
        if (!bus.write(bytesOf(transfer), transfer.end != 0))
            return fail(ECOMM);
        transfer.completed = transfer.requested;
        return 0;
    }
    case IBRD: {
        const WireBus::Read read =
            bus.read(transfer.requested, m_eos, m_eosEightBit, std::chrono::microseconds(m_usecTimeout));
        std::copy(read.bytes.begin(), read.bytes.end(),
                  reinterpret_cast<char*>(static_cast<std::uintptr_t>(transfer.buffer)));
        transfer.completed = static_cast<unsigned>(read.bytes.size());
        transfer.end = read.end ? 1 : 0;
        return read.timedOut ? fail(ETIMEDOUT) : 0;
    }
    default:
        return fail(EINVAL);
    }
}

// What the board reports of itself and of the bus's lines.
int EmulatedBoard::report(WireBus& bus, unsigned long request, void* argument) {
    switch (request) {
    case IBWAIT: {
        auto& wait = *static_cast<Wait*>(argument);
        wait.ibsta = bus.controllerStatus();
        return 0;
    }
    case IBLINES: {
        // In standby NDAC is held by the addressed listeners alone; with ATN by every unit.
        const bool ndac = bus.attention() ? !bus.units().empty() : bus.ndacHeld();
        *static_cast<short*>(argument) =
            static_cast<short>(validNdac | validRen | validAtn | (ndac ? busNdac : 0) |
                               (bus.remoteEnabled() ? busRen : 0) | (bus.attention() ? busAtn : 0));
        return 0;
    }
    case IBBOARD_INFO: {
        auto& info = *static_cast<BoardInfo*>(argument);
        info = BoardInfo{};
        info.pad = static_cast<unsigned>(bus.controllerPrimary());
        info.sad = bus.controllerSecondary();
        info.isSystemController = 1;
        return 0;
    }
    default:
        return fail(EINVAL);
    }
}

} // namespace ktq::sim::board
