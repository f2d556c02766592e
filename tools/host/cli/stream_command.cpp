#include "stream_command.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "driver_session.h"
#include "frame_saver.h"
#include "interrupt_watcher.h"
#include "mosaic.h"
#include "progress_view.h"
#include "text_table.h"

namespace strevon {
namespace hosttool {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::milliseconds(100);

// One device with its open driver and the monitors of its channels.
// The session is declared last so that it goes first: deleting the driver
// stops its channels before their frame handlers are destroyed.
struct DeviceRun {
  std::vector<std::unique_ptr<ChannelMonitor>> monitors;
  quorvel::ipcapture::IIPVideoCaptureEx* video = nullptr;
  bool diagnosed = false;
  std::unique_ptr<DriverSession> session;
};

std::uint64_t DeviceFrames(const DeviceRun& run) {
  std::uint64_t frames = 0;
  for (const auto& m : run.monitors) frames += m->FrameCount();
  return frames;
}

std::string FourccText(std::uint32_t fourcc) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
    text += (c >= 32 && c < 127) ? c : '?';
  }
  return text;
}

}  // namespace

bool ParseChannelList(const std::string& text, std::uint32_t channelCount,
                      std::vector<std::uint32_t>* channels, std::string* error) {
  channels->clear();
  if (text == "all") {
    for (std::uint32_t i = 0; i < channelCount; ++i) channels->push_back(i);
    return true;
  }
  std::stringstream stream(text);
  std::string item;
  while (std::getline(stream, item, ',')) {
    bool digits = !item.empty() && item.size() < 10;
    for (char c : item) digits = digits && c >= '0' && c <= '9';
    if (!digits) {
      *error = "'" + text + "' is not a channel list (write all, or numbers like 0,2)";
      return false;
    }
    const std::uint32_t channel = static_cast<std::uint32_t>(std::stoul(item));
    if (channel >= channelCount) {
      *error = "channel " + item + " is out of range: the device has " + std::to_string(channelCount) +
               " channels" + (channelCount > 0 ? " (0 to " + std::to_string(channelCount - 1) + ")" : "");
      return false;
    }
    bool seen = false;
    for (std::uint32_t c : *channels) seen = seen || c == channel;
    if (!seen) channels->push_back(channel);
  }
  if (channels->empty()) {
    *error = "no channels chosen";
    return false;
  }
  return true;
}

StreamCommand::StreamCommand(CLI::App& app, const CommonOptions& common) : m_common(common) {
  m_command = app.add_subcommand("stream", "Stream live video from every chosen channel");
  AddDeviceOptions(m_command, &m_device, true);
  m_command->add_option("--channels", m_channels, "all, or a list like 0,2")->capture_default_str();
  m_command->add_option("--seconds", m_seconds, "how long to stream (0: until Ctrl-C)")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 86400.0));
  m_command->add_option("--out", m_outDir, "directory for frames, mosaic and summary")
      ->capture_default_str();
  m_command->add_option("--every", m_every, "also save every Nth frame of each channel (0: none)")
      ->capture_default_str();
  m_command->add_option("--connect-timeout", m_connectTimeout,
                        "seconds to wait for the first frame of a device before giving up")
      ->capture_default_str()
      ->check(CLI::Range(1.0, 600.0));
  m_command->add_option("--mosaic-width", m_mosaicWidth, "width of one mosaic tile in pixels")
      ->capture_default_str()
      ->check(CLI::Range(16, 4096));
  m_command->add_flag("--plain", m_plain, "print progress as new tables instead of redrawing");
}

int StreamCommand::Run() {
  std::string error;
  host::DriverLibrary library;
  std::vector<DeviceDescription> devices;
  if (!LoadDriverAndDevices(m_common.libraryPath, m_device, &library, &devices, &error)) {
    return Fail(error);
  }

  FrameSaver saver(m_outDir);
  if (!saver.Prepare(&error)) return Fail(error);

  // Before any driver thread exists, so that none of them takes Ctrl-C.
  InterruptWatcher interrupt;
  const bool many = devices.size() > 1;
  std::vector<DeviceRun> runs(devices.size());
  for (std::size_t d = 0; d < devices.size(); ++d) {
    DeviceRun& run = runs[d];
    std::vector<std::uint32_t> channels;
    if (!ParseChannelList(m_channels, devices[d].ChannelCount(), &channels, &error)) {
      return Fail(devices[d].endpoint.ToString() + ": " + error, 2);
    }
    run.session = std::make_unique<DriverSession>(library, devices[d]);
    if (m_common.verbose) run.session->Sink().SetEcho(stderr);
    if (!run.session->Open(&error)) return Fail(error);
    run.video = run.session->Video(&error);
    if (run.video == nullptr) return Fail(error);
    const std::vector<ChannelEntry> entries = devices[d].Channels();
    for (std::uint32_t channel : channels) {
      const std::string label =
          (many ? "d" + std::to_string(d) + "-" : std::string()) + "ch" + std::to_string(channel);
      const std::string pid = channel < entries.size() ? entries[channel].pid : "?";
      std::uint16_t width = 640;
      std::uint16_t height = 480;
      if (!devices[d].resolutions.empty()) {
        width = static_cast<std::uint16_t>(devices[d].resolutions.front().width);
        height = static_cast<std::uint16_t>(devices[d].resolutions.front().height);
      }
      run.monitors.push_back(
          std::make_unique<ChannelMonitor>(label, pid, channel, &saver, m_every, width, height));
      ChannelMonitor& monitor = *run.monitors.back();
      const bool started = run.video->StartChannel(channel, monitor.Handler(), monitor.Setup());
      monitor.MarkStarted(started);
      if (!started) {
        std::fprintf(stderr, "strevon-host: warning: StartChannel(%u) on %s returned false\n", channel,
                     devices[d].endpoint.ToString().c_str());
      }
    }
    std::printf("Opened %s (%s): %zu channel(s) started, JPEG frames to %s/\n",
                devices[d].endpoint.ToString().c_str(), devices[d].deviceName.c_str(),
                run.monitors.size(), m_outDir.c_str());
  }
  std::fflush(stdout);

  const bool live = !m_plain && ::isatty(STDOUT_FILENO) != 0;
  ProgressView view(stdout, live, live ? std::chrono::milliseconds(500) : std::chrono::milliseconds(3000));
  const Clock::time_point begin = Clock::now();
  const auto limit = std::chrono::duration<double>(m_seconds);
  const auto connectLimit = std::chrono::duration<double>(m_connectTimeout);
  std::string failure;
  auto collect = [&] {
    std::vector<ChannelStats> stats;
    for (const DeviceRun& run : runs) {
      for (const auto& m : run.monitors) stats.push_back(m->Stats());
    }
    return stats;
  };
  for (;;) {
    const bool interrupted = interrupt.WaitFor(kTick);
    const Clock::time_point now = Clock::now();
    const auto elapsed = std::chrono::duration<double>(now - begin);
    for (DeviceRun& run : runs) {
      for (auto& m : run.monitors) m->Poll(run.video, now);
    }
    if (!saver.Flush(&error)) {
      failure = error;
      break;
    }
    view.Show(now, elapsed.count(), m_seconds, collect());
    if (interrupted) {
      std::printf("Interrupted; stopping.\n");
      break;
    }
    if (m_seconds > 0 && elapsed >= limit) break;
    bool silent = false;
    for (DeviceRun& run : runs) {
      if (elapsed < connectLimit || run.diagnosed || DeviceFrames(run) > 0) continue;
      run.diagnosed = true;
      silent = true;
      failure = "no frame from " + run.session->Device().endpoint.ToString() + " within " +
                FormatDouble(m_connectTimeout, 0) + " s: " + run.session->Diagnose();
    }
    if (silent) break;
  }
  const double duration = std::chrono::duration<double>(Clock::now() - begin).count();

  // Stop every channel before anything else goes: from here on no frame
  // handler is called.
  for (DeviceRun& run : runs) {
    for (auto& m : run.monitors) {
      if (m->Stats().started) run.video->StopChannel(m->Channel());
      m->MarkStarted(false);
    }
  }
  if (!saver.Flush(&error) && failure.empty()) failure = error;
  const std::vector<ChannelStats> stats = collect();
  view.Show(Clock::now(), duration, m_seconds, stats, true);

  // Latest frames and the mosaic.
  nlohmann::json files = nlohmann::json::object();
  std::vector<std::vector<unsigned char>> tiles;
  JpegCodec codec;
  std::vector<std::string> missing;
  for (const DeviceRun& run : runs) {
    for (const auto& m : run.monitors) {
      std::vector<unsigned char> bytes = m->LastFrame();
      if (bytes.empty()) {
        missing.push_back(m->Label());
        tiles.emplace_back();
        continue;
      }
      const bool jpeg = LooksLikeJpeg(bytes);
      const std::string name = m->Label() + (jpeg ? ".jpg" : ".bin");
      if (!saver.Write(name, bytes, &error) && failure.empty()) failure = error;
      files[m->Label()] = saver.PathOf(name);
      tiles.push_back(jpeg ? std::move(bytes) : std::vector<unsigned char>());
    }
  }
  std::string mosaicPath;
  std::vector<unsigned char> mosaic;
  if (Mosaic(m_mosaicWidth).Build(tiles, &mosaic, &error)) {
    if (saver.Write("mosaic.jpg", mosaic, &error)) mosaicPath = saver.PathOf("mosaic.jpg");
  } else {
    std::fprintf(stderr, "strevon-host: warning: no mosaic: %s\n", error.c_str());
  }

  // Summary.
  std::printf("\nSummary (%.1f s)\n", duration);
  TextTable table({"channel", "camera", "frames", "first frame", "fps", "avg kbit/s", "size", "fourcc",
                   "reconnects", "lost", "latency avg/max ms"},
                  {false, false, true, true, true, true, false, false, true, true, true});
  nlohmann::json channels = nlohmann::json::array();
  for (const ChannelStats& s : stats) {
    const double fps = duration > 0 ? static_cast<double>(s.frames) / duration : 0;
    const double kbps = duration > 0 ? static_cast<double>(s.bytes) * 8 / 1000 / duration : 0;
    const std::string latency = s.stamped > 0 ? FormatDouble(s.latencyAvgMs, 2) + " / " +
                                                    FormatDouble(s.latencyMaxMs, 2)
                                              : "-";
    const std::string first = s.firstFrameAfterS >= 0 ? FormatDouble(s.firstFrameAfterS, 1) + " s" : "-";
    table.AddRow({s.label, s.pid, std::to_string(s.frames), first, FormatDouble(s.streamingFps, 1),
                  FormatDouble(kbps, 0),
                  s.frames > 0 ? std::to_string(s.width) + "x" + std::to_string(s.height) : "-",
                  s.frames > 0 ? FourccText(s.fourcc) : "-", std::to_string(s.reconnects),
                  std::to_string(s.lostFrames), latency});
    nlohmann::json c = {{"label", s.label},          {"channel", s.channel},
                        {"camera", s.pid},           {"frames", s.frames},
                        {"bytes", s.bytes},          {"avg_fps", fps},  {"streaming_fps", s.streamingFps},
                        {"first_frame_after_s", s.firstFrameAfterS},
                        {"avg_kbps", kbps},          {"width", s.width},
                        {"height", s.height},        {"fourcc", FourccText(s.fourcc)},
                        {"last_frame_bytes", s.lastSize},
                        {"reconnects", s.reconnects}, {"lost_frames", s.lostFrames},
                        {"signal_lost", s.signalLost}, {"stamped_frames", s.stamped},
                        {"latency_avg_ms", s.latencyAvgMs}, {"latency_max_ms", s.latencyMaxMs}};
    if (files.contains(s.label)) c["latest_frame"] = files[s.label];
    channels.push_back(c);
  }
  std::fputs(table.Render().c_str(), stdout);

  nlohmann::json devicesJson = nlohmann::json::array();
  for (const DeviceRun& run : runs) {
    const host::FrameAllocator& a = run.session->Allocator();
    devicesJson.push_back({{"gateway", run.session->Device().endpoint.ToString()},
                           {"device_name", run.session->Device().deviceName},
                           {"frames_allocated", a.Allocated()},
                           {"frames_released", a.Released()},
                           {"release_violations", a.Violations()}});
  }
  nlohmann::json summary = {{"duration_s", duration},
                            {"interrupted", interrupt.Requested()},
                            {"out_dir", m_outDir},
                            {"every", m_every},
                            {"numbered_frames_written", saver.Written()},
                            {"numbered_frames_dropped", saver.Dropped()},
                            {"mosaic", mosaicPath},
                            {"devices", devicesJson},
                            {"channels", channels},
                            {"channels_without_frames", missing},
                            {"ok", failure.empty() && missing.empty()}};
  if (!failure.empty()) summary["error"] = failure;
  const std::string summaryText = summary.dump(2) + "\n";
  if (!saver.Write("summary.json", std::vector<unsigned char>(summaryText.begin(), summaryText.end()),
                   &error) &&
      failure.empty()) {
    failure = error;
  }
  std::printf("Frames: %s/<channel>.jpg   Mosaic: %s   Summary: %s\n", m_outDir.c_str(),
              mosaicPath.empty() ? "(none)" : mosaicPath.c_str(), saver.PathOf("summary.json").c_str());

  for (DeviceRun& run : runs) run.session->Close();
  if (!failure.empty()) return Fail(failure);
  if (!missing.empty()) {
    std::string list;
    for (const std::string& m : missing) list += (list.empty() ? "" : ", ") + m;
    return Fail("no frames on " + list);
  }
  return 0;
}

}  // namespace hosttool
}  // namespace strevon
