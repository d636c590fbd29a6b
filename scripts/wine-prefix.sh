#!/usr/bin/env bash
# Creates a fresh private Wine prefix for one test run, set to Windows 10.
set -euo pipefail
prefix="$1"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
here="$(cd "$(dirname "$0")" && pwd)"
wineserver -k 2>/dev/null || true
rm -rf "$prefix"
mkdir -p "$prefix"
if [ -x /usr/lib/wine/wine64 ]; then export WINELOADER=/usr/lib/wine/wine64; loader=/usr/lib/wine/wine64; else loader=wine; fi
"$loader" wineboot -i >/dev/null 2>&1 || true
"$loader" winecfg -v win10 >/dev/null 2>&1 || true
wineserver -w
# Keep one server for the whole run: every test program then starts in a fraction of a second.
wineserver -p600 </dev/null >/dev/null 2>&1
# Start the prefix's background services now, detached from any test's output: services started
# by the first test program would inherit its pipes and keep CTest waiting for their end.
"$loader" wineboot </dev/null >/dev/null 2>&1 || true
echo "wine prefix ready: $prefix"
