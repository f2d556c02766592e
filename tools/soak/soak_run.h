// SoakRun: one long run of the real driver against the Gateway simulator in
// this process. It starts the simulator on a loopback port with one camera
// per channel, opens one driver with the Resilient setting on, starts every
// channel and the digital I/O, then until the end: resets every Gateway
// connection at a fixed period and measures how long each stream takes to
// deliver again, drives the dome and the outputs and toggles the inputs in
// between (checking that each reaches the other side), samples RSS, threads
// and frames, and near the end stops a few channels and watches that they
// stay silent while the others go on. Finally it closes and deletes the
// driver and fills in the result and its checks.
//
// Ownership: owns everything it uses: the driver's home directory, the
// loaded library, the simulator, the host objects and the driver, which is
// deleted before any object it was given goes. Single-threaded: Run is
// called once, on one thread; the probes it owns are called by the driver's
// threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "channel_probe.h"
#include "channel_setup.h"
#include "device_setup.h"
#include "driver_library.h"
#include "frame_allocator.h"
#include "gateway_simulator.h"
#include "input_probe.h"
#include "log_counter.h"
#include "soak_result.h"

namespace strevon {
namespace soak {

class SoakRun {
 public:
  explicit SoakRun(const SoakOptions& options);
  ~SoakRun();
  SoakRun(const SoakRun&) = delete;
  SoakRun& operator=(const SoakRun&) = delete;

  // Runs to the end. False only when the run could not be set up (*error
  // says why); a run that found faults returns true with failed checks.
  bool Run(SoakResult* result, std::string* error);

 private:
  using Clock = std::chrono::steady_clock;

  // Removes the driver's home directory when the run ends.
  class TempHome {
   public:
    TempHome() = default;
    ~TempHome();
    bool Create(std::string* error);
    const std::string& Path() const { return m_path; }

   private:
    std::string m_path;
  };

  // A PTZ or I/O step whose effect is still awaited.
  struct Pending {
    std::size_t tally = 0;
    Clock::time_point sent;
    std::function<bool()> seen;
  };

  enum class Phase { kStable, kRecovering };

  bool SetUp(std::string* error);
  void Loop();
  void TakeSample();
  void StartReset();
  void FollowReset(Clock::time_point now);
  void DoNextAction(Clock::time_point now);
  void CheckPending(Clock::time_point now, bool final_pass);
  void StopSomeChannels();
  void ShutDown();
  void Conclude();

  std::size_t Tally(const std::string& name);
  std::size_t PtzRequests() const;
  double SinceStart(Clock::time_point t) const;

  // Constant after construction.
  const SoakOptions m_options;
  const std::chrono::milliseconds m_duration;
  const std::chrono::milliseconds m_warmup;
  const std::chrono::milliseconds m_finalWatch;

  // Declared in the order they are needed; the driver is deleted first.
  TempHome m_home;
  host::DriverLibrary m_library;
  sim::Scenario m_scenario;
  std::unique_ptr<sim::GatewaySimulator> m_simulator;
  LogCounter m_sink;
  host::FrameAllocator m_allocator;
  std::unique_ptr<InputProbe> m_inputs;
  std::vector<std::unique_ptr<ChannelProbe>> m_probes;
  host::ChannelSetup m_channelSetup{704, 576, 5, 6};
  std::unique_ptr<host::DeviceSetup> m_setup;
  quorvel::ipcapture::IIPCaptureDriverEx3* m_driver = nullptr;
  quorvel::ipcapture::IIPVideoCaptureEx* m_capture = nullptr;
  quorvel::ICaptureIOApi* m_io = nullptr;
  quorvel::IIPPTZApiEx* m_dome = nullptr;

  // The run's progress.
  SoakResult m_result;
  Clock::time_point m_start;
  Clock::time_point m_end;
  Clock::time_point m_stopAt;
  Clock::time_point m_nextSample;
  Clock::time_point m_nextReset;
  Clock::time_point m_nextAction;
  Phase m_phase = Phase::kStable;
  bool m_warm = false;
  std::size_t m_actionIndex = 0;
  std::vector<Pending> m_pending;
  std::vector<bool> m_inputOn;
  // The reset being followed.
  ResetRecord m_reset;
  Clock::time_point m_resetAt;
  std::uint64_t m_resetNs = 0;
  std::uint64_t m_acceptedBefore = 0;
  bool m_acceptSeen = false;
  bool m_channelsStopped = false;
  Clock::time_point m_stoppedAt;
  std::vector<std::uint64_t> m_framesAtStop;
};

}  // namespace soak
}  // namespace strevon
