#include "infra/debug_logger.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <regex>
#include <thread>
#include <vector>

#include "infra/device_info.h"
#include "support/process.h"
#include "support/temp_home.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using test_support::SetEnvironment;
using test_support::TempHome;
using test_support::UnsetEnvironment;

struct RecordingSink final : IDebugInfoSink {
  STREVON_IMPLEMENT_SLOT0
  void OnDebugInfo(CDebugInfoIf* record) override {
    std::lock_guard<std::mutex> guard(mutex);
    levels.push_back(record->GetLevel());
  }
  std::vector<int> Take() {
    std::lock_guard<std::mutex> guard(mutex);
    return std::move(levels);
  }
  std::mutex mutex;
  std::vector<int> levels;
};

DEVICE_INFO Device() {
  DEVICE_INFO device;
  device.address = "10.0.0.1";
  device.port = 8080;
  return device;
}

// Settings and host version (null: unset) for one Open, before any thread starts.
bool OpenLogger(CDebugLogger& logger, const TempHome& home, const char* hostVersion,
                const std::string& logLevel, bool fileEnabled, IDebugInfoSink* sink) {
  hostVersion ? SetEnvironment(CDebugLogger::kHostVersionEnvironmentVariable, hostVersion)
              : UnsetEnvironment(CDebugLogger::kHostVersionEnvironmentVariable);
  home.Write("<?xml version=\"1.0\"?>\n<Configuration><Common><LogLevel>" + logLevel +
             "</LogLevel><DebugEnabled>" + (fileEnabled ? "yes" : "no") +
             "</DebugEnabled></Common></Configuration>\n");
  return logger.Open(Device(), "Strevon", sink);
}

// Lines of a CR LF file, without their ends; fails on a bare line feed.
std::vector<std::string> CrLfLines(const std::string& content) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t lf; (lf = content.find('\n', start)) != std::string::npos; start = lf + 1) {
    EXPECT_TRUE(lf > start && content[lf - 1] == '\r') << "line end without CR";
    lines.push_back(content.substr(start, lf > start ? lf - start - 1 : 0));
  }
  EXPECT_EQ(start, content.size()) << "last line without an end";
  return lines;
}

std::vector<fs::path> OldFiles(const TempHome& home) {
  std::vector<fs::path> result;
  for (const auto& entry : fs::directory_iterator(home.Path())) {
    if (entry.path().extension() == ".old") result.push_back(entry.path());
  }
  return result;
}

const std::string kStamp = R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )";

TEST(DebugLoggerTest, HostSinkFilterByLevelThresholdAndHostVersion) {
  struct Case {
    const char* name;
    const char* hostVersion;  // null: unset
    const char* logLevel;
    int level;
    std::vector<int> host;  // levels that reached the host
  };
  const Case cases[] = {
      {"info on 5.11 becomes warn and passes 2", "5.11.0.0", "2", 3, {2}},
      {"version unset counts as 5.12", nullptr, "2", 3, {}},
      {"malformed version counts as 5.12", "5.eleven", "2", 3, {}},
      {"5.11 maps only info", "5.11.0.0", "4", 4, {4}},
      {"level 0 passes any threshold", "5.12.0.0", "0", 0, {0}},
      {"negative level is huge unsigned", "5.12.0.0", "100", -1, {}},
      {"summary level passes a threshold as high", "5.11.0.0", "100", 100, {100}},
      {"summary level above the threshold", "5.12.0.0", "99", 100, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempHome home;
    RecordingSink sink;
    CDebugLogger logger;
    ASSERT_TRUE(OpenLogger(logger, home, c.hostVersion, c.logLevel, false, &sink));
    sink.Take();  // the banner
    EXPECT_EQ(!c.host.empty(), logger.WouldLog(c.level));
    logger.Write(c.level, "quorvel::Test::Run: message");
    EXPECT_EQ(c.host, sink.Take());
    EXPECT_FALSE(fs::exists(home.Path() + "Strevon.log")) << "file logging is off";
  }
}

TEST(DebugLoggerTest, FileTakesLevelsOneToFourWhateverTheThresholdAndNothingBeforeOpen) {
  TempHome home;
  RecordingSink sink;
  CDebugLogger logger;
  EXPECT_FALSE(logger.WouldLog(1));
  logger.Write(1, "before Open");
  EXPECT_EQ("", logger.GetLogFilePath());
  ASSERT_TRUE(OpenLogger(logger, home, "5.12.0.0", "2", true, &sink));
  EXPECT_EQ(home.Path() + "Strevon.log", logger.GetLogFilePath());
  for (int level = 0; level <= 5; ++level) logger.WriteFormatted(level, "Run: level %d", level);
  EXPECT_TRUE(logger.WouldLog(4)) << "the file takes it";
  EXPECT_FALSE(logger.WouldLog(5));
  EXPECT_TRUE(logger.WouldLog(0)) << "the host takes it";
  logger.CloseSink();
  EXPECT_FALSE(logger.WouldLog(0)) << "the host is gone";
  EXPECT_TRUE(logger.WouldLog(4)) << "the file still takes it";

  const std::vector<std::string> lines = CrLfLines(home.Read("Strevon.log"));
  const char* const expected[] = {
      "<INFO>(10.0.0.1:8080): ======= Open log =======",
      "<ERROR>(10.0.0.1:8080): Run: level 1", "<WARN>(10.0.0.1:8080): Run: level 2",
      "<INFO>(10.0.0.1:8080): Run: level 3",  "<DEBUG>(10.0.0.1:8080): Run: level 4",
  };
  ASSERT_EQ(5u, lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(std::regex_match(lines[i].substr(0, 24), std::regex(kStamp))) << lines[i];
    EXPECT_EQ(expected[i], lines[i].substr(24));
  }
  EXPECT_EQ((std::vector<int>{0, 1, 2}), sink.Take());
}

TEST(DebugLoggerTest, RotatesAtExactlyTwoMebibytesUnlessThisSecondsOldFileExists) {
  TempHome home;
  CDebugLogger logger;
  ASSERT_TRUE(OpenLogger(logger, home, "5.12.0.0", "2", true, nullptr));
  struct Case {
    const char* name;
    std::int64_t size;
    bool oldExists;  // then both files are kept as they are and the line is lost
    bool rotates;
  };
  const Case cases[] = {{"one byte short stays", CDebugLogger::kRotationSize - 1, false, false},
                        {"exactly 2 MiB rotates", CDebugLogger::kRotationSize, false, true},
                        {"an .old of this second exists", CDebugLogger::kRotationSize + 10, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const fs::path& old : OldFiles(home)) fs::remove(old);
    for (int s = 0; c.oldExists && s < 3; ++s) {  // every second the write below can fall into
      char stamp[32];
      const time_t when = time(nullptr) + s;
      tm local{};
#if defined(_WIN32)
      localtime_s(&local, &when);
#else
      localtime_r(&when, &local);
#endif
      strftime(stamp, sizeof stamp, "Strevon.log_%Y%m%d_%H%M%S.old", &local);
      home.Write("kept", stamp);
    }
    home.Write(std::string(static_cast<std::size_t>(c.size), 'p'), "Strevon.log");
    logger.Write(4, "after");
    const std::vector<fs::path> olds = OldFiles(home);
    const auto logSize = fs::file_size(home.Path() + "Strevon.log");
    ASSERT_EQ(c.rotates ? 1u : c.oldExists ? 3u : 0u, olds.size());
    for (const fs::path& old : olds) {
      EXPECT_TRUE(std::regex_match(old.filename().string(),
                                   std::regex(R"(Strevon\.log_\d{8}_\d{6}\.old)")));
      EXPECT_EQ(c.rotates ? static_cast<std::uintmax_t>(c.size) : 4u, fs::file_size(old));
    }
    if (c.rotates) {
      const std::vector<std::string> lines = CrLfLines(home.Read("Strevon.log"));
      ASSERT_EQ(1u, lines.size());
      EXPECT_NE(std::string::npos, lines[0].find("<DEBUG>(10.0.0.1:8080): after"));
    } else {
      EXPECT_EQ(c.oldExists, logSize == static_cast<std::uintmax_t>(c.size)) << logSize;
    }
  }
}

// The log file is shared by every process on the machine: each line is one
// critical section of the named mutex.
TEST(DebugLoggerTest, ProcessesAppendWholeLines) {
  TempHome home;
  CDebugLogger logger;
  ASSERT_TRUE(OpenLogger(logger, home, "5.12.0.0", "2", true, nullptr));
  constexpr int kLines = 300;
  const std::string helper = std::string(STREVON_TEST_BINARY_DIR) + "/log_writer_main";
  test_support::ChildProcess children[] = {{{helper, "write", "P1", std::to_string(kLines)}},
                                           {{helper, "write", "P2", std::to_string(kLines)}}};
  for (test_support::ChildProcess& child : children) ASSERT_TRUE(child.Started()) << helper;
  for (int i = 0; i < kLines; ++i) {  // and this process at the same time
    logger.WriteFormatted(4, "%s: writer T1 line %05d %s", "quorvel::LogWriter::Run", i,
                          std::string(200, 'x').c_str());
  }
  for (auto& child : children) EXPECT_EQ(0, child.Wait(std::chrono::seconds(60))) << child.Output();

  const std::regex banner(kStamp + R"(<INFO>\(10\.0\.0\.1:8080\): ======= Open log =======)");
  const std::regex line(kStamp + R"(<DEBUG>\(10\.0\.0\.1:8080\): quorvel::LogWriter::Run: )"
                                 R"(writer (\w\d) line (\d{5}) x{200})");
  std::map<std::string, int> nextByWriter;
  int banners = 0;
  for (const std::string& text : CrLfLines(home.Read("Strevon.log"))) {
    std::smatch match;
    if (std::regex_match(text, banner)) { ++banners; continue; }
    ASSERT_TRUE(std::regex_match(text, match, line)) << "torn or mixed line: " << text;
    int& next = nextByWriter[match[1].str()];
    EXPECT_EQ(next, std::stoi(match[2].str())) << "writer " << match[1].str();
    next = std::stoi(match[2].str()) + 1;
  }
  EXPECT_EQ(3, banners) << "this process and the two helpers";
  for (const char* tag : {"P1", "P2", "T1"}) EXPECT_EQ(kLines, nextByWriter[tag]) << tag;
}

TEST(DebugLoggerTest, ReopenWhileOtherThreadsLogIsSafe) {
  TempHome home;
  RecordingSink sink;
  CDebugLogger logger;
  ASSERT_TRUE(OpenLogger(logger, home, "5.11.0.0", "4", true, &sink));
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; !done.load() && i < 100000; ++i) {
      if (logger.WouldLog(4)) logger.Write(4, "quorvel::Test::Run: busy");
    }
  });
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(logger.Open(Device(), "Strevon", &sink));
  done = true;
  writer.join();
  EXPECT_EQ(11, logger.GetHostVersion().minor);
  EXPECT_FALSE(sink.Take().empty());
}

}  // namespace
}  // namespace quorvel
