// What a soak run measured and concluded: plain values, filled by SoakRun
// and printed by the report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "soak_options.h"

namespace strevon {
namespace soak {

struct Sample {
  double t_s = 0;  // since the channels were started
  std::uint64_t rss_kib = 0;
  int threads = 0;
  std::uint64_t frames = 0;  // every channel together
};

struct ResetRecord {
  double at_s = 0;
  std::size_t delivered = 0;  // connections the simulator reset
  double reconnect_s = -1;    // until the next connection was accepted; -1 = none
  double worst_resume_s = 0;  // slowest channel's first frame sent after that
  int running = 0;
  std::vector<std::uint32_t> late;  // channels without a frame within the bound
};

// One kind of PTZ or I/O step and how often its effect was seen in time.
struct ActionTally {
  std::string name;
  std::uint64_t sent = 0;
  std::uint64_t seen = 0;
  std::uint64_t missed = 0;    // not seen within the bound
  std::uint64_t refused = 0;   // the driver's call said no
  double worst_s = 0;
};

struct ChannelSummary {
  std::uint32_t channel = 0;
  std::uint64_t frames = 0;
  std::uint64_t bad = 0;
  std::uint64_t after_stop = 0;
  std::uint64_t signal_lost = 0;
  bool stopped = false;
  std::uint64_t frames_in_final_watch = 0;
  int resumes = 0;
  int resets = 0;
  double worst_resume_s = 0;
};

struct Check {
  std::string name;
  bool ok = false;
  std::string detail;
};

struct SoakResult {
  SoakOptions options;
  double elapsed_s = 0;
  double warmup_s = 0;
  double first_frames_s = -1;  // until every channel had a frame; -1 = never
  std::vector<Sample> samples;
  std::size_t warm_index = 0;  // first sample after warm-up
  std::vector<ResetRecord> resets;
  std::vector<ActionTally> actions;
  std::vector<ChannelSummary> channels;
  double stop_watch_s = 0;
  double close_s = 0;
  double delete_s = 0;
  int threads_before_open = 0;
  int threads_after_delete = 0;
  std::uint64_t frames_outstanding = 0;
  std::uint64_t frame_violations = 0;
  std::uint64_t log_errors = 0;
  std::uint64_t log_warnings = 0;
  std::vector<std::string> first_errors;
  std::vector<Check> checks;

  bool Passed() const {
    for (const Check& c : checks) {
      if (!c.ok) return false;
    }
    return !checks.empty();
  }
};

}  // namespace soak
}  // namespace strevon
