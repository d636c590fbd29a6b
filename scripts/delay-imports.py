#!/usr/bin/env python3
"""Makes a delay-import library of one system DLL from MinGW's import library of it.

usage: delay-imports.py NM DLLTOOL ARCH IMPORT_LIBRARY DLL OUTPUT

Every function of IMPORT_LIBRARY (its code thunks, as nm lists them) goes into OUTPUT.def, kept
beside it, under the symbol the compiler calls it by; dlltool makes OUTPUT from it, whose calls
load DLL on first use through the runtime's delay-load helper and import each function by name.
On i686 the symbols carry a leading underscore and stdcall's "@N", which the imported names do not
(--kill-at).
"""
import os
import subprocess
import sys


def main():
    nm, dlltool, arch, library, dll, output = sys.argv[1:]
    listing = subprocess.run([nm, "-g", "--defined-only", library], capture_output=True, text=True, check=True).stdout
    symbols = sorted({line.split()[2] for line in listing.splitlines() if line.split()[1:2] == ["T"]})
    if not symbols:
        sys.exit(f"delay-imports: no function in {library}")
    i686 = arch == "i686"
    folder, name = os.path.split(os.path.abspath(output))
    with open(output + ".def", "w") as out:
        out.write(f"LIBRARY {dll}\nEXPORTS\n")
        out.writelines((symbol[1:] if i686 else symbol) + "\n" for symbol in symbols)
    # Run in the output's folder: dlltool names the library's symbols after the path it is given.
    command = [dlltool, "--input-def", name + ".def", "--dllname", dll, "--output-delaylib", name,
               "--temp-prefix", name + ".tmp"]
    subprocess.run(command + (["--kill-at"] if i686 else []), check=True, cwd=folder)


if __name__ == "__main__":
    main()
