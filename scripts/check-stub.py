#!/usr/bin/env python3
"""Checks the layout of a built HalvernSetup.exe.

usage: check-stub.py EXECUTABLE OBJDUMP [--release]

The shipped image carries no debug sections and links to HalvernSetup.debug beside it, whose
symbols name the stub's functions; it is a GUI program of its architecture that imports only
known DLLs of Windows, which the loader takes from the system folder whatever lies beside the
stub, and delay-loads the other system libraries it uses (from the system folder only, see
core/SystemLibraries.cpp); it keeps its administrator manifest with DPI awareness and its version
resource, and has the zipped UI package, with Load.html at its root, after the image. Prints one
line per failed check and ends with "N passed, N failed".
"""
import configparser
import os
import re
import struct
import subprocess
import sys
import zipfile

KNOWN_DLLS = {
    "advapi32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "setupapi.dll",
    "shell32.dll", "shlwapi.dll", "user32.dll",
}
DELAY_LOADED_DLLS = {
    "bcrypt.dll", "crypt32.dll", "msi.dll", "urlmon.dll", "version.dll", "winhttp.dll", "wininet.dll",
}
DELAY_IMPORT = 13
DESCRIPTOR_SIZE = 32
DEFINITION = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "product", "product.ini")
PROFILE = re.compile(rb"stub-profile:(\w+) service:(\S+):(\d+) http-downloads:(\w+) pins:([0-9a-f,]*)")
LOOPBACK = re.compile(r"^(localhost|127\.\d+\.\d+\.\d+|\[?::1\]?|0\.0\.0\.0)$", re.IGNORECASE)


def product_version():
    definition = configparser.ConfigParser(interpolation=None)
    definition.read(DEFINITION, encoding="utf-8")
    return definition["product"]["version"]


def release_findings(profile, install_params):
    """What keeps a stub from being a publisher's release, one text per finding."""
    if not profile:
        return ["no build profile in the image"]
    name, host, port, http, pins = (part.decode() for part in profile.groups())
    findings = []
    if name != "release":
        findings.append(f"built with the {name} profile")
    if LOOPBACK.match(host):
        findings.append(f"web service {host}:{port} is loopback")
    if http != "no":
        findings.append("plain http downloads allowed")
    if not pins:
        findings.append("pins no publisher")
    for key in ("DOWNLOAD_URL", "TYP_URL"):
        match = re.search(key + r'\s*:\s*"([^"]*)"', install_params)
        url = match.group(1) if match else ""
        host_match = re.match(r"^(\w+)://([^/:?#]*|\[[^\]]*\])", url)
        if not host_match:
            findings.append(f"packaged {key} is missing or no address: {url!r}")
            continue
        if host_match.group(1).lower() != "https":
            findings.append(f"packaged {key} is not https: {url}")
        if LOOPBACK.match(host_match.group(2)):
            findings.append(f"packaged {key} is loopback: {url}")
    return findings


def pe_facts(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    machine, sections, _, _, _, optional_size = struct.unpack_from("<HHIIIH", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    image_end = 0
    table = optional + optional_size
    for i in range(sections):
        raw_size, raw_offset = struct.unpack_from("<II", data, table + 40 * i + 16)
        image_end = max(image_end, raw_offset + raw_size)
    return machine, magic, subsystem, image_end


def delay_loaded(data):
    """The DLL names in the image's delay import directory."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    plus = struct.unpack_from("<H", data, optional)[0] == 0x20B
    rva, size = struct.unpack_from("<II", data, optional + (112 if plus else 96) + 8 * DELAY_IMPORT)

    def offset_of(address):
        for i in range(sections):
            length, start, raw_size, raw_offset = struct.unpack_from("<IIII", data, optional + optional_size + 40 * i + 8)
            if start <= address < start + max(length, raw_size):
                return raw_offset + address - start
        return None

    names = set()
    for i in range(size // DESCRIPTOR_SIZE):
        descriptor = offset_of(rva + DESCRIPTOR_SIZE * i)
        name = offset_of(struct.unpack_from("<I", data, descriptor + 4)[0]) if descriptor is not None else None
        if name is None:
            break
        names.add(data[name:data.index(b"\0", name)].decode("ascii", "replace").lower())
    return names


def file_version(data):
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def main():
    if len(sys.argv) not in (3, 4) or sys.argv[3:] not in ([], ["--release"]):
        print(__doc__.splitlines()[2], file=sys.stderr)
        return 2
    exe, objdump, release = sys.argv[1], sys.argv[2], sys.argv[3:] == ["--release"]
    debug = os.path.join(os.path.dirname(exe), "HalvernSetup.debug")
    data = open(exe, "rb").read()
    results = []

    def check(ok, what):
        results.append(ok)
        if not ok:
            print("check-stub: FAILED: " + what)

    headers = subprocess.run([objdump, "-h", exe], capture_output=True, text=True).stdout
    names = [line.split()[1] for line in headers.splitlines() if line.split()[:1] and line.split()[0].isdigit()]
    check(bool(names) and not any(n.startswith(".debug") for n in names), "no .debug_* section in the image")
    check(".gnu_debuglink" in names and b"HalvernSetup.debug\0" in data, "debug link names HalvernSetup.debug")
    symbols = subprocess.run([objdump, "--syms", debug], capture_output=True, text=True).stdout \
        if os.path.exists(debug) else ""
    check("wWinMain" in symbols and "RunFrameworkCore" in symbols, "debug file lists the stub's functions")

    machine, magic, subsystem, image_end = pe_facts(data)
    check((machine, magic) in ((0x14C, 0x10B), (0x8664, 0x20B)), "PE32 (i686) or PE32+ (x86_64) image")
    check(subsystem == 2, "Windows GUI subsystem")
    check(b'level="requireAdministrator"' in data, "manifest requests administrator rights")
    check(b">true</dpiAware>" in data, "manifest declares DPI awareness")
    version = product_version()
    check(file_version(data) == tuple(int(part) for part in version.split(".")), "version resource " + version)
    profile = PROFILE.search(data)
    check(profile is not None, "build profile in the image")

    imports = subprocess.run([objdump, "-p", exe], capture_output=True, text=True).stdout
    dlls = {line.split("DLL Name:")[1].strip().lower() for line in imports.splitlines() if "DLL Name:" in line}
    check(bool(dlls) and dlls <= KNOWN_DLLS, "imports only known DLLs: " + ", ".join(sorted(dlls - KNOWN_DLLS)))
    delayed = delay_loaded(data)
    check(bool(delayed) and delayed <= DELAY_LOADED_DLLS,
          "delay-loads the other system DLLs only: " + (", ".join(sorted(delayed - DELAY_LOADED_DLLS)) or "none listed"))

    install_params = ""
    try:
        with zipfile.ZipFile(exe) as archive:
            entries = archive.namelist()
            if "config/installparams.js" in entries:
                install_params = archive.read("config/installparams.js").decode("utf-8", "replace")
            end = data.rfind(b"PK\x05\x06")
            size, offset = struct.unpack_from("<II", data, end + 12)
            start = end - size - offset
    except zipfile.BadZipFile:
        entries, start = [], -1
    check("Load.html" in entries, "UI package appended with Load.html at its root")
    # Only the COFF string table (long section names) may lie between the sections and the package.
    check(image_end <= start <= image_end + 4096, "UI package follows the image")

    if release:
        findings = release_findings(profile, install_params)
        check(not findings, "a release: " + "; ".join(findings))

    failed = results.count(False)
    profile_text = profile.group(0).decode() if profile else "no profile"
    print(f"check-stub: {os.path.basename(exe)}: {len(data)} bytes, image {image_end} bytes, {profile_text}")
    print(f"{len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
