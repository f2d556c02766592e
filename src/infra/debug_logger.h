// CDebugLogger: where every log line of one driver goes.
//
// A line goes to the host's debug sink when its level passes the configured
// threshold (hosts older than 5.12 get INFO as WARN), and, when file logging
// is on, to "<name>.log" in the driver's home directory whatever the
// threshold (levels 1 to 4 only). The file is shared by every driver of every
// process on the machine: each line is one critical section of the named
// mutex "MUTEX_<name>", and the file is renamed to "<path>_<stamp>.old" once
// it reaches 2 MiB. Nothing is buffered; a line is on disk when Write returns.
// Every failure drops the line; nothing is reported and nothing is thrown.
//
// Owned by the capture driver. Open runs on a host thread before the
// driver's threads start (and again after a Close); Write, WriteFormatted and
// WouldLog come from any thread, concurrently. Open publishes a complete new
// configuration at once, so a line being written during a late re-Open uses
// either the old or the new one, never a mix, and the old named mutex lives
// until its last line is written.
//
// The host's sink is used only between Open and CloseSink: CloseSink stops
// new sink calls at once and waits, at most kSinkCloseWaitMs, for the ones
// under way, so that a driver thread that outlives its stop never calls a
// sink the host has already freed. The file goes on taking lines.
//
// Host version: the host's core module version decides the INFO-to-WARN
// mapping. There is no module version to read here; the environment
// variable STREVON_HOST_VERSION ("5.11.0.0") names it, read at Open, and
// 5.12.0.0 applies when it is unset or malformed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <string>

#include "infra/device_info.h"
#include "infra/plain_lock.h"
#include "strevon.h"

namespace quorvel {

class CMutex;

class CDebugLogger {
 public:
  static constexpr std::int64_t kRotationSize = 2097152;
  static constexpr const char* kHostVersionEnvironmentVariable = "STREVON_HOST_VERSION";
  // How long CloseSink waits for sink calls under way: a host whose sink
  // blocks must not make Close hang.
  static constexpr std::uint32_t kSinkCloseWaitMs = 1000;

  struct HostVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;
  };

  CDebugLogger();
  virtual ~CDebugLogger();

  CDebugLogger(const CDebugLogger&) = delete;
  CDebugLogger& operator=(const CDebugLogger&) = delete;

  // Reads the settings for the device's Gateway, names the log after name,
  // keeps sink (not owned) and writes the "Open log" banner. False only when
  // the configuration could not be allocated.
  bool Open(const DEVICE_INFO& device, const std::string& name, IDebugInfoSink* sink);

  // No line reaches the sink after this returns, except from a call that
  // was still inside the sink after kSinkCloseWaitMs. Until the next Open.
  void CloseSink();

  void Write(int level, const std::string& text);
  void WriteFormatted(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));

  // Cheap check whether a line at this level would reach the host or the
  // file, so that hot paths can skip formatting a line nobody takes.
  bool WouldLog(int level) const {
    if (level >= 0 && level < kLoggedLevelBits) {
      return (m_loggedLevels.load(std::memory_order_relaxed) >> level & 1u) != 0;
    }
    // The summary level and beyond go to the host alone, unmapped.
    return m_hasSink.load(std::memory_order_relaxed) &&
           static_cast<std::uint32_t>(level) <= m_hostLevel.load(std::memory_order_relaxed);
  }

  // "<home>/<name>.log"; empty before Open or without a home directory.
  std::string GetLogFilePath() const;

  // The version Open settled on (0.0.0.0 before Open).
  HostVersion GetHostVersion() const;

  // One file line, CR LF ended: "<stamp> <TAG>(<context>): <text>", or
  // "<stamp> <TAG>: <text>" for an empty context; empty for a level
  // outside 1 to 4, which never reaches the file.
  static std::string FormatFileLine(int level, const std::string& stamp,
                                    const std::string& context, const std::string& text);

 private:
  struct Config;

  std::shared_ptr<const Config> LoadConfig() const;
  void PostToHost(const Config& config, int level, const std::string& text);
  static void WriteToFile(const Config& config, int level, const std::string& text);
  static std::string LogFilePath(const Config& config);

  // Replaced as a whole by Open; null before the first Open.
  std::shared_ptr<const Config> m_config;
  // Whether a sink may be called; cleared first by CloseSink.
  std::atomic<bool> m_hasSink{false};
  // The highest level the host takes, written by Open.
  std::atomic<std::uint32_t> m_hostLevel{0};
  // Bit k set when a line at level k would be written anywhere: the
  // settings folded once by Open for WouldLog; m_fileLevels is the same
  // without the sink, for CloseSink.
  static constexpr int kLoggedLevelBits = 32;
  static std::uint32_t LoggedLevels(bool toFile, bool toHost, bool infoAsWarn, std::uint32_t hostLevel);
  std::atomic<std::uint32_t> m_loggedLevels{0};
  std::atomic<std::uint32_t> m_fileLevels{0};

  CPlainLock m_sinkLock;
  std::condition_variable m_sinkCallEnded;
  // The sink that may be called (null after CloseSink), and the calls
  // inside a sink now.
  IDebugInfoSink* m_sink GUARDED_BY(m_sinkLock) = nullptr;
  std::uint32_t m_sinkCalls GUARDED_BY(m_sinkLock) = 0;
};

}  // namespace quorvel
