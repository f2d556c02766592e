#!/usr/bin/env bash
# Soak run (./run soak, outside the test suite): builds the release
# preset's driver and strevon-soak, then runs one driver (Resilient on)
# against the in-process Gateway simulator for 10 minutes: 16 channels
# streaming, every Gateway connection reset every 30 s, PTZ and I/O in
# between, a few channels stopped near the end. Prints a summary table and
# exits non-zero when a check failed (a stream that did not resume within
# 20 s of a reset, a frame after a channel's stop, RSS growth above 2 MiB or
# any thread growth after warm-up, ...).
# Arguments go to strevon-soak: --minutes N, --channels N, --reset-every S,
# --resume-bound S, --sample-every S, --stop-channels N, --rss-limit-mib M,
# --lib PATH (see --help).
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=$(nproc 2>/dev/null || echo 2)
cmake --preset release >/dev/null
cmake --build --preset release -j "$JOBS" --target strevon strevon-soak
echo "load average before the run: $(cat /proc/loadavg)"
exec build/release/tools/soak/strevon-soak "$@"
