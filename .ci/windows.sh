#!/usr/bin/env bash
# The Windows build: cross-compiled with MinGW-w64, linked statically, and every test run under
# Wine in a throwaway prefix, with no display and no network. The ZIP is made and checked by
# .ci/packages.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

export DEBIAN_FRONTEND=noninteractive
need=()
for pkg in cmake ninja-build libgtest-dev g++-mingw-w64-x86-64-posix wine wine64; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
command -v python3 >/dev/null || need+=(python3)
if [ ${#need[@]} -gt 0 ]; then
    apt-get update -qq
    apt-get install -y -qq "${need[@]}"
fi

WINEPREFIX="$(mktemp -d)"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
stop_wine() {
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
}
trap stop_wine EXIT
# One Wine server and one set of Wine's services for the whole run, started apart from any test
# so that they hold no test's output open.
wineboot -i >/dev/null 2>&1
wineserver -w
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1

cmake --preset windows
cmake --build --preset windows -j2
ctest --preset windows -j2
