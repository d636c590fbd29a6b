#!/usr/bin/env bash
# The resumable verified download next to its peers, in one run under one Wine prefix: a 256 MiB
# file from nginx on loopback, its ".meta" made by scripts/halvern-meta.py. Each side is timed as
# a whole process, start to exit:
#   curl                      the plain transfer
#   sha1sum                   one hash pass over the file
#   engine from scratch       no local file: transfer, then verification (limit: curl + sha1sum)
#   engine verification only  a complete valid local file (limit: sha1sum)
#   engine resume from 90 %   the last 10 % of the local file lost (bytes on the wire from nginx's log)
# and the peak working set of the engine's process during the download from scratch.
#
#   bench/verified-download.sh [build folder]     (default: the build the tests run)
#   RUNS=5 bench/verified-download.sh             (runs per case, default 3; the best counts)
set -euo pipefail
bench_target=verified_download_bench
source "$(dirname "$0")/bench-setup.sh"
www="$work/servers/www"
python3 "$here/scripts/halvern-meta.py" make "$www/big.bin"
access_log="$work/servers/nginx/access.log"
local_file="$work/local.bin"
windows_local="Z:${local_file//\//\\}"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
best() { sort -g | head -n 1; }

# engine_run: runs the engine once on local.bin; sets seconds, peak and wire (bytes nginx sent
# for big.bin during the run).
engine_run() {
  local before start end result bytes
  before=$(wc -l <"$access_log")
  start=$(now)
  read -r result bytes peak < <("$here/scripts/wine-run" "$exe" "$url" "$url.meta" "$windows_local" | tr -d '\r')
  end=$(now)
  seconds=$(elapsed "$start" "$end")
  if [ "$result" != 0x00000000 ] || [ "$bytes" != "$size" ]; then
    echo "engine download failed: result $result, $bytes bytes" >&2
    exit 1
  fi
  cmp -s "$local_file" "$www/big.bin" || { echo "engine result differs from the file" >&2; exit 1; }
  # nginx's default log format: the body bytes sent are the 10th field.
  wire=$(tail -n +"$((before + 1))" "$access_log" | awk '$7 ~ /big\.bin$/ { sum += $10 } END { print sum + 0 }')
}

declare -a curl_t sha_t scratch_t verify_t resume_t
peak_max=0 resume_wire=0
for run in $(seq "$runs"); do
  start=$(now); curl -s -o "$work/curl.bin" "$url"; curl_t+=("$(elapsed "$start" "$(now)")")
  start=$(now); sha1sum "$work/curl.bin" >/dev/null; sha_t+=("$(elapsed "$start" "$(now)")")

  rm -f "$local_file"
  engine_run; scratch_t+=("$seconds"); [ "$peak" -gt "$peak_max" ] && peak_max=$peak
  engine_run; verify_t+=("$seconds")
  # A drop at 90 %: the file keeps its length, the last 10 % never arrived.
  keep=$((size * 9 / 10))
  dd if=/dev/zero of="$local_file" bs=1M seek=$((keep / 1048576)) count=$(((size - keep) / 1048576 + 1)) conv=notrunc status=none
  truncate -s "$size" "$local_file"
  engine_run; resume_t+=("$seconds"); resume_wire=$wire
done

curl_b=$(printf '%s\n' "${curl_t[@]}" | best)
sha_b=$(printf '%s\n' "${sha_t[@]}" | best)
scratch_b=$(printf '%s\n' "${scratch_t[@]}" | best)
verify_b=$(printf '%s\n' "${verify_t[@]}" | best)
resume_b=$(printf '%s\n' "${resume_t[@]}" | best)
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
limit=$(awk -v a="$curl_b" -v b="$sha_b" 'BEGIN { printf "%.3f", a + b }')
echo "256 MiB from nginx on loopback, best of $runs runs, whole processes ($arch build under Wine)"
printf '  curl                      %7.3f s\n' "$curl_b"
printf '  sha1sum                   %7.3f s\n' "$sha_b"
printf '  engine from scratch       %7.3f s   %s x (curl + sha1sum = %s s)\n' "$scratch_b" "$(ratio "$scratch_b" "$limit")" "$limit"
printf '  engine verification only  %7.3f s   %s x sha1sum\n' "$verify_b" "$(ratio "$verify_b" "$sha_b")"
printf '  engine resume from 90 %%   %7.3f s   %s x curl; %s bytes on the wire (%s %% of the file)\n' \
  "$resume_b" "$(ratio "$resume_b" "$curl_b")" "$resume_wire" "$(awk -v w="$resume_wire" -v s="$size" 'BEGIN { printf "%.1f", 100 * w / s }')"
printf '  peak working set (from scratch)  %.1f MiB\n' "$(awk -v p="$peak_max" 'BEGIN { print p / 1048576 }')"
# The digest service: SHA-1 of the 256 MiB in 1 MiB blocks, inside one process.
read -r cng cryptoapi < <("$here/scripts/wine-run" "$exe" --hash "$windows_local" | tr -d '\r')
mbs() { awk -v s="$1" -v b="$size" 'BEGIN { printf "%.0f", b / s / 1e6 }'; }
printf '  SHA-1 per block: engine (CNG) %s MB/s, CryptoAPI with a context per block %s MB/s\n' "$(mbs "$cng")" "$(mbs "$cryptoapi")"
