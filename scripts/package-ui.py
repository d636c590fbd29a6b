#!/usr/bin/env python3
"""Appends the zipped UI package to a linked executable image, in place.

usage: package-ui.py EXECUTABLE PACKAGE_FOLDER [--download-url=URL] [--thankyou-url=URL]
       package-ui.py --unpacked OUTPUT_FOLDER PACKAGE_FOLDER [--download-url=URL] [--thankyou-url=URL]
       package-ui.py --libraries PACKAGE_FOLDER

All first copy the libraries the pages use from the npm modules (installed by `npm ci` at the
repository root, versions pinned in package-lock.json) into the package's "common/js/": jQuery,
and of jQuery UI only the widget factory and the progress bar, which keeps the package small.
The last form stops there (the page tests load the pages from the source folder). The second
writes the package's files, as the archive holds them, into a folder instead of appending it: the
pages that a run serves from a folder (the page bridge) are then the packaged ones.

The archive's offsets count from its own first byte, so it reads the same wherever it sits in the
file; a signature added later goes after it. Entries are deflated at level 9, in name order, with
a fixed time stamp, so the same pages always give the same bytes. On failure the executable is
deleted, so that the next build links it again instead of shipping an image without its pages.

--download-url and --thankyou-url set DOWNLOAD_URL and TYP_URL of config/installparams.js in the
archive only (the folder keeps its own); an empty value keeps the package's. Their "${name}"
placeholders are left to the pages.

Names outside ASCII go into the archive in UTF-8, with the entry's UTF-8 flag (zipfile sets it),
which the stub reads them by on any machine. Names Windows cannot create (reserved characters,
device names, a trailing dot or space, control characters) fail the build.
"""
import argparse
import io
import json
import os
import re
import shutil
import sys
import zipfile

STAMP = (1980, 1, 1, 0, 0, 0)
# Characters Windows does not allow in a file name, and names it maps to devices.
FORBIDDEN = re.compile(r'[<>:"|?*\\]')
DEVICE = re.compile(r"(CON|PRN|AUX|NUL|CONIN\$|CONOUT\$|COM[1-9]|LPT[1-9]) *(\..*)?", re.IGNORECASE)


ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MODULES = os.path.join(ROOT, "node_modules")
# Package file below common/js/: the module files it is made of, in order.
LIBRARIES = {
    "jquery.min.js": ["jquery/dist/jquery.min.js"],
    "jquery-ui.js": ["jquery-ui/ui/version.js", "jquery-ui/ui/widget.js", "jquery-ui/ui/widgets/progressbar.js"],
}


def copy_libraries(folder):
    target = os.path.join(folder, "common", "js")
    os.makedirs(target, exist_ok=True)
    for name, parts in LIBRARIES.items():
        data = b""
        for part in parts:
            path = os.path.join(MODULES, part)
            if not os.path.isfile(path):
                raise RuntimeError(f"{path} is missing: run `npm ci` in {ROOT}")
            with open(path, "rb") as source:
                data += source.read().rstrip(b"\n") + b"\n"
        output = os.path.join(target, name)
        if not os.path.isfile(output) or open(output, "rb").read() != data:
            with open(output, "wb") as copy:
                copy.write(data)


def check_name(relative):
    """relative: a path below the package folder, "/" between its elements."""
    for element in relative.rstrip("/").split("/"):
        if (not element.isprintable() or FORBIDDEN.search(element) or element.endswith((".", " "))
                or DEVICE.fullmatch(element)):
            raise RuntimeError(f"{relative!r}: page file names must be printable names that Windows "
                               f"allows; rename it")


def set_install_params(text, values):
    """text (installparams.js) with each named member's string replaced by values[member], written
    as a JSON string: a valid ECMAScript 5 literal whatever it holds, non-ASCII escaped."""
    for member, value in values.items():
        pattern = re.compile(r'^(\s*%s\s*:\s*)"(?:[^"\\\n]|\\.)*"' % member, re.MULTILINE)
        text, count = pattern.subn(lambda match: match.group(1) + json.dumps(value), text)
        if count != 1:
            raise RuntimeError(f"config/installparams.js has no single string member {member} to set")
    return text


def package_items(folder):
    """(name in the archive, file path or None for a folder entry), in archive order."""
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        relative = os.path.relpath(root, folder)
        prefix = "" if relative == "." else relative.replace(os.sep, "/") + "/"
        if prefix:
            yield prefix, None
        for name in sorted(files):
            yield prefix + name, os.path.join(root, name)


def build_archive(folder, install_params):
    """install_params: {member of installparams.js: value} to set in the archive's copy."""
    items = list(package_items(folder))
    # Files first, so that a bad folder name is reported with a file in it.
    for name, path in sorted(items, key=lambda item: item[1] is None):
        check_name(name)
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        for name, path in items:
            info = zipfile.ZipInfo(name, STAMP)
            if path is None:
                info.external_attr = 0x10  # MS-DOS directory attribute
                archive.writestr(info, b"")
                continue
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as source:
                data = source.read()
            if name == "config/installparams.js" and install_params:
                data = set_install_params(data.decode("utf-8"), install_params).encode("utf-8")
            archive.writestr(info, data, compresslevel=9)
    return buffer.getvalue()


def main():
    if sys.argv[1] == "--libraries":
        try:
            copy_libraries(sys.argv[2])
        except Exception as error:
            print(f"package-ui: {error}", file=sys.stderr)
            return 1
        return 0
    parser = argparse.ArgumentParser(description="Appends the zipped UI package to an executable.")
    parser.add_argument("--unpacked", action="store_true")
    parser.add_argument("executable")
    parser.add_argument("folder")
    parser.add_argument("--download-url", default="")
    parser.add_argument("--thankyou-url", default="")
    args = parser.parse_args()
    executable, folder = args.executable, args.folder
    install_params = {member: value for member, value in (("DOWNLOAD_URL", args.download_url),
                                                          ("TYP_URL", args.thankyou_url)) if value}
    try:
        copy_libraries(folder)
        if not os.path.isfile(os.path.join(folder, "Load.html")):
            raise RuntimeError(f"{folder} has no Load.html")
        archive = build_archive(folder, install_params)
        if args.unpacked:
            shutil.rmtree(executable, ignore_errors=True)
            zipfile.ZipFile(io.BytesIO(archive)).extractall(executable)
            return 0
        with open(executable, "rb") as image:
            data = image.read()
        temporary = executable + ".packaging"
        with open(temporary, "wb") as output:
            output.write(data + archive)
        shutil.copymode(executable, temporary)
        os.replace(temporary, executable)
    except Exception as error:
        print(f"package-ui: {error}", file=sys.stderr)
        if os.path.isfile(executable) and not args.unpacked:
            os.remove(executable)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
