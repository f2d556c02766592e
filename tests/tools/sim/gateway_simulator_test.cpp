// End-to-end tests of the simulated Gateway over real loopback sockets.
#include "gateway_simulator.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <pugixml.hpp>
#include <turbojpeg.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "frame_stamp.h"
#include "raw_client.h"

namespace strevon {
namespace sim {
namespace {

using test::Message;
using test::Ms;
using test::RawClient;
using test::ReadEnd;

constexpr std::uint32_t kFourccJpeg = 1195724874;  // 'J','P','E','G' as a little-endian u32
constexpr std::uint32_t kFourccH264 = 875967048;   // 'H','2','6','4'

// SHA-1 over UTF-16LE code units, hex lower case; written independently of
// the simulator's own digest code.
std::string Digest(const std::u16string& password, const std::string& key) {
  std::u16string text = password;
  for (char c : key) text.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  std::vector<unsigned char> bytes;
  for (char16_t u : text) {
    bytes.push_back(static_cast<unsigned char>(u & 0xFF));
    bytes.push_back(static_cast<unsigned char>(u >> 8));
  }
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EXPECT_EQ(1, EVP_Digest(bytes.data(), bytes.size(), md, &len, EVP_sha1(), nullptr));
  std::string hex;
  char buf[3];
  for (unsigned int i = 0; i < len; ++i) {
    std::snprintf(buf, sizeof(buf), "%02x", md[i]);
    hex += buf;
  }
  return hex;
}

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Scenario s = DefaultScenario();
    s.video.render_jpeg = false;
    s.video.jpeg_size = 4096;
    s.video.native_size = 2048;
    s.video.fps = 50;
    Configure(s);
    sim_ = std::make_unique<GatewaySimulator>(s);
    std::string error;
    ASSERT_TRUE(sim_->Start(0, &error)) << error;
  }

  virtual void Configure(Scenario&) {}

  void Connect(RawClient& c) { ASSERT_EQ(0, c.Connect(sim_->Port())); }

  std::optional<Message> Authenticate(RawClient& c, bool marker = true) {
    EXPECT_TRUE(c.Send("user/authenticate?user-agent=Gateway%20SDK%20%2F%20Kalmeno%203.0"));
    return c.ReadResponse("user/authenticate", Ms(3000), marker);
  }

  std::optional<Message> LogOn(RawClient& c, const std::string& user, const std::u16string& password,
                               bool marker = true) {
    auto auth = Authenticate(c, marker);
    if (!auth) return std::nullopt;
    const std::string digest = Digest(password, auth->Get("DigestKey"));
    EXPECT_TRUE(c.Send("user/logon?uid=" + user + "&pass=" + digest));
    return c.ReadResponse("user/logon", Ms(3000), marker);
  }

  void LogOnAdmin(RawClient& c, bool marker = true) {
    auto reply = LogOn(c, "admin", u"admin", marker);
    ASSERT_TRUE(reply);
    ASSERT_EQ("LoggedIn", reply->Get("Status"));
  }

  std::unique_ptr<GatewaySimulator> sim_;
};

TEST_F(SimTest, AuthenticateReplyIsMarkerFramedWithKeyAndVersion) {
  RawClient c;
  Connect(c);
  ASSERT_TRUE(c.Send("user/authenticate?user-agent=Gateway%20SDK%20%2F%20Kalmeno%203.0"));
  auto m = c.Read();  // Read() insists on the exact marker first
  ASSERT_TRUE(m) << "bad marker: " << c.BadMarker();
  EXPECT_EQ("user/authenticate", m->Get("Response"));
  const std::string key = m->Get("DigestKey");
  EXPECT_EQ(32u, key.size());
  EXPECT_EQ(std::string::npos, key.find_first_not_of("0123456789ABCDEF"));
  EXPECT_NE(std::string::npos, m->header_text.find("Kalmeno 3.0\r\n"));
  EXPECT_EQ("\r\n\r\n", m->header_text.substr(m->header_text.size() - 4));
  EXPECT_TRUE(m->body.empty());

  auto rec = sim_->WaitForRequest("user/authenticate", nullptr, Ms(2000));
  ASSERT_TRUE(rec);
  EXPECT_EQ("Gateway SDK / Kalmeno 3.0", rec->Param("user-agent"));

  // Every connection gets its own key.
  RawClient other;
  Connect(other);
  auto m2 = Authenticate(other);
  ASSERT_TRUE(m2);
  EXPECT_NE(key, m2->Get("DigestKey"));
}

TEST_F(SimTest, Level2HasNoMarkerAndNoVersion) {
  sim_->SetLevel2(true);
  RawClient c;
  Connect(c);
  ASSERT_TRUE(c.Send("user/authenticate?user-agent=Gateway%20SDK%20%2F%20Kalmeno%202.0"));
  std::vector<unsigned char> first;
  ASSERT_TRUE(c.ReadExact(4, test::Clock::now() + Ms(3000), &first));
  const std::uint32_t h = RawClient::U32(first);
  ASSERT_GT(h, 0u);
  ASSERT_LT(h, 512u);  // a header length, not the marker's leading 7 + "Mess"
  std::vector<unsigned char> header;
  ASSERT_TRUE(c.ReadExact(h, test::Clock::now() + Ms(3000), &header));
  const std::string text(header.begin(), header.end());
  EXPECT_NE(std::string::npos, text.find("Response: user/authenticate\r\n"));
  EXPECT_EQ(std::string::npos, text.find("Kalmeno"));
  EXPECT_NE(std::string::npos, text.find("DigestKey: "));
}

TEST_F(SimTest, LogonAcceptsUtf16DigestAndReturnsSession) {
  RawClient c;
  Connect(c);
  auto reply = LogOn(c, "admin", u"admin");
  ASSERT_TRUE(reply);
  EXPECT_EQ("LoggedIn", reply->Get("Status"));
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_buffer(reply->body.data(), reply->body.size()));
  EXPECT_EQ(4, doc.select_node("/Session/RealtimeStreams").node().attribute("max").as_int());
  auto names = doc.select_nodes("/Session/Profiles/Name");
  ASSERT_EQ(1u, names.size());
  EXPECT_STREQ("service", names.first().node().child_value());
}

TEST_F(SimTest, LogonWithNonAsciiPassword) {
  RawClient c;
  Connect(c);
  auto reply = LogOn(c, "operator", u"p\u00e4ssw\u00f6rd");
  ASSERT_TRUE(reply);
  EXPECT_EQ("LoggedIn", reply->Get("Status"));
}

TEST_F(SimTest, LogonRefusals) {
  {
    SCOPED_TRACE("wrong password");
    RawClient c;
    Connect(c);
    auto reply = LogOn(c, "admin", u"nimda");
    ASSERT_TRUE(reply);
    EXPECT_EQ("InvalidPassword", reply->Get("Status"));
    EXPECT_TRUE(reply->body.empty());
  }
  {
    SCOPED_TRACE("unknown user");
    RawClient c;
    Connect(c);
    auto reply = LogOn(c, "mallory", u"admin");
    ASSERT_TRUE(reply);
    EXPECT_EQ("UserUnauthorized", reply->Get("Status"));
  }
  {
    SCOPED_TRACE("digest over UTF-8 bytes instead of UTF-16LE");
    RawClient c;
    Connect(c);
    auto auth = Authenticate(c);
    ASSERT_TRUE(auth);
    const std::string utf8 = "p\xC3\xA4ssw\xC3\xB6rd" + auth->Get("DigestKey");
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    ASSERT_EQ(1, EVP_Digest(utf8.data(), utf8.size(), md, &len, EVP_sha1(), nullptr));
    std::string hex;
    char buf[3];
    for (unsigned int i = 0; i < len; ++i) {
      std::snprintf(buf, sizeof(buf), "%02x", md[i]);
      hex += buf;
    }
    ASSERT_TRUE(c.Send("user/logon?uid=operator&pass=" + hex));
    auto reply = c.ReadResponse("user/logon");
    ASSERT_TRUE(reply);
    EXPECT_EQ("InvalidPassword", reply->Get("Status"));
  }
  {
    SCOPED_TRACE("log-on without authenticate first");
    RawClient c;
    Connect(c);
    ASSERT_TRUE(c.Send("user/logon?uid=admin&pass=" + Digest(u"admin", "")));
    auto reply = c.ReadResponse("user/logon");
    ASSERT_TRUE(reply);
    EXPECT_EQ("InvalidPassword", reply->Get("Status"));
  }
}

TEST_F(SimTest, CommandsBeforeLogonAreRefused) {
  RawClient c;
  Connect(c);
  ASSERT_TRUE(c.Send("user/profile?name=service"));
  auto reply = c.ReadResponse("user/profile");
  ASSERT_TRUE(reply);
  EXPECT_EQ("NotLoggedIn", reply->Get("Status"));
  EXPECT_TRUE(reply->body.empty());
}

TEST_F(SimTest, ProfileXmlListsCamerasAndDigitalIo) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_TRUE(c.Send("user/profile?name=service"));
  auto reply = c.ReadResponse("user/profile");
  ASSERT_TRUE(reply);
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_buffer(reply->body.data(), reply->body.size()));
  ASSERT_TRUE(doc.select_node("Profile[@name=\"service\"]"));
  auto cams = doc.select_nodes("Profile[@name=\"service\"]//Camera | Profile[@name=\"service\"]//PtzCamera");
  cams.sort();  // pugixml leaves a union unsorted; the ids are document positions
  ASSERT_EQ(4u, cams.size());
  std::vector<std::string> kinds;
  for (auto& n : cams) {
    kinds.push_back(n.node().name());
    EXPECT_STRCASEEQ("ok", n.node().attribute("state").value());
  }
  EXPECT_EQ((std::vector<std::string>{"Camera", "PtzCamera", "Camera", "Camera"}), kinds);
  EXPECT_STREQ("cam-2", (cams.begin() + 1)->node().attribute("pid").value());
  auto inputs = doc.select_nodes("Profile//DigitalInput");
  auto outputs = doc.select_nodes("Profile//DigitalOutput");
  ASSERT_EQ(2u, inputs.size());
  ASSERT_EQ(2u, outputs.size());
  EXPECT_STREQ("in-1", inputs.first().node().attribute("pid").value());
  EXPECT_STREQ("out-2", (outputs.begin() + 1)->node().attribute("pid").value());

  ASSERT_TRUE(c.Send("user/profile?name=nosuch"));
  auto missing = c.ReadResponse("user/profile");
  ASSERT_TRUE(missing);
  EXPECT_EQ("ProfileNotFound", missing->Get("Status"));
  EXPECT_TRUE(missing->body.empty());
}

TEST_F(SimTest, TakeoverAnswersWithPtzProperties) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_TRUE(c.Send("camera/ptz/takeover?pid=cam-2"));
  auto reply = c.ReadResponse("camera/ptz/properties");
  ASSERT_TRUE(reply);
  EXPECT_EQ("cam-2", reply->Get("Pid"));
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_buffer(reply->body.data(), reply->body.size()));
  auto ptz = doc.child("PtzControl");
  ASSERT_TRUE(ptz);
  EXPECT_STREQ("Pan,Tilt,Zoom,Focus,Iris", ptz.attribute("actions").value());
  EXPECT_EQ(60, ptz.attribute("timeout").as_int());
  std::vector<std::string> presets;
  for (auto& n : doc.select_nodes("PtzControl/Presets/Preset")) presets.push_back(n.node().child_value());
  EXPECT_EQ((std::vector<std::string>{"Door", "Gate", "Yard"}), presets);

  ASSERT_TRUE(c.Send("camera/ptz/open?pid=cam-2"));
  auto event = c.ReadResponse("camera/ptz/event");
  ASSERT_TRUE(event);
  EXPECT_EQ("DomeOpen", event->Get("Status"));
  EXPECT_EQ("cam-2", event->Get("Pid"));

  ASSERT_TRUE(c.Send("camera/ptz/left?pid=cam-2&speed=1"));
  auto rec = sim_->WaitForRequest("camera/ptz/left", nullptr, Ms(2000));
  ASSERT_TRUE(rec);
  EXPECT_EQ("1", rec->Param("speed"));
}

TEST_F(SimTest, NeverAnsweredTakeoverSendsNothing) {
  sim_->SetNeverTakeover("cam-2", true);
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  const std::uint64_t from = sim_->Requests().size();
  ASSERT_TRUE(c.Send("camera/ptz/takeover?pid=cam-2"));
  ASSERT_TRUE(sim_->WaitForRequest("camera/ptz/takeover", nullptr, Ms(2000), from));
  // The takeover has been handled; a ping injected now must be the very next message.
  ASSERT_EQ(1u, sim_->SendPing());
  auto next = c.Read();
  ASSERT_TRUE(next);
  EXPECT_EQ("ping", next->Get("Response"));
}

TEST_F(SimTest, JpegStreamFramesCarryHeadersAndCheckableBodies) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_TRUE(c.Send("video/realtime/subscribe?gid=1&cid=1&pid=cam-1&format=JPEG&type=FullRate&width=640&height=480&starttime=1700000000000"));
  auto sub = c.ReadResponse("video/realtime/subscribe");
  ASSERT_TRUE(sub);
  EXPECT_EQ("OK", sub->Get("Status"));
  EXPECT_EQ("1", sub->Get("Cid"));
  std::uint64_t last_seq = 0;
  for (int i = 0; i < 3; ++i) {
    auto f = c.ReadResponse("video/stream");
    ASSERT_TRUE(f);
    EXPECT_EQ("1", f->Get("Cid"));
    EXPECT_EQ("OK", f->Get("Status"));
    EXPECT_EQ(std::to_string(kFourccJpeg), f->Get("Fourcc"));
    EXPECT_EQ("640x480", f->Get("Size"));
    ASSERT_GE(f->body.size(), 4u);
    EXPECT_EQ(0xFF, f->body[0]);
    EXPECT_EQ(0xD8, f->body[1]);
    EXPECT_EQ(0xFF, f->body[f->body.size() - 2]);
    EXPECT_EQ(0xD9, f->body[f->body.size() - 1]);
    EXPECT_EQ(4096u, f->body.size());
    FrameStamp stamp;
    ASSERT_TRUE(ReadFrameStamp(f->body.data(), f->body.size(), &stamp));
    EXPECT_EQ(1u, stamp.channel);
    EXPECT_EQ(static_cast<std::uint64_t>(i), stamp.sequence);
    EXPECT_EQ(kFrameKindJpeg, stamp.kind);
    EXPECT_EQ(f->body.size(), stamp.body_length);
    EXPECT_GT(stamp.send_time_ns, 0u);
    EXPECT_LE(stamp.send_time_ns, MonotonicNs());
    last_seq = stamp.sequence;
  }
  EXPECT_EQ(2u, last_seq);
  EXPECT_TRUE(sim_->WaitForFrames(1, 3, Ms(2000)));
}

TEST_F(SimTest, NativeStreamHasH264FourccAndFiller) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_TRUE(c.Send("video/realtime/subscribe?gid=2&cid=2&pid=cam-3&format=Native&type=FullRate&width=0&height=0&starttime=1"));
  auto f = c.ReadResponse("video/stream");
  ASSERT_TRUE(f);
  EXPECT_EQ(std::to_string(kFourccH264), f->Get("Fourcc"));
  ASSERT_EQ(2048u, f->body.size());
  FrameStamp stamp;
  ASSERT_TRUE(ReadFrameStamp(f->body.data(), f->body.size(), &stamp));
  EXPECT_EQ(kFrameKindNative, stamp.kind);
  EXPECT_EQ(2u, stamp.channel);
  EXPECT_TRUE(CheckNativeFiller(f->body.data(), f->body.size(), stamp.sequence));
}

TEST_F(SimTest, UnsubscribeStopsFrames) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_TRUE(c.Send("video/realtime/subscribe?gid=0&cid=0&pid=cam-1&format=Native&type=FullRate&width=0&height=0&starttime=1"));
  ASSERT_TRUE(c.ReadResponse("video/stream"));
  ASSERT_TRUE(c.Send("video/realtime/unsubscribe?gid=0&cid=0&pid=cam-1"));
  auto reply = c.ReadResponse("video/realtime/unsubscribe");
  ASSERT_TRUE(reply);
  EXPECT_EQ("OK", reply->Get("Status"));
  const std::uint64_t sent = sim_->FramesSent(0);
  // At 50 fps, 300 ms would hold ~15 frames; none may come.
  auto more = c.ReadResponse("video/stream", Ms(300));
  EXPECT_FALSE(more);
  EXPECT_EQ(ReadEnd::kTimeout, c.LastEnd());
  EXPECT_EQ(sent, sim_->FramesSent(0));
}

TEST_F(SimTest, Level2SubscriptionFormAndFrameHeaders) {
  sim_->SetLevel2(true);
  RawClient c;
  Connect(c);
  LogOnAdmin(c, false);
  ASSERT_TRUE(c.Send("video/realtime/subscribe?gid=3&cid=cam-4%3A3&format=JPEG&width=640&height=480&starttime=1"));
  auto f = c.ReadResponse("video/stream", Ms(3000), false);
  ASSERT_TRUE(f);
  EXPECT_EQ("3", f->Get("Cid"));
  EXPECT_EQ("640", f->Get("Width"));
  EXPECT_EQ("480", f->Get("Height"));
  EXPECT_FALSE(f->Has("Size"));
  auto rec = sim_->WaitForRequest("video/realtime/subscribe", nullptr, Ms(1000));
  ASSERT_TRUE(rec);
  EXPECT_EQ("cam-4:3", rec->Param("cid"));
}

TEST_F(SimTest, EachConnectionHasItsOwnStreams) {
  RawClient a, b;
  Connect(a);
  Connect(b);
  LogOnAdmin(a);
  LogOnAdmin(b);
  ASSERT_TRUE(a.Send("video/realtime/subscribe?gid=0&cid=0&pid=cam-1&format=Native&type=FullRate&width=0&height=0&starttime=1"));
  ASSERT_TRUE(b.Send("video/realtime/subscribe?gid=5&cid=5&pid=cam-2&format=Native&type=FullRate&width=0&height=0&starttime=1"));
  for (int i = 0; i < 5; ++i) {
    auto fa = a.ReadResponse("video/stream");
    auto fb = b.ReadResponse("video/stream");
    ASSERT_TRUE(fa && fb);
    EXPECT_EQ("0", fa->Get("Cid"));
    EXPECT_EQ("5", fb->Get("Cid"));
  }
  EXPECT_EQ(2u, sim_->ConnectionIds().size());
}

TEST_F(SimTest, RequestLogRecordsDecodedParams) {
  const std::string path = ::testing::TempDir() + "sim_requests_log.jsonl";
  std::remove(path.c_str());
  ASSERT_TRUE(sim_->OpenRequestsLog(path));
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_TRUE(c.Send("recorder/event/subscribe?events=Unknown%2CIOState%2CVideoMotion%2CCameraState"));
  ASSERT_TRUE(c.Send("user/profile?name=a%20b%2Fc%C3%A4"));
  auto rec = sim_->WaitForRequest("user/profile", [](const RequestRecord& r) { return r.Param("name") == "a b/c\xC3\xA4"; },
                                  Ms(2000));
  ASSERT_TRUE(rec);
  EXPECT_EQ("user/profile?name=a%20b%2Fc%C3%A4", rec->raw_text);
  EXPECT_EQ(sim_->ConnectionIds().front(), rec->connection);
  auto ev = sim_->WaitForRequest("recorder/event/subscribe", nullptr, Ms(2000));
  ASSERT_TRUE(ev);
  EXPECT_EQ("Unknown,IOState,VideoMotion,CameraState", ev->Param("events"));

  std::ifstream in(path);
  std::string line;
  std::vector<nlohmann::json> lines;
  while (std::getline(in, line)) lines.push_back(nlohmann::json::parse(line));
  ASSERT_GE(lines.size(), 4u);
  bool found = false;
  for (const auto& j : lines) {
    if (j["command"] == "user/profile") {
      found = true;
      EXPECT_EQ("a b/c\xC3\xA4", j["params"]["name"].get<std::string>());
    }
  }
  EXPECT_TRUE(found);
}

TEST_F(SimTest, InputEventsReachOnlySubscribers) {
  RawClient sub, other;
  Connect(sub);
  Connect(other);
  LogOnAdmin(sub);
  LogOnAdmin(other);
  ASSERT_TRUE(sub.Send("recorder/event/subscribe?events=Unknown%2CIOState%2CVideoMotion%2CCameraState"));
  ASSERT_TRUE(sub.ReadResponse("recorder/event/subscribe"));
  EXPECT_EQ(2u, sim_->SetInput("in-1", true));
  auto e = sub.ReadResponse("recorder/event");
  ASSERT_TRUE(e);
  EXPECT_EQ("IOState", e->Get("Event"));
  EXPECT_EQ("in-1", e->Get("Pid"));
  EXPECT_EQ("On", e->Get("Status"));
  EXPECT_TRUE(sim_->IoState("in-1"));
  // The other connection got nothing before this ping.
  sim_->SendPing();
  auto next = other.Read();
  ASSERT_TRUE(next);
  EXPECT_EQ("ping", next->Get("Response"));
}

TEST_F(SimTest, SwitchToggleFlipsOutput) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_TRUE(c.Send("switch/toggle?pid=out-1"));
  auto r1 = c.ReadResponse("switch/toggle");
  ASSERT_TRUE(r1);
  EXPECT_EQ("On", r1->Get("Status"));
  EXPECT_TRUE(sim_->IoState("out-1"));
  ASSERT_TRUE(c.Send("switch/toggle?pid=out-1"));
  auto r2 = c.ReadResponse("switch/toggle");
  ASSERT_TRUE(r2);
  EXPECT_EQ("Off", r2->Get("Status"));
}

TEST_F(SimTest, DelayedReplyComesAfterLaterMessages) {
  sim_->SetReplyDelay("user/profile", Ms(300));
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  const std::uint64_t from = sim_->Requests().size();
  ASSERT_TRUE(c.Send("user/profile?name=service"));
  ASSERT_TRUE(sim_->WaitForRequest("user/profile", nullptr, Ms(2000), from));
  sim_->SendPing();
  auto first = c.Read();
  ASSERT_TRUE(first);
  EXPECT_EQ("ping", first->Get("Response"));
  auto second = c.Read();
  ASSERT_TRUE(second);
  EXPECT_EQ("user/profile", second->Get("Response"));
}

TEST_F(SimTest, ResetMidBodyCutsTheFrame) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_TRUE(c.Send("video/realtime/subscribe?gid=0&cid=0&pid=cam-1&format=Native&type=FullRate&width=0&height=0&starttime=1"));
  ASSERT_TRUE(c.ReadResponse("video/stream"));
  ASSERT_EQ(1u, sim_->ResetMidBody());
  // Whole frames may still come first; the cut one ends in a reset.
  std::optional<Message> m;
  do {
    m = c.Read(Ms(3000));
  } while (m);
  EXPECT_EQ(ReadEnd::kReset, c.LastEnd());
  EXPECT_FALSE(c.BadMarker());
  EXPECT_TRUE(sim_->WaitForActiveConnections(0, Ms(3000)));
}

TEST_F(SimTest, ResetMidHeaderCutsTheHeader) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_EQ(1u, sim_->ResetMidHeader());
  auto m = c.Read(Ms(3000));
  EXPECT_FALSE(m);
  EXPECT_EQ(ReadEnd::kReset, c.LastEnd());
}

TEST_F(SimTest, GarbageBeforeMarker) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_EQ(1u, sim_->SendGarbage(7));
  sim_->SendPing();
  std::vector<unsigned char> junk;
  ASSERT_TRUE(c.ReadExact(7, test::Clock::now() + Ms(3000), &junk));
  EXPECT_NE(0, std::memcmp(junk.data(), test::kMarker, 7));
  auto m = c.Read();
  ASSERT_TRUE(m);
  EXPECT_EQ("ping", m->Get("Response"));
}

TEST_F(SimTest, OversizedHeaderAndBodyLengths) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  sim_->SendHeaderLength(600);
  sim_->SendBodyTooLong();
  sim_->SendPing();
  const auto deadline = test::Clock::now() + Ms(3000);
  std::vector<unsigned char> b;
  ASSERT_TRUE(c.ReadExact(15 + 4, deadline, &b));
  EXPECT_EQ(0, std::memcmp(b.data(), test::kMarker, 15));
  EXPECT_EQ(600u, RawClient::U32(std::vector<unsigned char>(b.begin() + 15, b.end())));
  ASSERT_TRUE(c.ReadExact(600 + 4, deadline, &b));  // header block, then its body length 0
  ASSERT_TRUE(c.ReadExact(15 + 4, deadline, &b));
  const std::uint32_t h = RawClient::U32(std::vector<unsigned char>(b.begin() + 15, b.end()));
  ASSERT_TRUE(c.ReadExact(h + 4, deadline, &b));
  EXPECT_EQ(0x100000u, RawClient::U32(std::vector<unsigned char>(b.end() - 4, b.end())));
  auto m = c.Read();  // no body bytes were sent: the next marker follows at once
  ASSERT_TRUE(m);
  EXPECT_EQ("ping", m->Get("Response"));
}

TEST_F(SimTest, ResetDuringLogon) {
  sim_->SetResetOn("user/logon", true);
  RawClient c;
  Connect(c);
  auto reply = LogOn(c, "admin", u"admin");
  EXPECT_FALSE(reply);
  EXPECT_EQ(ReadEnd::kReset, c.LastEnd());
}

TEST_F(SimTest, StatusAndCidScripting) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  sim_->SetStreamStatus(0, "NoSignal");
  ASSERT_TRUE(c.Send("video/realtime/subscribe?gid=0&cid=0&pid=cam-1&format=Native&type=FullRate&width=0&height=0&starttime=1"));
  auto f = c.ReadResponse("video/stream");
  ASSERT_TRUE(f);
  EXPECT_EQ("NoSignal", f->Get("Status"));
  EXPECT_TRUE(f->body.empty());
  sim_->SetCidFault(CidFault::kNotNumeric);
  sim_->SetStreamStatus(0, "");
  auto g = c.ReadUntil([](const Message& m) { return m.Get("Status") == "OK"; });
  ASSERT_TRUE(g);
  EXPECT_EQ("ch0", g->Get("Cid"));
}

// The header block on the wire lacks exactly the omitted headers; the rest
// of the message (the other headers, the body) is what it always is.
TEST_F(SimTest, OmittedHeadersAreMissingFromEveryStreamMessage) {
  struct Case {
    const char* name;
    OmittedHeaders omit;
    bool size;
    bool fourcc;
  };
  const Case cases[] = {
      {"size", OmittedHeaders::kSize, false, true},
      {"fourcc", OmittedHeaders::kFourcc, true, false},
      {"both", OmittedHeaders::kBoth, false, false},
      {"none", OmittedHeaders::kNone, true, true},
  };
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_TRUE(c.Send("video/realtime/subscribe?gid=1&cid=1&pid=cam-1&format=JPEG&type=FullRate&width=640&height=480&starttime=1"));
  ASSERT_TRUE(c.ReadResponse("video/stream"));
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    sim_->SetOmittedHeaders(k.omit);
    EXPECT_EQ(k.omit, sim_->GetFaults().omit_headers);
    // The connection reads the fault settings before it handles the ping:
    // every frame after the ping reflects the new setting.
    ASSERT_EQ(1u, sim_->SendPing());
    ASSERT_TRUE(c.ReadResponse("ping"));
    for (int i = 0; i < 3; ++i) {
      auto f = c.ReadResponse("video/stream");
      ASSERT_TRUE(f);
      EXPECT_EQ(k.size, f->Has("Size"));
      EXPECT_EQ(k.fourcc, f->Has("Fourcc"));
      EXPECT_EQ(k.size, f->header_text.find("Size:") != std::string::npos) << f->header_text;
      EXPECT_EQ(k.fourcc, f->header_text.find("Fourcc:") != std::string::npos) << f->header_text;
      EXPECT_EQ(k.size ? "640x480" : "", f->Get("Size"));
      EXPECT_EQ(k.fourcc ? std::to_string(kFourccJpeg) : "", f->Get("Fourcc"));
      EXPECT_EQ("1", f->Get("Cid"));
      EXPECT_EQ("OK", f->Get("Status"));
      EXPECT_EQ("640", f->Get("Width"));
      EXPECT_EQ("480", f->Get("Height"));
      ASSERT_EQ(4096u, f->body.size());
      FrameStamp stamp;
      ASSERT_TRUE(ReadFrameStamp(f->body.data(), f->body.size(), &stamp));
      EXPECT_EQ(1u, stamp.channel);
      EXPECT_EQ(f->body.size(), stamp.body_length);
    }
  }
}

TEST_F(SimTest, StalledStreamSendsNothingUntilResumed) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_TRUE(c.Send("video/realtime/subscribe?gid=0&cid=0&pid=cam-1&format=Native&type=FullRate&width=0&height=0&starttime=1"));
  ASSERT_TRUE(c.ReadResponse("video/stream"));
  sim_->SetStalled(0, true);
  // The ping is handled after the connection has seen the stall.
  sim_->SendPing();
  ASSERT_TRUE(c.ReadResponse("ping"));
  const std::uint64_t sent = sim_->FramesSent(0);
  EXPECT_FALSE(c.ReadResponse("video/stream", Ms(300)));
  EXPECT_EQ(ReadEnd::kTimeout, c.LastEnd());
  EXPECT_EQ(sent, sim_->FramesSent(0));
  sim_->SetStalled(0, false);
  auto f = c.ReadResponse("video/stream");
  ASSERT_TRUE(f);
  FrameStamp stamp;
  ASSERT_TRUE(ReadFrameStamp(f->body.data(), f->body.size(), &stamp));
  EXPECT_EQ(sent, stamp.sequence);  // the sequence has no gap: held frames are not counted
}

TEST_F(SimTest, RefuseWithAcceptAndReset) {
  sim_->RefuseConnections(Ms(60000), RefuseMode::kAcceptAndReset);
  // The setting is picked up by the service thread; retry within a deadline.
  const auto deadline = test::Clock::now() + Ms(3000);
  bool refused = false;
  while (!refused && test::Clock::now() < deadline) {
    RawClient c;
    if (c.Connect(sim_->Port()) != 0) continue;
    c.Send("user/authenticate?user-agent=x");
    refused = c.ReadToEnd(Ms(1000)) == ReadEnd::kReset;
  }
  EXPECT_TRUE(refused);
  sim_->RefuseConnections(Ms(0));
  RawClient ok;
  Connect(ok);
  EXPECT_TRUE(Authenticate(ok));
}

TEST_F(SimTest, StopJoinsWithClientsConnectedAndStreaming) {
  RawClient c, idle;
  Connect(c);
  Connect(idle);
  LogOnAdmin(c);
  ASSERT_TRUE(c.Send("video/realtime/subscribe?gid=0&cid=0&pid=cam-1&format=JPEG&type=FullRate&width=0&height=0&starttime=1"));
  ASSERT_TRUE(c.ReadResponse("video/stream"));
  ASSERT_TRUE(sim_->WaitForActiveConnections(2, Ms(2000)));
  sim_->Stop();
  EXPECT_FALSE(sim_->IsRunning());
  EXPECT_EQ(0u, sim_->ActiveConnections());
  const ReadEnd end = idle.ReadToEnd(Ms(3000));
  EXPECT_TRUE(end == ReadEnd::kEof || end == ReadEnd::kReset);
  sim_->Stop();  // idempotent
  RawClient late;
  EXPECT_NE(0, late.Connect(sim_->Port()));
}

TEST_F(SimTest, SlowWriterStillDeliversWholeMessages) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  sim_->SetSlowWriter(true);
  sim_->SendPing();
  auto m = c.Read(Ms(5000));
  ASSERT_TRUE(m);
  EXPECT_EQ("ping", m->Get("Response"));
}

TEST_F(SimTest, OrderlyCloseEndsWithEof) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_EQ(1u, sim_->CloseConnections());
  EXPECT_EQ(ReadEnd::kEof, c.ReadToEnd(Ms(3000)));
}

TEST_F(SimTest, ResetAfterFramesCountsFrames) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_EQ(1u, sim_->ResetAfterFrames(3));
  ASSERT_TRUE(c.Send("video/realtime/subscribe?gid=0&cid=0&pid=cam-1&format=Native&type=FullRate&width=0&height=0&starttime=1"));
  int frames = 0;
  while (auto m = c.Read()) {
    if (m->Get("Response") == "video/stream") ++frames;
  }
  EXPECT_EQ(ReadEnd::kReset, c.LastEnd());
  EXPECT_EQ(3, frames);
  EXPECT_EQ(3u, sim_->FramesSent(0));
}

TEST_F(SimTest, XmlFaultsSpoilReplyBodies) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  struct Case {
    XmlFault fault;
    bool parses;
  };
  for (const Case& k : {Case{XmlFault::kMalformed, false}, Case{XmlFault::kEmpty, false}, Case{XmlFault::kHuge, true}}) {
    sim_->SetXmlFault("user/profile", k.fault);
    ASSERT_TRUE(c.Send("user/profile?name=service"));
    auto reply = c.ReadResponse("user/profile", Ms(5000));
    ASSERT_TRUE(reply);
    pugi::xml_document doc;
    const bool parsed = !reply->body.empty() && doc.load_buffer(reply->body.data(), reply->body.size());
    EXPECT_EQ(k.parses, parsed);
    if (k.fault == XmlFault::kEmpty) {
      EXPECT_TRUE(reply->body.empty());
    }
    if (k.fault == XmlFault::kHuge) {
      EXPECT_GT(reply->body.size(), 900000u);
      EXPECT_LE(reply->body.size(), 0xFFFFFu);
      EXPECT_EQ(2u, doc.select_nodes("Profile//DigitalInput").size());
    }
  }
}

TEST_F(SimTest, NeverAnsweredCommandIsStillRecorded) {
  sim_->SetNeverAnswer("user/profile", true);
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_TRUE(c.Send("user/profile?name=service"));
  ASSERT_TRUE(sim_->WaitForRequest("user/profile", nullptr, Ms(2000)));
  sim_->SendPing();
  auto next = c.Read();
  ASSERT_TRUE(next);
  EXPECT_EQ("ping", next->Get("Response"));
}

TEST_F(SimTest, UnsolicitedMessagesValidationRequestsAndPingFlood) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_EQ(1u, sim_->SendUnsolicited(77));
  ASSERT_EQ(1u, sim_->SendValidationRequest("video/stream"));
  ASSERT_EQ(1u, sim_->SendPingFlood(50));
  auto frame = c.Read();
  ASSERT_TRUE(frame);
  EXPECT_EQ("video/stream", frame->Get("Response"));
  EXPECT_EQ("77", frame->Get("Cid"));
  auto event = c.Read();
  ASSERT_TRUE(event);
  EXPECT_EQ("recorder/event", event->Get("Response"));
  auto validation = c.Read();
  ASSERT_TRUE(validation);
  EXPECT_EQ("request/validation", validation->Get("Response"));
  EXPECT_EQ("video/stream", validation->Get("Request"));
  for (int i = 0; i < 50; ++i) {
    auto ping = c.Read();
    ASSERT_TRUE(ping) << i;
    EXPECT_EQ("ping", ping->Get("Response"));
  }
}

TEST_F(SimTest, RefuseByClosingTheListenerThenReopen) {
  sim_->RefuseConnections(Ms(60000), RefuseMode::kCloseListener);
  const std::uint16_t port = sim_->Port();
  const auto deadline = test::Clock::now() + Ms(3000);
  int err = 0;
  while (err != ECONNREFUSED && test::Clock::now() < deadline) {
    RawClient c;
    err = c.Connect(port);
  }
  EXPECT_EQ(ECONNREFUSED, err);
  sim_->RefuseConnections(Ms(0));
  const auto reopen = test::Clock::now() + Ms(3000);
  while (err != 0 && test::Clock::now() < reopen) {
    RawClient c;
    err = c.Connect(port);
  }
  EXPECT_EQ(0, err);
  RawClient c;
  Connect(c);
  EXPECT_TRUE(Authenticate(c));
}

TEST_F(SimTest, PeriodicInputToggleAndPing) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_TRUE(c.Send("recorder/event/subscribe?events=IOState"));
  ASSERT_TRUE(c.ReadResponse("recorder/event/subscribe"));
  sim_->SetInputTogglePeriod(Ms(50));
  std::set<std::string> pids;
  for (int i = 0; i < 4; ++i) {
    auto e = c.ReadResponse("recorder/event");
    ASSERT_TRUE(e);
    pids.insert(e->Get("Pid"));
  }
  EXPECT_EQ((std::set<std::string>{"in-1", "in-2"}), pids);
  sim_->SetInputTogglePeriod(Ms(0));
  sim_->SetPingInterval(Ms(30));
  EXPECT_TRUE(c.ReadResponse("ping"));
}

class CameraStateTest : public SimTest {
  void Configure(Scenario& s) override {
    s.profiles[0].cameras[2].state = "NoSignal";
    s.profiles[0].cameras[3].state = "offline";
  }
};

TEST_F(CameraStateTest, CamerasNotOkStreamTheirStateWithoutBodies) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_TRUE(c.Send("video/realtime/subscribe?gid=2&cid=2&pid=cam-3&format=JPEG&type=FullRate&width=0&height=0&starttime=1"));
  auto a = c.ReadResponse("video/stream");
  ASSERT_TRUE(a);
  EXPECT_EQ("NoSignal", a->Get("Status"));
  EXPECT_TRUE(a->body.empty());
  ASSERT_TRUE(c.Send("video/realtime/unsubscribe?gid=2&cid=2&pid=cam-3"));
  ASSERT_TRUE(c.Send("video/realtime/subscribe?gid=3&cid=3&pid=cam-4&format=JPEG&type=FullRate&width=0&height=0&starttime=1"));
  auto b = c.ReadUntil([](const Message& m) { return m.Get("Response") == "video/stream" && m.Get("Cid") == "3"; });
  ASSERT_TRUE(b);
  EXPECT_EQ("offline", b->Get("Status"));
  EXPECT_TRUE(b->body.empty());
  EXPECT_EQ(0u, sim_->TotalFramesSent());
}

class RenderedJpegTest : public SimTest {
  void Configure(Scenario& s) override {
    s.video.render_jpeg = true;
    s.video.fps = 10;
  }
};

TEST_F(RenderedJpegTest, FramesDecodeAsImagesOfTheConfiguredSize) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_TRUE(c.Send("video/realtime/subscribe?gid=0&cid=0&pid=cam-2&format=JPEG&type=FullRate&width=640&height=480&starttime=1"));
  auto f = c.ReadResponse("video/stream");
  ASSERT_TRUE(f);
  tjhandle d = tjInitDecompress();
  ASSERT_NE(nullptr, d);
  int w = 0, h = 0, sub = 0, cs = 0;
  EXPECT_EQ(0, tjDecompressHeader3(d, f->body.data(), f->body.size(), &w, &h, &sub, &cs));
  std::vector<unsigned char> rgb(static_cast<std::size_t>(640) * 480 * 3);
  EXPECT_EQ(0, tjDecompress2(d, f->body.data(), f->body.size(), rgb.data(), 640, 0, 480, TJPF_RGB, 0));
  tjDestroy(d);
  EXPECT_EQ(640, w);
  EXPECT_EQ(480, h);
  FrameStamp stamp;
  ASSERT_TRUE(ReadFrameStamp(f->body.data(), f->body.size(), &stamp));
  EXPECT_EQ(kFrameKindJpeg, stamp.kind);
}

// A full rate of 0 streams unthrottled: frames follow each other as fast as
// the reader takes them. 400 frames of two streams would take 40 s at the
// built-in 10 fps; the generous deadline only keeps a broken run from hanging.
class UnthrottledTest : public SimTest {
 protected:
  void Configure(Scenario& s) override { s.video.fps = 0; }
};

TEST_F(UnthrottledTest, StreamsBackToBackWithConsecutiveSequences) {
  RawClient c;
  Connect(c);
  LogOnAdmin(c);
  ASSERT_TRUE(c.Send("video/realtime/subscribe?gid=0&cid=0&pid=cam-1&format=Native&type=FullRate&width=0&height=0&starttime=1"));
  ASSERT_TRUE(c.Send("video/realtime/subscribe?gid=1&cid=1&pid=cam-2&format=Native&type=FullRate&width=0&height=0&starttime=1"));
  const auto deadline = test::Clock::now() + Ms(30000);
  std::uint64_t next[2] = {0, 0};
  int frames = 0;
  // Unthrottled, the first stream can send hundreds of frames before the
  // second subscription is served: read until both have been seen.
  while ((frames < 400 || next[0] == 0 || next[1] == 0) && test::Clock::now() < deadline) {
    auto f = c.ReadResponse("video/stream", Ms(5000));
    ASSERT_TRUE(f);
    FrameStamp stamp;
    ASSERT_TRUE(ReadFrameStamp(f->body.data(), f->body.size(), &stamp));
    ASSERT_LT(stamp.channel, 2u);
    EXPECT_EQ(next[stamp.channel], stamp.sequence);
    EXPECT_TRUE(CheckNativeFiller(f->body.data(), f->body.size(), stamp.sequence));
    next[stamp.channel] = stamp.sequence + 1;
    ++frames;
  }
  EXPECT_GE(frames, 400);
  EXPECT_GT(next[0], 0u);
  EXPECT_GT(next[1], 0u);
}

TEST(UnthrottledScenarioTest, FpsZeroIsAcceptedAndNegativeRefused) {
  Scenario s;
  std::string error;
  ASSERT_TRUE(ParseScenarioJson("{\"video\": {\"fps\": 0}}", DefaultScenario(), &s, &error)) << error;
  EXPECT_EQ(0.0, s.video.fps);
  EXPECT_FALSE(ParseScenarioJson("{\"video\": {\"fps\": -1}}", DefaultScenario(), &s, &error));
  EXPECT_FALSE(ParseScenarioJson("{\"video\": {\"motion_fps\": 0}}", DefaultScenario(), &s, &error));
}

}  // namespace
}  // namespace sim
}  // namespace strevon
