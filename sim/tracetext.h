// How the traces print bytes, status words and lists: as the program's traffic does.
#pragma once

#include "src/bus/calltext.h"

namespace ktq::sim {

using bus::escaped;
using bus::hex4;
using bus::joined;
using bus::quoted;

} // namespace ktq::sim
