// Integration fixture: the real libstrevon.so, loaded with dlopen by the test
// host, against the Gateway simulator on a loopback port. Each test case runs
// in a process of its own (gtest_discover_tests), so the driver's home
// directory (STREVON_HOME) is set in SetUp, before any driver thread exists.
#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "channel_setup.h"
#include "debug_sink.h"
#include "device_setup.h"
#include "driver_library.h"
#include "frame_allocator.h"
#include "frame_handler.h"
#include "gateway_simulator.h"
#include "io_callback.h"
#include "strevon.h"

namespace strevon {
namespace integration {

using namespace std::chrono_literals;
using quorvel::ipcapture::IIPCaptureDriverEx3;

// Number of threads of this process right now.
inline int ThreadCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
  }
  return count;
}

// Polls cond until it holds or the deadline passes (for states that have no
// event to wait on, such as the process's thread count).
template <typename Cond>
bool Eventually(Cond cond, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!cond()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

using sim::CustomParametersFor;

class DriverFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/strevon-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home = pattern;
    // Before any driver thread starts: the driver reads its environment.
    ASSERT_EQ(setenv("STREVON_HOME", home.c_str(), 1), 0);
    ASSERT_TRUE(library.Load(STREVON_LIBRARY_PATH)) << library.Error();
    baselineThreads = ThreadCount();
  }

  void TearDown() override {
    DestroyDriver();
    simulator.reset();
    std::string cleanup = "rm -rf '" + home + "'";
    if (std::system(cleanup.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", home.c_str());
  }

  // Starts the simulator with the scenario.
  void StartSimulator(const sim::Scenario& s = sim::DefaultScenario()) {
    scenario = s;
    simulator = std::make_unique<sim::GatewaySimulator>(scenario);
    std::string error;
    ASSERT_TRUE(simulator->Start(0, &error)) << error;
    // The simulator's own threads are part of the baseline; its connection
    // threads end shortly after the driver's connections close.
    baselineThreads = ThreadCount();
  }

  // Writes Strevon.xml into the driver's home directory.
  void WriteSettings(const std::string& xml) {
    std::ofstream(home + "/Strevon.xml") << xml;
  }

  // The device of the scenario: every camera, input and output, admin/admin.
  host::DeviceConfig DefaultDevice() {
    host::DeviceConfig config;
    const sim::SimProfile& profile = scenario.profiles.at(0);
    config.channelCount = static_cast<std::uint32_t>(profile.cameras.size());
    config.inputCount = static_cast<std::uint32_t>(profile.inputs.size());
    config.outputCount = static_cast<std::uint32_t>(profile.outputs.size());
    config.address = "127.0.0.1";
    config.port = simulator ? simulator->Port() : 1;
    config.userName = "admin";
    config.password = "admin";
    config.customParameters = CustomParametersFor(scenario);
    return config;
  }

  // Creates and opens a driver for the device; the result of Open.
  bool OpenDriver(const host::DeviceConfig& config) {
    setup = std::make_unique<host::DeviceSetup>(config);
    driver = library.Exports().CreateIPCaptureEx3();
    if (driver == nullptr) return false;
    return driver->Open(&sink, &allocator, setup.get());
  }

  void DestroyDriver() {
    if (driver != nullptr) {
      library.Exports().DeleteIPCaptureEx3(driver);
      driver = nullptr;
    }
  }

  // Waits until the simulator saw the driver log on and read its profile.
  bool WaitConnected(std::chrono::milliseconds timeout = 10s) {
    return simulator->WaitForRequest("user/profile", nullptr, timeout).has_value();
  }

  std::string home;
  host::DriverLibrary library;
  sim::Scenario scenario;
  std::unique_ptr<sim::GatewaySimulator> simulator;
  host::DebugSink sink;
  host::FrameAllocator allocator;
  std::unique_ptr<host::DeviceSetup> setup;
  IIPCaptureDriverEx3* driver = nullptr;
  int baselineThreads = 0;
};

}  // namespace integration
}  // namespace strevon
