#!/usr/bin/env python3
"""Writes and checks the ".meta" verification file that is published next to a download.

usage: halvern-meta.py make FILE [META]     write META (default FILE.meta) for FILE
       halvern-meta.py verify FILE META     exit 0 when FILE is exactly what META describes

A ".meta" file holds the file's length as a signed 64-bit little-endian number, then the 20-byte
SHA-1 digest of every 1 MiB block of the file in block order; the last block may be shorter.
verify names the first block that differs (or the length that does) and exits 1.
"""
import hashlib
import os
import struct
import sys

BLOCK = 1048576


def block_digests(path):
    with open(path, "rb") as f:
        while True:
            block = f.read(BLOCK)
            if not block:
                return
            yield hashlib.sha1(block).digest()


def make(path, meta):
    length = os.path.getsize(path)
    with open(meta + ".part", "wb") as out:
        out.write(struct.pack("<q", length))
        for digest in block_digests(path):
            out.write(digest)
    os.replace(meta + ".part", meta)
    return 0


def verify(path, meta):
    data = open(meta, "rb").read()
    if len(data) < 8:
        print("halvern-meta: %s: shorter than 8 bytes" % meta)
        return 1
    (length,) = struct.unpack_from("<q", data)
    count = (length + BLOCK - 1) // BLOCK
    if length < 0 or len(data) != 8 + 20 * count:
        print("halvern-meta: %s: malformed (length %d, %d bytes)" % (meta, length, len(data)))
        return 1
    if os.path.getsize(path) != length:
        print("halvern-meta: %s is %d bytes, not %d" % (path, os.path.getsize(path), length))
        return 1
    for i, digest in enumerate(block_digests(path)):
        if digest != data[8 + 20 * i:28 + 20 * i]:
            print("halvern-meta: block %d differs" % i)
            return 1
    return 0


def main(argv):
    if len(argv) == 3 and argv[1] == "make":
        return make(argv[2], argv[2] + ".meta")
    if len(argv) == 4 and argv[1] == "make":
        return make(argv[2], argv[3])
    if len(argv) == 4 and argv[1] == "verify":
        return verify(argv[2], argv[3])
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
