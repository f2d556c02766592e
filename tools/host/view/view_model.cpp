#include "view_model.h"

#include <algorithm>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "jpeg_codec.h"
#include "progress_view.h"
#include "ptz_command.h"

namespace strevon {
namespace hosttool {

namespace {

using nlohmann::json;

constexpr auto kStalledAfter = std::chrono::seconds(2);
constexpr auto kProbeEvery = std::chrono::seconds(3);
constexpr auto kCheckEvery = std::chrono::seconds(30);
constexpr auto kPresetRefreshEvery = std::chrono::seconds(1);
constexpr int kPresetRefreshes = 10;
constexpr int kProbeTimeoutMs = 3000;

const char* const kMoves[] = {"left", "right", "up", "down", "upleft", "upright", "downleft", "downright"};

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The ids and pids of the "Input N" parameters ("id;pid"), in order: the
// driver reports an input by its id.
std::vector<std::pair<std::uint32_t, std::string>> InputIds(const DeviceDescription& device) {
  std::vector<std::pair<std::uint32_t, std::string>> inputs;
  for (const host::CapabilityParameter& p : device.parameters) {
    if (p.name.compare(0, 6, "Input ") != 0) continue;
    const std::size_t semi = p.value.find(';');
    if (semi == std::string::npos) continue;
    inputs.emplace_back(static_cast<std::uint32_t>(std::strtoul(p.value.c_str(), nullptr, 10)),
                        p.value.substr(semi + 1));
  }
  return inputs;
}

}  // namespace

struct ViewModel::PtzState {
  quorvel::IIPPTZApiEx* api = nullptr;
  bool ready = false;
  std::string failure;  // why it is not ready
  quorvel::PtzCapabilityRecord caps{};
  int refreshes = 0;
  Clock::time_point lastRefresh{};
  std::vector<std::string> presets;
  std::string current;
  std::string last;  // the latest action and its result
  bool moving = false;
};

struct ViewModel::Channel {
  // Constant after AddDevice.
  std::uint32_t channel = 0;
  std::string camera;
  bool ptz = false;
  std::unique_ptr<ChannelMonitor> monitor;

  std::atomic<std::int64_t> lastFrameNs{0};  // steady clock; 0: none yet
  ChannelStats stats;                        // guarded by the model's m_mutex
  PtzState ptzState;                         // guarded by the device's m_hostCalls
};

struct ViewModel::Device {
  // Constant after AddDevice.
  std::size_t index = 0;
  DeviceDescription description;
  std::string gateway;
  std::vector<std::pair<std::uint32_t, std::string>> inputs;
  std::vector<std::string> outputs;
  quorvel::ipcapture::IIPVideoCaptureEx* video = nullptr;
  quorvel::ICaptureIOApi* io = nullptr;
  quorvel::IIPPTZDriverEx* ptz = nullptr;
  bool ioStarted = false;
  Clock::time_point opened{};
  InputLamps lamps;
  std::vector<std::unique_ptr<Channel>> channels;

  std::mutex hostCalls;
  std::vector<std::uint64_t> toggles;  // guarded by hostCalls

  // Guarded by the model's m_mutex.
  std::string connection = "connecting";  // connecting, connected, lost
  Clock::time_point since{};
  Clock::time_point backAt{};
  std::string unreachable;  // the probe's finding
  std::string diagnosis;    // the full check's finding

  // Main thread only.
  Clock::time_point lastProbe{};
  Clock::time_point lastCheck{};

  // Last, so that it goes first: deleting the driver stops the channels
  // and the I/O before their handlers and callback go.
  std::unique_ptr<DriverSession> session;
};

ViewModel::ViewModel(const host::DriverLibrary& library, Options options)
    : m_library(library), m_options(options) {
  m_log.SetListener([this] { Bump(); });
  m_checker = std::thread([this] { CheckerThread(); });
}

ViewModel::~ViewModel() { Close(); }

bool ViewModel::AddDevice(const DeviceDescription& description, const std::vector<std::uint32_t>& channels,
                          std::string* error) {
  auto device = std::make_unique<Device>();
  Device& d = *device;
  d.index = m_devices.size();
  d.description = description;
  d.gateway = description.endpoint.ToString();
  d.inputs = InputIds(description);
  for (std::uint32_t i = 0; i < description.OutputCount(); ++i) d.outputs.push_back(description.OutputPid(i));
  d.toggles.assign(d.outputs.size(), 0);
  d.session = std::make_unique<DriverSession>(m_library, description);
  d.session->UseSink(m_log.SinkFor(d.gateway));
  if (!d.session->Open(error, false)) return false;
  d.video = d.session->Video(error);
  if (d.video == nullptr) return false;
  d.opened = d.since = Clock::now();

  const std::vector<ChannelEntry> entries = description.Channels();
  std::uint16_t width = 640;
  std::uint16_t height = 480;
  if (!description.resolutions.empty()) {
    width = static_cast<std::uint16_t>(description.resolutions.front().width);
    height = static_cast<std::uint16_t>(description.resolutions.front().height);
  }
  bool anyPtz = false;
  for (std::uint32_t number : channels) {
    auto channel = std::make_unique<Channel>();
    Channel& ch = *channel;
    ch.channel = number;
    if (number < entries.size()) {
      ch.camera = entries[number].pid;
      ch.ptz = entries[number].ptz;
    }
    anyPtz = anyPtz || ch.ptz;
    ch.monitor = std::make_unique<ChannelMonitor>("ch" + std::to_string(number), ch.camera, number, nullptr,
                                                  0, width, height);
    Channel* self = &ch;
    ch.monitor->SetFrameListener([this, self] {
      self->lastFrameNs.store(NowNs());
      {
        std::lock_guard<std::mutex> lock(m_frameMutex);
        ++m_frames;
      }
      m_frameArrived.notify_all();
    });
    d.channels.push_back(std::move(channel));
    const bool started = d.video->StartChannel(number, ch.monitor->Handler(), ch.monitor->Setup());
    ch.monitor->MarkStarted(started);
    if (!started) Say("strevon-host: warning: StartChannel(" + std::to_string(number) + ") on " + d.gateway +
                      " returned false");
  }
  if (!d.inputs.empty() || !d.outputs.empty()) {
    std::string ioError;
    d.io = d.session->Io(&ioError);
    if (d.io == nullptr) {
      Say("strevon-host: warning: " + ioError);
    } else {
      d.lamps.SetListener([this] { Bump(); });
      d.io->SetIOCallback(&d.lamps);
      d.ioStarted = d.io->StartIO();
      if (!d.ioStarted) Say("strevon-host: warning: the driver could not start its I/O (StartIO returned false)");
    }
  }
  if (anyPtz) {
    std::string ptzError;
    d.ptz = d.session->Ptz(&ptzError);
    if (d.ptz == nullptr) Say("strevon-host: warning: " + ptzError);
  }
  m_devices.push_back(std::move(device));
  return true;
}

void ViewModel::Poll() {
  const Clock::time_point now = Clock::now();
  for (const auto& device : m_devices) {
    Device& d = *device;
    for (const auto& ch : d.channels) {
      ch->monitor->Poll(d.video, now);
      ChannelStats stats = ch->monitor->Stats();
      std::lock_guard<std::mutex> lock(m_mutex);
      ch->stats = std::move(stats);
    }
    UpdateConnection(d, now);
    PreparePtz(d);
  }
  Bump();
}

void ViewModel::UpdateConnection(Device& d, Clock::time_point now) {
  std::int64_t last = 0;
  for (const auto& ch : d.channels) last = std::max(last, ch->lastFrameNs.load());
  const std::int64_t silentNs = NowNs() - last;
  const char* state = last == 0 ? "connecting"
                      : silentNs > std::chrono::nanoseconds(m_options.silence).count() ? "lost"
                                                                                        : "connected";
  std::string previous;
  Clock::time_point since;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    previous = d.connection;
    if (previous != state) {
      if (previous == "lost") d.backAt = now;
      d.connection = state;
      d.since = now;
      if (d.connection == "connected") {
        d.unreachable.clear();
        d.diagnosis.clear();
      }
    }
    since = d.since;
  }
  if (previous != state) {
    if (previous == "connecting") {
      Say("view: " + d.gateway + ": video is coming in (first frame " +
          FormatDouble(Seconds(now - d.opened), 1) + " s after opening the driver)");
    } else if (previous == "connected") {
      Say("view: " + d.gateway + ": the Gateway connection is lost (no frame on any channel for " +
          std::to_string(m_options.silence.count() / 1000) + " s); the driver is reconnecting");
      d.lastProbe = Clock::time_point{};
    } else if (previous == "lost" && std::string(state) == "connected") {
      Say("view: " + d.gateway + ": the Gateway connection is back");
    }
  }
  if (std::string(state) == "connected") return;
  bool probe = false;
  bool full = false;
  if (now - d.lastProbe >= kProbeEvery) {
    d.lastProbe = now;
    probe = true;
  }
  const Clock::time_point silentSince = std::string(state) == "connecting" ? d.opened : since;
  if (now - silentSince >= m_options.connectTimeout && now - d.lastCheck >= kCheckEvery) {
    d.lastCheck = now;
    full = true;
  }
  if (probe || full) {
    std::lock_guard<std::mutex> lock(m_checkMutex);
    m_checks.emplace_back(d.index, full);
    m_checkWanted.notify_one();
  }
}

void ViewModel::CheckerThread() {
  for (;;) {
    std::pair<std::size_t, bool> check;
    {
      std::unique_lock<std::mutex> lock(m_checkMutex);
      m_checkWanted.wait(lock, [&] { return m_checkStop || !m_checks.empty(); });
      if (m_checkStop) return;
      check = m_checks.front();
      m_checks.pop_front();
    }
    // The device list is complete before Poll asks for a check.
    Device& d = *m_devices[check.first];
    std::string unreachable;
    std::string reason;
    if (!ProbeTcp(d.description.endpoint, kProbeTimeoutMs, &reason)) {
      unreachable = "the Gateway at " + d.gateway + " is unreachable: " + reason;
    }
    std::string diagnosis;
    const bool full = check.second && unreachable.empty();
    if (full) diagnosis = d.session->Diagnose();
    std::string said;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (d.connection == "connected") continue;
      const std::string before = d.unreachable.empty() ? d.diagnosis : d.unreachable;
      d.unreachable = unreachable;
      if (full) d.diagnosis = diagnosis;
      const std::string after = d.unreachable.empty() ? d.diagnosis : d.unreachable;
      if (after != before && !after.empty()) said = after;
    }
    if (!said.empty()) Say("strevon-host: " + d.gateway + ": " + said);
    Bump();
  }
}

void ViewModel::PreparePtz(Device& d) {
  if (d.ptz == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (d.connection != "connected") return;
  }
  const Clock::time_point now = Clock::now();
  bool changed = false;
  for (const auto& ch : d.channels) {
    if (!ch->ptz) continue;
    std::lock_guard<std::mutex> lock(d.hostCalls);
    PtzState& p = ch->ptzState;
    if (p.ready && (!p.presets.empty() || p.refreshes >= kPresetRefreshes)) continue;
    if (p.ready && now - p.lastRefresh < kPresetRefreshEvery) continue;
    changed = true;
    if (p.api == nullptr) p.api = d.ptz->GetPTZApiEx(ch->channel);
    if (p.api == nullptr) {
      p.failure = "the driver gives no PTZ control for channel " + std::to_string(ch->channel);
      continue;
    }
    if (!p.ready) {
      const int init = p.api->Initialize();
      if (init != quorvel::kPtzOk) {
        p.failure = "Initialize: " + PtzResultText(init);
        continue;
      }
      p.ready = true;
      p.failure.clear();
      p.api->GetCapabilities(&p.caps);
    }
    // The names come with the Gateway's answer to the takeover that a
    // refresh sends, so the first refreshes may find none yet.
    p.lastRefresh = now;
    ++p.refreshes;
    const int count = p.api->RefreshPresets();
    p.presets.clear();
    for (int i = 0; i < count; ++i) {
      char name[256] = {0};
      if (p.api->GetPresetName(static_cast<std::uint32_t>(i), name, sizeof(name)) == quorvel::kPtzOk) {
        p.presets.emplace_back(name);
      }
    }
  }
  if (changed) Bump();
}

ViewModel::Channel* ViewModel::FindChannel(std::size_t device, std::uint32_t channel) const {
  if (device >= m_devices.size()) return nullptr;
  for (const auto& ch : m_devices[device]->channels) {
    if (ch->channel == channel) return ch.get();
  }
  return nullptr;
}

std::vector<std::uint32_t> ViewModel::Channels(std::size_t device) const {
  std::vector<std::uint32_t> out;
  if (device < m_devices.size()) {
    for (const auto& ch : m_devices[device]->channels) out.push_back(ch->channel);
  }
  return out;
}

std::uint64_t ViewModel::FrameCount(std::size_t device, std::uint32_t channel) const {
  const Channel* ch = FindChannel(device, channel);
  return ch != nullptr ? ch->monitor->FrameCount() : 0;
}

std::vector<unsigned char> ViewModel::LatestJpeg(std::size_t device, std::uint32_t channel) const {
  const Channel* ch = FindChannel(device, channel);
  if (ch == nullptr) return {};
  std::vector<unsigned char> bytes = ch->monitor->LastFrame();
  if (!LooksLikeJpeg(bytes)) bytes.clear();
  return bytes;
}

ActionResult ViewModel::Ptz(std::size_t device, std::uint32_t channel, const PtzRequest& request) {
  ActionResult result;
  result.httpStatus = 400;
  Channel* ch = FindChannel(device, channel);
  if (ch == nullptr) {
    result.text = "channel " + std::to_string(channel) + " of device " + std::to_string(device) +
                  " is not in this view";
    return result;
  }
  Device& d = *m_devices[device];
  if (!ch->ptz) {
    result.text = "no PTZ on channel " + std::to_string(channel) + " (camera " + ch->camera + " is fixed)";
    return result;
  }
  const std::uint32_t speed = std::min<std::uint32_t>(std::max<std::uint32_t>(request.speed, 1), 255);
  const std::string& v = request.value;
  std::string what = request.action + (v.empty() ? "" : " " + v);
  {
    std::lock_guard<std::mutex> lock(d.hostCalls);
    PtzState& p = ch->ptzState;
    if (!p.ready) {
      result.httpStatus = 409;
      result.text = "PTZ on channel " + std::to_string(channel) + " is not ready: " +
                    (p.failure.empty() ? "the driver has not reached the Gateway yet" : p.failure);
    } else {
      int code = quorvel::kPtzInvalidArgument;
      bool motion = true;
      bool known = true;
      const auto moveIt = std::find(std::begin(kMoves), std::end(kMoves), v);
      if (request.action == "move" && moveIt != std::end(kMoves)) {
        code = p.api->Move(static_cast<std::uint32_t>(moveIt - std::begin(kMoves)), speed);
      } else if (request.action == "zoom" && (v == "in" || v == "out")) {
        code = v == "in" ? p.api->ZoomIn(speed) : p.api->ZoomOut(speed);
      } else if (request.action == "focus" && (v == "near" || v == "far")) {
        code = v == "near" ? p.api->FocusNear(speed) : p.api->FocusFar(speed);
      } else if (request.action == "iris" && (v == "open" || v == "close")) {
        code = v == "open" ? p.api->IrisOpen(speed) : p.api->IrisClose(speed);
      } else if (request.action == "stop") {
        motion = false;
        code = p.api->StopMotion();
        p.moving = code != quorvel::kPtzOk;
      } else if (request.action == "preset" && !v.empty()) {
        motion = false;
        code = p.api->GoToPreset(speed, v.c_str());
        char current[256] = {0};
        if (code == quorvel::kPtzOk &&
            p.api->GetCurrentPresetName(current, sizeof(current)) == quorvel::kPtzOk) {
          p.current = current;
        }
      } else {
        known = false;
      }
      if (!known) {
        result.text = "unknown PTZ action '" + what + "'";
      } else {
        if (motion && code == quorvel::kPtzOk) p.moving = true;
        result.ok = code == quorvel::kPtzOk;
        result.httpStatus = result.ok ? 200 : 409;
        if (code == quorvel::kPtzNoSuchPreset) {
          std::string names;
          for (const std::string& n : p.presets) names += (names.empty() ? "" : ", ") + n;
          result.text = "no preset named '" + v + "' (presets: " + (names.empty() ? "none" : names) + ")";
        } else {
          result.text = PtzResultText(code);
        }
        p.last = what + ": " + result.text;
      }
    }
  }
  if (!result.ok) Say("strevon-host: " + d.gateway + " ch" + std::to_string(channel) + " " + what + ": " + result.text);
  Bump();
  return result;
}

ActionResult ViewModel::ToggleOutput(std::size_t device, std::uint32_t output) {
  ActionResult result;
  result.httpStatus = 400;
  if (device >= m_devices.size()) {
    result.text = "no device " + std::to_string(device) + " in this view";
    return result;
  }
  Device& d = *m_devices[device];
  if (output >= d.outputs.size()) {
    result.text = "output " + std::to_string(output) + " is out of range: the Gateway at " + d.gateway +
                  " has " + std::to_string(d.outputs.size()) + " output(s)";
  } else if (d.io == nullptr) {
    result.httpStatus = 409;
    result.text = "the driver gives no digital I/O for " + d.gateway;
  } else {
    {
      std::lock_guard<std::mutex> lock(d.hostCalls);
      // The Gateway toggles: the state handed over is not sent.
      d.io->SetOutput(output, 1);
      ++d.toggles[output];
    }
    result.ok = true;
    result.httpStatus = 200;
    result.text = "toggle sent to " + d.outputs[output];
    Bump();
  }
  if (!result.ok) Say("strevon-host: " + result.text);
  return result;
}

int ViewModel::StopAllMotion(const std::string& why) {
  int stops = 0;
  for (const auto& device : m_devices) {
    Device& d = *device;
    for (const auto& ch : d.channels) {
      std::lock_guard<std::mutex> lock(d.hostCalls);
      PtzState& p = ch->ptzState;
      if (!p.moving || p.api == nullptr) continue;
      const int code = p.api->StopMotion();
      p.moving = code != quorvel::kPtzOk;
      p.last = "stop (" + why + "): " + PtzResultText(code);
      ++stops;
    }
  }
  if (stops > 0) {
    Say("view: stopped " + std::to_string(stops) + " PTZ motion(s): " + why);
    Bump();
  }
  return stops;
}

void ViewModel::Close() {
  {
    std::lock_guard<std::mutex> lock(m_checkMutex);
    m_checkStop = true;
    m_checkWanted.notify_all();
  }
  if (m_checker.joinable()) m_checker.join();
  StopAllMotion("the view is closing");
  for (const auto& device : m_devices) {
    Device& d = *device;
    if (d.session == nullptr) continue;
    if (d.io != nullptr && d.ioStarted) d.io->StopIO();
    d.ioStarted = false;
    for (const auto& ch : d.channels) {
      if (ch->monitor->Stats().started) d.video->StopChannel(ch->channel);
      ch->monitor->MarkStarted(false);
    }
    d.session->Close();
  }
  Wake();
}

void ViewModel::Bump() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_version;
  }
  m_changed.notify_all();
}

void ViewModel::Wake() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_woken = true;
  }
  m_changed.notify_all();
  {
    std::lock_guard<std::mutex> lock(m_frameMutex);
    ++m_frames;
  }
  m_frameArrived.notify_all();
}

std::uint64_t ViewModel::WaitForChange(std::uint64_t seen, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait_for(lock, timeout, [&] { return m_woken || m_version != seen; });
  return m_version;
}

std::uint64_t ViewModel::WaitForFrames(std::uint64_t seen, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(m_frameMutex);
  m_frameArrived.wait_for(lock, timeout, [&] { return m_frames != seen; });
  return m_frames;
}

void ViewModel::Say(const std::string& text) {
  if (m_options.terminal == nullptr) return;
  std::fprintf(m_options.terminal, "%s\n", text.c_str());
  std::fflush(m_options.terminal);
}

std::string ViewModel::StateJson() const {
  const Clock::time_point now = Clock::now();
  const std::int64_t nowNs = NowNs();
  // Copied first: the device's host-call lock and m_mutex are never held
  // together.
  std::vector<std::vector<PtzState>> ptz(m_devices.size());
  std::vector<std::vector<std::uint64_t>> toggles(m_devices.size());
  for (std::size_t i = 0; i < m_devices.size(); ++i) {
    Device& d = *m_devices[i];
    std::lock_guard<std::mutex> lock(d.hostCalls);
    for (const auto& ch : d.channels) ptz[i].push_back(ch->ptzState);
    toggles[i] = d.toggles;
  }
  json devices = json::array();
  std::lock_guard<std::mutex> lock(m_mutex);
  for (std::size_t i = 0; i < m_devices.size(); ++i) {
    const Device& d = *m_devices[i];
    json channels = json::array();
    for (std::size_t k = 0; k < d.channels.size(); ++k) {
      const Channel& ch = *d.channels[k];
      const ChannelStats& s = ch.stats;
      const std::int64_t last = ch.lastFrameNs.load();
      std::string status = "online";
      if (!s.started) {
        status = "stopped";
      } else if (d.connection == "lost") {
        status = "reconnecting";
      } else if (s.status == 2 && d.connection == "connected") {
        status = "no signal";  // before the first frame the driver reads "no video" too
      } else if (last == 0) {
        status = "connecting";
      } else if (nowNs - last > std::chrono::nanoseconds(kStalledAfter).count()) {
        status = "stalled";
      }
      json c = {{"channel", ch.channel},
                {"camera", ch.camera},
                {"status", status},
                {"frames", s.frames},
                {"fps", s.fps},
                {"kbps", s.kbps},
                {"lost", s.lostFrames},
                {"reconnects", s.reconnects},
                {"size", s.frames > 0 ? std::to_string(s.width) + "x" + std::to_string(s.height) : ""},
                {"jpeg", s.frames == 0 || s.fourcc == 0x4745504A},
                {"latency_ms", nullptr},
                {"ptz", nullptr}};
      if (s.stamped > 0) {
        c["latency_ms"] = s.latencyLastMs;
        c["latency_avg_ms"] = s.latencyAvgMs;
      }
      if (ch.ptz) {
        const PtzState& p = ptz[i][k];
        c["ptz"] = {{"ready", p.ready},         {"failure", p.failure},   {"pan", p.caps.pan != 0},
                    {"tilt", p.caps.tilt != 0}, {"zoom", p.caps.zoom != 0}, {"focus", p.caps.focus != 0},
                    {"iris", p.caps.iris != 0}, {"presets", p.presets},   {"current", p.current},
                    {"last", p.last},           {"moving", p.moving}};
      }
      channels.push_back(c);
    }
    json inputs = json::array();
    const std::map<std::uint32_t, InputLamp> lamps = d.lamps.States();
    for (std::size_t k = 0; k < d.inputs.size(); ++k) {
      const auto it = lamps.find(d.inputs[k].first);
      const std::uint32_t state = it != lamps.end() ? it->second.state : 0;
      inputs.push_back({{"index", k},
                        {"pid", d.inputs[k].second},
                        {"state", state == 2 ? "on" : state == 1 ? "off" : "unknown"},
                        {"changes", it != lamps.end() ? it->second.changes : 0}});
    }
    json outputs = json::array();
    for (std::size_t k = 0; k < d.outputs.size(); ++k) {
      outputs.push_back({{"index", k}, {"pid", d.outputs[k]}, {"toggles", toggles[i][k]}});
    }
    const std::string problem = d.unreachable.empty() ? d.diagnosis : d.unreachable;
    json device = {{"index", i},
                   {"gateway", d.gateway},
                   {"name", d.description.deviceName},
                   {"user", d.description.userName},
                   {"connection", d.connection},
                   {"since_s", Seconds(now - d.since)},
                   {"back_s", d.backAt == Clock::time_point{} ? json(nullptr) : json(Seconds(now - d.backAt))},
                   {"problem", problem},
                   {"io", d.io != nullptr && d.ioStarted},
                   {"channels", channels},
                   {"inputs", inputs},
                   {"outputs", outputs}};
    devices.push_back(device);
  }
  // Names and texts come from the Gateway: bytes that are not UTF-8 are
  // replaced rather than failing the whole state.
  return json({{"version", m_version}, {"uptime_s", Seconds(now - m_created)}, {"devices", devices}})
      .dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace hosttool
}  // namespace strevon
