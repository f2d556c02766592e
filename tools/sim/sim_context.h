// State that every connection of one simulator shares: the scenario, the
// live fault settings and I/O states, the request log and the counters.
// Owned by the simulator; outlives every connection (the simulator joins its
// connection threads before it goes). All methods are thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "request_codec.h"
#include "scenario.h"
#include "sim_types.h"

namespace strevon {
namespace sim {

class SimContext {
 public:
  explicit SimContext(const Scenario& scenario);

  // The scenario that new connections see (faults and I/O states excepted).
  std::shared_ptr<const Scenario> GetScenario() const;
  void SetScenario(const Scenario& scenario);

  FaultSettings Faults() const;
  void UpdateFaults(const std::function<void(FaultSettings&)>& change);
  bool Level2() const;
  void SetLevel2(bool on);

  // I/O states by pid.
  std::map<std::string, bool> IoStates() const;
  bool IoState(const std::string& pid) const;
  void SetIoState(const std::string& pid, bool on);
  bool ToggleIo(const std::string& pid);  // returns the new state

  // Request log.
  RequestRecord Record(std::uint64_t connection, const ParsedRequest& request);
  std::vector<RequestRecord> Requests() const;
  std::optional<RequestRecord> WaitForRequest(const std::string& command,
                                              const std::function<bool(const RequestRecord&)>& pred,
                                              std::chrono::milliseconds timeout,
                                              std::uint64_t from_index) const;
  void ClearRequests();
  bool OpenRequestsLog(const std::string& path, std::string* error);

  // Counters.
  void CountFrame(std::uint32_t cid) { CountFrames(cid, 1); }
  void CountFrames(std::uint32_t cid, std::uint64_t count);
  void CountConnection();
  void SetActiveConnections(std::size_t n);
  std::uint64_t FramesSent(std::uint32_t cid) const;
  std::uint64_t TotalFrames() const;
  std::uint64_t ConnectionsAccepted() const;
  std::size_t ActiveConnections() const;
  bool WaitForFrames(std::uint32_t cid, std::uint64_t count, std::chrono::milliseconds timeout) const;
  bool WaitForAccepted(std::uint64_t count, std::chrono::milliseconds timeout) const;
  bool WaitForActive(std::size_t count, std::chrono::milliseconds timeout) const;

  // Every digest key handed out, so a test can check that none is logged.
  void NoteDigestKey(const std::string& key);
  std::vector<std::string> DigestKeys() const;

 private:
  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  // guarded by mu_
  std::shared_ptr<const Scenario> scenario_;
  FaultSettings faults_;
  bool level2_ = false;
  std::map<std::string, bool> io_;
  std::vector<RequestRecord> requests_;
  std::uint64_t next_index_ = 0;
  std::ofstream log_;
  std::map<std::uint32_t, std::uint64_t> frames_;
  std::uint64_t total_frames_ = 0;
  std::uint64_t accepted_ = 0;
  std::size_t active_ = 0;
  std::vector<std::string> digest_keys_;
};

}  // namespace sim
}  // namespace strevon
