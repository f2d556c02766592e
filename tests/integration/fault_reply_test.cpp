// Replies the driver cannot use: nothing may crash or leak a frame, and once
// the Gateway answers properly the driver streams and moves the dome.
#include <array>

#include "integration_fixture.h"

namespace strevon {
namespace integration {
namespace {

using FaultReplyTest = IntegrationFixture;

// Each spoiling in turn of the replies one exchange meets, in order: a
// connect sequence forced by a reset, or a preset refresh of the dome. A
// reply is answered properly once its spoiled form was met, so a driver
// that gives up meets the next one on its retry. "Resilient" is on: the
// stream subscribed anew marks a completed log-on.
TEST_F(FaultReplyTest, SpoiledReplyCostsNothingOnceTheGatewayAnswersProperly) {
  ASSERT_NO_FATAL_FAILURE(OpenStreaming(WithResilience(kMotionOnChannelOne)));
  for (const std::vector<std::string>& commands :
       {std::vector<std::string>{"user/logon", "user/profile"}, std::vector<std::string>{"camera/ptz/takeover"}}) {
    const bool ptzReply = commands.front() == "camera/ptz/takeover";
    for (const sim::XmlFault fault : {sim::XmlFault::kMalformed, sim::XmlFault::kEmpty, sim::XmlFault::kHuge}) {
      SCOPED_TRACE(commands.front() + " fault " + std::to_string(static_cast<int>(fault)));
      std::uint64_t from = Mark();
      for (const std::string& command : commands) simulator->SetXmlFault(command, fault);
      if (ptzReply) {
        ASSERT_NO_FATAL_FAILURE(ExpectPtzReachesGateway());
        ptz->GetPTZApiEx(1)->RefreshPresets();
      } else {
        ASSERT_GE(simulator->ResetConnections(), 1u);
      }
      for (const std::string& command : commands) {
        const auto spoiled = simulator->WaitForRequest(command, nullptr, kReconnectBound, from);
        ASSERT_TRUE(spoiled.has_value()) << command;
        simulator->SetXmlFault(command, sim::XmlFault::kNone);
        from = spoiled->index;
      }
      EXPECT_TRUE(ptzReply || WaitForChannelRequest("video/realtime/subscribe", 0, from).has_value());
    }
  }
  ASSERT_NO_FATAL_FAILURE(ExpectStreamResumes());
  ASSERT_NO_FATAL_FAILURE(ExpectPtzReachesGateway());
  CloseAndCheck();
}

// Channel 1 (motion only) streams too. Frames are not checked byte for byte
// here: a "Cid" read as 0 hands channel 0 channel 1's frames.
TEST_F(FaultReplyTest, StreamMessagesWithASpoiledCidReachNoOtherChannel) {
  ASSERT_NO_FATAL_FAILURE(Open(TwoCameras(), kMotionOnChannelOne));
  ASSERT_TRUE(io->SetIOCallback(&ioCallback));
  ASSERT_TRUE(io->StartIO());
  ASSERT_NO_FATAL_FAILURE(StartChannels({0, 1}));
  // A "Cid" that is not a number reads as 0; one out of range reaches no one.
  for (const sim::CidFault fault : {sim::CidFault::kOutOfRange, sim::CidFault::kNotNumeric}) {
    SCOPED_TRACE(fault == sim::CidFault::kNotNumeric ? "not numeric" : "out of range");
    simulator->SetCidFault(fault);
    // Frames in flight when the fault was switched on pass first.
    const std::uint64_t sent = simulator->TotalFramesSent();
    ASSERT_TRUE(WaitUntil([&] { return simulator->TotalFramesSent() >= sent + 5; }));
    const std::uint64_t zero = handlers[0].FrameCount();
    const std::uint64_t one = handlers[1].FrameCount();
    const std::uint64_t sentMark = simulator->TotalFramesSent();
    ASSERT_TRUE(WaitUntil([&] { return simulator->TotalFramesSent() >= sentMark + 10; }));
    EXPECT_EQ(handlers[0].FrameCount() > zero, fault == sim::CidFault::kNotNumeric);
    EXPECT_EQ(handlers[1].FrameCount(), one) << "a spoiled Cid reached channel 1";
    simulator->SetCidFault(sim::CidFault::kNone);
    EXPECT_TRUE(handlers[1].WaitForFrames(handlers[1].FrameCount() + 2, 10s));
    EXPECT_TRUE(handlers[0].WaitForFrames(handlers[0].FrameCount() + 3, kRecoveryBound));
  }
  EXPECT_EQ(handlers[1].LastInfo().fourcc, kFourccJpeg);
  EXPECT_EQ(handlers[1].LastInfo().width, static_cast<std::uint32_t>(kFrameWidth));
  EXPECT_TRUE(InputEventReachesHost("in-2"));
  CloseAndCheck();
}

// The driver does not refuse a frame whose message lacks "Size" or
// "Fourcc": it hands it over whole with the missing values as 0 (a 0 x 0
// picture is size class 1), the channel stays online, and fully described
// frames come back with the headers, in that order and nothing in between.
TEST_F(FaultReplyTest, FramesWithoutSizeOrFourccAreDeliveredWholeUntilTheHeadersReturn) {
  using Told = std::array<std::uint32_t, 4>;  // fourcc, width, height, size class
  const Told full = {kFourccJpeg, kFrameWidth, kFrameHeight, 3};
  const struct {
    const char* name;
    sim::OmittedHeaders omit;
    Told told;
  } cases[] = {{"Size", sim::OmittedHeaders::kSize, {kFourccJpeg, 0, 0, 1}},
               {"Fourcc", sim::OmittedHeaders::kFourcc, {0, kFrameWidth, kFrameHeight, 3}},
               {"Size and Fourcc", sim::OmittedHeaders::kBoth, {0, 0, 0, 1}}};
  std::atomic<int> broken{0};
  DriverGuard guard{this};
  ASSERT_NO_FATAL_FAILURE(Open(TwoCameras()));
  handlers[0].SetKeepHistory(true);
  handlers[0].SetHook([&](quorvel::ipcapture::ICaptureFrame* frame, const host::FrameInfo& info) {
    const unsigned char* body = frame != nullptr ? frame->GetBuffer() : nullptr;
    sim::FrameStamp stamp;
    const bool whole = body != nullptr && info.finished && info.dataSize == info.allocatedSize &&
                       static_cast<host::Frame*>(frame)->allocatedFourcc == info.fourcc &&
                       sim::ReadFrameStamp(body, info.dataSize, &stamp) && stamp.channel == 0 &&
                       stamp.body_length == info.dataSize && body[0] == 0xFF && body[1] == 0xD8 &&
                       body[info.dataSize - 2] == 0xFF && body[info.dataSize - 1] == 0xD9;
    broken += whole ? 0 : 1;
    return true;
  });
  // What the host was told, frame by frame, repeats folded: 0 fully
  // described, 1 + the case's index, -1 anything else.
  const auto runs = [&] {
    std::vector<int> out;
    for (const host::FrameInfo& f : handlers[0].History()) {
      const Told told = {f.fourcc, f.width, f.height, f.sizeClass};
      int kind = told == full ? 0 : -1;
      for (int i = 0; i < 3; ++i) kind = told == cases[i].told ? 1 + i : kind;
      if (out.empty() || out.back() != kind) out.push_back(kind);
    }
    return out;
  };
  ASSERT_TRUE(Start(0));
  ASSERT_TRUE(WaitUntil([&] { return !runs().empty(); }));
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(cases[i].name);
    simulator->SetOmittedHeaders(cases[i].omit);
    EXPECT_TRUE(WaitUntil([&] { return runs().back() == 1 + i; })) << "no frames without the headers";
    EXPECT_EQ(Status(0), 0) << "channel not online while its frames lack headers";
    simulator->SetOmittedHeaders(sim::OmittedHeaders::kNone);
    EXPECT_TRUE(WaitUntil([&] { return runs().back() == 0; })) << "fully described frames did not return";
  }
  EXPECT_EQ(runs(), (std::vector<int>{0, 1, 0, 2, 0, 3, 0}));
  EXPECT_EQ(broken.load(), 0) << "frames not delivered whole";
  EXPECT_EQ(handlers[0].SignalLostCount(), 0u);
  CloseAndCheck();
}

}  // namespace
}  // namespace integration
}  // namespace strevon
