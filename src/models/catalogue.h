// The model catalogue: the function tables, the setup routines and the dispatch to them.
#pragma once

#include <QString>
#include <QStringList>

#include <span>
#include <string_view>

namespace ktq::models {

/// One line of a function table: what the operator reads and the header the unit understands.
struct FunctionEntry {
    std::string_view prompt;  // shown as stored; a trailing blank is part of it
    std::string_view command; // goes on the wire behind the routine's commandPrefix

    friend bool operator==(const FunctionEntry&, const FunctionEntry&) = default;
};

/// How a four-channel unit is told which channel the menu sets up.
enum class ChannelChoice {
    None,             // one channel
    SecondaryAddress, // each channel answers at secondary address 10 + channel; chosen before the clear
    ChannelCommand,   // one address for all; "C n" after the clear picks the channel
};

/// One setup routine of the catalogue: the table it fills and the family steps it takes.
struct SetupRoutine {
    std::string_view name{};                    // "Config7121", ...
    std::span<const FunctionEntry> functions{}; // function k is functions[k - 1]; never more than 25
    std::string_view commandPrefix{}; // "SYST" for the tables whose headers begin with ":", else empty
    int addressFunction = 1;          // 1-based; 3 where Mode and Emulation come first
    bool lockSupported = false;       // unlock and *CLS before function 1, lock group at the end
    bool triggerOnStart = false;      // bus trigger sequence before function 1
    int channelCount = 0;             // 4 for the two multi-channel tables, else 0
    ChannelChoice channelChoice = ChannelChoice::None;
    std::string_view noticeModel{};  // parallel units: shows the notice naming this model, then IFC
    bool keepsDeviceAddress = false; // 7189: the channel's secondary address stays in the word
    bool hidesNextChannel = false;   // 7189: Next Channel is hidden while a channel runs

    int functionCount() const { return static_cast<int>(functions.size()); }
};

/// One row of the model list: the text the operator picks, its number (the text without its
/// letter) and the setup routine the row reaches.
struct ModelRow {
    std::string_view text;
    int number = 0;
    const SetupRoutine* routine = nullptr;
};

/// Every row, in the model list's order. Adding a model is adding its row.
std::span<const ModelRow> catalogue();

/// The numbers the main window takes as a model; within them, one without a row has no table.
inline constexpr int lowestModelNumber = 7101;
inline constexpr int highestModelNumber = 7199;

/// What every model takes, whatever its table.
namespace commands {
inline constexpr QLatin1String statusQuery{"*ESR?"}; // the verdict on each setting
inline constexpr QLatin1String save{"*SAV 0"};
inline constexpr QLatin1String lock{"CAL:LOCK ON"};
inline constexpr QLatin1String unlock{"CAL:LOCK 0"}; // with clearStatus, before function 1
inline constexpr QLatin1String clearStatus{"*CLS"};
inline constexpr QLatin1String keepStatusEnables{"*PSC 0"};
inline constexpr QLatin1String clearStatusEnables{"*PSC 1"};
} // namespace commands

/// The 28 rows' texts, in order.
const QStringList& modelList();

/// Models that must be switched off and on before they can be configured: those whose routine
/// triggers the unit on the bus before the first query.
bool needsPowerCycle(int modelNumber);

/// The setup routine for a model, or nullptr when the model has no table. Only 7181 looks at
/// the text: "7181B" exactly gets its own table, any other text the 7181A one.
const SetupRoutine* dispatch(int modelNumber, const QString& modelText);

/// The notice shown before the parallel units' menus, naming the given model ("7165B").
QString noticeText(std::string_view model);

} // namespace ktq::models
