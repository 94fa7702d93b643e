// The facts of a run that the run and the windows share.
#pragma once

#include <QString>

#include <cstdint>

namespace ktq::models {
struct SetupRoutine;
}

namespace ktq::run {

/// What a run has established so far: the board, the model chosen, the unit's address and
/// channel. The main window writes the board and the model; the configuration window and the
/// channel dialog the rest. Everything a step computes on its way is handed back, not parked here.
struct SharedState {
    std::int16_t BoardIndex = 0;
    std::int16_t BoardDescriptor = 0;
    std::int16_t ModelNumber = 0;
    QString ModelText;
    // The setup routine of the model, found when the configuration window starts a run; nullptr
    // for a model the catalogue has no table for.
    const models::SetupRoutine* Routine = nullptr;
    std::int16_t PrimaryAddress = 0;
    std::int16_t SecondaryAddress = 0;
    std::int16_t DeviceAddress = 0;
    double ChannelNumber = 1;
};

} // namespace ktq::run
