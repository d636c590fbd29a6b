#!/usr/bin/env python3
"""Points the delay import directory of a linked image at its delay-load descriptors.

usage: delay-import-directory.py EXECUTABLE NM

GNU ld leaves that data directory empty, so tools that list what an image delay-loads see
nothing. The descriptors that dlltool's delay-import libraries bring (the image's symbols
"*_DELAY_IMPORT_DESCRIPTOR_*", before stripping) lie next to each other in ".text$2", followed by
the empty descriptor that ends the table (core/SystemLibraries.cpp); the directory gets their RVA
and size, the empty one included. Fails when they are not laid out so.
"""
import struct
import subprocess
import sys

DESCRIPTOR_SIZE = 32
DELAY_IMPORT = 13


def main():
    exe, nm = sys.argv[1:]
    data = bytearray(open(exe, "rb").read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    plus = struct.unpack_from("<H", data, optional)[0] == 0x20B
    image_base = struct.unpack_from("<Q" if plus else "<I", data, optional + (24 if plus else 28))[0]
    directories = optional + (112 if plus else 96)

    def offset_of(rva):
        for i in range(sections):
            size, address, raw_size, raw_offset = struct.unpack_from("<IIII", data, optional + optional_size + 40 * i + 8)
            if address <= rva < address + max(size, raw_size):
                return raw_offset + rva - address
        sys.exit(f"delay-import-directory: RVA {rva:#x} lies in no section of {exe}")

    listing = subprocess.run([nm, exe], capture_output=True, text=True, check=True).stdout
    rvas = sorted(int(line.split()[0], 16) - image_base for line in listing.splitlines()
                  if "_DELAY_IMPORT_DESCRIPTOR_" in line)
    if not rvas:
        sys.exit(f"delay-import-directory: {exe} has no delay-load descriptor")
    if rvas != list(range(rvas[0], rvas[0] + DESCRIPTOR_SIZE * len(rvas), DESCRIPTOR_SIZE)):
        sys.exit(f"delay-import-directory: the delay-load descriptors of {exe} do not lie next to each other")
    end = offset_of(rvas[-1] + DESCRIPTOR_SIZE)
    if any(data[end:end + DESCRIPTOR_SIZE]):
        sys.exit(f"delay-import-directory: no empty descriptor ends the table of {exe}")
    struct.pack_into("<II", data, directories + 8 * DELAY_IMPORT, rvas[0], DESCRIPTOR_SIZE * (len(rvas) + 1))
    open(exe, "wb").write(data)


if __name__ == "__main__":
    main()
