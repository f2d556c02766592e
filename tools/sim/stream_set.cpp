#include "stream_set.h"

#include <algorithm>
#include <cmath>

#include "frame_stamp.h"
#include "injected_faults.h"
#include "sim_text.h"

namespace strevon {
namespace sim {

namespace {

constexpr std::uint32_t kFourccJpeg = 0x4745504A;  // "JPEG" read as a little-endian u32
constexpr std::uint32_t kFourccH264 = 0x34363248;  // "H264"

std::string FourccText(std::uint32_t code) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((code >> (8 * i)) & 0xFF));
  return s;
}

}  // namespace

StreamSet::StreamSet(const VideoSettings& video) : video_(video), frames_(video) {}

void StreamSet::Subscribe(std::uint32_t cid, const SimCamera& camera, bool jpeg, bool motion_only,
                          Clock::time_point due) {
  Stream s;
  s.label = camera.name.empty() ? camera.pid : camera.name;
  s.camera_state = camera.state;
  s.jpeg = jpeg;
  const double fps = motion_only ? video_.motion_fps : video_.fps;
  // A rate of 0 leaves the period at 0: the stream is due on every pass of the
  // loop, so frames go out as fast as the socket accepts them.
  s.period = fps > 0 ? std::chrono::nanoseconds(static_cast<long long>(1e9 / fps))
                     : std::chrono::nanoseconds(0);
  s.next_due = due;
  if (video_.spread_streams) {
    const double phase = std::fmod(static_cast<double>(cid) * 0.6180339887498949, 1.0);
    s.next_due += std::chrono::duration_cast<Clock::duration>(s.period * phase);
  }
  streams_[cid] = s;
}

bool StreamSet::Unsubscribe(std::uint32_t cid) { return streams_.erase(cid) != 0; }

StreamSet::Clock::time_point StreamSet::NextDue(Clock::time_point bound) const {
  for (const auto& kv : streams_) bound = std::min(bound, kv.second.next_due);
  return bound;
}

std::vector<std::uint32_t> StreamSet::DueAt(Clock::time_point now) const {
  std::vector<std::uint32_t> due;
  for (const auto& kv : streams_) {
    if (now >= kv.second.next_due) due.push_back(kv.first);
  }
  return due;
}

bool StreamSet::NextMessage(std::uint32_t cid, Clock::time_point now, const FaultSettings& faults, bool level2,
                            StreamMessage* out) {
  auto it = streams_.find(cid);
  if (it == streams_.end()) return false;
  Stream& s = it->second;
  // Keep the cadence but never try to catch up on a backlog.
  s.next_due += s.period;
  if (s.next_due < now) s.next_due = now + s.period;
  if (faults.stalled.count(cid) != 0) return false;

  std::string status = "OK";
  auto st = faults.status.find(cid);
  if (st != faults.status.end()) {
    status = st->second;
  } else {
    // A camera that is not "OK" streams its state word instead of frames.
    const std::string lower = ToLowerAscii(s.camera_state);
    if (lower == "nosignal") status = "NoSignal";
    else if (lower != "ok" && !lower.empty()) status = s.camera_state;
  }
  *out = StreamMessage();
  out->headers = {{"Response", "video/stream"}, {"Cid", CidText(cid, faults.cid)}, {"Status", status}};
  if (status != "OK") {
    // Status-only messages at most once a second.
    s.next_due = std::max(s.next_due, now + std::chrono::seconds(1));
    return true;
  }
  const std::uint32_t fourcc = s.jpeg ? kFourccJpeg : kFourccH264;
  const OmittedHeaders omit = faults.omit_headers;
  const bool omit_fourcc = omit == OmittedHeaders::kFourcc || omit == OmittedHeaders::kBoth;
  const bool omit_size = omit == OmittedHeaders::kSize || omit == OmittedHeaders::kBoth;
  if (!omit_fourcc) {
    out->headers.emplace_back("Fourcc", video_.fourcc_as_text ? FourccText(fourcc) : std::to_string(fourcc));
  }
  out->headers.emplace_back("Width", std::to_string(video_.width));
  out->headers.emplace_back("Height", std::to_string(video_.height));
  if (!level2 && !omit_size) {
    out->headers.emplace_back("Size", std::to_string(video_.width) + "x" + std::to_string(video_.height));
  }
  out->body = s.jpeg ? frames_.MakeJpeg(s.label, cid, s.seq) : frames_.MakeNative(cid, s.seq);
  out->stamp_pos = static_cast<long>(FrameStampOffset(s.jpeg ? kFrameKindJpeg : kFrameKindNative));
  out->frame = true;
  // A frame that cannot be written ends the connection, so counting it here
  // already is the same as counting it once written.
  ++s.seq;
  return true;
}

bool StreamSet::NextFrameNumber(std::uint32_t cid, Clock::time_point now, std::uint64_t* seq) {
  auto it = streams_.find(cid);
  if (it == streams_.end()) return false;
  Stream& s = it->second;
  s.next_due += s.period;
  if (s.next_due < now) s.next_due = now + s.period;
  const std::string lower = ToLowerAscii(s.camera_state);
  if (lower != "ok" && !lower.empty()) return false;
  *seq = s.seq++;
  return true;
}

bool StreamSet::FrameTemplate(std::uint32_t cid, bool level2, StreamMessage* out) {
  auto it = streams_.find(cid);
  if (it == streams_.end()) return false;
  const Stream& s = it->second;
  const std::uint32_t fourcc = s.jpeg ? kFourccJpeg : kFourccH264;
  *out = StreamMessage();
  out->headers = {{"Response", "video/stream"},
                  {"Cid", std::to_string(cid)},
                  {"Status", "OK"},
                  {"Fourcc", video_.fourcc_as_text ? FourccText(fourcc) : std::to_string(fourcc)},
                  {"Width", std::to_string(video_.width)},
                  {"Height", std::to_string(video_.height)}};
  if (!level2) {
    out->headers.emplace_back("Size", std::to_string(video_.width) + "x" + std::to_string(video_.height));
  }
  out->body = s.jpeg ? frames_.MakeJpeg(s.label, cid, 0) : frames_.MakeNative(cid, 0);
  out->stamp_pos = static_cast<long>(FrameStampOffset(s.jpeg ? kFrameKindJpeg : kFrameKindNative));
  out->frame = true;
  return true;
}

StreamMessage StreamSet::UnsolicitedFrame(std::uint32_t cid) {
  StreamMessage m;
  m.headers = {{"Response", "video/stream"},
               {"Cid", std::to_string(cid)},
               {"Status", "OK"},
               {"Fourcc", std::to_string(kFourccH264)},
               {"Width", std::to_string(video_.width)},
               {"Height", std::to_string(video_.height)},
               {"Size", std::to_string(video_.width) + "x" + std::to_string(video_.height)}};
  m.body = frames_.MakeNative(cid, 0);
  return m;
}

}  // namespace sim
}  // namespace strevon
