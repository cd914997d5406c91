#!/usr/bin/env python3
"""Renames that another process meets at the worst instant, made to happen every time by a
shim (rename_shim.c) loaded into the program, or under Wine into Wine's server, which does
the renaming there.

- A backup name taken just before the rename (on POSIX also with the fallback for file
  systems that cannot rename without replacing): the taken name is never replaced; the file
  gets the next candidate.
- POSIX, the fallback: the old name removed by another process after the new link was made:
  the file lives on under its backup name and counts as renamed.

Usage: rename_shim_test.py PROGRAM --cc CC [--wine WINE64 --prefix DIR]
"""
import argparse
import os
import subprocess
import sys
import tempfile

QUIET = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
NAMES = ["a", "b.txt", "c d"]


def own(name):
    return b"own " + name.encode()


def taken_case(env):
    want = {}
    for n in NAMES:
        want[n + ".000.bak"] = b"taken"
        want[n + ".001.bak"] = own(n)
    return dict(env, TAVRIX_TAKE_SUFFIX=".000.bak"), want


def gone_case(env):
    want = {n + ".000.bak": own(n) for n in NAMES}
    return dict(env, TAVRIX_NO_NOREPLACE="1", TAVRIX_GONE_NAME="b.txt"), want


class Runner:
    def __init__(self, a, shim, tmp):
        self.a, self.shim, self.tmp = a, shim, tmp
        self.env = {"PATH": os.environ.get("PATH", ""), "HOME": os.environ.get("HOME", tmp),
                    "LC_ALL": "C"}
        if a.wine:
            self.server = os.path.join(os.path.dirname(a.wine), "wineserver")
            self.env.update(WINEPREFIX=os.path.abspath(a.prefix), WINEDEBUG="-all")
            os.makedirs(self.env["WINEPREFIX"], exist_ok=True)

    def run(self, label, shim_env, want):
        """Runs the program over NAMES with the shim set by shim_env; returns the problems."""
        d = tempfile.mkdtemp(prefix=label + "-", dir=self.tmp)
        for n in NAMES:
            with open(os.path.join(d, n), "wb") as f:
                f.write(own(n))
        shim_env = dict(shim_env, LD_PRELOAD=self.shim)
        if self.a.wine:  # the shim goes into a server of this prefix's own
            subprocess.run([self.server, "-k"], env=self.env, **QUIET)
            subprocess.run([self.server, "-w"], env=self.env, **QUIET)
            subprocess.run([self.server, "-p"], env=shim_env, check=True, **QUIET)
            try:
                subprocess.run([self.a.wine, "wineboot"], env=self.env, **QUIET)
                proc = subprocess.run([self.a.wine, os.path.realpath(self.a.program), "*"],
                                      cwd=d, env=self.env, stdin=subprocess.DEVNULL,
                                      capture_output=True, timeout=120)
            finally:
                subprocess.run([self.server, "-k"], env=self.env, **QUIET)
        else:
            proc = subprocess.run([os.path.realpath(self.a.program), "*"], cwd=d, env=shim_env,
                                  stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        found = {}
        for n in sorted(os.listdir(d)):
            with open(os.path.join(d, n), "rb") as f:
                found[n] = f.read()
        problems = []
        if found != want:
            problems.append("%s: the directory holds %r, not %r" % (label, found, want))
        if proc.returncode != 0 or b"\t\t3 file(s) renamed" not in proc.stdout:
            problems.append("%s: exit status %d, output %r %r" % (
                label, proc.returncode, proc.stdout, proc.stderr))
        return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--cc", required=True)
    parser.add_argument("--wine")
    parser.add_argument("--prefix", help="with --wine: a Wine prefix of this test's own")
    a = parser.parse_args()
    if a.wine and not a.prefix:
        parser.error("--wine needs --prefix")
    here = os.path.dirname(os.path.abspath(__file__))
    with tempfile.TemporaryDirectory(prefix="tavrix-shim-") as tmp:
        shim = os.path.join(tmp, "rename_shim.so")
        subprocess.run([a.cc, "-shared", "-fPIC", "-O2", "-o", shim,
                        os.path.join(here, "rename_shim.c"), "-ldl"], check=True)
        runner = Runner(a, shim, tmp)
        cases = [("taken", *taken_case(runner.env))]
        if not a.wine:
            env, want = taken_case(runner.env)
            cases.append(("taken-fallback", dict(env, TAVRIX_NO_NOREPLACE="1"), want))
            cases.append(("gone-fallback", *gone_case(runner.env)))
        problems = []
        for label, env, want in cases:
            problems += runner.run(label, env, want)
    for p in problems:
        print(p)
    failed = len(set(p.split(":")[0] for p in problems))
    print("%d passed, %d failed" % (len(cases) - failed, failed))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
