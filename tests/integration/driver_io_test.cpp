// Digital inputs and outputs through the host's I/O interface, against the
// simulated Gateway.
#include "driver_fixture.h"

namespace strevon {
namespace integration {
namespace {

TEST_F(DriverFixture, InputEventsAndPeriodicReportsReachTheHost) {
  StartSimulator();
  ASSERT_TRUE(OpenDriver(DefaultDevice()));
  ASSERT_TRUE(WaitConnected());
  quorvel::ICaptureIOApi* io = driver->GetCaptureIO();
  ASSERT_NE(io, nullptr);
  EXPECT_EQ(io->GetInputCount(), 2u);
  EXPECT_EQ(io->GetOutputCount(), 2u);
  host::IOCallback callback;
  EXPECT_FALSE(io->SetIOCallback(nullptr));
  EXPECT_TRUE(io->SetIOCallback(&callback));
  ASSERT_TRUE(io->StartIO());

  // The event: input 1 ("in-2") on.
  ASSERT_GE(simulator->SetInput("in-2", true), 1u);
  EXPECT_TRUE(callback.Reports().WaitForAny(
      [](const host::InputReport& r) { return r.inputId == 1 && r.state == 2; }, 5s));

  // The periodic report: every input, in id order, every 2000 ms.
  const std::size_t mark = callback.Reports().Size();
  ASSERT_TRUE(callback.Reports().WaitForCount(mark + 4, 10s));
  const std::vector<host::InputReport> reports = callback.Reports().Snapshot();
  bool sawFullReport = false;
  for (std::size_t i = mark; i + 1 < reports.size(); ++i) {
    sawFullReport |= reports[i].inputId == 0 && reports[i].state == 1 &&
                     reports[i + 1].inputId == 1 && reports[i + 1].state == 2;
  }
  EXPECT_TRUE(sawFullReport);
  EXPECT_FALSE(io->StopIO());
}

TEST_F(DriverFixture, SetOutputSendsOneToggleWithThePidOnly) {
  StartSimulator();
  ASSERT_TRUE(OpenDriver(DefaultDevice()));
  ASSERT_TRUE(WaitConnected());
  quorvel::ICaptureIOApi* io = driver->GetCaptureIO();
  ASSERT_NE(io, nullptr);
  io->SetOutput(1, 1);
  const auto toggle = simulator->WaitForRequest("switch/toggle", nullptr, 5s);
  ASSERT_TRUE(toggle.has_value());
  EXPECT_EQ(toggle->raw_text, "switch/toggle?pid=out-2");
  io->SetOutput(2, 1);  // no third output: logged, nothing sent
  ASSERT_TRUE(simulator->WaitForRequest("user/profile").has_value());
  driver->Close();
  EXPECT_EQ(simulator->CountRequests("switch/toggle"), 1u);
}

TEST_F(DriverFixture, NoInputsAndNoOutputsMeansNoIOObject) {
  StartSimulator();
  host::DeviceConfig device = DefaultDevice();
  device.inputCount = 0;
  device.outputCount = 0;
  device.customParameters.resize(2 + device.channelCount);
  ASSERT_TRUE(OpenDriver(device));
  EXPECT_EQ(driver->GetCaptureIO(), nullptr);
}

TEST_F(DriverFixture, CloseQueuesTheLogOffAndNoCallbackFollows) {
  StartSimulator();
  ASSERT_TRUE(OpenDriver(DefaultDevice()));
  ASSERT_TRUE(WaitConnected());
  quorvel::ICaptureIOApi* io = driver->GetCaptureIO();
  ASSERT_NE(io, nullptr);
  host::IOCallback callback;
  io->SetIOCallback(&callback);
  ASSERT_TRUE(io->StartIO());
  ASSERT_GE(simulator->SetInput("in-1", true), 1u);
  ASSERT_TRUE(callback.Reports().WaitForCount(1, 5s));

  const auto start = std::chrono::steady_clock::now();
  driver->Close();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
  const std::size_t afterClose = callback.Reports().Size();
  EXPECT_EQ(driver->GetCaptureIO(), nullptr);
  EXPECT_EQ(driver->GetVideoCapture(), nullptr);
  EXPECT_EQ(driver->GetPTZDriver(), nullptr);
  // The connection outlives Close, so the sender still writes the log-off.
  EXPECT_TRUE(simulator->WaitForRequest("user/logoff", nullptr, 5s).has_value());
  simulator->SetInput("in-1", false);
  EXPECT_FALSE(callback.Reports().WaitForCount(afterClose + 1, 2500ms));
}

}  // namespace
}  // namespace integration
}  // namespace strevon
