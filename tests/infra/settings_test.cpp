#include "infra/device_info.h"
#include "infra/settings.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/temp_home.h"

namespace quorvel {
namespace {

using test_support::TempHome;
constexpr std::uint32_t kMotion = kStreamTypeMotion;
constexpr std::uint32_t kFull = kStreamTypeFullRate;

DEVICE_INFO Device(const std::string& address = "10.0.0.5") {
  DEVICE_INFO device;
  device.address = address;
  device.port = 4000;
  return device;
}

std::string Configuration(const std::string& sections) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Configuration>\r\n" + sections +
         "</Configuration>\r\n";
}

std::string Common(const std::string& keys) { return "<Common>" + keys + "</Common>"; }

std::string Gateway(const std::string& address, const std::string& port, const std::string& keys) {
  return "<Gateway address=\"" + address + "\" port=\"" + port + "\">" + keys + "</Gateway>";
}
std::string Own(const std::string& keys) { return Gateway("10.0.0.5", "4000", keys); }

std::string Channel(const char* id, const char* type) {
  const std::string attribute = id ? std::string(" id=\"") + id + "\"" : std::string();
  const std::string stream = type ? std::string("<StreamType>") + type + "</StreamType>" : "";
  return "<VideoChannel" + attribute + ">" + stream + "</VideoChannel>";
}

// Each key is taken from one section only, and only as written exactly.
TEST(SettingsTest, EveryKeyComesFromTheChosenSectionAsWrittenExactly) {
  struct Case { const char* name; std::string file;  // empty: no file at all
                const char* profile; std::uint32_t logLevel; bool debugEnabled, resilient;
                std::uint32_t streamType; };  // of channel 2
  const Case cases[] = {
      {"no file: defaults", "", "service", 2, false, false, kFull},
      {"malformed file: defaults", "<Configuration><Common><LogLevel>4</LogLevel></Configuration>",
       "service", 2, false, false, kFull},
      {"empty configuration: every key missing", Configuration(""), "", 0, false, false, kFull},
      {"exact yes", Configuration(Common("<DebugEnabled>yes</DebugEnabled><Resilient>yes</Resilient>")),
       "", 0, true, true, kFull},
      {"profile as written, sign allowed",
       Configuration(Common("<Profile> night </Profile><LogLevel>+4</LogLevel>")), " night ", 4, false,
       false, kFull},
      {"blank after yes, 1, blank before the level",
       Configuration(Common("<DebugEnabled>yes </DebugEnabled><Resilient>1</Resilient>"
                            "<LogLevel> 3</LogLevel>")),
       "", 0, false, false, kFull},
      {"level with a fraction, exact motion",
       Configuration(Common("<LogLevel>3.0</LogLevel>" + Channel(nullptr, "motion"))), "", 0, false,
       false, kMotion},
      {"level in words, capital Motion",
       Configuration(Common("<LogLevel>four</LogLevel>" + Channel(nullptr, "Motion"))), "", 0, false,
       false, kFull},
      // The own section wins whole, no key falls back to Common; a stream type is
      // looked up in the own section first, for this channel, then for any.
      {"own section without the keys",
       Configuration(Common("<Profile>common</Profile><LogLevel>3</LogLevel><DebugEnabled>yes"
                            "</DebugEnabled><Resilient>yes</Resilient>" + Channel("2", "full")) +
                     Own("<Profile>own</Profile>" + Channel("1", "full") + Channel("2", "motion"))),
       "own", 0, false, false, kMotion},
      {"own section with the keys",
       Configuration(Common("<Profile>common</Profile>" + Channel("2", "full")) +
                     Own("<LogLevel>4</LogLevel><Resilient>yes</Resilient>" + Channel("5", "motion"))),
       "", 4, false, true, kMotion},
      {"own channel element without a stream type",
       Configuration(Common(Channel("2", "motion")) + Own(Channel("2", nullptr))), "", 0, false,
       false, kFull},
      // Sections match by exact text: port in plain decimal, address as written.
      {"no section matches exactly",
       Configuration(Common("<Profile>common</Profile>") + Gateway("10.0.0.5", "04000", "") +
                     Gateway("10.0.0.5", " 4000", "") + Gateway("10.0.0.5", "4000 ", "") +
                     Gateway("10.0.0.5", "+4000", "") + Gateway("10.0.0.5", "0x0FA0", "") +
                     Gateway("10.0.0.50", "4000", "") + Gateway("10.0.0.5", "4001", "")),
       "common", 0, false, false, kFull},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempHome home;
    if (!c.file.empty()) home.Write(c.file);
    const GatewaySettings settings = ReadGatewaySettings(Device());
    EXPECT_EQ(c.profile, settings.profile);
    EXPECT_EQ(c.logLevel, settings.logLevel);
    EXPECT_EQ(c.debugEnabled, settings.debugEnabled);
    EXPECT_EQ(c.resilient, settings.resilient);
    EXPECT_EQ(c.streamType, ReadStreamType(Device(), 2));
  }
}

TEST(SettingsTest, ResolutionsNeedTwoNonZeroNumbersAroundLowerCaseXAndDoNotFallBack) {
  using Resolutions = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
  const std::string items =
      "<Resolutions><Item>704x576</Item><Item>640X480</Item><Item>352x288x2</Item>"
      "<Item>x240</Item><Item>0x480</Item><Item>320x</Item><Item/><Item>abc</Item>"
      "<Item> 1280x720p</Item><Item>65536x480</Item><Item>640x70000</Item><Item>-640x480</Item>"
      "<Item>4294967936x480</Item><Item>65535x1</Item></Resolutions>";
  TempHome home;
  home.Write(Configuration(Common(items)));
  EXPECT_EQ((Resolutions{{704, 576}, {1280, 720}, {65535, 1}}),
            ReadGatewaySettings(Device()).resolutions);
  home.Write(Configuration(Common(items) + Own("<Profile>own</Profile>")));
  EXPECT_TRUE(ReadGatewaySettings(Device()).resolutions.empty());
}

TEST(SettingsTest, AddressWithDoubleQuoteMatchesNoGatewaySection) {
  TempHome home;
  home.Write(Configuration(
      Common("<Profile>common</Profile>" + Channel(nullptr, "full")) +
      Gateway("10.0.0.6", "4000", "<Profile>other</Profile>" + Channel("2", "motion")) +
      Gateway("a&quot;b", "4000", "<Profile>quoted</Profile>")));
  const char* const addresses[] = {
      // Would select the 10.0.0.6 section if the address became part of the path.
      "x\"][@port=\"4000\"] | /Configuration/Gateway[@address=\"10.0.0.6",
      "a\"b",
      "\"",
  };
  for (const char* address : addresses) {
    SCOPED_TRACE(address);
    const DEVICE_INFO device = Device(address);
    EXPECT_EQ("common", ReadGatewaySettings(device).profile);
    EXPECT_EQ(kFull, ReadStreamType(device, 2));
  }
}

}  // namespace
}  // namespace quorvel
