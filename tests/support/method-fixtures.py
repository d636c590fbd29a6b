#!/usr/bin/env python3
"""Files for the registry, file and path method tests, made with real tools on the build machine.

usage: method-fixtures.py make FOLDER SCRIPT_HOST WXS STUB   writes the fixtures into FOLDER
       method-fixtures.py clean FOLDER                       removes the sparse 5 GiB file

FOLDER receives:
  big.bin                  a sparse file of 5 GiB (no disk space used)
  plain.txt                a text file
  probe.msi                an installer package built by wixl from WXS (ProductVersion 3.14.159.26)
  host-*.exe               copies of SCRIPT_HOST signed by osslsigncode with a throwaway
                           certificate, most with a text after the first certificate entry
  probe32.exe, probe64.exe tiny 32-bit and 64-bit programs, signed, with the tail text "abc"
  not-pe.txt, truncated.exe inputs that are not whole executables
  product-*.msi            Halvern packages built by wixl from the product-*.wxs beside WXS, signed
                           by the tests' publisher (product-*-unsigned.msi as built): two
                           installations carrying halvern64.exe and en-US/halvern64.exe.mui (a
                           resource-only library with the product's strings), and a package
  bootstrapper-*.exe       a stand-in for the WebView2 bootstrapper (32-bit and 64-bit): signed
                           by a publisher of a throwaway certificate authority (bootstrapper-ca.der,
                           for the test to trust), signed by a second publisher of that authority
                           ("other"), unsigned, self-signed, and signed with a changed byte; and
                           signed by the first publisher with a UI package planted after its
                           certificate ("planted"), where the signature does not reach; and
                           signed by the tests' own publisher, whose key the local build pins
                           ("pinned", "pinned-changed", "pinned-planted";
                           tests/support/publisher, self-signed, trusted by the tests' prefix)
  stub-*.exe               STUB (the built HalvernSetup.exe with its UI package) in the same signed
                           forms, its "planted" one carrying its own package and the planted one;
                           "planted-past-end" is that file with its certificate directory entry
                           pointing past the end of the file
"""
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

# The release command puts the text after the first certificate the same way.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from release import certificate_directory, with_tail

BIG_SIZE = 5 * 1024 * 1024 * 1024
PINNED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "publisher", "test-publisher")


def patched(signed, table_offset=None, first_length=None):
    data = bytearray(signed)
    entry = certificate_directory(data)
    offset = struct.unpack_from("<I", data, entry)[0]
    if table_offset is not None:
        struct.pack_into("<I", data, entry, table_offset)
    if first_length is not None:
        struct.pack_into("<I", data, offset, first_length)
    return bytes(data)


def sign(source, target, work):
    key, cert = os.path.join(work, "key.pem"), os.path.join(work, "cert.pem")
    if not os.path.exists(key):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                        "-out", cert, "-subj", "/CN=Halvern Method Test Signing", "-days", "2"],
                       check=True, capture_output=True)
    if os.path.exists(target):
        os.remove(target)
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", source, "-out", target],
                   check=True, capture_output=True)
    with open(target, "rb") as f:
        return f.read()


def write(folder, name, data):
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def make_signed(folder, script_host, work):
    signed = sign(script_host, os.path.join(folder, "host-signed.exe"), work)
    tails = {
        "host-tail-abc.exe": b"abc",
        "host-tail-hello.exe": b"Hello",
        "host-tail-long.exe": b"Hello, signed world",
        "host-tail-utf8.exe": "Grüße, 世界".encode("utf-8"),
        "host-tail-invalid.exe": b"ab\xc3\x28cd",
        "host-tail-nul.exe": b"ab\x00cd",
        "host-tail-limit.exe": b"y" * 100000,
        "host-tail-huge.exe": b"z" * 100001,
    }
    for name, tail in tails.items():
        write(folder, name, with_tail(signed, tail))
    write(folder, "host-table-past-end.exe", patched(with_tail(signed, b"abc"), table_offset=len(signed) + 4096))
    tailed = with_tail(signed, b"abc")
    table_size = struct.unpack_from("<I", tailed, certificate_directory(tailed) + 4)[0]
    write(folder, "host-first-too-long.exe", patched(tailed, first_length=table_size + 8))
    write(folder, "truncated.exe", signed[:200])
    write(folder, "not-pe.txt", b"plain text, not an executable\r\n")

    # The shipped stub is a 32-bit image and the test programs may be 64-bit: one of each layout.
    source = os.path.join(work, "probe.c")
    with open(source, "w") as out:
        out.write("int main(void) { return 0; }\n")
    for bits, compiler in (("32", "i686-w64-mingw32-gcc-posix"), ("64", "x86_64-w64-mingw32-gcc-posix")):
        program = os.path.join(work, f"probe{bits}-unsigned.exe")
        subprocess.run([compiler, "-O2", "-s", "-o", program, source], check=True, capture_output=True)
        probe = sign(program, os.path.join(work, f"probe{bits}-signed.exe"), work)
        write(folder, f"probe{bits}.exe", with_tail(probe, b"abc"))


def make_package(folder, wxs, work):
    with open(os.path.join(work, "readme.txt"), "w") as out:
        out.write("read me\n")
    subprocess.run(["wixl", "-o", os.path.join(folder, "probe.msi"), os.path.abspath(wxs)], cwd=work,
                   check=True, capture_output=True)


def planted_package():
    """Pages of someone else's, put into a signed file's certificate table after the certificate:
    bytes the signature does not cover, which a stub must never take for its UI package."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        archive.writestr("Load.html", "<html><body>planted page</body></html>")
        archive.writestr("planted-marker.txt", "planted")
    return buffer.getvalue()


MUI_STRINGS = {39901: "hv-pid-0042", 39902: "77.0.16479.7", 39904: "Vid-From-Mui"}

# Registers the runtime the way the real bootstrapper does when it installs.
BOOTSTRAPPER = r"""
#include <windows.h>
#include <string.h>
int WINAPI wWinMain(HINSTANCE a, HINSTANCE b, LPWSTR line, int show) {
  HKEY key;
  if (!wcsstr(line, L"/install")) return 2;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                      L"SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}", 0, NULL,
                      0, KEY_SET_VALUE | KEY_WOW64_32KEY, NULL, &key, NULL) != ERROR_SUCCESS)
    return 1;
  RegSetValueExW(key, L"pv", 0, REG_SZ, (const BYTE*)L"120.0.2210.91", sizeof(L"120.0.2210.91"));
  RegCloseKey(key);
  return 0;
}
"""

COMPILERS = (("32", "i686-w64-mingw32-gcc-posix", "i686-w64-mingw32-windres"),
             ("64", "x86_64-w64-mingw32-gcc-posix", "x86_64-w64-mingw32-windres"))


def make_product_packages(folder, wxs_folder, work):
    os.makedirs(os.path.join(work, "en-US"), exist_ok=True)
    rc, dll = os.path.join(work, "mui.rc"), os.path.join(work, "mui.c")
    with open(rc, "w") as out:
        out.write("STRINGTABLE\nBEGIN\n" + "".join(f'  {k} "{v}"\n' for k, v in MUI_STRINGS.items()) + "END\n")
    with open(dll, "w") as out:
        out.write("int __stdcall DllMainCRTStartup(void* a, unsigned r, void* p) { return 1; }\n")
    _, compiler, windres = COMPILERS[0]
    subprocess.run([windres, rc, "-O", "coff", "-o", rc + ".o"], check=True, capture_output=True)
    subprocess.run([compiler, "-shared", "-nostdlib", "-s", "-Wl,-e,_DllMainCRTStartup@12", "-o",
                    os.path.join(work, "en-US", "halvern64.exe.mui"), dll, rc + ".o"], check=True, capture_output=True)
    write(work, "halvern64.exe", b"MZ stand-in for the product's program\r\n")
    for wxs in sorted(os.listdir(wxs_folder)):
        if wxs.startswith("product-") and wxs.endswith(".wxs"):
            unsigned = os.path.join(folder, wxs[:-4] + "-unsigned.msi")
            subprocess.run(["wixl", "-o", unsigned, os.path.join(wxs_folder, wxs)], cwd=work, check=True,
                           capture_output=True)
            subprocess.run(["osslsigncode", "sign", "-certs", PINNED + ".pem", "-key", PINNED + ".key", "-h", "sha256",
                            "-in", unsigned, "-out", os.path.join(folder, wxs[:-4] + ".msi")], check=True,
                           capture_output=True)


def make_bootstrappers(folder, stub, work):
    ca_key, ca = os.path.join(work, "ca.key"), os.path.join(work, "ca.pem")
    openssl = lambda *args: subprocess.run(["openssl", *args], check=True, capture_output=True)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key, "-out", ca, "-days", "2",
            "-subj", "/CN=Halvern Test Root Authority", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("x509", "-in", ca, "-outform", "DER", "-out", os.path.join(folder, "bootstrapper-ca.der"))
    extensions = os.path.join(work, "pub.ext")
    with open(extensions, "w") as out:
        out.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")

    def publisher(name, subject):
        """A code-signing key of the authority: the key and the certificate chain to sign with."""
        key, csr, cert, chain = (os.path.join(work, name + n) for n in (".key", ".csr", ".pem", "-chain.pem"))
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr, "-subj", subject)
        openssl("x509", "-req", "-in", csr, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial", "-out", cert,
                "-days", "2", "-extfile", extensions)
        with open(chain, "w") as out:
            out.write(open(cert).read() + open(ca).read())
        return key, chain

    signers = {"signed": publisher("pub", "/CN=Halvern Test Publisher"),
               "other": publisher("other", "/CN=Halvern Test Other Publisher"),
               "pinned": (PINNED + ".key", PINNED + ".pem")}

    def signed_forms(program, pattern):
        """program signed by each publisher, self-signed, with a changed byte, and with a package
        planted after its certificate, in the files pattern names; the planted form's bytes."""
        path = lambda kind: os.path.join(folder, pattern.format(kind))
        for kind, (key, chain) in signers.items():
            subprocess.run(["osslsigncode", "sign", "-certs", chain, "-key", key, "-in", program, "-out", path(kind)],
                           check=True, capture_output=True)
        planted = b""
        for kind, prefix in (("signed", ""), ("pinned", "pinned-")):
            with open(path(kind), "rb") as f:
                signed = f.read()
            changed = bytearray(signed)
            changed[0x50] ^= 0x20  # in the DOS stub's text: still a program, no longer the signed one
            write(folder, pattern.format(prefix + "changed"), bytes(changed))
            write(folder, pattern.format(prefix + "planted"), with_tail(signed, planted_package()))
            planted = planted or with_tail(signed, planted_package())
        sign(program, path("selfsigned"), work)
        return planted

    source = os.path.join(work, "bootstrapper.c")
    with open(source, "w") as out:
        out.write(BOOTSTRAPPER)
    for bits, compiler, _ in COMPILERS:
        program = os.path.join(folder, f"bootstrapper-unsigned-{bits}.exe")
        subprocess.run([compiler, "-O2", "-s", "-municode", "-mwindows", "-o", program, source], check=True,
                       capture_output=True)
        signed_forms(program, f"bootstrapper-{{}}-{bits}.exe")
    planted = signed_forms(stub, "stub-{}.exe")
    write(folder, "stub-planted-past-end.exe", patched(planted, table_offset=len(planted) + 4096))


def main():
    command, folder = sys.argv[1], sys.argv[2]
    big = os.path.join(folder, "big.bin")
    if command == "clean":
        if os.path.exists(big):
            os.remove(big)
        return 0
    script_host, wxs, stub = sys.argv[3], sys.argv[4], sys.argv[5]
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    with open(big, "wb") as out:
        out.truncate(BIG_SIZE)
    write(folder, "plain.txt", b"not an installer package\r\n")
    with tempfile.TemporaryDirectory() as work:
        make_package(folder, wxs, work)
        make_signed(folder, script_host, work)
        make_product_packages(folder, os.path.dirname(os.path.abspath(wxs)), work)
        make_bootstrappers(folder, stub, work)
    print(f"method fixtures ready in {folder}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
