#!/usr/bin/env bash
# Runs every libFuzzer harness of tests/fuzz, each starting from a copy of
# its checked-in corpus (the repository is never written to).
#
#   tools/fuzz.sh                 ./run fuzz: each harness for 60 s
#   tools/fuzz.sh --ci            a short round: each harness for about 10 s
#   tools/fuzz.sh --time N        each harness for N seconds
#   tools/fuzz.sh NAME...         only these harnesses (e.g. session_xml)
#
# Builds the clang "fuzz" preset (build/fuzz) first. Prints one line per
# harness; exits non-zero when any harness crashed, broke an invariant, hit
# a sanitizer report, leaked, or timed out on one input. The crashing input
# and the log are kept under build/fuzz/findings/NAME/.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

seconds=${STREVON_FUZZ_SECONDS:-60}
names=()
while [ $# -gt 0 ]; do
  case "$1" in
    --ci) seconds=10 ;;
    --time) shift; seconds=${1:?--time needs a number of seconds} ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
    *) names+=("$1") ;;
  esac
  shift
done

if [ ${#names[@]} -eq 0 ]; then
  for harness in tests/fuzz/*_fuzzer.cpp; do
    name=$(basename "$harness" _fuzzer.cpp)
    names+=("$name")
  done
fi

# Only the harnesses are built: the plug-in itself does not link with the
# clang sanitizer runtimes, and the fuzzers do not need it.
echo "==> Building the fuzz preset"
cmake --preset fuzz >/dev/null || exit 1
targets=()
for name in "${names[@]}"; do targets+=(--target "${name}_fuzzer"); done
if ! cmake --build --preset fuzz -j2 "${targets[@]}" >build/fuzz/build.log 2>&1; then
  grep -E 'error|Error' build/fuzz/build.log | head -20
  echo "fuzz build failed (build/fuzz/build.log)"
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/strevon-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT

failed=0
for name in "${names[@]}"; do
  binary=build/fuzz/tests/fuzz/${name}_fuzzer
  if [ ! -x "$binary" ]; then
    printf '%-20s FAILED  (no binary %s)\n' "$name" "$binary"
    failed=1
    continue
  fi
  corpus=$work/$name
  mkdir -p "$corpus"
  cp -r "tests/fuzz/corpus/$name/." "$corpus/" 2>/dev/null || true
  findings=$ROOT/build/fuzz/findings/$name
  rm -rf "$findings"
  mkdir -p "$findings"
  dict=()
  [ -f "tests/fuzz/$name.dict" ] && dict=(-dict="tests/fuzz/$name.dict")
  start=$(date +%s)
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} \
  UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    "$binary" "${dict[@]}" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
      -max_len=65536 -print_final_stats=1 -artifact_prefix="$findings/" \
      "$corpus" >"$findings/log" 2>&1
  status=$?
  took=$(( $(date +%s) - start ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$findings/log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$findings/log" | tail -1 | cut -d' ' -f2)
  if [ $status -eq 0 ]; then
    printf '%-20s ok      %4d s  %9s runs  cov %s  corpus %d\n' "$name" "$took" "${runs:-?}" \
      "${cov:-?}" "$(ls "$corpus" | wc -l)"
    rm -rf "$findings"
  else
    artifact=$(ls "$findings" | grep -v '^log$' | head -1)
    printf '%-20s FAILED  %4d s  exit %d  input %s  log %s\n' "$name" "$took" "$status" \
      "${artifact:+$findings/$artifact}" "$findings/log"
    grep -m3 -E 'ERROR|invariant broken|runtime error|deadly signal|timeout' "$findings/log" | sed 's/^/    /'
    failed=1
  fi
done
exit $failed
