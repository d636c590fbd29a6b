#!/usr/bin/env bash
# Makes a Wine prefix (made by scripts/wine-prefix.sh) a machine that passes the wizard's start
# checks for the sample product of scripts/sample-product.sh, which must be running:
#
#   sample-machine.sh PREFIX OUT_DIR      OUT_DIR: the folder given to sample-product.sh start
#
# The pages read Internet Explorer's "Version" (major 8 or more) and the .NET 4 "Release", and the
# stub looks for the WebView2 runtime's "pv"; the stub reads both registry views, so both get
# them. The installer service's throwaway authority goes into the prefix's Root store, checked by
# one WinHTTP request to the service.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
prefix="$(cd "${1:?Wine prefix}" && pwd)"
sample="${2:?output folder of sample-product.sh}/sample.txt"
export WINEPREFIX="$prefix"
source "$here/scripts/wine-env.sh"

fail() {
  echo "sample-machine: $*" >&2
  exit 1
}

[ -f "$sample" ] || fail "$sample is missing: run scripts/sample-product.sh start first"
setting() { sed -n "s/^$1=//p" "$sample"; }
service_txt=$(setting service_txt)
trust_ca=$(setting trust_ca)
ca_der=$(sed -n 's/^ca_der=//p' "$service_txt")
service_port=$(setting service_port)
[ -f "$trust_ca" ] || fail "$trust_ca is missing: build the test programs too (scripts/build.sh)"

wine_reg() { "$here/scripts/wine-run" reg "$@" 2>/dev/null; }

# The data of a value in one view (32 or 64), empty when it is not there.
reg_data() {
  { wine_reg query "$1" /v "$2" "/reg:$3" || true; } | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}

set_value() {  # KEY NAME TYPE DATA VIEW
  wine_reg add "$1" /v "$2" /t "$3" /d "$4" /f "/reg:$5" >/dev/null || fail "could not set $1\\$2 ($5-bit view)"
}

ie='HKLM\SOFTWARE\Microsoft\Internet Explorer'
dotnet='HKLM\SOFTWARE\Microsoft\NET Framework Setup\NDP\v4\Full'
webview2='HKLM\SOFTWARE\Microsoft\EdgeUpdate\Clients\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}'
for view in 64 32; do
  # Wine registers Internet Explorer 11 ("9.11.9600.x") in its own view; the other may lack it.
  version=$(reg_data "$ie" Version "$view")
  [ "${version%%.*}" -ge 8 ] 2>/dev/null || set_value "$ie" Version REG_SZ 9.11.9600.18376 "$view"
  set_value "$dotnet" Release REG_DWORD 528040 "$view"
  set_value "$webview2" pv REG_SZ 120.0.2210.91 "$view"
done

"$here/scripts/wine-run" "$trust_ca" add "Z:${ca_der//\//\\}" >/dev/null || fail "trust-ca could not add $ca_der"
# The publisher of the sample's package, whose key the local build pins.
publisher="$here/tests/support/publisher/test-publisher.pem"
"$here/scripts/wine-run" "$trust_ca" add "Z:${publisher//\//\\}" >/dev/null || fail "trust-ca could not add $publisher"
answer=$("$here/scripts/wine-run" "$trust_ca" get "https://localhost:$service_port/" 2>/dev/null | tr -d '\r')
[ "$answer" = "status 200" ] || fail "WinHTTP in the prefix does not reach the installer service: $answer"
echo "sample machine: $prefix has IE 11, .NET 4.8 (528040), WebView2 120.0.2210.91 in both registry views" \
     "and trusts the installer service"
