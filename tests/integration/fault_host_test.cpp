// A host that hands over missing pieces or refuses what it is given: a null
// device setup or null texts in it fail Open; a missing or failing frame
// allocator, frames without a buffer, a missing or refusing frame handler
// drop frames with a log line; a null I/O callback silences the inputs; a
// null result sink fails the capability query. Never a crash, never a
// frame left unreleased, and the driver shuts down cleanly.
#include <functional>
#include <string>

#include "capability_sink.h"
#include "fault_fixture.h"

namespace strevon {
namespace integration {
namespace {

// A device setup whose texts can be made null one at a time.
class NullTextSetup : public quorvel::ipcapture::IDeviceSetup {
 public:
  enum class Missing { kAddress, kUserName, kPassword, kModel };

  NullTextSetup(host::DeviceConfig config, Missing missing)
      : m_inner(std::move(config)), m_device(m_inner, missing), m_connection(m_inner, missing) {}

  quorvel::ipcapture::IDeviceParams* GetDeviceParams() override { return &m_device; }
  quorvel::ipcapture::IConnectionParams* GetConnectionParams() override { return &m_connection; }
  const char* GetCustomParameter(int index) override { return m_inner.GetCustomParameter(index); }

 private:
  class Device : public quorvel::ipcapture::IDeviceParams {
   public:
    Device(host::DeviceSetup& inner, Missing missing) : m_p(*inner.GetDeviceParams()), m_missing(missing) {}
    const char* GetModel() override { return m_missing == Missing::kModel ? nullptr : m_p.GetModel(); }
    std::uint32_t GetChannelCount() override { return m_p.GetChannelCount(); }
    std::uint32_t GetInputCount() override { return m_p.GetInputCount(); }
    std::uint32_t GetOutputCount() override { return m_p.GetOutputCount(); }

   private:
    quorvel::ipcapture::IDeviceParams& m_p;
    const Missing m_missing;
  };

  class Connection : public quorvel::ipcapture::IConnectionParams {
   public:
    Connection(host::DeviceSetup& inner, Missing missing)
        : m_p(*inner.GetConnectionParams()), m_missing(missing) {}
    const char* GetAddress() override {
      return m_missing == Missing::kAddress ? nullptr : m_p.GetAddress();
    }
    std::uint16_t GetPort() override { return m_p.GetPort(); }
    std::uint32_t GetConnectionValue() override { return m_p.GetConnectionValue(); }
    const char* GetUserName() override {
      return m_missing == Missing::kUserName ? nullptr : m_p.GetUserName();
    }
    const char* GetPassword() override {
      return m_missing == Missing::kPassword ? nullptr : m_p.GetPassword();
    }

   private:
    quorvel::ipcapture::IConnectionParams& m_p;
    const Missing m_missing;
  };

  host::DeviceSetup m_inner;
  Device m_device;
  Connection m_connection;
};

class FaultHostTest : public FaultFixture {
 protected:
  // Open refused: nothing is left running and the driver deletes cleanly.
  void ExpectOpenRefused(quorvel::ipcapture::IDeviceSetup* deviceSetup) {
    driver = library.Exports().CreateIPCaptureEx3();
    ASSERT_NE(driver, nullptr);
    EXPECT_FALSE(driver->Open(&sink, &allocator, deviceSetup));
    EXPECT_EQ(simulator->ConnectionsAccepted(), 0u);
    CloseAndCheck();
  }
};

TEST_F(FaultHostTest, NullDeviceSetupFailsOpen) {
  StartSimulator(FaultScenario());
  ExpectOpenRefused(nullptr);
}

TEST_F(FaultHostTest, NullTextsInTheDeviceSetupFailOpen) {
  StartSimulator(FaultScenario());
  const struct {
    const char* name;
    NullTextSetup::Missing missing;
  } cases[] = {{"address", NullTextSetup::Missing::kAddress},
               {"user name", NullTextSetup::Missing::kUserName},
               {"password", NullTextSetup::Missing::kPassword},
               {"model", NullTextSetup::Missing::kModel}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NullTextSetup nullSetup(DefaultDevice(), c.missing);
    ExpectOpenRefused(&nullSetup);
  }
}

// How the host spoils the frame path, and the log line that names the
// dropped frame.
struct FramePathCase {
  const char* name;
  std::function<void(host::FrameAllocator&, host::FrameHandler&)> spoil;
  std::function<void(host::FrameAllocator&, host::FrameHandler&)> repair;
  const char* logged;
};

void PrintTo(const FramePathCase& c, std::ostream* os) { *os << c.name; }

class FaultFramePathTest : public FaultFixture,
                           public ::testing::WithParamInterface<FramePathCase> {};

// LogLevel 4 lets the frame path's error lines reach the host's sink.
constexpr char kVerboseSettings[] =
    "<Configuration><Common><Profile>service</Profile><LogLevel>4</LogLevel>"
    "</Common></Configuration>";

TEST_P(FaultFramePathTest, FramesAreDroppedWithALogLineAndComeBackWhenTheHostDoes) {
  const FramePathCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(OpenFaultDevice(kVerboseSettings));
  ASSERT_TRUE(WaitConnected());
  c.spoil(allocator, handlers[0]);
  ASSERT_TRUE(Start(0, handlers[0]));
  ASSERT_TRUE(simulator->WaitForFrames(0, 10, 10s));
  EXPECT_TRUE(sink.WaitForText(c.logged, 10s)) << "no \"" << c.logged << "\"";
  EXPECT_EQ(allocator.Outstanding(), 0u);
  EXPECT_EQ(allocator.Violations(), 0u);

  c.repair(allocator, handlers[0]);
  const std::uint64_t frames = handlers[0].FrameCount();
  EXPECT_TRUE(handlers[0].WaitForFrames(frames + 3, kWatchdogBound));
  CloseAndCheck();
}

INSTANTIATE_TEST_SUITE_P(
    Host, FaultFramePathTest,
    ::testing::Values(
        FramePathCase{"AllocatorReturnsNull",
                      [](host::FrameAllocator& a, host::FrameHandler&) { a.SetFailAllocations(true); },
                      [](host::FrameAllocator& a, host::FrameHandler&) { a.SetFailAllocations(false); },
                      "ERROR Frame allocation FAILED"},
        FramePathCase{
            "FramesWithoutBuffer",
            [](host::FrameAllocator& a, host::FrameHandler&) { a.SetFramesWithoutBuffer(true); },
            [](host::FrameAllocator& a, host::FrameHandler&) { a.SetFramesWithoutBuffer(false); },
            "ERROR Frame buffer is NULL"},
        // Refused frames do not count as delivered: the watchdog restarts
        // the stream, which must not upset the allocator either.
        FramePathCase{"HandlerRefusesFrames",
                      [](host::FrameAllocator&, host::FrameHandler& h) { h.SetAccept(false); },
                      [](host::FrameAllocator&, host::FrameHandler& h) { h.SetAccept(true); },
                      "ERROR CaptureFrameCallback FAILED"}),
    [](const ::testing::TestParamInfo<FramePathCase>& info) { return std::string(info.param.name); });

TEST_F(FaultHostTest, NullFrameAllocatorDropsEveryFrame) {
  WriteSettings(kVerboseSettings);
  StartSimulator(FaultScenario());
  setup = std::make_unique<host::DeviceSetup>(DefaultDevice());
  driver = library.Exports().CreateIPCaptureEx3();
  ASSERT_NE(driver, nullptr);
  ASSERT_TRUE(driver->Open(&sink, nullptr, setup.get()));
  ASSERT_TRUE(WaitConnected());
  capture = driver->GetVideoCaptureEx();
  ASSERT_NE(capture, nullptr);
  ASSERT_TRUE(Start(0, handlers[0]));
  ASSERT_TRUE(simulator->WaitForFrames(0, 10, 10s));
  EXPECT_TRUE(sink.WaitForText("ERROR Frame allocator is NULL", 10s));
  EXPECT_EQ(handlers[0].FrameCount(), 0u);
  CloseAndCheck();
}

TEST_F(FaultHostTest, NullFrameHandlerDropsEveryFrame) {
  ASSERT_NO_FATAL_FAILURE(OpenFaultDevice(kVerboseSettings));
  ASSERT_TRUE(WaitConnected());
  // Whether the capture object takes a channel without a handler is its
  // own choice; either way nothing may reach a handler or leak a frame.
  if (capture->StartChannel(0, nullptr, &channelSetup)) {
    ASSERT_TRUE(simulator->WaitForFrames(0, 10, 10s));
    EXPECT_TRUE(sink.WaitForText("ERROR mFrameHandler is NULL", 10s));
  }
  CloseAndCheck();
}

TEST_F(FaultHostTest, NullIOCallbackSilencesInputsUntilOneIsSet) {
  ASSERT_NO_FATAL_FAILURE(OpenFaultDevice(kVerboseSettings));
  ASSERT_TRUE(WaitConnected());
  EXPECT_FALSE(io->SetIOCallback(nullptr));
  ASSERT_TRUE(io->StartIO());
  // An event with nobody to tell, then a periodic report.
  ASSERT_GE(simulator->SetInput("in-1", true), 1u);
  EXPECT_TRUE(sink.WaitForText("IO event (pid='in-1' status='On') received", 5s));
  EXPECT_TRUE(io->SetIOCallback(&ioCallback));
  EXPECT_TRUE(io->SetIOCallback(nullptr));  // a null keeps the one set
  ASSERT_NO_FATAL_FAILURE(ExpectInputEventDelivered("in-2", false));
  CloseAndCheck();
}

TEST_F(FaultHostTest, NullResultSinkFailsTheCapabilityQuery) {
  StartSimulator(FaultScenario());
  const host::DriverExports& x = library.Exports();
  host::CapabilityNotifier notifier;
  ASSERT_EQ(x.InitCapabilityQuery(&notifier, 0), 1u);
  if (x.StartCapabilityQuery("127.0.0.1", simulator->Port(), "admin", "admin", nullptr) == 1u) {
    ASSERT_TRUE(notifier.Outcomes().WaitForCount(1, 20s));
    EXPECT_NE(notifier.Outcomes().Snapshot().front().kind, host::QueryOutcome::kCompleted);
  }
  EXPECT_EQ(x.TerminateCapabilityQuery(), 1u);
  EXPECT_EQ(x.UninitCapabilityQuery(), 1u);
  EXPECT_TRUE(Eventually([&] { return ThreadCount() <= baselineThreads; }, kShutdownBound));
}

}  // namespace
}  // namespace integration
}  // namespace strevon
