#include "infra/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

using Resolutions = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

DEVICE_INFO Device(const std::string& address, std::uint16_t port) {
  DEVICE_INFO device;
  device.address = address;
  device.port = port;
  return device;
}

std::string Configuration(const std::string& sections) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Configuration>\r\n" + sections +
         "</Configuration>\r\n";
}

std::string Section(const std::string& keys) { return "<Common>" + keys + "</Common>"; }

std::string GatewaySection(const std::string& address, const std::string& port,
                           const std::string& keys) {
  return "<Gateway address=\"" + address + "\" port=\"" + port + "\">" + keys + "</Gateway>";
}

// Every case gets a home directory of its own, set before any settings
// function runs, so the file read is the one the case wrote.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    m_home = std::filesystem::temp_directory_path() /
             ("strevon_settings_" + std::to_string(random()) + std::to_string(random()));
    ASSERT_TRUE(std::filesystem::create_directories(m_home));
    ASSERT_EQ(setenv("STREVON_HOME", m_home.c_str(), 1), 0);
  }
  void TearDown() override {
    unsetenv("STREVON_HOME");
    std::error_code ignored;
    std::filesystem::remove_all(m_home, ignored);
  }
  void Write(const std::string& text) {
    std::ofstream file(m_home / "Strevon.xml", std::ios::binary | std::ios::trunc);
    file << text;
    ASSERT_TRUE(file.good());
  }
  void ExpectFileMissingDefaults() {
    const GatewaySettings settings = ReadGatewaySettings(m_device);
    EXPECT_EQ(settings.profile, "service");
    EXPECT_EQ(settings.logLevel, 2u);
    EXPECT_FALSE(settings.debugEnabled);
    EXPECT_TRUE(settings.resolutions.empty());
    for (std::uint32_t channel : {0u, 1u, 2u, 16u}) {
      EXPECT_EQ(ReadStreamType(m_device, channel), kStreamTypeFullRate) << "channel " << channel;
    }
  }

  std::filesystem::path m_home;
  DEVICE_INFO m_device = Device("10.0.0.5", 4000);
};

TEST_F(SettingsTest, FilePathIsTheHomeDirectoryAndFileName) {
  EXPECT_EQ(GetSettingsFilePath(), (m_home / "Strevon.xml").string());
}

TEST_F(SettingsTest, NoFileGivesFileMissingDefaults) { ExpectFileMissingDefaults(); }

TEST_F(SettingsTest, MalformedFileGivesFileMissingDefaults) {
  Write("<Configuration><Common><LogLevel>4</LogLevel></Configuration>");
  ExpectFileMissingDefaults();
}

TEST_F(SettingsTest, KeysMissingFromSectionGiveKeyMissingValues) {
  Write(Configuration(Section("<DebugEnabled>yes</DebugEnabled>")));
  const GatewaySettings settings = ReadGatewaySettings(m_device);
  EXPECT_TRUE(settings.debugEnabled);
  EXPECT_EQ(settings.logLevel, 0u);
  EXPECT_EQ(settings.profile, "");
  EXPECT_TRUE(settings.resolutions.empty());
  EXPECT_EQ(ReadStreamType(m_device, 1), kStreamTypeFullRate);
}

TEST_F(SettingsTest, EmptyConfigurationGivesKeyMissingValues) {
  Write(Configuration(""));
  const GatewaySettings settings = ReadGatewaySettings(m_device);
  EXPECT_EQ(settings.profile, "");
  EXPECT_EQ(settings.logLevel, 0u);
  EXPECT_FALSE(settings.debugEnabled);
}

TEST_F(SettingsTest, GatewaySectionOverridesCommonForThatGatewayOnly) {
  Write(Configuration(
      Section("<Profile>common</Profile><LogLevel>1</LogLevel>") +
      GatewaySection("10.0.0.5", "4000",
                     "<Profile>own</Profile><LogLevel>4</LogLevel><DebugEnabled>yes</DebugEnabled>")));
  struct Case {
    const char* address;
    std::uint16_t port;
    const char* profile;
    std::uint32_t logLevel;
    bool debugEnabled;
  };
  const Case cases[] = {
      {"10.0.0.5", 4000, "own", 4, true},
      {"10.0.0.5", 4001, "common", 1, false},
      {"10.0.0.6", 4000, "common", 1, false},
      {"gateway.local", 4000, "common", 1, false},  // a host name is another key
      {"10.0.0.50", 4000, "common", 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.address) + ":" + std::to_string(c.port));
    const GatewaySettings settings = ReadGatewaySettings(Device(c.address, c.port));
    EXPECT_EQ(settings.profile, c.profile);
    EXPECT_EQ(settings.logLevel, c.logLevel);
    EXPECT_EQ(settings.debugEnabled, c.debugEnabled);
  }
}

TEST_F(SettingsTest, PortMustBeWrittenAsPlainDecimal) {
  for (const char* port : {"04000", " 4000", "4000 ", "+4000", "0x0FA0"}) {
    SCOPED_TRACE(std::string("port \"") + port + "\"");
    Write(Configuration(Section("<Profile>common</Profile>") +
                        GatewaySection("10.0.0.5", port, "<Profile>own</Profile>")));
    EXPECT_EQ(ReadGatewaySettings(m_device).profile, "common");
  }
}

TEST_F(SettingsTest, GatewaySectionDoesNotFallBackToCommonForMissingKeys) {
  Write(Configuration(
      Section("<Profile>common</Profile><LogLevel>3</LogLevel><DebugEnabled>yes</DebugEnabled>"
              "<Resolutions><Item>640x480</Item></Resolutions>"
              "<VideoChannel><StreamType>motion</StreamType></VideoChannel>") +
      GatewaySection("10.0.0.5", "4000", "<Profile>own</Profile>")));
  const GatewaySettings settings = ReadGatewaySettings(m_device);
  EXPECT_EQ(settings.profile, "own");
  EXPECT_EQ(settings.logLevel, 0u);
  EXPECT_FALSE(settings.debugEnabled);
  EXPECT_TRUE(settings.resolutions.empty());
}

TEST_F(SettingsTest, ProfileIsTakenAsWritten) {
  Write(Configuration(Section("<Profile> night shift </Profile>")));
  EXPECT_EQ(ReadGatewaySettings(m_device).profile, " night shift ");
}

TEST_F(SettingsTest, ResolutionsNeedTwoNonZeroNumbersAroundLowerCaseX) {
  Write(Configuration(Section(
      "<Resolutions>"
      "<Item>704x576</Item><Item>640X480</Item><Item>352x288x2</Item><Item>x240</Item>"
      "<Item>0x480</Item><Item>320x</Item><Item/><Item>abc</Item>"
      "<Item> 1280x720p</Item>"
      "</Resolutions>")));
  EXPECT_EQ(ReadGatewaySettings(m_device).resolutions, (Resolutions{{704, 576}, {1280, 720}}));
}

TEST_F(SettingsTest, DebugEnabledOnlyForExactYes) {
  struct Case {
    const char* text;
    bool enabled;
  };
  const Case cases[] = {{"yes", true}, {"Yes", false}, {" yes", false}, {"yes ", false},
                        {"YES", false}, {"1", false},  {"true", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("DebugEnabled \"") + c.text + "\"");
    Write(Configuration(Section(std::string("<DebugEnabled>") + c.text + "</DebugEnabled>")));
    EXPECT_EQ(ReadGatewaySettings(m_device).debugEnabled, c.enabled);
  }
}

TEST_F(SettingsTest, LogLevelIsAStrictInteger) {
  struct Case {
    const char* text;
    std::uint32_t level;
  };
  const Case cases[] = {{"3", 3}, {" 3", 0}, {"3 ", 0}, {"+4", 4}, {"3.0", 0}, {"four", 0}, {"", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("LogLevel \"") + c.text + "\"");
    Write(Configuration(Section(std::string("<LogLevel>") + c.text + "</LogLevel>")));
    EXPECT_EQ(ReadGatewaySettings(m_device).logLevel, c.level);
  }
}

TEST_F(SettingsTest, StreamTypeIsMotionOnlyForExactMotion) {
  struct Case {
    const char* text;
    std::uint32_t type;
  };
  const Case cases[] = {{"motion", kStreamTypeMotion}, {"Motion", kStreamTypeFullRate},
                        {" motion", kStreamTypeFullRate}, {"", kStreamTypeFullRate},
                        {"fullrate", kStreamTypeFullRate}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("StreamType \"") + c.text + "\"");
    Write(Configuration(
        Section(std::string("<VideoChannel><StreamType>") + c.text + "</StreamType></VideoChannel>")));
    EXPECT_EQ(ReadStreamType(m_device, 2), c.type);
  }
}

std::string Channel(const char* id, const char* type) {
  std::string attribute = id ? std::string(" id=\"") + id + "\"" : std::string();
  std::string stream = type ? std::string("<StreamType>") + type + "</StreamType>" : std::string();
  return "<VideoChannel" + attribute + ">" + stream + "</VideoChannel>";
}

TEST_F(SettingsTest, StreamTypeLooksUpGatewayChannelThenGatewayThenCommon) {
  struct Case {
    const char* name;
    std::string file;
    std::uint32_t channel2;
    std::uint32_t channel1;
  };
  const Case cases[] = {
      {"this Gateway, this channel",
       Configuration(Section(Channel(nullptr, "motion")) +
                     GatewaySection("10.0.0.5", "4000",
                                    Channel("1", "full") + Channel("2", "motion"))),
       kStreamTypeMotion, kStreamTypeFullRate},
      {"this Gateway, any channel, before Common's channel",
       Configuration(Section(Channel("2", "full")) +
                     GatewaySection("10.0.0.5", "4000", Channel("5", "motion"))),
       kStreamTypeMotion, kStreamTypeMotion},
      {"Common, this channel",
       Configuration(Section(Channel("1", "full") + Channel("2", "motion")) +
                     GatewaySection("10.0.0.5", "4000", "<Profile>p</Profile>")),
       kStreamTypeMotion, kStreamTypeFullRate},
      {"Common, any channel",
       Configuration(Section(Channel(nullptr, "motion"))),
       kStreamTypeMotion, kStreamTypeMotion},
      {"another Gateway's channel does not apply",
       Configuration(GatewaySection("10.0.0.6", "4000", Channel("2", "motion"))),
       kStreamTypeFullRate, kStreamTypeFullRate},
      // Channel 2's own element is chosen even when it names no stream
      // type; nothing further down is consulted. Channel 1 has no element of
      // its own, so the Gateway's stream types in general apply to it.
      {"this Gateway's channel without a stream type",
       Configuration(Section(Channel("2", "motion")) +
                     GatewaySection("10.0.0.5", "4000",
                                    Channel("2", nullptr) + Channel(nullptr, "motion"))),
       kStreamTypeFullRate, kStreamTypeMotion},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(c.file);
    EXPECT_EQ(ReadStreamType(m_device, 2), c.channel2);
    EXPECT_EQ(ReadStreamType(m_device, 1), c.channel1);
  }
}

TEST_F(SettingsTest, AddressWithDoubleQuoteMatchesNoGatewaySection) {
  Write(Configuration(
      Section("<Profile>common</Profile>" + Channel(nullptr, "full")) +
      GatewaySection("10.0.0.6", "4000", "<Profile>other</Profile>" + Channel("2", "motion")) +
      GatewaySection("a&quot;b", "4000", "<Profile>quoted</Profile>")));
  const char* const addresses[] = {
      // Would select the 10.0.0.6 section if the address became part of the path.
      "x\"][@port=\"4000\"] | /Configuration/Gateway[@address=\"10.0.0.6",
      "a\"b",
      "\"",
  };
  for (const char* address : addresses) {
    SCOPED_TRACE(std::string("address ") + address);
    const DEVICE_INFO device = Device(address, 4000);
    EXPECT_EQ(ReadGatewaySettings(device).profile, "common");
    EXPECT_EQ(ReadStreamType(device, 2), kStreamTypeFullRate);
  }
}

TEST_F(SettingsTest, ResilientIsOnOnlyForTheExactYesOfTheChosenSection) {
  EXPECT_FALSE(ReadGatewaySettings(m_device).resilient);  // no file
  const struct {
    const char* name;
    std::string file;
    bool expected;
  } cases[] = {
      {"key missing", Configuration(Section("<Profile>service</Profile>")), false},
      {"yes in Common", Configuration(Section("<Resilient>yes</Resilient>")), true},
      {"capital Y", Configuration(Section("<Resilient>Yes</Resilient>")), false},
      {"leading blank", Configuration(Section("<Resilient> yes</Resilient>")), false},
      {"no", Configuration(Section("<Resilient>no</Resilient>")), false},
      {"own section without the key",
       Configuration(Section("<Resilient>yes</Resilient>") +
                     GatewaySection(m_device.address, std::to_string(m_device.port), "<LogLevel>3</LogLevel>")),
       false},
      {"yes in its own section",
       Configuration(GatewaySection(m_device.address, std::to_string(m_device.port),
                                    "<Resilient>yes</Resilient>")),
       true},
      {"malformed file", "<Configuration><Common><Resilient>yes</Resilient>", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(c.file);
    EXPECT_EQ(ReadGatewaySettings(m_device).resilient, c.expected);
  }
}

}  // namespace
}  // namespace quorvel
