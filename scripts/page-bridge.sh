#!/usr/bin/env bash
# For page authors: runs the wizard from a package folder (default: ui-package/) against the live
# native side. Publishes the sample product, starts the page bridge under Wine in a prefix of its
# own and opens Chromium on it, visible when a display exists, printing the pages and the
# progress; the author clicks. The run ends when the pages close the window.
#
#   bash scripts/page-bridge.sh [PACKAGE_FOLDER] [stub arguments...]   e.g. ... ui-package RESUME=DOWNLOADING
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
folder="$here/ui-package"
if [ $# -gt 0 ] && [ -d "$1" ]; then
  folder="$(cd "$1" && pwd)"
  shift
fi

arch=$(bash "$here/scripts/test-arch.sh")
bash "$here/scripts/build.sh" "$arch" page_bridge halvern halvern_mui trust_ca
# The pages of a source folder need the libraries the build adds to the package.
python3 "$here/scripts/package-ui.py" --libraries "$folder"
build="${HALVERN_BUILD_ROOT:-$here/build}/$arch"
sample="$build/bridge-sample"
export WINEPREFIX="$build/bridge-prefix"
source "$here/scripts/wine-env.sh"
bash "$here/scripts/sample-product.sh" start "$build" "$sample"
[ -d "$WINEPREFIX" ] || bash "$here/scripts/wine-prefix.sh" "$WINEPREFIX" >/dev/null
bash "$here/scripts/sample-machine.sh" "$WINEPREFIX" "$sample"
# The set-up's Wine server has no display; the window needs one that has.
wine_stop

url_file=$(mktemp)
rm -f "$url_file"
display=(xvfb-run -a -s "-screen 0 1280x1024x24")
[ -n "${DISPLAY:-}" ] && display=()
HALVERN_BRIDGE_URL_FILE="Z:${url_file//\//\\}" "${display[@]}" \
  "$here/scripts/wine-run" "$build/bin/page_bridge.exe" "--bridge-package=Z:${folder//\//\\}" "$@" &
bridge=$!
trap 'kill $bridge 2>/dev/null || true; rm -f "$url_file"; bash "$here/scripts/sample-product.sh" stop "$sample" >/dev/null 2>&1 || true' EXIT
for _ in $(seq 1 120); do [ -s "$url_file" ] && break; kill -0 "$bridge" 2>/dev/null || exit 1; sleep 0.5; done
node "$here/scripts/wizard-driver.js" --manual --timeout 3600 --url "$(tr -d '\r\n' <"$url_file")"
wait "$bridge"
