// One accepted client connection of the simulated Gateway.
//
// Each connection runs its own thread: it reads request frames, answers them,
// streams the subscribed video channels at their rate, pushes events and pings
// and carries out injected faults. Every write to the socket happens on that
// thread, so replies and stream messages never interleave inside a message.
//
// Owned by the simulator. Post and RequestStop may be called from any thread;
// everything else in the class belongs to the connection thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "frame_source.h"
#include "request_codec.h"
#include "scenario.h"
#include "sim_context.h"
#include "sim_socket.h"
#include "sim_types.h"

namespace strevon {
namespace sim {

class SimConnection {
 public:
  SimConnection(std::uint64_t id, UniqueFd fd, SimContext* context);
  ~SimConnection();  // stops and joins the thread
  SimConnection(const SimConnection&) = delete;
  SimConnection& operator=(const SimConnection&) = delete;

  bool Start();
  void RequestStop();
  void Join();
  bool Finished() const { return finished_.load(); }
  std::uint64_t Id() const { return id_; }

  // Queues a one-shot action for the connection thread.
  void Post(const Injection& injection);

 private:
  using Clock = std::chrono::steady_clock;
  enum class End { kNone, kPeerGone, kReset, kClose, kStop };

  struct Stream {
    std::uint32_t cid = 0;
    std::string pid;
    std::string label;
    std::string camera_state;
    bool jpeg = true;
    std::chrono::nanoseconds period{0};
    Clock::time_point next_due;
    std::uint64_t seq = 0;
  };

  struct Pending {
    Clock::time_point due;
    HeaderList headers;
    Bytes body;
  };

  void Run();
  void Loop();
  Clock::time_point NextWake(Clock::time_point now) const;
  void ReadInput();
  void ParseInput();
  void HandleInbox();
  void HandleInjection(const Injection& injection);
  void RunTimers(Clock::time_point now);

  void HandleRequest(const ParsedRequest& request);
  void Dispatch(const ParsedRequest& request);
  void HandleAuthenticate(const ParsedRequest& request);
  void HandleLogon(const ParsedRequest& request);
  void HandleProfile(const ParsedRequest& request);
  void HandleSubscribe(const ParsedRequest& request);
  void HandleUnsubscribe(const ParsedRequest& request);
  void HandleEventSubscription(const ParsedRequest& request, bool subscribe);
  void HandleToggle(const ParsedRequest& request);
  void HandlePtz(const ParsedRequest& request);

  // Sends now, or later when the command has a reply delay.
  void Reply(const std::string& command, const HeaderList& headers, const Bytes& body = Bytes());
  void ReplyXml(const std::string& command, const HeaderList& headers, std::string xml);
  bool SendEvent(const std::string& type, const std::string& pid, const std::string& status,
                 bool only_if_subscribed);
  void SendFrame(Stream& stream, Clock::time_point now);
  bool SendPing();

  // Writes one message, applying the write-side faults. stamp_pos is the
  // offset of the frame stamp in body, or -1.
  bool Emit(const HeaderList& headers, const Bytes& body, long stamp_pos = -1);
  bool WriteAll(const unsigned char* data, std::size_t size);
  bool WaitWritable();
  bool PauseMs(int ms);  // false when the connection is stopping
  void EndWithReset();
  void EndWithClose();
  std::string CidText(std::uint32_t cid) const;

  // constant after construction
  const std::uint64_t id_;
  SimContext* const context_;
  const std::shared_ptr<const Scenario> scenario_;
  const Clock::time_point accepted_at_;

  UniqueFd fd_;
  WakeFd wake_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};

  std::mutex inbox_mu_;
  std::deque<Injection> inbox_;  // guarded by inbox_mu_

  // connection thread only
  End end_ = End::kNone;
  FaultSettings faults_;  // snapshot taken once per loop pass
  std::string inbuf_;
  std::string digest_key_;
  std::string user_;
  bool logged_in_ = false;
  bool events_subscribed_ = false;
  std::set<std::string> event_filter_;
  std::map<std::uint32_t, Stream> streams_;
  std::vector<Pending> pending_;
  std::uint64_t frames_sent_ = 0;
  std::uint64_t reset_frames_target_ = 0;  // 0 = none
  Clock::time_point reset_deadline_ = Clock::time_point::max();
  Clock::time_point next_ping_ = Clock::time_point::max();
  bool cut_next_header_ = false;
  bool cut_next_body_ = false;
  std::unique_ptr<FrameSource> frames_;
};

}  // namespace sim
}  // namespace strevon
