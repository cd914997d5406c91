#!/usr/bin/env python3
"""Times Tavrix against the floor of its work on large directories.

For each scenario it builds a fresh directory, runs the program on it, builds it afresh and
runs the floor program (one read of the directory, backup names computed in memory, one
non-replacing rename per file). It prints the ratio program/floor, both wall times, the
program's peak memory and its system calls per file (strace -c -f), and checks the goals.

Usage: bench/run_bench.py [BUILD_DIR] [--repeat N]   (BUILD_DIR holds tavrix and bench/)
Needs strace and GNU time (apt-get install strace time).
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time


def flat(count):
    def make(d):
        for i in range(count):
            open(os.path.join(d, "f%06d.dat" % i), "w").close()
    return make


def with_history(files, backups, gaps):
    def make(d):
        rng = random.Random(7)
        for i in range(files):
            name = "f%04d.dat" % i
            open(os.path.join(d, name), "w").close()
            numbers = list(range(backups + gaps))
            for n in rng.sample(numbers, gaps):
                numbers.remove(n)
            for n in numbers:
                open(os.path.join(d, "%s.%03d.bak" % (name, n)), "w").close()
    return make


def one_with(backups, hexa):
    def make(d):
        open(os.path.join(d, "one.dat"), "w").close()
        for n in range(backups):
            open(os.path.join(d, ("one.dat.%04x.bak" if hexa else "one.dat.%03d.bak") % n), "w").close()
    return make


def one_among(others):
    def make(d):
        open(os.path.join(d, "target.dat"), "w").close()
        for i in range(others):
            open(os.path.join(d, "other%06d" % i), "w").close()
    return make


def sized(count, size):
    def make(d):
        block = os.urandom(size)
        for i in range(count):
            with open(os.path.join(d, "f%04d.dat" % i), "wb") as f:
                f.write(block)
    return make


def unchanged(count, size):
    """count files of size bytes, each with a backup of the same bytes."""
    def make(d):
        block = os.urandom(size)
        for i in range(count):
            for name in ("f%04d.dat" % i, "f%04d.dat.000.bak" % i):
                with open(os.path.join(d, name), "wb") as f:
                    f.write(block)
    return make


# name, builder, entries, files backed up, program arguments, floor arguments (None: the
# program without /TO; a list beginning with "program" or "cmp": that command)
SCENARIOS = [
    ("a1 10,000 files", flat(10000), 10000, 10000, ["*.dat"], [".dat"]),
    ("a2 100,000 files", flat(100000), 100000, 100000, ["*.dat"], [".dat"]),
    ("b  2,000 files x 100 backups", with_history(2000, 100, 5), 202000, 2000, ["*.dat"], [".dat"]),
    ("c1 1 file, 998 backups", one_with(998, False), 999, 1, ["one.dat"], ["one.dat"]),
    ("c2 1 file, 5,000 backups /HEX", one_with(5000, True), 5001, 1, ["/HEX", "one.dat"],
     ["one.dat", "hex"]),
    ("d  1 file among 100,000", one_among(100000), 100001, 1, ["target.dat"], ["target.dat"]),
    ("e1 /COPY 1,000 files of 1 MiB", sized(1000, 1 << 20), 1000, 1000, ["/COPY", "*.dat"],
     [".dat", "copy"]),
    ("e2 /COPY 1 file of 1 GiB", sized(1, 1 << 30), 1, 1, ["/COPY", "*.dat"], [".dat", "copy"]),
    ("e3 /COPY 2,000 files x 100 backups", with_history(2000, 100, 5), 202000, 2000,
     ["/COPY", "*.dat"], [".dat", "copy"]),
    # Against the limit: the same copies, unnamed and linked into place, flushed not at all
    # but for the directory at the end.
    ("e4 /COPY 10,000 files of 4 KiB", sized(10000, 4096), 10000, 10000, ["/COPY", "*.dat"],
     [".dat", "copy", "nosync"]),
    # Against the program itself without /TO: the backups in a directory of their own cost
    # the same per file.
    ("f  /TO 10,000 files", flat(10000), 10000, 10000, ["/TO:.bak", "*.dat"], None),
    # /CHANGED on files that did not change: the reads it needs, against cmp on the same pair,
    # and against a /COPY run of the same files.
    ("g1 /CHANGED 1 GiB unchanged", unchanged(1, 1 << 30), 2, 0, ["/CHANGED", "/COPY", "*.dat"],
     ["cmp", "f0000.dat", "f0000.dat.000.bak"]),
    ("g2 /CHANGED 10,000 of 4 KiB", unchanged(10000, 4096), 20000, 0,
     ["/CHANGED", "/COPY", "*.dat"], ["program", "/COPY", "*.dat"]),
]
CHANGED_GOALS = {"g1": 1.2, "g2": 1.0}  # against cmp; against the /COPY run
COPY_GOAL = 1.2  # the copy scenarios' ratio
LIMIT_GOAL = 2.0  # the ratio against the limit that does not flush
ELSEWHERE_GOAL = 1.1  # /TO against the same run without it
COPY_RUNS = 3  # they write gigabytes: fewer runs


ENV = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C"}


def timed(command, cwd):
    """Wall seconds of one run, and what it printed."""
    start = time.perf_counter()
    proc = subprocess.run(command, cwd=cwd, env=ENV, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
    wall = time.perf_counter() - start
    if proc.returncode != 0:
        raise RuntimeError("%r failed: %r" % (command, proc.stderr))
    return wall, proc.stdout


def peak_memory(command, cwd):
    """Peak resident memory in KiB, as GNU time measures it (a fork of this big Python
    process would count its own pages)."""
    proc = subprocess.run(["/usr/bin/time", "-f", "peak %M"] + command, cwd=cwd, env=ENV,
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, check=True)
    return int(re.search(rb"peak (\d+)", proc.stderr).group(1))


def syscalls(command, cwd):
    if not shutil.which("strace"):
        return None
    with tempfile.NamedTemporaryFile() as f:
        subprocess.run(["strace", "-f", "-c", "-o", f.name] + command, cwd=cwd, env=ENV,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, check=True,
                       start_new_session=True)
        m = re.search(r"^\s*100\.00\s+\S+\s+(?:\S+\s+)?(\d+)\s+(?:\d+\s+)?total$",
                      open(f.name).read(), re.M)
        return int(m.group(1)) if m else None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--only", help="the scenarios whose names begin with this")
    parser.add_argument("--repeat", type=int, default=1,
                        help="runs of each large scenario; small ones run ten times as often")
    a = parser.parse_args()
    program = os.path.realpath(os.path.join(a.build, "tavrix"))
    floor = os.path.realpath(os.path.join(a.build, "bench", "tavrix_floor"))
    print("%-32s %7s %10s %10s %10s %12s" % ("scenario", "ratio", "tavrix s", "floor s",
                                             "peak KiB", "calls/file"))
    results = {}
    ok = True
    with tempfile.TemporaryDirectory(prefix="tavrix-bench-") as tmp:
        for name, make, entries, files, args, floor_args in SCENARIOS:
            if a.only and not name.startswith(a.only):
                continue
            copy = "/COPY" in args
            best = {"tavrix": None, "floor": None}
            runs = COPY_RUNS if copy else 10 if entries < 50000 else 1
            for _ in range(a.repeat * runs):
                for who in ("tavrix", "floor"):
                    d = os.path.join(tmp, who)
                    os.mkdir(d)
                    make(d)
                    if who == "tavrix":
                        command = [program] + args
                    elif floor_args is None:  # the program without /TO
                        command = [program] + [x for x in args if not x.startswith("/TO:")]
                    elif floor_args[0] == "program":
                        command = [program] + floor_args[1:]
                    elif floor_args[0] == "cmp":
                        command = floor_args
                    else:
                        command = [floor, d] + floor_args
                    wall, out = timed(command, d)
                    if who == "tavrix" or floor_args is None:
                        if b"\t\t%d file(s) %s" % (files, b"copied" if copy else b"renamed") not in out:
                            raise RuntimeError("%s: %r" % (name, out))
                    best[who] = wall if best[who] is None else min(best[who], wall)
                    shutil.rmtree(d)
            d = os.path.join(tmp, "strace")
            os.mkdir(d)
            make(d)
            calls = syscalls([program] + args, d)
            shutil.rmtree(d)
            os.mkdir(d)
            make(d)
            peak = peak_memory([program] + args, d)
            shutil.rmtree(d)
            ratio = best["tavrix"] / best["floor"]
            files = files or 1  # the calls of a run that backs up nothing, per run
            results[name] = best["tavrix"]
            memory_goal = (100 * entries + 8 * 1024 * 1024) / 1024
            print("%-32s %7.2f %10.4f %10.4f %10d %12s" % (
                name, ratio, best["tavrix"], best["floor"], peak,
                "%.2f" % (calls / files) if calls else "n/a"), flush=True)
            goal = (ELSEWHERE_GOAL if floor_args is None else
                    CHANGED_GOALS[name[:2]] if name[:2] in CHANGED_GOALS else
                    LIMIT_GOAL if "nosync" in floor_args else COPY_GOAL if copy else 1.3)
            if ratio > goal:
                print("    goal missed: ratio above %.1f" % goal)
                ok = False
            if peak > memory_goal:
                print("    goal missed: peak memory above %d KiB" % memory_goal)
                ok = False
    if "a1 10,000 files" in results and "a2 100,000 files" in results:
        growth = results["a2 100,000 files"] / results["a1 10,000 files"]
        print("100,000 files take %.2f times as long as 10,000 (goal: at most 11)" % growth)
        ok = ok and growth <= 11
    print("all goals met" if ok else "some goals missed")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
