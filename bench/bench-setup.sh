# Sourced by the download benchmarks: builds the benchmark program named in $bench_target, makes
# a work folder with the test servers running and a Wine prefix, and removes it all on exit.
# Sets here, arch, build, runs, size, exe, work and url (nginx's URL of the 256 MiB big.bin in
# $work/servers/www).
here="$(cd "$(dirname "$0")/.." && pwd)"
arch="$(bash "$here/scripts/test-arch.sh")"
build="${1:-${HALVERN_BUILD_ROOT:-$here/build}/$arch}"
runs="${RUNS:-3}"
size=$((256 * 1024 * 1024))

cmake --build "$build" --target "$bench_target" >/dev/null
exe="$build/bin/$bench_target.exe"

work="$(mktemp -d /tmp/halvern-bench.XXXXXX)"
chmod 755 "$work"  # nginx's workers run as another user when nginx starts as root
export WINEPREFIX="$work/wineprefix"
source "$here/scripts/wine-env.sh"
cleanup() {
  bash "$here/scripts/test-servers.sh" stop "$work/servers" || true
  wine_stop
  rm -rf "$work"
}
trap cleanup EXIT

bash "$here/scripts/test-servers.sh" start "$work/servers" 900 >/dev/null
head -c "$size" /dev/urandom >"$work/servers/www/big.bin"
url="http://127.0.0.1:$(sed -n 's/^nginx_port=//p' "$work/servers/servers.txt")/big.bin"
bash "$here/scripts/wine-prefix.sh" "$WINEPREFIX" >/dev/null
