#!/usr/bin/env python3
"""Appends the zipped UI package to a linked executable image, in place.

usage: package-ui.py EXECUTABLE PACKAGE_FOLDER

The archive's offsets count from its own first byte, so it reads the same wherever it sits in the
file; a signature added later goes after it. Entries are deflated at level 9, in name order, with
a fixed time stamp, so the same pages always give the same bytes. On failure the executable is
deleted, so that the next build links it again instead of shipping an image without its pages.
"""
import io
import os
import shutil
import sys
import zipfile

STAMP = (1980, 1, 1, 0, 0, 0)


def build_archive(folder):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        for root, dirs, files in os.walk(folder):
            dirs.sort()
            relative = os.path.relpath(root, folder)
            prefix = "" if relative == "." else relative.replace(os.sep, "/") + "/"
            if prefix:
                info = zipfile.ZipInfo(prefix, STAMP)
                info.external_attr = 0x10  # MS-DOS directory attribute
                archive.writestr(info, b"")
            for name in sorted(files):
                info = zipfile.ZipInfo(prefix + name, STAMP)
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(os.path.join(root, name), "rb") as source:
                    archive.writestr(info, source.read(), compresslevel=9)
    return buffer.getvalue()


def main():
    executable, folder = sys.argv[1], sys.argv[2]
    try:
        if not os.path.isfile(os.path.join(folder, "Load.html")):
            raise RuntimeError(f"{folder} has no Load.html")
        archive = build_archive(folder)
        with open(executable, "rb") as image:
            data = image.read()
        temporary = executable + ".packaging"
        with open(temporary, "wb") as output:
            output.write(data + archive)
        shutil.copymode(executable, temporary)
        os.replace(temporary, executable)
    except Exception as error:
        print(f"package-ui: {error}", file=sys.stderr)
        if os.path.exists(executable):
            os.remove(executable)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
