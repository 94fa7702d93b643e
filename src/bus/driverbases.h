// Drivers that pass every call on, or fail every call: the bases of stand-ins and of wrappers
// that look at or change a few calls.
#pragma once

#include "gpibconstants.h"
#include "gpibdriver.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace ktq::bus {

namespace detail {
// Takes a call's arguments so that a class failing every call names them without warnings.
template <typename... Args> constexpr void ignoreArguments(const Args&...) {}
} // namespace detail

/// Passes every call to the driver target() names at the time of the call, which may change from
/// one call to the next; a derived class overrides the calls it looks at. beforeCall hears the name
/// of every call that acts ("Send", "ibfind" ...; not the status reads) that reaches this class,
/// just before it is passed on.
class RoutingDriver : public GpibDriver {
public:
#define KTQ_FORWARD_ACTION(result, name, params, args, ...)                                                  \
    result name params override {                                                                            \
        beforeCall(#name);                                                                                   \
        return target().name args;                                                                           \
    }
    KTQ_GPIB_ACTIONS(KTQ_FORWARD_ACTION)
#undef KTQ_FORWARD_ACTION
#define KTQ_FORWARD_READ(result, name, params, args, ...)                                                    \
    result name params override {                                                                            \
        return target().name args;                                                                           \
    }
    KTQ_GPIB_STATUS_READS(KTQ_FORWARD_READ)
#undef KTQ_FORWARD_READ
    bool triggersItself() const override {
        return target().triggersItself();
    }
    void TriggerUnit(int board, std::uint16_t address) override {
        beforeCall("TriggerUnit");
        target().TriggerUnit(board, address);
    }

protected:
    virtual GpibDriver& target() const = 0;
    virtual void beforeCall(const char* /*name*/) {}
};

/// Passes every call, and what the driver says of itself, to one other driver.
class ForwardingDriver : public RoutingDriver {
public:
    explicit ForwardingDriver(GpibDriver& inner) : m_inner(inner) {}

    std::string_view family() const override { return m_inner.family(); }
    std::string linkDescription() const override { return m_inner.linkDescription(); }
    DriverPlan plan() const override { return m_inner.plan(); }
    std::string unreachableReason() const override { return m_inner.unreachableReason(); }
    void setLinkListener(LinkListener* listener) override { m_inner.setLinkListener(listener); }

protected:
    GpibDriver& inner() const { return m_inner; }

private:
    GpibDriver& target() const override { return m_inner; }

    GpibDriver& m_inner;
};

/// Fails every call without reaching a bus: a descriptor of -1, a status of ERR, and status reads
/// of ERR with the given error code and count.
class FailingDriver : public GpibDriver {
public:
    explicit FailingDriver(std::string_view family = {}, int iberr = ni::EDVR, long count = 0)
        : m_family(family), m_iberr(iberr), m_count(count) {}

    std::string_view family() const override { return m_family; }

#define KTQ_FAIL_ACTION(result, name, params, args, failure)                                                 \
    result name params override {                                                                            \
        detail::ignoreArguments args;                                                                        \
        return result(failure);                                                                              \
    }
    KTQ_GPIB_ACTIONS(KTQ_FAIL_ACTION)
#undef KTQ_FAIL_ACTION
    int ThreadIbsta() override {
        return ni::ERR;
    }
    int ThreadIberr() override {
        return m_iberr;
    }
    int ThreadIbcnt() override {
        return static_cast<int>(m_count);
    }
    long ThreadIbcntl() override {
        return m_count;
    }

private:
    std::string_view m_family;
    int m_iberr = ni::EDVR;
    long m_count = 0;
};

} // namespace ktq::bus
