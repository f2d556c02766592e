// Small text functions of the simulator: the strict numbers its requests and
// stdin commands carry, and the list and prefix tests of request parameters.
// The simulator links no driver code, so it keeps its own. Pure functions,
// safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace strevon {
namespace sim {

bool StartsWith(const std::string& text, const std::string& prefix);

// Strict unsigned decimal: digits only, not empty, no sign or blanks. On
// failure *out is left as it was. The 64-bit form takes at most 19 digits,
// so it never wraps; the 32-bit form at most 10 digits and 32 bits.
bool ParseUint64(const std::string& text, std::uint64_t* out);
bool ParseUint32(const std::string& text, std::uint32_t* out);

// The non-empty pieces between commas ("a,,b," gives "a" and "b").
std::vector<std::string> SplitComma(const std::string& text);

// Lower-case copy; only A to Z change.
std::string ToLowerAscii(const std::string& text);

}  // namespace sim
}  // namespace strevon
