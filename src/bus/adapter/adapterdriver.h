// The driver family of "++" GPIB adapters (Prologix GPIB-USB and GPIB-ETHERNET, AR488): the
// program's driver calls spoken as the adapter's commands over a byte link.
#pragma once

#include "adapterlink.h"
#include "bus/families.h"
#include "bus/gpibdriver.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ktq::bus {

/// What an adapter said of itself. An AR488's "++ver" answers whatever text its owner set with
/// "++id verstr" (a Prologix's, for other software), so an AR488 is told by what only its
/// firmware answers: "++ver real", its own version line.
struct AdapterIdentity {
    enum class Kind { Prologix, Ar488 };
    Kind kind = Kind::Prologix;
    std::string version; // the "++ver" answer as it came, without its line end
    /// An AR488's "++ver real" answer, "AR488 GPIB controller, ver. 0.53.04, 13/04/2025"; empty
    /// for a Prologix.
    std::string firmware;
    /// For the operator: "Prologix GPIB-USB 6.107", "Prologix GPIB-ETHERNET 01.06.06.00",
    /// "AR488 0.53.04".
    std::string name;
};

/// Reads one version line, a Prologix's "++ver" answer or an AR488's firmware line; nullopt for
/// one that is no adapter's this driver speaks to.
std::optional<AdapterIdentity> adapterIdentity(std::string_view versionAnswer);

/// Asks the adapter on the link for its version and tells which it is; nullopt when nothing on
/// the link answers as a "++" adapter. Sends "++ver" (again while a board that resets when its
/// port opens is starting), then "++ver real" and "++eoi", which change nothing on either kind.
std::optional<AdapterIdentity> identifyAdapter(AdapterLink& link);

/// One "++" adapter as an NI-488.2 driver: board index 0, NI's status words and error codes.
/// Where an adapter cannot do what a board does, the call says so rather than pretend: SendCmds
/// fails with ECAP, nothing sent (a trigger is TriggerUnit's "++trg"); a Send succeeds whether anyone
/// listened or not; a Receive reads to EOI whatever its termination byte, and drops what does not fit; a
/// Prologix finds listeners by serial poll at their primary addresses only. Once the link fails every call
/// fails with EDVR without touching it again.
class AdapterDriver final : public GpibDriver {
public:
    AdapterDriver(std::unique_ptr<AdapterLink> link, AdapterIdentity identity);
    ~AdapterDriver() override;

    std::string_view family() const override;
    /// "Prologix GPIB-USB 6.107 on /dev/ttyUSB0".
    std::string description() const;

    void setLinkListener(LinkListener* listener) override { m_listener = listener; }
    bool triggersItself() const override;
    void TriggerUnit(int board, std::uint16_t address) override;

#define KTQ_DECLARE_CALL(result, name, params, args, ...) result name params override;
    KTQ_GPIB_CALLS(KTQ_DECLARE_CALL)
#undef KTQ_DECLARE_CALL

private:
    struct State;
    // Whether the adapter is the controller already; nullopt, with the status set, on failure.
    std::optional<bool> prologixMode();
    std::optional<bool> ar488Mode();
    bool receiveFromPrologix(const std::string& request, long count, std::string& reply, bool& ended);
    bool receiveFromAr488(const std::string& request, std::string& reply, bool& ended);
    bool pollAr488(const std::vector<int>& primaries, std::vector<std::uint16_t>& found);
    // The listener search: serial polls on a Prologix, the AR488's own search. False, with the
    // status set, when it failed.
    bool pollEach(const std::vector<int>& primaries, std::vector<std::uint16_t>& found);
    bool searchListeners(const std::vector<int>& primaries, std::vector<std::uint16_t>& found);

    std::unique_ptr<AdapterLink> m_link;
    std::atomic<LinkListener*> m_listener = nullptr;
    ListenedLink m_heard{*m_link, m_listener}; // what every call goes through
    AdapterIdentity m_identity;
    std::unique_ptr<State> m_state;
};

} // namespace ktq::bus
