// The setup routines of the catalogue, one per function table.
#pragma once

#include "catalogue.h"

#include <span>

namespace ktq::models {

// Parallel interface units.
extern const SetupRoutine Config7121;
extern const SetupRoutine Config7172;
extern const SetupRoutine Config7158;
extern const SetupRoutine Config7165B;

// Serial interface units.
extern const SetupRoutine Config7185A;
extern const SetupRoutine Config7187;
extern const SetupRoutine Config7189;
extern const SetupRoutine Config7142;
extern const SetupRoutine Config7150;

// Printer and plotter units.
extern const SetupRoutine Config7181A;
extern const SetupRoutine Config7181B;

// Analog and digital I/O unit.
extern const SetupRoutine Config7170;

// Units that offer only the bus address and the two enable registers.
extern const SetupRoutine Config7174;
extern const SetupRoutine Config7179;
extern const SetupRoutine Config7147;

// Modbus interface units.
extern const SetupRoutine Config7153;
extern const SetupRoutine Config7199;

/// Every setup routine of the catalogue, each once.
std::span<const SetupRoutine* const> allRoutines();

} // namespace ktq::models
