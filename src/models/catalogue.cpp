// The catalogue: one row per model, and what the model list, the dispatch and the range read of it.
#include "catalogue.h"

#include "routines.h"

#include <algorithm>
#include <array>
#include <vector>

namespace ktq::models {

namespace {

// The model list's rows in their order. A number with several rows shares one routine, except
// 7181, whose "7181B" row has the longer printer table.
constexpr std::array<ModelRow, 28> rows{{
    {"7121", 7121, &Config7121},   {"7134A", 7134, &Config7185A}, {"7134B", 7134, &Config7185A},
    {"7142", 7142, &Config7142},   {"7147", 7147, &Config7147},   {"7150", 7150, &Config7150},
    {"7153", 7153, &Config7153},   {"7153A", 7153, &Config7153},  {"7158", 7158, &Config7158},
    {"7160", 7160, &Config7142},   {"7162", 7162, &Config7199},   {"7162A", 7162, &Config7199},
    {"7165B", 7165, &Config7165B}, {"7168A", 7168, &Config7153},  {"7170A", 7170, &Config7170},
    {"7170B", 7170, &Config7170},  {"7172", 7172, &Config7172},   {"7174", 7174, &Config7174},
    {"7176", 7176, &Config7142},   {"7179", 7179, &Config7179},   {"7181A", 7181, &Config7181A},
    {"7181B", 7181, &Config7181B}, {"7185A", 7185, &Config7185A}, {"7185B", 7185, &Config7185A},
    {"7187", 7187, &Config7187},   {"7189", 7189, &Config7189},   {"7199", 7199, &Config7199},
    {"7199A", 7199, &Config7199},
}};

} // namespace

std::span<const ModelRow> catalogue() {
    return rows;
}

const QStringList& modelList() {
    static const QStringList models = [] {
        QStringList list;
        for (const ModelRow& row : rows)
            list << QString::fromLatin1(row.text.data(), static_cast<qsizetype>(row.text.size()));
        return list;
    }();
    return models;
}

bool needsPowerCycle(int modelNumber) {
    // Every row of a model number shares the trigger, so the text that picks 7181's table is not needed.
    const SetupRoutine* routine = dispatch(modelNumber, {});
    return routine != nullptr && routine->triggerOnStart;
}

// The row whose text is the one given, else the number's first row: only 7181's rows differ.
const SetupRoutine* dispatch(int modelNumber, const QString& modelText) {
    const SetupRoutine* first = nullptr;
    for (const ModelRow& row : rows) {
        if (row.number != modelNumber)
            continue;
        if (modelText == QLatin1String(row.text.data(), static_cast<qsizetype>(row.text.size())))
            return row.routine;
        first = first != nullptr ? first : row.routine;
    }
    return first;
}

QString noticeText(std::string_view model) {
    QString text = QStringLiteral("    NOTE - This routine configures a ");
    text += QString::fromLatin1(model.data(), static_cast<qsizetype>(model.size()));
    text += QStringLiteral(" for string data transfer"
                           " and does NOT configure the unit for byte transfer nor for"
                           " monitoring input data in the Questionable Register."
                           "    These functions require additional commands in the user's program"
                           " as they are too complex to implement in the configuration menu."
                           "    Press Cancel when ready to continue.");
    return text;
}

std::span<const SetupRoutine* const> allRoutines() {
    static const std::vector<const SetupRoutine*> routines = [] {
        std::vector<const SetupRoutine*> distinct;
        for (const ModelRow& row : rows)
            if (std::find(distinct.begin(), distinct.end(), row.routine) == distinct.end())
                distinct.push_back(row.routine);
        return distinct;
    }();
    return routines;
}

} // namespace ktq::models
