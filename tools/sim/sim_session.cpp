#include "sim_session.h"

#include <algorithm>
#include <cstdint>

#include "sim_text.h"

namespace strevon {
namespace sim {

namespace {

std::string Param(const ParsedRequest& request, const std::string& name, const std::string& fallback = "") {
  auto it = request.params.find(name);
  return it == request.params.end() ? fallback : it->second;
}

// The channel number of a stream request: the number after the last ':' of
// "cid" (the short form "pid:n"), else "gid".
bool ChannelNumber(const ParsedRequest& request, std::uint32_t* cid) {
  std::string number = Param(request, "cid");
  const std::size_t colon = number.rfind(':');
  if (colon != std::string::npos) number = number.substr(colon + 1);
  return ParseUint32(number, cid) || ParseUint32(Param(request, "gid"), cid);
}

}  // namespace

SimSession::SimSession(const Scenario& scenario, SimContext* context, StreamSet* streams, ReplySink* replies)
    : scenario_(scenario), context_(context), streams_(streams), replies_(replies) {}

bool SimSession::WantsEvent(const std::string& type) const {
  return events_subscribed_ && (event_filter_.empty() || event_filter_.count(type) != 0);
}

void SimSession::Dispatch(const ParsedRequest& request, const FaultSettings& faults) {
  const std::string& cmd = request.command;
  if (cmd == "user/authenticate") return HandleAuthenticate(request);
  if (cmd == "user/logon") return HandleLogon(request);
  if (cmd == "user/logoff") {
    logged_in_ = false;
    streams_->Clear();
    events_subscribed_ = false;
    return replies_->Reply(cmd, {{"Response", cmd}, {"Status", "LoggedOff"}});
  }
  if (scenario_.require_logon && !logged_in_) {
    return replies_->Reply(cmd, {{"Response", cmd}, {"Status", "NotLoggedIn"}});
  }
  if (cmd == "user/profile") return HandleProfile(request);
  if (cmd == "video/realtime/subscribe") return HandleSubscribe(request);
  if (cmd == "video/realtime/unsubscribe") return HandleUnsubscribe(request);
  if (cmd == "recorder/event/subscribe") return HandleEventSubscription(request, true);
  if (cmd == "recorder/event/unsubscribe") return HandleEventSubscription(request, false);
  if (cmd == "switch/toggle") return HandleToggle(request);
  if (StartsWith(cmd, "camera/ptz/")) return HandlePtz(request, faults);
  replies_->Reply(cmd, {{"Response", cmd}, {"Status", "UnknownCommand"}});
}

void SimSession::HandleAuthenticate(const ParsedRequest& request) {
  digest_key_ = MakeDigestKey();
  context_->NoteDigestKey(digest_key_);
  HeaderList headers = {{"Response", request.command}, {"DigestKey", digest_key_}};
  if (!context_->Level2()) {
    headers.emplace_back("Server", scenario_.server_name + " / Kalmeno " + scenario_.kalmeno_version);
  }
  replies_->Reply(request.command, headers);
}

void SimSession::HandleLogon(const ParsedRequest& request) {
  const std::string& cmd = request.command;
  const std::string pass = Param(request, "pass");
  const SimUser* user = FindUser(scenario_, Param(request, "uid"));
  logged_in_ = false;
  if (user == nullptr || !user->authorized) {
    return replies_->Reply(cmd, {{"Response", cmd}, {"Status", "UserUnauthorized"}});
  }
  // The key is single-use: a log-on needs a fresh "user/authenticate".
  const std::string key = digest_key_;
  digest_key_.clear();
  if (key.empty() || pass.empty() || ComputeLogonDigest(user->password, key) != pass) {
    return replies_->Reply(cmd, {{"Response", cmd}, {"Status", "InvalidPassword"}});
  }
  logged_in_ = true;
  user_ = user->name;
  replies_->ReplyXml(cmd, {{"Response", cmd}, {"Status", "LoggedIn"}}, BuildSessionXml(scenario_, *user));
}

void SimSession::HandleProfile(const ParsedRequest& request) {
  const std::string& cmd = request.command;
  const std::string name = Param(request, "name");
  const SimProfile* profile = FindProfile(scenario_, name);
  bool allowed = profile != nullptr;
  if (allowed && scenario_.require_logon) {
    const SimUser* user = FindUser(scenario_, user_);
    allowed = user != nullptr &&
              std::find(user->profiles.begin(), user->profiles.end(), name) != user->profiles.end();
  }
  if (!allowed) return replies_->Reply(cmd, {{"Response", cmd}, {"Status", "ProfileNotFound"}});
  replies_->ReplyXml(cmd, {{"Response", cmd}, {"Status", "OK"}}, BuildProfileXml(*profile, context_->IoStates()));
}

void SimSession::HandleSubscribe(const ParsedRequest& request) {
  const std::string& cmd = request.command;
  std::string pid = Param(request, "pid");
  // The short protocol form names the camera and the channel in one "pid:n".
  const std::string cid_param = Param(request, "cid");
  const std::size_t colon = cid_param.rfind(':');
  if (colon != std::string::npos && pid.empty()) pid = cid_param.substr(0, colon);
  std::uint32_t cid = 0;
  if (!ChannelNumber(request, &cid)) {
    return replies_->Reply(cmd, {{"Response", cmd}, {"Status", "InvalidChannel"}});
  }
  const SimCamera* camera = FindCamera(scenario_, pid);
  if (camera == nullptr) {
    return replies_->Reply(cmd, {{"Response", cmd}, {"Cid", std::to_string(cid)}, {"Status", "InvalidCamera"}});
  }
  if (!streams_->Has(cid) && static_cast<int>(streams_->Size()) >= scenario_.realtime_streams) {
    return replies_->Reply(cmd, {{"Response", cmd}, {"Cid", std::to_string(cid)}, {"Status", "TooManyStreams"}});
  }
  // Due from the request, not from the end of a slowly written reply.
  const auto due = StreamSet::Clock::now();
  replies_->Reply(cmd, {{"Response", cmd}, {"Cid", std::to_string(cid)}, {"Status", "OK"}});
  streams_->Subscribe(cid, *camera, Param(request, "format", "JPEG") != "Native",
                      Param(request, "type") == "MotionOnly", due);
}

void SimSession::HandleUnsubscribe(const ParsedRequest& request) {
  const std::string& cmd = request.command;
  std::uint32_t cid = 0;
  if (!ChannelNumber(request, &cid)) {
    return replies_->Reply(cmd, {{"Response", cmd}, {"Status", "InvalidChannel"}});
  }
  const bool found = streams_->Unsubscribe(cid);
  replies_->Reply(cmd, {{"Response", cmd}, {"Cid", std::to_string(cid)}, {"Status", found ? "OK" : "NotSubscribed"}});
}

void SimSession::HandleEventSubscription(const ParsedRequest& request, bool subscribe) {
  events_subscribed_ = subscribe;
  event_filter_.clear();
  if (subscribe) {
    for (const auto& e : SplitComma(Param(request, "events"))) event_filter_.insert(e);
  }
  replies_->Reply(request.command, {{"Response", request.command}, {"Status", "OK"}});
}

void SimSession::HandleToggle(const ParsedRequest& request) {
  const std::string& cmd = request.command;
  const std::string pid = Param(request, "pid");
  if (!IsOutputPid(scenario_, pid)) {
    return replies_->Reply(cmd, {{"Response", cmd}, {"Pid", pid}, {"Status", "NotFound"}});
  }
  const bool on = context_->ToggleIo(pid);
  replies_->Reply(cmd, {{"Response", cmd}, {"Pid", pid}, {"Status", on ? "On" : "Off"}});
}

void SimSession::HandlePtz(const ParsedRequest& request, const FaultSettings& faults) {
  const std::string& cmd = request.command;
  const std::string pid = Param(request, "pid");
  const SimCamera* camera = FindCamera(scenario_, pid);
  const bool is_ptz = camera != nullptr && camera->ptz;
  if (cmd == "camera/ptz/takeover") {
    if (faults.never_takeover.count(pid) != 0) return;
    const HeaderList headers = {{"Response", "camera/ptz/properties"}, {"Pid", pid}, {"Status", is_ptz ? "OK" : "NotPtz"}};
    if (!is_ptz) return replies_->Reply(cmd, headers);
    return replies_->ReplyXml(cmd, headers, BuildPtzPropertiesXml(*camera));
  }
  if (!is_ptz) return replies_->Reply(cmd, {{"Response", cmd}, {"Pid", pid}, {"Status", "NotPtz"}});
  if (cmd == "camera/ptz/open" || cmd == "camera/ptz/close") {
    const std::string& status = cmd == "camera/ptz/open" ? scenario_.dome_open_status : scenario_.dome_close_status;
    if (!status.empty()) replies_->Reply(cmd, {{"Response", "camera/ptz/event"}, {"Pid", pid}, {"Status", status}});
    return;
  }
  if (cmd == "camera/ptz/preset") {
    const std::string name = Param(request, "name");
    const bool known = std::find(camera->presets.begin(), camera->presets.end(), name) != camera->presets.end();
    return replies_->Reply(cmd, {{"Response", cmd}, {"Pid", pid}, {"Status", known ? "OK" : "InvalidPreset"}});
  }
  replies_->Reply(cmd, {{"Response", cmd}, {"Pid", pid}, {"Status", "OK"}});
}

}  // namespace sim
}  // namespace strevon
