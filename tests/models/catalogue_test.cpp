// The model list: its order, texts and the routine each model reaches.
#include "models/catalogue.h"
#include "models/routines.h"

#include <gtest/gtest.h>

#include <set>
#include <string_view>

namespace ktq::models {
namespace {

struct ListedModel {
    const char* text;
    const SetupRoutine* routine;
};

// The model list in its order, with the routine each row must reach.
const ListedModel kListedModels[] = {
    {"7121", &Config7121},   {"7134A", &Config7185A}, {"7134B", &Config7185A}, {"7142", &Config7142},
    {"7147", &Config7147},   {"7150", &Config7150},   {"7153", &Config7153},   {"7153A", &Config7153},
    {"7158", &Config7158},   {"7160", &Config7142},   {"7162", &Config7199},   {"7162A", &Config7199},
    {"7165B", &Config7165B}, {"7168A", &Config7153},  {"7170A", &Config7170},  {"7170B", &Config7170},
    {"7172", &Config7172},   {"7174", &Config7174},   {"7176", &Config7142},   {"7179", &Config7179},
    {"7181A", &Config7181A}, {"7181B", &Config7181B}, {"7185A", &Config7185A}, {"7185B", &Config7185A},
    {"7187", &Config7187},   {"7189", &Config7189},   {"7199", &Config7199},   {"7199A", &Config7199},
};

int numberOf(const QString& text) {
    return text.left(4).toInt();
}

TEST(ModelCatalogue, EveryListedRowDispatchesToItsRoutine) {
    const QStringList& list = modelList();
    ASSERT_EQ(list.size(), std::size(kListedModels));
    for (qsizetype row = 0; row < list.size(); ++row) {
        const ListedModel& expected = kListedModels[row];
        SCOPED_TRACE(expected.text);
        EXPECT_EQ(list[row], QString::fromLatin1(expected.text)) << "row " << row + 1;
        const SetupRoutine* routine = dispatch(numberOf(list[row]), list[row]);
        ASSERT_NE(routine, nullptr);
        EXPECT_EQ(routine->name, expected.routine->name);
    }
}

// What a new row must hold: a routine, its text's number within the range, a text of its own.
TEST(ModelCatalogue, EveryRowHasARoutineAndANumberInRange) {
    std::set<std::string_view> texts;
    for (const ModelRow& row : catalogue()) {
        SCOPED_TRACE(row.text);
        EXPECT_NE(row.routine, nullptr);
        EXPECT_EQ(row.number, numberOf(QString::fromLatin1(row.text.data(), row.text.size())));
        EXPECT_GE(row.number, lowestModelNumber);
        EXPECT_LE(row.number, highestModelNumber);
        EXPECT_TRUE(texts.insert(row.text).second) << "listed twice";
    }
}

TEST(ModelCatalogue, NumbersWithoutTableGiveNoRoutine) {
    for (int number : {0, -7121, 7100, 7101, 7120, 7122, 7133, 7135, 7169, 7180, 7186, 7198, 7200}) {
        EXPECT_EQ(dispatch(number, QString::number(number)), nullptr) << number;
    }
}

TEST(ModelCatalogue, OnlyTheExactText7181BGetsTheLongerPrinterTable) {
    EXPECT_EQ(dispatch(7181, "7181B"), &Config7181B);
    for (const char* text : {"7181A", "7181", "", "7181b", "7181B ", " 7181B", "7181BB"}) {
        EXPECT_EQ(dispatch(7181, text), &Config7181A) << '"' << text << '"';
    }
    // The letter counts only for 7181: other B versions keep their number's table.
    EXPECT_EQ(dispatch(7134, "7134B"), &Config7185A);
    EXPECT_EQ(dispatch(7170, "7170B"), &Config7170);
}

TEST(ModelCatalogue, PowerCycleModelsAreExactlyTheTriggeredOnes) {
    for (const ListedModel& model : kListedModels) {
        const int number = numberOf(model.text);
        EXPECT_EQ(needsPowerCycle(number), model.routine->triggerOnStart) << model.text;
    }
    for (int number : {0, 7100, 7135, 7186, 7188}) {
        EXPECT_FALSE(needsPowerCycle(number)) << number;
    }
}

TEST(ModelCatalogue, NoticeFor7165BNamesTheModelAndRunsThePiecesTogether) {
    EXPECT_EQ(
        noticeText("7165B"),
        QStringLiteral("    NOTE - This routine configures a 7165B for string data transfer and does NOT "
                       "configure the unit for byte transfer nor for monitoring input data in the "
                       "Questionable Register.    These functions require additional commands in the "
                       "user's program as they are too complex to implement in the configuration "
                       "menu.    Press Cancel when ready to continue."));
}

} // namespace
} // namespace ktq::models
