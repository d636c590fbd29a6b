#!/usr/bin/env bash
# Download throughput of the engine next to curl's, in the same run: a 256 MiB file from nginx on
# loopback, written to disk. The engine runs as the Windows program download_bench under Wine
# (its own timer, from Start to the completion); curl reports its own total time.
#
#   bench/download-throughput.sh [build folder]     (default: the build the tests run)
#   RUNS=5 bench/download-throughput.sh             (runs per side, default 3; the best counts)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
arch="$(bash "$here/scripts/test-arch.sh")"
build="${1:-${HALVERN_BUILD_ROOT:-$here/build}/$arch}"
runs="${RUNS:-3}"
size=$((256 * 1024 * 1024))

cmake --build "$build" --target download_bench >/dev/null
exe="$build/bin/download_bench.exe"

work="$(mktemp -d /tmp/halvern-bench.XXXXXX)"
chmod 755 "$work"  # nginx's workers run as another user when nginx starts as root
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  bash "$here/scripts/test-servers.sh" stop "$work/servers" || true
  [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

bash "$here/scripts/test-servers.sh" start "$work/servers" 900 >/dev/null
head -c "$size" /dev/urandom >"$work/servers/www/big.bin"
url="http://127.0.0.1:$(sed -n 's/^nginx_port=//p' "$work/servers/servers.txt")/big.bin"
bash "$here/scripts/wine-prefix.sh" "$WINEPREFIX" >/dev/null

best() { sort -g | head -n 1; }
mbps() { awk -v b="$size" -v s="$1" 'BEGIN { printf "%.0f", b / s / 1e6 }'; }

curl_times=()
engine_times=()
for run in $(seq "$runs"); do
  curl_times+=("$(curl -s -o "$work/curl.bin" -w '%{time_total}' "$url")")
  # The Windows program ends its line with CR LF.
  read -r bytes seconds result < <("$here/scripts/wine-run" "$exe" "$url" "Z:${work//\//\\}\\engine.bin" "$size" | tr -d '\r')
  if [ "$result" != 0x00000000 ] || [ "$bytes" != "$size" ]; then
    echo "engine download failed: $bytes bytes, result $result" >&2
    exit 1
  fi
  engine_times+=("$seconds")
done
cmp -s "$work/engine.bin" "$work/servers/www/big.bin" || { echo "engine download differs from the file" >&2; exit 1; }
cmp -s "$work/curl.bin" "$work/servers/www/big.bin" || { echo "curl download differs from the file" >&2; exit 1; }

curl_best="$(printf '%s\n' "${curl_times[@]}" | best)"
engine_best="$(printf '%s\n' "${engine_times[@]}" | best)"
echo "256 MiB from nginx on loopback, best of $runs runs ($arch build under Wine)"
printf '  curl    %6.3f s  %5s MB/s   (runs: %s)\n' "$curl_best" "$(mbps "$curl_best")" "${curl_times[*]}"
printf '  engine  %6.3f s  %5s MB/s   (runs: %s)\n' "$engine_best" "$(mbps "$engine_best")" "${engine_times[*]}"
awk -v c="$curl_best" -v e="$engine_best" 'BEGIN { printf "  engine/curl throughput ratio: %.2f\n", c / e }'
