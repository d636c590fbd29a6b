#!/usr/bin/env bash
# The main command: installs what is missing, builds the stub, publishes the sample Halvern
# product on loopback, and runs the stub under Wine as a user starts it (the launcher, then the
# user-interface process) with the page bridge in place of the HTML engine, while headless
# Chromium clicks through the wizard. Ends with what happened: the product in the prefix, the
# exit code and status, the reports the local web service received, and where the logs and the
# screenshots are. Exits with the driver's verdict.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"

bash scripts/setup.sh
# The shipped stub is the 32-bit build; this machine's Wine may run only the 64-bit one, and then
# the two builds go side by side (never two builds in one tree).
arch=$(bash scripts/test-arch.sh)
parts=(HalvernSetup page_bridge halvern halvern_mui trust_ca)
if [ "$arch" = i686 ]; then
  bash scripts/build.sh i686 "${parts[@]}"
else
  shipped_log=$(mktemp)
  bash scripts/build.sh i686 HalvernSetup >"$shipped_log" 2>&1 &
  shipped=$!
  bash scripts/build.sh "$arch" "${parts[@]}"
  wait "$shipped" || { cat "$shipped_log" >&2; exit 1; }
  rm -f "$shipped_log"
fi

build="${HALVERN_BUILD_ROOT:-$here/build}/$arch"
out="$build/run"
prefix="$out/prefix"
template="$build/run-prefix-template"
shots="$out/screenshots"
source scripts/wine-env.sh

echo "run: publishing the sample product"
bash scripts/sample-product.sh start "$build" "$out/sample" >/dev/null
trap 'bash scripts/sample-product.sh stop "$out/sample" >/dev/null 2>&1 || true; wine_stop "$prefix"' EXIT
value() { sed -n "s/^$1=//p" "$out/sample/sample.txt" | head -n 1; }

# Each run starts on the same fresh machine: a copy of a prefix made once, then set up as a
# machine meeting the wizard's requirements (the service's authority is new with every start).
wine_stop "$prefix"
[ -f "$template/.ready" ] || echo "run: making the Wine prefix (once)"
wine_template "$template"
rm -rf "$prefix" "$shots"
mkdir -p "$out" "$shots"
cp -a "$template" "$prefix"
export WINEPREFIX="$prefix"
bash scripts/sample-machine.sh "$prefix" "$out/sample" >/dev/null
# The set-up's Wine server has no display; the stub's window needs one that has.
wine_stop

url_file="$out/bridge-url.txt"
rm -f "$url_file"
stub="$build/bin/page_bridge.exe"
echo "run: $stub (the $arch stub's user-interface process with the page bridge), started as a user starts it"
start=$(date +%s)
HALVERN_BRIDGE_URL_FILE="Z:${url_file//\//\\}" xvfb-run -a -s "-screen 0 1280x1024x24" \
  scripts/wine-run "$stub" --bridge-answer-boxes >"$out/bridge.log" 2>&1 &
bridge=$!
for _ in $(seq 1 120); do [ -s "$url_file" ] && break; kill -0 "$bridge" 2>/dev/null || break; sleep 0.5; done
if [ ! -s "$url_file" ]; then
  echo "run: the bridge did not start; its output:" >&2
  cat "$out/bridge.log" >&2
  exit 1
fi
url=$(tr -d '\r\n' <"$url_file")
echo "run: pages at $url"

set +e
node scripts/wizard-driver.js --url "$url" --screenshots "$shots"
driver=$?
wait "$bridge"
code=$?
set -e
end=$(date +%s)

echo
echo "== summary ($((end - start)) s) =="
# Xvfb's end is no news.
grep -v -e '^bridge: ready' -e '^X connection to' "$out/bridge.log" | sed 's/^/  /' || true
echo "stub exit code: $code"
status=$(wine_tool reg query 'HKCU\SOFTWARE\Velmora\stubframework\HLVN\77' /v status 2>/dev/null |
  tr -d '\r' | awk '/status/ {print $3}')
echo "install status: ${status:-unknown}"
product=$(value product_code)
echo "product ${product:-?}:"
for view in /reg:64 /reg:32; do
  entry=$(wine_tool reg query "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product" $view 2>/dev/null | tr -d '\r' | grep -E 'DisplayName|DisplayVersion|InstallLocation' || true)
  if [ -n "$entry" ]; then
    echo "$entry" | sed 's/^ */  /'
    location=$(echo "$entry" | awk -F'REG_SZ' '/InstallLocation/ {gsub(/^[ \t]+/, "", $2); print $2}')
    break
  fi
done
if [ -n "${location:-}" ]; then
  unix=$(wine_tool winepath -u "$location" 2>/dev/null | tr -d '\r')
  [ -n "$unix" ] && [ -d "$unix" ] && (cd "$unix" && find . -type f | sort | sed 's/^\./  files: /')
else
  echo "  not installed"
fi
echo "reports received by the installer web service:"
python3 scripts/installer-service.py report --db "$(sed -n 's/^db=//p' "$(value service_txt)")" | sed 's/^/  /' || true
temp="$prefix/drive_c/users/$(id -un)/AppData/Local/Temp"
[ -d "$temp" ] || temp="$prefix/drive_c/users/$(id -un)/Temp"
echo "installer log: $(ls -t "$temp"/HLVN_log/installer_log_*.txt 2>/dev/null | head -n 1)"
echo "MSI log:       $(ls -t "$temp"/HLVN_log/log_*.txt 2>/dev/null | head -n 1)"
echo "screenshots:   $shots ($(ls "$shots" | wc -l) pages)"
echo "served:        $(value nginx_log)"
exit "$driver"
