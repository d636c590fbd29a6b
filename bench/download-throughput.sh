#!/usr/bin/env bash
# Download throughput of the engine next to curl's, in the same run: a 256 MiB file from nginx on
# loopback, written to disk. The engine runs as the Windows program download_bench under Wine
# (its own timer, from Start to the completion); curl reports its own total time.
#
#   bench/download-throughput.sh [build folder]     (default: the build the tests run)
#   RUNS=5 bench/download-throughput.sh             (runs per side, default 3; the best counts)
set -euo pipefail
bench_target=download_bench
source "$(dirname "$0")/bench-setup.sh"

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
