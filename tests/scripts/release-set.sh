#!/usr/bin/env bash
# The release command. On the test build, whose stub talks to the tests' loopback servers, it
# refuses and names what it found; with --test-endpoints it makes a test release, signed by a
# code-signing certificate of a throwaway authority, with a text outside ASCII close to the
# longest the stub reads: the set holds its five files, says it is a test release and passes
# every check; --verify refuses it as a release, accepts a copy with --test-endpoints, refuses one
# with a changed byte among the signed bytes, and accepts the signature of one whose text changed
# (the text lies outside the signed bytes) but not its sums. On a release-profile build that pins
# the tests' publisher, signed by that publisher, it makes a release whose checks all pass.
#
# usage: release-set.sh BUILD_DIR RELEASE_BUILD_DIR
set -uo pipefail
release="$(cd "$(dirname "$0")/../../scripts" && pwd)/release.sh"
build="$1" release_build="$2"
source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
result() { if [ "$1" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $2"; fi; }

cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Halvern Release Test Authority" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signing.ext
openssl req -newkey rsa:2048 -nodes -keyout publisher.key -out publisher.csr -subj "/CN=Halvern Release Test Publisher" 2>/dev/null
openssl x509 -req -in publisher.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile signing.ext \
  -out publisher.pem 2>/dev/null
# 99,000 bytes, more than the 64 KiB the end-record search covers: the search ends where the
# certificate table begins, so the text never counts against it.
for _ in $(seq 2750); do printf 'Halvern – Grüße, 世界, ½ ✓\n'; done >text.txt

# The test build is no release: the findings name its loopback endpoints.
output=$(bash "$release" "$build" refused --cert publisher.pem --key publisher.key --ca ca.pem 2>&1)
status=$?
echo "$output"
[ "$status" -eq 1 ] && [ ! -e refused ]; result $? "the test build was released: $status"
for finding in "built with the local profile" "web service localhost:[0-9]* is loopback" "plain http downloads allowed" \
  "packaged DOWNLOAD_URL is loopback: http://127.0.0.1:[0-9]*/setup/" "packaged TYP_URL is not https: http://127.0.0.1"; do
  grep -q "^check: release: FAILED (.*$finding" <<<"$output"; result $? "the refusal does not name \"$finding\""
done

# passed_checks OUTPUT CHECK...: each named check passed and none failed.
passed_checks() {
  local output="$1" check
  shift
  for check in "$@"; do grep -q "^check: $check: ok (" <<<"$output"; result $? "no passed check \"$check\""; done
  ! grep -q FAILED <<<"$output"; result $? "a check failed"
}

output=$(bash "$release" "$build" set --cert publisher.pem --key publisher.key --ca ca.pem --text text.txt \
  --test-endpoints 2>&1)
status=$?
echo "$output"
[ "$status" -eq 0 ]; result $? "release.sh --test-endpoints ended with $status"
passed_checks "$output" release "layout of the [a-z0-9_]* stub" signature package text meta sums
[ "$(ls set | paste -sd ' ' -)" = "HalvernSetup.debug HalvernSetup.exe HalvernSetup.exe.meta RELEASE.txt SHA256SUMS" ]
result $? "the set holds $(ls set | paste -sd ' ' -)"
grep -q "^test release of HalvernSetup .* not for users$" set/RELEASE.txt; result $? "RELEASE.txt: $(cat set/RELEASE.txt)"
cmp -s set/HalvernSetup.debug "$build/bin/HalvernSetup.debug"; result $? "HalvernSetup.debug is not the build's"
tail -c "$(stat -c %s text.txt)" set/HalvernSetup.exe | cmp -s - text.txt; result $? "the file does not end with the text"
output=$(bash "$release" --verify set --ca ca.pem 2>&1)
[ $? -eq 1 ] && grep -q "^check: release: FAILED (RELEASE.txt says: test release" <<<"$output"
result $? "--verify took a test release for a release: $output"

size=$(stat -c %s set/HalvernSetup.exe)
while read -r name offset signature status; do
  cp -r set "$name"
  [ "$offset" = - ] || python3 -c 'import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(int(sys.argv[2])); byte = f.read(1)[0]; f.seek(-1, 1); f.write(bytes([byte ^ 0x20]))' "$name/HalvernSetup.exe" "$offset"
  output=$(bash "$release" --verify "$name" --ca ca.pem --test-endpoints 2>&1)
  [ $? -eq "$status" ] && grep -q "^check: signature: $signature (" <<<"$output"
  result $? "$name: --verify should end with $status, signature $signature: $output"
done <<LIST
unchanged - ok 0
changed-image $((size / 2)) FAILED 1
changed-text $((size - 1)) ok 1
LIST

# A release-profile build pinning the tests' publisher, signed by it: a release.
publisher="$source_dir/tests/support/publisher/test-publisher"
output=$(bash "$release" "$release_build" release --cert "$publisher.pem" --key "$publisher.key" 2>&1)
status=$?
echo "$output"
[ "$status" -eq 0 ]; result $? "release.sh on the release build ended with $status"
passed_checks "$output" release "layout of the [a-z0-9_]* stub" signature package text meta sums
grep -q "^check: release: ok (.*stub-profile:release service:installer.halvern.com:443 http-downloads:no pins:[0-9a-f]\{64\}" \
  <<<"$output"; result $? "the release's profile"
head -n 1 release/RELEASE.txt | grep -q "^release of HalvernSetup "; result $? "RELEASE.txt: $(cat release/RELEASE.txt)"
output=$(bash "$release" --verify release --ca "$publisher.pem" 2>&1)
status=$?
[ "$status" -eq 0 ]; result $? "--verify of the release ended with $status: $output"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
