#!/usr/bin/env bash
# Prints the size of the tests against the size of the code they test:
# lines of tests/ (sources, headers and scripts; the fuzz corpora are data)
# against lines of src/, include/, tools/ and bench/. The aim is a quarter
# to a third; above 35 % the script says so.
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.sh' \
    -o -name '*.py' -o -name '*.cmake' -o -name '*.js' -o -name '*.html' \) \
    -not -path 'tests/fuzz/corpus/*' -print0 | xargs -0 cat | wc -l
}

tests=$(count tests)
code=$(count src include tools bench)
permille=$(( tests * 1000 / code ))
echo "Test lines: $tests; code lines (src, include, tools, bench): $code;" \
     "tests are $(( permille / 10 )).$(( permille % 10 )) % of the code"
if [ "$permille" -gt 350 ]; then
  echo "The tests are above 35 % of the code: fold cases into tables or drop ones that restate the code."
fi
