// One accepted client connection of the simulated Gateway.
//
// Each connection runs its own thread: it reads request frames
// (RequestFramer), answers them (SimSession), streams the subscribed video
// channels at their rate (StreamSet), pushes events and pings and carries out
// injected faults. Every write to the socket happens on that thread, through
// Emit, so replies and stream messages never interleave inside a message;
// the write-side faults (junk, slow writes, cuts) and the two ways of ending
// (reset, orderly close) live here too.
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
#include <string>
#include <thread>
#include <vector>

#include <sys/uio.h>

#include "request_codec.h"
#include "request_framer.h"
#include "scenario.h"
#include "sim_context.h"
#include "sim_session.h"
#include "sim_socket.h"
#include "sim_types.h"
#include "stream_set.h"

namespace strevon {
namespace sim {

class SimConnection final : private ReplySink {
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

  // ReplySink: sends now, or later when the command has a reply delay.
  void Reply(const std::string& command, const HeaderList& headers, const Bytes& body) override;
  void ReplyXml(const std::string& command, const HeaderList& headers, std::string xml) override;
  void SendStreams(Clock::time_point now);
  // The fast stream mode of SendStreams, while no write fault is set.
  void SendStreamsFast(Clock::time_point now);
  bool SendPing();

  // Writes one message, applying the write-side faults. stamp_pos is the
  // offset of the frame stamp in body, or -1.
  bool Emit(const HeaderList& headers, const Bytes& body, long stamp_pos = -1);
  bool WriteAll(const unsigned char* data, std::size_t size);
  // Writes every piece in one or more sendmsg calls (iov is used up).
  bool WriteVector(std::vector<struct iovec>& iov);
  // After a send that took nothing (result <= 0, errno set by it): waits
  // until the socket takes bytes again (true), or marks the peer gone.
  bool RetryWrite(long result);
  bool WaitWritable();
  bool PauseMs(int ms);  // false when the connection is stopping
  void EndWithReset();
  void EndWithClose();

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
  RequestFramer framer_;
  StreamSet streams_;
  SimSession session_;
  std::vector<Pending> pending_;
  // Fast stream mode: each channel's encoded message in enough copies for
  // one batch, the next copy to use, and where its stamp sits.
  struct FastStream {
    std::vector<Bytes> copies;
    std::size_t next = 0;
    std::size_t stamp_at = 0;
  };
  std::map<std::uint32_t, FastStream> fast_;
  std::uint32_t fast_after_ = 0;  // the channel a batch last took
  std::uint64_t frames_sent_ = 0;
  std::uint64_t reset_frames_target_ = 0;  // 0 = none
  Clock::time_point reset_deadline_ = Clock::time_point::max();
  Clock::time_point next_ping_ = Clock::time_point::max();
  bool cut_next_header_ = false;
  bool cut_next_body_ = false;
};

}  // namespace sim
}  // namespace strevon
