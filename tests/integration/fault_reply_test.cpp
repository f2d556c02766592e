// Replies the driver cannot use: spoiled XML in the log-on, profile and PTZ
// property replies, stream messages whose "Cid" names no channel or is not a
// number, a "Fourcc" that is not a number. Nothing may crash or leak a
// frame, and once the Gateway answers properly again the driver is logged
// on, streams and moves the dome.
#include <string>

#include "fault_fixture.h"

namespace strevon {
namespace integration {
namespace {

struct XmlCase {
  const char* name;
  const char* command;
  sim::XmlFault fault;
};

void PrintTo(const XmlCase& c, std::ostream* os) { *os << c.name; }

class FaultXmlTest : public FaultFixture, public ::testing::WithParamInterface<XmlCase> {};

TEST_P(FaultXmlTest, SpoiledReplyCostsNothingOnceTheGatewayAnswersProperly) {
  const XmlCase& c = GetParam();
  sim::Scenario s = FaultScenario();
  s.faults.xml[c.command] = c.fault;
  ASSERT_NO_FATAL_FAILURE(OpenFaultDevice(kFaultSettings, s));
  checkers[0].Attach(handlers[0]);
  ASSERT_TRUE(Start(0, handlers[0]));

  // Let the driver meet the spoiled reply at least twice (it retries the
  // whole connect sequence about once a second when it cannot use it).
  ASSERT_TRUE(simulator->WaitForRequest(c.command == std::string("camera/ptz/takeover")
                                            ? "user/profile"
                                            : c.command,
                                        nullptr, kReconnectBound)
                  .has_value());
  if (c.command == std::string("camera/ptz/takeover")) {
    // The dome's property reply comes with its first frame and its
    // refresh; a spoiled one must not stop PTZ.
    ASSERT_NO_FATAL_FAILURE(ExpectPtzReachesGateway());
    quorvel::IIPPTZApiEx* dome = driver->GetPTZDriverEx()->GetPTZApiEx(1);
    dome->RefreshPresets();
  }
  simulator->SetXmlFault(c.command, sim::XmlFault::kNone);

  // Logged on, streaming, the dome answering.
  const std::uint64_t frames = handlers[0].FrameCount();
  EXPECT_TRUE(handlers[0].WaitForFrames(frames + 5, kWatchdogBound)) << "no stream";
  EXPECT_EQ(checkers[0].Bad(), 0u) << checkers[0].FirstProblem();
  ASSERT_NO_FATAL_FAILURE(ExpectPtzReachesGateway());
  CloseAndCheck();
}

INSTANTIATE_TEST_SUITE_P(
    Replies, FaultXmlTest,
    ::testing::Values(XmlCase{"LogOnMalformed", "user/logon", sim::XmlFault::kMalformed},
                      XmlCase{"LogOnEmpty", "user/logon", sim::XmlFault::kEmpty},
                      XmlCase{"LogOnHuge", "user/logon", sim::XmlFault::kHuge},
                      XmlCase{"ProfileMalformed", "user/profile", sim::XmlFault::kMalformed},
                      XmlCase{"ProfileEmpty", "user/profile", sim::XmlFault::kEmpty},
                      XmlCase{"ProfileHuge", "user/profile", sim::XmlFault::kHuge},
                      XmlCase{"PtzMalformed", "camera/ptz/takeover", sim::XmlFault::kMalformed},
                      XmlCase{"PtzEmpty", "camera/ptz/takeover", sim::XmlFault::kEmpty},
                      XmlCase{"PtzHuge", "camera/ptz/takeover", sim::XmlFault::kHuge}),
    [](const ::testing::TestParamInfo<XmlCase>& info) { return std::string(info.param.name); });

struct CidCase {
  const char* name;
  sim::CidFault fault;
  // A "Cid" that is not a number is read as channel 0.
  bool readAsChannelZero;
};

void PrintTo(const CidCase& c, std::ostream* os) { *os << c.name; }

class FaultCidTest : public FaultFixture, public ::testing::WithParamInterface<CidCase> {};

// Channel 1 (motion only) streams too. Frames are not checked byte for byte
// here: a "Cid" read as 0 hands channel 0 channel 1's frames, and the
// frames dropped meanwhile leave gaps in the sequence numbers.
TEST_P(FaultCidTest, StreamMessagesWithASpoiledCidAndTheStreamComingBack) {
  const CidCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(OpenStreaming(kFaultSettings, false));
  ASSERT_TRUE(Start(1, handlers[1]));
  ASSERT_TRUE(handlers[1].WaitForFrames(1, 10s));

  simulator->SetCidFault(c.fault);
  // Frames in flight when the fault was switched on: let them pass.
  const std::uint64_t sent = simulator->TotalFramesSent();
  ASSERT_TRUE(Eventually([&] { return simulator->TotalFramesSent() >= sent + 10; }, 10s));
  const std::uint64_t zero = handlers[0].FrameCount();
  const std::uint64_t one = handlers[1].FrameCount();
  const std::uint64_t sentMark = simulator->TotalFramesSent();
  ASSERT_TRUE(Eventually([&] { return simulator->TotalFramesSent() >= sentMark + 20; }, 10s));
  if (c.readAsChannelZero) {
    EXPECT_GT(handlers[0].FrameCount(), zero);
  } else {
    EXPECT_EQ(handlers[0].FrameCount(), zero) << "a message for no channel reached channel 0";
  }
  EXPECT_EQ(handlers[1].FrameCount(), one) << "a spoiled Cid reached channel 1";

  simulator->SetCidFault(sim::CidFault::kNone);
  const std::uint64_t resumed = handlers[1].FrameCount();
  ASSERT_NO_FATAL_FAILURE(ExpectStreamResumes());
  EXPECT_TRUE(handlers[1].WaitForFrames(resumed + 2, 10s));
  const host::FrameInfo last = handlers[1].LastInfo();
  EXPECT_EQ(last.fourcc, kFourccJpeg);
  EXPECT_EQ(last.width, static_cast<std::uint32_t>(kFrameWidth));
  ASSERT_NO_FATAL_FAILURE(ExpectInputEventDelivered("in-2", false));
  CloseAndCheck();
}

INSTANTIATE_TEST_SUITE_P(Cids, FaultCidTest,
                         ::testing::Values(CidCase{"OutOfRange", sim::CidFault::kOutOfRange, false},
                                           CidCase{"NotNumeric", sim::CidFault::kNotNumeric, true}),
                         [](const ::testing::TestParamInfo<CidCase>& info) {
                           return std::string(info.param.name);
                         });
// A "Fourcc" header that is not a decimal number gives fourcc 0; the frame
// is still delivered whole and released. (The simulator cannot leave the
// "Size" or "Fourcc" header out.)
TEST_F(FaultFixture, FourccThatIsNotANumberStillDeliversWholeFrames) {
  sim::Scenario s = FaultScenario();
  s.video.fourcc_as_text = true;
  ASSERT_NO_FATAL_FAILURE(OpenFaultDevice(kFaultSettings, s));
  checkers[0].ExpectFourcc(0);
  checkers[0].Attach(handlers[0]);
  ASSERT_TRUE(WaitConnected());
  ASSERT_TRUE(Start(0, handlers[0]));
  ASSERT_TRUE(handlers[0].WaitForFrames(5, 10s));
  EXPECT_EQ(checkers[0].Bad(), 0u) << checkers[0].FirstProblem();
  CloseAndCheck();
}

}  // namespace
}  // namespace integration
}  // namespace strevon
