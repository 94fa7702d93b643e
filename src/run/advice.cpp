// What the operator can do about a failed driver call: the advice rules and their texts.
#include "advice.h"

#include "bus/busaddress.h"
#include "bus/driverplan.h"
#include "bus/errorreport.h"
#include "bus/families.h"
#include "bus/gpibconstants.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <array>
#include <cerrno>

namespace ktq::run {

namespace {

constexpr unsigned steps(std::initializer_list<BusStep> list) {
    unsigned mask = 0;
    for (BusStep step : list) {
        mask |= static_cast<unsigned>(step);
    }
    return mask;
}

constexpr unsigned bringUp = steps({BusStep::FindBoard, BusStep::SetUpBoard, BusStep::Search});
constexpr unsigned unitSteps = steps({BusStep::ClearUnit, BusStep::Query, BusStep::Store});

enum class Family { Any, None, LinuxGpib, Ni, Adapter };

constexpr int anyCode = -1;
constexpr long anyCount = -1;

// linux-gpib leaves the system's errno in the count of an EDVR failure. Its ibfind gives ENOENT
// when the configuration file is missing, and EBADF when the board named there cannot be opened:
// the open's own errno is overwritten by the status read that follows on the unopened file.
constexpr long noConfigurationFile = ENOENT;
constexpr long boardFileNotOpened = EBADF;
// And ENODEV when the board's driver has lost its device, as a USB adapter's does once unplugged.
constexpr long boardDeviceGone = ENODEV;

struct AdviceRule {
    unsigned steps;
    Family family;
    int iberr;
    long count;
    const char* text; // {address}, {model}, {error}, {libraries}, {configfile}, {noadapter} filled in
};

// The README explains each platform's driver set-up in a section of its own.
#ifdef _WIN32
constexpr const char* readmeSection = "Windows";
constexpr const char* searchedPorts = "the COM ports";
constexpr const char* noAdapter =
    " Nor did a \"++\" GPIB adapter (Prologix, AR488) answer on a COM port: plug one in, or name it with "
    "KTQ_GPIB_ADAPTER (its COM port, or host:port for one on the network).";
#else
constexpr const char* readmeSection = "Real hardware";
constexpr const char* searchedPorts = "the USB serial ports";
constexpr const char* noAdapter =
    " Nor did a \"++\" GPIB adapter (Prologix, AR488) answer on a USB serial port: plug one in, or name it "
    "with KTQ_GPIB_ADAPTER (its device, such as /dev/ttyUSB0, or host:port for one on the network).";
#endif

// A command transfer nobody takes: the driver finds no listener (ENOL), or the handshake never
// completes (EBUS), as when the units are switched off. The search takes what it found as it is.
constexpr const char* unitsOffSearch =
    "The search ended with {error} from the driver: no unit took its bus commands, as when every unit "
    "on the bus is switched off. Check that the units are switched on and their GPIB cables connected, "
    "then press Done and Configure to search again, or type the unit's address.";

// The first rule that fits wins, so a rule for one family or count comes before the general one.
const std::array adviceRules{
    // Without a library every call fails and ibfind is the first; a later step with no family
    // named has a driver that works, whatever it is.
    AdviceRule{steps({BusStep::FindBoard}), Family::None, anyCode, anyCount,
               "No GPIB driver library was found ({libraries}): install the driver of the GPIB board and "
               "start the program again.{noadapter}"},
    AdviceRule{steps({BusStep::FindBoard}), Family::LinuxGpib, bus::ni::EDVR, noConfigurationFile,
               "linux-gpib found no configuration file: describe the board in {configfile} with name = "
               "\"GPIB0\" and minor = 0, load its kernel module and run gpib_config."},
    AdviceRule{steps({BusStep::FindBoard}), Family::LinuxGpib, bus::ni::EDVR, boardFileNotOpened,
               "linux-gpib could not open board GPIB0's device file /dev/gpib0: check that the board is "
               "fitted, its kernel module is loaded and gpib_config has run, and that you may read and "
               "write /dev/gpib0 (usually as a member of the gpib group)."},
    AdviceRule{steps({BusStep::FindBoard}), Family::LinuxGpib, bus::ni::EDVR, anyCount,
               "linux-gpib has no usable board GPIB0: check that {configfile} can be read and names the "
               "board \"GPIB0\" with minor = 0, that its kernel module is loaded and gpib_config has "
               "run, and that you may read and write /dev/gpib0."},
    AdviceRule{steps({BusStep::FindBoard}), Family::Adapter, anyCode, anyCount,
               "The GPIB adapter could not be used: check that it is plugged in (or reachable on the "
               "network) and switched on, and that KTQ_GPIB_ADAPTER, where it is set, names it."},
    AdviceRule{steps({BusStep::FindBoard}), Family::Any, bus::ni::EDVR, anyCount,
               "The driver could not open board GPIB0: check that the board is fitted, that its driver "
               "sees it, and that the driver's configuration names it GPIB0."},
    AdviceRule{
        steps({BusStep::Search}) | unitSteps, Family::LinuxGpib, bus::ni::EDVR, boardDeviceGone,
        "Board GPIB0 is gone: linux-gpib reports ENODEV (EDVR with the count 19), as when a USB adapter "
        "is unplugged or switched off, and nothing more is sent to it. Plug it back in, check that "
        "gpib_config has run, then press Done and Configure again."},
    AdviceRule{bringUp, Family::Any, bus::ni::ENEB, anyCount,
               "There is no GPIB board GPIB0: check that the board is fitted and that the driver's "
               "configuration names it GPIB0."},
    AdviceRule{bringUp, Family::Any, bus::ni::ESAC, anyCount,
               "Board GPIB0 is not the system controller: make it the system controller in the driver's "
               "configuration."},
    AdviceRule{steps({BusStep::SetUpBoard}), Family::Any, anyCode, anyCount,
               "The driver would not set up board GPIB0: check the board and the driver's configuration."},
    AdviceRule{steps({BusStep::Search}), Family::Any, bus::ni::ENOL, anyCount, unitsOffSearch},
    AdviceRule{steps({BusStep::Search}), Family::Any, bus::ni::EBUS, anyCount, unitsOffSearch},
    AdviceRule{steps({BusStep::Search}), Family::Any, anyCode, anyCount,
               "The search could not use board GPIB0 (the driver reported {error}): check the board and its "
               "driver, or type the unit's address if you know it."},
    AdviceRule{unitSteps, Family::Any, bus::ni::ENOL, anyCount,
               "No unit listens at address {address}: check the address, and that the unit is switched on "
               "and its GPIB cable connected."},
    AdviceRule{unitSteps, Family::Any, bus::ni::EBUS, anyCount,
               "The bus commands for address {address} were not taken (the driver reported {error}), as "
               "when every unit on the bus is switched off: check that the unit is switched on and its GPIB "
               "cable connected."},
    AdviceRule{steps({BusStep::Query}), Family::Any, bus::ni::EABO, anyCount,
               "No answer from address {address} within the timeout: the program is asking it as a "
               "{model}; the unit there may be another model, or not at address {address}."},
    AdviceRule{unitSteps, Family::Any, bus::ni::EABO, anyCount,
               "The unit at address {address} did not take the command within the timeout: check that it "
               "is switched on and connected, and that it is at address {address}."},
    AdviceRule{unitSteps, Family::Any, bus::ni::ENEB, anyCount,
               "Board GPIB0 is gone: check the board and its driver, then press Done and Configure again."},
    AdviceRule{unitSteps, Family::Any, bus::ni::EDVR, anyCount,
               "The driver lost board GPIB0: check the board and its driver, then press Done and Configure "
               "again."},
    AdviceRule{unitSteps, Family::Any, anyCode, anyCount,
               "The transfer to address {address} failed: check the address, the unit and its cable."},
};

Family familyOf(std::string_view name) {
    if (name.empty()) {
        return Family::None;
    }
    if (name == bus::linuxGpibFamily) {
        return Family::LinuxGpib;
    }
    if (name == bus::niFamily) {
        return Family::Ni;
    }
    if (name == bus::adapterFamily) {
        return Family::Adapter;
    }
    return Family::Any;
}

bool fits(const AdviceRule& rule, const BusFailure& failure, Family family) {
    return (rule.steps & static_cast<unsigned>(failure.step)) != 0 &&
           (rule.family == Family::Any || rule.family == family) &&
           (rule.iberr == anyCode || rule.iberr == failure.status.iberr) &&
           (rule.count == anyCount || rule.count == failure.status.ibcntl);
}

QString libraryNames() {
#ifdef _WIN32
    return QStringLiteral("NI-488.2's ni4882.dll");
#else
    return QStringLiteral("linux-gpib's libgpib.so.0, NI-488.2's libni4882.so");
#endif
}

QString filled(std::string_view text, const QString& address, const QString& model,
               const QString& error = {}) {
    QString out = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    out.replace(QStringLiteral("{address}"), address);
    out.replace(QStringLiteral("{model}"), model);
    out.replace(QStringLiteral("{error}"), error);
    out.replace(QStringLiteral("{libraries}"), libraryNames());
    out.replace(QStringLiteral("{configfile}"), linuxGpibConfigurationFile());
    out.replace(QStringLiteral("{noadapter}"), noAdapterAdvice());
    return out;
}

struct StoreTexts {
    StoreAction action;
    const char* succeeded;
    const char* failed;
};

constexpr std::array storeTexts{
    StoreTexts{StoreAction::SaveSettings,
               "Settings stored in the unit at address {address}: it starts with them at its next "
               "power-up.",
               "The settings were NOT stored in the unit at address {address}."},
    StoreTexts{StoreAction::LockSettings,
               "Settings stored and locked in the unit at address {address}: it refuses changes until "
               "unlocked.",
               "The settings were NOT locked in the unit at address {address}."},
    StoreTexts{StoreAction::KeepStatusEnables,
               "The unit at address {address} now keeps its ESE and SRE values at power-up.",
               "The unit at address {address} was NOT told to keep its ESE and SRE values."},
    StoreTexts{StoreAction::ClearStatusEnables,
               "The unit at address {address} now clears its ESE and SRE values at power-up.",
               "The unit at address {address} was NOT told to clear its ESE and SRE values."},
};

std::string_view familyName(Family family) {
    switch (family) {
    case Family::None:
        return "none";
    case Family::LinuxGpib:
        return bus::linuxGpibFamily;
    case Family::Ni:
        return bus::niFamily;
    case Family::Adapter:
        return bus::adapterFamily;
    case Family::Any:
        break;
    }
    return {};
}

QString readmeSentence() {
    return QStringLiteral("The README's \"") + QLatin1String(readmeSection) +
           QStringLiteral("\" section explains the set-up (") +
           readmePlace(QCoreApplication::applicationDirPath()) + QStringLiteral(").");
}

} // namespace

QString documentationFolder(const QString& programFolder) {
#ifdef _WIN32
    return QDir::toNativeSeparators(QDir::cleanPath(programFolder));
#else
    return QDir::cleanPath(programFolder + QStringLiteral("/../share/doc/ktqconfig"));
#endif
}

QString readmePlace(const QString& programFolder) {
    const QString beside = QDir(documentationFolder(programFolder)).filePath(QStringLiteral("README.md"));
    if (QFileInfo::exists(beside)) {
        return QDir::toNativeSeparators(beside);
    }
#ifdef _WIN32
    return QStringLiteral("README.md in the program's folder");
#else
    // A program run from its build folder: the package's place, or the source beside the build.
    return QStringLiteral("/usr/share/doc/ktqconfig/README.md, or README.md in the source");
#endif
}

QString startAdvice(const bus::DriverPlan& plan, std::string_view driverFamily) {
    if (!plan.namedAdapter.empty()) {
        return QStringLiteral("Configure will use the GPIB adapter KTQ_GPIB_ADAPTER names, ") +
               QString::fromStdString(plan.namedAdapter) + QStringLiteral(", and try nothing else.");
    }
    const QString ports = plan.asksPorts ? QStringLiteral(", or, where that board does not open, ask ") +
                                               QLatin1String(searchedPorts) +
                                               QStringLiteral(" for a \"++\" GPIB adapter (Prologix, AR488)")
                                         : QString();
    if (!plan.library.empty()) {
        return QStringLiteral("Configure will open board GPIB0 through ") +
               QString::fromUtf8(driverFamily.data(), static_cast<qsizetype>(driverFamily.size())) +
               QStringLiteral(" (") + QString::fromStdString(plan.library) + u')' + ports + u'.';
    }
    QString text = QStringLiteral("No GPIB driver library was found (") + libraryNames() + u')';
    text += plan.asksPorts ? QStringLiteral(": Configure will ask ") + QLatin1String(searchedPorts) +
                                 QStringLiteral(" for a \"++\" GPIB adapter (Prologix, AR488).")
                           : QStringLiteral(".");
    return text + u' ' + readmeSentence();
}

QString singleListenerAdvice(std::int16_t address, const QString& model) {
    return QStringLiteral("The address box holds the address the search found, ") + QString::number(address) +
           QStringLiteral(": press Set Address to configure the unit there as a ") + model +
           QStringLiteral(", or type another address first.");
}

QString noListenerAdvice(const QString& model, bool behindSecondaries) {
    if (behindSecondaries) {
        return QStringLiteral("A ") + model +
               QStringLiteral(" listens only at its channels' secondary addresses, which not every "
                              "driver's search lists: type the unit's address (0 to 30) and press Set "
                              "Address; the channel dialog follows.");
    }
    return QStringLiteral("No unit answered the search: check that the unit is switched on and its GPIB "
                          "cable connected, then type its address and press Set Address.");
}

QString refusedValueAdvice(const QString& address, const QString& value, const QString& prompt) {
    return QStringLiteral("The unit at address ") + address + QStringLiteral(" refused \"") + value +
           QStringLiteral("\"; the prompt says what it takes: \"") + prompt.trimmed() +
           QStringLiteral("\". Type another value and press Enter or Advance; pressed with the box "
                          "empty, they go on to the next function and this line keeps \"Error - retry\".");
}

QString noAdapterAdvice() {
    return QLatin1String(noAdapter);
}

QString linuxGpibConfigurationFile() {
    // linux-gpib reads the file IB_CONFIG names, else the gpib.conf of the sysconfdir it was built
    // with: /usr/local/etc for a build from source with its defaults, /etc for --sysconfdir=/etc.
    if (const QString named = qEnvironmentVariable("IB_CONFIG"); !named.isEmpty()) {
        return named + QStringLiteral(" (named by IB_CONFIG)");
    }
    return QStringLiteral("/usr/local/etc/gpib.conf (linux-gpib built from source with its defaults) or "
                          "/etc/gpib.conf (built with --sysconfdir=/etc)");
}

std::vector<AdviceRuleView> adviceRuleViews() {
    std::vector<AdviceRuleView> views;
    for (const AdviceRule& rule : adviceRules) {
        views.push_back(
            AdviceRuleView{rule.steps, familyName(rule.family), rule.iberr, rule.count, rule.text});
    }
    return views;
}

QString ruleAdvice(const BusFailure& failure) {
    const Family family = familyOf(failure.driverFamily);
    for (const AdviceRule& rule : adviceRules) {
        if (fits(rule, failure, family)) {
            QString text =
                filled(rule.text, failure.address, failure.model, bus::gpibErrorName(failure.status.iberr));
            if ((static_cast<unsigned>(failure.step) & bringUp) != 0) {
                text += u' ' + readmeSentence();
            }
            return text;
        }
    }
    return {};
}

// Every report of a failed call ends so: the calls before it often tell more than the last.
QString busAdvice(const BusFailure& failure) {
    const QString traffic = QStringLiteral("Bus Traffic (Ctrl+T) shows the calls that led to it.");
    const QString rule = ruleAdvice(failure);
    return rule.isEmpty() ? traffic : rule + u' ' + traffic;
}

QString silentUnitAdvice(const QString& address, const QString& model) {
    return filled("The unit at address {address} does not answer as a {model}: most likely the model "
                  "chosen does not match the unit, or the address is wrong. Press Done to choose another "
                  "model, or Redo from Start to type another address.",
                  address, model);
}

QString storeOutcome(StoreAction action, const QString& address, bool succeeded) {
    for (const StoreTexts& texts : storeTexts) {
        if (texts.action == action) {
            return filled(succeeded ? texts.succeeded : texts.failed, address, {});
        }
    }
    return {};
}

std::int16_t addressEntry(std::int16_t word) {
    const auto bits = static_cast<std::uint16_t>(word);
    if (bits <= bus::BusAddress::withSecondary(0, 0).word()) {
        return word;
    }
    const bus::BusAddress address = bus::BusAddress::fromWord(bits);
    return static_cast<std::int16_t>(address.primary * 100 + address.secondary - bus::secondaryBase);
}

QString addressListText(std::span<const std::int16_t> words) {
    QStringList entries;
    for (std::int16_t word : words) {
        entries << QString::number(addressEntry(word));
    }
    return entries.join(QStringLiteral(", "));
}

QString listenersAdvice(std::span<const std::int16_t> words) {
    return QStringLiteral("Listeners answered at addresses ") + addressListText(words) +
           QStringLiteral(": type the address of the unit to configure and press Set Address.");
}

} // namespace ktq::run
