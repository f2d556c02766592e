// CTime and the time functions: timestamps for log lines and file names,
// the UTC milliseconds the Gateway expects, and elapsed-time measurement
// for the stall watchdog (video channel) and the dome keep-alive (PTZ).
//
// File times here lie on the driver's steady time line: UTC as read the
// first time the process asks, advanced by the monotonic clock from then on.
// It agrees with the wall clock unless the system clock is stepped later,
// and differences between two readings never jump with such a step, so a
// clock change neither fires nor delays a watchdog. Timestamps meant for
// people or for the Gateway (GetLocalTimeStamp, GetFileTimeStamp,
// GetUnixTimeMs) read the wall clock itself.
//
// CTime guards its value with its own lock; any thread may call it. The
// free functions keep no state of their own and are safe from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "infra/recursive_lock.h"

namespace quorvel {

class CTime {
 public:
  // Stores the current time.
  CTime();
  virtual ~CTime();

  CTime(const CTime&) = delete;
  CTime& operator=(const CTime&) = delete;

  void SetNow();
  // The stored time as a file time (100-ns units since 1601, UTC).
  std::uint64_t GetTime();
  // Whole milliseconds since the stored time; 0 when it is not in the past.
  std::uint32_t GetElapsedMs();

 private:
  CRecursiveLock m_lock;
  std::uint64_t m_time GUARDED_BY(m_lock) = 0;
};

// Local time as "YYYY-MM-DD hh:mm:ss.mmm".
std::string GetLocalTimeStamp();
// Local time as "YYYYMMDD_hhmmss", for file names.
std::string GetFileTimeStamp();
// Milliseconds since 1970-01-01 UTC from the wall clock.
std::uint64_t GetUnixTimeMs();
// Now as a file time on the steady time line; 0 when no clock can be read.
std::uint64_t GetSystemFileTime();
// The same to within a scheduler tick, read more cheaply: for marks set
// very often and compared in seconds (a frame's arrival).
std::uint64_t GetSystemFileTimeCoarse();
// As CTime::GetElapsedMs, for a file time that GetSystemFileTime gave.
std::uint32_t GetElapsedMsSince(const std::uint64_t& fileTime);

}  // namespace quorvel
