// What a bare client reads from the Gateway simulator for each fault it can
// inject (stdin command or scenario setting), how it stops with clients
// connected, and the process contract the scripts rely on.
#include "gateway_simulator.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "frame_stamp.h"
#include "request_codec.h"
#include "sim_commands.h"
#include "support/process.h"
#include "support/wait.h"

namespace strevon {
namespace sim {
namespace {

using Ms = std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

std::string Le32(std::uint32_t n) {
  return {static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16), static_cast<char>(n >> 24)};
}
std::uint32_t U32(const std::string& b) {
  std::uint32_t n = 0;
  for (std::size_t i = b.size(); i > 0; --i) n = n << 8 | static_cast<unsigned char>(b[i - 1]);
  return n;
}
std::string Marker() { return Le32(7) + "Message" + Le32(0); }

struct Message {
  std::string header_text;
  std::string body;
  // The value of the last "Name: value" line with this name; nullopt when none.
  std::optional<std::string> Find(const std::string& name) const {
    std::optional<std::string> value;
    for (std::size_t pos = 0, eol; (eol = header_text.find("\r\n", pos)) != std::string::npos && eol != pos;
         pos = eol + 2) {
      if (header_text.compare(pos, name.size() + 1, name + ":") != 0) continue;
      value = header_text.substr(pos + name.size() + 1, eol - pos - name.size() - 1);
      value->erase(0, value->find_first_not_of(' '));
    }
    return value;
  }
  std::string Get(const std::string& name) const { return Find(name).value_or(""); }
};

enum class ReadEnd { kNone, kTimeout, kEof, kReset, kError, kBadMarker };

class Client {
 public:
  Client() = default;
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  ~Client() { ::close(fd_); }

  int Connect(std::uint16_t port) {  // 0, or the errno of connect
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 ? 0 : errno;
  }
  // One request frame: its length as u32 little-endian, then the text.
  bool Send(const std::string& text) {
    const std::string frame = Le32(static_cast<std::uint32_t>(text.size())) + text;
    return ::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size());
  }
  // Exactly n bytes, or "" when they did not all come in time.
  std::string ReadBytes(std::size_t n) {
    std::string out;
    return ReadExact(n, Clock::now() + Ms(3000), &out) ? out : std::string();
  }
  // The next whole message, or the next with this "Response" (the others are
  // dropped). Each begins with the start marker exactly: the simulator sends
  // no stray bytes unless told to.
  std::optional<Message> Read(const std::string& response = "", Ms timeout = Ms(3000)) {
    const auto deadline = Clock::now() + timeout;
    for (std::string b;;) {
      Message m;
      if (!ReadExact(15, deadline, &b)) return std::nullopt;
      end_ = b == Marker() ? end_ : ReadEnd::kBadMarker;
      if (b != Marker() || !ReadExact(4, deadline, &b) || !ReadExact(U32(b), deadline, &m.header_text) ||
          !ReadExact(4, deadline, &b) || !ReadExact(U32(b), deadline, &m.body)) {
        return std::nullopt;
      }
      if (response.empty() || m.Get("Response") == response) return m;
    }
  }
  ReadEnd ReadToEnd() {
    std::string b;
    for (const auto deadline = Clock::now() + Ms(3000); ReadExact(1 << 16, deadline, &b);) {
    }
    return end_;
  }
  ReadEnd LastEnd() const { return end_; }

 private:
  bool ReadExact(std::size_t n, Clock::time_point deadline, std::string* out) {
    for (out->clear(); out->size() < n;) {
      const auto left = std::chrono::duration_cast<Ms>(deadline - Clock::now()).count();
      pollfd p = {fd_, POLLIN, 0};
      if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
        end_ = ReadEnd::kTimeout;
        return false;
      }
      char buf[1 << 16];
      const ssize_t got = ::recv(fd_, buf, std::min(sizeof(buf), n - out->size()), 0);
      if (got <= 0) {
        end_ = got == 0 ? ReadEnd::kEof : errno == ECONNRESET ? ReadEnd::kReset : ReadEnd::kError;
        return false;
      }
      out->append(buf, static_cast<std::size_t>(got));
    }
    return true;
  }

  int fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ReadEnd end_ = ReadEnd::kNone;
};

constexpr char kSubscribe[] =
    "video/realtime/subscribe?gid=1&cid=1&pid=cam-1&format=JPEG&type=FullRate&width=640&height=480&starttime=1";
constexpr char kProfile[] = "user/profile?name=service";

Scenario FastSite() {
  Scenario s = DefaultScenario();
  s.video.render_jpeg = false;
  s.video.jpeg_size = 4096;
  s.video.fps = 50;
  return s;
}

bool LogOn(Client& c, std::uint16_t port) {
  if (c.Connect(port) != 0 || !c.Send("user/authenticate?user-agent=test")) return false;
  const auto auth = c.Read("user/authenticate");
  const std::string digest = auth ? ComputeLogonDigest("admin", auth->Get("DigestKey")) : "";
  return auth && c.Send("user/logon?uid=admin&pass=" + digest) &&
         c.Read("user/logon").value_or(Message{}).Get("Status") == "LoggedIn";
}

Message Next(Client& c, const char* response, bool skip = false) {
  const auto m = c.Read(skip ? response : "");
  EXPECT_TRUE(m) << "no " << response << "; ended " << static_cast<int>(c.LastEnd());
  EXPECT_EQ(response, m.value_or(Message{}).Get("Response"));
  return m.value_or(Message{});
}

void ExpectFrame(Client& c, const char* cid, const char* status, bool size, bool fourcc) {
  const Message f = Next(c, "video/stream", true);
  EXPECT_EQ(cid, f.Get("Cid"));
  EXPECT_EQ(status, f.Get("Status"));
  EXPECT_EQ(size, f.Find("Size").has_value()) << f.header_text;
  EXPECT_EQ(fourcc, f.Find("Fourcc").has_value()) << f.header_text;
  const bool ok = std::string(status) == "OK";  // a status word comes without a picture
  EXPECT_EQ(ok ? "640" : "", f.Get("Width"));
  EXPECT_EQ(ok ? 4096u : 0u, f.body.size());
}

void ExpectEnd(Client& c, ReadEnd end) {
  EXPECT_FALSE(c.Read());
  EXPECT_EQ(end, c.LastEnd());
}

void ExpectRefusal(GatewaySimulator& sim, bool reset) {
  EXPECT_TRUE(quorvel::test_support::WaitUntil([&] {
    Client late;
    const int error = late.Connect(sim.Port());
    if (!reset) return error == ECONNREFUSED;
    return error == 0 && late.Send("user/authenticate?user-agent=x") && late.ReadToEnd() == ReadEnd::kReset;
  }, 3000));
  RunCommand(sim, "refuse 0");
  EXPECT_TRUE(quorvel::test_support::WaitUntil([&] { return Client().Connect(sim.Port()) == 0; }, 3000));
}

struct FaultCase {
  const char* name;
  const char* faults;                 // the scenario's "faults" object, or ""
  std::vector<std::string> commands;  // stdin commands, after the log-on
  const char* request;                // sent after the commands, or ""
  void (*check)(GatewaySimulator&, Client&);
};

using Sim = GatewaySimulator;
const FaultCase kFaults[] = {
    {"JunkBeforeTheNextMarker", "", {"garbage 7", "ping"}, "", [](Sim&, Client& c) {
       EXPECT_EQ("junk\x01\xFE" "j", c.ReadBytes(7));
       Next(c, "ping");
     }},
    {"JunkBeforeEveryMessage", R"({"garbage_before_each": 3})", {"ping", "ping"}, "", [](Sim&, Client& c) {
       EXPECT_EQ("ZZZ", c.ReadBytes(3));
       Next(c, "ping");
       EXPECT_EQ("ZZZ", c.ReadBytes(3));
     }},
    {"OversizedHeaderBlock", "", {"header-length 600", "ping"}, "", [](Sim&, Client& c) {
       EXPECT_EQ(Marker() + Le32(600), c.ReadBytes(19));
       const std::string header = c.ReadBytes(600);
       EXPECT_EQ(0u, header.rfind("Response: ping\r\nX-Padding: ppp", 0));
       EXPECT_EQ("p\r\n\r\n" + Le32(0), header.substr(595) + c.ReadBytes(4));
       Next(c, "ping");
     }},
    {"BodyLengthPastTheLargestBlock", "", {"body-too-long", "ping"}, "", [](Sim&, Client& c) {
       const std::string header = "Response: video/stream\r\nCid: 0\r\nStatus: OK\r\n\r\n";
       EXPECT_EQ(Marker() + Le32(header.size()) + header + Le32(0x100000), c.ReadBytes(23 + header.size()));
       Next(c, "ping");  // no body bytes came
     }},
    {"ResetInsideAHeader", "", {"reset-mid-header"}, "", [](Sim&, Client& c) { ExpectEnd(c, ReadEnd::kReset); }},
    {"ResetInsideABody", "", {"reset-mid-body"}, "", [](Sim&, Client& c) { ExpectEnd(c, ReadEnd::kReset); }},
    {"ResetAfterThreeFrames", "", {"reset-after-frames 3"}, kSubscribe, [](Sim& sim, Client& c) {
       int frames = 0;
       while (c.Read("video/stream")) ++frames;
       EXPECT_EQ(ReadEnd::kReset, c.LastEnd());
       EXPECT_EQ(3, frames);
       EXPECT_EQ(3u, sim.FramesSent(1));
     }},
    {"ResetAfterATime", "", {"reset-after-ms 50"}, "", [](Sim&, Client& c) { ExpectEnd(c, ReadEnd::kReset); }},
    {"ResetNow", "", {"reset"}, "", [](Sim&, Client& c) { ExpectEnd(c, ReadEnd::kReset); }},
    {"OrderlyClose", "", {"close"}, "", [](Sim&, Client& c) { ExpectEnd(c, ReadEnd::kEof); }},
    {"ResetAnswersACommand", R"({"reset_on": ["user/profile"]})", {}, kProfile,
     [](Sim&, Client& c) { ExpectEnd(c, ReadEnd::kReset); }},
    {"CloseAnswersACommand", R"({"close_on": ["user/profile"]})", {}, kProfile,
     [](Sim&, Client& c) { ExpectEnd(c, ReadEnd::kEof); }},
    {"MalformedXmlReply", "", {"xml user/profile malformed"}, kProfile, [](Sim&, Client& c) {
       const std::string body = Next(c, "user/profile", true).body;
       EXPECT_EQ(body.size() - 11, body.rfind("<<&unclosed"));
       EXPECT_EQ(std::string::npos, body.find("</Profile>"));
     }},
    {"EmptyXmlReply", "", {"xml * empty"}, kProfile,
     [](Sim&, Client& c) { EXPECT_EQ("", Next(c, "user/profile", true).body); }},
    {"HugeXmlReply", "", {"xml user/profile huge"}, kProfile, [](Sim&, Client& c) {
       const std::string body = Next(c, "user/profile", true).body;
       EXPECT_EQ(1000000u, body.size());  // within the largest block, far past any real reply
       EXPECT_LT(body.find("</Padding>"), body.rfind("</Profile>"));
     }},
    {"CidNotNumeric", "", {"cid-fault not-numeric"}, kSubscribe,
     [](Sim&, Client& c) { ExpectFrame(c, "ch1", "OK", true, true); }},
    {"CidOutOfRange", "", {"cid-fault out-of-range"}, kSubscribe,
     [](Sim&, Client& c) { ExpectFrame(c, "100001", "OK", true, true); }},
    {"SizeOmitted", "", {"omit-headers size"}, kSubscribe, [](Sim&, Client& c) { ExpectFrame(c, "1", "OK", false, true); }},
    {"FourccOmitted", R"({"omit_headers": "fourcc"})", {}, kSubscribe,
     [](Sim&, Client& c) { ExpectFrame(c, "1", "OK", true, false); }},
    {"SizeAndFourccOmitted", "", {"omit-headers both"}, kSubscribe,
     [](Sim&, Client& c) { ExpectFrame(c, "1", "OK", false, false); }},
    {"StreamStatusWord", "", {"status 1 NoSignal"}, kSubscribe,
     [](Sim&, Client& c) { ExpectFrame(c, "1", "NoSignal", false, false); }},
    {"StalledStream", "", {"stall 1"}, kSubscribe, [](Sim& sim, Client& c) {
       EXPECT_EQ("OK", Next(c, "video/realtime/subscribe", true).Get("Status"));
       EXPECT_FALSE(c.Read("video/stream", Ms(200)));  // ten frames' time
       EXPECT_EQ(ReadEnd::kTimeout, c.LastEnd());
       RunCommand(sim, "unstall 1");
       const std::string body = Next(c, "video/stream", true).body;
       FrameStamp stamp;
       ASSERT_TRUE(ReadFrameStamp(reinterpret_cast<const unsigned char*>(body.data()), body.size(), &stamp));
       EXPECT_EQ(0u, stamp.sequence);  // held frames are not counted
     }},
    {"PeriodicPing", R"({"ping_interval_ms": 20})", {}, "", [](Sim&, Client& c) { Next(c, "ping"); }},
    {"SlowWriterStillSendsWholeMessages", "", {"slow on", "ping"}, "", [](Sim&, Client& c) { Next(c, "ping"); }},
    {"TrickleStillSendsWholeMessages", R"({"trickle_ms": 2})", {"ping"}, "", [](Sim&, Client& c) { Next(c, "ping"); }},
    {"DelayedReplyComesAfterLaterMessages", "", {"delay user/profile 200"}, kProfile, [](Sim& sim, Client& c) {
       ASSERT_TRUE(sim.WaitForRequest("user/profile"));
       RunCommand(sim, "ping");
       Next(c, "ping");
       Next(c, "user/profile");
     }},
    {"RefusedByClosingTheListener", "", {"refuse 60"}, "", [](Sim& sim, Client&) { ExpectRefusal(sim, false); }},
    {"RefusedByAcceptAndReset", "", {"refuse 60 reset"}, "", [](Sim& sim, Client&) { ExpectRefusal(sim, true); }},
};

class FaultOnTheWire : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultOnTheWire, ReachesABareClient) {
  const FaultCase& c = GetParam();
  GatewaySimulator sim(FastSite());
  ASSERT_TRUE(sim.Start());
  Client client;
  ASSERT_TRUE(LogOn(client, sim.Port()));
  if (*c.faults != '\0') {
    Scenario s;
    std::string error;
    ASSERT_TRUE(ParseScenarioJson(std::string("{\"faults\": ") + c.faults + "}", FastSite(), &s, &error)) << error;
    sim.SetFaults(s.faults);
  }
  for (const std::string& command : c.commands) {
    ASSERT_EQ(0u, RunCommand(sim, command).reply.rfind("ok", 0)) << command;
  }
  ASSERT_TRUE(*c.request == '\0' || client.Send(c.request));
  c.check(sim, client);
}

INSTANTIATE_TEST_SUITE_P(Sim, FaultOnTheWire, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

TEST(GatewaySimulatorTest, StopEndsPromptlyAndClosesConnectedClients) {
  GatewaySimulator sim(FastSite());
  ASSERT_TRUE(sim.Start());
  Client streaming, idle;
  ASSERT_TRUE(LogOn(streaming, sim.Port()));
  ASSERT_EQ(0, idle.Connect(sim.Port()));
  ASSERT_TRUE(streaming.Send(kSubscribe));
  ASSERT_TRUE(streaming.Read("video/stream"));
  ASSERT_TRUE(sim.WaitForActiveConnections(2, Ms(2000)));
  const auto start = Clock::now();
  sim.Stop();
  EXPECT_LT(quorvel::test_support::ElapsedMs(start), 3000);
  EXPECT_EQ(0u, sim.ActiveConnections());
  const ReadEnd end = idle.ReadToEnd();
  EXPECT_TRUE(end == ReadEnd::kEof || end == ReadEnd::kReset) << static_cast<int>(end);
  sim.Stop();
  EXPECT_NE(0, Client().Connect(sim.Port()));
}

// The contract of strevon-gateway-sim that the demo and fault scripts use.
TEST(GatewaySimulatorTest, ProcessAnnouncesItsPortObeysStdinAndStopsOnSigterm) {
  quorvel::test_support::ChildProcess sim(
      {STREVON_SIM_EXE, "--scenario", STREVON_SIM_SCENARIO_DIR "/example.json"});
  ASSERT_TRUE(sim.WaitForOutput("\n", Ms(5000))) << sim.Output();
  ASSERT_EQ(0u, sim.Output().rfind("listening 127.0.0.1 ", 0)) << sim.Output();
  Client client;
  ASSERT_EQ(0, client.Connect(static_cast<std::uint16_t>(std::stoi(sim.Output().substr(20)))));
  ASSERT_TRUE(client.Send("user/authenticate?user-agent=Gateway%20SDK"));
  ASSERT_TRUE(client.Read("user/authenticate"));
  ASSERT_TRUE(sim.Write("reset\n"));
  EXPECT_TRUE(sim.WaitForOutput("ok delivered to 1\n", Ms(5000))) << sim.Output();
  EXPECT_EQ(ReadEnd::kReset, client.ReadToEnd());
  sim.Signal(SIGTERM);
  EXPECT_EQ(0, sim.Wait(Ms(5000))) << sim.Output();
}

}  // namespace
}  // namespace sim
}  // namespace strevon
