#!/usr/bin/env bash
# The main command: installs what is missing, builds the stub and runs it under Wine in a private
# prefix, then shows where its log went and how the run ended.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"

bash scripts/setup.sh
bash scripts/build.sh i686
arch=$(bash scripts/test-arch.sh)
[ "$arch" = i686 ] || bash scripts/build.sh "$arch"

build="${HALVERN_BUILD_ROOT:-$here/build}/$arch"
prefix="$build/run-prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -d "$prefix" ] || bash scripts/wine-prefix.sh "$prefix" >/dev/null

echo "run: $build/bin/HalvernSetup.exe run=1 ($arch build)"
set +e
xvfb-run -a scripts/wine-run "$build/bin/HalvernSetup.exe" run=1
code=$?
set -e
echo "run: exit code $code"

temp="$prefix/drive_c/users/$(id -un)/AppData/Local/Temp"
[ -d "$temp" ] || temp="$prefix/drive_c/users/$(id -un)/Temp"
log=$(ls -t "$temp"/HLVN_log/installer_log_*.txt 2>/dev/null | head -n 1 || true)
if [ -n "$log" ]; then
  echo "run: log copy at $log"
  tail -n 20 "$log"
fi
status=$(WINEPREFIX="$prefix" scripts/wine-run reg query 'HKCU\SOFTWARE\Velmora\stubframework\HLVN\77' /v status 2>/dev/null | tr -d '\r' | awk '/status/ {print $3}')
echo "run: final install status ${status:-unknown}"
wineserver -k 2>/dev/null || true
