#!/usr/bin/env bash
# Benchmarks (./run bench): builds the bench preset (Release) and runs
#   1. strevon_frame_copy_bench: the receive path's per-message work against
#      a memcpy baseline (Google Benchmark, ratios printed at the end);
#   2. strevon_e2e_bench: the loopback limit, raw reader and driver windows
#      alternating against the simulator's fast stream mode (throughput, CPU
#      per byte, eight drivers against one), steady and 256-channel scale
#      latency, CPU and RSS, first frame, idle RSS, control plane. Writes
#      the rows to the terminal and to bench/results/latest.json.
# Arguments go to strevon_e2e_bench (--quick, --only PART, --window-ms N,
# --pairs N, --scale-s N, --out FILE). Takes about seven minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=$(nproc 2>/dev/null || echo 2)
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$JOBS" --target strevon strevon-gateway-sim \
  strevon_e2e_bench strevon_frame_copy_bench
mkdir -p bench/results
echo "load average before the run: $(cat /proc/loadavg)"
build/bench/bench/strevon_frame_copy_bench --benchmark_min_time=0.2
build/bench/bench/strevon_e2e_bench "$@"
