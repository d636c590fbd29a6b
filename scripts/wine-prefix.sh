#!/usr/bin/env bash
# Creates a fresh private Wine prefix for one test run, set to Windows 10.
set -euo pipefail
prefix="$1"
export WINEPREFIX="$prefix"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine-env.sh"
wineserver -k 2>/dev/null || true
rm -rf "$prefix"
mkdir -p "$prefix"
wine_tool wineboot -i >/dev/null 2>&1 || true
wine_tool winecfg -v win10 >/dev/null 2>&1 || true
wineserver -w
# Keep one server for the whole run: every test program then starts in a fraction of a second.
wineserver -p600 </dev/null >/dev/null 2>&1
# Start the prefix's background services now, detached from any test's output: services started
# by the first test program would inherit its pipes and keep CTest waiting for their end.
wine_tool wineboot </dev/null >/dev/null 2>&1 || true
echo "wine prefix ready: $prefix"
