#include "progress_view.h"

#include <algorithm>

#include "text_table.h"

namespace strevon {
namespace hosttool {

std::string FormatDouble(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", decimals, value);
  return text;
}

ProgressView::ProgressView(std::FILE* out, bool live, std::chrono::milliseconds interval)
    : m_out(out), m_live(live), m_interval(interval) {}

std::string ProgressView::Render(double elapsedSeconds, double totalSeconds,
                                 const std::vector<ChannelStats>& channels) {
  TextTable table({"channel", "camera", "status", "frames", "fps", "kbit/s", "last frame",
                   "reconnects"},
                  {false, false, false, true, true, true, true, true});
  for (const ChannelStats& c : channels) {
    const std::string last =
        c.frames == 0 ? "-"
                      : std::to_string(c.lastSize) + " B " + std::to_string(c.width) + "x" +
                            std::to_string(c.height);
    table.AddRow({c.label, c.pid, c.statusText, std::to_string(c.frames), FormatDouble(c.fps, 1),
                  FormatDouble(c.kbps, 0), last, std::to_string(c.reconnects)});
  }
  std::string head = "streaming " + FormatDouble(elapsedSeconds, 1) + " s";
  if (totalSeconds > 0) head += " of " + FormatDouble(totalSeconds, 0) + " s";
  head += " (Ctrl-C stops)\n";
  return head + table.Render();
}

void ProgressView::Show(std::chrono::steady_clock::time_point now, double elapsedSeconds,
                        double totalSeconds, const std::vector<ChannelStats>& channels, bool force) {
  if (!force && m_shown && now - m_lastShown < m_interval) return;
  const std::string text = Render(elapsedSeconds, totalSeconds, channels);
  if (m_live && m_lastLines > 0) {
    // Back to the first line of the previous table, then clear below.
    std::fprintf(m_out, "\033[%dA\033[J", m_lastLines);
  }
  std::fputs(text.c_str(), m_out);
  std::fflush(m_out);
  m_lastLines = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  m_lastShown = now;
  m_shown = true;
}

}  // namespace hosttool
}  // namespace strevon
