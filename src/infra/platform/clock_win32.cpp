#include "infra/platform/clock.h"

#include <windows.h>

namespace quorvel {
namespace platform {

std::uint64_t WallClockFileTime() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  FILETIME fileTime;
  if (!SystemTimeToFileTime(&now, &fileTime)) return 0;
  return (static_cast<std::uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
}

LocalTime LocalNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  LocalTime result;
  result.year = now.wYear;
  result.month = now.wMonth;
  result.day = now.wDay;
  result.hour = now.wHour;
  result.minute = now.wMinute;
  result.second = now.wSecond;
  result.milliseconds = now.wMilliseconds;
  return result;
}

std::uint64_t Monotonic100ns() {
  // The counter's frequency is fixed at boot; reading it once is enough.
  static const std::uint64_t frequency = [] {
    LARGE_INTEGER value;
    return QueryPerformanceFrequency(&value) && value.QuadPart > 0
               ? static_cast<std::uint64_t>(value.QuadPart)
               : 0u;
  }();
  LARGE_INTEGER counter;
  if (frequency == 0 || !QueryPerformanceCounter(&counter) || counter.QuadPart < 0) return 0;
  const std::uint64_t ticks = static_cast<std::uint64_t>(counter.QuadPart);
  // Split so that ticks * 10^7 cannot overflow.
  return ticks / frequency * 10000000ull + ticks % frequency * 10000000ull / frequency;
}

// The performance counter is already cheap to read.
std::uint64_t MonotonicCoarse100ns() { return Monotonic100ns(); }

std::uint64_t MonotonicMs() { return Monotonic100ns() / 10000u; }

}  // namespace platform
}  // namespace quorvel
