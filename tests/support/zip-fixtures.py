#!/usr/bin/env python3
"""Archives for the ZIP tests, made with real tools on the build machine, and the check of the
archives the Windows tests write.

usage: zip-fixtures.py make FOLDER STUB   writes the test archives into FOLDER and signed copies of
                                           the built stub (osslsigncode, throwaway certificate)
       zip-fixtures.py check FOLDER       reads FOLDER/written/*.zip back with Python's zipfile
       zip-fixtures.py package-ui SCRIPT  checks which page file names SCRIPT (package-ui.py) packs
                                           and the install parameters it sets in the archive
"""
import io
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

STAMP = (2020, 5, 17, 12, 30, 0)


def write_zip(path, entries, compression=zipfile.ZIP_DEFLATED, comment=b""):
    """entries: (name, bytes) pairs; a name ending in "/" is a directory entry."""
    with zipfile.ZipFile(path, "w", compression) as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, STAMP)
            info.compress_type = zipfile.ZIP_STORED if name.endswith("/") else compression
            archive.writestr(info, data)
        archive.comment = comment


def zip_bytes(entries, comment=b""):
    buffer = io.BytesIO()
    write_zip(buffer, entries, comment=comment)
    return buffer.getvalue()


def zip64_bytes(entries):
    """An archive as zipfile writes one beyond 2 GiB: its end in a ZIP64 end record, and the sizes
    and offsets in ZIP64 fields with the 32-bit fields marked, here every one it can put there."""
    limit = zipfile.ZIP64_LIMIT
    zipfile.ZIP64_LIMIT = 0
    try:
        data = zip_bytes(entries)
    finally:
        zipfile.ZIP64_LIMIT = limit
    # The tests hold only while zipfile writes what they are meant to read: a locator in front of
    # the end record, the sizes of every entry with data marked in its central record.
    with zipfile.ZipFile(io.BytesIO(data)) as archive:
        at, marked = archive.start_dir, True
        for info in archive.infolist():
            marked &= data[at + 20:at + 28] == b"\xff" * 8 or not info.file_size
            at += 46 + sum(struct.unpack_from("<HHH", data, at + 28))
    if data[-42:-38] != b"PK\x06\x07" or not marked:
        raise SystemExit("zipfile no longer writes ZIP64 records for the fixtures")
    return data


def fake_image(size):
    """Bytes standing in for an executable image in front of an archive."""
    return b"MZ" + bytes((i * 7 + 3) % 251 for i in range(size - 2))


def local_data_offset(data, name):
    """File offset of an entry's data, from its local header."""
    with zipfile.ZipFile(io.BytesIO(data)) as archive:
        info = archive.getinfo(name)
    name_length, extra_length = struct.unpack_from("<HH", data, info.header_offset + 26)
    return info.header_offset + 30 + name_length + extra_length, info.compress_size


def make_archives(folder):
    text = lambda s: s.encode("ascii")

    write_zip(os.path.join(folder, "dir-then-file.zip"), [("a/", b""), ("a/b.txt", text("inside a"))])
    write_zip(os.path.join(folder, "no-dir-entry.zip"), [("x/y/z.txt", text("deep"))])
    # zipfile writes names outside ASCII in UTF-8 and says so in the entry's flags.
    write_zip(os.path.join(folder, "utf8-names.zip"),
              [("\u00c4\u00d6\u00dc\u00df\u00e4\u00f6\u00fc.txt", text("umlauts")),
               ("caf\u00e9/men\u00fc.txt", text("menu"))])
    write_zip(os.path.join(folder, "fifty.zip"),
              [(f"f{i:02d}.txt", text(f"entry {i}\n" * (i + 1))) for i in range(50)])

    package = [("setup.exe", text("MZ setup stand-in")), ("data.bin", bytes(range(256)) * 40)]
    write_zip(os.path.join(folder, "Package.ZIP"), package)
    write_zip(os.path.join(folder, "package.zip.exe"), package)
    write_zip(os.path.join(folder, "setup-in-subfolder.zip"),
              [("readme.txt", text("read me")), ("bin/", b""), ("bin/tools/setup.exe", text("MZ deep setup"))])
    write_zip(os.path.join(folder, "append-base.zip"), [("page.html", text("<p>old</p>")), ("css/", b"")],
              comment=b"kept until an entry is added")
    write_zip(os.path.join(folder, "no-setup.zip"), [("readme.txt", text("no setup here"))])
    # 2 MiB that deflate to about 2 KiB: more than the small volume holds.
    write_zip(os.path.join(folder, "big-zeros.zip"),
              [("payload.bin", bytes(2 * 1024 * 1024)), ("setup.exe", text("MZ after the payload"))])
    write_zip(os.path.join(folder, "bzip2.zip"), [("packed.txt", text("bzip2 " * 100))],
              compression=zipfile.ZIP_BZIP2)

    # Appended to an image, offsets relative to the archive's own start, then a 64 KiB comment.
    with open(os.path.join(folder, "exe-with-comment.exe"), "wb") as out:
        out.write(fake_image(100000))
        out.write(zip_bytes([("page.html", text("<p>page</p>")), ("css/", b""), ("css/site.css", text("p{}"))],
                            comment=b"c" * 65535))
    # Appended by zipfile's append mode: offsets count from the start of the file.
    absolute = os.path.join(folder, "exe-absolute-offsets.exe")
    with open(absolute, "wb") as out:
        out.write(fake_image(50000))
    with zipfile.ZipFile(absolute, "a", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr(zipfile.ZipInfo("page.html", STAMP), text("<p>absolute</p>"))

    # ZIP64: sizes and offsets in ZIP64 fields, behind an image too; more entries than the end
    # record can count; an entry 5 GiB into a sparse file.
    zip64 = zip64_bytes([("first.txt", text("first " * 400)), ("d/", b""), ("d/second.txt", text("second"))])
    with open(os.path.join(folder, "zip64.zip"), "wb") as out:
        out.write(zip64)
    with open(os.path.join(folder, "exe-zip64.exe"), "wb") as out:
        out.write(fake_image(100000) + zip64)
    many = zip_bytes([(f"{i}", b"") for i in range(70000)] + [("last.txt", text("entry 70001"))])
    with open(os.path.join(folder, "zip64-entries.zip"), "wb") as out:
        out.write(many)
    with zipfile.ZipFile(os.path.join(folder, "zip64-far.zip"), "w") as archive:
        archive.writestr(zipfile.ZipInfo("near.txt", STAMP), text("at the start"))
        archive.start_dir = 5 << 30  # where zipfile writes the next entry
        archive.writestr(zipfile.ZipInfo("far.txt", STAMP), text("5 GiB further"))

    whole = zip_bytes([("one.txt", text("one " * 500)), ("two.txt", text("two " * 500)),
                       ("three.txt", text("three " * 500))])
    # The end record counts two of the three records its directory holds.
    undercounted = bytearray(zip_bytes([(f"file{i}.txt", text(f"file {i}")) for i in (1, 2, 3)]))
    struct.pack_into("<HH", undercounted, len(undercounted) - 22 + 8, 2, 2)
    with open(os.path.join(folder, "undercounted.zip"), "wb") as out:
        out.write(undercounted)
    with open(os.path.join(folder, "truncated.zip"), "wb") as out:
        out.write(whole[: len(whole) // 2])

    # A damaged deflate stream in the second of three entries.
    entries = [("first.txt", text("first " * 400)), ("second.txt", bytes(range(256)) * 64),
               ("third.txt", text("third " * 400))]
    damaged = bytearray(zip_bytes(entries))
    offset, size = local_data_offset(bytes(damaged), "second.txt")
    for i in range(size // 3, size // 3 + 8):
        damaged[offset + i] ^= 0x5A
    with open(os.path.join(folder, "corrupt-deflate.zip"), "wb") as out:
        out.write(damaged)
    # Stored data with one changed byte: only the CRC can tell.
    buffer = io.BytesIO()
    write_zip(buffer, entries, compression=zipfile.ZIP_STORED)
    damaged = bytearray(buffer.getvalue())
    offset, size = local_data_offset(bytes(damaged), "second.txt")
    damaged[offset + size // 2] ^= 0x01
    with open(os.path.join(folder, "crc-mismatch.zip"), "wb") as out:
        out.write(damaged)

    # An encrypted entry after a plain one, with the zip tool (traditional encryption).
    with tempfile.TemporaryDirectory() as work:
        for name, content in (("plain.txt", "plain"), ("secret.txt", "secret")):
            with open(os.path.join(work, name), "w") as out:
                out.write(content)
        target = os.path.join(folder, "encrypted.zip")
        subprocess.run(["zip", "-q", "-X", target, "plain.txt"], cwd=work, check=True)
        subprocess.run(["zip", "-q", "-X", "-P", "password", target, "secret.txt"], cwd=work, check=True)

    # Names that lead outside the destination; each archive starts with a harmless entry.
    escapes = {
        "escape-parent.zip": "../halvern-escape-parent.txt",
        "escape-nested.zip": "a/../../halvern-escape-nested.txt",
        "escape-inner-dotdot.zip": "a/../halvern-escape-inner.txt",
        "escape-backslash.zip": "..\\halvern-escape-backslash.txt",
        "escape-drive.zip": "C:/halvern-escape-drive.txt",
        "escape-drive-relative.zip": "C:halvern-escape-drive-relative.txt",
        "escape-rooted.zip": "/halvern-escape-rooted.txt",
        "escape-unc.zip": "//localhost/C$/halvern-escape-unc.txt",
    }
    for archive_name, entry_name in escapes.items():
        write_zip(os.path.join(folder, archive_name), [("ok.txt", text("ok")), (entry_name, text("escaped"))])


def make_signed_stubs(folder, stub):
    with tempfile.TemporaryDirectory() as work:
        key, cert = os.path.join(work, "key.pem"), os.path.join(work, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                        "-out", cert, "-subj", "/CN=Halvern Test Signing", "-days", "2"],
                       check=True, capture_output=True)
        sign = ["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", stub]
        target = os.path.join(folder, "HalvernSetup-signed.exe")
        subprocess.run(sign + ["-out", target], check=True, capture_output=True)
        subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", target],
                       check=True, capture_output=True)

        # A certificate table of about 30000 bytes: extra certificates carried in the signature.
        extra = os.path.join(work, "extra.pem")
        with open(extra, "w") as out:
            while out.tell() * 3 // 4 < 30000:
                out.write(subprocess.run(["openssl", "req", "-x509", "-key", key, "-subj", f"/CN=Extra {out.tell()}",
                                          "-days", "2"], check=True, capture_output=True, text=True).stdout)
        target = os.path.join(folder, "HalvernSetup-signed-30k.exe")
        subprocess.run(sign + ["-ac", extra, "-out", target], check=True, capture_output=True)
        grown = os.path.getsize(target) - os.path.getsize(stub)
        if not 28000 <= grown < 60000:
            raise SystemExit(f"signing added {grown} bytes, expected about 30000")


def check_written(folder):
    """Every file the tests left in FOLDER/written must be listed here and read back as listed."""
    written = os.path.join(folder, "written")
    appended = (b"new.txt", b"appended entry\r\n")
    expected = {
        "log-twice.zip": [(b"log.txt", b"first run\r\n"), (b"log.txt", b"second run, longer\r\n" * 50)],
        "appended.zip": [(b"page.html", b"<p>old</p>"), (b"css/", b""), appended],
        "appended-zip64.zip": [(b"first.txt", b"first " * 400), (b"d/", b""), (b"d/second.txt", b"second"), appended],
        "appended-stub.exe": [(b"page.html", b"<p>page</p>"), (b"css/", b""), (b"css/site.css", b"p{}"), appended],
        "padded-directory.zip": [(b"first.txt", b"first entry"), (b"second.txt", b"second entry"), appended],
        "utf8-names.zip": [(name.encode("utf-8"), b"named")
                           for name in ("r\u00e9sum\u00e9.txt", "snow\u2603.txt", "macron\u0101.txt")],
    }
    failures = [f"{name}: not written" for name in expected if not os.path.exists(os.path.join(written, name))]
    for name in sorted(os.listdir(written)):
        if name not in expected:
            failures.append(f"{name}: written but not checked")
            continue
        try:
            with zipfile.ZipFile(os.path.join(written, name)) as archive:
                bad = archive.testzip()
                # Names as stored: zipfile decodes names without the UTF-8 flag as code page 437.
                got = [(info.orig_filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437"),
                        archive.read(info)) for info in archive.infolist()]
                if bad is not None:
                    failures.append(f"{name}: bad CRC in {bad}")
                # The flag says UTF-8 exactly where a name leaves ASCII.
                for info in archive.infolist():
                    if bool(info.flag_bits & 0x800) == info.orig_filename.isascii():
                        failures.append(f"{name}: UTF-8 flag {info.flag_bits & 0x800:#x} on {info.orig_filename!r}")
                if got != expected[name]:
                    failures.append(f"{name}: entries {[(n, len(d)) for n, d in got]}")
        except (OSError, zipfile.BadZipFile) as error:
            failures.append(f"{name}: {error}")
    for failure in failures:
        print(failure)
    print("written archives: " + ("FAILED" if failures else f"{len(expected)} read back"))
    return 1 if failures else 0


def check_package_ui(script):
    """Page file names must reach the stub as they are: names outside ASCII go into the archive as
    UTF-8 with the entry's UTF-8 flag, which the stub reads them by; names Windows does not allow
    are refused, naming them."""
    image = fake_image(4096)
    refused = ("a:b.txt", "what?.html", "tab\t.txt", "js/aux.js", "con .txt", "conin$.js", "page.")
    accepted = ("css/\u00e9.css", "caf\u00e9/site.css", "\u00c4\u00d6\u00dc\u00df\u00e4\u00f6\u00fc.html")
    # The packager adds the pages' libraries from the npm modules to every package.
    packed = ["Load.html", "common/", "common/js/", "common/js/jquery-ui.js", "common/js/jquery.min.js", "css/",
              "css/site.css"]
    failures = []
    for extra in (None,) + accepted + refused:
        with tempfile.TemporaryDirectory() as work:
            pages, executable = os.path.join(work, "pages"), os.path.join(work, "stub.exe")
            files = ["Load.html", "css/site.css"] + ([extra] if extra else [])
            for name in files:
                os.makedirs(os.path.dirname(os.path.join(pages, name)), exist_ok=True)
                with open(os.path.join(pages, name), "w") as out:
                    out.write(name)
            with open(executable, "wb") as out:
                out.write(image)
            run = subprocess.run([sys.executable, script, executable, pages], capture_output=True, text=True)
            if extra in refused:
                if run.returncode == 0 or os.path.exists(executable) or repr(extra) not in run.stderr:
                    failures.append(f"{extra!r}: exit {run.returncode}, stderr {run.stderr.strip()!r}")
                continue
            if run.returncode != 0:
                failures.append(f"{extra!r}: exit {run.returncode}, stderr {run.stderr.strip()!r}")
                continue
            with open(executable, "rb") as packed_file, zipfile.ZipFile(packed_file) as archive:
                entries = [(info.filename, bool(info.flag_bits & 0x800)) for info in archive.infolist()]
            expected = set(packed)
            if extra:
                expected |= {extra, extra.rsplit("/", 1)[0] + "/"} if "/" in extra else {extra}
            if sorted(name for name, _ in entries) != sorted(expected):
                failures.append(f"{extra!r}: packed {[name for name, _ in entries]}")
            failures += [f"{name!r}: UTF-8 flag {flag}" for name, flag in entries if flag == name.isascii()]
    for failure in failures:
        print(failure)
    print("package-ui names: " + ("FAILED" if failures else "checked"))
    return 1 if failures else 0


def check_package_settings(script):
    """--download-url and --thankyou-url reach the pages as the exact strings given, in the
    archive's installparams.js only; the folder and the other members keep theirs."""
    source = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(script))),
                          "ui-package", "config", "installparams.js")
    original = open(source, "rb").read()

    def install_params(script_text):
        """installParams as the script defines it, run by node: the judge of the literals."""
        run = subprocess.run(["node", "-e", "process.stdout.write(JSON.stringify(require('vm').runInNewContext("
                              "require('fs').readFileSync(0, 'utf8') + ';installParams')))"],
                             input=script_text, capture_output=True)
        return json.loads(run.stdout) if run.returncode == 0 else run.stderr.decode(errors="replace")

    own = install_params(original)
    if not isinstance(own, dict):
        print(f"package-ui settings: FAILED, {source} does not run: {own}")
        return 1
    placeholders = "http://127.0.0.1:28080/setup/${lang}/Halvern_${osbits}.msi"
    # Quotes, backslashes, a line break and U+2028 (a line end inside an ECMAScript 5 string).
    awkward = 'http://h/t?q="a"&b=\\x\\\n\u00e9\u2028\'end'
    failures = []
    for options, changes in (([], {}),
                             (["--download-url=" + placeholders], {"DOWNLOAD_URL": placeholders}),
                             (["--thankyou-url=" + awkward, "--download-url="], {"TYP_URL": awkward})):
        with tempfile.TemporaryDirectory() as work:
            pages, executable = os.path.join(work, "pages"), os.path.join(work, "stub.exe")
            os.makedirs(os.path.join(pages, "config"))
            open(os.path.join(pages, "Load.html"), "w").close()
            shutil.copy(source, os.path.join(pages, "config"))
            with open(executable, "wb") as out:
                out.write(fake_image(4096))
            run = subprocess.run([sys.executable, script, executable, pages, *options], capture_output=True, text=True)
            if run.returncode != 0:
                failures.append(f"{options}: exit {run.returncode}, {run.stderr.strip()}")
                continue
            with zipfile.ZipFile(executable) as archive:
                packed = archive.read("config/installparams.js")
            got, wanted = install_params(packed), dict(own, **changes)
            if got != wanted:
                failures.append(f"{options}: installParams {got!r}, wanted {wanted!r}")
            if original.isascii() and not packed.isascii():
                failures.append(f"{options}: the archive's installparams.js is no longer ASCII")
            if not changes and packed != original:
                failures.append("without settings the archive's installparams.js differs from the folder's")
            if open(os.path.join(pages, "config", "installparams.js"), "rb").read() != original:
                failures.append(f"{options}: the folder's installparams.js was changed")
    for failure in failures:
        print(failure)
    print("package-ui settings: " + ("FAILED" if failures else "checked"))
    return 1 if failures else 0


def main():
    command, folder = sys.argv[1], sys.argv[2]
    if command == "check":
        return check_written(folder)
    if command == "package-ui":
        return check_package_ui(folder) | check_package_settings(folder)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "written"))
    make_archives(folder)
    make_signed_stubs(folder, sys.argv[3])
    print(f"zip fixtures ready in {folder}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
