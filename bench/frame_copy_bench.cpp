// strevon_frame_copy_bench: what one video message costs the receive path
// between the socket and the host's buffer, for the body sizes the end-to-end
// harness streams. The baseline is one memcpy of the body (the least any
// delivery into a host-owned buffer needs); "delivery" does what the driver
// does per message besides the system calls: the header written into the
// reused ServerMessage, Parse, the header look-ups of a frame's way to its
// channel, and the body taken from a pending stream straight into the
// frame buffer (a memcpy standing in for the socket's copy). The ratios to
// the baseline of the same run are printed after the table.
//
// Flags: the usual Google Benchmark flags (--benchmark_filter,
// --benchmark_min_time, --benchmark_format ...).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "gateway/server_message.h"

namespace {

// The socket's side of a pending body: one memcpy from the received bytes.
class MemoryBody final : public quorvel::ServerMessage::BodyStream {
 public:
  explicit MemoryBody(const std::vector<char>& bytes) : m_bytes(bytes) {}
  bool ReadBody(char* destination, std::size_t size) override {
    std::memcpy(destination, m_bytes.data(), size);
    return true;
  }
  bool SkipBody(std::size_t) override { return true; }

 private:
  const std::vector<char>& m_bytes;
};

const char kHeader[] =
    "Response: video/stream\r\nCid: 12\r\nStatus: OK\r\nFourcc: 875967048\r\nWidth: 704\r\n"
    "Height: 576\r\nSize: 704x576\r\n\r\n";

void BM_Baseline_Memcpy(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  std::vector<char> received(size, 'x');
  std::vector<unsigned char> frame(size);
  for (auto _ : state) {
    std::memcpy(frame.data(), received.data(), size);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size));
}

void BM_Delivery(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const std::size_t headerSize = sizeof kHeader - 1;
  std::vector<char> received(size, 'x');
  std::vector<unsigned char> frame(size);
  // One message for the whole run, as on the receiver thread.
  quorvel::ServerMessage message;
  MemoryBody body(received);
  for (auto _ : state) {
    message.Clear();
    std::memcpy(message.HeaderSpace(headerSize), kHeader, headerSize);
    message.SetPendingBody(&body, size);
    benchmark::DoNotOptimize(message.Parse());
    for (const char* key : {"Response", "Status", "Cid", "Fourcc", "Size"}) {
      benchmark::DoNotOptimize(message.HeaderView(key));
    }
    benchmark::DoNotOptimize(message.TakeBody(frame.data(), frame.size()));
    message.EndPendingBody();
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size));
}

#define SIZES Arg(1024)->Arg(16384)->Arg(262144)->Arg(1048575)
BENCHMARK(BM_Baseline_Memcpy)->SIZES;
BENCHMARK(BM_Delivery)->SIZES;

// Collects the real time per iteration of every run to print ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration) times[r.benchmark_name()] = r.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  std::string model = "unknown";
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.rfind("model name", 0) == 0) {
      model = line.substr(line.find(':') + 2);
      break;
    }
  }
  std::printf("machine: %u cpus, %s\n", std::thread::hardware_concurrency(), model.c_str());
#if !defined(__OPTIMIZE__)
  std::printf("WARNING: built without optimisation; numbers are not representative\n");
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\ndelivery time over the memcpy baseline (same run):\n");
  for (const char* size : {"1024", "16384", "262144", "1048575"}) {
    const auto base = reporter.times.find(std::string("BM_Baseline_Memcpy/") + size);
    const auto path = reporter.times.find(std::string("BM_Delivery/") + size);
    if (base == reporter.times.end() || path == reporter.times.end() || base->second <= 0) continue;
    std::printf("  %8s bytes: %.2fx\n", size, path->second / base->second);
  }
  benchmark::Shutdown();
  return 0;
}
