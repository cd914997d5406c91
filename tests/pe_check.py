#!/usr/bin/env python3
"""Checks a built Tavrix.exe: a console program of the expected kind (PE32 for i386, PE32+
for x86-64) that imports only DLLs every Windows has, carries no debugging data, and whose
subsystem version is that of the oldest Windows whose kernel32 has every function it imports.

Usage: pe_check.py EXE i686|x86_64 OBJDUMP
"""
import re
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "user32.dll", "advapi32.dll", "ntdll.dll"}
KINDS = {"i686": ("pei-i386", "PE32"), "x86_64": ("pei-x86-64", "PE32+")}
# The oldest Windows of each kind (XP; XP x64), and kernel32's functions that came later.
OLDEST = {"i686": (5, 1), "x86_64": (5, 2)}
SINCE = {(6, 0): {"SetFileInformationByHandle", "GetFileInformationByHandleEx", "GetTickCount64",
                  "GetFinalPathNameByHandleA", "GetFinalPathNameByHandleW", "CreateSymbolicLinkA",
                  "CreateSymbolicLinkW", "InitializeSRWLock", "AcquireSRWLockExclusive",
                  "AcquireSRWLockShared", "InitializeConditionVariable", "SleepConditionVariableCS",
                  "WakeConditionVariable", "WakeAllConditionVariable", "InitOnceExecuteOnce",
                  "CancelIoEx", "GetLocaleInfoEx", "CompareStringEx"},
         (6, 1): {"TryAcquireSRWLockExclusive", "TryAcquireSRWLockShared"},
         (6, 2): {"GetSystemTimePreciseAsFileTime", "CreateFile2"}}


def main():
    exe, arch, objdump = sys.argv[1:4]
    dump = subprocess.run([objdump, "-p", exe], check=True, stdout=subprocess.PIPE,
                          text=True).stdout
    file_format, magic = KINDS[arch]
    problems = []
    if "file format %s" % file_format not in dump:
        problems.append("not %s" % file_format)
    if not re.search(r"^Magic\s+\S+\s+\(%s\)$" % re.escape(magic), dump, re.M):
        problems.append("not %s" % magic)
    if not re.search(r"^Subsystem\s+00000003\s+\(Windows CUI\)$", dump, re.M):
        problems.append("not a console program")
    dlls = re.findall(r"DLL Name: (\S+)", dump)
    if not dlls:
        problems.append("no imports found")
    foreign = [d for d in dlls if d.lower() not in SYSTEM_DLLS]
    if foreign:
        problems.append("imports DLLs that Windows lacks: " + ", ".join(foreign))
    imported = set(re.findall(r"^\s+[0-9a-f]+\s+[0-9a-f]+\s+(\w+)$", dump, re.M))
    needed = max([OLDEST[arch]] + [v for v, names in SINCE.items() if names & imported])
    major = re.search(r"^MajorSubsystemVersion\s+(\d+)$", dump, re.M)
    minor = re.search(r"^MinorSubsystemVersion\s+(\d+)$", dump, re.M)
    version = (int(major.group(1)), int(minor.group(1))) if major and minor else None
    if version != needed:
        problems.append("subsystem version %r, but its imports need %r" % (version, needed))
    headers = subprocess.run([objdump, "-h", exe], check=True, stdout=subprocess.PIPE,
                             text=True).stdout
    if ".debug" in headers:
        problems.append("not stripped: it has .debug sections")
    print("%s: %s %s, subsystem %r, imports %s" % (exe, file_format, magic, version, ", ".join(dlls)))
    for p in problems:
        print("FAIL: " + p)
    print("%d passed, %d failed" % (0 if problems else 1, 1 if problems else 0))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
