#!/usr/bin/env bash
# The publisher's ".meta" tool against digests computed independently: the file cut into 1 MiB
# pieces by split, each hashed by sha1sum, after the length written by printf and od.
set -uo pipefail
tool="$(cd "$(dirname "$0")/../../scripts" && pwd)/halvern-meta.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
result() { if [ "$1" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $2"; fi; }

expected_meta() {  # FILE OUT
  local length pieces
  length=$(stat -c %s "$1")
  python3 -c "import struct,sys; sys.stdout.buffer.write(struct.pack('<q', $length))" >"$2"
  mkdir -p "$work/pieces" && rm -f "$work/pieces"/*
  [ "$length" -eq 0 ] || (cd "$work/pieces" && split -b 1048576 -a 4 "$1" piece.)
  for piece in "$work/pieces"/piece.*; do
    [ -e "$piece" ] || continue
    printf "$(sha1sum "$piece" | cut -c1-40 | sed 's/../\\x&/g')" >>"$2"
  done
}

while read -r name size; do
  file="$work/$name"
  head -c "$size" /dev/urandom >"$file"
  python3 "$tool" make "$file"
  expected_meta "$file" "$work/$name.expected"
  cmp -s "$file.meta" "$work/$name.expected"; result $? "$name ($size bytes): meta differs from split + sha1sum"
  want=$((8 + 20 * ((size + 1048575) / 1048576)))
  [ "$(stat -c %s "$file.meta")" -eq "$want" ]; result $? "$name: meta is not $want bytes"
  python3 "$tool" verify "$file" "$file.meta" >/dev/null; result $? "$name: verify refuses the file it described"
done <<'LIST'
empty 0
one-block 1048576
one-block-and-a-byte 1048577
three-and-a-half 3670016
LIST

file="$work/three-and-a-half"
cp "$file" "$work/changed" && printf 'x' | dd of="$work/changed" bs=1 seek=2097152 conv=notrunc status=none
out=$(python3 "$tool" verify "$work/changed" "$file.meta"); [ $? -eq 1 ] && [[ $out == *"block 2 differs"* ]]
result $? "a changed byte in block 2 is named: $out"
head -c 3145728 "$file" >"$work/short"
python3 "$tool" verify "$work/short" "$file.meta" >/dev/null; [ $? -eq 1 ]; result $? "a copy one block shorter is refused"
head -c 27 "$work/one-block.meta" >"$work/cut.meta"
python3 "$tool" verify "$work/one-block" "$work/cut.meta" >/dev/null; [ $? -eq 1 ]; result $? "a cut meta is refused"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
