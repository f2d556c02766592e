// A host that hands over missing pieces or refuses what it is given: never
// a crash, never a frame left unreleased, and a clean shutdown.
#include "integration_fixture.h"

namespace strevon {
namespace integration {
namespace {

using FaultHostTest = IntegrationFixture;
namespace ip = quorvel::ipcapture;

// LogLevel 4 lets the frame path's error lines reach the host's sink.
constexpr char kVerboseSettings[] =
    "<Configuration><Common><Profile>service</Profile><LogLevel>4</LogLevel></Common></Configuration>";

enum class Missing { kSetup, kAddress, kUserName, kPassword, kModel };

// The host's device setup with one of its texts null.
class NullTextSetup : public ip::IDeviceSetup, ip::IDeviceParams, ip::IConnectionParams {
 public:
  NullTextSetup(host::DeviceConfig config, Missing missing) : m_inner(std::move(config)), m_missing(missing) {}
  ip::IDeviceParams* GetDeviceParams() override { return this; }
  ip::IConnectionParams* GetConnectionParams() override { return this; }
  const char* GetCustomParameter(int index) override { return m_inner.GetCustomParameter(index); }
  const char* GetModel() override { return Text(Missing::kModel, Device().GetModel()); }
  std::uint32_t GetChannelCount() override { return Device().GetChannelCount(); }
  std::uint32_t GetInputCount() override { return Device().GetInputCount(); }
  std::uint32_t GetOutputCount() override { return Device().GetOutputCount(); }
  const char* GetAddress() override { return Text(Missing::kAddress, Connection().GetAddress()); }
  std::uint16_t GetPort() override { return Connection().GetPort(); }
  std::uint32_t GetConnectionValue() override { return Connection().GetConnectionValue(); }
  const char* GetUserName() override { return Text(Missing::kUserName, Connection().GetUserName()); }
  const char* GetPassword() override { return Text(Missing::kPassword, Connection().GetPassword()); }

 private:
  ip::IDeviceParams& Device() { return *m_inner.GetDeviceParams(); }
  ip::IConnectionParams& Connection() { return *m_inner.GetConnectionParams(); }
  const char* Text(Missing which, const char* text) const { return m_missing == which ? nullptr : text; }
  host::DeviceSetup m_inner;
  const Missing m_missing;
};

TEST_F(FaultHostTest, NullDeviceSetupOrANullTextInItFailsOpen) {
  ASSERT_NO_FATAL_FAILURE(StartSimulator(TwoCameras()));
  for (Missing missing : {Missing::kSetup, Missing::kAddress, Missing::kUserName, Missing::kPassword, Missing::kModel}) {
    SCOPED_TRACE("missing: " + std::to_string(static_cast<int>(missing)));  // in enum order
    NullTextSetup nullText(DefaultDevice(), missing);
    driver = library.Exports().CreateIPCaptureEx3();
    ASSERT_NE(driver, nullptr);
    EXPECT_FALSE(driver->Open(&sink, &allocator, missing == Missing::kSetup ? nullptr : &nullText));
    CloseAndCheck();
  }
  EXPECT_EQ(simulator->ConnectionsAccepted(), 0u);
}

// One host failure after the other on a running channel: each drops frames
// with a log line and releases every frame it was lent; once the host
// behaves the frames come back (after a refusing handler, through the
// stall restart: refused frames do not count as delivered).
TEST_F(FaultHostTest, EveryLentFrameIsReleasedOnceWhateverTheHostFails) {
  const struct {
    const char* name;
    std::function<void(bool)> fail;  // false: behave again
    const char* logged;
    bool framesReachTheHandler;
  } cases[] = {
      {"allocation fails", [&](bool on) { allocator.SetFailAllocations(on); }, "ERROR Frame allocation FAILED", false},
      {"frames without a buffer", [&](bool on) { allocator.SetFramesWithoutBuffer(on); }, "ERROR Frame buffer is NULL",
       false},
      {"handler refuses frames", [&](bool on) { handlers[0].SetAccept(!on); }, "ERROR CaptureFrameCallback FAILED", true},
  };
  ASSERT_NO_FATAL_FAILURE(Open(TwoCameras(), kVerboseSettings));
  ASSERT_TRUE(Start(0));
  ASSERT_TRUE(handlers[0].WaitForFrames(3, 10s));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.fail(true);
    const std::uint64_t sent = simulator->FramesSent(0);
    ASSERT_TRUE(sink.WaitForText(c.logged, 10s)) << "no \"" << c.logged << "\"";
    const std::uint64_t handled = handlers[0].FrameCount();
    ASSERT_TRUE(simulator->WaitForFrames(0, sent + 5, 10s));
    // One frame may have been on its way when the host changed.
    EXPECT_EQ(handlers[0].FrameCount() > handled + 1, c.framesReachTheHandler);
    EXPECT_EQ(Status(0), 0) << "a dropped frame made the channel offline";
    c.fail(false);
    EXPECT_TRUE(handlers[0].WaitForFrames(handlers[0].FrameCount() + 3, kRecoveryBound));
  }
  // Whether a channel without a handler starts is the capture object's
  // choice; either way nothing may reach a handler or leak a frame.
  if (capture->StartChannel(1, nullptr, &channelSetup)) {
    ASSERT_TRUE(simulator->WaitForFrames(1, 5, 10s));
    EXPECT_TRUE(sink.WaitForText("ERROR mFrameHandler is NULL", 10s));
  }
  CloseAndCheck();
}

// Neither is refused at Open: frames are dropped with a log line, input
// events are only logged until a callback is set.
TEST_F(FaultHostTest, NullFrameAllocatorDropsEveryFrameNullIOCallbackSilencesInputs) {
  nullAllocator = true;
  ASSERT_NO_FATAL_FAILURE(Open(TwoCameras(), kVerboseSettings));
  ASSERT_TRUE(Start(0));
  ASSERT_TRUE(simulator->WaitForFrames(0, 5, 10s));
  EXPECT_TRUE(sink.WaitForText("ERROR Frame allocator is NULL", 10s));
  EXPECT_EQ(handlers[0].FrameCount(), 0u);

  EXPECT_FALSE(io->SetIOCallback(nullptr));
  ASSERT_TRUE(io->StartIO());
  ASSERT_GE(simulator->SetInput("in-1", true), 1u);
  EXPECT_TRUE(sink.WaitForText("IO event (pid='in-1' status='On') received", 5s));
  EXPECT_TRUE(io->SetIOCallback(&ioCallback));
  EXPECT_TRUE(io->SetIOCallback(nullptr));  // a null keeps the one set
  EXPECT_TRUE(InputEventReachesHost("in-2"));
  CloseAndCheck();
}

// A debug sink that holds a driver thread past its stop time-out while the
// connection is reset: the delete returns within its time-outs, the sink
// hears nothing more, and once released the thread that overstayed ends
// without touching a freed driver. reconnects: false when the held thread
// is the receiver, which then cannot notice the reset; stall: channel 0's
// frames stop, so that the restart pass restarts it.
class DeleteWhileHeldTest : public FaultHostTest {
 protected:
  void DeleteWhileSinkHolds(const char* heldLine, bool reconnects, bool stall = false) {
    struct ReleaseAtEnd {
      ~ReleaseAtEnd() { sink.Release(); }
      host::DebugSink& sink;
    } release{sink};
    ASSERT_NO_FATAL_FAILURE(Open(TwoCameras(), kVerboseSettings));
    sink.HoldNext(heldLine);
    ASSERT_TRUE(Start(0));
    if (stall) simulator->SetStalled(0, true);
    ASSERT_TRUE(sink.WaitHeld(10s));
    const std::uint64_t mark = Mark();
    ASSERT_GE(simulator->ResetConnections(), 1u);
    if (reconnects) {
      ASSERT_TRUE(WaitConnected(mark));
    }

    const auto t0 = std::chrono::steady_clock::now();
    DestroyDriver();
    EXPECT_LE(quorvel::test_support::ElapsedMs(t0), kShutdownMs) << "delete took too long";
    const std::size_t lines = sink.Lines().Size();
    sink.Release();
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= baselineThreads; }, kShutdownMs));
    EXPECT_EQ(sink.Lines().Size(), lines + 1) << "only the held line may arrive after the delete";
    EXPECT_EQ(allocator.Outstanding(), 0u);
  }
};

TEST_F(DeleteWhileHeldTest, RestartThreadHeldInTheSink) {
  DeleteWhileSinkHolds("CVideoManager::ThreadFunction: Enter", true);
}

TEST_F(DeleteWhileHeldTest, RestartPassHeldInTheSinkWhileRestartingAChannel) {
  DeleteWhileSinkHolds("refresh status is 3 - restart channel", true, true);
}

TEST_F(DeleteWhileHeldTest, ReceiverHeldInTheSinkDuringADelivery) {
  DeleteWhileSinkHolds("ProcessVideoStreamResponse: cid=", false);
}

}  // namespace
}  // namespace integration
}  // namespace strevon
