#!/usr/bin/env bash
# The Windows tests under Wine (./run test-windows calls this after building
# the "windows" preset and the Linux simulator, by default the "release"
# preset's; STREVON_SIM names another):
#   1. the unit tests of everything with a Windows backend, one process;
#   2. the C host against the Linux Gateway simulator on loopback.
# Wine exits 0 also when it could not run a program at all, so every run is
# judged by the line the program itself prints last, never by the exit code
# alone.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=$ROOT/build/windows
SIM=${STREVON_SIM:-$ROOT/build/release/tools/sim/strevon-gateway-sim}

say() { printf '\033[1m==> %s\033[0m\n' "$*"; }
fail() { printf 'wine tests: %s\n' "$*" >&2; exit 1; }

# Without the 32-bit loader, wine starts no i686 program and still says 0.
[ -x /usr/lib/wine/wine ] || fail "the 32-bit Wine loader (/usr/lib/wine/wine, package wine32) is missing"
for f in "$BUILD/tests/windows/strevon_windows_tests.exe" "$BUILD/tests/windows/c_host.exe" \
         "$BUILD/src/strevon.dll" "$SIM"; do
  [ -f "$f" ] || fail "$f is not built"
done

# A fresh 32-bit prefix for every run, inside the build folder.
export WINEPREFIX=$BUILD/wine-prefix WINEARCH=win32 WINEDEBUG=-all
wineserver -k >/dev/null 2>&1 || true  # a server left from an earlier run
wineserver -w >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX"
say "Making a 32-bit Wine prefix"
wineboot -i >"$BUILD/wineboot.log" 2>&1 || { cat "$BUILD/wineboot.log"; fail "wineboot failed"; }
# The prefix's server lingers between the programs below; it goes at the end.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

say "Unit tests (Windows backends) under Wine"
log=$BUILD/wine-unit-tests.log
(cd "$BUILD/tests/windows" && timeout 600 wine strevon_windows_tests.exe --gtest_brief=1) >"$log" 2>&1 || true
summary=$(grep -E '^\[==========\] [0-9]+ tests? from .* ran\.' "$log" || true)
if [ -z "$summary" ] || ! grep -qE '^\[  PASSED  \] [0-9]+ tests?\.' "$log" || grep -q '^\[  FAILED  \]' "$log"; then
  cat "$log"
  fail "unit tests under Wine did not pass (see above)"
fi
echo "$summary"

say "C host against the Gateway simulator"
requests=$BUILD/wine-sim-requests.jsonl
home=$BUILD/wine-home
rm -rf "$home" && mkdir -p "$home"
: >"$requests"
# The profile and a resolution the query reports; the host's debug sink
# is to get the log banner (an INFO line).
printf '<Configuration><Common><Profile>service</Profile><LogLevel>4</LogLevel><Resolutions><Item>640x480</Item></Resolutions></Common></Configuration>\n' >"$home/Strevon.xml"
coproc SIMULATOR { exec "$SIM" --port 0 --requests-log "$requests" --exit-on-eof 2>&1; }
sim_pid=$SIMULATOR_PID
sim_in=${SIMULATOR[1]}
read -r -t 10 line <&"${SIMULATOR[0]}" || fail "the simulator did not start"
port=${line##* }
[[ "$line" == listening* && "$port" =~ ^[0-9]+$ ]] || fail "unexpected simulator line: $line"
hostlog=$BUILD/wine-c-host.log
STREVON_HOME="Z:$home/" timeout 180 wine "$BUILD/tests/windows/c_host.exe" \
  "Z:$BUILD/src/strevon.dll" "$port" >"$hostlog" 2>&1 || true
eval "exec ${sim_in}>&-"  # end of input stops the simulator
wait "$sim_pid" 2>/dev/null || true
result=$(grep -E '^C HOST (PASSED|FAILED)' "$hostlog" | tail -n 1 || true)
[[ "$result" == "C HOST PASSED"* ]] || { cat "$hostlog"; fail "the C host did not pass"; }
echo "$result"
for wanted in '"raw":"video/realtime/subscribe?' '"raw":"camera/ptz/left?pid=cam-2&' \
              '"raw":"switch/toggle?pid=out-1"'; do
  grep -qF "$wanted" "$requests" || { cat "$requests"; fail "the Gateway never received $wanted"; }
done
say "Windows tests passed"
