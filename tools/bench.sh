#!/usr/bin/env bash
# Benchmarks (./run bench): builds the bench preset (Release) and runs
#   1. strevon_frame_copy_bench: the receive path's per-message copies against
#      a memcpy baseline (Google Benchmark, ratios printed at the end);
#   2. strevon_e2e_bench: raw loopback limit vs the driver end to end,
#      steady 25 fps latency/CPU/RSS, idle RSS, control plane. Writes the
#      table to the terminal and the rows to bench/results/latest.json.
# Arguments go to strevon_e2e_bench (--quick, --only PART, --window-ms N,
# --steady-s N, --out FILE). Takes about four minutes.
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
