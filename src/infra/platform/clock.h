// The system's clocks, as the driver reads them.
//
// Wall-clock readings (UTC file time, local broken-down time) are for
// timestamps that people or the Gateway read. Every elapsed-time measurement
// uses the monotonic clock instead, so that a step of the system clock
// neither fires nor delays a time-out. Safe to call from any thread.
#pragma once

#include <cstdint>

namespace quorvel {
namespace platform {

// 100-ns units between 1601-01-01 and 1970-01-01 (11,644,473,600 s).
constexpr std::uint64_t kFileTimeUnixEpoch = 116444736000000000ull;

struct LocalTime {
  int year = 0;
  int month = 0;  // 1 to 12
  int day = 0;    // 1 to 31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

// UTC now in 100-ns units since 1601-01-01; 0 when the clock cannot be read.
std::uint64_t WallClockFileTime();

// Local time now with milliseconds; all zero when it cannot be read.
LocalTime LocalNow();

// Monotonic time since an arbitrary fixed point, in milliseconds and in
// 100-ns units. Never goes back, unaffected by clock steps.
std::uint64_t MonotonicMs();
std::uint64_t Monotonic100ns();
// The same clock read more cheaply: it may lag Monotonic100ns by up to one
// scheduler tick (a few milliseconds). For marks compared in seconds that
// are set very often, such as a frame's arrival.
std::uint64_t MonotonicCoarse100ns();

}  // namespace platform
}  // namespace quorvel
