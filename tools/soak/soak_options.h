// The soak run's command line: how long, how many channels, how often the
// Gateway connection is reset, and the limits the checks apply.
#pragma once

#include <string>

namespace strevon {
namespace soak {

struct SoakOptions {
  double minutes = 10.0;
  int channels = 16;
  int reset_every_s = 30;    // a reset of every Gateway connection
  int resume_bound_s = 20;   // every running stream delivers again within this
  int sample_every_s = 5;    // RSS, threads and frames
  int stop_channels = 4;     // stopped near the end, then watched
  double rss_limit_mib = 2.0;  // growth allowed from the first sample after warm-up
  std::string library;         // libstrevon.so
};

// False when the arguments are wrong or help was asked for; *exit_code is
// then what the program should return (0 for --help).
bool ParseSoakOptions(int argc, char** argv, SoakOptions* out, int* exit_code);

}  // namespace soak
}  // namespace strevon
