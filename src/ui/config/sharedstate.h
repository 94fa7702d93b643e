#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace ktq::ui {

/// The values shared by the main window, the configuration window and the dialogs for the whole
/// run of the program. Each window reads and writes the ones its work needs.
struct SharedState {
    static constexpr int maxFunctions = 25;

    std::int16_t BoardIndex = 0;
    std::int16_t BoardDescriptor = 0;
    std::int16_t ModelNumber = 0;
    QString ModelText;
    std::int16_t PrimaryAddress = 0;
    std::int16_t SecondaryAddress = 0;
    std::int16_t DeviceAddress = 0;
    double ChannelNumber = 1;
    QString CrLf = QStringLiteral("\r\n");
    QString GpibErrorText;
    QString CommandText;
    QString EsrQuery = QStringLiteral("*ESR?");
    QString Response;
    QString NewValue;
    QString NoticeText;

    // The current model's function table; entries are numbered from 1, and those above
    // FunctionCount keep what a longer table left there.
    std::array<QString, maxFunctions + 1> FunctionPrompt;
    std::array<QString, maxFunctions + 1> FunctionCommand;
    int FunctionCount = 0;
    QString CommandPrefix;
    std::int16_t AddressFunction = 0;
    std::int16_t LockSupported = 0;
    std::int16_t TriggerOnStart = 0;
    int ChannelCount = 0;

    int FunctionIndex = 1;
    int EntryPending = 0;
    QString ListLine;
};

} // namespace ktq::ui
