// strevon_e2e_bench: libstrevon.so end to end against the Gateway simulator
// in a process of its own (its CPU is not charged to the driver), set to its
// fast stream mode: every channel's message is built once and re-sent with
// its stamp patched in place, many messages per write, so that the sender is
// not the ceiling.
//
//   loopback    the machine's limit: a sender and a receiver thread that only
//               move bytes over a loopback connection
//   throughput  per case, windows of a raw reader (recv into a large buffer,
//               walk the messages by their length prefixes) and of the driver
//               alternate against the same simulator, at least five pairs;
//               MB/s of frame bodies and CPU per byte of the thread that
//               reads the socket; ratios are medians of the pairs. The raw
//               reader's socket has the driver's 64 KiB receive buffer; one
//               more raw window per pair with the kernel's own buffer sizing
//               gives raw_kernel_buffer_MBps
//   drivers     eight drivers against one, alternating, and eight raw
//               readers against one: the ratio the machine allows; also
//               eight drivers against the eight raw readers of their pair,
//               and the machine's busy cores while one and while eight run
//   steady      64 channels at 25 fps, 100 KiB; scale: 256 channels at 25 fps,
//               100 KiB, plus one long driver run for lost frames, CPU and RSS
//               growth. Latency is stamp to the end of the message's recv
//               (raw) or to the host's frame handler (driver), alternating
//   first_frame StartChannel on a connected driver to its first frame
//   idle        RSS added by one open, connected driver with no channel running
//   control     host PTZ call to the command arriving at the Gateway, and
//               Open to the profile request (the last step of connecting),
//               with the simulator in this process
//
// Flags (all optional):
//   --sim PATH          strevon-gateway-sim executable (default: built beside)
//   --lib PATH          libstrevon.so (default: built beside)
//   --out FILE          JSON rows (default: bench/results/latest.json)
//   --window-ms N       measuring window of one side of a pair (default 1000)
//   --pairs N           alternating pairs per case (default 7)
//   --scale-s N         length of the long scale run (default 60)
//   --quick             a reduced matrix and shorter runs for a smoke run
//   --only NAME         loopback | throughput | drivers | steady | scale |
//                       first_frame | idle | control (repeatable)
//   --case SIZE:CH      only this throughput case, e.g. 65536:1 (repeatable;
//                       for profiling one case)
#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
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

// The machine's CPU time since boot from /proc/stat, in clock ticks: all of
// it, and the part not idle (idle and iowait left out).
struct MachineTicks {
  std::uint64_t busy = 0;
  std::uint64_t total = 0;
};

MachineTicks ReadMachineTicks() {
  std::ifstream in("/proc/stat");
  std::string cpu;
  in >> cpu;
  MachineTicks t;
  std::uint64_t field = 0;
  for (int i = 0; i < 8 && in >> field; ++i) {
    t.total += field;
    if (i != 3 && i != 4) t.busy += field;
  }
  return t;
}

// Cores busy on average between two readings.
double BusyCores(const MachineTicks& from, const MachineTicks& to) {
  const std::uint64_t total = to.total - from.total;
  if (total == 0) return 0;
  return static_cast<double>(to.busy - from.busy) / static_cast<double>(total) *
         static_cast<double>(std::thread::hardware_concurrency());
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

// One JSON object, its fields in the order they were added.
class Row {
 public:
  explicit Row(const std::string& name) { m_fields.emplace_back("case", "\"" + name + "\""); }
  Row& Num(const std::string& key, std::optional<double> v, int precision = 1) {
    char buf[64] = "null";
    if (v) std::snprintf(buf, sizeof buf, "%.*f", precision, *v);
    m_fields.emplace_back(key, buf);
    return *this;
  }
  std::string Json() const {
    std::string out = "{";
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
      out += (i ? ", \"" : "\"") + m_fields[i].first + "\": " + m_fields[i].second;
    }
    return out + "}";
  }
  std::string Line() const {
    std::string out;
    for (const auto& f : m_fields) out += f.first + "=" + f.second + " ";
    return out;
  }

 private:
  std::vector<std::pair<std::string, std::string>> m_fields;
};

void Emit(std::vector<Row>& rows, const Row& row) {
  std::printf("%s\n", row.Line().c_str());
  std::fflush(stdout);
  rows.push_back(row);
}

void WriteJson(const std::vector<Row>& rows, const std::string& path) {
  std::ofstream out(path);
  out << "[\n";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    out << "  " << rows[i].Json() << (i + 1 < rows.size() ? ",\n" : "\n");
  }
  out << "]\n";
}

double Percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())));
  return v[i];
}

struct Spread {
  double median = 0, min = 0, max = 0;
};

Spread SpreadOf(const std::vector<double>& v) {
  Spread s;
  if (v.empty()) return s;
  s.median = Percentile(v, 0.5);
  s.min = *std::min_element(v.begin(), v.end());
  s.max = *std::max_element(v.begin(), v.end());
  return s;
}

std::string Show(const Spread& s, int precision) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%.*f [%.*f..%.*f]", precision, s.median, precision, s.min, precision, s.max);
  return buf;
}

// CPU time of a thread, read from any thread of the process.
std::uint64_t ThreadCpuNs(clockid_t clock) {
  timespec ts{};
  if (clock_gettime(clock, &ts) != 0) return 0;
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u + static_cast<std::uint64_t>(ts.tv_nsec);
}

clockid_t CpuClockOf(pthread_t thread) {
  clockid_t clock{};
  if (pthread_getcpuclockid(thread, &clock) != 0) return CLOCK_THREAD_CPUTIME_ID;
  return clock;
}

// -------------------------------------------------------- simulator process

struct SimConfig {
  std::size_t frame_size = 1024;
  int cameras = 64;
  double fps = 0;  // 0: unthrottled
};

std::string ScenarioJson(const SimConfig& c) {
  std::ostringstream j;
  // No log-on required, so that the raw reader may subscribe at once; the
  // driver logs on all the same.
  j << "{\"require_logon\": false, \"realtime_streams\": " << c.cameras << ", \"input_toggle_ms\": 0"
    << ", \"users\": [{\"name\": \"admin\", \"password\": \"admin\", \"profiles\": [\"service\"]}]"
    << ", \"profiles\": [{\"name\": \"service\", \"inputs\": [], \"outputs\": [], \"cameras\": [";
  for (int i = 0; i < c.cameras; ++i) {
    j << (i ? ", " : "") << "{\"pid\": \"cam-" << i << "\", \"name\": \"Camera " << i << "\"}";
  }
  j << "]}], \"video\": {\"width\": 704, \"height\": 576, \"fps\": " << c.fps
    << ", \"render_jpeg\": false, \"fast_stream\": true, \"spread_streams\": true, \"jpeg_size\": " << c.frame_size
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

// ----------------------------------------------------------- loopback limit

int ConnectLoopback(std::uint16_t port, int receive_buffer = 0) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd >= 0 && receive_buffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

// A sender writing chunk-sized blocks and a receiver reading chunk-sized
// blocks over one loopback connection, nothing else: MB/s over window_ms.
double LoopbackMBps(std::size_t chunk, int window_ms) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listener, 1) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (listener >= 0) close(listener);
    return 0;
  }
  const int client = ConnectLoopback(ntohs(addr.sin_port));
  const int server = accept(listener, nullptr, nullptr);
  close(listener);
  if (client < 0 || server < 0) {
    if (client >= 0) close(client);
    if (server >= 0) close(server);
    return 0;
  }
  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> received{0};
  std::thread sender([&] {
    std::vector<unsigned char> data(chunk, 0x5A);
    while (!stop.load(std::memory_order_relaxed)) {
      if (send(server, data.data(), data.size(), MSG_NOSIGNAL) <= 0) break;
    }
  });
  std::thread receiver([&] {
    std::vector<unsigned char> data(chunk);
    for (;;) {
      const ssize_t n = recv(client, data.data(), data.size(), 0);
      if (n <= 0) break;
      received.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
    }
  });
  std::this_thread::sleep_for(200ms);
  const std::uint64_t b0 = received.load();
  const auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(window_ms));
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  const std::uint64_t b1 = received.load();
  stop.store(true);
  shutdown(client, SHUT_RDWR);
  shutdown(server, SHUT_RDWR);
  sender.join();
  receiver.join();
  close(client);
  close(server);
  return static_cast<double>(b1 - b0) / seconds / 1e6;
}

// --------------------------------------------------------------- raw reader

std::string SubscribeText(int channel) {
  const std::string c = std::to_string(channel);
  return "video/realtime/subscribe?gid=" + c + "&cid=" + c + "&pid=cam-" + c +
         "&format=Native&type=FullRate&width=704&height=576&starttime=1";
}

// Walks a byte stream message by message (marker, header length, header,
// body length, body) by the length prefixes alone. Of a body it keeps only
// the bytes that pass by anyway at the stamp's place, to tell a frame and
// its send time.
class MessageWalker {
 public:
  // done(body_length, send_time_ns) for every stamped frame.
  template <typename Done>
  void Feed(const unsigned char* p, std::size_t n, Done&& done) {
    while (n > 0) {
      const std::size_t k = std::min(m_need, n);
      if (m_state == kHeaderLength || m_state == kBodyLength) {
        for (std::size_t i = 0; i < k; ++i) m_word |= static_cast<std::uint32_t>(p[i]) << (8 * (4 - m_need + i));
      } else if (m_state == kBody && m_pos < kKept) {
        const std::size_t keep = std::min(k, kKept - m_pos);
        std::memcpy(m_kept + m_pos, p, keep);
      }
      if (m_state == kBody) m_pos += k;
      m_need -= k;
      p += k;
      n -= k;
      while (m_need == 0) Advance(done);
    }
  }

 private:
  enum State { kMarker, kHeaderLength, kHeader, kBodyLength, kBody };
  static constexpr std::size_t kKept = strevon::sim::kSendTimeOffset + 8;

  template <typename Done>
  void Advance(Done&& done) {
    switch (m_state) {
      case kMarker: m_state = kHeaderLength; m_need = 4; m_word = 0; break;
      case kHeaderLength: m_state = kHeader; m_need = m_word; break;
      case kHeader: m_state = kBodyLength; m_need = 4; m_word = 0; break;
      case kBodyLength: m_state = kBody; m_need = m_word; m_length = m_word; m_pos = 0; break;
      case kBody:
        if (m_length >= kKept && std::memcmp(m_kept, strevon::sim::kFrameStampMagic, 4) == 0) {
          std::uint64_t t = 0;
          for (int i = 7; i >= 0; --i) t = (t << 8) | m_kept[strevon::sim::kSendTimeOffset + static_cast<std::size_t>(i)];
          done(m_length, t);
        }
        m_state = kMarker;
        m_need = kMarkerSize;
        break;
    }
  }

  static constexpr std::size_t kMarkerSize = 15;
  State m_state = kMarker;
  std::size_t m_need = kMarkerSize;
  std::uint32_t m_word = 0;
  std::uint32_t m_length = 0;
  std::size_t m_pos = 0;
  unsigned char m_kept[kKept] = {};
};

// The receive buffer the driver's connection asks for before it connects
// (the Gateway protocol's socket settings). The baseline reads through the
// same buffer, so that the ratio is the driver's own cost; a second raw
// figure with the kernel's own buffer sizing shows what that buffer costs.
constexpr int kDriverReceiveBuffer = 65536;

// One connection subscribed to channels [0, channels), read by a plain recv
// loop into a large buffer on a thread of its own until destroyed.
// receive_buffer 0 leaves the socket's buffer to the kernel.
class RawReader {
 public:
  RawReader(std::uint16_t port, int channels, std::size_t latency_room, int receive_buffer = kDriverReceiveBuffer)
      : m_latencies(latency_room, 0.0) {
    m_fd = ConnectLoopback(port, receive_buffer);
    if (m_fd < 0) return;
    std::string out;
    for (int c = 0; c < channels; ++c) {
      const std::string text = SubscribeText(c);
      unsigned char length[4];
      for (int i = 0; i < 4; ++i) length[i] = static_cast<unsigned char>(text.size() >> (8 * i));
      out.append(reinterpret_cast<char*>(length), 4);
      out += text;
    }
    if (send(m_fd, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size())) return;
    m_thread = std::thread([this] { Run(); });
    m_clock = CpuClockOf(m_thread.native_handle());
  }
  ~RawReader() { Stop(); }
  RawReader(const RawReader&) = delete;
  RawReader& operator=(const RawReader&) = delete;

  bool Running() const { return m_thread.joinable(); }
  std::uint64_t Bytes() const { return m_bytes.load(std::memory_order_relaxed); }
  std::uint64_t Frames() const { return m_frames.load(std::memory_order_relaxed); }
  std::uint64_t CpuNs() const { return ThreadCpuNs(m_clock); }
  void Record(bool on) { m_record.store(on); }
  void Stop() {
    if (m_fd >= 0) shutdown(m_fd, SHUT_RDWR);
    if (m_thread.joinable()) m_thread.join();
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
  }
  // After Stop.
  std::vector<double> Latencies() const {
    return std::vector<double>(m_latencies.begin(), m_latencies.begin() + static_cast<std::ptrdiff_t>(m_count));
  }

 private:
  void Run() {
    // Mapped rather than taken from malloc: the buffers of eight readers at
    // once would stay in malloc's arenas, in the RSS that later rows report.
    constexpr std::size_t kSize = 4u << 20;
    void* const mapped = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return;
    unsigned char* const buffer = static_cast<unsigned char*>(mapped);
    MessageWalker walker;
    for (;;) {
      const ssize_t n = recv(m_fd, buffer, kSize, 0);
      if (n <= 0) break;
      const std::uint64_t now = MonotonicNs();
      const bool record = m_record.load(std::memory_order_relaxed);
      std::uint64_t bytes = 0, frames = 0;
      walker.Feed(buffer, static_cast<std::size_t>(n), [&](std::uint32_t length, std::uint64_t sent) {
        bytes += length;
        ++frames;
        if (record && sent != 0 && now > sent && m_count < m_latencies.size()) {
          m_latencies[m_count++] = static_cast<double>(now - sent) / 1000.0;
        }
      });
      m_bytes.fetch_add(bytes, std::memory_order_relaxed);
      m_frames.fetch_add(frames, std::memory_order_relaxed);
    }
    munmap(mapped, kSize);
  }

  int m_fd = -1;
  std::thread m_thread;
  clockid_t m_clock = CLOCK_THREAD_CPUTIME_ID;
  std::atomic<bool> m_record{false};
  std::atomic<std::uint64_t> m_bytes{0};
  std::atomic<std::uint64_t> m_frames{0};
  std::vector<double> m_latencies;  // reader thread while it runs
  std::size_t m_count = 0;
};

// ------------------------------------------------------------ frame handler

// Checks every frame's data size and stamp, counts frames missing or out of
// order per channel, optionally records stamp-to-callback latency, and
// notes the CPU clock of the thread it is called on (the driver's receiver).
class BenchHandler : public quorvel::ipcapture::IFrameHandler {
 public:
  BenchHandler(std::size_t expected, std::size_t latency_room)
      : m_expected(expected), m_latencies(latency_room, 0.0), m_last(1024, 0) {}
  bool CaptureFrameCallback(quorvel::ipcapture::ICaptureFrame* captureFrame) override {
    // The clock only while latencies are recorded: the raw loop reads it
    // once per recv, not once per message.
    const bool record = m_record.load(std::memory_order_relaxed);
    const std::uint64_t now = record ? MonotonicNs() : 0;
    if (!m_clockKnown.load(std::memory_order_relaxed)) {
      m_clock = CpuClockOf(pthread_self());
      m_clockKnown.store(true);
    }
    auto* frame = static_cast<strevon::host::Frame*>(captureFrame);
    const unsigned char* body = frame->GetBuffer();
    const std::size_t size = frame->dataSize;
    strevon::sim::FrameStamp stamp;
    const bool good = body != nullptr && size == m_expected && strevon::sim::ReadFrameStamp(body, size, &stamp) &&
                      stamp.body_length == size && body[size - 1] == strevon::sim::FillerByte(size - 1, 0);
    if (!good) {
      m_bad.fetch_add(1, std::memory_order_relaxed);
    } else {
      CheckSequence(stamp);
      if (record && now > stamp.send_time_ns && m_count < m_latencies.size()) {
        m_latencies[m_count++] = static_cast<double>(now - stamp.send_time_ns) / 1000.0;
      }
    }
    m_frames.fetch_add(1, std::memory_order_relaxed);
    m_bytes.fetch_add(size, std::memory_order_relaxed);
    return true;
  }
  void OnSignalLost() override {}

  std::uint64_t Bytes() const { return m_bytes.load(std::memory_order_relaxed); }
  std::uint64_t Frames() const { return m_frames.load(std::memory_order_relaxed); }
  std::uint64_t Bad() const { return m_bad.load(); }
  std::uint64_t Lost() const { return m_lost.load(); }
  std::uint64_t Reordered() const { return m_reordered.load(); }
  // 0 until the first frame.
  std::uint64_t CpuNs() const { return m_clockKnown.load() ? ThreadCpuNs(m_clock) : 0; }
  void Record(bool on) { m_record.store(on); }
  // A new subscription starts its sequence numbers again. While no frame
  // is delivered.
  void Resubscribed() { std::fill(m_last.begin(), m_last.end(), 0); }
  // While no frame is delivered; empties the record.
  std::vector<double> TakeLatencies() {
    std::vector<double> out(m_latencies.begin(), m_latencies.begin() + static_cast<std::ptrdiff_t>(m_count));
    m_count = 0;
    return out;
  }

 private:
  // Every channel's frames must arrive one sequence number after another.
  void CheckSequence(const strevon::sim::FrameStamp& stamp) {
    if (stamp.channel >= m_last.size()) return;
    std::uint64_t& last = m_last[stamp.channel];
    if (last != 0 && stamp.sequence + 1 <= last) {
      m_reordered.fetch_add(1, std::memory_order_relaxed);
    } else if (last != 0 && stamp.sequence + 1 > last + 1) {
      m_lost.fetch_add(stamp.sequence - last, std::memory_order_relaxed);
    }
    last = stamp.sequence + 1;
  }

  const std::size_t m_expected;
  std::atomic<bool> m_clockKnown{false};
  clockid_t m_clock = CLOCK_THREAD_CPUTIME_ID;
  std::atomic<bool> m_record{false};
  std::atomic<std::uint64_t> m_bytes{0}, m_frames{0}, m_bad{0}, m_lost{0}, m_reordered{0};
  std::vector<double> m_latencies;  // receiver thread while frames flow
  std::size_t m_count = 0;
  std::vector<std::uint64_t> m_last;  // channel -> last sequence + 1; receiver thread
};

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
  int window_ms = 1000;
  int pairs = 7;
  int steady_window_ms = 3000;
  int scale_s = 60;
  bool quick = false;
  std::set<std::string> only;
  std::set<std::pair<std::size_t, int>> cases;
  std::string home;
  bool Wants(const std::string& part) const { return only.empty() || only.count(part) != 0; }
};

// Channels [0, channels) of one driver, started into one handler and
// stopped again, as often as the alternation asks.
class DriverSide {
 public:
  DriverSide(strevon::host::DriverLibrary& library, std::uint16_t port, int channels, std::size_t size,
             std::size_t latency_room)
      : m_channels(channels), m_handler(size, latency_room), m_driver(library, port, channels) {}
  bool Opened() const { return m_driver.opened; }
  void Start() {
    auto* capture = m_driver.driver->GetVideoCaptureEx();
    for (int c = 0; c < m_channels; ++c) capture->StartChannel(static_cast<std::uint32_t>(c), &m_handler, &m_setup);
  }
  // No frame reaches the handler afterwards.
  void Stop() {
    auto* capture = m_driver.driver->GetVideoCaptureEx();
    for (int c = 0; c < m_channels; ++c) capture->StopChannel(static_cast<std::uint32_t>(c));
    m_handler.Resubscribed();
  }
  BenchHandler& Handler() { return m_handler; }

 private:
  const int m_channels;
  strevon::host::ChannelSetup m_setup{704, 576};
  BenchHandler m_handler;
  // Last, so that it ends (and with it every delivery) first.
  Driver m_driver;
};

// Channels are started once every driver has read its profile (the last
// step of connecting): a subscription queued earlier is dropped by the
// reconnect that the first connection begins with.
bool WaitConnected(const SimProcess& sim, int drivers) {
  return WaitFor([&] { return sim.CountInLog("\"user/profile\"") >= drivers; }, 30s);
}

struct Sample {
  double MBps = 0;
  double cpu_ns_per_byte = 0;
  double busy_cores = 0;  // the whole machine's, simulator included
};

// The CPU clock of a window whose readers' CPU is not measured.
std::uint64_t NoCpuClock() { return 0; }

// Bytes delivered and CPU of the reading thread over one window.
Sample Measure(int window_ms, const std::function<std::uint64_t()>& bytes,
               const std::function<std::uint64_t()>& cpu_ns) {
  const std::uint64_t b0 = bytes(), c0 = cpu_ns();
  const MachineTicks m0 = ReadMachineTicks();
  const auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(window_ms));
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  const std::uint64_t b1 = bytes(), c1 = cpu_ns();
  Sample s;
  s.busy_cores = BusyCores(m0, ReadMachineTicks());
  s.MBps = static_cast<double>(b1 - b0) / seconds / 1e6;
  s.cpu_ns_per_byte = b1 > b0 ? static_cast<double>(c1 - c0) / static_cast<double>(b1 - b0) : 0;
  return s;
}

constexpr std::chrono::milliseconds kWarm{200};
// After the driver's channels stop, the bytes the simulator had written
// still drain before the raw side's window.
constexpr std::chrono::milliseconds kDrain{100};

std::vector<std::pair<std::size_t, double>> g_loopback;  // read size -> MB/s

void Loopback(const Options& o, std::vector<Row>& rows) {
  for (std::size_t chunk : {std::size_t{65536}, std::size_t{262144}, std::size_t{1} << 20, std::size_t{4} << 20}) {
    std::vector<double> v;
    for (int i = 0; i < (o.quick ? 1 : 3); ++i) v.push_back(LoopbackMBps(chunk, o.quick ? 300 : 500));
    const double mbps = Percentile(v, 0.5);
    g_loopback.emplace_back(chunk, mbps);
    Row r("loopback");
    r.Num("frame_size", static_cast<double>(chunk), 0).Num("MBps", mbps);
    Emit(rows, r);
  }
}

double LoopbackAt(std::size_t size) {
  double best = 0;
  for (const auto& kv : g_loopback) {
    if (kv.first <= std::max<std::size_t>(size, 65536)) best = kv.second;
  }
  return best;
}

void Throughput(const Options& o, strevon::host::DriverLibrary& library, std::vector<Row>& rows) {
  std::vector<std::pair<std::size_t, int>> cases = {{1024, 1},   {65536, 1},    {262144, 1},
                                                    {1048575, 1}, {262144, 16}, {262144, 64}};
  if (o.quick) cases = {{65536, 1}, {262144, 16}};
  if (!o.cases.empty()) cases.assign(o.cases.begin(), o.cases.end());
  for (const auto& c : cases) {
    const std::size_t size = c.first;
    const int channels = c.second;
    SimConfig config;
    config.frame_size = size;
    config.cameras = std::max(channels, 2);
    SimProcess sim(o.sim_exe, o.home, config);
    if (sim.Port() == 0) {
      std::fprintf(stderr, "simulator did not start\n");
      return;
    }
    DriverSide side(library, sim.Port(), channels, size, 0);
    if (!side.Opened() || !WaitConnected(sim, 1)) {
      std::fprintf(stderr, "driver did not connect\n");
      return;
    }
    BenchHandler& h = side.Handler();
    std::vector<double> raw_mbps, drv_mbps, ratio, raw_cpu, drv_cpu, cpu_ratio, default_mbps;
    // A raw window of receive_buffer bytes (0: the kernel's sizing); false
    // when the reader got nothing.
    auto raw_window = [&](int receive_buffer, Sample& out) {
      RawReader reader(sim.Port(), channels, 0, receive_buffer);
      if (!reader.Running() || !WaitFor([&] { return reader.Frames() >= static_cast<std::uint64_t>(channels); }, 10s)) {
        std::fprintf(stderr, "raw reader got no frames\n");
        return false;
      }
      std::this_thread::sleep_for(kWarm);
      out = Measure(o.window_ms, [&] { return reader.Bytes(); }, [&] { return reader.CpuNs(); });
      return true;
    };
    auto driver_window = [&](Sample& out) {
      const std::uint64_t f0 = h.Frames();
      side.Start();
      if (!WaitFor([&] { return h.Frames() >= f0 + static_cast<std::uint64_t>(channels); }, 10s)) {
        std::fprintf(stderr, "driver got no frames\n");
        side.Stop();
        return false;
      }
      std::this_thread::sleep_for(kWarm);
      out = Measure(o.window_ms, [&] { return h.Bytes(); }, [&] { return h.CpuNs(); });
      side.Stop();
      std::this_thread::sleep_for(kDrain);
      return true;
    };
    for (int pair = 0; pair < o.pairs; ++pair) {
      // The two windows of a pair follow each other, in turns raw first and
      // driver first, so that the machine's drift between windows falls on
      // both sides alike.
      Sample raw, kernel_sized, drv;
      if (!raw_window(0, kernel_sized)) return;
      default_mbps.push_back(kernel_sized.MBps);
      std::this_thread::sleep_for(kDrain);
      auto raw_side = [&] {
        const bool got = raw_window(kDriverReceiveBuffer, raw);
        std::this_thread::sleep_for(kDrain);
        return got;
      };
      if (!(pair % 2 == 0 ? raw_side() && driver_window(drv) : driver_window(drv) && raw_side())) return;
      raw_mbps.push_back(raw.MBps);
      drv_mbps.push_back(drv.MBps);
      ratio.push_back(raw.MBps > 0 ? drv.MBps / raw.MBps : 0);
      raw_cpu.push_back(raw.cpu_ns_per_byte);
      drv_cpu.push_back(drv.cpu_ns_per_byte);
      cpu_ratio.push_back(raw.cpu_ns_per_byte > 0 ? drv.cpu_ns_per_byte / raw.cpu_ns_per_byte : 0);
    }
    const Spread r = SpreadOf(ratio);
    Row row(h.Bad() != 0 ? "throughput(BAD)" : "throughput");
    row.Num("frame_size", static_cast<double>(size), 0).Num("channels", channels, 0).Num("drivers", 1, 0);
    row.Num("raw_MBps", SpreadOf(raw_mbps).median).Num("driver_MBps", SpreadOf(drv_mbps).median);
    row.Num("ratio", r.median, 3).Num("ratio_min", r.min, 3).Num("ratio_max", r.max, 3);
    row.Num("raw_cpu_ns_per_byte", SpreadOf(raw_cpu).median, 4);
    row.Num("driver_cpu_ns_per_byte", SpreadOf(drv_cpu).median, 4);
    row.Num("cpu_ratio", SpreadOf(cpu_ratio).median, 3);
    row.Num("raw_kernel_buffer_MBps", SpreadOf(default_mbps).median);
    Emit(rows, row);
    std::printf("  raw MB/s %s, driver MB/s %s, cpu ratio %s; raw with the kernel's buffer sizing %s MB/s; "
                "loopback limit %.0f MB/s\n",
                Show(SpreadOf(raw_mbps), 0).c_str(), Show(SpreadOf(drv_mbps), 0).c_str(),
                Show(SpreadOf(cpu_ratio), 3).c_str(), Show(SpreadOf(default_mbps), 0).c_str(), LoopbackAt(size));
    if (h.Bad() != 0) std::fprintf(stderr, "%llu frames failed the check\n", static_cast<unsigned long long>(h.Bad()));
  }
}

// MB/s of n raw readers of one channel each, reading together.
double RawReadersMBps(std::uint16_t port, int n, int window_ms) {
  std::vector<std::unique_ptr<RawReader>> readers;
  for (int i = 0; i < n; ++i) readers.push_back(std::make_unique<RawReader>(port, 1, 0));
  auto total = [&] {
    std::uint64_t b = 0;
    for (auto& r : readers) b += r->Bytes();
    return b;
  };
  WaitFor([&] { return total() > 0; }, 10s);
  std::this_thread::sleep_for(n > 1 ? kWarm * 2 : kWarm);
  const Sample s = Measure(window_ms, total, NoCpuClock);
  readers.clear();
  std::this_thread::sleep_for(kDrain);
  return s.MBps;
}

// Eight drivers of one channel each against the first of them alone, and
// the same for raw readers: what the machine allows the ratio to be.
void ManyDrivers(const Options& o, strevon::host::DriverLibrary& library, std::vector<Row>& rows) {
  const std::size_t size = 262144;
  const int drivers = o.quick ? 4 : 8;
  SimConfig config;
  config.frame_size = size;
  config.cameras = 2;
  SimProcess sim(o.sim_exe, o.home, config);
  if (sim.Port() == 0) return;
  std::vector<std::unique_ptr<DriverSide>> sides;
  for (int d = 0; d < drivers; ++d) sides.push_back(std::make_unique<DriverSide>(library, sim.Port(), 1, size, 0));
  if (!WaitConnected(sim, drivers)) {
    std::fprintf(stderr, "drivers did not connect\n");
    return;
  }
  auto total = [&] {
    std::uint64_t b = 0;
    for (auto& s : sides) b += s->Handler().Bytes();
    return b;
  };
  std::vector<double> one, many, ratio, raw_ratio, many_vs_raw, one_busy, many_busy;
  for (int pair = 0; pair < o.pairs; ++pair) {
    sides[0]->Start();
    WaitFor([&] { return sides[0]->Handler().Frames() > 0; }, 10s);
    std::this_thread::sleep_for(kWarm);
    const Sample a = Measure(o.window_ms, total, NoCpuClock);
    sides[0]->Stop();
    std::this_thread::sleep_for(kDrain);
    for (auto& s : sides) s->Start();
    std::this_thread::sleep_for(kWarm * 2);
    const Sample b = Measure(o.window_ms, total, NoCpuClock);
    for (auto& s : sides) s->Stop();
    std::this_thread::sleep_for(kDrain);
    one.push_back(a.MBps);
    many.push_back(b.MBps);
    ratio.push_back(a.MBps > 0 ? b.MBps / a.MBps : 0);
    one_busy.push_back(a.busy_cores);
    many_busy.push_back(b.busy_cores);
    const double rawOne = RawReadersMBps(sim.Port(), 1, o.window_ms);
    const double rawMany = RawReadersMBps(sim.Port(), drivers, o.window_ms);
    raw_ratio.push_back(rawOne > 0 ? rawMany / rawOne : 0);
    many_vs_raw.push_back(rawMany > 0 ? b.MBps / rawMany : 0);
  }
  const Spread r = SpreadOf(ratio);
  const Spread rr = SpreadOf(raw_ratio);
  Row row("drivers_vs_one");
  row.Num("frame_size", static_cast<double>(size), 0).Num("channels", 1, 0).Num("drivers", drivers, 0);
  row.Num("one_driver_MBps", SpreadOf(one).median).Num("drivers_MBps", SpreadOf(many).median);
  row.Num("ratio", r.median, 3).Num("ratio_min", r.min, 3).Num("ratio_max", r.max, 3);
  row.Num("raw_ratio", rr.median, 3).Num("raw_ratio_min", rr.min, 3).Num("raw_ratio_max", rr.max, 3);
  const Spread mr = SpreadOf(many_vs_raw);
  row.Num("drivers_vs_raw_loops", mr.median, 3).Num("drivers_vs_raw_loops_min", mr.min, 3);
  row.Num("drivers_vs_raw_loops_max", mr.max, 3);
  // The ratio eight reach if they cost the machine per byte what one
  // costs: its cores over the cores busy while one driver (and the
  // simulator feeding it) runs. Where one stream is slow, it also costs more
  // per byte, and eight do better than this.
  const double oneBusy = SpreadOf(one_busy).median;
  row.Num("one_driver_busy_cores", oneBusy, 2);
  row.Num("drivers_busy_cores", SpreadOf(many_busy).median, 2);
  row.Num("equal_cost_ratio", oneBusy > 0 ? std::thread::hardware_concurrency() / oneBusy : 0, 3);
  Emit(rows, row);
}

// 25 fps per channel, 100 KiB frames: raw and driver windows alternate for
// the latency; with long_s > 0 one long driver run follows for lost and
// reordered frames, CPU and RSS growth.
void Steady(const Options& o, strevon::host::DriverLibrary& library, std::vector<Row>& rows, const char* name,
            int channels, int long_s) {
  const std::size_t size = 100 * 1024;
  const double fps = 25;
  SimConfig config;
  config.frame_size = size;
  config.cameras = channels;
  config.fps = fps;
  SimProcess sim(o.sim_exe, o.home, config);
  if (sim.Port() == 0) return;
  const int window_ms = o.steady_window_ms;
  // Room for every latency of the longest window, written once now so that
  // the run's resident memory does not grow with the harness's records.
  const std::size_t room = static_cast<std::size_t>(channels * fps * 1.5) *
                           static_cast<std::size_t>(std::max(window_ms / 1000, long_s) + 3);
  DriverSide side(library, sim.Port(), channels, size, room);
  if (!side.Opened() || !WaitConnected(sim, 1)) {
    std::fprintf(stderr, "driver did not connect\n");
    return;
  }
  BenchHandler& h = side.Handler();
  std::vector<double> raw_p99, drv_p50, drv_p99, added, cpu_pct, fps_seen;
  std::uint64_t lost = 0, reordered = 0;
  for (int pair = 0; pair < o.pairs; ++pair) {
    {
      RawReader reader(sim.Port(), channels, room);
      if (!WaitFor([&] { return reader.Frames() >= static_cast<std::uint64_t>(channels); }, 10s)) return;
      std::this_thread::sleep_for(500ms);
      reader.Record(true);
      std::this_thread::sleep_for(std::chrono::milliseconds(window_ms));
      reader.Record(false);
      reader.Stop();
      raw_p99.push_back(Percentile(reader.Latencies(), 0.99));
    }
    std::this_thread::sleep_for(kDrain);
    const std::uint64_t f0 = h.Frames(), lost0 = h.Lost(), reordered0 = h.Reordered();
    side.Start();
    if (!WaitFor([&] { return h.Frames() >= f0 + static_cast<std::uint64_t>(channels); }, 10s)) {
      side.Stop();
      return;
    }
    std::this_thread::sleep_for(500ms);
    const std::uint64_t f1 = h.Frames();
    const std::int64_t c1 = OtherThreadsCpuUs();
    const auto t1 = Clock::now();
    h.Record(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(window_ms));
    h.Record(false);
    const double seconds = std::chrono::duration<double>(Clock::now() - t1).count();
    cpu_pct.push_back(static_cast<double>(OtherThreadsCpuUs() - c1) / 1e4 / seconds);
    fps_seen.push_back(static_cast<double>(h.Frames() - f1) / seconds);
    side.Stop();
    lost += h.Lost() - lost0;
    reordered += h.Reordered() - reordered0;
    const std::vector<double> latencies = h.TakeLatencies();
    drv_p50.push_back(Percentile(latencies, 0.5));
    drv_p99.push_back(Percentile(latencies, 0.99));
    added.push_back(drv_p99.back() - raw_p99.back());
    std::this_thread::sleep_for(kDrain);
  }
  long rss = RssKib();
  std::optional<double> growth;
  if (long_s > 0) {
    const std::uint64_t lost0 = h.Lost(), reordered0 = h.Reordered();
    side.Start();
    std::this_thread::sleep_for(2s);  // every channel streaming, the frame pool grown
    const long rss_start = RssKib();
    const std::uint64_t f1 = h.Frames();
    const std::int64_t c1 = OtherThreadsCpuUs();
    const auto t1 = Clock::now();
    while (Clock::now() - t1 < std::chrono::seconds(long_s)) {
      std::this_thread::sleep_for(250ms);
      rss = std::max(rss, RssKib());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - t1).count();
    const double long_cpu = static_cast<double>(OtherThreadsCpuUs() - c1) / 1e4 / seconds;
    const double long_fps = static_cast<double>(h.Frames() - f1) / seconds;
    growth = static_cast<double>(RssKib() - rss_start);
    side.Stop();
    lost += h.Lost() - lost0;
    reordered += h.Reordered() - reordered0;
    std::printf("  %d s run: %.0f frames/s, driver threads %.1f %% of one core, RSS %+ld KiB\n", long_s, long_fps,
                long_cpu, static_cast<long>(*growth));
    cpu_pct.assign(1, long_cpu);
    fps_seen.assign(1, long_fps);
  }
  Row row(h.Bad() != 0 ? std::string(name) + "(BAD)" : name);
  row.Num("frame_size", static_cast<double>(size), 0).Num("channels", channels, 0);
  row.Num("fps", SpreadOf(fps_seen).median).Num("lost", static_cast<double>(lost), 0);
  row.Num("reordered", static_cast<double>(reordered), 0).Num("cpu_pct", SpreadOf(cpu_pct).median);
  row.Num("p50_us", SpreadOf(drv_p50).median).Num("p99_us", SpreadOf(drv_p99).median);
  row.Num("raw_p99_us", SpreadOf(raw_p99).median).Num("added_p99_us", SpreadOf(added).median);
  row.Num("rss_kib", static_cast<double>(rss), 0);
  Emit(rows, row);
  std::printf("  driver p99 us %s, raw p99 us %s, added p99 us %s\n", Show(SpreadOf(drv_p99), 0).c_str(),
              Show(SpreadOf(raw_p99), 0).c_str(), Show(SpreadOf(added), 0).c_str());
  if (growth) {
    Row g("rss_growth");
    g.Num("channels", channels, 0).Num("seconds", long_s, 0).Num("rss_kib", *growth, 0);
    Emit(rows, g);
  }
}

// StartChannel on a connected driver to the first frame in the handler.
class FirstFrameHandler : public quorvel::ipcapture::IFrameHandler {
 public:
  bool CaptureFrameCallback(quorvel::ipcapture::ICaptureFrame*) override {
    std::uint64_t none = 0;
    m_first.compare_exchange_strong(none, MonotonicNs());
    return true;
  }
  void OnSignalLost() override {}
  void Arm() { m_first.store(0); }
  std::uint64_t First() const { return m_first.load(); }

 private:
  std::atomic<std::uint64_t> m_first{0};
};

void FirstFrame(const Options& o, strevon::host::DriverLibrary& library, std::vector<Row>& rows) {
  SimConfig config;
  config.frame_size = 65536;
  config.cameras = 2;
  config.fps = 25;
  SimProcess sim(o.sim_exe, o.home, config);
  if (sim.Port() == 0) return;
  Driver d(library, sim.Port(), 1);
  if (!d.opened || !WaitConnected(sim, 1)) return;
  FirstFrameHandler handler;
  strevon::host::ChannelSetup setup(704, 576);
  auto* capture = d.driver->GetVideoCaptureEx();
  std::vector<double> us;
  for (int i = 0; i < (o.quick ? 5 : 20); ++i) {
    handler.Arm();
    const std::uint64_t t0 = MonotonicNs();
    capture->StartChannel(0, &handler, &setup);
    if (WaitFor([&] { return handler.First() != 0; }, 5s)) {
      us.push_back(static_cast<double>(handler.First() - t0) / 1000.0);
    }
    capture->StopChannel(0);
    std::this_thread::sleep_for(50ms);
  }
  Row r("first_frame");
  r.Num("frame_size", 65536, 0).Num("p50_us", Percentile(us, 0.5)).Num("p99_us", Percentile(us, 0.99));
  Emit(rows, r);
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
  Row r("idle_driver_rss");
  r.Num("drivers", 1, 0).Num("rss_kib", static_cast<double>(after - before), 0);
  r.Num("heap_kib", static_cast<double>(heap_after - heap_before), 0);
  Emit(rows, r);
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
  Row c("connect_to_connected");
  c.Num("drivers", 1, 0).Num("p50_us", Percentile(connect_us, 0.5)).Num("p99_us", Percentile(connect_us, 0.99));
  Emit(rows, c);

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
  Row p("ptz_call_to_wire");
  p.Num("drivers", 1, 0).Num("p50_us", Percentile(ptz_us, 0.5)).Num("p99_us", Percentile(ptz_us, 0.99));
  Emit(rows, p);
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
    else if (a == "--window-ms") o.window_ms = std::max(100, std::atoi(next().c_str()));
    else if (a == "--pairs") o.pairs = std::max(1, std::atoi(next().c_str()));
    else if (a == "--scale-s") o.scale_s = std::max(1, std::atoi(next().c_str()));
    else if (a == "--quick") o.quick = true;
    else if (a == "--only") o.only.insert(next());
    else if (a == "--case") {
      const std::string c = next();
      const std::size_t colon = c.find(':');
      o.cases.emplace(std::strtoull(c.c_str(), nullptr, 10),
                      colon == std::string::npos ? 1 : std::max(1, std::atoi(c.c_str() + colon + 1)));
    } else {
      std::fprintf(stderr,
                   "usage: %s [--sim PATH] [--lib PATH] [--out FILE] [--window-ms N] [--pairs N] [--scale-s N] "
                   "[--quick] [--only loopback|throughput|drivers|steady|scale|first_frame|idle|control]... "
                   "[--case SIZE:CH]...\n",
                   argv[0]);
      return 2;
    }
  }
  if (o.quick) {
    o.window_ms = std::min(o.window_ms, 500);
    o.pairs = std::min(o.pairs, 2);
    o.steady_window_ms = 1000;
    o.scale_s = std::min(o.scale_s, 5);
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
  const auto started = Clock::now();
  if (o.Wants("loopback") || o.Wants("throughput")) Loopback(o, rows);
  if (o.Wants("idle")) Idle(o, library, rows);
  if (o.Wants("control")) Control(o, library, rows);
  if (o.Wants("first_frame")) FirstFrame(o, library, rows);
  if (o.Wants("throughput")) Throughput(o, library, rows);
  if (o.Wants("drivers")) ManyDrivers(o, library, rows);
  if (o.Wants("steady")) Steady(o, library, rows, "steady", 64, 0);
  if (o.Wants("scale")) Steady(o, library, rows, "scale", 256, o.scale_s);
  WriteJson(rows, o.out);
  std::printf("rows written to %s (%.0f s; load average now %s)\n", o.out.c_str(),
              std::chrono::duration<double>(Clock::now() - started).count(), LoadAverage().c_str());
  std::system(("rm -rf '" + o.home + "'").c_str());
  return 0;
}
