#!/usr/bin/env python3
"""Installer packages for the install worker's tests, made with real tools on the build machine.

usage: install-fixtures.py FOLDER PROBE_EXE WXS...

FOLDER receives, every package and program signed by the tests' publisher, whose key the local
build pins (tests/support/publisher):
  install-<name>.msi      a package built by wixl from each install-<name>.wxs
  installer.exe           PROBE_EXE (tests/support/install-probe.cpp)
  setup-top.zip           the signed PROBE_EXE as setup.exe at the top of the archive, with a read-me
  setup-nested.zip        the same as bin/setup.exe, below a folder
  no-setup.zip            an archive without setup.exe
  notes.txt               a file whose extension is no installer's
and what the stub must refuse to run: installer-unsigned.exe, installer-other.exe (signed by
another publisher), installer-changed.exe (a byte changed after signing), setup-unsigned.zip (an
unsigned setup.exe), install-good-unsigned.msi and install-good-other.msi.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

PINNED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "publisher", "test-publisher")


def sign(source, target, key, certificate):
    subprocess.run(["osslsigncode", "sign", "-certs", certificate, "-key", key, "-h", "sha256", "-in", source,
                    "-out", target], check=True, capture_output=True)


def main():
    folder, probe, sources = sys.argv[1], sys.argv[2], sys.argv[3:]
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    with tempfile.TemporaryDirectory() as work:
        other = (os.path.join(work, "other.key"), os.path.join(work, "other.pem"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", other[0], "-out",
                        other[1], "-days", "2", "-subj", "/CN=Halvern Install Test Other Publisher",
                        "-addext", "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
        pinned = (PINNED + ".key", PINNED + ".pem")
        with open(os.path.join(work, "readme.txt"), "w") as out:
            out.write("read me\n")
        for wxs in sources:
            name = os.path.splitext(os.path.basename(wxs))[0]
            unsigned = os.path.join(work, name + ".msi")
            subprocess.run(["wixl", "-o", unsigned, os.path.abspath(wxs)], cwd=work, check=True, capture_output=True)
            sign(unsigned, os.path.join(folder, name + ".msi"), *pinned)
            if name == "install-good":
                shutil.copyfile(unsigned, os.path.join(folder, name + "-unsigned.msi"))
                sign(unsigned, os.path.join(folder, name + "-other.msi"), *other)
        signed = os.path.join(folder, "installer.exe")
        sign(probe, signed, *pinned)
        shutil.copyfile(probe, os.path.join(folder, "installer-unsigned.exe"))
        sign(probe, os.path.join(folder, "installer-other.exe"), *other)
        with open(signed, "rb") as f:
            changed = bytearray(f.read())
        changed[0x50] ^= 0x20  # in the DOS stub's text: still a program, no longer the signed one
        with open(os.path.join(folder, "installer-changed.exe"), "wb") as out:
            out.write(changed)
    archives = {
        "setup-top.zip": [("setup.exe", signed), ("readme.txt", None)],
        "setup-nested.zip": [("bin/", None), ("bin/setup.exe", signed), ("readme.txt", None)],
        "setup-unsigned.zip": [("setup.exe", probe)],
        "no-setup.zip": [("readme.txt", None)],
    }
    for name, entries in archives.items():
        with zipfile.ZipFile(os.path.join(folder, name), "w", zipfile.ZIP_DEFLATED) as archive:
            for entry, source in entries:
                if entry.endswith("/"):
                    archive.writestr(entry, b"")
                elif source:
                    archive.write(source, entry)
                else:
                    archive.writestr(entry, b"read me\r\n")
    with open(os.path.join(folder, "notes.txt"), "wb") as out:
        out.write(b"not an installer\r\n")
    print(f"install fixtures ready in {folder}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
