#include "soak_options.h"

#include <CLI/CLI.hpp>
#include <cstdio>

namespace strevon {
namespace soak {

bool ParseSoakOptions(int argc, char** argv, SoakOptions* out, int* exit_code) {
  CLI::App app{
      "Soak run: one driver (Resilient on) against the in-process Gateway simulator, every "
      "channel streaming, a connection reset every few seconds, PTZ and I/O in between; checks "
      "that streams resume, that stopped channels stay silent, and that RSS and threads stay "
      "flat."};
#ifdef STREVON_DEFAULT_LIBRARY
  out->library = STREVON_DEFAULT_LIBRARY;
#endif
  app.add_option("--minutes", out->minutes, "length of the run")->check(CLI::Range(0.5, 1440.0));
  app.add_option("--channels", out->channels, "video channels streaming")->check(CLI::Range(1, 64));
  app.add_option("--reset-every", out->reset_every_s, "seconds between connection resets")
      ->check(CLI::Range(10, 3600));
  app.add_option("--resume-bound", out->resume_bound_s,
                 "seconds within which every stream must deliver again after a reset")
      ->check(CLI::Range(1, 300));
  app.add_option("--sample-every", out->sample_every_s, "seconds between samples")
      ->check(CLI::Range(1, 60));
  app.add_option("--stop-channels", out->stop_channels, "channels stopped near the end")
      ->check(CLI::Range(0, 64));
  app.add_option("--rss-limit-mib", out->rss_limit_mib, "RSS growth allowed after warm-up")
      ->check(CLI::Range(0.0, 1024.0));
  app.add_option("--lib", out->library, "the driver library (libstrevon.so)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help prints and gives 0; a wrong argument prints and gives 2.
    *exit_code = app.exit(e) == 0 ? 0 : 2;
    return false;
  }
  if (out->library.empty()) {
    std::fprintf(stderr, "no driver library: name it with --lib PATH\n");
    *exit_code = 2;
    return false;
  }
  if (out->stop_channels >= out->channels) out->stop_channels = out->channels - 1;
  return true;
}

}  // namespace soak
}  // namespace strevon
