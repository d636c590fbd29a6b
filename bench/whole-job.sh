#!/usr/bin/env bash
# The whole job on one machine in one run, each measure next to its yardstick, then one table with
# the machine:
#   1. The stub's start: from the process's creation to the page's first script call, the UI
#      package's extraction included (bench/StartBench.cpp, which starts as the stub does), next to
#      Wine's own start, measured by a null program (bench/NullProgram.cpp) in the same series:
#      median and best of RUNS, each program started from the shell with the Wine server already
#      up (one warm-up run of each not counted). Then the same start with a web service that
#      refuses at once and with one that accepts and never answers (the reports reach it through
#      the user's proxy setting): the first call and the run, closed at once, to its exit.
#   2. The verified download: bench/verified-download.sh, run from here.
#   3. The main job as scripts/run.sh runs it (the sample product, a prefix set up as the sample
#      machine, the page bridge, the wizard driver), its wall time split into download,
#      verification, install and the pages' size probe by the installer log's time stamps, and
#      the transfer next to curl's of the same file from the same nginx.
# The sample server sends unthrottled (HALVERN_SAMPLE_RATE=0: nginx's limit_rate 0 is no limit)
# a package of DATA_MIB MiB of data, on the ports the build's pages and web service client were
# configured for (scripts/build.sh; 28080 and 28443 by default): with the main command running,
# the service's port is taken and this stops with a message.
#
#   bench/whole-job.sh [build folder]     (default: the build the tests run)
#   RUNS=20 bench/whole-job.sh            (start runs of each kind, default 10)
#   SILENT_RUNS=5 bench/whole-job.sh      (starts with the silent service, default 3: ~10 s each)
#   DATA_MIB=24 bench/whole-job.sh        (the sample product's data, default 256 MiB)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
arch="$(bash "$here/scripts/test-arch.sh")"
build="${1:-${HALVERN_BUILD_ROOT:-$here/build}/$arch}"
runs="${RUNS:-10}"
silent_runs="${SILENT_RUNS:-3}"
data_mib="${DATA_MIB:-256}"
source "$here/scripts/wine-env.sh"

say() { echo "whole-job: $*" >&2; }
fail() {
  echo "whole-job: $*" >&2
  exit 1
}

[ -f "$build/CMakeCache.txt" ] || fail "$build is not configured: build it with scripts/build.sh $arch"
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
[ "$(cache HALVERN_PROFILE)" = local ] || fail "$build is no build of the local profile: build it with scripts/build.sh"
sample_port=$(cache HALVERN_SAMPLE_PORT)
service_port=$(cache HALVERN_SERVICE_PORT)

say "building the programs"
cmake --build "$build" --target start_bench null_program page_bridge halvern halvern_mui trust_ca >/dev/null
bin="$build/bin"
if [ "$arch" = x86_64 ]; then
  export WINELOADER=/usr/lib/wine/wine64
  loader=/usr/lib/wine/wine64
else
  loader=wine
fi

work="$(mktemp -d /tmp/halvern-whole-job.XXXXXX)"
chmod 755 "$work"  # nginx's workers run as another user when nginx starts as root
xvfb=""
silent=""
cleanup() {
  set +e
  [ -f "$work/sample/sample.txt" ] && bash "$here/scripts/sample-product.sh" stop "$work/sample" >/dev/null 2>&1
  for prefix in "$work/start-prefix" "$work/job-prefix"; do wine_stop "$prefix"; done
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  [ -n "$silent" ] && kill "$silent" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The machine.
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
memory=$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
wine_version=$("$loader" --version 2>/dev/null)
load=$(cut -d' ' -f1-3 /proc/loadavg)
machine="$(nproc) CPUs ($cpu), $memory, Linux $(uname -r), $wine_version, $arch build, load average $load at the start"

say "the verified download (bench/verified-download.sh)"
bash "$here/bench/verified-download.sh" "$build" >"$work/verified.txt"

say "publishing the sample product: $data_mib MiB unthrottled on 127.0.0.1:$sample_port, installer service on $service_port"
HALVERN_SAMPLE_PORT=$sample_port HALVERN_SERVICE_PORT=$service_port HALVERN_SAMPLE_RATE=0 \
  HALVERN_SAMPLE_DATA_MIB=$data_mib bash "$here/scripts/sample-product.sh" start "$build" "$work/sample" >/dev/null ||
  fail "the sample product could not be published (the main command may be using the ports: wait for it and retry)"

# Two machines like the main command's: copies of the prefix it makes once, set up as the sample
# machine. The start series leaves its runs' traces in its own, so the job starts afresh.
template="$build/run-prefix-template"
[ -f "$template/.ready" ] || say "making the Wine prefix (once per build)"
wine_template "$template"
for prefix in "$work/start-prefix" "$work/job-prefix"; do
  cp -a "$template" "$prefix"
  bash "$here/scripts/sample-machine.sh" "$prefix" "$work/sample" >/dev/null
  # The set-up's Wine server has no display; the windows need one that has.
  wine_stop "$prefix"
done

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"

# --- The start ------------------------------------------------------------------------------
say "the start: $runs runs each of the null program, the user-interface process and the launcher"
export WINEPREFIX="$work/start-prefix"
times="$work/times.txt"
export HALVERN_START_TIMES="Z:${times//\//\\}"
wineserver -p
# start_run KIND PROGRAM [ARGUMENTS...]: one start from the shell; appends "KIND <launch> <exit>
# <the program's lines>" to starts.txt, launch and exit in FILETIME ticks like the program's times.
start_run() {
  local kind="$1" launch ended
  shift
  : >"$times"
  launch=$(date +%s%N)
  "$loader" "$@" || fail "$kind run of $1 ended with $?"
  ended=$(date +%s%N)
  case "$1" in
    *null_program.exe) grep -q '^null ' "$times" ;;
    *) grep -q '^ui ' "$times" && { [ $# -gt 1 ] || grep -q '^launcher ' "$times"; } ;;
  esac || fail "$kind run of $1 recorded no times"
  echo "$kind $((launch / 100 + 116444736000000000)) $((ended / 100 + 116444736000000000)) $(tr '\n' ' ' <"$times")" \
    >>"$work/starts.txt"
}
# user_proxy HOST:PORT: the proxy of the user's settings, as the system's dialog stores it; the
# web service client's reports take it.
user_proxy() {
  local blob
  blob=$(python3 -c 'import struct, sys
proxy = sys.argv[1].encode()
print((struct.pack("<IIII", 0x46, 1, 2, len(proxy)) + proxy + struct.pack("<II", 0, 0) + bytes(32)).hex())' "$1")
  "$loader" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections' \
    /v DefaultConnectionSettings /t REG_BINARY /d "$blob" /f >/dev/null 2>&1 || fail "the proxy setting was refused"
}
start_run warm-up "$bin/null_program.exe"
start_run warm-up "$bin/start_bench.exe" run=1
for _ in $(seq "$runs"); do
  start_run null "$bin/null_program.exe"
  start_run ui "$bin/start_bench.exe" run=1
  start_run launcher "$bin/start_bench.exe"
done
# A listener that accepts every connection and never answers, and a port that refuses.
python3 -c 'import socket, sys, time
listener = socket.create_server(("127.0.0.1", 0), backlog=64)
open(sys.argv[1], "w").write(str(listener.getsockname()[1]))
held = []
while True:
    held.append(listener.accept()[0])' "$work/silent-port" &
silent=$!
for _ in $(seq 50); do [ -s "$work/silent-port" ] && break; sleep 0.1; done
[ -s "$work/silent-port" ] || fail "the silent listener did not start"
user_proxy 127.0.0.1:1
for _ in $(seq "$runs"); do start_run ui-refused "$bin/start_bench.exe" run=1; done
user_proxy "127.0.0.1:$(cat "$work/silent-port")"
for _ in $(seq "$silent_runs"); do start_run ui-silent "$bin/start_bench.exe" run=1; done
"$loader" reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections' \
  /v DefaultConnectionSettings /f >/dev/null 2>&1 || true
kill "$silent" 2>/dev/null
silent=""
wineserver -k

# --- The main job ---------------------------------------------------------------------------
say "the main job: the page bridge and the wizard driver"
export WINEPREFIX="$work/job-prefix"
url_file="$work/bridge-url.txt"
job_start=$(date +%s%N)
HALVERN_BRIDGE_URL_FILE="Z:${url_file//\//\\}" "$here/scripts/wine-run" "$bin/page_bridge.exe" \
  --bridge-answer-boxes >"$work/bridge.log" 2>&1 &
bridge=$!
for _ in $(seq 1 120); do [ -s "$url_file" ] && break; kill -0 "$bridge" 2>/dev/null || break; sleep 0.5; done
[ -s "$url_file" ] || fail "the bridge did not start: $(cat "$work/bridge.log")"
if ! node "$here/scripts/wizard-driver.js" --url "$(tr -d '\r\n' <"$url_file")" >"$work/driver.txt" 2>&1; then
  cat "$work/driver.txt" >&2
  fail "the wizard driver failed"
fi
wait "$bridge" || fail "the bridge ended with $?: $(cat "$work/bridge.log")"
job_end=$(date +%s%N)
log=$(ls -t "$WINEPREFIX"/drive_c/users/*/Temp/HLVN_log/installer_log_*.txt 2>/dev/null | head -n 1 || true)
[ -n "$log" ] || fail "no installer log in $WINEPREFIX"
url=$(tr -d '\r' <"$log" | sed -n 's/.*HttpToFileTask::Start> Start download \([^ ]*\) (.*/\1/p' | tail -n 1)
[ -n "$url" ] || fail "no download in $log"
msi="$work/sample/package/Halvern.msi"
# The package's first request is the pages' size probe; nginx's log gives the body bytes it sent
# (the 10th field).
probe_bytes=$(awk '$7 ~ /\.msi$/ { print $10; exit }' "$work/sample/nginx/access.log")
[ -n "$probe_bytes" ] || fail "nginx served no package"
curl_best=""
for _ in 1 2 3; do
  seconds=$(curl -s -o "$work/curl.msi" -w '%{time_total}' "$url")
  cmp -s "$work/curl.msi" "$msi" || fail "curl's copy of $url differs from the package"
  curl_best=$(printf '%s\n' $curl_best "$seconds" | sort -g | head -n 1)
done
start=$(date +%s%N)
sha1sum "$msi" >/dev/null
sha1sum_seconds=$(awk -v a="$start" -v b="$(date +%s%N)" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')

# --- The table -------------------------------------------------------------------------------
echo "Halvern whole job, one run: $machine"
python3 - "$work/starts.txt" "$bin/start_bench.exe" <<'EOF'
import io, statistics, struct, sys, zipfile

starts, exe = sys.argv[1], sys.argv[2]
# The UI package: the ZIP archive at the end of the image, its offsets counted from its own start.
data = open(exe, "rb").read()
end = data.rfind(b"PK\x05\x06")
directory_size, directory_offset, comment = struct.unpack("<IIH", data[end + 12:end + 22])
first = end - directory_offset - directory_size
length = end + 22 + comment - first
entries = zipfile.ZipFile(io.BytesIO(data[first:])).infolist()

rows = {"null": [], "ui": [], "launcher": [], "ui-refused": [], "ui-silent": []}
ended = {kind: [] for kind in rows}
for line in open(starts):
    kind, launch, end, *lines = line.split()
    fields, record = {}, None
    for word in lines:
        if word in ("null", "ui", "launcher"):
            record = fields.setdefault(word, [])
        else:
            record.append(int(word))
    if kind in rows:
        rows[kind].append((int(launch), fields))
        ended[kind].append((int(end) - int(launch)) / 1e4)

ms = lambda a, b: (b - a) / 1e4  # FILETIME ticks are 100 ns
null_launch = [ms(l, f["null"][1]) for l, f in rows["null"]]
null_created = [ms(f["null"][0], f["null"][1]) for l, f in rows["null"]]
ui_launch = [ms(l, f["ui"][4]) for l, f in rows["ui"]]
ui_created = [ms(f["ui"][0], f["ui"][4]) for l, f in rows["ui"]]
stages = list(zip(*[[ms(a, b) for a, b in zip(f["ui"], f["ui"][1:])] for l, f in rows["ui"]]))
user_launch = [ms(l, f["ui"][4]) for l, f in rows["launcher"]]
user_created = [ms(f["launcher"][0], f["ui"][4]) for l, f in rows["launcher"]]
copy_start = [ms(f["launcher"][0], f["ui"][0]) for l, f in rows["launcher"]]

med, best = statistics.median, min
pair = lambda values: f"{med(values):7.1f} / {best(values):6.1f}"
own = med(ui_launch) - med(null_launch)
print(f"\n1. Start to the page's first script call, {len(ui_launch)} runs of each, ms (median / best)")
print(f"   UI package {length:,} bytes zipped, {len(entries)} files, {sum(e.file_size for e in entries):,} bytes"
      f" extracted; image {first:,} bytes")
print("                                                  from launch       from creation")
print(f"   null program: Wine's own start              {pair(null_launch)}    {pair(null_created)}")
print(f"   stub's user-interface process (run=1)       {pair(ui_launch)}    {pair(ui_created)}")
print(f"     less Wine's own start (medians)           {own:7.1f}            {med(ui_created) - med(null_created):7.1f}"
      f"      goal < 300 ms: {'met' if own < 300 else 'NOT met'}")
print("     stages (median): to the entry point {:.1f}, core and package {:.1f}, start report and window {:.1f},"
      " the call {:.2f}".format(*(med(s) for s in stages)))
print(f"   as a user starts it (launcher, copy, run=1) {pair(user_launch)}    {pair(user_created)}")
print(f"     of which the launcher to its copy's creation {med(copy_start):.1f}")
print("   the same start (run=1), its reports through the user's proxy      first call from creation, run launch to exit")
for kind, what in (("ui", "service running"), ("ui-refused", "service refuses"),
                   ("ui-silent", "service accepts, never answers")):
    created = [ms(f["ui"][0], f["ui"][4]) for l, f in rows[kind]]
    print(f"     {what:<32} {len(created):2} runs   {pair(created)}        {pair(ended[kind])}")
EOF

echo
echo "2. Verified download (bench/verified-download.sh)"
sed 's/^/   /' "$work/verified.txt"

python3 - "$log" "$job_start" "$job_end" "$curl_best" "$sha1sum_seconds" "$(stat -c %s "$msi")" "$data_mib" \
  "$probe_bytes" <<'EOF'
import datetime, re, sys

log, job_start, job_end = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
curl, sha1sum, size, data_mib = float(sys.argv[4]), float(sys.argv[5]), int(sys.argv[6]), sys.argv[7]
probe_bytes = int(sys.argv[8])
# "[20261210 05:04:59 287 TRACE] text": the milliseconds are padded with blanks.
stamp = re.compile(r"^\[(\d{8} \d\d:\d\d:\d\d) +(\d+) \w+\] (.*)")
lines = []
for raw in open(log, encoding="utf-8", errors="replace"):
    match = stamp.match(raw.rstrip("\r\n"))
    if match:
        moment = datetime.datetime.strptime(match[1], "%Y%m%d %H:%M:%S")
        lines.append((moment + datetime.timedelta(milliseconds=int(match[2])), match[3]))


def at(what, after=None, test=None):
    """The time of the first line from `after` on that starts with what (and passes test)."""
    for moment, text in lines:
        if (after is None or moment >= after) and text.startswith(what) and (test is None or test(text)):
            return moment
    sys.exit(f"whole-job: no line \"{what}...\" in {log}")


seconds = lambda a, b: (b - a).total_seconds()
# The page's size probe (initDownloadSize) ends where the next script call starts.
probe = at("EMInitDownloadSize")
probed = next(moment for moment, text in lines[[text for _, text in lines].index("EMInitDownloadSize") + 1:]
              if text.startswith("EM"))
download = at("EMDownload")
transfer = at("HttpToFileTask::Start>", download)
transferred = at("HttpToFileTask::OnComplete>", transfer)
hashing = at("DownloadSimpleTask::StartHash>", transferred)
verified = at("DownloadSimpleTask::OnHashComplete> Hash success", hashing)
downloaded = at("Download ", verified, lambda text: " finished to " in text)
install = at("EMInstall", downloaded)
called = at("EMInstall -- Finish", install)
msi = at("InstallMsi ", install)
installed = at("InstallMsi ", msi, lambda text: ", return " in text)
# The log's times are Wine's local time, the same clock as the shell's in local time.
launched = datetime.datetime.fromtimestamp(job_start / 1e9)
ended = datetime.datetime.fromtimestamp(job_end / 1e9)

worker, moved, checked = seconds(download, downloaded), seconds(transfer, transferred), seconds(hashing, verified)
print(f"\n3. Main job: page bridge and wizard driver, sample product {size:,} bytes"
      f" ({data_mib} MiB of data) from nginx unthrottled (HALVERN_SAMPLE_RATE=0)")
print(f"   whole run, launch to exit                   {seconds(launched, ended):7.3f} s")
print(f"     launch to the first log line              {seconds(launched, lines[0][0]):7.3f} s   (launcher, copy, core)")
print(f"     pages up to the download call             {seconds(lines[0][0], download):7.3f} s")
print(f"       of which the size probe (initDownloadSize) {seconds(probe, probed):.3f} s;"
      f" nginx sent {probe_bytes:,} bytes for it")
print(f"     download worker (call to its end)         {worker:7.3f} s   {worker / curl:.2f} x curl")
print(f"       transfer                                {moved:7.3f} s   {moved / curl:.2f} x curl")
print(f"       verification                            {checked:7.3f} s   {checked / sha1sum:.2f} x sha1sum")
print(f"       the rest (.meta, local check, end)      {worker - moved - checked:7.3f} s")
print(f"     page, up to the install call              {seconds(downloaded, install):7.3f} s")
print(f"     install (call to Windows Installer's end) {seconds(install, installed):7.3f} s")
print(f"       the call (it hides the window)          {seconds(install, called):7.3f} s")
print(f"       Windows Installer                       {seconds(msi, installed):7.3f} s")
print(f"     Finish page, end of the run, exit         {seconds(installed, ended):7.3f} s")
print(f"   curl, same URL and nginx (best of 3)        {curl:7.3f} s")
print(f"   sha1sum of the package                      {sha1sum:7.3f} s")
EOF
