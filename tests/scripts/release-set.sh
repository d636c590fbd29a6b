#!/usr/bin/env bash
# The release command on a build: signed by a code-signing certificate of a throwaway authority,
# with a text outside ASCII close to the longest the stub reads. The set holds its four files and
# passes every check; then --verify accepts a copy of the set, refuses one with a changed byte
# among the signed bytes, and accepts the signature of one whose text changed (the text lies
# outside the signed bytes) but not its sums.
#
# usage: release-set.sh BUILD_DIR
set -uo pipefail
release="$(cd "$(dirname "$0")/../../scripts" && pwd)/release.sh"
build="$1"
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

output=$(bash "$release" "$build" set --cert publisher.pem --key publisher.key --ca ca.pem --text text.txt 2>&1)
status=$?
echo "$output"
[ "$status" -eq 0 ]; result $? "release.sh ended with $status"
while read -r check; do
  grep -q "^check: $check: ok (" <<<"$output"; result $? "no passed check \"$check\""
done <<'CHECKS'
layout of the [a-z0-9_]* stub
signature
package
text
meta
sums
CHECKS
! grep -q FAILED <<<"$output"; result $? "a check failed"
[ "$(ls set | paste -sd ' ' -)" = "HalvernSetup.debug HalvernSetup.exe HalvernSetup.exe.meta SHA256SUMS" ]
result $? "the set holds $(ls set | paste -sd ' ' -)"
cmp -s set/HalvernSetup.debug "$build/bin/HalvernSetup.debug"; result $? "HalvernSetup.debug is not the build's"
tail -c "$(stat -c %s text.txt)" set/HalvernSetup.exe | cmp -s - text.txt; result $? "the file does not end with the text"

size=$(stat -c %s set/HalvernSetup.exe)
while read -r name offset signature status; do
  cp -r set "$name"
  [ "$offset" = - ] || python3 -c 'import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(int(sys.argv[2])); byte = f.read(1)[0]; f.seek(-1, 1); f.write(bytes([byte ^ 0x20]))' "$name/HalvernSetup.exe" "$offset"
  output=$(bash "$release" --verify "$name" --ca ca.pem 2>&1)
  [ $? -eq "$status" ] && grep -q "^check: signature: $signature (" <<<"$output"
  result $? "$name: --verify should end with $status, signature $signature: $output"
done <<LIST
unchanged - ok 0
changed-image $((size / 2)) FAILED 1
changed-text $((size - 1)) ok 1
LIST

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
