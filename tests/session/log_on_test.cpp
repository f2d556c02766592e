#include "infra/device_info.h"
#include "session/log_on.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway_simulator.h"
#include "infra/event.h"
#include "support/loopback_peer.h"
#include "support/messages.h"
#include "support/wait.h"

namespace quorvel {
namespace {

// Whole exchanges against the simulated Gateway, which checks the digest
// with its own implementation. A wait ends after the connection time-out
// (300 ms here) or at once when the abort event (the driver's Close) is set.
TEST(LogOnTest, OutcomesAgainstTheGateway) {
  struct Case {
    const char* label;
    std::string user, password;
    int level;
    std::string fault;    // "reset", or the command the Gateway never answers
    bool loggedOnBefore;  // by the same object
    bool abort;
    int expected;
  };
  const Case cases[] = {
      {"non-ascii password, level 2 agent", "operator", "p\xC3\xA4ssw\xC3\xB6rd", 2, "", false, false, 4},
      {"wrong password", "admin", "nimda", 3, "", false, false, 13},
      {"unknown user: refused by another word", "nobody", "x", 3, "", false, false, 13},
      {"empty password: no user/logon sent", "admin", "", 3, "", false, false, 14},
      {"authenticate unanswered", "admin", "admin", 3, "user/authenticate", false, false, 14},
      {"connection reset on authenticate", "admin", "admin", 3, "reset", false, false, 14},
      {"logon unanswered: the earlier status stands", "admin", "admin", 3, "user/logon", true, false, 4},
      {"logon aborted: the earlier status does not count", "admin", "admin", 3, "user/logon", true,
       true, 14},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    strevon::sim::GatewaySimulator sim;
    ASSERT_TRUE(sim.Start(0));
    DEVICE_INFO device = test_support::Loopback(sim.Port(), 300);
    device.userName = c.user;
    device.password = c.password;
    CGWClient client;
    ASSERT_TRUE(client.Connect(device));
    client.SetProtocolLevel(c.level);
    {
      CLogOn logOn(&client);
      ASSERT_TRUE(!c.loggedOnBefore || logOn.LogOn() == CLogOn::kLoggedOn);
      if (c.fault == "reset") sim.SetResetOn("user/authenticate", true);
      if (!c.fault.empty() && c.fault != "reset") sim.SetNeverAnswer(c.fault, true);
      CManualEvent abort;
      if (c.abort) abort.Set();
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(logOn.LogOn(&abort), c.expected);
      EXPECT_LT(test_support::ElapsedMs(start), c.abort ? 200 : 3000);
      if (c.expected == CLogOn::kLoggedOn) {
        EXPECT_EQ(logOn.GetMaxRealtimeStreams(), 4u);
        EXPECT_EQ(logOn.GetProfileNames(), std::vector<std::string>{"service"});
      }
    }
    auto auth = sim.WaitForRequest("user/authenticate");
    ASSERT_TRUE(auth.has_value());
    EXPECT_EQ(auth->raw_text, "user/authenticate?user-agent=Gateway%20SDK%20%2F%20Kalmeno%20" +
                                  std::string(c.level == 2 ? "2.0" : "3.0"));
    const bool logonSent = !c.password.empty() && c.fault != "user/authenticate" && c.fault != "reset";
    ASSERT_EQ(sim.CountRequests("user/logon") > 0, logonSent);
    if (logonSent) {
      EXPECT_EQ(sim.WaitForRequest("user/logon")->Param("uid"), c.user);
    }
    client.Disconnect();
  }
}

TEST(LogOnTest, GrantedStreamsAreALeadingCountThatNeitherWrapsNorGoesNegative) {
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"8 streams", 8}, {"+5", 5}, {"-5", 0}, {"2147483648", 2147483648u},
      {"4294967296", UINT32_MAX}, {"99999999999", UINT32_MAX}};
  for (const auto& c : cases) {
    CLogOn logOn(nullptr);
    ServerMessage reply = test_support::MakeServerMessage(
        {{"Response", "user/logon"}, {"Status", "LoggedIn"}},
        std::string("<Session><RealtimeStreams max=\"") + c.first + "\"/></Session>");
    logOn.ProcessServerMessage(reply);
    EXPECT_EQ(logOn.GetMaxRealtimeStreams(), c.second) << c.first;
  }
}

}  // namespace
}  // namespace quorvel
