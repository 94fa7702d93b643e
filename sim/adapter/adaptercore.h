// A "++" GPIB adapter without its link: bytes from the host in, bytes for the host out, the
// simulated bus driven in between.
#pragma once

#include "sim/adapter/profile.h"
#include "sim/simbus.h"

#include <chrono>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace ktq::sim::adapter {

/// The settings an adapter keeps, and may save in its non-volatile memory.
struct AdapterSettings {
    int primary = 0;
    int secondary = -1; // none; else 0 .. 30
    int autoRead = 0;
    bool eoi = true;
    int eos = 0; // appended to data for the bus: 0 CR LF, 1 CR, 2 LF, 3 nothing
    bool eotEnable = false;
    int eotChar = 0;
    bool controller = true; // "++mode 1"; false: device mode
    int readTimeoutMs = 500;
    bool listenOnly = false;
    int status = 0;          // the status byte a device-mode adapter would answer a serial poll with
    std::string versionText; // an AR488's "++id verstr": what "++ver" answers instead of the firmware line
    int flags = 0;           // an AR488's "++flags": 1 "AR488~RDY" at start, 2 "Read^OK", 4 "Send^OK"

    bool operator==(const AdapterSettings&) const = default;
};

/// One adapter on the bench. The host's bytes are taken as the manuals describe: a line ends at
/// an unescaped CR or LF; ESC makes the next byte plain data (so CR, LF, ESC and "+" reach the
/// bus when escaped); a line starting with an unescaped "++" is a command for the adapter, any
/// other non-empty line is data for the addressed unit, sent with the "++eos" ending appended and
/// EOI on its last byte while "++eoi 1". Everything the adapter answers ends with CR LF; what a
/// unit sent comes back unchanged, with the "++eot_char" byte after it where EOI ended it and
/// "++eot_enable 1".
///
/// The dialogue is kept one line each way: "> ++addr 5" for a line the host sent (without its
/// line end), "< 5" for what came back for it (an answer's CR LF left out), bytes escaped as in
/// the wire trace.
///
/// An AR488 on an Uno holds 63 bytes of what arrives while it is busy on the bus: of one write
/// from the host, what comes after a line that went to the bus beyond that is lost (the host's
/// next write comes later, when the firmware is free again). A data line longer than its line
/// buffer goes out in pieces; a command line that long is dropped.
class AdapterCore {
public:
    AdapterCore(SimBus& bench, const AdapterProfile& profile);
    AdapterCore(const AdapterCore&) = delete;
    AdapterCore& operator=(const AdapterCore&) = delete;

    /// Takes bytes from the host and gives back what the adapter sends the host in return.
    std::string fromHost(std::string_view bytes);

    const AdapterProfile& profile() const { return *m_profile; }
    const AdapterSettings& settings() const { return m_settings; }
    /// The settings in non-volatile memory: what power-up and "++rst" bring back.
    const AdapterSettings& savedSettings() const { return m_saved; }
    /// How many times the adapter wrote its non-volatile memory.
    int savedWrites() const { return m_savedWrites; }
    /// The owner's set-up, as a terminal would leave it: verbose mode (echo and prompts), which
    /// no power-up keeps.
    void setVerbose(bool on) { m_verbose = on; }
    /// The board restarting, as a reset brings it up: the settings from memory, the bus cleared.
    void restart();
    /// How many bytes from the host were lost to a full input buffer.
    std::size_t lostBytes() const { return m_lostBytes; }

    /// Every command line that reached the adapter's own persistent state or its role on the
    /// bus ("++savecfg ...", "++rst", "++mode ..."), as the host sent it, in order.
    const std::vector<std::string>& settingsCommands() const { return m_settingsCommands; }
    const std::vector<std::string>& dialogue() const { return m_dialogue; }
    /// Appends every later dialogue line to this file; an empty path stops it.
    void setTraceFile(const std::string& path);

    /// The link's delay before the host sees an answer (a USB serial chip holds a short reply
    /// until its latency timer runs out); none by default.
    void setLinkLatency(std::chrono::milliseconds latency) { m_latency = latency; }
    /// The sleeper the latency uses (the thread's own sleep when none is set); not owned.
    void setSleeper(Sleeper* sleeper) { m_sleeper = sleeper; }

private:
    void takeByte(char ch);
    void takeLine();
    void command(const std::string& line);
    bool settingCommand(const std::string& name, const std::vector<std::string>& arguments);
    bool busCommand(const std::string& name, const std::vector<std::string>& arguments);
    bool ar488Command(const std::string& name, const std::vector<std::string>& arguments);
    void address(const std::vector<std::string>& arguments);
    void setting(int& value, const std::vector<std::string>& arguments, int lowest, int highest);
    void invalid();
    void identity(const std::string& line);
    void data(const std::string& line);
    void answer(const std::string& text);
    void pass(const std::string& bytes);
    void changed(const AdapterSettings& before);
    void powerUp();
    void startController();
    void trigger(const std::vector<std::string>& arguments);

    // The bus side.
    std::string listenAddress(int primary, int secondary) const;
    std::string talkAddress(int primary, int secondary) const;
    /// Bytes under ATN: after what an earlier command left asserted, as one stretch of ATN.
    void commandBytes(const std::string& bytes);
    /// Unlisten and untalk after a message, as an AR488 sends them.
    void unaddressAfterward();
    enum class ReadEnd { Timeout, Eoi, Byte };
    void readFromUnit(ReadEnd end, int endByte);
    void readReply(ReadEnd end, int endByte);
    void serialPoll(int primary, int secondary);
    void poll(const std::vector<std::string>& arguments);
    void findListeners(const std::vector<std::string>& arguments);
    bool listedPrimaries(const std::vector<std::string>& arguments, std::vector<int>& primaries);

    SimBus& m_bench;
    const AdapterProfile* m_profile = nullptr;
    AdapterSettings m_settings;
    AdapterSettings m_saved;
    bool m_saveOnChange = false;
    int m_savedWrites = 0;
    std::vector<std::string> m_settingsCommands;
    std::string m_deviceBuffer; // data held for the controller in device mode
    bool m_verbose = false;
    bool m_touchedBus = false; // the line being taken went to the bus
    // An AR488 unaddresses the unit after each message and leaves ATN asserted: those bytes and
    // the next command's go out in one stretch of ATN.
    std::string m_underAtn;
    bool m_busy = false;    // a line of this write went to the bus
    std::size_t m_held = 0; // bytes taken since then
    std::size_t m_lostBytes = 0;

    std::string m_line;    // the line so far, escapes taken out
    std::string m_rawLine; // as the host sent it
    bool m_escape = false;
    bool m_plainStart = true; // no escaped byte among the first two
    std::string m_out;
    std::string m_traceOut;

    std::vector<std::string> m_dialogue;
    std::ofstream m_traceFile;
    std::chrono::milliseconds m_latency{0};
    Sleeper* m_sleeper = nullptr;
};

} // namespace ktq::sim::adapter
