// ProgressView: the live per-channel table of `stream`. On a terminal the
// table is redrawn in place about every second; into a file or a pipe a
// new table is printed every few seconds instead, so logs stay readable.
// Main thread only.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "channel_monitor.h"

namespace strevon {
namespace hosttool {

class ProgressView {
 public:
  // live: redraw in place (a terminal). interval: how often Show prints.
  ProgressView(std::FILE* out, bool live, std::chrono::milliseconds interval);

  // Prints when the interval has passed since the last print (or force).
  void Show(std::chrono::steady_clock::time_point now, double elapsedSeconds, double totalSeconds,
            const std::vector<ChannelStats>& channels, bool force = false);

  // The table body, without cursor movements (also used by tests).
  static std::string Render(double elapsedSeconds, double totalSeconds,
                            const std::vector<ChannelStats>& channels);

 private:
  std::FILE* m_out;
  bool m_live;
  std::chrono::milliseconds m_interval;
  std::chrono::steady_clock::time_point m_lastShown{};
  bool m_shown = false;
  int m_lastLines = 0;
};

std::string FormatDouble(double value, int decimals);

}  // namespace hosttool
}  // namespace strevon
