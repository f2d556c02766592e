// Replies the driver cannot use: spoiled XML in the log-on, profile and PTZ
// property replies, stream messages whose "Cid" names no channel or is not a
// number, a "Fourcc" that is not a number, stream messages without their
// "Size" or "Fourcc" header. Nothing may crash or leak a frame, and once the
// Gateway answers properly again the driver is logged on, streams and moves
// the dome.
#include <mutex>
#include <string>
#include <vector>

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
// is still delivered whole and released. Leaving the header out altogether
// is covered by FaultHeaderTest below.
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


// How the driver described one delivered frame to the host, and whether the
// bytes it handed over were the simulator's frame, whole.
struct SeenFrame {
  std::uint32_t allocatedFourcc = 0;
  host::FrameInfo info;
  bool whole = false;
};

// Every frame of one channel as the host's callback saw it, on the receiver
// thread; read from the test thread.
class SeenFrames {
 public:
  explicit SeenFrames(std::uint32_t cid) : m_cid(cid) {}

  void Attach(host::FrameHandler& handler) {
    handler.SetHook([this](quorvel::ipcapture::ICaptureFrame* frame, const host::FrameInfo& info) {
      Record(frame, info);
      return true;
    });
  }

  std::vector<SeenFrame> All() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
  }

  template <typename Pred>
  std::size_t Count(Pred pred) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t n = 0;
    for (const SeenFrame& f : m_frames) n += pred(f) ? 1 : 0;
    return n;
  }

 private:
  void Record(quorvel::ipcapture::ICaptureFrame* frame, const host::FrameInfo& info) {
    SeenFrame seen;
    seen.info = info;
    const unsigned char* body = frame != nullptr ? frame->GetBuffer() : nullptr;
    if (frame != nullptr) seen.allocatedFourcc = static_cast<host::Frame*>(frame)->allocatedFourcc;
    sim::FrameStamp stamp;
    seen.whole = body != nullptr && info.finished && info.allocatedSize == info.dataSize &&
                 info.dataSize >= 4 && sim::ReadFrameStamp(body, info.dataSize, &stamp) &&
                 stamp.channel == m_cid && stamp.body_length == info.dataSize &&
                 stamp.kind == sim::kFrameKindJpeg && body[0] == 0xFF && body[1] == 0xD8 &&
                 body[info.dataSize - 2] == 0xFF && body[info.dataSize - 1] == 0xD9;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.push_back(seen);
  }

  const std::uint32_t m_cid;
  mutable std::mutex m_mutex;
  std::vector<SeenFrame> m_frames;
};

// What the driver tells the host about a frame.
struct Described {
  std::uint32_t fourcc;
  std::uint32_t width;
  std::uint32_t height;
  std::uint32_t sizeClass;

  bool Matches(const SeenFrame& f) const {
    return f.allocatedFourcc == fourcc && f.info.fourcc == fourcc && f.info.width == width &&
           f.info.height == height && f.info.sizeClass == sizeClass;
  }
};

constexpr Described kFullyDescribed = {kFourccJpeg, kFrameWidth, kFrameHeight, 3};

struct HeaderCase {
  const char* name;
  sim::OmittedHeaders omit;
  // A missing header reads as 0: fourcc 0, or a 0 x 0 picture (size class 1).
  Described described;
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

class FaultHeaderTest : public FaultFixture, public ::testing::WithParamInterface<HeaderCase> {};

// The driver does not refuse a frame whose message lacks "Size" or
// "Fourcc": it allocates, copies and hands it over whole, with the missing
// values as 0, and releases it. The channel stays online meanwhile, and
// frames with every value come back as soon as the headers do. The order
// of what the host sees is fixed: fully described frames, then only
// frames with the missing values, then only fully described ones again.
TEST_P(FaultHeaderTest, FramesWithoutSizeOrFourccAreDeliveredWholeUntilTheHeadersReturn) {
  const HeaderCase& c = GetParam();
  SeenFrames seen(0);
  DriverGuard guard(this);  // the hook uses seen
  ASSERT_NO_FATAL_FAILURE(OpenFaultDevice());
  ASSERT_TRUE(WaitConnected());
  seen.Attach(handlers[0]);
  ASSERT_TRUE(Start(0, handlers[0]));
  ASSERT_TRUE(handlers[0].WaitForFrames(3, 10s));
  ASSERT_TRUE(io->SetIOCallback(&ioCallback));
  ASSERT_TRUE(io->StartIO());

  auto count = [&](const Described& d) {
    return seen.Count([&](const SeenFrame& f) { return d.Matches(f); });
  };
  simulator->SetOmittedHeaders(c.omit);
  EXPECT_TRUE(Eventually([&] { return count(c.described) >= 10; }, 10s))
      << "no frames without the headers reached the host";
  EXPECT_EQ(Status(0), 0) << "channel not online while its frames lack headers";
  EXPECT_EQ(handlers[0].SignalLostCount(), 0u);

  const std::size_t fullBefore = count(kFullyDescribed);
  simulator->SetOmittedHeaders(sim::OmittedHeaders::kNone);
  EXPECT_TRUE(Eventually([&] { return count(kFullyDescribed) >= fullBefore + 10; }, 10s))
      << "fully described frames did not come back";

  // full+, missing+, full+: nothing in between, nothing out of order.
  std::vector<int> runs;
  const std::vector<SeenFrame> all = seen.All();
  std::size_t broken = 0;
  for (const SeenFrame& f : all) {
    if (!f.whole) ++broken;
    const int kind = kFullyDescribed.Matches(f) ? 0 : c.described.Matches(f) ? 1 : 2;
    if (runs.empty() || runs.back() != kind) runs.push_back(kind);
  }
  EXPECT_EQ(runs, (std::vector<int>{0, 1, 0})) << "frame kinds in order (0 full, 1 without "
                                               << c.name << ", 2 other) over " << all.size()
                                               << " frames";
  EXPECT_EQ(broken, 0u) << "frames not delivered whole";
  EXPECT_EQ(Status(0), 0);
  ASSERT_NO_FATAL_FAILURE(ExpectInputEventDelivered("in-1", false));
  CloseAndCheck();
}

INSTANTIATE_TEST_SUITE_P(
    Omitted, FaultHeaderTest,
    ::testing::Values(HeaderCase{"Size", sim::OmittedHeaders::kSize, {kFourccJpeg, 0, 0, 1}},
                      HeaderCase{"Fourcc", sim::OmittedHeaders::kFourcc,
                                 {0, kFrameWidth, kFrameHeight, 3}},
                      HeaderCase{"SizeAndFourcc", sim::OmittedHeaders::kBoth, {0, 0, 0, 1}}),
    [](const ::testing::TestParamInfo<HeaderCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace integration
}  // namespace strevon
