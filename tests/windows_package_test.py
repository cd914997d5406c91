#!/usr/bin/env python3
"""The Windows artefacts: the version resource and the manifest inside Tavrix.exe, read back
from its .rsrc section, and the .zip that CPack makes of both programs and the README.

Usage: windows_package_test.py BUILD_DIR EXE OBJDUMP VERSION
"""
import os
import re
import subprocess
import sys
import tempfile
import zipfile


def rsrc_bytes(exe, objdump):
    dump = subprocess.run([objdump, "-s", "-j", ".rsrc", exe], check=True,
                          stdout=subprocess.PIPE, text=True).stdout
    data = bytearray()
    for line in dump.splitlines():
        m = re.match(r"^ [0-9a-f]+ ((?:[0-9a-f]{2,8} ){1,4})", line)
        if m:
            data += bytes.fromhex(m.group(1).replace(" ", ""))
    return bytes(data)


def main():
    build, exe, objdump, version = sys.argv[1:5]  # build "--resources-only": no .zip
    problems = []
    rsrc = rsrc_bytes(exe, objdump)
    for key, value in (("ProductName", "Tavrix"), ("FileVersion", version),
                       ("ProductVersion", version), ("OriginalFilename", "Tavrix.exe")):
        pattern = re.escape(key.encode("utf-16-le")) + b"(?:\0\0)+" + re.escape(value.encode("utf-16-le"))
        if not re.search(pattern, rsrc):
            problems.append("the version resource lacks %s %s" % (key, value))
    if b"FileDescription".decode().encode("utf-16-le") not in rsrc:
        problems.append("the version resource lacks a description")
    if b'<requestedExecutionLevel level="asInvoker"' not in rsrc:
        problems.append("no application manifest")
    with tempfile.TemporaryDirectory() as tmp:
        zips = None
        if build != "--resources-only":
            subprocess.run(["cpack", "-G", "ZIP", "-B", tmp], cwd=build, check=True,
                           stdout=subprocess.DEVNULL)
            zips = [f for f in os.listdir(tmp) if f.endswith(".zip")]
        if zips is None:
            pass
        elif len(zips) != 1:
            problems.append("cpack made %r" % zips)
        else:
            names = zipfile.ZipFile(os.path.join(tmp, zips[0])).namelist()
            for want in ("x64/Tavrix.exe", "x86/Tavrix.exe", "README.txt"):
                if not any(n.endswith(want) for n in names):
                    problems.append("the .zip lacks %s: %r" % (want, names))
    for p in problems:
        print("FAIL: " + p)
    print("%d passed, %d failed" % (0 if problems else 1, 1 if problems else 0))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
