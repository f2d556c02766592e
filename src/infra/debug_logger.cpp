#include "infra/debug_logger.h"

#include <chrono>
#include <cstdarg>
#include <vector>

#include "infra/debug_info.h"
#include "infra/device_info.h"
#include "infra/mutex.h"
#include "infra/platform/file_system.h"
#include "infra/platform/process.h"
#include "infra/settings.h"
#include "infra/text_helpers.h"
#include "infra/time.h"

namespace quorvel {

namespace {

constexpr int kLevelError = 1;
constexpr int kLevelWarn = 2;
constexpr int kLevelInfo = 3;
constexpr int kLevelDebug = 4;

const CDebugLogger::HostVersion kDefaultHostVersion{5, 12, 0, 0};

// "a.b.c.d" with one to four decimal parts; missing parts are 0.
bool ParseHostVersion(const std::string& text, CDebugLogger::HostVersion& version) {
  const std::vector<std::string> parts = Split(text, '.');
  if (parts.empty() || parts.size() > 4) return false;
  std::uint16_t numbers[4] = {0, 0, 0, 0};
  for (std::size_t i = 0; i < parts.size(); ++i) {
    int value = 0;
    if (!ParseInt(parts[i], value) || value < 0 || value > 0xFFFF) return false;
    numbers[i] = static_cast<std::uint16_t>(value);
  }
  version = CDebugLogger::HostVersion{numbers[0], numbers[1], numbers[2], numbers[3]};
  return true;
}

CDebugLogger::HostVersion ReadHostVersion() {
  CDebugLogger::HostVersion version;
  const std::string text = platform::HostCoreVersion();
  return ParseHostVersion(text, version) ? version : kDefaultHostVersion;
}

// Hosts before 5.12 know no INFO level in their sink.
bool MapsInfoToWarn(const CDebugLogger::HostVersion& version) {
  return version.major < 5 || (version.major == 5 && version.minor < 12);
}

int EffectiveHostLevel(int level, bool infoAsWarn) {
  return infoAsWarn && level == kLevelInfo ? kLevelWarn : level;
}

const char* FileLineFormat(int level) {
  switch (level) {
    case kLevelError:
      return "%s <ERROR>%s: %s\n";
    case kLevelWarn:
      return "%s <WARN>%s: %s\n";
    case kLevelInfo:
      return "%s <INFO>%s: %s\n";
    case kLevelDebug:
      return "%s <DEBUG>%s: %s\n";
    default:
      return nullptr;
  }
}

// The log is a text file with CR LF line ends wherever it is written, so
// every line feed becomes CR LF, as a text-mode write would make it.
std::string WithCrLf(const std::string& line) {
  std::string result;
  result.reserve(line.size() + 2);
  for (char c : line) {
    if (c == '\n') result += '\r';
    result += c;
  }
  return result;
}

bool RotateLogFile(const std::string& path) {
  const std::string old = FormatString("%s_%s.old", path.c_str(), GetFileTimeStamp().c_str());
  if (old.empty()) return false;
  // An .old of this second already exists: keep both files as they are.
  if (platform::ProbeFile(old) != platform::FileProbe::kMissing) return false;
  return platform::RenameNoReplace(path, old);
}

bool AppendWithRotation(const std::string& path, const std::string& line) {
  const std::int64_t size = platform::GetFileLength(path);
  if (size >= CDebugLogger::kRotationSize && !RotateLogFile(path)) return false;
  return platform::AppendToFile(path, line);
}

// Releases the named mutex on every way out.
class NamedLockScope {
 public:
  explicit NamedLockScope(CMutex& mutex) : m_mutex(mutex), m_locked(mutex.Lock()) {}
  ~NamedLockScope() {
    if (m_locked) m_mutex.Unlock();
  }
  NamedLockScope(const NamedLockScope&) = delete;
  NamedLockScope& operator=(const NamedLockScope&) = delete;
  bool Locked() const { return m_locked; }

 private:
  CMutex& m_mutex;
  const bool m_locked;
};

}  // namespace

// One complete configuration, immutable once published.
struct CDebugLogger::Config {
  std::string name;
  std::string context;  // "address:port" of the Gateway
  std::shared_ptr<CMutex> mutex;
  std::uint32_t logLevel = 2;
  bool fileEnabled = false;
  HostVersion hostVersion;
};

CDebugLogger::CDebugLogger() = default;

CDebugLogger::~CDebugLogger() = default;

std::shared_ptr<const CDebugLogger::Config> CDebugLogger::LoadConfig() const {
  return std::atomic_load(&m_config);
}

bool CDebugLogger::Open(const DEVICE_INFO& device, const std::string& name,
                        IDebugInfoSink* sink) {
  try {
    auto config = std::make_shared<Config>();
    config->name = name;
    config->context = FormatString("%s:%u", device.address.c_str(), static_cast<unsigned>(device.port));
    const GatewaySettings settings = ReadGatewaySettings(device);
    config->logLevel = settings.logLevel;
    config->fileEnabled = settings.debugEnabled;
    config->hostVersion = ReadHostVersion();
    config->mutex = std::make_shared<CMutex>(FormatString("MUTEX_%s", config->name.c_str()));

    {
      CPlainGuard guard(m_sinkLock);
      m_sink = sink;
    }
    m_hostLevel.store(config->logLevel);
    m_hasSink.store(sink != nullptr);
    const bool infoAsWarn = MapsInfoToWarn(config->hostVersion);
    m_fileLevels.store(LoggedLevels(config->fileEnabled, false, infoAsWarn, config->logLevel));
    m_loggedLevels.store(LoggedLevels(config->fileEnabled, sink != nullptr, infoAsWarn, config->logLevel));
    std::atomic_store(&m_config, std::shared_ptr<const Config>(std::move(config)));
  } catch (...) {
    return false;
  }
  WriteFormatted(kLevelInfo, "======= Open log =======");
  return true;
}

void CDebugLogger::CloseSink() {
  m_hasSink.store(false);
  m_loggedLevels.store(m_fileLevels.load());
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kSinkCloseWaitMs);
  CPlainGuard guard(m_sinkLock);
  m_sink = nullptr;
  while (m_sinkCalls != 0 &&
         m_sinkCallEnded.wait_until(guard.ForWait(), deadline) != std::cv_status::timeout) {
  }
}

void CDebugLogger::Write(int level, const std::string& text) {
  try {
    const std::shared_ptr<const Config> config = LoadConfig();
    if (!config) return;
    PostToHost(*config, level, text);
    WriteToFile(*config, level, text);
  } catch (...) {
    // Logging never fails its caller.
  }
}

void CDebugLogger::WriteFormatted(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatStringV(format, args);
  va_end(args);
  Write(level, text);
}

std::uint32_t CDebugLogger::LoggedLevels(bool toFile, bool toHost, bool infoAsWarn,
                                         std::uint32_t hostLevel) {
  std::uint32_t levels = 0;
  for (int level = 0; level < kLoggedLevelBits; ++level) {
    const bool logged =
        (toFile && FileLineFormat(level) != nullptr) ||
        (toHost && static_cast<std::uint32_t>(EffectiveHostLevel(level, infoAsWarn)) <= hostLevel);
    if (logged) levels |= std::uint32_t{1} << level;
  }
  return levels;
}

std::string CDebugLogger::GetLogFilePath() const {
  try {
    const std::shared_ptr<const Config> config = LoadConfig();
    return config ? LogFilePath(*config) : std::string();
  } catch (...) {
    return std::string();
  }
}

CDebugLogger::HostVersion CDebugLogger::GetHostVersion() const {
  const std::shared_ptr<const Config> config = LoadConfig();
  return config ? config->hostVersion : HostVersion();
}

std::string CDebugLogger::LogFilePath(const Config& config) {
  const std::string home = platform::DriverHomeDirectory();
  if (home.empty()) return std::string();
  return home + config.name + ".log";
}

std::string CDebugLogger::FormatFileLine(int level, const std::string& stamp,
                                         const std::string& context, const std::string& text) {
  const char* format = FileLineFormat(level);
  if (format == nullptr) return std::string();
  const std::string parenthesised =
      context.empty() ? std::string() : FormatString("(%s)", context.c_str());
  return WithCrLf(FormatString(format, stamp.c_str(), parenthesised.c_str(), text.c_str()));
}

void CDebugLogger::PostToHost(const Config& config, int level, const std::string& text) {
  if (!m_hasSink.load()) return;
  const int effective = EffectiveHostLevel(level, MapsInfoToWarn(config.hostVersion));
  if (static_cast<std::uint32_t>(effective) > config.logLevel) return;
  CDebugInfo record(static_cast<unsigned char>(effective), text);
  // The sink comes from here, not from the configuration: a line that
  // loaded its configuration before a Close must not reach the old sink.
  IDebugInfoSink* sink = nullptr;
  {
    CPlainGuard guard(m_sinkLock);
    sink = m_sink;
    if (sink == nullptr) return;
    ++m_sinkCalls;
  }
  // Ends the count also when the host throws.
  struct CallEnd {
    CDebugLogger* logger;
    ~CallEnd() {
      CPlainGuard guard(logger->m_sinkLock);
      --logger->m_sinkCalls;
      logger->m_sinkCallEnded.notify_all();
    }
  } end{this};
  sink->OnDebugInfo(&record);
}

void CDebugLogger::WriteToFile(const Config& config, int level, const std::string& text) {
  if (!config.fileEnabled) return;
  const std::string line = FormatFileLine(level, GetLocalTimeStamp(), config.context, text);
  if (line.empty()) return;
  const std::string path = LogFilePath(config);
  if (path.empty() || !config.mutex || !config.mutex->IsValid()) return;
  NamedLockScope lock(*config.mutex);
  if (!lock.Locked()) return;
  AppendWithRotation(path, line);
}

}  // namespace quorvel
