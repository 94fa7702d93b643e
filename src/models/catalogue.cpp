// The model list, the dispatch from a model to its setup routine, and the parallel units' notice.
#include "catalogue.h"

#include "routines.h"

#include <array>

namespace ktq::models {

const QStringList& modelList() {
    static const QStringList models{
        "7121",  "7134A", "7134B", "7142",  "7147",  "7150",  "7153", "7153A", "7158", "7160",
        "7162",  "7162A", "7165B", "7168A", "7170A", "7170B", "7172", "7174",  "7176", "7179",
        "7181A", "7181B", "7185A", "7185B", "7187",  "7189",  "7199", "7199A",
    };
    return models;
}

bool needsPowerCycle(int modelNumber) {
    // Every row of a model number shares the trigger, so the text that picks 7181's table is not needed.
    const SetupRoutine* routine = dispatch(modelNumber, {});
    return routine != nullptr && routine->triggerOnStart;
}

// Keyed on the number with the letter dropped; only 7181 needs the letter.
const SetupRoutine* dispatch(int modelNumber, const QString& modelText) {
    switch (modelNumber) {
    case 7121:
        return &Config7121;
    case 7134:
    case 7185:
        return &Config7185A;
    case 7142:
    case 7160:
    case 7176:
        return &Config7142;
    case 7147:
        return &Config7147;
    case 7150:
        return &Config7150;
    case 7153:
    case 7168:
        return &Config7153;
    case 7158:
        return &Config7158;
    case 7162:
    case 7199:
        return &Config7199;
    case 7165:
        return &Config7165B;
    case 7170:
        return &Config7170;
    case 7172:
        return &Config7172;
    case 7174:
        return &Config7174;
    case 7179:
        return &Config7179;
    case 7181:
        return modelText == QLatin1String("7181B") ? &Config7181B : &Config7181A;
    case 7187:
        return &Config7187;
    case 7189:
        return &Config7189;
    default:
        return nullptr;
    }
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
    static constexpr std::array<const SetupRoutine*, 17> routines{
        &Config7121, &Config7172, &Config7158, &Config7165B, &Config7185A, &Config7187,
        &Config7189, &Config7142, &Config7150, &Config7181A, &Config7181B, &Config7170,
        &Config7174, &Config7179, &Config7147, &Config7153,  &Config7199,
    };
    return routines;
}

} // namespace ktq::models
