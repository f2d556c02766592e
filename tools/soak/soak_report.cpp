#include "soak_report.h"

#include <algorithm>

namespace strevon {
namespace soak {

namespace {

void Title(std::FILE* out, const char* text) { std::fprintf(out, "\n%s\n", text); }

}  // namespace

void PrintReport(const SoakResult& r, std::FILE* out) {
  std::fprintf(out, "\nSoak summary: %d channels, %.1f s, reset every %d s, Resilient on\n",
               r.options.channels, r.elapsed_s, r.options.reset_every_s);

  Title(out, "Channels");
  std::fprintf(out, "  %-7s %10s %8s %9s %12s %9s %11s %11s\n", "channel", "frames", "fps",
               "resumed", "worst resume", "bad", "stopped", "after stop");
  for (const ChannelSummary& c : r.channels) {
    char resumed[32];
    std::snprintf(resumed, sizeof resumed, "%d/%d", c.resumes, c.resets);
    std::fprintf(out, "  ch%-5u %10llu %8.1f %9s %10.1f s %9llu %11s %11s\n", c.channel,
                 static_cast<unsigned long long>(c.frames),
                 r.elapsed_s > 0 ? static_cast<double>(c.frames) / r.elapsed_s : 0.0, resumed,
                 c.worst_resume_s, static_cast<unsigned long long>(c.bad), c.stopped ? "yes" : "no",
                 c.stopped ? std::to_string(c.after_stop).c_str() : "-");
  }

  Title(out, "Resets");
  std::fprintf(out, "  %-3s %8s %11s %13s %8s  %s\n", "#", "at", "reconnect", "worst resume",
               "running", "late channels");
  for (std::size_t i = 0; i < r.resets.size(); ++i) {
    const ResetRecord& rr = r.resets[i];
    std::string late;
    for (std::uint32_t ch : rr.late) late += (late.empty() ? "ch" : " ch") + std::to_string(ch);
    std::fprintf(out, "  %-3zu %6.0f s %9.2f s %11.2f s %8d  %s\n", i + 1, rr.at_s, rr.reconnect_s,
                 rr.worst_resume_s, rr.running, late.empty() ? "-" : late.c_str());
  }

  Title(out, "PTZ and I/O steps (effect seen at the other side within 5 s)");
  std::fprintf(out, "  %-16s %6s %6s %7s %8s %9s\n", "step", "sent", "seen", "missed", "refused",
               "worst");
  for (const ActionTally& t : r.actions) {
    std::fprintf(out, "  %-16s %6llu %6llu %7llu %8llu %7.2f s\n", t.name.c_str(),
                 static_cast<unsigned long long>(t.sent), static_cast<unsigned long long>(t.seen),
                 static_cast<unsigned long long>(t.missed),
                 static_cast<unsigned long long>(t.refused), t.worst_s);
  }

  Title(out, "Process (RSS and threads include the in-process simulator)");
  std::fprintf(out, "  %-22s %9s %10s %8s %12s\n", "sample", "time", "RSS MiB", "threads", "frames");
  auto row = [&](const char* name, const Sample& s) {
    std::fprintf(out, "  %-22s %7.0f s %10.1f %8d %12llu\n", name, s.t_s, s.rss_kib / 1024.0,
                 s.threads, static_cast<unsigned long long>(s.frames));
  };
  if (!r.samples.empty()) {
    row("first", r.samples.front());
    if (r.warm_index < r.samples.size()) row("first after warm-up", r.samples[r.warm_index]);
    const auto peak = std::max_element(r.samples.begin(), r.samples.end(),
                                       [](const Sample& a, const Sample& b) { return a.rss_kib < b.rss_kib; });
    row("highest RSS", *peak);
    row("last", r.samples.back());
  }
  std::fprintf(out, "  warm-up %.0f s, %zu samples\n", r.warmup_s, r.samples.size());
  std::fprintf(out, "  driver log: %llu error(s), %llu warning(s)\n",
               static_cast<unsigned long long>(r.log_errors),
               static_cast<unsigned long long>(r.log_warnings));
  for (const std::string& e : r.first_errors) std::fprintf(out, "    %s\n", e.c_str());

  Title(out, "Checks");
  for (const Check& c : r.checks) {
    std::fprintf(out, "  %-4s  %-38s %s\n", c.ok ? "ok" : "FAIL", c.name.c_str(), c.detail.c_str());
  }
  std::fprintf(out, "\n%s\n", r.Passed() ? "Soak passed: every check held." : "Soak FAILED.");
}

}  // namespace soak
}  // namespace strevon
