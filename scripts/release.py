#!/usr/bin/env python3
"""The certificate-table work of a release: the text a signed stub carries after its signature.

usage: release.py tail FILE TEXT_FILE   put TEXT_FILE's bytes after FILE's first certificate, in place
       release.py untail FILE OUT       write OUT: FILE without that text, as it was signed

The stub's getEmbeddedDataFromCurrentExe reads the bytes that follow the first entry of the
certificate table and are counted in the table's size (methods/SignatureTail.cpp). The Authenticode
digest leaves out the table, its directory entry and the PE checksum, so the text goes in after
signing and the signature stays valid. osslsigncode refuses a table holding more than its
certificate, so a file with a text is verified as `untail` gives it back: the same digest, the same
signature. Both forms keep the PE checksum right for the bytes they write.
"""
import array
import struct
import sys

# What the stub reads (kMaxSignatureTailBytes); the text ends at its first zero byte. The text
# cannot move the UI package out of the stub's reach: the stub looks for the package only before
# the certificate table (core/EmbeddedPackage.cpp).
MAX_TEXT_BYTES = 100000


def pe_header(data):
    return struct.unpack_from("<I", data, 0x3C)[0]


def certificate_directory(data):
    """File position of the certificate-table entry of the optional header's data directory."""
    pe = pe_header(data)
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    return pe + 24 + (96 if magic == 0x10B else 112) + 4 * 8


def with_checksum(data):
    """data with its PE checksum recomputed: the 16-bit sum with carries folded back in, over every
    word but the checksum field, plus the file's length."""
    data = bytearray(data)
    field = pe_header(data) + 24 + 64
    struct.pack_into("<I", data, field, 0)
    words = array.array("H", bytes(data) + b"\0" * (len(data) % 2))
    if sys.byteorder != "little":
        words.byteswap()
    total = sum(words)
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    struct.pack_into("<I", data, field, total + len(data))
    return bytes(data)


def with_tail(signed, tail):
    """The signed file with tail bytes after its certificate table, counted in the table's size."""
    data = bytearray(signed)
    entry = certificate_directory(data)
    offset, size = struct.unpack_from("<II", data, entry)
    if offset + size != len(data):
        raise SystemExit("the certificate table is not at the end of the signed file")
    struct.pack_into("<I", data, entry + 4, size + len(tail))
    return with_checksum(bytes(data) + tail)


def without_tail(data):
    """The file cut back to its first certificate, padded to 8 bytes as signing leaves it."""
    data = bytearray(data)
    entry = certificate_directory(data)
    offset, size = struct.unpack_from("<II", data, entry)
    if offset == 0 or offset + size != len(data):
        raise SystemExit("the file has no certificate table at its end")
    first = (struct.unpack_from("<I", data, offset)[0] + 7) & ~7
    if first > size:
        raise SystemExit("the first certificate is longer than the certificate table")
    struct.pack_into("<I", data, entry + 4, first)
    return with_checksum(bytes(data[:offset + first]))


def checked_text(text):
    """text when the stub reads it back whole, else an exit."""
    try:
        text.decode("utf-8")
    except UnicodeDecodeError as error:
        raise SystemExit(f"the text is not UTF-8 ({error}); the stub would read it as empty")
    if not text or b"\0" in text or len(text) > MAX_TEXT_BYTES:
        raise SystemExit(f"the text must be 1 to {MAX_TEXT_BYTES} bytes without a zero byte; it has {len(text)}"
                         + (" and a zero byte" if b"\0" in text else ""))
    return text


def main(argv):
    if len(argv) != 4 or argv[1] not in ("tail", "untail"):
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    with open(argv[2], "rb") as f:
        data = f.read()
    if argv[1] == "tail":
        with open(argv[3], "rb") as f:
            result, output = with_tail(data, checked_text(f.read())), argv[2]
    else:
        result, output = without_tail(data), argv[3]
    with open(output, "wb") as out:
        out.write(result)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
