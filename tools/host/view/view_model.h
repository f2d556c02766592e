// ViewModel: the drivers behind `strevon-host view` and everything the page
// shows and does with them. Per device it owns the open driver (a
// DriverSession, as `stream` opens it), one ChannelMonitor per started
// channel, the I/O callback and the PTZ controls; it keeps the connection
// state that the banner shows (the host gets no word from the driver about
// its Gateway connection, so a device counts as lost when none of its
// channels has delivered a frame for a few seconds), and checks why a device
// is silent on a thread of its own (a TCP probe, then a capability query
// with the same user, which gives the driver's own log-on text).
//
// Threads: Open, Poll and Close run on the main thread. The web server's
// threads call StateJson, WaitForChange, the frame accessors and the
// actions (Ptz, ToggleOutput, StopAllMotion); host calls into one driver
// are serialised by that device's m_hostCalls. Frames arrive on the
// driver's receiver threads and only bump counters here.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "channel_monitor.h"
#include "driver_session.h"
#include "input_lamps.h"
#include "log_ring.h"

namespace strevon {
namespace hosttool {

// What the page asks a PTZ channel to do.
struct PtzRequest {
  std::string action;  // move, zoom, focus, iris, stop, preset
  std::string value;   // left ... downright, in/out, near/far, open/close, preset name
  std::uint32_t speed = 8;
};

// The outcome of an action the page asked for.
struct ActionResult {
  bool ok = false;
  int httpStatus = 200;  // 400 for a request that names nothing real
  std::string text;      // "done", or what went wrong
};

class ViewModel {
 public:
  using Clock = std::chrono::steady_clock;

  struct Options {
    std::chrono::milliseconds silence{3000};       // no frame on any channel: lost
    std::chrono::milliseconds connectTimeout{10000};  // then ask the Gateway why
    std::FILE* terminal = stdout;                  // where state changes are printed
  };

  ViewModel(const host::DriverLibrary& library, Options options);
  ~ViewModel();
  ViewModel(const ViewModel&) = delete;
  ViewModel& operator=(const ViewModel&) = delete;

  LogRing& Log() { return m_log; }

  // Opens a driver for the device and starts the given channels and its
  // I/O. An unreachable Gateway is not an error here (the driver keeps
  // trying, the page says why there is no picture); a driver that refuses
  // to open is.
  bool AddDevice(const DeviceDescription& device, const std::vector<std::uint32_t>& channels,
                 std::string* error);
  // Reads channel states, updates rates and connection states, prepares
  // PTZ once a device is connected, asks for checks of silent devices.
  void Poll();
  // Stops motions, I/O and channels and closes every driver. Idempotent.
  void Close();

  // ---- web server threads
  std::string StateJson() const;
  // Waits until the state changed after `seen` (or the timeout, or Wake);
  // returns the current version.
  std::uint64_t WaitForChange(std::uint64_t seen, std::chrono::milliseconds timeout) const;
  // Waits until any channel got a frame after `seen` frames in all.
  std::uint64_t WaitForFrames(std::uint64_t seen, std::chrono::milliseconds timeout) const;
  // Wakes every waiter (the server is stopping).
  void Wake();

  std::size_t DeviceCount() const { return m_devices.size(); }
  // The channels started on a device, in order.
  std::vector<std::uint32_t> Channels(std::size_t device) const;
  // Frames delivered so far on a channel, and a copy of the latest one
  // (empty when none, or when it is not a JPEG picture).
  std::uint64_t FrameCount(std::size_t device, std::uint32_t channel) const;
  std::vector<unsigned char> LatestJpeg(std::size_t device, std::uint32_t channel) const;

  ActionResult Ptz(std::size_t device, std::uint32_t channel, const PtzRequest& request);
  ActionResult ToggleOutput(std::size_t device, std::uint32_t output);
  // Stops every motion the page started (a page went away while a button
  // was held). Returns how many stops were sent.
  int StopAllMotion(const std::string& why);

 private:
  struct PtzState;
  struct Channel;
  struct Device;

  Channel* FindChannel(std::size_t device, std::uint32_t channel) const;
  void PreparePtz(Device& device);
  void UpdateConnection(Device& device, Clock::time_point now);
  void Bump();
  void Say(const std::string& text);
  void CheckerThread();

  const host::DriverLibrary& m_library;
  const Options m_options;
  const Clock::time_point m_created = Clock::now();
  LogRing m_log;
  // Filled on the main thread before the server starts; the vector itself
  // is constant afterwards (its devices guard their changing parts).
  std::vector<std::unique_ptr<Device>> m_devices;

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::uint64_t m_version = 1;  // guarded by m_mutex
  bool m_woken = false;         // guarded by m_mutex

  mutable std::mutex m_frameMutex;
  mutable std::condition_variable m_frameArrived;
  std::uint64_t m_frames = 0;  // guarded by m_frameMutex

  // The checker thread's queue: device indexes, with whether to run the
  // full check (capability query) or only the TCP probe.
  std::mutex m_checkMutex;
  std::condition_variable m_checkWanted;
  std::deque<std::pair<std::size_t, bool>> m_checks;  // guarded by m_checkMutex
  bool m_checkStop = false;                           // guarded by m_checkMutex
  std::thread m_checker;
};

}  // namespace hosttool
}  // namespace strevon
