// LogCounter: the soak host's debug sink. Counts the driver's log records
// by level and keeps the text of the first few errors, so that a long run
// neither stores every line nor loses what went wrong first.
//
// Owned by the soak run, alive until the driver is deleted. OnDebugInfo
// runs on any driver thread; the getters on any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "strevon.h"

namespace strevon {
namespace soak {

class LogCounter : public IDebugInfoSink {
 public:
  static constexpr std::size_t kKeptErrors = 5;

  void OnDebugInfo(CDebugInfoIf* record) override;

  // Level 1 (error) to 4 (debug); 0 for any other level.
  std::uint64_t Count(unsigned level) const;
  std::vector<std::string> FirstErrors() const;

 private:
  std::atomic<std::uint64_t> m_counts[5] = {};
  mutable std::mutex m_mutex;
  std::vector<std::string> m_firstErrors;  // guarded by m_mutex
};

}  // namespace soak
}  // namespace strevon
