#!/usr/bin/env bash
# The Strevon demo: the bundled Gateway simulator on a free loopback port and
# the strevon-host tool driving libstrevon.so against it, step by step:
#   1. capability query (saved as demo-out/device.json)
#   2. live video from every channel with progress, frames, mosaic, summary
#   3. PTZ: the dome's functions and presets, a move, a preset recall
#   4. digital I/O: an output toggled, input changes watched
# then a check list, and finally the live view in the browser (strevon-host
# view on 127.0.0.1:8090) until Ctrl-C. Exits 0 only when every step worked.
#
#   tools/demo.sh [--short] [--no-view] [--listen ADDRESS:PORT] [--build DIR]
#                 [--out DIR] [--host EXE] [--sim EXE]
#
# --short (or STREVON_DEMO_SHORT=1) streams for a few seconds only; the test
# suite runs it that way, with --no-view, which skips the live view.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)

SHORT=${STREVON_DEMO_SHORT:-0}
BUILD="$ROOT/build/release"
OUT="$ROOT/demo-out"
HOST_EXE=""
SIM_EXE=""
VIEW=1
LISTEN=127.0.0.1:8090
while [ $# -gt 0 ]; do
  case "$1" in
    --short) SHORT=1 ;;
    --no-view) VIEW=0 ;;
    --listen) LISTEN=$2; shift ;;
    --build) BUILD=$2; shift ;;
    --out) OUT=$2; shift ;;
    --host) HOST_EXE=$2; shift ;;
    --sim) SIM_EXE=$2; shift ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo: unknown argument $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done
HOST_EXE=${HOST_EXE:-$BUILD/tools/host/strevon-host}
SIM_EXE=${SIM_EXE:-$BUILD/tools/sim/strevon-gateway-sim}

if [ "$SHORT" = 1 ]; then
  STREAM_SECONDS=7; WATCH_SECONDS=4; TOGGLE_MS=1000; EVERY=10
else
  STREAM_SECONDS=15; WATCH_SECONDS=7; TOGGLE_MS=3000; EVERY=25
fi

bold() { printf '\n\033[1m==> %s\033[0m\n' "$*"; }
for exe in "$HOST_EXE" "$SIM_EXE"; do
  if [ ! -x "$exe" ]; then
    echo "demo: $exe is missing; build first (./run build release)" >&2
    exit 1
  fi
done

rm -rf "$OUT"
mkdir -p "$OUT/home"
# The driver's home: its settings file, and Strevon.log written beside it.
cp "$ROOT/tools/demo/Strevon.xml" "$OUT/home/Strevon.xml"
export STREVON_HOME="$OUT/home"
REQUESTS="$OUT/gateway-requests.jsonl"

# The simulator runs as a co-process: its first line names the port, its
# standard input stays open for commands until the demo ends.
coproc SIM { exec "$SIM_EXE" --requests-log "$REQUESTS" --toggle-ms "$TOGGLE_MS" 2>&1; }
# Copied under another name: bash unsets SIM_PID once the co-process ends,
# which a Ctrl-C (sent to the simulator too) makes happen before the trap.
SIM_PROCESS=$SIM_PID
stop_sim() {
  if kill -0 "$SIM_PROCESS" 2>/dev/null; then
    kill -TERM "$SIM_PROCESS" 2>/dev/null || true
    wait "$SIM_PROCESS" 2>/dev/null || true
  fi
}
trap stop_sim EXIT
trap 'exit 130' INT TERM

if ! read -r -t 10 -u "${SIM[0]}" word address PORT || [ "$word" != listening ]; then
  echo "demo: the Gateway simulator did not start" >&2
  exit 1
fi
GATEWAY="$address:$PORT"
bold "Gateway simulator listening on $GATEWAY (requests logged to $REQUESTS)"

HOST=("$HOST_EXE")
status=0
declare -A RESULT

bold "1. Capability query of $GATEWAY"
if "${HOST[@]}" query "$GATEWAY" --user admin --password admin --save "$OUT/device.json"; then
  RESULT[query]=ok
else
  RESULT[query]=FAILED
  echo "demo: the capability query failed; nothing else can run" >&2
  exit 1
fi

bold "2. Live video from every channel for $STREAM_SECONDS s (frames to $OUT/)"
if "${HOST[@]}" stream --device "$OUT/device.json" --channels all --seconds "$STREAM_SECONDS" \
     --out "$OUT" --every "$EVERY"; then
  RESULT[stream]=ok
else
  RESULT[stream]=FAILED; status=1
fi

bold "3. PTZ: move left for 1 s, zoom in for 1 s, then go to preset Gate"
if "${HOST[@]}" ptz --device "$OUT/device.json" --move left --zoom in --for 1000 \
     --preset Gate; then
  RESULT[ptz]=ok
else
  RESULT[ptz]=FAILED; status=1
fi

bold "4. Digital I/O: toggle output 0, watch the inputs for $WATCH_SECONDS s"
if "${HOST[@]}" io --device "$OUT/device.json" --toggle 0 --watch "$WATCH_SECONDS" --min-changes 1; then
  RESULT[io]=ok
else
  RESULT[io]=FAILED; status=1
fi

# What the Gateway saw: one JSON line per request.
seen() { grep -c "\"command\":\"$1\"" "$REQUESTS" 2>/dev/null || true; }
bold "Checks"
check() {  # name, condition result (0 = pass), detail
  if [ "$2" = 0 ]; then printf '  ok      %s (%s)\n' "$1" "$3"; else printf '  FAILED  %s (%s)\n' "$1" "$3"; status=1; fi
}
channels=$(ls "$OUT"/ch*.jpg 2>/dev/null | grep -c -E '/ch[0-9]+\.jpg$' || true)
expected=$(grep -o '"channels": [0-9]*' "$OUT/device.json" | head -1 | grep -o '[0-9]*$' || echo 0)
check "capability query" "$([ "${RESULT[query]}" = ok ] && echo 0 || echo 1)" "$OUT/device.json"
check "frames on every channel" "$([ "${RESULT[stream]}" = ok ] && [ "$channels" -eq "$expected" ] && [ "$expected" -gt 0 ] && echo 0 || echo 1)" \
  "$channels of $expected channels saved a frame"
check "mosaic" "$([ -s "$OUT/mosaic.jpg" ] && echo 0 || echo 1)" "$OUT/mosaic.jpg"
check "summary" "$(grep -q '"ok": true' "$OUT/summary.json" 2>/dev/null && echo 0 || echo 1)" "$OUT/summary.json"
moves=$(seen 'camera/ptz/left'); presets=$(grep '"command":"camera/ptz/preset"' "$REQUESTS" 2>/dev/null | grep -c '"name":"Gate"' || true)
check "PTZ move seen by the Gateway" "$([ "${RESULT[ptz]}" = ok ] && [ "$moves" -ge 1 ] && echo 0 || echo 1)" \
  "$moves camera/ptz/left, $(seen 'camera/ptz/stop') camera/ptz/stop"
check "preset recall seen by the Gateway" "$([ "$presets" -ge 1 ] && echo 0 || echo 1)" "$presets camera/ptz/preset name=Gate"
toggles=$(grep '"command":"switch/toggle"' "$REQUESTS" 2>/dev/null | grep -c '"pid":"out-1"' || true)
check "output toggle seen by the Gateway" "$([ "$toggles" -ge 1 ] && echo 0 || echo 1)" "$toggles switch/toggle pid=out-1"
check "input events received" "$([ "${RESULT[io]}" = ok ] && echo 0 || echo 1)" "at least one input change"

if [ "$status" = 0 ]; then
  bold "Demo finished: every step worked. Pictures: $OUT/ch*.jpg, $OUT/mosaic.jpg; driver log: $OUT/home/Strevon.log"
else
  bold "Demo finished with failures (see above)."
fi

if [ "$VIEW" = 1 ]; then
  bold "5. Live view: every channel, PTZ, I/O and the driver's log in a browser (Ctrl-C ends the demo)"
  # Ctrl-C reaches the view, which stops cleanly; the demo then goes on to
  # stop the simulator and report.
  trap ':' INT
  "${HOST[@]}" view --device "$OUT/device.json" --listen "$LISTEN" || status=1
  trap 'exit 130' INT TERM
fi
exit "$status"
