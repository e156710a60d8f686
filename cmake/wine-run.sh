#!/bin/sh
# Usage: wine-run.sh DEFAULT_PREFIX PROGRAM.exe [ARGUMENT...]
#        wine-run.sh DEFAULT_PREFIX --prepare
# Runs a Windows program of the cross build under Wine: quietly, without a display, and in a Wine
# prefix of its own. WINEPREFIX, when set, names that prefix; otherwise DEFAULT_PREFIX (a folder
# in the build tree) does. --prepare makes the prefix and starts Wine, and prints the prefix.
set -eu

default_prefix=$1
shift
export WINEPREFIX="${WINEPREFIX:-$default_prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono and no Gecko: console programs need neither, and there is no network to fetch them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            wineboot -i >/dev/null 2>&1
            wineserver -w
        fi
    ) 9>"$WINEPREFIX/.prefix-lock"
fi

# Starting Wine's server and services takes seconds, longer than ctest waits for a test program
# to list its tests; a server that stays five minutes after the last program ends lets every
# program after the first start in a fraction of a second. The services are started apart from
# the program so that they do not hold its output open.
if wineserver -p300 >/dev/null 2>&1; then
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
fi

if [ "${1:-}" = --prepare ]; then
    echo "Wine prefix: $WINEPREFIX"
    exit 0
fi
exec wine "$@"
