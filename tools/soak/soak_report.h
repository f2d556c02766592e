// Prints a soak run's result: per-channel and per-reset tables, the PTZ and
// I/O steps, memory and threads over time, the driver's log counts and the
// list of checks with their verdict. Stateless.
#pragma once

#include <cstdio>

#include "soak_result.h"

namespace strevon {
namespace soak {

void PrintReport(const SoakResult& result, std::FILE* out);

}  // namespace soak
}  // namespace strevon
