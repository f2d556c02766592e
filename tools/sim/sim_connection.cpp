#include "sim_connection.h"

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "frame_stamp.h"
#include "gateway/wire_format.h"
#include "injected_faults.h"

namespace strevon {
namespace sim {

namespace {

constexpr int kSlowWriterPauseMs = 10;
constexpr std::size_t kCutBodySize = 4096;

}  // namespace

SimConnection::SimConnection(std::uint64_t id, UniqueFd fd, SimContext* context)
    : id_(id),
      context_(context),
      scenario_(context->GetScenario()),
      accepted_at_(Clock::now()),
      fd_(std::move(fd)),
      streams_(scenario_->video),
      session_(*scenario_, context, &streams_, this) {}

SimConnection::~SimConnection() {
  RequestStop();
  Join();
}

bool SimConnection::Start() {
  if (wake_.Valid() && fd_.Valid()) {
    // Messages go out as soon as they are written: stream latency is measured
    // with the send stamp, and a reset must not find frames held back.
    const int one = 1;
    ::setsockopt(fd_.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    try {
      thread_ = std::thread([this] { Run(); });
      return true;
    } catch (const std::exception&) {
    }
  }
  fd_.Reset();
  finished_.store(true);
  return false;
}

void SimConnection::RequestStop() {
  stop_.store(true);
  if (wake_.Valid()) wake_.Signal();
}

void SimConnection::Join() {
  if (thread_.joinable()) thread_.join();
}

void SimConnection::Post(const Injection& injection) {
  {
    std::lock_guard<std::mutex> lock(inbox_mu_);
    inbox_.push_back(injection);
  }
  wake_.Signal();
}

void SimConnection::Run() {
  try {
    Loop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sim: connection %llu failed: %s\n", static_cast<unsigned long long>(id_), e.what());
  } catch (...) {
    std::fprintf(stderr, "sim: connection %llu failed\n", static_cast<unsigned long long>(id_));
  }
  fd_.Reset();
  finished_.store(true);
}

void SimConnection::Loop() {
  faults_ = context_->Faults();
  if (faults_.ping_interval_ms > 0) {
    next_ping_ = Clock::now() + std::chrono::milliseconds(faults_.ping_interval_ms);
  }
  while (end_ == End::kNone) {
    if (stop_.load()) {
      end_ = End::kStop;
      break;
    }
    const auto now = Clock::now();
    const auto wake_at = NextWake(now);
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wake_at - now);
    const int timeout_ms = static_cast<int>(std::max<long long>(0, std::min<long long>(50, wait.count())));
    pollfd fds[2] = {{fd_.Get(), POLLIN, 0}, {wake_.Get(), POLLIN, 0}};
    const int ready = ::poll(fds, 2, timeout_ms);
    if (ready < 0 && errno != EINTR) {
      end_ = End::kPeerGone;
      break;
    }
    if (ready > 0 && (fds[1].revents & POLLIN) != 0) wake_.Drain();
    faults_ = context_->Faults();
    HandleInbox();
    if (end_ != End::kNone) break;
    if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      ReadInput();
      ParseInput();
    }
    if (end_ != End::kNone) break;
    RunTimers(Clock::now());
  }
}

SimConnection::Clock::time_point SimConnection::NextWake(Clock::time_point now) const {
  auto next = now + std::chrono::milliseconds(50);
  next = streams_.NextDue(next);
  for (const auto& p : pending_) next = std::min(next, p.due);
  next = std::min(next, reset_deadline_);
  next = std::min(next, next_ping_);
  return next;
}

void SimConnection::ReadInput() {
  char buf[65536];
  const ssize_t n = ::recv(fd_.Get(), buf, sizeof(buf), MSG_DONTWAIT);
  if (n > 0) {
    framer_.Append(buf, static_cast<std::size_t>(n));
  } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    end_ = End::kPeerGone;
  }
}

void SimConnection::ParseInput() {
  ParsedRequest request;
  while (end_ == End::kNone) {
    const RequestFramer::Result result = framer_.Next(&request);
    if (result == RequestFramer::Result::kNeedMore) return;
    if (result == RequestFramer::Result::kTooLong) {
      // A client that sends this is out of step; a real server would drop it.
      std::fprintf(stderr, "sim: connection %llu sent a request length of %u, resetting\n",
                   static_cast<unsigned long long>(id_), framer_.TooLongLength());
      EndWithReset();
      return;
    }
    HandleRequest(request);
  }
}

void SimConnection::HandleInbox() {
  std::deque<Injection> items;
  {
    std::lock_guard<std::mutex> lock(inbox_mu_);
    items.swap(inbox_);
  }
  for (const auto& item : items) {
    if (end_ != End::kNone) return;
    HandleInjection(item);
  }
}

void SimConnection::HandleInjection(const Injection& in) {
  const bool marker = !context_->Level2();
  switch (in.kind) {
    case InjectionKind::kReset:
      EndWithReset();
      break;
    case InjectionKind::kClose:
      EndWithClose();
      break;
    case InjectionKind::kResetAfterFrames:
      if (in.number == 0) {
        EndWithReset();
      } else {
        reset_frames_target_ = frames_sent_ + in.number;
      }
      break;
    case InjectionKind::kResetAfterMs:
      reset_deadline_ = Clock::now() + std::chrono::milliseconds(in.number);
      break;
    case InjectionKind::kResetMidHeader:
      cut_next_header_ = true;
      SendPing();
      break;
    case InjectionKind::kResetMidBody:
      cut_next_body_ = true;
      if (streams_.Empty()) Emit({{"Response", "ping"}}, FillerBody(kCutBodySize));
      break;
    case InjectionKind::kGarbage: {
      const Bytes junk = GarbageBytes(in.number);
      WriteAll(junk.data(), junk.size());
      break;
    }
    case InjectionKind::kHeaderLength: {
      const Bytes msg = HeaderLengthMessage(static_cast<std::uint32_t>(in.number), marker);
      WriteAll(msg.data(), msg.size());
      break;
    }
    case InjectionKind::kBodyTooLong: {
      const Bytes msg = BodyTooLongMessage(CidText(streams_.FirstCid(), faults_.cid), marker);
      WriteAll(msg.data(), msg.size());
      break;
    }
    case InjectionKind::kPing:
      SendPing();
      break;
    case InjectionKind::kPingFlood:
      for (std::uint64_t i = 0; i < in.number && end_ == End::kNone; ++i) SendPing();
      break;
    case InjectionKind::kEvent:
    case InjectionKind::kUnsolicitedEvent:
      if (in.kind == InjectionKind::kUnsolicitedEvent || session_.WantsEvent(in.text)) {
        Emit({{"Response", "recorder/event"}, {"Event", in.text}, {"Pid", in.text2}, {"Status", in.text3}}, Bytes());
      }
      break;
    case InjectionKind::kUnsolicitedStream: {
      const StreamMessage m = streams_.UnsolicitedFrame(static_cast<std::uint32_t>(in.number));
      Emit(m.headers, m.body);
      break;
    }
    case InjectionKind::kValidationRequest:
      Emit({{"Response", "request/validation"}, {"Request", in.text}}, Bytes());
      break;
  }
}

void SimConnection::RunTimers(Clock::time_point now) {
  if (faults_.reset_after_ms > 0 && now >= accepted_at_ + std::chrono::milliseconds(faults_.reset_after_ms)) {
    EndWithReset();
    return;
  }
  if (now >= reset_deadline_) {
    EndWithReset();
    return;
  }
  // Delayed replies whose time has come, in the order they were queued.
  for (std::size_t i = 0; i < pending_.size() && end_ == End::kNone;) {
    if (pending_[i].due <= now) {
      Pending p = std::move(pending_[i]);
      pending_.erase(pending_.begin() + static_cast<long>(i));
      Emit(p.headers, p.body);
    } else {
      ++i;
    }
  }
  if (faults_.ping_interval_ms <= 0) {
    next_ping_ = Clock::time_point::max();
  } else if (next_ping_ == Clock::time_point::max()) {
    next_ping_ = now + std::chrono::milliseconds(faults_.ping_interval_ms);
  } else if (now >= next_ping_) {
    next_ping_ = now + std::chrono::milliseconds(faults_.ping_interval_ms);
    SendPing();
  }
  SendStreams(now);
}

// ---------------------------------------------------------------- requests

void SimConnection::HandleRequest(const ParsedRequest& request) {
  context_->Record(id_, request);
  if (faults_.reset_on.count(request.command) != 0) {
    EndWithReset();
    return;
  }
  if (faults_.close_on.count(request.command) != 0) {
    EndWithClose();
    return;
  }
  if (faults_.never_answer.count(request.command) != 0) return;
  session_.Dispatch(request, faults_);
}

// ---------------------------------------------------------------- output

void SimConnection::Reply(const std::string& command, const HeaderList& headers, const Bytes& body) {
  auto it = faults_.delay_ms.find(command);
  if (it != faults_.delay_ms.end() && it->second > 0) {
    pending_.push_back({Clock::now() + std::chrono::milliseconds(it->second), headers, body});
    return;
  }
  Emit(headers, body);
}

void SimConnection::ReplyXml(const std::string& command, const HeaderList& headers, std::string xml) {
  ApplyXmlFault(faults_, command, &xml);
  Reply(command, headers, Bytes(xml.begin(), xml.end()));
}

bool SimConnection::SendPing() { return Emit({{"Response", "ping"}}, Bytes()); }

namespace {

// A batch of the fast stream mode stops growing at this many bytes or
// messages (the kernel takes at most 1024 pieces per call).
constexpr std::size_t kFastBatchBytes = 1u << 20;
constexpr std::size_t kFastBatchMessages = 512;

void PutLe64(unsigned char* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

void SimConnection::SendStreams(Clock::time_point now) {
  if (scenario_->video.fast_stream && faults_.garbage_before_each == 0 && faults_.trickle_ms <= 0 &&
      !faults_.slow_writer && !cut_next_header_ && !cut_next_body_) {
    SendStreamsFast(now);
    return;
  }
  for (const std::uint32_t cid : streams_.DueAt(now)) {
    if (end_ != End::kNone) return;
    StreamMessage m;
    if (!streams_.NextMessage(cid, now, faults_, context_->Level2(), &m)) continue;
    if (!Emit(m.headers, m.body, m.stamp_pos) || !m.frame) continue;
    ++frames_sent_;
    context_->CountFrame(cid);
    if ((reset_frames_target_ != 0 && frames_sent_ >= reset_frames_target_) ||
        (faults_.reset_after_frames != 0 && frames_sent_ >= faults_.reset_after_frames)) {
      EndWithReset();
    }
  }
}

// Unthrottled channels are due again at once, so a batch takes them round
// by round; each round uses the next copy of every channel's message, which
// is why the rounds stop at the number of copies.
void SimConnection::SendStreamsFast(Clock::time_point now) {
  std::vector<struct iovec> iov;
  std::vector<unsigned char*> stamps;
  std::map<std::uint32_t, std::uint64_t> counts;
  std::size_t bytes = 0;
  for (std::size_t round = 0;; ++round) {
    std::vector<std::uint32_t> due = streams_.DueAt(now);
    if (due.empty()) break;
    // Every batch goes on from the channel after the last one sent, so that
    // a batch that fills early starves no channel.
    const auto after = std::upper_bound(due.begin(), due.end(), fast_after_);
    std::rotate(due.begin(), after, due.end());
    bool full = false;
    for (const std::uint32_t cid : due) {
      FastStream& f = fast_[cid];
      if (f.copies.empty()) {
        StreamMessage m;
        if (!streams_.FrameTemplate(cid, context_->Level2(), &m)) continue;
        const Bytes msg = EncodeServerMessage(m.headers, m.body, !context_->Level2());
        f.stamp_at = msg.size() - m.body.size() + static_cast<std::size_t>(m.stamp_pos);
        const std::size_t copies = std::max<std::size_t>(1, std::min<std::size_t>(256, kFastBatchBytes / msg.size()));
        f.copies.assign(copies, msg);
      }
      if (round >= f.copies.size()) {
        full = true;
        break;
      }
      std::uint64_t seq = 0;
      if (!streams_.NextFrameNumber(cid, now, &seq)) continue;
      Bytes& msg = f.copies[f.next];
      f.next = (f.next + 1) % f.copies.size();
      unsigned char* stamp = msg.data() + f.stamp_at;
      PutLe64(stamp + 8, seq);
      stamps.push_back(stamp + kSendTimeOffset);
      iov.push_back({msg.data(), msg.size()});
      bytes += msg.size();
      ++counts[cid];
      fast_after_ = cid;
      if (bytes >= kFastBatchBytes || iov.size() >= kFastBatchMessages) full = true;
      if (full) break;
    }
    if (full) break;
  }
  if (iov.empty()) return;
  const std::uint64_t t = MonotonicNs();
  for (unsigned char* p : stamps) PutLe64(p, t);
  if (!WriteVector(iov)) return;
  for (const auto& kv : counts) {
    frames_sent_ += kv.second;
    context_->CountFrames(kv.first, kv.second);
  }
}

bool SimConnection::WriteVector(std::vector<struct iovec>& iov) {
  if (end_ != End::kNone || !fd_.Valid()) return false;
  std::size_t first = 0;
  while (first < iov.size()) {
    struct msghdr msg {};
    msg.msg_iov = iov.data() + first;
    msg.msg_iovlen = iov.size() - first;
    const ssize_t n = ::sendmsg(fd_.Get(), &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      std::size_t left = static_cast<std::size_t>(n);
      while (first < iov.size() && left >= iov[first].iov_len) left -= iov[first++].iov_len;
      if (left > 0) {
        iov[first].iov_base = static_cast<unsigned char*>(iov[first].iov_base) + left;
        iov[first].iov_len -= left;
      }
      continue;
    }
    if (!RetryWrite(n)) return false;
  }
  return true;
}

bool SimConnection::RetryWrite(long result) {
  if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return WaitWritable();
  end_ = End::kPeerGone;
  return false;
}

bool SimConnection::Emit(const HeaderList& headers, const Bytes& body, long stamp_pos) {
  if (end_ != End::kNone) return false;
  const bool marker = !context_->Level2();
  if (faults_.garbage_before_each > 0) {
    const Bytes junk(faults_.garbage_before_each, 0x5A);
    if (!WriteAll(junk.data(), junk.size())) return false;
  }
  Bytes msg = EncodeServerMessage(headers, body, marker);
  const std::size_t header_start = marker ? quorvel::wire::kStartMarkerSize : 0;
  const std::size_t body_start = msg.size() - body.size();
  if (cut_next_header_) {
    cut_next_header_ = false;
    const std::size_t header_len = body_start - quorvel::wire::kLengthSize - header_start - quorvel::wire::kLengthSize;
    WriteAll(msg.data(), header_start + quorvel::wire::kLengthSize + header_len / 2);
    EndWithReset();
    return false;
  }
  if (cut_next_body_ && !body.empty()) {
    cut_next_body_ = false;
    WriteAll(msg.data(), body_start + body.size() / 2);
    EndWithReset();
    return false;
  }
  if (stamp_pos >= 0) {
    const std::uint64_t t = MonotonicNs();
    unsigned char* p = msg.data() + body_start + static_cast<std::size_t>(stamp_pos) + kSendTimeOffset;
    for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>((t >> (8 * i)) & 0xFF);
  }
  return WriteAll(msg.data(), msg.size());
}

bool SimConnection::WaitWritable() {
  pollfd fds[2] = {{fd_.Get(), POLLOUT, 0}, {wake_.Get(), POLLIN, 0}};
  const int ready = ::poll(fds, 2, 50);
  if (ready > 0 && (fds[1].revents & POLLIN) != 0) wake_.Drain();
  if (stop_.load()) {
    end_ = End::kStop;
    return false;
  }
  if (ready > 0 && (fds[0].revents & (POLLERR | POLLHUP)) != 0) {
    end_ = End::kPeerGone;
    return false;
  }
  return true;
}

bool SimConnection::PauseMs(int ms) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!stop_.load()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0) return true;
    pollfd fd = {wake_.Get(), POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(left)) > 0) wake_.Drain();
  }
  end_ = End::kStop;
  return false;
}

bool SimConnection::WriteAll(const unsigned char* data, std::size_t size) {
  if (end_ != End::kNone || !fd_.Valid()) return false;
  const int pause_ms = faults_.trickle_ms > 0 ? faults_.trickle_ms
                       : faults_.slow_writer  ? kSlowWriterPauseMs
                                              : 0;
  std::size_t done = 0;
  while (done < size) {
    const std::size_t chunk = pause_ms > 0 ? 1 : size - done;
    const ssize_t n = ::send(fd_.Get(), data + done, chunk, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      if (pause_ms > 0 && done < size && !PauseMs(pause_ms)) return false;
      continue;
    }
    if (!RetryWrite(n)) return false;
  }
  return true;
}

void SimConnection::EndWithReset() {
  if (fd_.Valid()) {
    // A reset throws away whatever is still queued for sending, so let the
    // bytes written so far leave first: "reset after N frames" must deliver N.
    const auto until = Clock::now() + std::chrono::milliseconds(500);
    int queued = 0;
    while (!stop_.load() && Clock::now() < until && ::ioctl(fd_.Get(), SIOCOUTQ, &queued) == 0 && queued > 0) {
      pollfd fd = {wake_.Get(), POLLIN, 0};
      if (::poll(&fd, 1, 2) > 0) wake_.Drain();
    }
    ArmResetOnClose(fd_.Get());
    fd_.Reset();
  }
  end_ = End::kReset;
}

void SimConnection::EndWithClose() {
  end_ = End::kClose;
  if (!fd_.Valid()) return;
  ::shutdown(fd_.Get(), SHUT_WR);
  // Let the peer see the FIN and close its side; unread input at close()
  // time would turn the FIN into a reset.
  const auto until = Clock::now() + std::chrono::seconds(1);
  char buf[4096];
  while (!stop_.load() && Clock::now() < until) {
    pollfd fds[2] = {{fd_.Get(), POLLIN, 0}, {wake_.Get(), POLLIN, 0}};
    if (::poll(fds, 2, 50) <= 0) continue;
    if ((fds[1].revents & POLLIN) != 0) wake_.Drain();
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    const ssize_t n = ::recv(fd_.Get(), buf, sizeof(buf), MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) break;
  }
  fd_.Reset();
}

}  // namespace sim
}  // namespace strevon
