// strevon_e2e_bench: end-to-end measurements of libstrevon.so against the
// Gateway simulator running in a process of its own (so that its CPU is not
// charged to the driver).
//
//   throughput  the simulator streams native frames unthrottled; the same
//               stream is read once by a plain recv loop (raw) and once through
//               the driver (frame handler checks length, stamp and a sampled
//               filler checksum; the host's allocator reuses its buffers)
//   steady      64 channels at 25 fps, 100 KiB frames: write-to-callback
//               latency, CPU of the driver's threads per frame, RSS
//   idle        RSS added by one open, connected driver with no channel running
//   control     host PTZ call to the command arriving at the Gateway, and
//               Open to the profile request (the last step of connecting),
//               with the simulator in this process
//
// Flags (all optional):
//   --sim PATH          strevon-gateway-sim executable (default: built beside)
//   --lib PATH          libstrevon.so (default: built beside)
//   --out FILE          JSON rows (default: bench/results/latest.json)
//   --window-ms N       measuring window per throughput case (default 1500)
//   --steady-s N        length of the steady run (default 60)
//   --quick             a reduced matrix for a smoke run
//   --only NAME         throughput | steady | idle | control (repeatable)
#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "channel_setup.h"
#include "debug_sink.h"
#include "device_setup.h"
#include "driver_library.h"
#include "frame_allocator.h"
#include "frame_stamp.h"
#include "gateway_simulator.h"
#include "strevon.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using strevon::sim::MonotonicNs;

// ------------------------------------------------------------------ machine

std::string CpuModel() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0) {
      const auto colon = line.find(':');
      if (colon != std::string::npos) return line.substr(colon + 2);
    }
  }
  return "unknown";
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

long RssKib() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// Bytes handed out by malloc and not freed, in KiB (both the arenas and the
// large blocks malloc maps on its own).
long HeapInUseKib() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
}

// CPU of every thread of this process except the calling (main) thread, in
// microseconds: the driver's threads, with the frame handler running on them.
std::int64_t OtherThreadsCpuUs() {
  rusage self{}, thread{};
  getrusage(RUSAGE_SELF, &self);
  getrusage(RUSAGE_THREAD, &thread);
  auto us = [](const timeval& t) { return static_cast<std::int64_t>(t.tv_sec) * 1000000 + t.tv_usec; };
  return us(self.ru_utime) + us(self.ru_stime) - us(thread.ru_utime) - us(thread.ru_stime);
}

// ------------------------------------------------------------- result rows

struct Row {
  std::string name;
  std::optional<double> frame_size, channels, drivers, raw_MBps, driver_MBps, ratio, fps, p50_us,
      p99_us, p999_us, cpu_pct, rss_kib, cpu_us_per_frame;
  // Beyond the common fields: heap in use, frames missing or out of order.
  std::optional<double> heap_kib, lost, reordered;
};

std::string Num(const std::optional<double>& v, int precision = 1) {
  if (!v) return "null";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", precision, *v);
  return buf;
}

std::string Cell(const std::optional<double>& v, int precision = 1) {
  return v ? Num(v, precision) : "-";
}

void WriteJson(const std::vector<Row>& rows, const std::string& path) {
  std::ofstream out(path);
  out << "[\n";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    out << "  {\"case\": \"" << r.name << "\", \"frame_size\": " << Num(r.frame_size, 0)
        << ", \"channels\": " << Num(r.channels, 0) << ", \"drivers\": " << Num(r.drivers, 0)
        << ", \"raw_MBps\": " << Num(r.raw_MBps) << ", \"driver_MBps\": " << Num(r.driver_MBps)
        << ", \"ratio\": " << Num(r.ratio, 3) << ", \"fps\": " << Num(r.fps)
        << ", \"p50_us\": " << Num(r.p50_us) << ", \"p99_us\": " << Num(r.p99_us)
        << ", \"p999_us\": " << Num(r.p999_us) << ", \"cpu_pct\": " << Num(r.cpu_pct)
        << ", \"rss_kib\": " << Num(r.rss_kib, 0)
        << ", \"cpu_us_per_frame\": " << Num(r.cpu_us_per_frame, 2)
        << ", \"heap_kib\": " << Num(r.heap_kib, 0) << ", \"lost\": " << Num(r.lost, 0)
        << ", \"reordered\": " << Num(r.reordered, 0) << "}"
        << (i + 1 < rows.size() ? ",\n" : "\n");
  }
  out << "]\n";
}

void PrintRow(const Row& r) {
  std::printf("%-22s %8s %4s %3s %9s %9s %6s %9s %9s %9s %9s %6s %8s %7s\n", r.name.c_str(),
              Cell(r.frame_size, 0).c_str(), Cell(r.channels, 0).c_str(), Cell(r.drivers, 0).c_str(),
              Cell(r.raw_MBps).c_str(), Cell(r.driver_MBps).c_str(), Cell(r.ratio, 2).c_str(),
              Cell(r.fps, 0).c_str(), Cell(r.p50_us, 0).c_str(), Cell(r.p99_us, 0).c_str(),
              Cell(r.p999_us, 0).c_str(), Cell(r.cpu_pct, 0).c_str(), Cell(r.rss_kib, 0).c_str(),
              Cell(r.cpu_us_per_frame, 1).c_str());
  std::fflush(stdout);
}

void PrintHeader() {
  std::printf("%-22s %8s %4s %3s %9s %9s %6s %9s %9s %9s %9s %6s %8s %7s\n", "case", "bytes", "ch",
              "drv", "raw MB/s", "drv MB/s", "ratio", "frames/s", "p50 us", "p99 us", "p99.9 us",
              "cpu%", "rss KiB", "us/frm");
}

double Percentile(std::vector<double>& v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())));
  return v[i];
}

// -------------------------------------------------------- simulator process

struct SimConfig {
  std::size_t frame_size = 1024;
  int cameras = 64;
  double fps = 0;  // 0: unthrottled
  bool require_logon = true;
};

std::string ScenarioJson(const SimConfig& c) {
  std::ostringstream j;
  j << "{\"require_logon\": " << (c.require_logon ? "true" : "false")
    << ", \"realtime_streams\": " << c.cameras << ", \"input_toggle_ms\": 0"
    << ", \"users\": [{\"name\": \"admin\", \"password\": \"admin\", \"profiles\": [\"service\"]}]"
    << ", \"profiles\": [{\"name\": \"service\", \"inputs\": [], \"outputs\": [], \"cameras\": [";
  for (int i = 0; i < c.cameras; ++i) {
    j << (i ? ", " : "") << "{\"pid\": \"cam-" << i << "\", \"name\": \"Camera " << i << "\"}";
  }
  j << "]}], \"video\": {\"width\": 704, \"height\": 576, \"fps\": " << c.fps
    << ", \"render_jpeg\": false, \"jpeg_size\": " << c.frame_size
    << ", \"native_size\": " << c.frame_size << "}}";
  return j.str();
}

// strevon-gateway-sim as a child process; stops it (stdin EOF, then SIGTERM)
// on destruction.
class SimProcess {
 public:
  SimProcess(const std::string& exe, const std::string& dir, const SimConfig& config) {
    const std::string scenario = dir + "/scenario.json";
    m_log = dir + "/requests.log";
    std::remove(m_log.c_str());
    std::ofstream(scenario) << ScenarioJson(config);
    int out[2], in[2];
    if (pipe(out) != 0 || pipe(in) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[1]);
      close(out[0]);
      execl(exe.c_str(), exe.c_str(), "--scenario", scenario.c_str(), "--requests-log", m_log.c_str(),
            "--exit-on-eof", "--toggle-ms", "0", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    m_stdin = in[1];
    std::string line;
    char ch;
    while (read(out[0], &ch, 1) == 1 && ch != '\n') line += ch;
    close(out[0]);
    unsigned port = 0;
    if (std::sscanf(line.c_str(), "listening 127.0.0.1 %u", &port) == 1) m_port = static_cast<std::uint16_t>(port);
  }
  ~SimProcess() {
    if (m_stdin >= 0) close(m_stdin);
    if (m_pid > 0) {
      for (int i = 0; i < 200; ++i) {
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) return;
        std::this_thread::sleep_for(10ms);
      }
      kill(m_pid, SIGTERM);
      waitpid(m_pid, nullptr, 0);
    }
  }
  std::uint16_t Port() const { return m_port; }
  // Lines of the simulator's request log that contain text.
  int CountInLog(const std::string& text) const {
    std::ifstream in(m_log);
    std::string line;
    int n = 0;
    while (std::getline(in, line)) n += line.find(text) != std::string::npos ? 1 : 0;
    return n;
  }

 private:
  std::string m_log;
  pid_t m_pid = -1;
  int m_stdin = -1;
  std::uint16_t m_port = 0;
};

// --------------------------------------------------------------- raw reader

std::string SubscribeText(int channel) {
  const std::string c = std::to_string(channel);
  return "video/realtime/subscribe?gid=" + c + "&cid=" + c + "&pid=cam-" + c +
         "&format=Native&type=FullRate&width=704&height=576&starttime=1";
}

// Counts whole messages in a byte stream without copying them: marker, header
// length, header, body length, body.
class MessageCounter {
 public:
  void Feed(const unsigned char* p, std::size_t n) {
    while (n > 0) {
      if (m_skip > 0) {
        const std::size_t k = std::min(m_skip, n);
        m_skip -= k;
        p += k;
        n -= k;
        if (m_skip == 0) Advance();
        continue;
      }
      m_word = (m_word >> 8) | (static_cast<std::uint32_t>(*p) << 24);
      ++p;
      --n;
      if (++m_got == 4) Advance();
    }
  }
  std::uint64_t Frames() const { return m_frames; }

 private:
  // States: 0 marker, 1 header length, 2 header, 3 body length, 4 body.
  void Advance() {
    m_got = 0;
    switch (m_state) {
      case 0: m_state = 1; break;
      case 1: m_state = 2; m_skip = m_word; if (m_skip == 0) Advance(); break;
      case 2: m_state = 3; break;
      case 3:
        m_state = 4;
        m_skip = m_word;
        if (m_skip == 0) { m_state = 0; m_skip = strevon_marker_skip; }
        break;
      case 4: ++m_frames; m_state = 0; m_skip = strevon_marker_skip; break;
    }
  }
  static constexpr std::size_t strevon_marker_skip = 15;
  int m_state = 0;
  std::size_t m_skip = strevon_marker_skip;
  int m_got = 0;
  std::uint32_t m_word = 0;
  std::uint64_t m_frames = 0;
};

struct Counters {
  std::atomic<std::uint64_t> bytes{0};
  std::atomic<std::uint64_t> frames{0};
  std::atomic<std::uint64_t> bad{0};
  std::atomic<std::uint64_t> lost{0};       // sequence numbers skipped
  std::atomic<std::uint64_t> reordered{0};  // a sequence number not above the last
};

// One connection read by a plain recv loop into a large buffer.
void RawReader(std::uint16_t port, int channels, std::atomic<bool>* stop, Counters* counters) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return;
  }
  for (int c = 0; c < channels; ++c) {
    const std::string text = SubscribeText(c);
    const std::uint32_t len = static_cast<std::uint32_t>(text.size());
    unsigned char frame[4] = {static_cast<unsigned char>(len), static_cast<unsigned char>(len >> 8),
                              static_cast<unsigned char>(len >> 16), static_cast<unsigned char>(len >> 24)};
    std::string out(reinterpret_cast<char*>(frame), 4);
    out += text;
    if (send(fd, out.data(), out.size(), MSG_NOSIGNAL) < 0) break;
  }
  timeval tv{0, 200000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::vector<unsigned char> buffer(4u << 20);
  MessageCounter counter;
  while (!stop->load(std::memory_order_relaxed)) {
    const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    if (n == 0) break;
    if (n < 0) continue;
    counter.Feed(buffer.data(), static_cast<std::size_t>(n));
    counters->bytes.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
    counters->frames.store(counter.Frames(), std::memory_order_relaxed);
  }
  close(fd);
}

// ------------------------------------------------------------ frame handler

// Checks every frame (data size, stamp, body length) and the whole filler of
// every 64th frame; optionally records write-to-callback latency.
class BenchHandler : public quorvel::ipcapture::IFrameHandler {
 public:
  BenchHandler(Counters* counters, std::size_t expected) : m_counters(counters), m_expected(expected) {}
  bool CaptureFrameCallback(quorvel::ipcapture::ICaptureFrame* captureFrame) override {
    const std::uint64_t now = MonotonicNs();
    auto* frame = static_cast<strevon::host::Frame*>(captureFrame);
    const unsigned char* body = frame->GetBuffer();
    const std::size_t size = frame->dataSize;
    strevon::sim::FrameStamp stamp;
    bool good = body != nullptr && size == m_expected && strevon::sim::ReadFrameStamp(body, size, &stamp) &&
                stamp.body_length == size;
    if (good && (m_seen++ % 64) == 0) good = strevon::sim::CheckNativeFiller(body, size, stamp.sequence);
    if (!good) m_counters->bad.fetch_add(1, std::memory_order_relaxed);
    if (good) CheckSequence(stamp);
    if (good && m_record.load(std::memory_order_relaxed) && stamp.send_time_ns != 0 && now > stamp.send_time_ns) {
      if (m_count < m_latencies.size()) {
        m_latencies[m_count++] = static_cast<double>(now - stamp.send_time_ns) / 1000.0;
      }
    }
    m_counters->frames.fetch_add(1, std::memory_order_relaxed);
    m_counters->bytes.fetch_add(size, std::memory_order_relaxed);
    return true;
  }
  void OnSignalLost() override {}
  // Every channel's frames must arrive one sequence number after another.
  void CheckSequence(const strevon::sim::FrameStamp& stamp) {
    std::uint64_t& last = m_last[stamp.channel];
    if (last != 0 && stamp.sequence + 1 <= last) {
      m_counters->reordered.fetch_add(1, std::memory_order_relaxed);
    } else if (last != 0 && stamp.sequence + 1 > last + 1) {
      m_counters->lost.fetch_add(stamp.sequence - last, std::memory_order_relaxed);
    }
    last = stamp.sequence + 1;
  }
  void Record(bool on) { m_record.store(on); }
  // Read after the driver is gone.
  std::vector<double> Latencies() const {
    return std::vector<double>(m_latencies.begin(), m_latencies.begin() + static_cast<std::ptrdiff_t>(m_count));
  }
  // Room for n latencies, written once now so that the run's resident
  // memory does not grow with the harness's own records. Before streaming.
  void ReserveLatencies(std::size_t n) { m_latencies.assign(n, 0.0); }

 private:
  Counters* m_counters;
  const std::size_t m_expected;
  std::uint64_t m_seen = 0;  // receiver thread only
  std::map<std::uint32_t, std::uint64_t> m_last;  // channel -> last sequence + 1; receiver thread
  std::atomic<bool> m_record{false};
  std::vector<double> m_latencies;  // receiver thread only while the driver runs
  std::size_t m_count = 0;
};

// ------------------------------------------------------------------ drivers

std::vector<std::string> CustomParameters(int channels) {
  std::vector<std::string> p = {"0", "3"};
  for (int i = 0; i < channels; ++i) {
    p.push_back(std::to_string(i) + ";cam-" + std::to_string(i) +
                ";0;Pan=0, Tilt=0, Zoom=0, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=0, Preset=0");
  }
  return p;
}

// One driver object opened on a device of `channels` native cameras.
struct Driver {
  Driver(strevon::host::DriverLibrary& library, std::uint16_t port, int channels) : lib(library) {
    strevon::host::DeviceConfig config;
    config.channelCount = static_cast<std::uint32_t>(channels);
    config.port = port;
    config.userName = "admin";
    config.password = "admin";
    config.connectionValue = 2;  // native frames
    config.customParameters = CustomParameters(channels);
    setup = std::make_unique<strevon::host::DeviceSetup>(config);
    driver = lib.Exports().CreateIPCaptureEx3();
    opened = driver != nullptr && driver->Open(&sink, &allocator, setup.get());
  }
  ~Driver() {
    if (driver != nullptr) lib.Exports().DeleteIPCaptureEx3(driver);
  }
  strevon::host::DriverLibrary& lib;
  strevon::host::DebugSink sink;
  strevon::host::FrameAllocator allocator;
  std::unique_ptr<strevon::host::DeviceSetup> setup;
  quorvel::ipcapture::IIPCaptureDriverEx3* driver = nullptr;
  bool opened = false;
};

bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!cond()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

struct Options {
  std::string sim_exe = STREVON_SIM_EXE;
  std::string lib_path = STREVON_LIBRARY_PATH;
  std::string out = STREVON_DEFAULT_RESULTS;
  int window_ms = 1500;
  int steady_s = 60;
  bool quick = false;
  std::set<std::string> only;
  std::string home;
  bool Wants(const std::string& part) const { return only.empty() || only.count(part) != 0; }
};

struct DriverRun {
  double MBps = 0, fps = 0, cpu_pct = 0, cpu_us_per_frame = 0;
  std::uint64_t bad = 0, lost = 0, reordered = 0;
  bool ok = false;
  long rss_kib = 0;
  long rss_growth_kib = 0;  // window end against window start
  std::vector<double> latencies;
};

// Streams through `drivers` drivers of `channels` channels each; measures
// for window_ms after every channel delivered its first frames.
DriverRun RunDrivers(const Options& o, strevon::host::DriverLibrary& library, const SimProcess& sim,
                     std::size_t size, int channels, int drivers, int window_ms, int warm_ms,
                     bool record_latency) {
  DriverRun result;
  Counters counters;
  std::vector<std::unique_ptr<Driver>> ds;
  std::vector<std::unique_ptr<BenchHandler>> handlers;  // one per driver: one receiver thread each
  strevon::host::ChannelSetup channelSetup(704, 576);
  for (int d = 0; d < drivers; ++d) {
    ds.push_back(std::make_unique<Driver>(library, sim.Port(), channels));
    handlers.push_back(std::make_unique<BenchHandler>(&counters, size));
    // Generously more than the steady run's 25 fps per channel can fill.
    if (record_latency) handlers.back()->ReserveLatencies(static_cast<std::size_t>(channels) * 40 * (window_ms / 1000 + 2));
  }
  bool ok = true;
  for (auto& d : ds) ok = ok && d->opened;
  // Channels are started once every driver has read its profile (the last
  // step of connecting): a subscription queued earlier is dropped by the
  // reconnect that the first connection begins with.
  ok = ok && WaitFor([&] { return sim.CountInLog("\"user/profile\"") >= drivers; }, 20s);
  if (ok) {
    for (int d = 0; d < drivers; ++d) {
      auto* capture = ds[d]->driver->GetVideoCaptureEx();
      for (int c = 0; c < channels; ++c) {
        capture->StartChannel(static_cast<std::uint32_t>(c), handlers[d].get(), &channelSetup);
      }
    }
    ok = WaitFor([&] { return counters.frames.load() >= static_cast<std::uint64_t>(channels * drivers); }, 20s);
  }
  if (ok) {
    std::this_thread::sleep_for(std::chrono::milliseconds(warm_ms));
    for (auto& h : handlers) h->Record(record_latency);
    const std::uint64_t b0 = counters.bytes.load(), f0 = counters.frames.load();
    const std::int64_t c0 = OtherThreadsCpuUs();
    const auto t0 = Clock::now();
    const long rss_start = RssKib();
    long rss_max = rss_start;
    while (Clock::now() - t0 < std::chrono::milliseconds(window_ms)) {
      std::this_thread::sleep_for(std::min(250, window_ms) * 1ms);
      rss_max = std::max(rss_max, RssKib());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    const std::int64_t c1 = OtherThreadsCpuUs();
    const std::uint64_t b1 = counters.bytes.load(), f1 = counters.frames.load();
    for (auto& h : handlers) h->Record(false);
    result.MBps = static_cast<double>(b1 - b0) / seconds / 1e6;
    result.fps = static_cast<double>(f1 - f0) / seconds;
    result.cpu_pct = static_cast<double>(c1 - c0) / 1e4 / seconds;
    result.cpu_us_per_frame = f1 > f0 ? static_cast<double>(c1 - c0) / static_cast<double>(f1 - f0) : 0;
    result.rss_kib = rss_max;
    result.rss_growth_kib = RssKib() - rss_start;
    result.ok = true;
  }
  ds.clear();  // the drivers end before their handlers are read
  result.bad = counters.bad.load();
  result.lost = counters.lost.load();
  result.reordered = counters.reordered.load();
  for (auto& h : handlers) {
    const std::vector<double> latencies = h->Latencies();
    result.latencies.insert(result.latencies.end(), latencies.begin(), latencies.end());
  }
  (void)o;
  return result;
}

struct RawRun {
  double MBps = 0, fps = 0;
};

RawRun RunRaw(std::uint16_t port, int channels, int connections, int window_ms, int warm_ms) {
  std::atomic<bool> stop{false};
  std::vector<Counters> counters(static_cast<std::size_t>(connections));
  std::vector<std::thread> threads;
  for (int i = 0; i < connections; ++i) threads.emplace_back(RawReader, port, channels, &stop, &counters[i]);
  auto sum = [&](bool frames) {
    std::uint64_t s = 0;
    for (auto& c : counters) s += frames ? c.frames.load() : c.bytes.load();
    return s;
  };
  WaitFor([&] { return sum(true) >= static_cast<std::uint64_t>(channels * connections); }, 10s);
  std::this_thread::sleep_for(std::chrono::milliseconds(warm_ms));
  const std::uint64_t b0 = sum(false), f0 = sum(true);
  const auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(window_ms));
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  const std::uint64_t b1 = sum(false), f1 = sum(true);
  stop.store(true);
  for (auto& t : threads) t.join();
  return RawRun{static_cast<double>(b1 - b0) / seconds / 1e6, static_cast<double>(f1 - f0) / seconds};
}

// ------------------------------------------------------------------- parts

// Throughput of several drivers against one driver with the same frames
// and channels, from the rows already measured.
void PrintScaling(std::vector<Row>& rows, const Row& many) {
  std::optional<double> single;
  for (const Row& one : rows) {
    if (one.name == "throughput" && one.drivers == 1.0 && one.frame_size == many.frame_size &&
        one.channels == many.channels && one.driver_MBps && *one.driver_MBps > 0) {
      single = one.driver_MBps;
    }
  }
  if (!single) return;
  Row s;
  s.name = "scaling_vs_1_driver";
  s.frame_size = many.frame_size;
  s.channels = many.channels;
  s.drivers = many.drivers;
  s.driver_MBps = many.driver_MBps;
  s.ratio = *many.driver_MBps / *single;
  PrintRow(s);
  rows.push_back(s);
}

void Throughput(const Options& o, strevon::host::DriverLibrary& library, std::vector<Row>& rows) {
  std::vector<std::size_t> sizes = {1024, 16384, 262144, 1048575};
  std::vector<int> channel_counts = {1, 16, 64};
  std::vector<int> driver_counts = {1, 8};
  if (o.quick) {
    sizes = {16384, 1048575};
    channel_counts = {1, 16};
    driver_counts = {1};
  }
  for (std::size_t size : sizes) {
    for (int drivers : driver_counts) {
      for (int channels : channel_counts) {
        SimConfig raw_config;
        raw_config.frame_size = size;
        raw_config.cameras = std::max(channels, 2);
        raw_config.require_logon = false;
        RawRun raw;
        {
          SimProcess sim(o.sim_exe, o.home, raw_config);
          if (sim.Port() == 0) { std::fprintf(stderr, "simulator did not start\n"); return; }
          raw = RunRaw(sim.Port(), channels, drivers, o.window_ms, 300);
        }
        SimConfig config = raw_config;
        config.require_logon = true;
        DriverRun run;
        {
          SimProcess sim(o.sim_exe, o.home, config);
          if (sim.Port() == 0) { std::fprintf(stderr, "simulator did not start\n"); return; }
          run = RunDrivers(o, library, sim, size, channels, drivers, o.window_ms, 300, false);
        }
        Row r;
        r.name = "throughput";
        r.frame_size = static_cast<double>(size);
        r.channels = channels;
        r.drivers = drivers;
        r.raw_MBps = raw.MBps;
        if (run.ok) {
          r.driver_MBps = run.MBps;
          r.ratio = raw.MBps > 0 ? run.MBps / raw.MBps : 0;
          r.fps = run.fps;
          r.cpu_pct = run.cpu_pct;
          r.cpu_us_per_frame = run.cpu_us_per_frame;
        } else {
          r.name = "throughput(FAILED)";
        }
        if (run.bad != 0) {
          r.name = "throughput(BAD)";
          std::fprintf(stderr, "%llu frames failed the check\n", static_cast<unsigned long long>(run.bad));
        }
        PrintRow(r);
        rows.push_back(r);
        if (drivers > 1 && r.driver_MBps) PrintScaling(rows, r);
      }
    }
  }
}

void Steady(const Options& o, strevon::host::DriverLibrary& library, std::vector<Row>& rows) {
  SimConfig config;
  config.frame_size = 100 * 1024;
  config.cameras = 64;
  config.fps = 25;
  SimProcess sim(o.sim_exe, o.home, config);
  if (sim.Port() == 0) return;
  DriverRun run = RunDrivers(o, library, sim, config.frame_size, 64, 1, o.steady_s * 1000, 1000, true);
  Row r;
  r.name = run.bad ? "steady_25fps(BAD)" : "steady_25fps";
  r.frame_size = static_cast<double>(config.frame_size);
  r.channels = 64;
  r.drivers = 1;
  if (run.ok) {
    r.driver_MBps = run.MBps;
    r.fps = run.fps;
    r.p50_us = Percentile(run.latencies, 0.50);
    r.p99_us = Percentile(run.latencies, 0.99);
    r.p999_us = Percentile(run.latencies, 0.999);
    r.cpu_pct = run.cpu_pct;
    r.cpu_us_per_frame = run.cpu_us_per_frame;
    r.rss_kib = static_cast<double>(run.rss_kib);
    r.lost = static_cast<double>(run.lost);
    r.reordered = static_cast<double>(run.reordered);
  }
  PrintRow(r);
  rows.push_back(r);
  if (run.lost != 0 || run.reordered != 0) {
    std::printf("  steady run: %llu frames missing, %llu out of order\n",
                static_cast<unsigned long long>(run.lost), static_cast<unsigned long long>(run.reordered));
  }
  if (run.ok) {
    Row g;
    g.name = "steady_rss_growth";
    g.channels = 64;
    g.drivers = 1;
    g.rss_kib = static_cast<double>(run.rss_growth_kib);
    PrintRow(g);
    rows.push_back(g);
  }
}

void Idle(const Options& o, strevon::host::DriverLibrary& library, std::vector<Row>& rows) {
  SimConfig config;
  config.cameras = 4;
  config.fps = 10;
  SimProcess sim(o.sim_exe, o.home, config);
  if (sim.Port() == 0) return;
  std::this_thread::sleep_for(200ms);
  const long before = RssKib();
  const long heap_before = HeapInUseKib();
  long after = 0;
  long heap_after = 0;
  {
    Driver d(library, sim.Port(), 4);
    std::this_thread::sleep_for(2000ms);  // connected (about once a second) and settled
    after = RssKib();
    heap_after = HeapInUseKib();
  }
  Row r;
  r.name = "idle_driver_rss";
  r.drivers = 1;
  r.channels = 0;
  r.rss_kib = static_cast<double>(after - before);
  r.heap_kib = static_cast<double>(heap_after - heap_before);
  PrintRow(r);
  std::printf("  idle driver: %ld KiB of heap in use (malloc)\n", heap_after - heap_before);
  rows.push_back(r);
}

void Control(const Options& o, strevon::host::DriverLibrary& library, std::vector<Row>& rows) {
  using strevon::sim::GatewaySimulator;
  strevon::sim::Scenario s = strevon::sim::DefaultScenario();
  s.profiles.at(0).inputs.clear();
  s.profiles.at(0).outputs.clear();
  s.video.render_jpeg = false;
  GatewaySimulator sim(s);
  std::string error;
  if (!sim.Start(0, &error)) return;
  strevon::host::DeviceConfig config;
  config.channelCount = 4;
  config.port = sim.Port();
  config.userName = "admin";
  config.password = "admin";
  config.customParameters = {"0", "3",
      "0;cam-1;0;Pan=0, Tilt=0, Zoom=0, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=0, Preset=0",
      "1;cam-2;1;Pan=1, Tilt=1, Zoom=1, Focus=1, Iris=1, Center=0, Unzoom=0, AreaZoom=0, Preset=255",
      "2;cam-3;0;Pan=0, Tilt=0, Zoom=0, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=0, Preset=0",
      "3;cam-4;0;Pan=0, Tilt=0, Zoom=0, Focus=0, Iris=0, Center=0, Unzoom=0, AreaZoom=0, Preset=0"};

  // Open to the profile request, the last request of the connect sequence.
  std::vector<double> connect_us;
  const int connects = o.quick ? 2 : 5;
  for (int i = 0; i < connects; ++i) {
    const std::uint64_t from = sim.Requests().size();
    strevon::host::DebugSink sink;
    strevon::host::FrameAllocator allocator;
    strevon::host::DeviceSetup setup(config);
    auto* driver = library.Exports().CreateIPCaptureEx3();
    const std::uint64_t t0 = MonotonicNs();
    driver->Open(&sink, &allocator, &setup);
    auto req = sim.WaitForRequest("user/profile", nullptr, 10s, from);
    if (req && req->mono_ns > t0) connect_us.push_back(static_cast<double>(req->mono_ns - t0) / 1000.0);
    library.Exports().DeleteIPCaptureEx3(driver);
  }
  Row c;
  c.name = "connect_to_connected";
  c.drivers = 1;
  c.p50_us = Percentile(connect_us, 0.5);
  c.p99_us = Percentile(connect_us, 0.99);
  PrintRow(c);
  rows.push_back(c);

  // PTZ: host Move to "camera/ptz/left" at the Gateway.
  std::vector<double> ptz_us;
  {
    strevon::host::DebugSink sink;
    strevon::host::FrameAllocator allocator;
    strevon::host::DeviceSetup setup(config);
    auto* driver = library.Exports().CreateIPCaptureEx3();
    driver->Open(&sink, &allocator, &setup);
    if (sim.WaitForRequest("user/profile", nullptr, 10s)) {
      quorvel::IIPPTZApiEx* dome = driver->GetPTZDriverEx()->GetPTZApiEx(1);
      dome->Initialize();
      std::uint64_t from = sim.Requests().size();
      dome->Move(0, 16);  // the first command opens the dome
      sim.WaitForRequest("camera/ptz/left", nullptr, 10s, from);
      const int moves = o.quick ? 20 : 200;
      for (int i = 0; i < moves; ++i) {
        from = sim.Requests().size();
        const std::uint64_t t0 = MonotonicNs();
        dome->Move(0, 16);
        auto req = sim.WaitForRequest("camera/ptz/left", nullptr, 10s, from);
        if (req && req->mono_ns > t0) ptz_us.push_back(static_cast<double>(req->mono_ns - t0) / 1000.0);
      }
    }
    library.Exports().DeleteIPCaptureEx3(driver);
  }
  Row p;
  p.name = "ptz_call_to_wire";
  p.drivers = 1;
  p.p50_us = Percentile(ptz_us, 0.5);
  p.p99_us = Percentile(ptz_us, 0.99);
  p.p999_us = Percentile(ptz_us, 0.999);
  PrintRow(p);
  rows.push_back(p);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
    if (a == "--sim") o.sim_exe = next();
    else if (a == "--lib") o.lib_path = next();
    else if (a == "--out") o.out = next();
    else if (a == "--window-ms") o.window_ms = std::atoi(next().c_str());
    else if (a == "--steady-s") o.steady_s = std::atoi(next().c_str());
    else if (a == "--quick") o.quick = true;
    else if (a == "--only") o.only.insert(next());
    else {
      std::fprintf(stderr, "usage: %s [--sim PATH] [--lib PATH] [--out FILE] [--window-ms N] [--steady-s N] [--quick] [--only throughput|steady|idle|control]...\n", argv[0]);
      return 2;
    }
  }
  signal(SIGPIPE, SIG_IGN);
  std::printf("machine: %u cpus, %s, load average %s\n", std::thread::hardware_concurrency(),
              CpuModel().c_str(), LoadAverage().c_str());
#if !defined(__OPTIMIZE__)
  std::printf("WARNING: built without optimisation; numbers are not representative\n");
#endif
  char pattern[] = "/tmp/strevon-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  o.home = pattern;
  // No settings file and no log: the driver's defaults.
  setenv("STREVON_HOME", o.home.c_str(), 1);
  strevon::host::DriverLibrary library;
  if (!library.Load(o.lib_path)) {
    std::fprintf(stderr, "%s\n", library.Error().c_str());
    return 1;
  }
  std::vector<Row> rows;
  PrintHeader();
  if (o.Wants("idle")) Idle(o, library, rows);
  if (o.Wants("control")) Control(o, library, rows);
  if (o.Wants("throughput")) Throughput(o, library, rows);
  if (o.Wants("steady")) Steady(o, library, rows);
  WriteJson(rows, o.out);
  std::printf("rows written to %s\n", o.out.c_str());
  std::system(("rm -rf '" + o.home + "'").c_str());
  return 0;
}
