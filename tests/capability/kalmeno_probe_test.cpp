// The Kalmeno version probe against a scripted Gateway.
#include "capability/kalmeno_probe.h"

#include <chrono>
#include <climits>
#include <future>

#include <gtest/gtest.h>

#include "infra/device_info.h"
#include "sim_commands.h"
#include "support/loopback_peer.h"
#include "support/wait.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using test_support::Append;
using test_support::LoopbackListener;
using test_support::ServerFrame;

const std::string kReply3 =
    "Response: user/authenticate\r\nDigestKey: 0a1b\r\nServer: Gateway / Kalmeno 3.0\r\n";
const std::string kReply2 = "Response: user/authenticate\r\nDigestKey: 0a1b\r\n";

// The probe waits as long as a device's default connect time-out allows.
DEVICE_INFO DeviceOn(std::uint16_t port) { return test_support::Loopback(port, 5000); }

// Accepts one connection and reads the request; then writes the script and
// holds the connection until the probe closes its side, or with no script
// closes it at once.
std::string ServeOnce(LoopbackListener& listener, const std::vector<char>& script,
                      CManualEvent* requested = nullptr) {
  auto peer = listener.Accept(10000);
  std::string request;
  if (!peer.IsOpen() || !peer.ReadRequest(request, 10000)) return "no request";
  if (requested != nullptr) requested->Set();
  if (script.empty() && requested == nullptr) return request;
  if (!peer.Write(script)) return "write failed";
  peer.WaitForClose(10000);
  return request;
}

std::vector<char> AfterPings(int count, bool withMarker, std::vector<char> last) {
  std::vector<char> out;
  for (int i = 0; i < count; ++i) Append(out, ServerFrame("Response: ping\r\n", "", withMarker));
  Append(out, last);
  return out;
}

TEST(KalmenoProbeTest, ReadsTheVersionFromWholeMessagesWithOrWithoutTheMarker) {
  struct Case {
    const char* name;
    std::vector<char> script;
    int version;
  };
  std::vector<char> garbageFirst = {'x', 'y', 0x07, 0x00};
  Append(garbageFirst, ServerFrame(kReply3, "<Body/>"));
  const int passes = CKalmenoProbe::kMaxPasses;
  const std::vector<Case> cases = {
      {"version first", ServerFrame("Server: Gateway / Kalmeno 4.1\r\nResponse: user/authenticate\r\n"), 4},
      {"version unreadable", ServerFrame("Server: Gateway / Kalmeno x\r\nResponse: user/authenticate\r\n"), 0},
      {"negative version", ServerFrame("Server: Gateway / Kalmeno -3\r\nResponse: user/authenticate\r\n"), 0},
      {"version past 31 bits", ServerFrame("Server: Gateway / Kalmeno 4294967297\r\n"), INT_MAX},
      {"not the authenticate reply", ServerFrame("Response: user/logon\r\nStatus: LoggedIn\r\n"), 0},
      {"bytes before the marker", garbageFirst, 3},
      {"pings without marker", AfterPings(2, false, ServerFrame(kReply2, "", false)), 2},
      {"reply as the last pass", AfterPings(passes - 1, true, ServerFrame(kReply3)), 3},
      {"only pings within the bound", AfterPings(passes, true, ServerFrame(kReply3)), 0},
      {"header block too long",
       ServerFrame("Response: user/authenticate\r\nX: " + std::string(600, 'a') + "\r\n"), 0},
      {"closed before a reply", {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackListener listener;
    auto served = std::async(std::launch::async, [&] { return ServeOnce(listener, c.script); });
    EXPECT_EQ(CKalmenoProbe().Run(DeviceOn(listener.Port())), c.version);
    EXPECT_EQ(served.get(), "user/authenticate?user-agent=Gateway%20SDK%20%2F%20Kalmeno%203.0");
  }
  DEVICE_INFO nobody = DeviceOn(test_support::ClosedLoopbackPort());
  nobody.connectTimeout = 300;
  EXPECT_EQ(CKalmenoProbe().Run(nobody), 0);
}

TEST(KalmenoProbeTest, AbortEndsTheWaitForASilentGateway) {
  LoopbackListener listener;
  CManualEvent abort;  // set once the probe waits for a reply that never comes
  auto served = std::async(std::launch::async, [&] { return ServeOnce(listener, {}, &abort); });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CKalmenoProbe(&abort).Run(DeviceOn(listener.Port())), 0);
  // Without the abort the read would wait its full 5 s.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  served.get();
}

// Each read stays inside the receive time-out, so only the probe's own
// deadline (connectTimeout plus the reply budget, 300 + 700 ms here) ends
// these: a whole reply would take 20 s, the pings 101 passes.
TEST(KalmenoProbeTest, DribblingGatewayIsGivenUpAtTheDeadline) {
  const std::vector<std::vector<std::string>> faults = {
      {"trickle 200"}, {"never user/authenticate", "ping-every 40"}};
  for (const auto& commands : faults) {
    SCOPED_TRACE(commands.back());
    strevon::sim::GatewaySimulator sim;
    ASSERT_TRUE(sim.Start(0));
    for (const std::string& command : commands) {
      ASSERT_EQ(strevon::sim::RunCommand(sim, command).reply.rfind("ok", 0), 0u);
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CKalmenoProbe(nullptr, 700).Run(test_support::Loopback(sim.Port(), 300)), 0);
    EXPECT_LT(test_support::ElapsedMs(start), 2500);
  }
}

}  // namespace
}  // namespace quorvel
