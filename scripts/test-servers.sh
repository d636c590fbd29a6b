#!/usr/bin/env bash
# Starts and stops the HTTP servers of the download tests: nginx for the well-behaved cases and
# the project's fault server (tests/support/fault_server.py) for broken answers. Both listen on
# loopback ports picked here, serve the files of <state>/www and end by themselves after the
# lifetime (seconds, default 1800) even if nobody stops them.
#
#   test-servers.sh start <state folder> [lifetime]   writes <state>/servers.txt
#   test-servers.sh stop <state folder>
#
# servers.txt holds key=value lines: nginx_port, fault_port, docroot, requests_log.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
command="${1:?start or stop}"
state="${2:?state folder}"
lifetime="${3:-1800}"

# Signals only the processes this script started, by the ids it recorded.
stop_servers() {
  local file
  # The watchdog leads a process group of its own (its shell and its sleep).
  if [ -s "$state/nginx/watchdog.pid" ]; then
    kill -- "-$(cat "$state/nginx/watchdog.pid")" 2>/dev/null || true
    rm -f "$state/nginx/watchdog.pid"
  fi
  for file in "$state/fault.pid" "$state/nginx/nginx.pid"; do
    if [ -s "$file" ]; then
      kill "$(cat "$file")" 2>/dev/null || true
      rm -f "$file"
    fi
  done
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

write_files() {
  python3 - "$1" <<'EOF'
import os, random, sys
root = sys.argv[1]
# Fixed pseudo-random bytes: a misplaced piece never matches by chance.
# data1000-v2.bin is another version of data1000.bin: same length, other bytes.
for name, size, seed in (("empty.bin", 0, 0), ("data1000.bin", 1000, 1000), ("data1000-v2.bin", 1000, 2),
                         ("data3m.bin", 3 * 1024 * 1024 + 123, 3 * 1024 * 1024 + 123),
                         ("data10m.bin", 10 * 1024 * 1024 - 1000, 10)):
    with open(os.path.join(root, name), "wb") as out:
        out.write(random.Random(seed).randbytes(size))
# data10m-bad.bin is data10m.bin with one byte of its fifth 1 MiB block changed: served in its
# place, that block fails verification.
bad = bytearray(random.Random(10).randbytes(10 * 1024 * 1024 - 1000))
bad[4 * 1024 * 1024 + 77] ^= 0x5A
with open(os.path.join(root, "data10m-bad.bin"), "wb") as out:
    out.write(bad)
# Past 4 GiB: zeros (a sparse file) and then two blocks of data.
with open(os.path.join(root, "huge.bin"), "wb") as out:
    out.truncate(4 << 30)
    out.seek(4 << 30)
    out.write(random.Random(4).randbytes(2 << 20))
EOF
  # The verified downloads' metadata, made as a publisher makes it.
  local name
  for name in empty.bin data10m.bin huge.bin; do
    python3 "$here/scripts/halvern-meta.py" make "$1/$name"
  done
}

start_nginx() {
  local conf="$state/nginx/nginx.conf" port attempt
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    cat >"$conf" <<EOF
worker_processes 1;
pid $state/nginx/nginx.pid;
error_log $state/nginx/error.log;
events { worker_connections 256; }
http {
  access_log $state/nginx/access.log;
  client_body_temp_path $state/nginx/body;
  proxy_temp_path $state/nginx/proxy;
  fastcgi_temp_path $state/nginx/fastcgi;
  uwsgi_temp_path $state/nginx/uwsgi;
  scgi_temp_path $state/nginx/scgi;
  default_type application/octet-stream;
  sendfile on;
  server {
    listen 127.0.0.1:$port;
    root $state/www;
  }
}
EOF
    if nginx -p "$state/nginx" -c "$conf" -e "$state/nginx/error.log" </dev/null >/dev/null 2>>"$state/nginx/error.log"; then
      nginx_port=$port
      # nginx has no lifetime of its own: a detached watchdog ends it.
      setsid bash -c "sleep $lifetime; kill \$(cat '$state/nginx/nginx.pid') 2>/dev/null" \
        </dev/null >/dev/null 2>&1 &
      echo $! >"$state/nginx/watchdog.pid"
      return 0
    fi
  done
  echo "test-servers: nginx did not start, see $state/nginx/error.log" >&2
  return 1
}

start_fault_server() {
  setsid python3 "$here/tests/support/fault_server.py" --docroot "$state/www" \
    --log "$state/requests.log" --port-file "$state/fault.port" --lifetime "$lifetime" \
    </dev/null >>"$state/fault.log" 2>&1 &
  echo $! >"$state/fault.pid"
  local i
  for i in $(seq 100); do
    [ -s "$state/fault.port" ] && { fault_port=$(cat "$state/fault.port"); return 0; }
    sleep 0.1
  done
  echo "test-servers: the fault server did not start, see $state/fault.log" >&2
  return 1
}

case "$command" in
  start)
    [ -d "$state" ] && stop_servers
    rm -rf "$state"
    mkdir -p "$state/www" "$state/nginx"
    : >"$state/requests.log"
    write_files "$state/www"
    start_nginx
    start_fault_server
    cat >"$state/servers.txt" <<EOF
nginx_port=$nginx_port
fault_port=$fault_port
docroot=$state/www
requests_log=$state/requests.log
EOF
    echo "test servers: nginx on $nginx_port, fault server on $fault_port"
    ;;
  stop)
    stop_servers
    ;;
  *)
    echo "usage: $0 start|stop <state folder> [lifetime]" >&2
    exit 2
    ;;
esac
