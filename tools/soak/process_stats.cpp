#include "process_stats.h"

#include <fstream>
#include <sstream>
#include <string>

namespace strevon {
namespace soak {

bool ReadProcessStats(ProcessStats* out) {
  std::ifstream in("/proc/self/status");
  if (!in) return false;
  bool rss = false;
  bool threads = false;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string key;
    fields >> key;
    if (key == "VmRSS:") rss = static_cast<bool>(fields >> out->rss_kib);
    else if (key == "Threads:") threads = static_cast<bool>(fields >> out->threads);
  }
  return rss && threads;
}

}  // namespace soak
}  // namespace strevon
