#include "ptz/gateway_ptz_comm.h"

#include <new>

#include "gateway/client_message.h"
#include "infra/text_helpers.h"
#include "infra/time.h"
#include "infra/xml_parser.h"

namespace quorvel {

namespace {

constexpr const char* kPrefix = "camera/ptz/";
constexpr const char* kEvent = "camera/ptz/event";
constexpr const char* kProperties = "camera/ptz/properties";
constexpr const char* kTakeover = "camera/ptz/takeover";
constexpr const char* kPreset = "camera/ptz/preset";
constexpr const char* kStop = "camera/ptz/stop";
constexpr const char* kAreaZoom = "camera/ptz/areazoom";
constexpr const char* kCenter = "camera/ptz/center";
constexpr const char* kUnzoom = "camera/ptz/unzoom";

constexpr const char* kProcessServerMessage = "quorvel::CGatewayPTZComm::ProcessServerMessage";

// Move directions 0 to 9; any other direction leaves the bare prefix.
constexpr const char* kDirectionNames[] = {"left",    "right",    "up",        "down",   "upleft",
                                           "upright", "downleft", "downright", "zoomin", "zoomout"};

std::string MoveCommand(std::uint32_t direction) {
  std::string command = kPrefix;
  if (direction < sizeof(kDirectionNames) / sizeof(kDirectionNames[0])) {
    command += kDirectionNames[direction];
  }
  return command;
}

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

std::uint32_t GatewayPtzSpeed(std::uint32_t hostSpeed) {
  const double speed = (static_cast<double>(hostSpeed) - 1.0) * 2.0 / 15.0;
  // Truncation toward zero: host speed 0 gives -0.13, which is 0 as well.
  return speed <= 0.0 ? 0u : static_cast<std::uint32_t>(speed);
}

CGatewayPTZComm::CGatewayPTZComm(IDriver* driver, std::uint16_t channel)
    : CBasePTZComm(driver, channel), m_client(driver != nullptr ? driver->GetClient() : nullptr) {
  if (m_client != nullptr) {
    m_client->RegisterReceiver(std::string(kEvent) + "," + kProperties, this);
  }
}

CGatewayPTZComm::~CGatewayPTZComm() {
  try {
    SendDomeCommand(DomeMode::kClose);
  } catch (...) {
    // The Gateway releases an abandoned dome after its time-out anyway.
  }
  if (m_client != nullptr) m_client->UnregisterReceiver(this);
  // HandleWorkItem uses this object's members: the thread ends before they go.
  StopThread();
}

bool CGatewayPTZComm::HasPtz(IIPParams* params) {
  if (!GetCameraRecord().ptz) return false;
  return CBasePTZComm::HasPtz(params);
}

bool CGatewayPTZComm::SavePreset(std::uint32_t /*index*/, const std::string& /*name*/) {
  return false;
}

bool CGatewayPTZComm::RecallPreset(std::uint32_t /*position*/, const std::string& name,
                                   std::uint32_t /*speed*/) {
  SendDomeCommand(DomeMode::kOpen);
  ClientMessage* message = new (std::nothrow) ClientMessage(kPreset);
  if (message == nullptr) return false;
  message->AddParam("pid", GetCameraRecord().pid);
  message->AddParam("name", name);
  return Send(message);
}

bool CGatewayPTZComm::DeletePreset(std::uint32_t /*index*/, const std::string& /*name*/) {
  return false;
}

bool CGatewayPTZComm::LoadPresets(std::vector<PresetEntry>& list) {
  SendDomeCommand(DomeMode::kTakeover);
  std::vector<std::string> names;
  {
    CLockGuard guard(StateLock());
    names = m_presetNames;
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    PresetEntry entry;
    entry.name = names[i];
    entry.index = static_cast<std::uint32_t>(i);
    list.push_back(entry);
  }
  return true;
}

void CGatewayPTZComm::ProcessServerMessage(ServerMessage& message) {
  // Containment, as the Gateway writes the pid into a longer text at times.
  if (message.GetHeader("Pid").find(GetCameraRecord().pid) == std::string::npos) return;
  if (message.IsCommand(kEvent)) {
    const std::string status = message.GetHeader("Status");
    // "DomeOpenFailed" contains "DomeOpen" and counts as activity too.
    if (Contains(status, "DomeOpen") || Contains(status, "DomeOK")) {
      m_lastActivity.store(GetSystemFileTime());
      DebugMessage(LOG_DEBUG, "%s: Dome status %s", kProcessServerMessage, status.c_str());
    }
    if (Contains(status, "DomeReleased") || Contains(status, "DomeReserved") ||
        Contains(status, "DomeNotAvailable") || Contains(status, "DomeOpenFailed")) {
      DebugMessage(LOG_DEBUG, "%s: Dome status %s", kProcessServerMessage, status.c_str());
    }
  } else if (message.IsCommand(kProperties)) {
    ParsePropertiesInfo(message);
    if (Driver() != nullptr) {
      DebugMessage(LOG_DEBUG, "%s: Dome properties received: %s\r\n%s", kProcessServerMessage,
                   message.GetHeaderText().c_str(), message.GetBodyText().c_str());
    }
  }
}

std::uint32_t CGatewayPTZComm::GetDomeTimeoutS() {
  CLockGuard guard(StateLock());
  return m_domeTimeoutS;
}

void CGatewayPTZComm::HandleWorkItem(CWorkItem* item) {
  if (item == nullptr) return;
  SendDomeCommand(DomeMode::kOpen);
  switch (item->command) {
    case kCommandMove:
      SendPtzSpeedCommand(item->speed, MoveCommand(item->arg1));
      break;
    case kCommandFocus:
      SendPtzSpeedCommand(
          item->speed,
          std::string(kPrefix) + (item->action == kActionFocusNear ? "focusnear" : "focusfar"));
      break;
    case kCommandIris:
      SendPtzSpeedCommand(
          item->speed,
          std::string(kPrefix) + (item->action == kActionIrisOpen ? "irisopen" : "irisclose"));
      break;
    case kCommandStop:
      SendPtzCommand(kStop);
      break;
    case kCommandAreaZoom:
      SendAreaZoom(*item);
      break;
    case kCommandCenter:
      SendCenter(*item);
      break;
    case kCommandUnzoom:
      SendPtzCommand(kUnzoom);
      break;
    default:
      DebugMessage(LOG_DEBUG, "%s: unexpected command ID=%u",
                   "quorvel::CGatewayPTZComm::HandleWorkItem", static_cast<unsigned>(item->action));
      return;
  }
  m_lastActivity.store(GetSystemFileTime());
}

void CGatewayPTZComm::SendDomeCommand(DomeMode mode) {
  switch (mode) {
    case DomeMode::kOpen: {
      std::uint64_t last = m_lastActivity.load();
      const std::uint64_t timeoutMs = static_cast<std::uint64_t>(GetDomeTimeoutS()) * 1000u;
      // 0 means the dome was never opened (its age would not fit 32 bits).
      if (last != 0 && GetElapsedMsSince(last) < timeoutMs) return;
      // Only the thread that moves the clock on sends the open; a thread that
      // lost the race saw fresh activity.
      if (!m_lastActivity.compare_exchange_strong(last, GetSystemFileTime())) return;
      SendPtzCommand(std::string(kPrefix) + "open");
      return;
    }
    case DomeMode::kTakeover:
      SendPtzCommand(kTakeover);
      return;
    case DomeMode::kClose:
      SendPtzCommand(std::string(kPrefix) + "close");
      return;
  }
}

void CGatewayPTZComm::SendPtzCommand(const std::string& command) {
  const std::string& pid = GetCameraRecord().pid;
  if (pid.empty()) return;
  ClientMessage* message = new (std::nothrow) ClientMessage(command);
  if (message == nullptr) return;
  message->AddParam("pid", pid);
  Send(message);
}

void CGatewayPTZComm::SendPtzSpeedCommand(std::uint32_t hostSpeed, const std::string& command) {
  const std::string& pid = GetCameraRecord().pid;
  if (pid.empty()) return;
  ClientMessage* message = new (std::nothrow) ClientMessage(command);
  if (message == nullptr) return;
  message->AddParam("pid", pid);
  message->AddParam("speed", GatewayPtzSpeed(hostSpeed));
  Send(message);
}

void CGatewayPTZComm::SendAreaZoom(const CWorkItem& item) {
  const std::string& pid = GetCameraRecord().pid;
  if (pid.empty()) return;
  ClientMessage* message = new (std::nothrow) ClientMessage(kAreaZoom);
  if (message == nullptr) return;
  message->AddParam("pid", pid);
  message->AddParam("x", item.arg1);
  message->AddParam("y", item.arg2);
  message->AddParam("z", item.arg3);
  Send(message);
}

void CGatewayPTZComm::SendCenter(const CWorkItem& item) {
  const std::string& pid = GetCameraRecord().pid;
  if (pid.empty()) return;
  ClientMessage* message = new (std::nothrow) ClientMessage(kCenter);
  if (message == nullptr) return;
  message->AddParam("pid", pid);
  message->AddParam("x", item.arg1);
  message->AddParam("y", item.arg2);
  Send(message);
}

bool CGatewayPTZComm::Send(ClientMessage* message) {
  if (m_client == nullptr) {
    delete message;
    return false;
  }
  return m_client->Send(message);
}

void CGatewayPTZComm::ParsePropertiesInfo(const ServerMessage& message) {
  std::vector<char> body;
  if (!message.GetBody(body) || body.empty()) return;
  CXMLParser parser;
  if (!parser.LoadFromBuffer(body)) {
    DebugMessage(LOG_DEBUG, "%s: Dome properties parse failed",
                 "quorvel::CGatewayPTZComm::ParsePropertiesInfo");
    return;
  }
  if (!parser.NodeExists("PtzControl")) return;
  std::vector<std::string> names = parser.GetTexts("PtzControl/Presets/Preset");
  const std::string actions = parser.GetAttribute("actions", "PtzControl");
  const std::string timeout = parser.GetAttribute("timeout", "PtzControl");
  const std::size_t count = names.size();
  {
    CLockGuard guard(StateLock());
    m_presetNames.swap(names);
    // Seconds as a u32: a time-out past 32 bits holds the dome for the
    // longest time there is instead of wrapping to a short or negative one.
    const std::uint32_t seconds = ParseLeadingUint(timeout);
    if (seconds > 0) m_domeTimeoutS = seconds;
  }
  if (!actions.empty()) SetPresetCount(static_cast<std::uint32_t>(count));
}

}  // namespace quorvel
