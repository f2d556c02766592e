#include "video/stream_timing.h"

#include "infra/platform/process.h"
#include "infra/text_helpers.h"

namespace quorvel {

namespace {

constexpr std::uint32_t kStallMs = 10000;
constexpr std::uint32_t kRestartPassMs = 4000;

StreamTiming ReadStreamTiming() {
  int stallMs = 0;
  if (ParseInt(platform::GetEnvironment("STREVON_STALL_MS"), stallMs) && stallMs >= 100 &&
      stallMs <= static_cast<int>(kStallMs)) {
    const auto stall = static_cast<std::uint32_t>(stallMs);
    return {stall, stall * kRestartPassMs / kStallMs};
  }
  return {kStallMs, kRestartPassMs};
}

}  // namespace

const StreamTiming& GetStreamTiming() {
  static const StreamTiming timing = ReadStreamTiming();
  return timing;
}

}  // namespace quorvel
