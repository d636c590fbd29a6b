#!/usr/bin/env bash
# Makes the publisher's release set from a build, then checks it: one line per check, exit 1 when
# any fails.
#
#   release.sh BUILD_DIR OUT_DIR [--cert CERT.pem --key KEY.pem [--ca CA.pem] [--text FILE]] [--test-endpoints]
#   release.sh --verify OUT_DIR [--ca CA.pem] [--test-endpoints]
#
# Only a real release is made or accepted: a stub of the release profile whose web service and
# packaged DOWNLOAD_URL and TYP_URL are neither loopback nor plain http and which pins at least one
# publisher, as read back from the finished stub (scripts/check-stub.py --release).
# --test-endpoints accepts the tests' endpoints instead, and the set's RELEASE.txt then says that
# it is a test release, which --verify refuses without the same option.
#
# The first form checks the layout of BUILD_DIR/bin/HalvernSetup.exe (scripts/check-stub.py),
# copies it into OUT_DIR, signs it with Authenticode (osslsigncode, SHA-256) and puts FILE's bytes
# after its first certificate, where getEmbeddedDataFromCurrentExe reads them (scripts/release.py);
# then writes HalvernSetup.exe.meta, copies HalvernSetup.debug and writes SHA256SUMS. Its checks:
# osslsigncode verifies the signature against CA.pem (by default CERT.pem, which is enough for a
# self-signed certificate or a chain that ends at its authority); the stub, run under Wine in a
# throwaway prefix, loads its package; tail_text.exe reads the text back as the stub does; the file
# matches its .meta and SHA256SUMS. Wine runs the i686 stub only with 32-bit Wine: without it the
# stub that runs is a release of the x86_64 build beside BUILD_DIR made the same way, and that
# build's tail_text.exe reads the released file (the reader knows both layouts).
# The second form checks a set again where it lies (signature, .meta, SHA256SUMS), against CA.pem
# or the system's authorities.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
usage() { sed -n 's/^#   //p' "$0" | head -n 2 >&2; exit 2; }
die() { echo "release: $*" >&2; exit 1; }
source "$here/wine-env.sh"

verify=no cert="" key="" ca="" text="" test_endpoints=no positional=()
while [ $# -gt 0 ]; do
  case "$1" in
    --verify) verify=yes; shift ;;
    --cert) [ $# -ge 2 ] || usage; cert=$(realpath "$2"); shift 2 ;;
    --key) [ $# -ge 2 ] || usage; key=$(realpath "$2"); shift 2 ;;
    --ca) [ $# -ge 2 ] || usage; ca=$(realpath "$2"); shift 2 ;;
    --text) [ $# -ge 2 ] || usage; text=$(realpath "$2"); shift 2 ;;
    --test-endpoints) test_endpoints=yes; shift ;;
    -*) usage ;;
    *) positional+=("$1"); shift ;;
  esac
done

work=$(mktemp -d)
prefix="$work/prefix"
cleanup() {
  wine_stop "$prefix"
  rm -rf "$work"
}
trap cleanup EXIT

passed=0 failed=0
result() {  # STATUS WHAT DETAIL (its lines joined)
  local detail
  detail=$(paste -sd ';' - <<<"$3" | sed 's/;/; /g')
  if [ "$1" -eq 0 ]; then passed=$((passed + 1)); echo "check: $2: ok ($detail)"
  else failed=$((failed + 1)); echo "check: $2: FAILED ($detail)"; fi
}

check_signature() {  # FILE
  local untailed="$work/untailed.exe" output status=0 detail
  # osslsigncode refuses a certificate table that holds more than the certificate; without the
  # text the file has the same digest and the same signature.
  if ! output=$(python3 "$here/release.py" untail "$1" "$untailed" 2>&1); then
    result 1 signature "$output"
    return
  fi
  output=$(osslsigncode verify ${ca:+-CAfile "$ca"} -in "$untailed" 2>&1) || status=$?
  if [ "$status" -eq 0 ]; then
    detail="osslsigncode verify, signer $(grep -m1 'Subject:' <<<"$output" | sed 's/.*Subject: *//' || true), authority ${ca:-the system store}"
  else
    detail="osslsigncode verify: $(grep -q MISMATCH <<<"$output" && echo "the file's digest is not the signed one" ||
      grep -m1 -e rror -e failed <<<"$output" || echo failed)"
  fi
  result "$status" signature "$detail"
}

# check_release FILE OBJDUMP: the stub is a release, or, with --test-endpoints, says what it is.
check_release() {
  local output status=0
  if [ "$test_endpoints" = yes ]; then
    output=$(python3 "$here/check-stub.py" "$1" "$2" 2>&1) || status=$?
    result "$status" release "a test release (--test-endpoints): $(tail -n 2 <<<"$output" | head -n 1 | sed 's/^check-stub: //')"
  else
    output=$(python3 "$here/check-stub.py" "$1" "$2" --release 2>&1) || status=$?
    if [ "$status" -eq 0 ]; then
      result 0 release "$(tail -n 2 <<<"$output" | head -n 1 | sed 's/^check-stub: //')"
    else
      result 1 release "$(grep FAILED <<<"$output" | sed 's/^check-stub: FAILED: //')"
    fi
  fi
}

objdump_of() {  # FILE: the objdump of the file's architecture
  if [ "$(od -An -tx1 -j "$(( $(od -An -tu4 -j60 -N4 "$1") + 4 ))" -N2 "$1" | tr -d ' ')" = 6486 ]; then
    echo x86_64-w64-mingw32-objdump
  else
    echo i686-w64-mingw32-objdump
  fi
}

check_set_files() {  # OUT_DIR
  local output status=0
  output=$(python3 "$here/halvern-meta.py" verify "$1/HalvernSetup.exe" "$1/HalvernSetup.exe.meta" 2>&1) || status=$?
  result "$status" meta "${output:-halvern-meta.py verify accepts HalvernSetup.exe}"
  status=0
  output=$(cd "$1" && sha256sum --quiet -c SHA256SUMS 2>&1) || status=$?
  result "$status" sums "${output:-sha256sum -c SHA256SUMS}"
}

if [ "$verify" = yes ]; then
  [ ${#positional[@]} -eq 1 ] && [ -z "$cert$key$text" ] || usage
  out=$(realpath "${positional[0]}")
  if [ "$test_endpoints" = no ] && grep -q '^test release' "$out/RELEASE.txt" 2>/dev/null; then
    result 1 release "RELEASE.txt says: $(head -n 1 "$out/RELEASE.txt")"
  fi
  # The stub as signed, without the text after its certificate, beside its debug file.
  mkdir -p "$work/signed"
  cp "$out/HalvernSetup.debug" "$work/signed/" 2>/dev/null || true
  if python3 "$here/release.py" untail "$out/HalvernSetup.exe" "$work/signed/HalvernSetup.exe" 2>/dev/null; then
    check_release "$work/signed/HalvernSetup.exe" "$(objdump_of "$out/HalvernSetup.exe")"
  else
    result 1 release "$out/HalvernSetup.exe carries no readable signature"
  fi
  check_signature "$out/HalvernSetup.exe"
  check_set_files "$out"
  echo "release: $passed checks passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
fi

[ ${#positional[@]} -eq 2 ] || usage
[ "${cert:+1}" = "${key:+1}" ] || die "--cert and --key go together"
[ -n "$cert" ] || [ -z "$ca$text" ] || die "--ca and --text need --cert and --key: the text goes into the signature"
build=$(realpath "${positional[0]}")
out=$(realpath -m "${positional[1]}")
ca=${ca:-$cert}
setting() { sed -n "s/^$1:[A-Z]*=//p" "$2/CMakeCache.txt" 2>/dev/null || true; }
arch=$(setting HALVERN_ARCH "$build")
[ -n "$arch" ] && [ -f "$build/bin/HalvernSetup.exe" ] || die "$build is not a build of scripts/build.sh with bin/HalvernSetup.exe"

# The Wine checks need a stub that this machine's Wine runs, and the reader program built beside it.
decision=$(bash "$here/test-arch.sh" --reason)  # "testing the <arch> build: <reason>"
run_arch=$(awk '{print $3}' <<<"$decision")
check_build=$build check_arch=$arch
# Beside a build of one profile (<root>/i686, <root>/release-i686), its x86_64 twin.
if [ "$arch" = i686 ] && [ "$run_arch" = x86_64 ]; then
  check_build="$(dirname "$build")/$(basename "$build" | sed 's/i686$/x86_64/')" check_arch=x86_64
fi
release_flag=$([ "$(setting HALVERN_PROFILE "$build")" = release ] && echo "--release " || true)
for program in HalvernSetup tail_text; do
  [ -f "$check_build/bin/$program.exe" ] ||
    die "$check_build/bin/$program.exe is missing; build it with" \
      "HALVERN_BUILD_ROOT=$(dirname "$check_build") bash scripts/build.sh $release_flag$check_arch HalvernSetup tail_text"
done

# release_copy BUILD FILE: BUILD's stub, its layout checked, as the release ships it.
release_copy() {
  local output status=0
  output=$(python3 "$here/check-stub.py" "$1/bin/HalvernSetup.exe" "$(setting CMAKE_OBJDUMP "$1")" 2>&1) || status=$?
  if [ "$status" -eq 0 ]; then
    result 0 "layout of the $(setting HALVERN_ARCH "$1") stub" "check-stub.py: $(tail -n 1 <<<"$output")"
  else
    result 1 "layout of the $(setting HALVERN_ARCH "$1") stub" "$(grep FAILED <<<"$output" | sed 's/^check-stub: FAILED: //')"
    exit 1
  fi
  if [ -z "$cert" ]; then
    cp "$1/bin/HalvernSetup.exe" "$2"
    return
  fi
  output=$(osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n "Halvern Setup" \
    -in "$1/bin/HalvernSetup.exe" -out "$2" 2>&1) || die "osslsigncode sign: $output"
  if [ -n "$text" ]; then output=$(python3 "$here/release.py" tail "$2" "$text" 2>&1) || die "$output"; fi
}

check_package() {  # FILE
  local status=0 start=$SECONDS temp log
  WINEPREFIX="$prefix" timeout 120 "$here/wine-run" "$1" run=1 >/dev/null 2>&1 || status=$?
  temp="$prefix/drive_c/users/$(id -un)/AppData/Local/Temp"
  [ -d "$temp" ] || temp="$prefix/drive_c/users/$(id -un)/Temp"
  log=$(ls -t "$temp"/HLVN_log/installer_log_*.txt 2>/dev/null | head -n 1 || true)
  if [ -n "$log" ] && grep -aq "load resource success" "$log"; then
    result 0 package "\"load resource success\" in the log of the run under Wine, ended with $status after $((SECONDS - start)) s"
  else
    result 1 package "no \"load resource success\" in ${log:-an installer log}; the run under Wine ended with $status"
  fi
}

check_text() {  # FILE
  local got="$work/text-read" wanted="$work/text-wanted" status=0 windows="Z:${1//\//\\}"
  if [ -n "$text" ]; then cp "$text" "$wanted"; else : >"$wanted"; fi
  WINEPREFIX="$prefix" timeout 60 "$here/wine-run" "$check_build/bin/tail_text.exe" "$windows" >"$got" 2>/dev/null ||
    status=$?
  if [ "$status" -ne 0 ]; then
    result 1 text "tail_text.exe ended with $status"
  elif cmp -s "$got" "$wanted"; then
    result 0 text "$([ -n "$text" ] && echo "the $(stat -c %s "$got") bytes given" || echo "none, as given"), read back by the stub's reader"
  else
    result 1 text "the stub's reader gives $(stat -c %s "$got") bytes that differ from the $(stat -c %s "$wanted") given"
  fi
}

# The set is made aside and copied in whole, so that a failure leaves no half set behind.
set_dir="$work/set"
mkdir -p "$set_dir"
# A stub built for the tests' servers is refused before anything is made of it.
check_release "$build/bin/HalvernSetup.exe" "$(setting CMAKE_OBJDUMP "$build")"
[ "$failed" -eq 0 ] || die "$build/bin/HalvernSetup.exe is not a release; build one with scripts/build.sh --release"
release_copy "$build" "$set_dir/HalvernSetup.exe"
version=$(python3 -c 'import configparser,sys; d=configparser.ConfigParser(interpolation=None); d.read(sys.argv[1]); print(d["product"]["version"])' "$here/../product/product.ini")
profile=$(grep -aoE 'stub-profile:[a-z]+ service:[^ ]+ http-downloads:[a-z]+ pins:[0-9a-f,]*' "$set_dir/HalvernSetup.exe" | head -n 1)
if [ "$test_endpoints" = yes ]; then
  echo "test release of HalvernSetup $version for the tests' endpoints (--test-endpoints): not for users" >"$set_dir/RELEASE.txt"
else
  echo "release of HalvernSetup $version" >"$set_dir/RELEASE.txt"
fi
echo "$profile" >>"$set_dir/RELEASE.txt"
cp "$build/bin/HalvernSetup.debug" "$set_dir/"
python3 "$here/halvern-meta.py" make "$set_dir/HalvernSetup.exe"
(cd "$set_dir" && sha256sum HalvernSetup.exe HalvernSetup.exe.meta HalvernSetup.debug RELEASE.txt >SHA256SUMS)
mkdir -p "$out"
cp "$set_dir"/* "$out"/
echo "release: $out: HalvernSetup.exe ($(stat -c %s "$out/HalvernSetup.exe") bytes, $([ -n "$cert" ] && echo signed || echo unsigned)${text:+, with a text of $(stat -c %s "$text") bytes})," \
  "HalvernSetup.exe.meta, HalvernSetup.debug, RELEASE.txt, SHA256SUMS"

if [ -n "$cert" ]; then check_signature "$out/HalvernSetup.exe"; else echo "check: signature: skipped (no --cert)"; fi
runnable="$out/HalvernSetup.exe"
if [ "$check_build" != "$build" ]; then
  echo "release: the stub run under Wine is a release of $check_build made the same way: ${decision#*: }"
  release_copy "$check_build" "$work/HalvernSetup.exe"
  runnable="$work/HalvernSetup.exe"
fi
bash "$here/wine-prefix.sh" "$prefix" >/dev/null 2>&1 || die "could not make a Wine prefix in $prefix"
check_package "$runnable"
check_text "$out/HalvernSetup.exe"
check_set_files "$out"
echo "release: $passed checks passed, $failed failed"
[ "$failed" -eq 0 ]
