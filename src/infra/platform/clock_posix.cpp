#include "infra/platform/clock.h"

#include <ctime>

namespace quorvel {
namespace platform {

namespace {

bool ReadClock(clockid_t id, timespec& now) { return clock_gettime(id, &now) == 0; }

}  // namespace

std::uint64_t WallClockFileTime() {
  timespec now{};
  if (!ReadClock(CLOCK_REALTIME, now) || now.tv_sec < 0) return 0;
  return kFileTimeUnixEpoch + static_cast<std::uint64_t>(now.tv_sec) * 10000000ull +
         static_cast<std::uint64_t>(now.tv_nsec) / 100u;
}

LocalTime LocalNow() {
  LocalTime result;
  timespec now{};
  if (!ReadClock(CLOCK_REALTIME, now)) return result;
  const time_t seconds = now.tv_sec;
  tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return result;
  result.year = local.tm_year + 1900;
  result.month = local.tm_mon + 1;
  result.day = local.tm_mday;
  result.hour = local.tm_hour;
  result.minute = local.tm_min;
  result.second = local.tm_sec;
  result.milliseconds = static_cast<int>(now.tv_nsec / 1000000);
  return result;
}

std::uint64_t Monotonic100ns() {
  timespec now{};
  if (!ReadClock(CLOCK_MONOTONIC, now)) return 0;
  return static_cast<std::uint64_t>(now.tv_sec) * 10000000ull +
         static_cast<std::uint64_t>(now.tv_nsec) / 100u;
}

std::uint64_t MonotonicCoarse100ns() {
  timespec now{};
  if (!ReadClock(CLOCK_MONOTONIC_COARSE, now)) return Monotonic100ns();
  return static_cast<std::uint64_t>(now.tv_sec) * 10000000ull +
         static_cast<std::uint64_t>(now.tv_nsec) / 100u;
}

std::uint64_t MonotonicMs() { return Monotonic100ns() / 10000u; }

}  // namespace platform
}  // namespace quorvel
