// Fault-injection fixture: the real library against a simulator that
// misbehaves. The device has two cameras (channel 0 a fixed camera streamed
// at full rate, channel 1 a PTZ dome), two inputs and two outputs. Every
// case ends with the same shutdown checks: Close and the delete export
// return within their time-outs, the process's threads come back to the
// baseline, and every frame the host lent the driver came back exactly once.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

#include "video_fixture.h"

namespace strevon {
namespace integration {

// Twice the longest stop the driver waits for (the worker thread, the
// video manager thread: 5000 ms each).
constexpr auto kShutdownBound = 10s;
// The stall watchdog brings a full-rate stream back after a reconnection:
// 10 s without a frame, then the next 4 s pass. Twice that, for TSan.
constexpr auto kWatchdogBound = 30s;
// A reconnection: about one round of the worker's 1000 ms loop plus the
// log-on and profile exchanges.
constexpr auto kReconnectBound = 15s;

// Channel 1 motion only; the profile name keeps the profile request.
constexpr char kFaultSettings[] =
    "<Configuration><Common><Profile>service</Profile>"
    "<VideoChannel id=\"0\"><StreamType>FullRate</StreamType></VideoChannel>"
    "<VideoChannel id=\"1\"><StreamType>motion</StreamType></VideoChannel>"
    "</Common></Configuration>";

class FaultFixture : public VideoFixture {
 protected:
  static sim::Scenario FaultScenario() {
    sim::Scenario s = VideoScenario();
    const sim::Scenario site = sim::DefaultScenario();
    s.profiles.at(0).inputs = site.profiles.at(0).inputs;
    s.profiles.at(0).outputs = site.profiles.at(0).outputs;
    s.video.fps = 10.0;
    s.video.motion_fps = 4.0;
    return s;
  }

  // Starts the simulator with the scenario and opens the device; does not
  // wait for the log-on.
  void OpenFaultDevice(const std::string& settings = kFaultSettings,
                       const sim::Scenario& s = FaultScenario()) {
    WriteSettings(settings);
    StartSimulator(s);
    ASSERT_TRUE(OpenDriver(DefaultDevice()));
    capture = driver->GetVideoCaptureEx();
    ASSERT_NE(capture, nullptr);
    io = driver->GetCaptureIO();
    ASSERT_NE(io, nullptr);
  }

  // Logged on, channel 0 streaming intact frames, I/O started and one input
  // event delivered.
  // check: channel 0's frames are checked byte for byte.
  void OpenStreaming(const std::string& settings = kFaultSettings, bool check = true) {
    ASSERT_NO_FATAL_FAILURE(OpenFaultDevice(settings));
    ASSERT_TRUE(WaitConnected());
    if (check) checkers[0].Attach(handlers[0]);
    ASSERT_TRUE(Start(0, handlers[0]));
    ASSERT_TRUE(handlers[0].WaitForFrames(5, 10s));
    ASSERT_TRUE(io->SetIOCallback(&ioCallback));
    ASSERT_TRUE(io->StartIO());
    ASSERT_NO_FATAL_FAILURE(ExpectInputEventDelivered("in-1", true));
  }

  std::uint64_t Mark() { return simulator->Requests().size(); }

  // A complete connect sequence after the mark (the profile is its last
  // request).
  bool WaitReconnected(std::uint64_t mark, std::chrono::milliseconds timeout = kReconnectBound) {
    return simulator->WaitForRequest("user/profile", nullptr, timeout, mark).has_value();
  }

  // Input 0 is "in-1", input 1 "in-2"; an "IOState" event is the only way
  // a state 2 (on) reaches the host after StartIO set every input off.
  static std::uint32_t InputId(const std::string& pid) { return pid == "in-1" ? 0u : 1u; }

  bool InputReportSince(std::size_t from, const std::string& pid, std::uint32_t state,
                        std::chrono::milliseconds timeout) {
    const std::uint32_t id = InputId(pid);
    return ioCallback.Reports().WaitFor(
        [&](const std::vector<host::InputReport>& all) {
          for (std::size_t i = from; i < all.size(); ++i) {
            if (all[i].inputId == id && all[i].state == state) return true;
          }
          return false;
        },
        timeout);
  }

  // Switches the input off and on and expects the "on" at the host.
  void ExpectInputEventDelivered(const std::string& pid, bool restart) {
    if (restart) {
      io->StopIO();
      ASSERT_TRUE(io->StartIO());
    }
    const std::size_t from = ioCallback.Reports().Size();
    simulator->SetInput(pid, false);
    ASSERT_GE(simulator->SetInput(pid, true), 1u);
    EXPECT_TRUE(InputReportSince(from, pid, 2, 5s)) << "input event for " << pid << " not delivered";
  }

  // After a reconnection the old registration is gone: an "on" does not
  // reach the host until it starts I/O again; then it does.
  void ExpectInputEventsOnlyAfterStartIO(const std::string& pid) {
    const std::size_t from = ioCallback.Reports().Size();
    simulator->SetInput(pid, false);
    ASSERT_GE(simulator->SetInput(pid, true), 1u);
    // Long enough for the event and one periodic report.
    EXPECT_FALSE(InputReportSince(from, pid, 2, 2500ms))
        << "input event reached the host without a new StartIO";
    EXPECT_TRUE(ioCallback.Reports().Size() > from) << "periodic input reports stopped";
    ASSERT_NO_FATAL_FAILURE(ExpectInputEventDelivered(pid, true));
  }

  // The full-rate stream delivers again (through the stall watchdog when
  // the connection was replaced), with intact frames.
  void ExpectStreamResumes(std::chrono::steady_clock::duration bound = kWatchdogBound) {
    const std::uint64_t frames = handlers[0].FrameCount();
    EXPECT_TRUE(handlers[0].WaitForFrames(frames + 3,
                                          std::chrono::duration_cast<std::chrono::milliseconds>(bound)))
        << "full-rate stream did not resume";
    EXPECT_EQ(checkers[0].Bad(), 0u) << checkers[0].FirstProblem();
  }

  // A pan of the dome reaches the Gateway.
  void ExpectPtzReachesGateway() {
    quorvel::IIPPTZDriverEx* ptz = driver->GetPTZDriverEx();
    ASSERT_NE(ptz, nullptr);
    quorvel::IIPPTZApiEx* dome = ptz->GetPTZApiEx(1);
    ASSERT_NE(dome, nullptr);
    ASSERT_EQ(dome->Initialize(), 1);
    const std::uint64_t from = Mark();
    ASSERT_EQ(dome->Move(0, 16), 1);
    EXPECT_TRUE(simulator->WaitForRequest("camera/ptz/left", nullptr, 10s, from).has_value())
        << "PTZ command did not reach the Gateway";
  }

  // Close and the delete export within their time-outs; threads back to
  // the baseline; every lent frame returned once.
  void CloseAndCheck() {
    ASSERT_NE(driver, nullptr);
    auto t0 = std::chrono::steady_clock::now();
    driver->Close();
    EXPECT_LE(std::chrono::steady_clock::now() - t0, kShutdownBound) << "Close took too long";
    t0 = std::chrono::steady_clock::now();
    DestroyDriver();
    EXPECT_LE(std::chrono::steady_clock::now() - t0, kShutdownBound) << "delete took too long";
    EXPECT_TRUE(Eventually([&] { return ThreadCount() <= baselineThreads; }, kShutdownBound))
        << ThreadCount() << " threads, baseline " << baselineThreads;
    EXPECT_EQ(allocator.Outstanding(), 0u);
    EXPECT_EQ(allocator.Violations(), 0u);
  }

  quorvel::ICaptureIOApi* io = nullptr;
  // A member, so that it outlives the driver.
  host::IOCallback ioCallback;
};

}  // namespace integration
}  // namespace strevon
