// The Kalmeno version probe against a scripted Gateway: framing with and
// without the start marker, pings before the reply, the bound on them, and
// an abort while the Gateway is silent.
#include "driver/kalmeno_probe.h"

#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "gateway/loopback_peer.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using testing_support::Append;
using testing_support::LoopbackListener;
using testing_support::LoopbackPeer;
using testing_support::ServerFrame;

const std::string kReply3 =
    "Response: user/authenticate\r\nDigestKey: 0a1b\r\nServer: Gateway / Kalmeno 3.0\r\n";
const std::string kReply2 = "Response: user/authenticate\r\nDigestKey: 0a1b\r\n";
const std::string kPing = "Response: ping\r\n";

DEVICE_INFO DeviceOn(std::uint16_t port) {
  DEVICE_INFO device;
  device.address = "127.0.0.1";
  device.port = port;
  return device;
}

// Accepts one connection, checks the request, writes the script.
std::string ServeOnce(LoopbackListener& listener, const std::vector<char>& script) {
  LoopbackPeer peer = listener.Accept(10000);
  if (!peer.IsOpen()) return "no connection";
  std::string request;
  if (!peer.ReadRequest(request, 10000)) return "no request";
  if (!script.empty() && !peer.Write(script)) return "write failed";
  // Held open until the probe has read and closed its side.
  peer.WaitForClose(10000);
  return request;
}

TEST(KalmenoProbeTest, VersionFromTheReplyHeaders) {
  const std::vector<std::pair<std::string, int>> cases = {
      {kReply3, 3},
      {"Server: Gateway / Kalmeno 4.1\r\nResponse: user/authenticate\r\n", 4},
      {kReply2, 2},
      {"Response: user/logon\r\nStatus: LoggedIn\r\n", 0},
      {"Server: Gateway / Kalmeno x\r\nResponse: user/authenticate\r\n", 0},
      {"", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    EXPECT_EQ(CKalmenoProbe::VersionFromHeaderText(c.first), c.second);
  }
}

std::vector<char> Pings(int count, bool withMarker) {
  std::vector<char> out;
  for (int i = 0; i < count; ++i) Append(out, ServerFrame(kPing, "", withMarker));
  return out;
}

TEST(KalmenoProbeTest, ReadsWholeMessagesWithOrWithoutTheMarker) {
  struct Case {
    const char* name;
    std::vector<char> script;
    int version;
  };
  std::vector<char> garbageFirst = {'x', 'y', 0x07, 0x00};
  Append(garbageFirst, ServerFrame(kReply3, "<Body/>"));
  std::vector<char> pingsThenReply = Pings(3, true);
  Append(pingsThenReply, ServerFrame(kReply3));
  std::vector<char> markerlessPings = Pings(2, false);
  Append(markerlessPings, ServerFrame(kReply2, "", false));
  std::vector<char> lastPass = Pings(CKalmenoProbe::kMaxPasses - 1, true);
  Append(lastPass, ServerFrame(kReply3));
  std::vector<char> beyondBound = Pings(CKalmenoProbe::kMaxPasses, true);
  Append(beyondBound, ServerFrame(kReply3));

  const std::vector<Case> cases = {
      {"marker", ServerFrame(kReply3), 3},
      {"no marker, no version", ServerFrame(kReply2, "", false), 2},
      {"bytes before the marker", garbageFirst, 3},
      {"pings first", pingsThenReply, 3},
      {"pings without marker", markerlessPings, 2},
      {"reply as the last pass", lastPass, 3},
      {"only pings within the bound", beyondBound, 0},
      {"header block too long", ServerFrame("Response: user/authenticate\r\nX: " +
                                            std::string(600, 'a') + "\r\n"),
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackListener listener;
    ASSERT_NE(listener.Port(), 0);
    auto served = std::async(std::launch::async, [&] { return ServeOnce(listener, c.script); });
    CKalmenoProbe probe;
    EXPECT_EQ(probe.Run(DeviceOn(listener.Port())), c.version);
    EXPECT_EQ(served.get(), "user/authenticate?user-agent=Gateway%20SDK%20%2F%20Kalmeno%203.0");
  }
}

TEST(KalmenoProbeTest, ClosedConnectionOrNoListenerGivesZero) {
  {
    LoopbackListener listener;
    auto served = std::async(std::launch::async, [&] {
      LoopbackPeer peer = listener.Accept(10000);
      std::string request;
      peer.ReadRequest(request, 10000);
      peer.Close();
    });
    CKalmenoProbe probe;
    EXPECT_EQ(probe.Run(DeviceOn(listener.Port())), 0);
    served.get();
  }
  DEVICE_INFO device = DeviceOn(testing_support::ClosedLoopbackPort());
  device.connectTimeout = 300;
  CKalmenoProbe probe;
  EXPECT_EQ(probe.Run(device), 0);
}

TEST(KalmenoProbeTest, AbortEndsTheWaitForASilentGateway) {
  LoopbackListener listener;
  CManualEvent abort;
  auto served = std::async(std::launch::async, [&] {
    LoopbackPeer peer = listener.Accept(10000);
    std::string request;
    peer.ReadRequest(request, 10000);
    abort.Set();  // the probe is now waiting for a reply that never comes
    peer.WaitForClose(10000);
  });
  CKalmenoProbe probe(&abort);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(probe.Run(DeviceOn(listener.Port())), 0);
  // Without the abort the read would wait its full 5 s.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  served.get();
}

}  // namespace
}  // namespace quorvel
