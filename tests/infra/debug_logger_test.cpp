#include "infra/debug_logger.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "infra/spawn_helper.h"
#include "infra/test_support.h"
#include "infra/time.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing_support::TempHome;

struct Record {
  int level;
  std::string text;
};

class RecordingSink : public IDebugInfoSink {
 public:
  void OnDebugInfo(CDebugInfoIf* record) override {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_records.push_back(Record{record->GetLevel(), record->GetText()});
  }
  std::vector<Record> Records() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_records;
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_records.clear();
  }

 private:
  std::mutex m_mutex;
  std::vector<Record> m_records;
};

// Sets (or clears) the host version for one test; before any thread starts.
class ScopedHostVersion {
 public:
  explicit ScopedHostVersion(const char* version) {
    if (version != nullptr) {
      setenv(CDebugLogger::kHostVersionEnvironmentVariable, version, 1);
    } else {
      unsetenv(CDebugLogger::kHostVersionEnvironmentVariable);
    }
  }
  ~ScopedHostVersion() { unsetenv(CDebugLogger::kHostVersionEnvironmentVariable); }
};

DEVICE_INFO Device() {
  DEVICE_INFO device;
  device.address = "10.0.0.1";
  device.port = 8080;
  return device;
}

void WriteSettings(const TempHome& home, const std::string& logLevel, bool fileEnabled) {
  std::ofstream file(home.Path() + "Strevon.xml");
  file << "<?xml version=\"1.0\"?>\n<Configuration><Common>";
  if (!logLevel.empty()) file << "<LogLevel>" << logLevel << "</LogLevel>";
  file << "<DebugEnabled>" << (fileEnabled ? "yes" : "no") << "</DebugEnabled>";
  file << "</Common></Configuration>\n";
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Lines of a CR LF file, without their ends; fails on a bare line feed.
std::vector<std::string> CrLfLines(const std::string& content) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    const std::size_t lf = content.find('\n', start);
    EXPECT_NE(std::string::npos, lf) << "last line without an end";
    if (lf == std::string::npos) break;
    EXPECT_TRUE(lf > start && content[lf - 1] == '\r') << "line end without CR";
    lines.push_back(content.substr(start, lf > start ? lf - start - 1 : 0));
    start = lf + 1;
  }
  return lines;
}

std::vector<fs::path> OldFiles(const TempHome& home) {
  std::vector<fs::path> result;
  for (const auto& entry : fs::directory_iterator(home.Path())) {
    if (entry.path().extension() == ".old") result.push_back(entry.path());
  }
  return result;
}

void MakeFileOfSize(const std::string& path, std::size_t size) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  const std::string block(4096, 'p');
  while (size > 0) {
    const std::size_t n = std::min(size, block.size());
    file.write(block.data(), static_cast<std::streamsize>(n));
    size -= n;
  }
}

const char* const kBanner = "======= Open log =======";

TEST(DebugLoggerTest, HostSinkFilterByLevelThresholdAndHostVersion) {
  struct Case {
    const char* name;
    const char* hostVersion;  // null: unset
    const char* logLevel;
    int level;
    bool reachesHost;
    int hostLevel;
  };
  const Case cases[] = {
      {"debug above threshold 2", "5.12.0.0", "2", 4, false, 0},
      {"info above threshold 2 on 5.12", "5.12.0.0", "2", 3, false, 0},
      {"info on 5.11 becomes warn and passes 2", "5.11.0.0", "2", 3, true, 2},
      {"info on 4.20 becomes warn", "4.20.0.0", "2", 3, true, 2},
      {"version unset counts as 5.12", nullptr, "2", 3, false, 0},
      {"malformed version counts as 5.12", "5.eleven", "2", 3, false, 0},
      {"5.11 maps only info", "5.11.0.0", "4", 4, true, 4},
      {"error passes", "5.12.0.0", "2", 1, true, 1},
      {"level 0 passes any threshold", "5.12.0.0", "0", 0, true, 0},
      {"summary needs threshold 100", "5.12.0.0", "99", 100, false, 0},
      {"summary at threshold 100", "5.12.0.0", "100", 100, true, 100},
      {"negative level is huge unsigned", "5.12.0.0", "100", -1, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempHome home;
    ScopedHostVersion version(c.hostVersion);
    WriteSettings(home, c.logLevel, false);
    RecordingSink sink;
    CDebugLogger logger;
    ASSERT_TRUE(logger.Open(Device(), "Strevon", &sink));
    sink.Clear();  // the banner
    EXPECT_EQ(c.reachesHost, logger.WouldLog(c.level));
    logger.Write(c.level, "quorvel::Test::Run: message");
    const std::vector<Record> records = sink.Records();
    ASSERT_EQ(c.reachesHost ? 1u : 0u, records.size());
    if (c.reachesHost) {
      EXPECT_EQ(c.hostLevel, records[0].level);
      EXPECT_EQ("quorvel::Test::Run: message", records[0].text);
    }
    EXPECT_FALSE(fs::exists(home.Path() + "Strevon.log")) << "file logging is off";
  }
}

TEST(DebugLoggerTest, NothingIsLoggedBeforeOpen) {
  TempHome home;
  CDebugLogger logger;
  EXPECT_FALSE(logger.WouldLog(1));
  logger.Write(1, "early");
  EXPECT_EQ("", logger.GetLogFilePath());
}

TEST(DebugLoggerTest, FileTakesLevelsOneToFourWhateverTheThreshold) {
  TempHome home;
  ScopedHostVersion version("5.12.0.0");
  WriteSettings(home, "2", true);
  RecordingSink sink;
  CDebugLogger logger;
  ASSERT_FALSE(fs::exists(home.Path() + "Strevon.log"));
  ASSERT_TRUE(logger.Open(Device(), "Strevon", &sink));
  EXPECT_EQ(home.Path() + "Strevon.log", logger.GetLogFilePath());
  ASSERT_TRUE(fs::exists(home.Path() + "Strevon.log")) << "the banner created the missing file";

  for (int level = 0; level <= 5; ++level) {
    logger.WriteFormatted(level, "%s: level %d", "quorvel::Test::Run", level);
  }
  EXPECT_TRUE(logger.WouldLog(4)) << "the file takes it";
  EXPECT_FALSE(logger.WouldLog(5));

  const std::vector<std::string> lines = CrLfLines(ReadFile(home.Path() + "Strevon.log"));
  ASSERT_EQ(5u, lines.size());
  const std::regex stamp(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )");
  const char* expectedEnds[] = {
      "<INFO>(10.0.0.1:8080): ======= Open log =======",
      "<ERROR>(10.0.0.1:8080): quorvel::Test::Run: level 1",
      "<WARN>(10.0.0.1:8080): quorvel::Test::Run: level 2",
      "<INFO>(10.0.0.1:8080): quorvel::Test::Run: level 3",
      "<DEBUG>(10.0.0.1:8080): quorvel::Test::Run: level 4",
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    ASSERT_GT(lines[i].size(), 24u);
    EXPECT_TRUE(std::regex_match(lines[i].substr(0, 24), stamp));
    EXPECT_EQ(expectedEnds[i], lines[i].substr(24));
  }

  // Host: level 0, 1 and 2 pass threshold 2; the banner (3) does not.
  std::vector<int> hostLevels;
  for (const Record& r : sink.Records()) hostLevels.push_back(r.level);
  EXPECT_EQ((std::vector<int>{0, 1, 2}), hostLevels);
}

TEST(DebugLoggerTest, FileLineFormat) {
  struct Case {
    const char* name;
    int level;
    const char* context;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"with context", 4, "gw:80", "a: b", "S <DEBUG>(gw:80): a: b\r\n"},
      {"empty context: tag then colon", 2, "", "a: b", "S <WARN>: a: b\r\n"},
      {"error tag", 1, "gw:80", "x", "S <ERROR>(gw:80): x\r\n"},
      {"inner line feed gets CR too", 3, "", "one\ntwo", "S <INFO>: one\r\ntwo\r\n"},
      {"percent signs are text", 4, "", "100%s", "S <DEBUG>: 100%s\r\n"},
      {"level 0 has no line", 0, "gw:80", "x", ""},
      {"level 5 has no line", 5, "gw:80", "x", ""},
      {"level 100 has no line", 100, "gw:80", "x", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, CDebugLogger::FormatFileLine(c.level, "S", c.context, c.text));
  }
}

class DebugLoggerFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_home.Path().empty());
    WriteSettings(m_home, "2", true);
    ASSERT_TRUE(m_logger.Open(Device(), "Strevon", nullptr));
    m_path = m_home.Path() + "Strevon.log";
  }

  TempHome m_home;
  ScopedHostVersion m_version{"5.12.0.0"};
  CDebugLogger m_logger;
  std::string m_path;
};

TEST_F(DebugLoggerFileTest, RotatesAtExactlyTwoMebibytes) {
  struct Case {
    const char* name;
    std::size_t size;
    bool rotates;
  };
  const Case cases[] = {
      {"one byte short stays", CDebugLogger::kRotationSize - 1, false},
      {"exactly 2 MiB rotates", CDebugLogger::kRotationSize, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const fs::path& old : OldFiles(m_home)) fs::remove(old);
    MakeFileOfSize(m_path, c.size);
    m_logger.Write(4, "after");
    const std::vector<fs::path> olds = OldFiles(m_home);
    if (c.rotates) {
      ASSERT_EQ(1u, olds.size());
      EXPECT_TRUE(std::regex_match(olds[0].filename().string(),
                                   std::regex(R"(Strevon\.log_\d{8}_\d{6}\.old)")))
          << olds[0];
      EXPECT_EQ(c.size, fs::file_size(olds[0]));
      const std::vector<std::string> lines = CrLfLines(ReadFile(m_path));
      ASSERT_EQ(1u, lines.size());
      EXPECT_NE(std::string::npos, lines[0].find("<DEBUG>(10.0.0.1:8080): after"));
    } else {
      EXPECT_TRUE(olds.empty());
      EXPECT_GT(fs::file_size(m_path), c.size);
    }
  }
}

TEST_F(DebugLoggerFileTest, SecondRotationWithinTheSameSecondFailsAndItsLineIsLost) {
  // The two rotations must fall into one wall-clock second; retry when the
  // second changed in between.
  for (int attempt = 0; attempt < 5; ++attempt) {
    for (const fs::path& old : OldFiles(m_home)) fs::remove(old);
    const std::string stampBefore = GetFileTimeStamp();
    MakeFileOfSize(m_path, CDebugLogger::kRotationSize);
    m_logger.Write(4, "first");
    const std::uintmax_t afterFirst = fs::file_size(m_path);
    MakeFileOfSize(m_path, CDebugLogger::kRotationSize + 10);
    m_logger.Write(4, "second");
    if (GetFileTimeStamp() != stampBefore) continue;

    ASSERT_EQ(1u, OldFiles(m_home).size());
    EXPECT_LT(afterFirst, 200u) << "the first rotation left a fresh file";
    EXPECT_EQ(CDebugLogger::kRotationSize + 10, static_cast<std::int64_t>(fs::file_size(m_path)))
        << "the second line was dropped and the file kept";
    // A later line retries the rotation and gets through once the second changed.
    return;
  }
  GTEST_SKIP() << "the clock kept crossing second boundaries";
}

TEST_F(DebugLoggerFileTest, ThreadsAndProcessesAppendWholeLines) {
  constexpr int kLinesPerWriter = 300;
  const pid_t first = testing_support::SpawnHelper({"write", "P1", std::to_string(kLinesPerWriter)});
  ASSERT_GT(first, 0) << "helper missing: " << testing_support::HelperPath();
  const pid_t second = testing_support::SpawnHelper({"write", "P2", std::to_string(kLinesPerWriter)});
  ASSERT_GT(second, 0);
  const std::string padding(200, 'x');
  std::vector<std::thread> threads;
  for (const char* tag : {"T1", "T2"}) {
    threads.emplace_back([&, tag]() {
      for (int i = 0; i < kLinesPerWriter; ++i) {
        m_logger.WriteFormatted(4, "%s: writer %s line %05d %s", "quorvel::LogWriter::Run", tag,
                                i, padding.c_str());
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(0, testing_support::WaitForHelper(first, 60000));
  EXPECT_EQ(0, testing_support::WaitForHelper(second, 60000));

  const std::vector<std::string> lines = CrLfLines(ReadFile(m_path));
  const std::regex banner(
      R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} <INFO>\(10\.0\.0\.1:8080\): ======= Open log =======)");
  const std::regex line(
      R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} <DEBUG>\(10\.0\.0\.1:8080\): quorvel::LogWriter::Run: writer (\w\d) line (\d{5}) x{200})");
  std::map<std::string, int> nextByWriter;
  int banners = 0;
  for (const std::string& text : lines) {
    std::smatch match;
    if (std::regex_match(text, banner)) {
      ++banners;
      continue;
    }
    ASSERT_TRUE(std::regex_match(text, match, line)) << "torn or mixed line: " << text;
    int& next = nextByWriter[match[1].str()];
    EXPECT_EQ(next, std::stoi(match[2].str())) << "writer " << match[1].str();
    next = std::stoi(match[2].str()) + 1;
  }
  EXPECT_EQ(3, banners) << "this process and the two helpers";
  for (const char* tag : {"P1", "P2", "T1", "T2"}) {
    EXPECT_EQ(kLinesPerWriter, nextByWriter[tag]) << tag;
  }
}

TEST(DebugLoggerReopenTest, ReopenWhileOtherThreadsLogIsSafe) {
  TempHome home;
  ScopedHostVersion version("5.11.0.0");
  WriteSettings(home, "4", true);
  RecordingSink sink;
  CDebugLogger logger;
  ASSERT_TRUE(logger.Open(Device(), "Strevon", &sink));
  std::atomic<bool> done{false};
  std::thread writer([&]() {
    for (int i = 0; !done.load() && i < 100000; ++i) {
      if (logger.WouldLog(4)) logger.Write(4, "quorvel::Test::Run: busy");
    }
  });
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(logger.Open(Device(), "Strevon", &sink));
  done = true;
  writer.join();
  EXPECT_EQ(11, logger.GetHostVersion().minor);
  EXPECT_FALSE(sink.Records().empty());
}

}  // namespace
}  // namespace quorvel
