#include "soak_run.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "frame_stamp.h"
#include "process_stats.h"

namespace strevon {
namespace soak {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The dome is the simulator's second camera, so channel 1.
constexpr std::uint32_t kDomeChannel = 1;
constexpr std::uint32_t kPtzSpeed = 16;
constexpr std::uint32_t kMoveLeft = 0;
// How long a PTZ or I/O step may take to show at the other side.
constexpr auto kActionBound = 5s;
constexpr auto kActionEvery = 2s;
// No step starts this close to the next reset, so that none is cut off.
constexpr auto kQuietBeforeReset = 7s;
constexpr auto kTick = 100ms;
// Close and the delete export each stop threads that wait up to 5 s.
constexpr auto kShutdownBound = 10s;
constexpr auto kFirstFramesBound = 30s;
constexpr auto kConnectBound = 15s;
constexpr std::uint32_t kInputOn = 2;
constexpr std::uint32_t kInputOff = 1;

double Secs(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

sim::Scenario SoakScenario(int channels) {
  sim::Scenario s = sim::DefaultScenario();
  sim::SimProfile& profile = s.profiles.at(0);
  for (int i = static_cast<int>(profile.cameras.size()); i < channels; ++i) {
    sim::SimCamera camera;
    camera.pid = "cam-" + std::to_string(i + 1);
    camera.name = "Camera " + std::to_string(i + 1);
    profile.cameras.push_back(camera);
  }
  profile.cameras.resize(static_cast<std::size_t>(channels));
  s.realtime_streams = channels;
  s.input_toggle_ms = 0;
  // Synthetic bodies: the simulator's CPU goes to sending, not to encoding.
  s.video.render_jpeg = false;
  s.video.jpeg_size = 16384;
  s.video.fps = 10;
  return s;
}

// Warnings and errors reach the sink; the run counts them.
constexpr char kSettings[] =
    "<Configuration><Common><Profile>service</Profile><Resilient>yes</Resilient>"
    "<LogLevel>2</LogLevel></Common></Configuration>";

}  // namespace

SoakRun::TempHome::~TempHome() {
  if (m_path.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

bool SoakRun::TempHome::Create(std::string* error) {
  char pattern[] = "/tmp/strevon-soak-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    *error = "cannot create a home directory in /tmp";
    return false;
  }
  m_path = pattern;
  return true;
}

SoakRun::SoakRun(const SoakOptions& options)
    : m_options(options),
      m_duration(static_cast<long long>(options.minutes * 60000.0)),
      // Long enough for a reset or two, so that pools and buffers have grown
      // to their working size before the baseline sample.
      m_warmup(std::min<std::chrono::milliseconds>(60s, m_duration / 4)),
      m_finalWatch(std::min<std::chrono::milliseconds>(15s, m_duration / 4)) {}

SoakRun::~SoakRun() {
  if (m_driver != nullptr) m_library.Exports().DeleteIPCaptureEx3(m_driver);
  m_driver = nullptr;
}

bool SoakRun::SetUp(std::string* error) {
  if (!m_home.Create(error)) return false;
  // Before the library and its threads exist: the driver reads its home
  // directory from the environment.
  if (setenv("STREVON_HOME", m_home.Path().c_str(), 1) != 0) {
    *error = "cannot set STREVON_HOME";
    return false;
  }
  std::ofstream(m_home.Path() + "/Strevon.xml") << kSettings;
  if (!m_library.Load(m_options.library)) {
    *error = m_library.Error();
    return false;
  }
  m_scenario = SoakScenario(m_options.channels);
  m_simulator = std::make_unique<sim::GatewaySimulator>(m_scenario);
  if (!m_simulator->Start(0, error)) return false;

  const sim::SimProfile& profile = m_scenario.profiles.at(0);
  host::DeviceConfig device;
  device.channelCount = static_cast<std::uint32_t>(profile.cameras.size());
  device.inputCount = static_cast<std::uint32_t>(profile.inputs.size());
  device.outputCount = static_cast<std::uint32_t>(profile.outputs.size());
  device.port = m_simulator->Port();
  device.userName = "admin";
  device.password = "admin";
  device.customParameters = sim::CustomParametersFor(m_scenario);
  m_setup = std::make_unique<host::DeviceSetup>(device);
  m_inputs = std::make_unique<InputProbe>(device.inputCount);
  m_inputOn.assign(profile.inputs.size(), false);
  m_result.channels.resize(device.channelCount);
  for (std::uint32_t c = 0; c < device.channelCount; ++c) {
    m_probes.push_back(std::make_unique<ChannelProbe>(c));
    m_result.channels[c].channel = c;
  }

  ProcessStats stats;
  ReadProcessStats(&stats);
  m_result.threads_before_open = stats.threads;
  m_driver = m_library.Exports().CreateIPCaptureEx3();
  if (m_driver == nullptr) {
    *error = "CreateIPCaptureEx3 returned null";
    return false;
  }
  if (!m_driver->Open(&m_sink, &m_allocator, m_setup.get())) {
    *error = "Open failed";
    return false;
  }
  if (!m_simulator->WaitForRequest("user/profile", nullptr, kConnectBound)) {
    *error = "the driver did not log on within 15 s";
    return false;
  }
  m_capture = m_driver->GetVideoCaptureEx();
  m_io = m_driver->GetCaptureIO();
  if (m_capture == nullptr || m_io == nullptr) {
    *error = "no video capture or I/O object";
    return false;
  }
  if (m_options.channels > static_cast<int>(kDomeChannel)) {
    quorvel::IIPPTZDriverEx* ptz = m_driver->GetPTZDriverEx();
    m_dome = ptz != nullptr ? ptz->GetPTZApiEx(kDomeChannel) : nullptr;
    if (m_dome != nullptr && m_dome->Initialize() != 1) m_dome = nullptr;
  }
  if (!m_io->SetIOCallback(m_inputs.get()) || !m_io->StartIO()) {
    *error = "StartIO failed";
    return false;
  }
  for (auto& probe : m_probes) {
    if (!m_capture->StartChannel(probe->Channel(), probe.get(), &m_channelSetup)) {
      *error = "StartChannel " + std::to_string(probe->Channel()) + " failed";
      return false;
    }
  }
  return true;
}

bool SoakRun::Run(SoakResult* result, std::string* error) {
  m_result.options = m_options;
  m_result.warmup_s = Secs(m_warmup);
  if (!SetUp(error)) return false;
  m_start = Clock::now();
  m_end = m_start + m_duration;
  m_stopAt = m_end - m_finalWatch;
  m_nextSample = m_start;
  m_nextReset = m_start + std::chrono::seconds(m_options.reset_every_s);
  m_nextAction = m_start + kActionEvery;
  for (const char* name : {"PTZ move left", "PTZ stop", "PTZ zoom in", "PTZ stop zoom",
                           "PTZ preset Gate", "output toggle", "input change"}) {
    Tally(name);
  }
  std::printf("soak: %d channels, %.1f min, reset every %d s, simulator on 127.0.0.1:%u\n",
              m_options.channels, m_options.minutes, m_options.reset_every_s,
              static_cast<unsigned>(m_simulator->Port()));
  std::fflush(stdout);
  Loop();
  ShutDown();
  Conclude();
  *result = m_result;
  return true;
}

void SoakRun::Loop() {
  bool allStarted = false;
  while (true) {
    const Clock::time_point now = Clock::now();
    if (now >= m_nextSample) {
      TakeSample();
      m_nextSample += std::chrono::seconds(m_options.sample_every_s);
    }
    if (now >= m_end) break;
    if (!allStarted) {
      allStarted = std::all_of(m_probes.begin(), m_probes.end(),
                               [](const std::unique_ptr<ChannelProbe>& p) { return p->Frames() > 0; });
      if (allStarted) m_result.first_frames_s = SinceStart(now);
    }
    CheckPending(now, false);
    if (m_phase == Phase::kRecovering) {
      FollowReset(now);
    } else if (now >= m_nextReset) {
      // A reset needs its whole resume bound, and a little more, before
      // the channels are stopped.
      if (now + std::chrono::seconds(m_options.resume_bound_s + 5) <= m_stopAt && allStarted) {
        StartReset();
      }
      m_nextReset += std::chrono::seconds(m_options.reset_every_s);
    } else if (now >= m_nextAction && now + kQuietBeforeReset <= m_nextReset && allStarted &&
               !m_channelsStopped) {
      DoNextAction(now);
      m_nextAction = now + kActionEvery;
    }
    if (!m_channelsStopped && now >= m_stopAt && m_phase == Phase::kStable) StopSomeChannels();
    std::this_thread::sleep_for(kTick);
  }
  CheckPending(Clock::now(), true);
  TakeSample();
}

void SoakRun::TakeSample() {
  Sample s;
  s.t_s = SinceStart(Clock::now());
  ProcessStats stats;
  ReadProcessStats(&stats);
  s.rss_kib = stats.rss_kib;
  s.threads = stats.threads;
  for (const auto& p : m_probes) s.frames += p->Frames();
  if (!m_warm && s.t_s >= Secs(m_warmup)) {
    m_warm = true;
    m_result.warm_index = m_result.samples.size();
  }
  m_result.samples.push_back(s);
  // A progress line every 30 s or so.
  const std::size_t every = std::max<std::size_t>(1, 30 / static_cast<std::size_t>(m_options.sample_every_s));
  if ((m_result.samples.size() - 1) % every == 0) {
    std::printf("[%6.0f s] frames %10llu  rss %8.1f MiB  threads %3d  resets %zu\n", s.t_s,
                static_cast<unsigned long long>(s.frames), s.rss_kib / 1024.0, s.threads,
                m_result.resets.size());
    std::fflush(stdout);
  }
}

void SoakRun::StartReset() {
  // Steps still awaited end here; none should be, given the quiet time.
  CheckPending(Clock::now(), true);
  m_simulator->ClearRequests();
  m_reset = ResetRecord();
  m_resetAt = Clock::now();
  m_reset.at_s = SinceStart(m_resetAt);
  m_resetNs = sim::MonotonicNs();
  m_acceptedBefore = m_simulator->ConnectionsAccepted();
  m_acceptSeen = false;
  m_reset.delivered = m_simulator->ResetConnections();
  m_phase = Phase::kRecovering;
}

void SoakRun::FollowReset(Clock::time_point now) {
  if (!m_acceptSeen && m_simulator->ConnectionsAccepted() > m_acceptedBefore) {
    m_acceptSeen = true;
    // Every frame the Gateway sends from here on comes over the new
    // connection; frames of the old one that were still under way do not
    // count as a resumed stream.
    const std::uint64_t acceptNs = sim::MonotonicNs();
    m_reset.reconnect_s = static_cast<double>(acceptNs - m_resetNs) / 1e9;
    for (auto& p : m_probes) {
      if (!p->Stopped()) p->ArmResume(acceptNs);
    }
  }
  bool all = m_acceptSeen;
  for (const auto& p : m_probes) {
    if (!p->Stopped() && p->ResumedAtNs() == 0) all = false;
  }
  const bool timedOut = now - m_resetAt > std::chrono::seconds(m_options.resume_bound_s);
  if (!all && !timedOut) return;
  for (const auto& p : m_probes) {
    if (p->Stopped()) continue;
    ++m_reset.running;
    ChannelSummary& c = m_result.channels[p->Channel()];
    ++c.resets;
    const std::uint64_t at = m_acceptSeen ? p->ResumedAtNs() : 0;
    if (at == 0) {
      m_reset.late.push_back(p->Channel());
      continue;
    }
    const double resume = static_cast<double>(at - m_resetNs) / 1e9;
    ++c.resumes;
    c.worst_resume_s = std::max(c.worst_resume_s, resume);
    m_reset.worst_resume_s = std::max(m_reset.worst_resume_s, resume);
  }
  m_result.resets.push_back(m_reset);
  m_phase = Phase::kStable;
  m_nextAction = now + 1s;
}

void SoakRun::DoNextAction(Clock::time_point now) {
  enum Step { kMove, kStop, kZoom, kStopZoom, kPreset, kOutput, kInput, kSteps };
  const Step step = static_cast<Step>(m_actionIndex++ % kSteps);
  auto ptz = [&](std::size_t tally, const std::function<int()>& call) {
    ActionTally& t = m_result.actions[tally];
    ++t.sent;
    if (m_dome == nullptr) {
      ++t.refused;
      return;
    }
    const std::size_t before = PtzRequests();
    if (call() != 1) {
      ++t.refused;
      return;
    }
    m_pending.push_back({tally, now, [this, before] { return PtzRequests() > before; }});
  };
  switch (step) {
    case kMove:
      ptz(Tally("PTZ move left"), [&] { return m_dome->Move(kMoveLeft, kPtzSpeed); });
      break;
    case kStop:
      ptz(Tally("PTZ stop"), [&] { return m_dome->StopMotion(); });
      break;
    case kZoom:
      ptz(Tally("PTZ zoom in"), [&] { return m_dome->ZoomIn(kPtzSpeed); });
      break;
    case kStopZoom:
      ptz(Tally("PTZ stop zoom"), [&] { return m_dome->StopMotion(); });
      break;
    case kPreset:
      // As a host does: the preset list first (it comes with the dome's
      // properties after each takeover), then the recall by name.
      ptz(Tally("PTZ preset Gate"), [&] {
        m_dome->RefreshPresets();
        return m_dome->GoToPreset(kPtzSpeed, "Gate");
      });
      break;
    case kOutput: {
      const auto& outputs = m_scenario.profiles.at(0).outputs;
      if (outputs.empty()) break;
      const std::uint32_t index = static_cast<std::uint32_t>((m_actionIndex / kSteps) % outputs.size());
      const std::string pid = outputs[index].pid;
      const bool expected = !m_simulator->IoState(pid);
      const std::size_t tally = Tally("output toggle");
      ++m_result.actions[tally].sent;
      m_io->SetOutput(index, 1);
      m_pending.push_back(
          {tally, now, [this, pid, expected] { return m_simulator->IoState(pid) == expected; }});
      break;
    }
    case kInput: {
      const auto& inputs = m_scenario.profiles.at(0).inputs;
      if (inputs.empty()) break;
      const std::uint32_t index = static_cast<std::uint32_t>((m_actionIndex / kSteps) % inputs.size());
      const bool on = !m_inputOn[index];
      m_inputOn[index] = on;
      const std::size_t tally = Tally("input change");
      ++m_result.actions[tally].sent;
      m_simulator->SetInput(inputs[index].pid, on);
      const std::uint32_t state = on ? kInputOn : kInputOff;
      m_pending.push_back(
          {tally, now, [this, index, state] { return m_inputs->LatestState(index) == state; }});
      break;
    }
    case kSteps:
      break;
  }
}

void SoakRun::CheckPending(Clock::time_point now, bool final_pass) {
  auto it = m_pending.begin();
  while (it != m_pending.end()) {
    ActionTally& t = m_result.actions[it->tally];
    if (it->seen()) {
      ++t.seen;
      t.worst_s = std::max(t.worst_s, Secs(now - it->sent));
    } else if (final_pass || now - it->sent > kActionBound) {
      ++t.missed;
    } else {
      ++it;
      continue;
    }
    it = m_pending.erase(it);
  }
}

void SoakRun::StopSomeChannels() {
  m_channelsStopped = true;
  m_stoppedAt = Clock::now();
  for (const auto& p : m_probes) m_framesAtStop.push_back(p->Frames());
  const int count = m_options.stop_channels;
  for (int k = 0; k < count; ++k) {
    ChannelProbe& p = *m_probes[m_probes.size() - 1 - static_cast<std::size_t>(k)];
    m_capture->StopChannel(p.Channel());
    // From here on the driver must not deliver to this channel.
    p.MarkStopped();
  }
  std::printf("[%6.0f s] stopped %d channel(s), watching for %.0f s\n", SinceStart(m_stoppedAt),
              count, Secs(m_end - m_stoppedAt));
  std::fflush(stdout);
}

void SoakRun::ShutDown() {
  m_result.elapsed_s = SinceStart(Clock::now());
  m_result.stop_watch_s = m_channelsStopped ? Secs(Clock::now() - m_stoppedAt) : 0;
  auto t0 = Clock::now();
  m_driver->Close();
  m_result.close_s = Secs(Clock::now() - t0);
  t0 = Clock::now();
  m_library.Exports().DeleteIPCaptureEx3(m_driver);
  m_driver = nullptr;
  m_result.delete_s = Secs(Clock::now() - t0);
  // The simulator's connection threads end once the driver's sockets are
  // closed: poll for the count to come back.
  const Clock::time_point until = Clock::now() + kShutdownBound;
  ProcessStats stats;
  while (ReadProcessStats(&stats) && stats.threads > m_result.threads_before_open &&
         Clock::now() < until) {
    std::this_thread::sleep_for(kTick);
  }
  m_result.threads_after_delete = stats.threads;
  m_result.frames_outstanding = m_allocator.Outstanding();
  m_result.frame_violations = m_allocator.Violations();
  m_result.log_errors = m_sink.Count(1);
  m_result.log_warnings = m_sink.Count(2);
  m_result.first_errors = m_sink.FirstErrors();
}

void SoakRun::Conclude() {
  SoakResult& r = m_result;
  const std::size_t n = m_probes.size();
  if (r.channels.size() < n) r.channels.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const ChannelProbe& p = *m_probes[i];
    ChannelSummary& c = r.channels[i];
    c.channel = p.Channel();
    c.frames = p.Frames();
    c.bad = p.BadFrames();
    c.after_stop = p.FramesAfterStop();
    c.signal_lost = p.SignalLost();
    c.stopped = p.Stopped();
    c.frames_in_final_watch = m_channelsStopped ? c.frames - m_framesAtStop[i] : 0;
  }
  auto add = [&](const std::string& name, bool ok, const std::string& detail) {
    r.checks.push_back({name, ok, detail});
  };
  char buf[256];

  std::snprintf(buf, sizeof buf, "every channel's first frame after %.1f s (bound %.0f s)",
                r.first_frames_s, Secs(kFirstFramesBound));
  add("streams start", r.first_frames_s >= 0 && r.first_frames_s <= Secs(kFirstFramesBound),
      r.first_frames_s >= 0 ? buf : "some channel never delivered a frame");

  std::size_t lateResets = 0;
  std::size_t undelivered = 0;
  double worst = 0;
  for (const ResetRecord& rr : r.resets) {
    if (!rr.late.empty()) ++lateResets;
    if (rr.delivered == 0) ++undelivered;
    worst = std::max(worst, rr.worst_resume_s);
  }
  std::snprintf(buf, sizeof buf, "%zu resets, %zu with a late channel, worst resume %.1f s (bound %d s)",
                r.resets.size(), lateResets, worst, r.options.resume_bound_s);
  add("streams resume after every reset", !r.resets.empty() && lateResets == 0 && undelivered == 0,
      buf);

  std::uint64_t afterStop = 0;
  std::uint64_t bad = 0;
  int stopped = 0;
  bool othersFlow = true;
  for (const ChannelSummary& c : r.channels) {
    afterStop += c.after_stop;
    bad += c.bad;
    if (c.stopped) ++stopped;
    else if (m_channelsStopped && c.frames_in_final_watch == 0) othersFlow = false;
  }
  std::snprintf(buf, sizeof buf, "%d channel(s) stopped and watched %.0f s: %llu frame(s) after stop",
                stopped, r.stop_watch_s, static_cast<unsigned long long>(afterStop));
  add("no frame after stop", m_channelsStopped && afterStop == 0, buf);
  add("other channels go on after the stops", m_channelsStopped && othersFlow,
      othersFlow ? "every running channel delivered during the watch"
                 : "a running channel fell silent after the others were stopped");
  std::snprintf(buf, sizeof buf, "%llu frame(s) not the simulator's frame",
                static_cast<unsigned long long>(bad));
  add("frames whole", bad == 0, buf);

  for (const ActionTally& t : r.actions) {
    // A device of one channel has no dome.
    if (t.name.rfind("PTZ", 0) == 0 && m_options.channels <= static_cast<int>(kDomeChannel)) continue;
    std::snprintf(buf, sizeof buf, "%llu sent, %llu seen, %llu missed, %llu refused, worst %.2f s",
                  static_cast<unsigned long long>(t.sent), static_cast<unsigned long long>(t.seen),
                  static_cast<unsigned long long>(t.missed),
                  static_cast<unsigned long long>(t.refused), t.worst_s);
    add(t.name, t.sent > 0 && t.missed == 0 && t.refused == 0, buf);
  }

  if (r.samples.size() > r.warm_index + 1) {
    const Sample& a = r.samples[r.warm_index];
    const Sample& b = r.samples.back();
    const double growthMib = (static_cast<double>(b.rss_kib) - static_cast<double>(a.rss_kib)) / 1024.0;
    std::snprintf(buf, sizeof buf, "%.1f -> %.1f MiB from %.0f s to %.0f s: %+.2f MiB (limit %.1f)",
                  a.rss_kib / 1024.0, b.rss_kib / 1024.0, a.t_s, b.t_s, growthMib,
                  r.options.rss_limit_mib);
    add("RSS flat", growthMib <= r.options.rss_limit_mib, buf);
    std::snprintf(buf, sizeof buf, "%d -> %d from %.0f s to %.0f s", a.threads, b.threads, a.t_s, b.t_s);
    add("threads flat", b.threads <= a.threads, buf);
  } else {
    add("RSS flat", false, "too few samples after warm-up");
    add("threads flat", false, "too few samples after warm-up");
  }

  std::snprintf(buf, sizeof buf, "%llu outstanding, %llu double or foreign release(s)",
                static_cast<unsigned long long>(r.frames_outstanding),
                static_cast<unsigned long long>(r.frame_violations));
  add("every frame released once", r.frames_outstanding == 0 && r.frame_violations == 0, buf);
  std::snprintf(buf, sizeof buf, "Close %.2f s, delete %.2f s, threads %d after (%d before Open)",
                r.close_s, r.delete_s, r.threads_after_delete, r.threads_before_open);
  add("clean shutdown",
      r.close_s <= Secs(kShutdownBound) && r.delete_s <= Secs(kShutdownBound) &&
          r.threads_after_delete <= r.threads_before_open,
      buf);
}

std::size_t SoakRun::Tally(const std::string& name) {
  for (std::size_t i = 0; i < m_result.actions.size(); ++i) {
    if (m_result.actions[i].name == name) return i;
  }
  m_result.actions.push_back(ActionTally{name, 0, 0, 0, 0, 0});
  return m_result.actions.size() - 1;
}

std::size_t SoakRun::PtzRequests() const {
  std::size_t n = 0;
  for (const sim::RequestRecord& r : m_simulator->Requests()) {
    if (r.command.rfind("camera/ptz/", 0) == 0 && r.command != "camera/ptz/takeover") ++n;
  }
  return n;
}

double SoakRun::SinceStart(Clock::time_point t) const { return Secs(t - m_start); }

}  // namespace soak
}  // namespace strevon
