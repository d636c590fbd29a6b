#!/usr/bin/env bash
# Publishes the sample Halvern product (sample/) on loopback for the main command, where the
# stub's pages download it (scripts/build.sh points DOWNLOAD_URL and TYP_URL here), and runs the
# local installer web service the stub reports to. Both servers end by themselves after an hour.
#
#   sample-product.sh start BUILD_DIR OUT_DIR   (again: restarts them) writes OUT_DIR/sample.txt
#   sample-product.sh stop OUT_DIR
#
# start packs BUILD_DIR/bin/sample with wixl into OUT_DIR/package/Halvern.msi and publishes it in
# OUT_DIR/www as setup/<lang>/Halvern_<bits>.msi with its ".meta", for every language of the
# pages and every bits the package installs on (an x64 package: 64; an x86 one: 32 and 64), and a
# thank-you page. nginx serves OUT_DIR/www on 127.0.0.1:${HALVERN_SAMPLE_PORT:-28080} and logs
# each request in OUT_DIR/nginx/access.log: the combined format followed by the quoted Range
# header; it sends at ${HALVERN_SAMPLE_RATE:-8m} bytes a second per connection, and the package
# carries ${HALVERN_SAMPLE_DATA_MIB:-24} MiB of data, so that the download is seen as it goes. The
# installer service (scripts/installer-service.py) keeps its files in OUT_DIR/installer-service,
# on port ${HALVERN_SERVICE_PORT:-28443}, unless HALVERN_INSTALLER_SERVICE names the service.txt of
# one already running. sample.txt holds key=value lines describing all of it.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
port="${HALVERN_SAMPLE_PORT:-28080}"
service_port="${HALVERN_SERVICE_PORT:-28443}"
lifetime=3600
# The product's data size and the pace the server sends at.
data_mib="${HALVERN_SAMPLE_DATA_MIB:-24}"
rate="${HALVERN_SAMPLE_RATE:-8m}"

fail() {
  echo "sample-product: $*" >&2
  exit 1
}

# Signals only the processes this script started, by the ids it recorded.
stop_servers() {
  local out="$1" pid
  # The watchdog leads a process group of its own (its shell and its sleep).
  if [ -s "$out/nginx/watchdog.pid" ]; then
    kill -- "-$(cat "$out/nginx/watchdog.pid")" 2>/dev/null || true
    rm -f "$out/nginx/watchdog.pid"
  fi
  if [ -s "$out/nginx/nginx.pid" ]; then
    pid=$(cat "$out/nginx/nginx.pid")
    # After the lifetime the number may belong to another process: only our nginx master.
    if grep -qsF "$out/nginx/nginx.conf" "/proc/$pid/cmdline"; then
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -f "$out/nginx/nginx.pid"
  fi
  [ -d "$out/installer-service" ] && python3 "$here/scripts/installer-service.py" stop "$out/installer-service"
  return 0
}

port_free() {
  python3 -c 'import socket, sys
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1])))' "$1" 2>/dev/null
}

build_package() {
  local build="$1" out="$2" wixl_arch defines codes
  [ "$arch" = x86_64 ] && wixl_arch=x64 || wixl_arch=x86
  defines=(-a "$wixl_arch" -D Arch="$wixl_arch" -D Version="$version" -D ProductID="$pid" -D VID="$vid")
  # Data that does not compress, the same every time.
  local data="$build/bin/sample/halvern.dat" bytes=$((data_mib * 1048576))
  if [ "$(stat -c %s "$data" 2>/dev/null || echo 0)" != "$bytes" ]; then
    # Not a pipe: openssl ends by SIGPIPE when head has enough, which pipefail would count.
    head -c "$bytes" < <(openssl enc -aes-128-ctr -nosalt -K 0 -iv 0 -in /dev/zero 2>/dev/null) >"$data"
    [ "$(stat -c %s "$data")" = "$bytes" ] || fail "could not make $data"
  fi
  (cd "$build/bin/sample" && wixl "${defines[@]}" -o "$out/package/Halvern-unsigned.msi" "$here/sample/halvern.wxs") \
    || fail "wixl could not build the package from sample/halvern.wxs"
  # Signed by the tests' publisher, whose key the local build pins: the stub installs nothing else.
  osslsigncode sign -certs "$here/tests/support/publisher/test-publisher.pem" \
    -key "$here/tests/support/publisher/test-publisher.key" -h sha256 \
    -in "$out/package/Halvern-unsigned.msi" -out "$out/package/Halvern.msi" >/dev/null \
    || fail "osslsigncode could not sign the package"
  rm -f "$out/package/Halvern-unsigned.msi"
  # The codes as the package carries them, from the preprocessed source.
  codes=$(wixl "${defines[@]}" -E "$here/sample/halvern.wxs" | python3 -c '
import sys, xml.etree.ElementTree as tree
product = tree.parse(sys.stdin).getroot().find("{http://schemas.microsoft.com/wix/2006/wi}Product")
print(*("{%s}" % product.get(name).strip("{}").upper() for name in ("Id", "UpgradeCode")))') \
    || fail "no product and upgrade code in sample/halvern.wxs"
  read -r product_code upgrade_code <<<"$codes"
  platform=$wixl_arch
}

publish() {
  local out="$1" lang bits file
  # The languages the pages offer, from their install parameters.
  languages=$(python3 -c 'import re, sys
text = open(sys.argv[1], encoding="utf-8").read()
print(" ".join(re.findall(r"\"([^\"]+)\"", re.search(r"\bLANG\s*:\s*\[([^\]]*)\]", text).group(1))))' \
    "$here/ui-package/config/installparams.js")
  [ "$platform" = x64 ] && all_bits="64" || all_bits="32 64"
  for lang in $languages; do
    mkdir -p "$out/www/setup/$lang"
    for bits in $all_bits; do
      file="$out/www/setup/$lang/Halvern_$bits.msi"
      ln -f "$out/package/Halvern.msi" "$file" 2>/dev/null || cp "$out/package/Halvern.msi" "$file"
      python3 "$here/scripts/halvern-meta.py" make "$file"
    done
  done
  cat >"$out/www/thank-you.html" <<'EOF'
<!DOCTYPE html>
<html lang="en">
<head><meta charset="utf-8"><title>Thank you for installing Halvern</title></head>
<body>
<h1>Thank you for installing Halvern</h1>
<p>This is the thank-you page of the local sample product. The installer passes pid, version,
lang, bits and vid in the address.</p>
</body>
</html>
EOF
}

start_nginx() {
  local out="$1" conf="$1/nginx/nginx.conf" check
  port_free "$port" || fail "127.0.0.1:$port is in use by another program; free it or build and run with another HALVERN_SAMPLE_PORT"
  cat >"$conf" <<EOF
worker_processes 1;
pid $out/nginx/nginx.pid;
error_log $out/nginx/error.log;
events { worker_connections 256; }
http {
  log_format sample '\$remote_addr - \$remote_user [\$time_local] "\$request" \$status \$body_bytes_sent '
                    '"\$http_referer" "\$http_user_agent" "\$http_range"';
  access_log $out/nginx/access.log sample;
  client_body_temp_path $out/nginx/body;
  proxy_temp_path $out/nginx/proxy;
  fastcgi_temp_path $out/nginx/fastcgi;
  uwsgi_temp_path $out/nginx/uwsgi;
  scgi_temp_path $out/nginx/scgi;
  types { text/html html; }
  default_type application/octet-stream;
  sendfile on;
  server {
    listen 127.0.0.1:$port;
    # A home connection's pace, so that the download is seen as it goes.
    limit_rate $rate;
    root $out/www;
  }
}
EOF
  nginx -p "$out/nginx" -c "$conf" -e "$out/nginx/error.log" </dev/null >/dev/null 2>>"$out/nginx/error.log" \
    || fail "nginx did not start: $(grep -m1 emerg "$out/nginx/error.log" || echo "see $out/nginx/error.log")"
  # nginx has no lifetime of its own: a detached watchdog ends it.
  setsid bash -c "sleep $lifetime; kill \$(cat '$out/nginx/nginx.pid') 2>/dev/null" </dev/null >/dev/null 2>&1 &
  echo $! >"$out/nginx/watchdog.pid"
  # Its workers must read the files (as root they run as nobody); the log then starts empty, so it
  # holds the stub's requests only.
  check=$(python3 -c 'import sys, urllib.request
try:
    print(urllib.request.urlopen(sys.argv[1], timeout=10).status)
except Exception as error:
    print(error)' "$meta_url")
  if [ "$check" != 200 ]; then
    stop_servers "$out"
    fail "nginx answers $meta_url with: $check (see $out/nginx/error.log)"
  fi
  : >"$out/nginx/access.log"
}

start() {
  local build out
  build="$(cd "${1:?build folder}" && pwd)"
  mkdir -p "${2:?output folder}"
  out="$(cd "$2" && pwd)"
  for file in halvern.exe halvern.exe.mui product.txt; do
    [ -f "$build/bin/sample/$file" ] || fail "$build/bin/sample/$file is missing: build first (scripts/build.sh)"
  done
  stop_servers "$out"
  rm -rf "$out/www" "$out/nginx" "$out/package" "$out/installer-service" "$out/sample.txt"
  mkdir -p "$out/www" "$out/nginx" "$out/package"

  local arch version pid vid
  arch=$(sed -n 's/^arch=//p' "$build/bin/sample/product.txt")
  version=$(sed -n 's/^version=//p' "$build/bin/sample/product.txt")
  pid=$(sed -n 's/^pid=//p' "$build/bin/sample/product.txt")
  vid=$(sed -n 's/^vid=//p' "$build/bin/sample/product.txt")
  local product_code upgrade_code platform languages all_bits
  build_package "$build" "$out"
  publish "$out"

  local base="http://127.0.0.1:$port" first url meta_url
  first=${languages%% *}
  url="$base/setup/$first/Halvern_64.msi"
  meta_url="$url.meta"
  start_nginx "$out"
  # A service already running (the tests' own, named by HALVERN_INSTALLER_SERVICE) is used as it
  # is: the stub is built for one port.
  local service_txt="${HALVERN_INSTALLER_SERVICE:-}"
  if [ -z "$service_txt" ]; then
    service_txt="$out/installer-service/service.txt"
    if ! python3 "$here/scripts/installer-service.py" start "$out/installer-service" --port "$service_port" \
        --lifetime "$lifetime" >/dev/null; then
      stop_servers "$out"
      exit 1
    fi
  fi

  local folder="C:\\Program Files\\Halvern\\" uninstall="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
  if [ "$platform" = x86 ]; then
    folder="C:\\Program Files (x86)\\Halvern\\"
    uninstall="HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
  fi
  {
    echo "url=$url"
    echo "meta_url=$meta_url"
    echo 'url_template='"$base"'/setup/${lang}/Halvern_${osbits}.msi'
    echo "languages=$languages"
    echo "bits=$all_bits"
    echo "thankyou_url=$base/thank-you.html"
    echo "msi=$out/package/Halvern.msi"
    echo "msi_bytes=$(stat -c %s "$out/package/Halvern.msi")"
    echo "platform=$platform"
    echo "product_code=$product_code"
    echo "upgrade_code=$upgrade_code"
    echo "version=$version"
    echo "pid=$pid"
    echo "vid=$vid"
    echo "install_folder=$folder"
    echo "program=${folder}halvern.exe"
    echo "uninstall_key=$uninstall\\$product_code"
    echo 'starts_log=%LOCALAPPDATA%\Halvern\starts.log'
    echo "docroot=$out/www"
    echo "nginx_port=$port"
    echo "nginx_log=$out/nginx/access.log"
    echo "nginx_error_log=$out/nginx/error.log"
    echo "service_txt=$service_txt"
    echo "service_port=$service_port"
    echo "trust_ca=$build/bin/trust-ca.exe"
    echo "ends_at=$(date -d "+$lifetime seconds" '+%Y-%m-%d %H:%M:%S')"
  } >"$out/sample.txt"
  echo "sample product: $url ($platform, $version), thank-you page $base/thank-you.html," \
       "installer service https://localhost:$service_port, until $(date -d "+$lifetime seconds" +%H:%M)"
}

case "${1:-}" in
  start)
    start "${2:-}" "${3:-}"
    ;;
  stop)
    stop_servers "$(cd "${2:?output folder}" && pwd)"
    echo "sample product: stopped"
    ;;
  *)
    echo "usage: $0 start BUILD_DIR OUT_DIR | stop OUT_DIR" >&2
    exit 2
    ;;
esac
