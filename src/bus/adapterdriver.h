// The driver family of "++" GPIB adapters (Prologix GPIB-USB and GPIB-ETHERNET, AR488): the
// program's driver calls spoken as the adapter's commands over a byte link.
#pragma once

#include "adapterlink.h"
#include "gpibdriver.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ktq::bus {

/// What an adapter said of itself when asked "++ver".
struct AdapterIdentity {
    enum class Kind { Prologix, Ar488 };
    Kind kind = Kind::Prologix;
    std::string version; // the "++ver" answer as it came, without its line end
    /// For the operator: "Prologix GPIB-USB 6.107", "Prologix GPIB-ETHERNET 01.06.06.00",
    /// "AR488 0.51.09".
    std::string name;
};

/// Reads a "++ver" answer; nullopt for one that is no adapter's this driver speaks to.
std::optional<AdapterIdentity> adapterIdentity(std::string_view versionAnswer);

/// Asks the adapter on the link for its version and tells which it is; nullopt when nothing on
/// the link answers as a "++" adapter. Sends "++ver" and nothing else.
std::optional<AdapterIdentity> identifyAdapter(AdapterLink& link);

/// One "++" adapter as an NI-488.2 driver: board index 0, NI's status words and error codes.
/// Where an adapter cannot do what a board does, the call says so rather than pretend: SendCmds
/// takes only listen addresses, unlisten, untalk and Group Execute Trigger (anything else: ERR
/// with ECAP, nothing sent); a Send succeeds whether anyone listened or not; a Receive reads to
/// EOI whatever its termination byte, and drops what does not fit; a Prologix finds listeners by
/// serial poll at their primary addresses only. Once the link fails every call fails with EDVR
/// without touching it again.
class AdapterDriver final : public GpibDriver {
public:
    AdapterDriver(std::unique_ptr<AdapterLink> link, AdapterIdentity identity);
    ~AdapterDriver() override;

    std::string_view family() const override;
    /// "Prologix GPIB-USB 6.107 on /dev/ttyUSB0".
    std::string description() const;
    const AdapterIdentity& identity() const { return m_identity; }

#define KTQ_DECLARE_CALL(result, name, params, args, ...) result name params override;
    KTQ_GPIB_CALLS(KTQ_DECLARE_CALL)
#undef KTQ_DECLARE_CALL

private:
    struct State;
    // The listener search: serial polls on a Prologix, the AR488's own search. False, with the
    // status set, when it failed.
    bool pollEach(const std::vector<int>& primaries, std::vector<std::uint16_t>& found);
    bool searchListeners(const std::vector<int>& primaries, std::vector<std::uint16_t>& found);

    std::unique_ptr<AdapterLink> m_link;
    AdapterIdentity m_identity;
    std::unique_ptr<State> m_state;
};

/// The family name every adapter driver gives.
inline constexpr const char* adapterFamily = "GPIB adapter";

} // namespace ktq::bus
