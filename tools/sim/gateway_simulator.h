// A Gateway server on 127.0.0.1 for integration tests, benchmarks and demos.
//
// It speaks the server side of the Gateway protocol: log-on with a SHA-1
// digest, profiles, PTZ properties and commands, recorder events, digital
// outputs and live video streams, each connection with its own state. Every
// request it receives is recorded, and faults can be switched on at any time.
//
// Threads: one service thread (accepts connections, toggles inputs, reopens a
// refusing listener) and one thread per connection. All public methods are
// thread-safe. Stop joins every thread and closes every socket; it is
// idempotent and the destructor calls it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "scenario.h"
#include "sim_types.h"

namespace strevon {
namespace sim {

class GatewaySimulator {
 public:
  using Millis = std::chrono::milliseconds;

  explicit GatewaySimulator(const Scenario& scenario = DefaultScenario());
  ~GatewaySimulator();
  GatewaySimulator(const GatewaySimulator&) = delete;
  GatewaySimulator& operator=(const GatewaySimulator&) = delete;

  // Binds 127.0.0.1:port (0 = a free port) and starts serving. False with
  // *error when binding fails or the simulator already runs.
  bool Start(std::uint16_t port = 0, std::string* error = nullptr);
  void Stop();
  bool IsRunning() const;
  std::uint16_t Port() const;

  // ---- scenario and persistent faults
  // A new scenario applies to connections accepted afterwards; it also
  // replaces the fault settings and I/O states at once.
  void SetScenario(const Scenario& scenario);
  Scenario GetScenario() const;
  FaultSettings GetFaults() const;
  void SetFaults(const FaultSettings& faults);
  void UpdateFaults(const std::function<void(FaultSettings&)>& change);
  void SetLevel2(bool on);
  void SetInputTogglePeriod(Millis period);  // 0 = off
  bool OpenRequestsLog(const std::string& path, std::string* error = nullptr);

  // Convenience setters over UpdateFaults.
  void SetStalled(std::uint32_t cid, bool stalled);
  void SetStreamStatus(std::uint32_t cid, const std::string& status);  // "" = normal
  void SetNeverAnswer(const std::string& command, bool never);
  void SetNeverTakeover(const std::string& pid, bool never);
  void SetReplyDelay(const std::string& command, Millis delay);
  void SetXmlFault(const std::string& command, XmlFault fault);  // "*" = every XML reply
  void SetCidFault(CidFault fault);
  void SetOmittedHeaders(OmittedHeaders omitted);
  void SetSlowWriter(bool on);
  void SetPingInterval(Millis interval);  // 0 = off
  void SetResetOn(const std::string& command, bool on);

  // ---- one-shot faults and pushes; connection 0 = every live connection.
  // Each returns how many connections it was delivered to.
  std::size_t Inject(const Injection& injection, std::uint64_t connection = 0);
  std::size_t ResetConnections(std::uint64_t connection = 0);
  std::size_t CloseConnections(std::uint64_t connection = 0);
  std::size_t ResetAfterFrames(std::uint64_t frames, std::uint64_t connection = 0);
  std::size_t ResetAfter(Millis delay, std::uint64_t connection = 0);
  std::size_t ResetMidHeader(std::uint64_t connection = 0);
  std::size_t ResetMidBody(std::uint64_t connection = 0);
  std::size_t SendGarbage(std::size_t bytes, std::uint64_t connection = 0);
  std::size_t SendHeaderLength(std::uint32_t length, std::uint64_t connection = 0);
  std::size_t SendBodyTooLong(std::uint64_t connection = 0);
  std::size_t SendPing(std::uint64_t connection = 0);
  std::size_t SendPingFlood(std::size_t count, std::uint64_t connection = 0);
  std::size_t SendValidationRequest(const std::string& command, std::uint64_t connection = 0);
  std::size_t SendUnsolicited(std::uint32_t cid, std::uint64_t connection = 0);
  // A "recorder/event" to the connections that subscribed to events.
  std::size_t PushEvent(const std::string& type, const std::string& pid, const std::string& status);
  // Sets an input and pushes its "IOState" event.
  std::size_t SetInput(const std::string& pid, bool on);
  bool IoState(const std::string& pid) const;  // inputs and outputs

  // Refuses new connections for a while (see RefuseMode).
  void RefuseConnections(Millis duration, RefuseMode mode = RefuseMode::kCloseListener);

  // ---- request log
  std::vector<RequestRecord> Requests() const;
  std::size_t CountRequests(const std::string& command) const;
  void ClearRequests();
  // The first recorded request (index >= from_index) with this command for
  // which pred holds (no pred: any); nullopt when none came within timeout.
  std::optional<RequestRecord> WaitForRequest(
      const std::string& command, const std::function<bool(const RequestRecord&)>& pred = nullptr,
      Millis timeout = Millis(5000), std::uint64_t from_index = 0) const;

  // ---- counters
  std::uint64_t ConnectionsAccepted() const;
  std::size_t ActiveConnections() const;
  std::vector<std::uint64_t> ConnectionIds() const;
  std::uint64_t FramesSent(std::uint32_t cid) const;
  std::uint64_t TotalFramesSent() const;
  bool WaitForFrames(std::uint32_t cid, std::uint64_t count, Millis timeout) const;
  bool WaitForConnectionsAccepted(std::uint64_t count, Millis timeout) const;
  bool WaitForActiveConnections(std::size_t count, Millis timeout) const;
  // Every "DigestKey" sent in answer to "user/authenticate", in order.
  std::vector<std::string> DigestKeysSent() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sim
}  // namespace strevon
