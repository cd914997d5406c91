#!/usr/bin/env python3
"""Race test: while the program renames thousands of files, another process keeps creating
the very backup names it is about to choose and deletes files it is about to rename.

Afterwards: nothing the other process created was overwritten; every original file that it
did not delete is there exactly once, under its own name or a backup name of its own (one it
deleted may live on under a backup name, when the program had given it that name first); the
reported count is the number of files that got a backup name.

Usage: race_test.py PROGRAM [--wine WINE64] [--files N] [--seed S]
"""
import argparse
import multiprocessing
import os
import random
import re
import subprocess
import sys
import tempfile

import wine_support


def racer(directory, count, seed, stop, created_log, deleted_log, wait):
    rng = random.Random(seed)
    created, deleted = [], []
    # Under Wine the program takes a second to start: the race begins with its first rename.
    while wait and not stop.is_set() and not any(n.endswith(".bak") for n in os.listdir(directory)):
        stop.wait(0.005)
    while not stop.is_set():
        i = rng.randrange(count)
        action = rng.random()
        if action < 0.6:  # take a candidate the program is about to choose
            n = 0 if rng.random() < 0.7 else rng.randint(1, 3)
            name = "f%05d.%03d.bak" % (i, n)
            try:
                fd = os.open(os.path.join(directory, name), os.O_CREAT | os.O_EXCL | os.O_WRONLY)
            except OSError:
                continue
            os.write(fd, b"racer " + name.encode())
            os.close(fd)
            created.append(name)
        elif action < 0.7:  # take a file away before its rename
            name = "f%05d" % i
            try:
                os.unlink(os.path.join(directory, name))
                deleted.append(name)
            except OSError:
                pass
    with open(created_log, "w") as f:
        f.write("\n".join(created))
    with open(deleted_log, "w") as f:
        f.write("\n".join(deleted))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--wine")
    parser.add_argument("--files", type=int)
    parser.add_argument("--seed", type=int)
    a = parser.parse_args()
    count = a.files or (2000 if a.wine else 10000)
    seed = a.seed if a.seed is not None else random.SystemRandom().randrange(1 << 32)
    print("seed %d, %d files" % (seed, count), flush=True)
    if a.wine:
        wine_support.start(a.wine)

    with tempfile.TemporaryDirectory(prefix="tavrix-race-") as tmp:
        directory = os.path.join(tmp, "d")
        os.mkdir(directory)
        for i in range(count):
            with open(os.path.join(directory, "f%05d" % i), "wb") as f:
                f.write(b"original %d" % i)
        stop = multiprocessing.Event()
        created_log, deleted_log = os.path.join(tmp, "created"), os.path.join(tmp, "deleted")
        other = multiprocessing.Process(target=racer, args=(directory, count, seed, stop,
                                                            created_log, deleted_log, bool(a.wine)))
        other.start()
        env = {k: v for k, v in os.environ.items() if k in ("PATH", "HOME", "WINEPREFIX", "WINEDEBUG")}
        env["LC_ALL"] = "C"
        # Exactly six characters: the other process's names never match.
        command = ([a.wine] if a.wine else []) + [os.path.realpath(a.program), "f?????"]
        proc = subprocess.run(command, cwd=directory, env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=1800,
                              start_new_session=True)
        stop.set()
        other.join()
        with open(created_log) as f:
            created = [n for n in f.read().split("\n") if n]
        with open(deleted_log) as f:
            deleted = set(n for n in f.read().split("\n") if n)

        problems = []
        if proc.returncode != 0:
            problems.append("exit status %d: %r" % (proc.returncode, proc.stderr))
        where = {}
        for name in os.listdir(directory):
            with open(os.path.join(directory, name), "rb") as f:
                where.setdefault(f.read(), []).append(name)
        for name in created:  # never overwritten, never moved
            if where.get(b"racer " + name.encode()) != [name]:
                problems.append("the other process's %s is now %r" % (
                    name, where.get(b"racer " + name.encode())))
        renamed = 0
        for i in range(count):
            own = "f%05d" % i
            names = where.get(b"original %d" % i, [])
            if own in deleted and not names:
                continue
            # A file moved by a new link, whose old name the other process then removed, lives
            # on under its backup name: it counts as renamed.
            if own in deleted and (len(names) != 1 or names[0] == own):
                problems.append("%s was deleted, yet its content is at %r" % (own, names))
                continue
            if len(names) != 1:
                problems.append("%s: its content is at %r" % (own, names))
            elif names[0] != own:
                if not re.fullmatch(re.escape(own) + r"\.\d{3}\.bak", names[0]):
                    problems.append("%s was renamed to %s" % (own, names[0]))
                renamed += 1
        m = re.search(rb"\t\t(\d+) file\(s\) renamed", proc.stdout)
        if not m or int(m.group(1)) != renamed:
            problems.append("reported %r, renamed %d" % (m and m.group(1), renamed))
        print("the other process took %d names and deleted %d files; %d files renamed, %d left "
              "under their own names" % (len(created), len(deleted), renamed,
                                         count - len(deleted) - renamed))
        for p in problems[:20]:
            print(p)
        print("%d passed, %d failed" % (0 if problems else 1, 1 if problems else 0))
        if problems:
            print("reproduce with: --seed %d" % seed)
        return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
