#include "session/profile_reader.h"

#include <new>

#include "core/camera_record.h"
#include "gateway/client_message.h"
#include "infra/device_info.h"
#include "infra/settings.h"
#include "infra/text_helpers.h"
#include "infra/xml_parser.h"
#include "session/reply_wait.h"

namespace quorvel {

namespace {

const char kProfile[] = "user/profile";
const char kPtzTakeover[] = "camera/ptz/takeover";
const char kPtzProperties[] = "camera/ptz/properties";

// Every PTZ camera that answers offers the full preset range.
constexpr std::uint32_t kPtzPresetCount = 255;

ClientMessage* NewRequest(const char* command, const char* name, const std::string& value) {
  ClientMessage* message = new (std::nothrow) ClientMessage(command);
  if (message != nullptr) message->AddParam(name, value);
  return message;
}

}  // namespace

CProfileReader::CProfileReader(CGWClient* client) : m_client(client), m_replyEvent(false) {
  if (m_client != nullptr) m_client->RegisterReceiver(kProfile, this);
}

CProfileReader::~CProfileReader() {
  // Waits for a dispatch into this object to finish.
  if (m_client != nullptr) m_client->UnregisterReceiver(this);
}

bool CProfileReader::ReadProfile(CEvent* abort) {
  if (m_client == nullptr) return false;
  const DEVICE_INFO device = m_client->Transport().GetDeviceInfo();
  const std::string name = ReadGatewaySettings(device).profile;
  if (name.empty()) return false;
  {
    CPlainGuard guard(m_dataLock);
    m_profileName = name;
  }
  m_replyEvent.Reset();
  if (!QueueRequest(m_client, NewRequest(kProfile, "name", name))) return false;
  return WaitForReply(m_replyEvent, device.connectTimeout, abort) == ReplyWait::kReplied;
}

void CProfileReader::ReadPtzProperties(CEvent* abort) {
  if (m_client == nullptr) return;
  const DEVICE_INFO device = m_client->Transport().GetDeviceInfo();
  std::vector<std::string> ptzPids;
  for (const CameraRecord& camera : GetCameras()) {
    if (camera.ptz) ptzPids.push_back(camera.pid);
  }
  m_client->RegisterReceiver(std::string(kProfile) + kPtzProperties, this);
  for (const std::string& pid : ptzPids) {
    m_replyEvent.Reset();
    // Waited for even when the send was refused; only an abort cuts the
    // round short.
    QueueRequest(m_client, NewRequest(kPtzTakeover, "pid", pid));
    if (WaitForReply(m_replyEvent, device.connectTimeout, abort) == ReplyWait::kAborted) break;
  }
  m_client->RegisterReceiver(kProfile, this);
}

void CProfileReader::ProcessServerMessage(ServerMessage& message) {
  if (message.IsCommand(kProfile)) {
    ParseProfile(message);
    m_replyEvent.Set();
  }
  if (message.IsCommand(kPtzProperties)) {
    ParsePtzCapabilities(message);
    m_replyEvent.Set();
  }
}

void CProfileReader::ParseProfile(ServerMessage& message) {
  std::vector<char> body;
  if (!message.GetBody(body)) return;
  CXMLParser parser;
  if (!parser.LoadFromBuffer(body)) return;
  const std::string sel = FormatString("Profile[@name=\"%s\"]", GetProfileName().c_str());
  if (!parser.NodeExists(sel)) return;

  std::vector<CameraRecord> cameras;
  std::vector<IORecord> inputs;
  std::vector<IORecord> outputs;
  ReadCameras(parser, sel, cameras);
  ReadIORecords(parser, sel + "//DigitalInput", inputs);
  ReadIORecords(parser, sel + "//DigitalOutput", outputs);

  CPlainGuard guard(m_dataLock);
  m_cameras.insert(m_cameras.end(), cameras.begin(), cameras.end());
  m_inputs.insert(m_inputs.end(), inputs.begin(), inputs.end());
  m_outputs.insert(m_outputs.end(), outputs.begin(), outputs.end());
}

void CProfileReader::ReadCameras(const CXMLParser& parser, const std::string& sel,
                                 std::vector<CameraRecord>& out) {
  // One union keeps both kinds in document order, so ids are positions in
  // the profile's camera list as the Gateway counts them.
  const std::vector<XMLElementRef> elements =
      parser.SelectElements(sel + "//Camera | " + sel + "//PtzCamera");
  for (std::size_t i = 0; i < elements.size(); ++i) {
    const std::string state = ToLower(parser.GetAttribute(elements[i], "state"));
    if (state != "ok" && state != "nosignal") continue;
    const std::string pid = parser.GetAttribute(elements[i], "pid");
    const std::string kind = ToLower(elements[i].name);
    if (pid.empty() || kind.empty()) continue;
    CameraRecord record;
    record.id = static_cast<std::uint32_t>(i);
    record.pid = pid;
    record.ptz = kind == "ptzcamera";
    out.push_back(record);
  }
}

void CProfileReader::ReadIORecords(const CXMLParser& parser, const std::string& path,
                                   std::vector<IORecord>& out) {
  const std::vector<XMLElementRef> elements = parser.SelectElements(path);
  for (std::size_t i = 0; i < elements.size(); ++i) {
    const std::string pid = parser.GetAttribute(elements[i], "pid");
    if (pid.empty()) continue;
    IORecord record;
    record.id = static_cast<std::uint32_t>(i);
    record.pid = pid;
    out.push_back(record);
  }
}

void CProfileReader::ParsePtzCapabilities(ServerMessage& message) {
  const std::string pid = message.GetHeader("Pid");
  std::string actions;
  std::vector<char> body;
  if (message.GetBody(body)) {
    CXMLParser parser;
    if (parser.LoadFromBuffer(body) && parser.NodeExists("PtzControl")) {
      actions = parser.GetAttribute("actions", "PtzControl");
    }
  }
  if (actions.empty()) return;
  const std::string words = ToLower(actions);

  CPlainGuard guard(m_dataLock);
  // Substring match: the reply's pid may be a shortened form of the
  // camera's. Only the first match is updated.
  for (CameraRecord& camera : m_cameras) {
    if (camera.pid.find(pid) == std::string::npos) continue;
    CPtzCapabilities caps;
    caps.pan = true;
    caps.tilt = true;
    // Substring tests: "areazoom" and "unzoom" alone also give zoom.
    caps.zoom = words.find("zoom") != std::string::npos;
    caps.focus = words.find("focus") != std::string::npos;
    caps.iris = words.find("iris") != std::string::npos;
    caps.center = words.find("center") != std::string::npos;
    caps.areaZoom = words.find("areazoom") != std::string::npos;
    caps.unzoom = words.find("unzoom") != std::string::npos;
    caps.presetCount = kPtzPresetCount;
    camera.ptzCapabilities = caps;
    return;
  }
}

std::string CProfileReader::GetProfileName() const {
  CPlainGuard guard(m_dataLock);
  return m_profileName;
}

std::vector<CameraRecord> CProfileReader::GetCameras() const {
  CPlainGuard guard(m_dataLock);
  return m_cameras;
}

std::vector<IORecord> CProfileReader::GetInputs() const {
  CPlainGuard guard(m_dataLock);
  return m_inputs;
}

std::vector<IORecord> CProfileReader::GetOutputs() const {
  CPlainGuard guard(m_dataLock);
  return m_outputs;
}

}  // namespace quorvel
