// The video streams one connection has subscribed: their cadence, the frame
// or status-only message each sends when it is due, and the fault settings
// that shape those messages (stalled channels, status words, spoiled "Cid",
// omitted headers). Bodies come from the set's own FrameSource.
//
// Owned by one connection and used on its thread only. The set builds
// messages; the connection writes them, stamps the send time at stamp_pos,
// and counts the frames that went out.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "frame_source.h"
#include "request_codec.h"
#include "scenario.h"

namespace strevon {
namespace sim {

// One message of a stream, ready to be written.
struct StreamMessage {
  HeaderList headers;
  Bytes body;
  long stamp_pos = -1;  // offset of the frame stamp in body, or -1
  bool frame = false;   // a picture (counted); false for a status-only message
};

class StreamSet {
 public:
  using Clock = std::chrono::steady_clock;

  explicit StreamSet(const VideoSettings& video);

  bool Empty() const { return streams_.empty(); }
  std::size_t Size() const { return streams_.size(); }
  bool Has(std::uint32_t cid) const { return streams_.count(cid) != 0; }
  std::uint32_t FirstCid() const { return streams_.empty() ? 0 : streams_.begin()->first; }

  // Starts (or restarts, from frame 0) channel cid of camera, first due at
  // `due`. motion_only picks the motion rate.
  void Subscribe(std::uint32_t cid, const SimCamera& camera, bool jpeg, bool motion_only, Clock::time_point due);
  bool Unsubscribe(std::uint32_t cid);  // false when cid was not subscribed
  void Clear() { streams_.clear(); }

  // The earliest time a stream is due, or bound when that is earlier.
  Clock::time_point NextDue(Clock::time_point bound) const;
  // The channels due at now, in cid order.
  std::vector<std::uint32_t> DueAt(Clock::time_point now) const;

  // Moves channel cid on to its next due time and builds what it sends now;
  // false when it sends nothing (stalled or not subscribed).
  bool NextMessage(std::uint32_t cid, Clock::time_point now, const FaultSettings& faults, bool level2,
                   StreamMessage* out);

  // Fast stream mode: moves channel cid on like NextMessage and gives the
  // sequence number of the frame it sends now; false when it sends nothing
  // (not subscribed, or not "OK"). Stream faults do not apply.
  bool NextFrameNumber(std::uint32_t cid, Clock::time_point now, std::uint64_t* seq);
  // The frame message NextMessage builds for cid without faults, as frame 0;
  // the sender patches sequence and send time in place. False when cid is
  // not subscribed.
  bool FrameTemplate(std::uint32_t cid, bool level2, StreamMessage* out);

  // A native frame for cid, subscribed or not, without its send time.
  StreamMessage UnsolicitedFrame(std::uint32_t cid);

 private:
  struct Stream {
    std::string label;
    std::string camera_state;
    bool jpeg = true;
    std::chrono::nanoseconds period{0};
    Clock::time_point next_due;
    std::uint64_t seq = 0;
  };

  const VideoSettings video_;
  FrameSource frames_;
  std::map<std::uint32_t, Stream> streams_;
};

}  // namespace sim
}  // namespace strevon
