// The process figures the soak run watches: resident memory and thread
// count, as the kernel reports them in /proc/self/status. Stateless; any
// thread.
#pragma once

#include <cstdint>

namespace strevon {
namespace soak {

struct ProcessStats {
  std::uint64_t rss_kib = 0;  // VmRSS
  int threads = 0;            // Threads
};

// False when /proc/self/status cannot be read or lacks either line.
bool ReadProcessStats(ProcessStats* out);

}  // namespace soak
}  // namespace strevon
