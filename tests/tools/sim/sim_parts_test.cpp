// Unit tests of the simulator's building blocks: request decoding, message
// encoding, the digest, scenario files, frame bodies and stdin commands.
#include <gtest/gtest.h>

#include <cstring>

#include "frame_source.h"
#include "frame_stamp.h"
#include "gateway/wire_format.h"
#include "request_codec.h"
#include "scenario.h"
#include "sim_commands.h"

namespace strevon {
namespace sim {
namespace {

TEST(RequestCodec, DecodesCommandAndParams) {
  const ParsedRequest r = ParseRequestText("user/profile?name=a%20b%2Fc&x=%c3%a4&empty=");
  EXPECT_EQ("user/profile", r.command);
  EXPECT_EQ("a b/c", r.params.at("name"));
  EXPECT_EQ("\xC3\xA4", r.params.at("x"));
  EXPECT_EQ("", r.params.at("empty"));
  ASSERT_EQ(3u, r.ordered_params.size());
  EXPECT_EQ("name", r.ordered_params[0].first);
  EXPECT_TRUE(r.well_formed);
}

TEST(RequestCodec, BareCommandAndBrokenEscapes) {
  EXPECT_EQ("user/logoff", ParseRequestText("user/logoff").command);
  EXPECT_TRUE(ParseRequestText("user/logoff").params.empty());
  const ParsedRequest r = ParseRequestText("c?v=100%&w=%4");
  EXPECT_FALSE(r.well_formed);
  EXPECT_EQ("100%", r.params.at("v"));
  EXPECT_EQ("%4", r.params.at("w"));
}

TEST(RequestCodec, PercentEncodeRoundTrip) {
  const std::string text = "Gateway SDK / Kalmeno 3.0,~-_.\xC3\xA4";
  const std::string enc = PercentEncode(text);
  EXPECT_EQ("Gateway%20SDK%20%2F%20Kalmeno%203.0%2C~-_.%C3%A4", enc);
  EXPECT_EQ(text, PercentDecode(enc));
}

TEST(RequestCodec, RequestFrameHasLittleEndianLength) {
  const Bytes f = EncodeRequestFrame("user/profile?name=a%20b%2Fc");
  ASSERT_EQ(4u + 27u, f.size());
  EXPECT_EQ(0x1B, f[0]);
  EXPECT_EQ(0, f[1]);
  EXPECT_EQ(0, f[2]);
  EXPECT_EQ(0, f[3]);
}

TEST(RequestCodec, ServerMessageBytes) {
  const Bytes m = EncodeServerMessage({{"Response", "ping"}}, std::string("ab"), true);
  const std::string header = "Response: ping\r\n\r\n";
  ASSERT_EQ(15u + 4 + header.size() + 4 + 2, m.size());
  EXPECT_EQ(0, std::memcmp(m.data(), quorvel::wire::kStartMarker, 15));
  EXPECT_EQ(header.size(), quorvel::wire::GetUint32Le(m.data() + 15));
  EXPECT_EQ(header, std::string(m.begin() + 19, m.begin() + 19 + static_cast<long>(header.size())));
  EXPECT_EQ(2u, quorvel::wire::GetUint32Le(m.data() + 19 + header.size()));
  EXPECT_EQ('a', m[m.size() - 2]);

  const Bytes l2 = EncodeServerMessage({{"Response", "ping"}}, Bytes(), false);
  EXPECT_EQ(header.size(), quorvel::wire::GetUint32Le(l2.data()));
  EXPECT_EQ(4u + header.size() + 4, l2.size());
}

TEST(RequestCodec, Utf16ConversionIncludingSurrogates) {
  EXPECT_EQ(u"p\u00e4", Utf8ToUtf16("p\xC3\xA4"));
  const std::u16string pair = Utf8ToUtf16("\xF0\x9F\x98\x80");  // U+1F600
  ASSERT_EQ(2u, pair.size());
  EXPECT_EQ(0xD83D, pair[0]);
  EXPECT_EQ(0xDE00, pair[1]);
}

TEST(RequestCodec, DigestIsLowerHexOfUtf16) {
  // SHA-1 of the UTF-16LE bytes of "abc" (61 00 62 00 63 00).
  EXPECT_EQ("9f04f41a848514162050e3d68c1a7abb441dc2b5", ComputeLogonDigest("a", "bc"));
  EXPECT_EQ(40u, ComputeLogonDigest("p\xC3\xA4ssw\xC3\xB6rd", "KEY").size());
  EXPECT_NE(ComputeLogonDigest("admin", "K1"), ComputeLogonDigest("admin", "K2"));
  const std::string key = MakeDigestKey();
  EXPECT_EQ(32u, key.size());
  EXPECT_EQ(std::string::npos, key.find(':'));
}

TEST(Scenario, DefaultSite) {
  const Scenario s = DefaultScenario();
  ASSERT_EQ(1u, s.profiles.size());
  EXPECT_EQ(4u, s.profiles[0].cameras.size());
  EXPECT_TRUE(s.profiles[0].cameras[1].ptz);
  EXPECT_EQ((std::vector<std::string>{"Door", "Gate", "Yard"}), s.profiles[0].cameras[1].presets);
  EXPECT_EQ(2u, s.profiles[0].inputs.size());
  EXPECT_EQ(2u, s.profiles[0].outputs.size());
  EXPECT_EQ(4, s.realtime_streams);
  EXPECT_EQ(0, s.input_toggle_ms);
  ASSERT_NE(nullptr, FindUser(s, "operator"));
  EXPECT_EQ("p\xC3\xA4ssw\xC3\xB6rd", FindUser(s, "operator")->password);
}

TEST(Scenario, JsonOverridesAndFaults) {
  const std::string text = R"({
    "realtime_streams": 2,
    "users": [{"name": "u", "password": "p", "profiles": ["x"]}],
    "profiles": [{"name": "x", "cameras": [{"pid": "c1", "name": "One", "state": "NoSignal"}],
                  "inputs": [{"pid": "i1"}], "outputs": []}],
    "video": {"fps": 25, "render_jpeg": false, "jpeg_size": 1000},
    "faults": {"never_answer": ["user/profile"], "delay_ms": {"user/logon": 50},
               "xml": {"*": "huge"}, "cid": "out-of-range", "omit_headers": "fourcc", "stalled": [1],
               "status": {"2": "Connecting"}}
  })";
  Scenario s;
  std::string error;
  ASSERT_TRUE(ParseScenarioJson(text, DefaultScenario(), &s, &error)) << error;
  EXPECT_EQ(2, s.realtime_streams);
  ASSERT_EQ(1u, s.users.size());
  EXPECT_EQ("NoSignal", s.profiles[0].cameras[0].state);
  EXPECT_EQ(25.0, s.video.fps);
  EXPECT_EQ(640, s.video.width);  // untouched keys keep the base values
  EXPECT_EQ(1u, s.faults.never_answer.count("user/profile"));
  EXPECT_EQ(50, s.faults.delay_ms.at("user/logon"));
  EXPECT_EQ(XmlFault::kHuge, s.faults.xml.at("*"));
  EXPECT_EQ(CidFault::kOutOfRange, s.faults.cid);
  EXPECT_EQ(OmittedHeaders::kFourcc, s.faults.omit_headers);
  EXPECT_EQ(1u, s.faults.stalled.count(1));
  EXPECT_EQ("Connecting", s.faults.status.at(2));
}

TEST(Scenario, ShippedExampleLoads) {
  Scenario s;
  std::string error;
  ASSERT_TRUE(LoadScenarioFile(STREVON_SIM_SCENARIO_DIR "/example.json", DefaultScenario(), &s, &error)) << error;
  ASSERT_EQ(3u, s.users.size());
  EXPECT_FALSE(s.users[2].authorized);
  EXPECT_EQ("p\xC3\xA4ssw\xC3\xB6rd", s.users[1].password);
  EXPECT_EQ("NoSignal", s.profiles[0].cameras[2].state);
  EXPECT_TRUE(s.profiles[0].inputs[1].on);
}

TEST(Scenario, JsonErrorsAreReported) {
  Scenario s;
  std::string error;
  EXPECT_FALSE(ParseScenarioJson("{\"realtime_stream\": 2}", DefaultScenario(), &s, &error));
  EXPECT_NE(std::string::npos, error.find("realtime_stream"));
  EXPECT_FALSE(ParseScenarioJson("{\"video\": {\"fps\": \"fast\"}}", DefaultScenario(), &s, &error));
  EXPECT_FALSE(ParseScenarioJson("not json", DefaultScenario(), &s, &error));
  EXPECT_FALSE(ParseScenarioJson("{\"faults\": {\"xml\": {\"*\": \"odd\"}}}", DefaultScenario(), &s, &error));
  EXPECT_FALSE(ParseScenarioJson("{\"faults\": {\"omit_headers\": \"width\"}}", DefaultScenario(), &s, &error));
  EXPECT_NE(std::string::npos, error.find("omit_headers"));
}

TEST(Scenario, XmlBodiesEscapeText) {
  SimProfile p;
  p.name = "a\"<b>";
  SimIo in;
  in.pid = "i&1";
  p.inputs.push_back(in);
  const std::string xml = BuildProfileXml(p, {{"i&1", true}});
  EXPECT_NE(std::string::npos, xml.find("<Profile name=\"a&quot;&lt;b&gt;\">"));
  EXPECT_NE(std::string::npos, xml.find("<DigitalInput pid=\"i&amp;1\" name=\"\" state=\"On\"/>"));
}

// Walks the JPEG segments up to EOI; false when the structure is broken.
bool WalkJpeg(const std::vector<unsigned char>& b) {
  if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8) return false;
  std::size_t pos = 2;
  while (pos + 4 <= b.size()) {
    if (b[pos] != 0xFF) return false;
    const unsigned char marker = b[pos + 1];
    if (marker == 0xD9) return pos + 2 == b.size();
    const std::size_t len = (static_cast<std::size_t>(b[pos + 2]) << 8) | b[pos + 3];
    if (len < 2) return false;
    pos += 2 + len;
  }
  return pos + 2 == b.size() && b[pos] == 0xFF && b[pos + 1] == 0xD9;
}

TEST(FrameSource, SyntheticJpegHasExactSizeAndValidSegments) {
  for (std::size_t size : {64u, 100u, 4096u, 65541u, 65542u, 65543u, 200000u}) {
    SCOPED_TRACE(size);
    VideoSettings v;
    v.render_jpeg = false;
    v.jpeg_size = size;
    FrameSource src(v);
    const auto body = src.MakeJpeg("cam", 7, 3);
    EXPECT_EQ(size, body.size());
    EXPECT_TRUE(WalkJpeg(body));
    FrameStamp st;
    ASSERT_TRUE(ReadFrameStamp(body.data(), body.size(), &st));
    EXPECT_EQ(7u, st.channel);
    EXPECT_EQ(3u, st.sequence);
    EXPECT_EQ(size, st.body_length);
    EXPECT_EQ(0u, st.send_time_ns);  // stamped only when written
  }
}

TEST(FrameSource, NativeBodyFillerAndStamp) {
  VideoSettings v;
  v.native_size = 500;
  FrameSource src(v);
  auto body = src.MakeNative(9, 42);
  ASSERT_EQ(500u, body.size());
  FrameStamp st;
  ASSERT_TRUE(ReadFrameStamp(body.data(), body.size(), &st));
  EXPECT_EQ(kFrameKindNative, st.kind);
  EXPECT_TRUE(CheckNativeFiller(body.data(), body.size(), 42));
  body[100] ^= 1;
  EXPECT_FALSE(CheckNativeFiller(body.data(), body.size(), 42));
}

TEST(FrameSource, RenderedJpegIsStructurallyValid) {
  VideoSettings v;
  v.width = 320;
  v.height = 240;
  FrameSource src(v);
  const auto body = src.MakeJpeg("Yard Dome", 1, 5);
  EXPECT_GT(body.size(), 1000u);
  EXPECT_EQ(0xFF, body[body.size() - 2]);
  EXPECT_EQ(0xD9, body[body.size() - 1]);
  FrameStamp st;
  ASSERT_TRUE(ReadFrameStamp(body.data(), body.size(), &st));
  EXPECT_EQ(body.size(), st.body_length);
}

TEST(FrameStampTest, RejectsForeignBodies) {
  FrameStamp st;
  const unsigned char jpeg_without_stamp[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0, 0, 0, 0};
  EXPECT_FALSE(ReadFrameStamp(jpeg_without_stamp, sizeof(jpeg_without_stamp), &st));
  const unsigned char short_body[] = {'S', 'V', 'F', '1'};
  EXPECT_FALSE(ReadFrameStamp(short_body, sizeof(short_body), &st));
}

TEST(Commands, ParseAndApply) {
  GatewaySimulator sim;  // not started: commands only change settings
  EXPECT_EQ("ok stall 3", RunCommand(sim, "stall 3").reply);
  EXPECT_EQ(1u, sim.GetFaults().stalled.count(3));
  EXPECT_EQ("ok unstall 3", RunCommand(sim, "unstall 3").reply);
  EXPECT_EQ(0u, sim.GetFaults().stalled.count(3));
  EXPECT_EQ("ok delay", RunCommand(sim, "delay user/logon 250").reply);
  EXPECT_EQ(250, sim.GetFaults().delay_ms.at("user/logon"));
  EXPECT_EQ("ok xml", RunCommand(sim, "xml user/profile malformed").reply);
  EXPECT_EQ(XmlFault::kMalformed, sim.GetFaults().xml.at("user/profile"));
  EXPECT_EQ("ok status", RunCommand(sim, "status 1 Connecting").reply);
  EXPECT_EQ("Connecting", sim.GetFaults().status.at(1));
  const struct {
    const char* word;
    OmittedHeaders omit;
  } omissions[] = {{"size", OmittedHeaders::kSize},
                   {"fourcc", OmittedHeaders::kFourcc},
                   {"both", OmittedHeaders::kBoth},
                   {"none", OmittedHeaders::kNone}};
  for (const auto& o : omissions) {
    SCOPED_TRACE(o.word);
    EXPECT_EQ("ok omit-headers", RunCommand(sim, std::string("omit-headers ") + o.word).reply);
    EXPECT_EQ(o.omit, sim.GetFaults().omit_headers);
  }
  EXPECT_EQ(0u, RunCommand(sim, "omit-headers width").reply.find("error"));
  EXPECT_EQ(0u, RunCommand(sim, "omit-headers").reply.find("error"));
  EXPECT_EQ("ok delivered to 0", RunCommand(sim, "reset").reply);
  EXPECT_EQ(0u, RunCommand(sim, "reset x").reply.find("error"));
  EXPECT_EQ(0u, RunCommand(sim, "xml user/profile weird").reply.find("error"));
  EXPECT_EQ(0u, RunCommand(sim, "frobnicate").reply.find("error"));
  EXPECT_TRUE(RunCommand(sim, "").reply.empty());
  EXPECT_TRUE(RunCommand(sim, "# comment").reply.empty());
  EXPECT_TRUE(RunCommand(sim, "quit").quit);
}

}  // namespace
}  // namespace sim
}  // namespace strevon
