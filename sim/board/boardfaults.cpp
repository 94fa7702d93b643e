// Chosen failures of the emulated board's ioctls.
#include "sim/board/boardfaults.h"

#include "sim/board/gpibioctl.h"

#include <cstring>

namespace ktq::sim::board {

namespace {

// The faults in force, and the lock that guards the pointer (each set guards its own rules).
std::mutex g_installLock;
BoardFaults* g_installed = nullptr;

const char* requestName(unsigned long request) {
    struct Name {
        unsigned long request;
        const char* name;
    };
    static const Name names[] = {
        {IBRD, "IBRD"},
        {IBWRT, "IBWRT"},
        {IBCMD, "IBCMD"},
        {IBOPENDEV, "IBOPENDEV"},
        {IBCLOSEDEV, "IBCLOSEDEV"},
        {IBWAIT, "IBWAIT"},
        {IBSIC, "IBSIC"},
        {IBSRE, "IBSRE"},
        {IBGTS, "IBGTS"},
        {IBCAC, "IBCAC"},
        {IBLINES, "IBLINES"},
        {IBPAD, "IBPAD"},
        {IBSAD, "IBSAD"},
        {IBTMO, "IBTMO"},
        {IBRSP, "IBRSP"},
        {IBEOS, "IBEOS"},
        {IBMUTEX, "IBMUTEX"},
        {IBBOARD_INFO, "IBBOARD_INFO"},
        {IBQUERY_BOARD_RSV, "IBQUERY_BOARD_RSV"},
        {IBEVENT, "IBEVENT"},
        {IBRSC, "IBRSC"},
        {IBLOC, "IBLOC"},
        {IBAUTOSPOLL, "IBAUTOSPOLL"},
        {IBPP2_GET, "IBPP2_GET"},
    };
    for (const Name& name : names)
        if (name.request == request)
            return name.name;
    return "ioctl";
}

} // namespace

BoardFaults::BoardFaults() {
    std::lock_guard guard(g_installLock);
    m_previous = g_installed;
    g_installed = this;
}

BoardFaults::~BoardFaults() {
    std::lock_guard guard(g_installLock);
    g_installed = m_previous;
}

void BoardFaults::fail(unsigned long request, int error, int nth, Span span) {
    std::lock_guard guard(m_lock);
    m_rules.push_back(Rule{request, error, nth, span});
}

int BoardFaults::failures() const {
    std::lock_guard guard(m_lock);
    return m_failures;
}

void BoardFaults::onFirstFailure(std::function<void()> watch) {
    std::lock_guard guard(m_lock);
    m_watch = std::move(watch);
}

int BoardFaults::errorFor(unsigned long request, bool& first, std::function<void()>& watch) {
    std::lock_guard installed(g_installLock);
    BoardFaults* faults = g_installed;
    if (faults == nullptr)
        return 0;
    std::lock_guard guard(faults->m_lock);
    int error = 0;
    // Every rule that covers the request counts the call, whether or not an earlier one fails it.
    for (Rule& rule : faults->m_rules) {
        const bool gone = rule.span == Span::BoardGone && rule.fired;
        const bool covered = rule.request == everyRequest ? request != IBMUTEX : rule.request == request;
        if (covered)
            ++rule.seen;
        const bool fails =
            (gone && request != IBMUTEX) ||
            (covered && (rule.span == Span::Once ? rule.seen == rule.nth : rule.seen >= rule.nth));
        if (fails && error == 0) {
            error = rule.error;
            first = !rule.fired;
            rule.fired = true;
        }
    }
    if (error != 0)
        ++faults->m_failures;
    if (first)
        watch = faults->m_watch;
    return error;
}

std::string BoardFaults::traceLine(unsigned long request, int error) {
    const char* name = strerrorname_np(error);
    return std::string("board: ") + requestName(request) + " fails with " +
           (name != nullptr ? name : std::to_string(error));
}

} // namespace ktq::sim::board
