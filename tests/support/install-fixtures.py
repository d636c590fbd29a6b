#!/usr/bin/env python3
"""Installer packages for the install worker's tests, made with real tools on the build machine.

usage: install-fixtures.py FOLDER PROBE_EXE WXS...

FOLDER receives:
  install-<name>.msi      a package built by wixl from each install-<name>.wxs
  installer.exe           a copy of PROBE_EXE (tests/support/install-probe.cpp)
  setup-top.zip           PROBE_EXE as setup.exe at the top of the archive, with a read-me
  setup-nested.zip        PROBE_EXE as bin/setup.exe, below a folder
  no-setup.zip            an archive without setup.exe
  notes.txt               a file whose extension is no installer's
"""
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile


def main():
    folder, probe, sources = sys.argv[1], sys.argv[2], sys.argv[3:]
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    with tempfile.TemporaryDirectory() as work:
        with open(os.path.join(work, "readme.txt"), "w") as out:
            out.write("read me\n")
        for wxs in sources:
            name = os.path.splitext(os.path.basename(wxs))[0] + ".msi"
            subprocess.run(["wixl", "-o", os.path.join(folder, name), os.path.abspath(wxs)], cwd=work,
                           check=True, capture_output=True)
    shutil.copyfile(probe, os.path.join(folder, "installer.exe"))
    archives = {
        "setup-top.zip": [("setup.exe", probe), ("readme.txt", None)],
        "setup-nested.zip": [("bin/", None), ("bin/setup.exe", probe), ("readme.txt", None)],
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
