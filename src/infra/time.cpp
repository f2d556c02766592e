#include "infra/time.h"

#include "infra/platform/clock.h"
#include "infra/text_helpers.h"

namespace quorvel {

namespace {

constexpr std::uint64_t kFileTimeUnitsPerMs = 10000;

// The wall clock and the monotonic clock read together once per process.
struct SteadyAnchor {
  std::uint64_t wallFileTime;
  std::uint64_t monotonic100ns;
};

const SteadyAnchor& Anchor() {
  static const SteadyAnchor anchor{platform::WallClockFileTime(), platform::Monotonic100ns()};
  return anchor;
}

// A monotonic reading, taken after the anchor, as a file time on the steady
// time line. A coarse reading may lie up to a tick behind the anchor; it
// counts as the anchor.
std::uint64_t OnSteadyLine(std::uint64_t (*readMonotonic100ns)()) {
  const SteadyAnchor& anchor = Anchor();
  if (anchor.wallFileTime == 0) return 0;
  const std::uint64_t now = readMonotonic100ns();
  return anchor.wallFileTime + (now > anchor.monotonic100ns ? now - anchor.monotonic100ns : 0);
}

std::uint32_t ElapsedMsBetween(std::uint64_t earlier, std::uint64_t now) {
  if (earlier >= now) return 0;
  return static_cast<std::uint32_t>((now - earlier) / kFileTimeUnitsPerMs);
}

}  // namespace

CTime::CTime() : m_time(GetSystemFileTime()) {}

CTime::~CTime() = default;

void CTime::SetNow() {
  const std::uint64_t now = GetSystemFileTime();
  CLockGuard guard(m_lock);
  m_time = now;
}

std::uint64_t CTime::GetTime() {
  CLockGuard guard(m_lock);
  return m_time;
}

std::uint32_t CTime::GetElapsedMs() { return ElapsedMsBetween(GetTime(), GetSystemFileTime()); }

std::string GetLocalTimeStamp() {
  const platform::LocalTime t = platform::LocalNow();
  return FormatString("%d-%.2d-%.2d %.2d:%.2d:%.2d.%.3d", t.year, t.month, t.day, t.hour,
                      t.minute, t.second, t.milliseconds);
}

std::string GetFileTimeStamp() {
  const platform::LocalTime t = platform::LocalNow();
  return FormatString("%d%.2d%.2d_%.2d%.2d%.2d", t.year, t.month, t.day, t.hour, t.minute,
                      t.second);
}

std::uint64_t GetUnixTimeMs() {
  const double ms = static_cast<double>(platform::WallClockFileTime()) / 10000.0 - 11644473600000.0;
  // A clock before 1970 (or an unreadable one) would make the conversion
  // undefined; the Gateway gets 0 instead.
  if (!(ms > 0.0)) return 0;
  return static_cast<std::uint64_t>(ms);
}

std::uint64_t GetSystemFileTime() { return OnSteadyLine(platform::Monotonic100ns); }

std::uint64_t GetSystemFileTimeCoarse() { return OnSteadyLine(platform::MonotonicCoarse100ns); }

std::uint32_t GetElapsedMsSince(const std::uint64_t& fileTime) {
  return ElapsedMsBetween(fileTime, GetSystemFileTime());
}

}  // namespace quorvel
