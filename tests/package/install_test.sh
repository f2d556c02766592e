#!/usr/bin/env bash
# The Debian package as a recorder's build consumes it: unpacked into a
# scratch root (dpkg -x; no root needed, nothing touches the system), a tiny
# host is built against the installed header with find_package and with
# pkg-config, and each loads the installed plug-in through its exports.
# The installed strevon-host must find the plug-in beside it.
#
#   tests/package/install_test.sh PACKAGE.deb
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
DEB=$(realpath "$1")
ROOT=$(mktemp -d /tmp/strevon-install-XXXXXX)
trap 'rm -rf "$ROOT"' EXIT

step() { printf '  %-58s' "$1"; }
dpkg -x "$DEB" "$ROOT"
PREFIX="$ROOT/usr"
step "package depends on (computed)"; dpkg-deb -f "$DEB" Depends
for f in include/strevon.h lib/strevon/libstrevon.so lib/cmake/Strevon/StrevonConfig.cmake \
         lib/pkgconfig/strevon.pc bin/strevon-host bin/strevon-gateway-sim; do
  [ -e "$PREFIX/$f" ] || { echo "missing from the package: /usr/$f" >&2; exit 1; }
done

step "tiny host with find_package(Strevon)"
cmake -S "$HERE/tiny_host" -B "$ROOT/build" -G Ninja -DCMAKE_PREFIX_PATH="$PREFIX" >"$ROOT/cmake.log" 2>&1 \
  || { cat "$ROOT/cmake.log"; exit 1; }
cmake --build "$ROOT/build" >>"$ROOT/cmake.log" 2>&1 || { cat "$ROOT/cmake.log"; exit 1; }
"$ROOT/build/tiny_host"

step "tiny host with pkg-config"
export PKG_CONFIG_PATH="$PREFIX/lib/pkgconfig"
plugin=$(pkg-config --variable=plugin strevon)
# shellcheck disable=SC2046
c++ -std=c++17 -Wall -Wextra -Werror $(pkg-config --cflags strevon) -DSTREVON_PLUGIN="\"$plugin\"" \
  "$HERE/tiny_host/tiny_host.cpp" -ldl -o "$ROOT/tiny_host_pc"
"$ROOT/tiny_host_pc"

step "installed strevon-host finds the installed plug-in"
"$PREFIX/bin/strevon-host" query 127.0.0.1:9 -u a -p b --timeout 1 >"$ROOT/tool.log" 2>&1 || true
if grep -q "driver library not found" "$ROOT/tool.log"; then cat "$ROOT/tool.log"; exit 1; fi
grep -q "unreachable" "$ROOT/tool.log" || { cat "$ROOT/tool.log"; exit 1; }
echo ok
echo "Install test passed: $(basename "$DEB")"
