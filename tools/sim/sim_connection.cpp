#include "sim_connection.h"

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame_stamp.h"
#include "gateway/wire_format.h"

namespace strevon {
namespace sim {

namespace {

constexpr std::size_t kMaxRequestLength = 1 << 20;
constexpr int kSlowWriterPauseMs = 10;
constexpr std::uint32_t kFourccJpeg = 0x4745504A;  // "JPEG" read as a little-endian u32
constexpr std::uint32_t kFourccH264 = 0x34363248;  // "H264"
constexpr std::size_t kHugeXmlSize = 1000000;       // stays below the largest valid block

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Strict unsigned decimal; false for anything else.
bool ParseU32(const std::string& text, std::uint32_t* out) {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (v > 0xFFFFFFFFull) return false;
  *out = static_cast<std::uint32_t>(v);
  return true;
}

std::vector<std::string> SplitComma(const std::string& text) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t comma = text.find(',', pos);
    if (comma == std::string::npos) comma = text.size();
    if (comma > pos) out.push_back(text.substr(pos, comma - pos));
    pos = comma + 1;
  }
  return out;
}

std::string FourccText(std::uint32_t code) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((code >> (8 * i)) & 0xFF));
  return s;
}

void ApplyXmlFault(XmlFault fault, std::string* xml) {
  switch (fault) {
    case XmlFault::kNone:
      break;
    case XmlFault::kMalformed:
      *xml = xml->substr(0, xml->size() / 2) + "<<&unclosed";
      break;
    case XmlFault::kEmpty:
      xml->clear();
      break;
    case XmlFault::kHuge: {
      const std::size_t close = xml->rfind("</");
      if (close == std::string::npos || xml->size() >= kHugeXmlSize) break;
      const std::string open = "<Padding>";
      const std::string end = "</Padding>\r\n";
      const std::size_t fill = kHugeXmlSize - xml->size() - open.size() - end.size();
      xml->insert(close, open + std::string(fill, 'x') + end);
      break;
    }
  }
}

}  // namespace

SimConnection::SimConnection(std::uint64_t id, UniqueFd fd, SimContext* context)
    : id_(id),
      context_(context),
      scenario_(context->GetScenario()),
      accepted_at_(Clock::now()),
      fd_(std::move(fd)) {}

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
    frames_ = std::make_unique<FrameSource>(scenario_->video);
    Loop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sim: connection %llu failed: %s\n", static_cast<unsigned long long>(id_), e.what());
  } catch (...) {
    std::fprintf(stderr, "sim: connection %llu failed\n", static_cast<unsigned long long>(id_));
  }
  fd_.Reset();
  frames_.reset();
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
  for (const auto& kv : streams_) next = std::min(next, kv.second.next_due);
  for (const auto& p : pending_) next = std::min(next, p.due);
  next = std::min(next, reset_deadline_);
  next = std::min(next, next_ping_);
  return next;
}

void SimConnection::ReadInput() {
  char buf[65536];
  const ssize_t n = ::recv(fd_.Get(), buf, sizeof(buf), MSG_DONTWAIT);
  if (n > 0) {
    inbuf_.append(buf, static_cast<std::size_t>(n));
  } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    end_ = End::kPeerGone;
  }
}

void SimConnection::ParseInput() {
  std::size_t pos = 0;
  while (end_ == End::kNone && inbuf_.size() - pos >= quorvel::wire::kLengthSize) {
    const std::uint32_t len =
        quorvel::wire::GetUint32Le(reinterpret_cast<const unsigned char*>(inbuf_.data() + pos));
    if (len > kMaxRequestLength) {
      // A client that sends this is out of step; a real server would drop it.
      std::fprintf(stderr, "sim: connection %llu sent a request length of %u, resetting\n",
                   static_cast<unsigned long long>(id_), len);
      EndWithReset();
      return;
    }
    if (inbuf_.size() - pos - quorvel::wire::kLengthSize < len) break;
    const std::string text = inbuf_.substr(pos + quorvel::wire::kLengthSize, len);
    pos += quorvel::wire::kLengthSize + len;
    if (!text.empty()) HandleRequest(ParseRequestText(text));
  }
  inbuf_.erase(0, pos);
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
      if (streams_.empty()) {
        Bytes body(4096);
        for (std::size_t k = 0; k < body.size(); ++k) body[k] = FillerByte(k, 0);
        Emit({{"Response", "ping"}}, body);
      }
      break;
    case InjectionKind::kGarbage: {
      Bytes junk(in.number);
      for (std::size_t k = 0; k < junk.size(); ++k) junk[k] = static_cast<unsigned char>("junk\x01\xFE"[k % 6]);
      WriteAll(junk.data(), junk.size());
      break;
    }
    case InjectionKind::kHeaderLength: {
      Bytes msg;
      if (marker) msg.assign(quorvel::wire::kStartMarker, quorvel::wire::kStartMarker + quorvel::wire::kStartMarkerSize);
      unsigned char len[4];
      const std::uint32_t h = static_cast<std::uint32_t>(in.number);
      quorvel::wire::PutUint32Le(len, h);
      msg.insert(msg.end(), len, len + 4);
      if (h > 0 && h <= quorvel::wire::kMaxBlockLength) {
        // A real header padded to the length, so only its size is wrong.
        std::string text = "Response: ping\r\nX-Padding: ";
        const std::string tail = "\r\n\r\n";
        if (text.size() + tail.size() < h) {
          text += std::string(h - text.size() - tail.size(), 'p') + tail;
        } else {
          text = std::string(h, '\n');
        }
        msg.insert(msg.end(), text.begin(), text.end());
        quorvel::wire::PutUint32Le(len, 0);
        msg.insert(msg.end(), len, len + 4);
      }
      WriteAll(msg.data(), msg.size());
      break;
    }
    case InjectionKind::kBodyTooLong: {
      const std::uint32_t cid = streams_.empty() ? 0 : streams_.begin()->first;
      const std::string header = BuildHeaderText(
          {{"Response", "video/stream"}, {"Cid", CidText(cid)}, {"Status", "OK"}});
      Bytes msg;
      if (marker) msg.assign(quorvel::wire::kStartMarker, quorvel::wire::kStartMarker + quorvel::wire::kStartMarkerSize);
      unsigned char len[4];
      quorvel::wire::PutUint32Le(len, static_cast<std::uint32_t>(header.size()));
      msg.insert(msg.end(), len, len + 4);
      msg.insert(msg.end(), header.begin(), header.end());
      quorvel::wire::PutUint32Le(len, quorvel::wire::kMaxBlockLength + 1);
      msg.insert(msg.end(), len, len + 4);
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
      SendEvent(in.text, in.text2, in.text3, true);
      break;
    case InjectionKind::kUnsolicitedEvent:
      SendEvent(in.text, in.text2, in.text3, false);
      break;
    case InjectionKind::kUnsolicitedStream: {
      const std::uint32_t cid = static_cast<std::uint32_t>(in.number);
      const Bytes body = frames_->MakeNative(cid, 0);
      Emit({{"Response", "video/stream"},
            {"Cid", std::to_string(cid)},
            {"Status", "OK"},
            {"Fourcc", std::to_string(kFourccH264)},
            {"Width", std::to_string(scenario_->video.width)},
            {"Height", std::to_string(scenario_->video.height)},
            {"Size", std::to_string(scenario_->video.width) + "x" + std::to_string(scenario_->video.height)}},
           body);
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
  for (auto& kv : streams_) {
    if (end_ != End::kNone) return;
    Stream& s = kv.second;
    if (now < s.next_due) continue;
    SendFrame(s, now);
  }
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
  Dispatch(request);
}

void SimConnection::Dispatch(const ParsedRequest& request) {
  const std::string& cmd = request.command;
  if (cmd == "user/authenticate") return HandleAuthenticate(request);
  if (cmd == "user/logon") return HandleLogon(request);
  if (cmd == "user/logoff") {
    logged_in_ = false;
    streams_.clear();
    events_subscribed_ = false;
    return Reply(cmd, {{"Response", cmd}, {"Status", "LoggedOff"}});
  }
  if (scenario_->require_logon && !logged_in_) {
    return Reply(cmd, {{"Response", cmd}, {"Status", "NotLoggedIn"}});
  }
  if (cmd == "user/profile") return HandleProfile(request);
  if (cmd == "video/realtime/subscribe") return HandleSubscribe(request);
  if (cmd == "video/realtime/unsubscribe") return HandleUnsubscribe(request);
  if (cmd == "recorder/event/subscribe") return HandleEventSubscription(request, true);
  if (cmd == "recorder/event/unsubscribe") return HandleEventSubscription(request, false);
  if (cmd == "switch/toggle") return HandleToggle(request);
  if (StartsWith(cmd, "camera/ptz/")) return HandlePtz(request);
  Reply(cmd, {{"Response", cmd}, {"Status", "UnknownCommand"}});
}

void SimConnection::HandleAuthenticate(const ParsedRequest& request) {
  digest_key_ = MakeDigestKey();
  context_->NoteDigestKey(digest_key_);
  HeaderList headers = {{"Response", request.command}, {"DigestKey", digest_key_}};
  if (!context_->Level2()) {
    headers.emplace_back("Server", scenario_->server_name + " / Kalmeno " + scenario_->kalmeno_version);
  }
  Reply(request.command, headers);
}

void SimConnection::HandleLogon(const ParsedRequest& request) {
  const std::string& cmd = request.command;
  const std::string uid = request.params.count("uid") ? request.params.at("uid") : std::string();
  const std::string pass = request.params.count("pass") ? request.params.at("pass") : std::string();
  const SimUser* user = FindUser(*scenario_, uid);
  logged_in_ = false;
  if (user == nullptr || !user->authorized) {
    return Reply(cmd, {{"Response", cmd}, {"Status", "UserUnauthorized"}});
  }
  // The key is single-use: a log-on needs a fresh "user/authenticate".
  const std::string key = digest_key_;
  digest_key_.clear();
  if (key.empty() || pass.empty() || ComputeLogonDigest(user->password, key) != pass) {
    return Reply(cmd, {{"Response", cmd}, {"Status", "InvalidPassword"}});
  }
  logged_in_ = true;
  user_ = user->name;
  ReplyXml(cmd, {{"Response", cmd}, {"Status", "LoggedIn"}}, BuildSessionXml(*scenario_, *user));
}

void SimConnection::HandleProfile(const ParsedRequest& request) {
  const std::string& cmd = request.command;
  const std::string name = request.params.count("name") ? request.params.at("name") : std::string();
  const SimProfile* profile = FindProfile(*scenario_, name);
  bool allowed = profile != nullptr;
  if (allowed && scenario_->require_logon) {
    const SimUser* user = FindUser(*scenario_, user_);
    allowed = user != nullptr &&
              std::find(user->profiles.begin(), user->profiles.end(), name) != user->profiles.end();
  }
  if (!allowed) return Reply(cmd, {{"Response", cmd}, {"Status", "ProfileNotFound"}});
  ReplyXml(cmd, {{"Response", cmd}, {"Status", "OK"}}, BuildProfileXml(*profile, context_->IoStates()));
}

void SimConnection::HandleSubscribe(const ParsedRequest& request) {
  const std::string& cmd = request.command;
  const std::string cid_param = request.params.count("cid") ? request.params.at("cid") : std::string();
  std::string pid = request.params.count("pid") ? request.params.at("pid") : std::string();
  std::string number = cid_param;
  // The short protocol form names the camera and the channel in one "pid:n".
  const std::size_t colon = cid_param.rfind(':');
  if (colon != std::string::npos) {
    if (pid.empty()) pid = cid_param.substr(0, colon);
    number = cid_param.substr(colon + 1);
  }
  std::uint32_t cid = 0;
  if (!ParseU32(number, &cid) &&
      !ParseU32(request.params.count("gid") ? request.params.at("gid") : std::string(), &cid)) {
    return Reply(cmd, {{"Response", cmd}, {"Status", "InvalidChannel"}});
  }
  const SimCamera* camera = FindCamera(*scenario_, pid);
  if (camera == nullptr) {
    return Reply(cmd, {{"Response", cmd}, {"Cid", std::to_string(cid)}, {"Status", "InvalidCamera"}});
  }
  if (streams_.count(cid) == 0 && static_cast<int>(streams_.size()) >= scenario_->realtime_streams) {
    return Reply(cmd, {{"Response", cmd}, {"Cid", std::to_string(cid)}, {"Status", "TooManyStreams"}});
  }
  Stream s;
  s.cid = cid;
  s.pid = camera->pid;
  s.label = camera->name.empty() ? camera->pid : camera->name;
  s.camera_state = camera->state;
  const std::string format = request.params.count("format") ? request.params.at("format") : "JPEG";
  s.jpeg = format != "Native";
  const bool motion_only = request.params.count("type") && request.params.at("type") == "MotionOnly";
  const double fps = motion_only ? scenario_->video.motion_fps : scenario_->video.fps;
  // A rate of 0 leaves the period at 0: the stream is due on every pass of the
  // loop, so frames go out as fast as the socket accepts them.
  s.period = fps > 0 ? std::chrono::nanoseconds(static_cast<long long>(1e9 / fps))
                     : std::chrono::nanoseconds(0);
  s.next_due = Clock::now();
  Reply(cmd, {{"Response", cmd}, {"Cid", std::to_string(cid)}, {"Status", "OK"}});
  streams_[cid] = s;
}

void SimConnection::HandleUnsubscribe(const ParsedRequest& request) {
  const std::string& cmd = request.command;
  std::string number = request.params.count("cid") ? request.params.at("cid") : std::string();
  const std::size_t colon = number.rfind(':');
  if (colon != std::string::npos) number = number.substr(colon + 1);
  std::uint32_t cid = 0;
  if (!ParseU32(number, &cid) &&
      !ParseU32(request.params.count("gid") ? request.params.at("gid") : std::string(), &cid)) {
    return Reply(cmd, {{"Response", cmd}, {"Status", "InvalidChannel"}});
  }
  const bool found = streams_.erase(cid) != 0;
  Reply(cmd, {{"Response", cmd}, {"Cid", std::to_string(cid)}, {"Status", found ? "OK" : "NotSubscribed"}});
}

void SimConnection::HandleEventSubscription(const ParsedRequest& request, bool subscribe) {
  events_subscribed_ = subscribe;
  event_filter_.clear();
  if (subscribe && request.params.count("events") != 0) {
    for (const auto& e : SplitComma(request.params.at("events"))) event_filter_.insert(e);
  }
  Reply(request.command, {{"Response", request.command}, {"Status", "OK"}});
}

void SimConnection::HandleToggle(const ParsedRequest& request) {
  const std::string& cmd = request.command;
  const std::string pid = request.params.count("pid") ? request.params.at("pid") : std::string();
  if (!IsOutputPid(*scenario_, pid)) {
    return Reply(cmd, {{"Response", cmd}, {"Pid", pid}, {"Status", "NotFound"}});
  }
  const bool on = context_->ToggleIo(pid);
  Reply(cmd, {{"Response", cmd}, {"Pid", pid}, {"Status", on ? "On" : "Off"}});
}

void SimConnection::HandlePtz(const ParsedRequest& request) {
  const std::string& cmd = request.command;
  const std::string pid = request.params.count("pid") ? request.params.at("pid") : std::string();
  const SimCamera* camera = FindCamera(*scenario_, pid);
  const bool is_ptz = camera != nullptr && camera->ptz;
  if (cmd == "camera/ptz/takeover") {
    if (faults_.never_takeover.count(pid) != 0) return;
    if (!is_ptz) return Reply(cmd, {{"Response", "camera/ptz/properties"}, {"Pid", pid}, {"Status", "NotPtz"}});
    return ReplyXml(cmd, {{"Response", "camera/ptz/properties"}, {"Pid", pid}, {"Status", "OK"}},
                    BuildPtzPropertiesXml(*camera));
  }
  if (!is_ptz) return Reply(cmd, {{"Response", cmd}, {"Pid", pid}, {"Status", "NotPtz"}});
  if (cmd == "camera/ptz/open") {
    if (!scenario_->dome_open_status.empty()) {
      Reply(cmd, {{"Response", "camera/ptz/event"}, {"Pid", pid}, {"Status", scenario_->dome_open_status}});
    }
    return;
  }
  if (cmd == "camera/ptz/close") {
    if (!scenario_->dome_close_status.empty()) {
      Reply(cmd, {{"Response", "camera/ptz/event"}, {"Pid", pid}, {"Status", scenario_->dome_close_status}});
    }
    return;
  }
  if (cmd == "camera/ptz/preset") {
    const std::string name = request.params.count("name") ? request.params.at("name") : std::string();
    const bool known = std::find(camera->presets.begin(), camera->presets.end(), name) != camera->presets.end();
    return Reply(cmd, {{"Response", cmd}, {"Pid", pid}, {"Status", known ? "OK" : "InvalidPreset"}});
  }
  Reply(cmd, {{"Response", cmd}, {"Pid", pid}, {"Status", "OK"}});
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
  auto it = faults_.xml.find(command);
  if (it == faults_.xml.end()) it = faults_.xml.find("*");
  if (it != faults_.xml.end()) ApplyXmlFault(it->second, &xml);
  Reply(command, headers, Bytes(xml.begin(), xml.end()));
}

bool SimConnection::SendEvent(const std::string& type, const std::string& pid, const std::string& status,
                              bool only_if_subscribed) {
  if (only_if_subscribed) {
    if (!events_subscribed_) return false;
    if (!event_filter_.empty() && event_filter_.count(type) == 0) return false;
  }
  return Emit({{"Response", "recorder/event"}, {"Event", type}, {"Pid", pid}, {"Status", status}}, Bytes());
}

bool SimConnection::SendPing() { return Emit({{"Response", "ping"}}, Bytes()); }

std::string SimConnection::CidText(std::uint32_t cid) const {
  switch (faults_.cid) {
    case CidFault::kOutOfRange:
      return std::to_string(static_cast<std::uint64_t>(cid) + 100000);
    case CidFault::kNotNumeric:
      return "ch" + std::to_string(cid);
    case CidFault::kNone:
      break;
  }
  return std::to_string(cid);
}

void SimConnection::SendFrame(Stream& s, Clock::time_point now) {
  // Keep the cadence but never try to catch up on a backlog.
  s.next_due += s.period;
  if (s.next_due < now) s.next_due = now + s.period;
  if (faults_.stalled.count(s.cid) != 0) return;

  std::string status = "OK";
  auto st = faults_.status.find(s.cid);
  if (st != faults_.status.end()) {
    status = st->second;
  } else {
    // A camera that is not "OK" streams its state word instead of frames.
    std::string lower = s.camera_state;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (lower == "nosignal") status = "NoSignal";
    else if (lower != "ok" && !lower.empty()) status = s.camera_state;
  }
  HeaderList headers = {{"Response", "video/stream"}, {"Cid", CidText(s.cid)}, {"Status", status}};
  if (status != "OK") {
    // Status-only messages at most once a second.
    s.next_due = std::max(s.next_due, now + std::chrono::seconds(1));
    Emit(headers, Bytes());
    return;
  }
  const VideoSettings& v = scenario_->video;
  const std::uint32_t fourcc = s.jpeg ? kFourccJpeg : kFourccH264;
  const OmittedHeaders omit = faults_.omit_headers;
  const bool omit_fourcc = omit == OmittedHeaders::kFourcc || omit == OmittedHeaders::kBoth;
  const bool omit_size = omit == OmittedHeaders::kSize || omit == OmittedHeaders::kBoth;
  if (!omit_fourcc) {
    headers.emplace_back("Fourcc", v.fourcc_as_text ? FourccText(fourcc) : std::to_string(fourcc));
  }
  headers.emplace_back("Width", std::to_string(v.width));
  headers.emplace_back("Height", std::to_string(v.height));
  if (!context_->Level2() && !omit_size) {
    headers.emplace_back("Size", std::to_string(v.width) + "x" + std::to_string(v.height));
  }
  const Bytes body = s.jpeg ? frames_->MakeJpeg(s.label, s.cid, s.seq) : frames_->MakeNative(s.cid, s.seq);
  const long stamp_pos = static_cast<long>(FrameStampOffset(s.jpeg ? kFrameKindJpeg : kFrameKindNative));
  if (!Emit(headers, body, stamp_pos)) return;
  ++s.seq;
  ++frames_sent_;
  context_->CountFrame(s.cid);
  if ((reset_frames_target_ != 0 && frames_sent_ >= reset_frames_target_) ||
      (faults_.reset_after_frames != 0 && frames_sent_ >= faults_.reset_after_frames)) {
    EndWithReset();
  }
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
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      if (!WaitWritable()) return false;
      continue;
    }
    end_ = End::kPeerGone;
    return false;
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
