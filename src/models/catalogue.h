#pragma once

#include <QString>
#include <QStringList>

#include <span>
#include <string_view>

namespace ktq::models {

struct FunctionEntry {
    std::string_view prompt;
    std::string_view command;
};

/// One setup routine of the catalogue: the table it fills and the family steps it takes.
struct SetupRoutine {
    std::string_view name; // "Config7121", ...
    std::span<const FunctionEntry> functions;
    std::string_view commandPrefix;
    int addressFunction = 1;
    bool lockSupported = false;
    bool triggerOnStart = false;
    int channelCount = 0;           // 4 for the two multi-channel tables, else 0 (left as it was)
    std::string_view noticeModel;   // parallel units: shows the notice naming this model, then IFC
    bool keepsDeviceAddress = false; // 7189: the channel's secondary address stays in the word
    bool hidesNextChannel = false;   // 7189: Next Channel is hidden while a channel runs
};

/// The 28 rows of the model list, in order.
const QStringList& modelList();

/// Models that must be switched off and on before they can be configured.
bool needsPowerCycle(int modelNumber);

/// The setup routine for a model, or nullptr when the model has no table.
const SetupRoutine* dispatch(int modelNumber, const QString& modelText);

/// The notice shown before the parallel units' menus.
QString noticeText(std::string_view model);

} // namespace ktq::models
