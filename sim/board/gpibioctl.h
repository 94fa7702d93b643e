// The argument layouts and request numbers of a linux-gpib board's ioctls.
#pragma once

#include <cstdint>
#include <sys/ioctl.h>

namespace ktq::sim::board {

// The kernel interface of a linux-gpib board as its user library uses it: the argument layouts and
// request numbers of the ioctls on /dev/gpibN (type 160).

struct ReadWrite {
    std::uint64_t buffer;
    unsigned requested;
    unsigned completed;
    int end;
    int handle;
};

struct OpenDevice {
    unsigned handle;
    unsigned pad;
    int sad;
    unsigned isBoard : 1;
};

struct Wait {
    int handle;
    int waitMask;
    int clearMask;
    int setMask;
    int ibsta;
    int pad;
    int sad;
    unsigned usecTimeout;
};

struct Eos {
    int eos;
    int flags;
};

struct BoardInfo {
    unsigned pad;
    int sad;
    int parallelPollConfiguration;
    int autopolling;
    int isSystemController;
    unsigned t1Delay;
    unsigned ist : 1;
    unsigned no7BitEos : 1;
};

struct Pad {
    unsigned handle;
    unsigned pad;
};

struct Sad {
    unsigned handle;
    int sad;
};

struct SerialPoll {
    unsigned pad;
    int sad;
    std::uint8_t statusByte;
};

constexpr unsigned code = 160;

inline constexpr unsigned long IBRD = _IOWR(code, 100, ReadWrite);
inline constexpr unsigned long IBWRT = _IOWR(code, 101, ReadWrite);
inline constexpr unsigned long IBCMD = _IOWR(code, 102, ReadWrite);
inline constexpr unsigned long IBOPENDEV = _IOWR(code, 3, OpenDevice);
inline constexpr unsigned long IBCLOSEDEV = _IOW(code, 4, unsigned);
inline constexpr unsigned long IBWAIT = _IOWR(code, 5, Wait);
inline constexpr unsigned long IBSIC = _IOW(code, 9, unsigned);
inline constexpr unsigned long IBSRE = _IOW(code, 10, int);
inline constexpr unsigned long IBGTS = _IO(code, 11);
inline constexpr unsigned long IBCAC = _IOW(code, 12, int);
inline constexpr unsigned long IBLINES = _IOR(code, 14, short);
inline constexpr unsigned long IBPAD = _IOW(code, 15, Pad);
inline constexpr unsigned long IBSAD = _IOW(code, 16, Sad);
inline constexpr unsigned long IBTMO = _IOW(code, 17, unsigned);
inline constexpr unsigned long IBRSP = _IOWR(code, 18, SerialPoll);
inline constexpr unsigned long IBEOS = _IOW(code, 19, Eos);
inline constexpr unsigned long IBMUTEX = _IOW(code, 26, int);
inline constexpr unsigned long IBBOARD_INFO = _IOR(code, 29, BoardInfo);
inline constexpr unsigned long IBQUERY_BOARD_RSV = _IOR(code, 31, int);
inline constexpr unsigned long IBEVENT = _IOR(code, 33, short);
inline constexpr unsigned long IBRSC = _IOW(code, 34, int);
inline constexpr unsigned long IBLOC = _IO(code, 36);
inline constexpr unsigned long IBAUTOSPOLL = _IOW(code, 38, short);
inline constexpr unsigned long IBPP2_GET = _IOR(code, 41, short);

// The read end-of-string flags of IBEOS.
inline constexpr int eosRead = 0x0400;
inline constexpr int eosEightBit = 0x1000;

// IBLINES: a valid bit per line in the low byte, the line's state in the high byte.
inline constexpr short validNdac = 0x02;
inline constexpr short validRen = 0x10;
inline constexpr short validAtn = 0x40;
inline constexpr short busNdac = 0x0200;
inline constexpr short busRen = 0x1000;
inline constexpr short busAtn = 0x4000;

} // namespace ktq::sim::board
