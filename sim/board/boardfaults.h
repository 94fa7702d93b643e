// Chosen failures of the emulated board's ioctls, as its kernel driver gives them when the board,
// its adapter or the units on the bus misbehave.
#pragma once

#include <cerrno>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace ktq::sim::board {

/// While it lives, makes calls of the emulated board fail with a chosen errno from the nth call of
/// a request on, counted from when the failure was set: that call alone, every later call of that
/// request, or every later call of every request (the board gone). One set of faults is in force
/// at a time: a newer one stands in for the older until it goes. The first failure of each kind
/// leaves a line in the current bench's trace ("board: IBCMD fails with ENOTCONN").
class BoardFaults {
public:
    /// Every request but IBMUTEX, which the kernel answers from its own lock without reaching the
    /// board, and whose unlocking the library asserts never fails.
    static constexpr unsigned long everyRequest = 0;
    enum class Span {
        Once,       // the nth call of the request
        FromThenOn, // the nth call of the request and every later one
        BoardGone,  // the nth call of the request and every later call of every request
    };

    BoardFaults();
    ~BoardFaults();
    BoardFaults(const BoardFaults&) = delete;
    BoardFaults& operator=(const BoardFaults&) = delete;

    void fail(unsigned long request, int error, int nth = 1, Span span = Span::Once);
    /// The adapter unplugged at the nth call of `request`: from there on every call fails with
    /// ENODEV, as a USB board's driver answers once its device is gone.
    void unplug(unsigned long request = everyRequest, int nth = 1) {
        fail(request, ENODEV, nth, Span::BoardGone);
    }
    /// How many calls failed so far.
    int failures() const;
    /// Called on the failing call's thread when a fault fails its first call, before the call
    /// returns: for a look at the bench at that moment.
    void onFirstFailure(std::function<void()> watch);

    /// The errno the faults in force give this call, 0 for none; the call is counted. `announce`
    /// receives the trace line of a fault that fires for the first time.
    template <typename Announce> static int errorFor(unsigned long request, Announce announce) {
        bool first = false;
        std::function<void()> watch;
        const int error = errorFor(request, first, watch);
        if (error != 0 && first) {
            announce(traceLine(request, error));
            if (watch)
                watch();
        }
        return error;
    }

private:
    struct Rule {
        unsigned long request;
        int error;
        int nth;
        Span span;
        int seen = 0;
        bool fired = false; // has failed a call; for BoardGone, every call since
    };

    static int errorFor(unsigned long request, bool& first, std::function<void()>& watch);
    static std::string traceLine(unsigned long request, int error);

    mutable std::mutex m_lock;
    std::vector<Rule> m_rules;
    int m_failures = 0;
    std::function<void()> m_watch;
    BoardFaults* m_previous = nullptr;
};

} // namespace ktq::sim::board
