#include "session/log_on.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "infra/event.h"
#include "session/log_on_digest.h"
#include "session/session_test_support.h"

namespace quorvel {
namespace {

using session_test::MakeMessage;
using session_test::SimulatedGateway;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(LogOnTest, UserAgentFollowsProtocolLevel) {
  const std::pair<int, const char*> cases[] = {{4, "Gateway SDK / Kalmeno 3.0"},
                                               {3, "Gateway SDK / Kalmeno 3.0"},
                                               {2, "Gateway SDK / Kalmeno 2.0"},
                                               {0, "Gateway SDK / Kalmeno 2.0"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    EXPECT_EQ(CLogOn::UserAgent(c.first), c.second);
  }
}

TEST(LogOnTest, ResultForStatusIsExactAndCaseSensitive) {
  const std::pair<const char*, int> cases[] = {
      {"LoggedIn", CLogOn::kLoggedOn},       {"InvalidPassword", 13}, {"UserUnauthorized", 13},
      {"loggedin", CLogOn::kNotLoggedOn},    {"LoggedIn ", 14},       {"", 14},
      {"ProfileNotFound", 14}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    EXPECT_EQ(CLogOn::ResultForStatus(c.first), c.second);
  }
}

const char kSessionBody[] =
    "<Session user=\"admin\"><RealtimeStreams max=\"8 streams\"/>"
    "<Profiles><Name>service</Name><Name>night</Name></Profiles></Session>";

TEST(LogOnTest, LogonReplyTakesStatusAndSession) {
  CGWClient client;
  CLogOn logOn(&client);
  ServerMessage reply =
      MakeMessage({{"Response", "user/logon"}, {"Status", "LoggedIn"}}, kSessionBody);
  logOn.ProcessServerMessage(reply);
  EXPECT_EQ(logOn.GetStatus(), "LoggedIn");
  EXPECT_EQ(logOn.GetMaxRealtimeStreams(), 8u);
  EXPECT_EQ(logOn.GetProfileNames(), (std::vector<std::string>{"service", "night"}));
}

// Replies only overwrite: a reply without usable body leaves the session as
// the previous reply left it, while its status still counts.
TEST(LogOnTest, SessionFieldsAfterSecondReply) {
  struct Case {
    const char* label;
    std::string body;
    std::uint32_t max;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"no body: unchanged", "", 8, {"service", "night"}},
      {"not XML: unchanged", "<Session", 8, {"service", "night"}},
      {"max missing: 0", "<Session><RealtimeStreams/><Profiles><Name>a</Name></Profiles></Session>",
       0, {"a"}},
      {"no RealtimeStreams node: 0", "<Session/>", 0, {}},
      {"max with blanks and sign", "<Session><RealtimeStreams max=\"  +12x\"/></Session>", 12, {}},
      {"max not a number", "<Session><RealtimeStreams max=\"many\"/></Session>", 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    CGWClient client;
    CLogOn logOn(&client);
    ServerMessage first =
        MakeMessage({{"Response", "user/logon"}, {"Status", "LoggedIn"}}, kSessionBody);
    logOn.ProcessServerMessage(first);
    ServerMessage second =
        MakeMessage({{"Response", "user/logon"}, {"Status", "InvalidPassword"}}, c.body);
    logOn.ProcessServerMessage(second);
    EXPECT_EQ(logOn.GetStatus(), "InvalidPassword");
    EXPECT_EQ(logOn.GetMaxRealtimeStreams(), c.max);
    EXPECT_EQ(logOn.GetProfileNames(), c.names);
  }
}

TEST(LogOnTest, AuthenticateReplyTakesDigestKeyAndLogoffReplyChangesNothing) {
  CGWClient client;
  CLogOn logOn(&client);
  ServerMessage auth = MakeMessage({{"Response", "user/authenticate"}, {"DigestKey", "k123"}});
  logOn.ProcessServerMessage(auth);
  EXPECT_EQ(logOn.GetDigestKey(), "k123");
  ServerMessage logoff = MakeMessage({{"Response", "user/logoff"}, {"Status", "LoggedOut"}});
  logOn.ProcessServerMessage(logoff);
  EXPECT_EQ(logOn.GetDigestKey(), "k123");
  EXPECT_EQ(logOn.GetStatus(), "");
}

// Full exchanges against the simulated Gateway, which checks the digest with
// its own implementation.
TEST(LogOnTest, RoundTripResults) {
  struct Case {
    const char* label;
    std::string user;
    std::string password;
    int expected;
  };
  const Case cases[] = {
      {"ascii password", "admin", "admin", CLogOn::kLoggedOn},
      {"password with umlauts (UTF-16 digest)", "operator", "p\xC3\xA4ssw\xC3\xB6rd",
       CLogOn::kLoggedOn},
      {"wrong password", "admin", "nimda", CLogOn::kCredentialsRefused},
      {"unknown user", "nobody", "x", CLogOn::kCredentialsRefused},
      {"empty password: no user/logon sent", "admin", "", CLogOn::kNotLoggedOn},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    SimulatedGateway gateway;
    ASSERT_TRUE(gateway.Connect(c.user, c.password));
    CLogOn logOn(&gateway.client);
    EXPECT_EQ(logOn.LogOn(), c.expected);

    auto auth = gateway.sim.WaitForRequest("user/authenticate");
    ASSERT_TRUE(auth.has_value());
    EXPECT_EQ(auth->Param("user-agent"), "Gateway SDK / Kalmeno 3.0");
    EXPECT_NE(auth->raw_text.find("user-agent=Gateway%20SDK%20%2F%20Kalmeno%203.0"),
              std::string::npos)
        << auth->raw_text;
    if (c.password.empty()) {
      EXPECT_EQ(gateway.sim.CountRequests("user/logon"), 0u);
      continue;
    }
    auto logon = gateway.sim.WaitForRequest("user/logon");
    ASSERT_TRUE(logon.has_value());
    EXPECT_EQ(logon->Param("uid"), c.user);
    EXPECT_EQ(logon->Param("pass"), ComputeLogOnDigest(c.password, logOn.GetDigestKey()));
    if (c.expected == CLogOn::kLoggedOn) {
      EXPECT_EQ(logOn.GetMaxRealtimeStreams(), 4u);
      EXPECT_EQ(logOn.GetProfileNames(), std::vector<std::string>{"service"});
    }
  }
}

TEST(LogOnTest, UnansweredAuthenticateTimesOutWithoutLogon) {
  SimulatedGateway gateway;
  gateway.sim.SetNeverAnswer("user/authenticate", true);
  ASSERT_TRUE(gateway.Connect("admin", "admin", 300));
  CLogOn logOn(&gateway.client);
  const auto start = Clock::now();
  EXPECT_EQ(logOn.LogOn(), CLogOn::kNotLoggedOn);
  EXPECT_GE(MsSince(start), 290);
  EXPECT_LT(MsSince(start), 3000);
  EXPECT_EQ(gateway.sim.CountRequests("user/logon"), 0u);
}

// The driver's Close must not sit out an unanswered log-on.
TEST(LogOnTest, AbortEndsAnUnansweredLogOnEarly) {
  const char* commands[] = {"user/authenticate", "user/logon"};
  for (const char* command : commands) {
    SCOPED_TRACE(command);
    SimulatedGateway gateway;
    gateway.sim.SetNeverAnswer(command, true);
    ASSERT_TRUE(gateway.Connect("admin", "admin", 60000));
    CLogOn logOn(&gateway.client);
    CManualEvent abort;
    auto result = std::async(std::launch::async, [&] { return logOn.LogOn(&abort); });
    ASSERT_TRUE(gateway.sim.WaitForRequest(command).has_value());
    const auto start = Clock::now();
    abort.Set();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(result.get(), CLogOn::kNotLoggedOn);
    EXPECT_LT(MsSince(start), 2000);
  }
}

// An earlier "LoggedIn" must not make an aborted log-on look successful.
TEST(LogOnTest, AbortedLogonDoesNotReuseEarlierStatus) {
  SimulatedGateway gateway;
  ASSERT_TRUE(gateway.Connect("admin", "admin", 60000));
  CLogOn logOn(&gateway.client);
  ASSERT_EQ(logOn.LogOn(), CLogOn::kLoggedOn);
  gateway.sim.SetNeverAnswer("user/logon", true);
  CManualEvent abort;
  abort.Set();
  EXPECT_EQ(logOn.LogOn(&abort), CLogOn::kNotLoggedOn);
}

}  // namespace
}  // namespace quorvel
