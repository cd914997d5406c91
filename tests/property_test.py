#!/usr/bin/env python3
"""Property test: random directory states and random command lines, each run checked against
a model of the program written independently here.

After every run: the names in the directory are exactly the model's (each renamed file took
the lowest free candidate of its shape, given what the directory held at that moment); every
file's content is there exactly once (twice with /COPY, for each file copied); the reported
count is the number of files renamed. In some cases /L runs first: it changes nothing, and
lists exactly the backup names that the run then takes.

Usage: property_test.py PROGRAM [--wine WINE64] [--cases N] [--seed S]
A failure prints the seed and the case number; --seed and --only reproduce it.
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

import wine_support

MAX_PATH = 260
STATS = {"renamed": 0, "runs with renames": 0}

BASES = [b"a", b"b", b"Example", b"x y", b"caf\xc3\xa9", b"report.v2", b".profile", b"A"]
EXTS = [b".doc", b".txt", b".tar.gz", b"", b".DOC", b".b"]
POSIX_ONLY_BASES = [b"bad\xff", b"back\\slash", b"\xe0x", b"tab\tname", b"esc\x1b[1m"]


class Model:
    def __init__(self, windows):
        self.windows = windows

    def fold(self, name):
        return name.lower() if self.windows else name

    def matches(self, pattern, name):
        if pattern == b"*.*":
            return True
        regex = b"".join(b".*" if c == b"*"[0] else b"." if c == b"?"[0] else re.escape(bytes([c]))
                         for c in pattern)
        flags = re.DOTALL | (re.IGNORECASE if self.windows else 0)
        return re.fullmatch(regex, name, flags) is not None

    def candidates(self, full, fmt, hexa):
        limit = 0x10000 if hexa else 999
        number = (lambda i: b"%04x" % i) if hexa else (lambda i: b"%03d" % i)
        sep = b"\\" if self.windows else b"/"
        if fmt == 2:
            last = full.rsplit(sep, 1)[-1]
            if b"." not in last:
                return
            ext = last[last.rindex(b"."):]
            base = full[:-len(ext)]
        for i in range(limit):
            if fmt == 1:
                yield full + b"." + number(i)
            elif fmt == 2:
                yield base + b"." + number(i) + ext
            else:
                yield full + b"." + number(i) + b".bak"

    def run(self, listing, is_dir, dir_full, search_path, name_slot, pattern, fmt, hexa, copy):
        """The names after the run, the files backed up, and how many could not be, from the
        names before it in search order."""
        names = {self.fold(n): n for n in listing}
        done = []
        failed = 0
        if len(search_path) >= MAX_PATH:
            return set(names.values()), done, failed
        sep = b"\\" if self.windows else b"/"
        for name in listing:
            if is_dir[name] or b"\\" in name or not self.matches(pattern, name):
                continue
            full = dir_full + sep + name
            if name_slot + len(name) >= MAX_PATH or len(full) >= MAX_PATH:
                failed += 1  # the name would be too long
                continue
            if fmt == 2 and b"." not in name:
                continue  # no extension: left alone, by design
            failed += 1  # until a candidate is free and fits
            for cand in self.candidates(full, fmt, hexa):
                if len(cand) >= MAX_PATH:
                    break
                new = cand[len(dir_full) + 1:]
                if self.fold(new) not in names:
                    if not copy:
                        del names[self.fold(name)]
                    names[self.fold(new)] = new
                    done.append(name)
                    failed -= 1
                    break
        return set(names.values()), done, failed


def random_state(rng, target, windows, dir_len):
    """Fills target with files, earlier backups (with gaps) and directories; returns contents."""
    bases = BASES + ([] if windows else POSIX_ONLY_BASES)
    contents = {}
    made = set()

    def fresh(name, as_dir=False):
        key = name.lower() if windows else name
        if key in made or not name or len(name) > 255 or name in (b".", b".."):
            return
        made.add(key)
        path = os.path.join(target, name)
        if as_dir:
            os.mkdir(path)
        else:
            content = b"content %d" % len(contents)
            with open(path, "wb") as f:
                f.write(content)
            contents[content] = name

    for _ in range(rng.randint(1, 12)):
        name = rng.choice(bases) + rng.choice(EXTS)
        if rng.random() < 0.1:  # near the length limit of a full path
            room = MAX_PATH - dir_len - 2
            name = b"n" * max(1, room - rng.randint(0, 12)) + rng.choice(EXTS)
        fresh(name)
        for _ in range(rng.choice([0, 0, 1, 3, 8])):  # earlier backups, with gaps
            n = rng.randint(0, 12)
            shape = rng.randint(0, 2)
            num = b"%04x" % n if rng.random() < 0.3 else b"%03d" % n
            if shape == 0:
                backup = name + b"." + num + b".bak"
            elif shape == 1:
                backup = name + b"." + num
            else:
                dot = name.rfind(b".")
                backup = (name[:dot] + b"." + num + name[dot:]) if dot >= 0 else name + b"." + num
            fresh(backup, as_dir=rng.random() < 0.1)
    if rng.random() < 0.3:
        fresh(b"sub", as_dir=True)
    return contents


def random_command(rng, listing, windows):
    args = []
    fmt = 0
    hexa = False
    for _ in range(rng.randint(0, 3)):
        switch = rng.choice(["/FORMAT1", "/FORMAT2", "/FORMAT3", "/FORMAT4", "-format3", "/HEX",
                             "-hex", "/Q", "/debug"])
        args.append(switch)
        m = re.match(r"[/-]format(\d)", switch, re.I)
        if m:
            fmt = {1: 0, 2: 1, 3: 2, 4: 3}[int(m.group(1))]
        if switch.lower().endswith("hex"):
            hexa = True
    choices = [b"*", b"*.*"]
    # The Windows search also matches each name's short 8.3 alias, and gives '?' and a final
    # ".*" meanings of their own: there, only patterns that these cannot change.
    if not windows:
        choices += [b"*.doc", b"a*", b"*a*", b"*.bak", b"*a*.tx*", b"?*", b"E*e.*", b"???"]
    if listing:
        choices.append(rng.choice(listing))
    return args, fmt, hexa, rng.choice(choices)


def run_case(program, wine, rng, case, root):
    windows = wine is not None
    model = Model(windows)
    target = os.path.join(root, b"d%d" % case)
    os.mkdir(target)
    where = rng.choice(["cwd", "relative", "absolute"])
    if windows:
        dir_full = b"Z:" + target.replace(b"/", b"\\")
    else:
        dir_full = target
    contents = random_state(rng, target, windows, len(dir_full))
    listing = os.listdir(target)
    is_dir = {n: os.path.isdir(os.path.join(target, n)) for n in listing}
    args, fmt, hexa, pattern = random_command(rng, listing, windows)
    if windows:  # Wine's search gives the names in this order
        listing.sort(key=lambda n: n.decode("utf-8", "surrogateescape").upper())
    sep = b"\\" if windows else b"/"
    if where == "cwd":
        cwd, spec = target, pattern
        search_path = dir_full + sep + pattern
    elif where == "relative":
        cwd, spec = root, b"d%d" % case + rng.choice([b"/", b"\\"]) + pattern
        search_path = spec
    else:
        cwd, spec = b"/", dir_full + sep + pattern
        search_path = spec
    name_slot = max(search_path.rfind(b"/"), search_path.rfind(b"\\")) + 1
    argv = [a.encode() for a in args]
    argv.insert(rng.randint(0, len(argv)), spec)
    copy = rng.random() < 0.2
    if copy:
        argv.insert(rng.randint(0, len(argv)), b"/COPY")
    preview = rng.random() < 0.25  # /L first, then the same run with /DEBUG
    if preview and not any(a.lower() in (b"/debug", b"-debug") for a in argv):
        argv.append(b"/DEBUG")
    quiet = any(a.lower() in (b"/q", b"-q") for a in argv)
    debug = any(a.lower() in (b"/debug", b"-debug") for a in argv)
    fmt = fmt if fmt in (1, 2) else 0

    expected, done, failed = model.run(listing, is_dir, dir_full, search_path, name_slot, pattern, fmt,
                               hexa, copy)
    count = len(done)
    env = {k: v for k, v in os.environ.items() if k in ("PATH", "HOME", "WINEPREFIX", "WINEDEBUG")}
    env["LC_ALL"] = "C.UTF-8" if windows else "C"

    def run(args):
        return subprocess.run(([wine] if windows else []) + [program] + args, cwd=cwd, env=env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120, start_new_session=True)

    def backups(out):  # the /DEBUG lines of the files backed up, without what a copy noted
        return [line.split(b"; ")[0] for line in out.splitlines() if b" -> " in line]

    problems = []
    if preview:
        listed = run(argv + [b"/L"])
        if sorted(os.listdir(target)) != sorted(listing):
            problems.append("/L changed the directory: %r" % sorted(os.listdir(target)))
        if not quiet and b" file(s) would be %s" % (b"copied" if copy else b"renamed") not in listed.stdout:
            problems.append("/L reported %r" % listed.stdout)
    proc = run(argv)
    if preview and backups(listed.stdout) != backups(proc.stdout):
        problems.append("/L listed %r, the run did %r" % (backups(listed.stdout), backups(proc.stdout)))
    # A file that could not be backed up is status 4, and /L foresees it.
    status = 4 if failed else 0
    if proc.returncode != status:
        problems.append("exit status %d, not %d: %r" % (proc.returncode, status, proc.stderr))
    if preview and listed.returncode != status:
        problems.append("/L exit status %d, not %d" % (listed.returncode, status))
    after = set(os.listdir(target))
    if after != expected:
        problems.append("names: missing %r, unexpected %r" % (sorted(expected - after),
                                                               sorted(after - expected)))
    found = {}
    for name in after:
        path = os.path.join(target, name)
        if os.path.isfile(path):
            with open(path, "rb") as f:
                found.setdefault(f.read(), []).append(name)
    for content, name in contents.items():
        want = 2 if copy and name in done else 1
        if len(found.get(content, [])) != want:
            problems.append("content of %r found %d times" % (name, len(found.get(content, []))))
    if set(found) != set(contents):
        problems.append("contents appeared that were not there before")
    if quiet:
        # Only the trace of /DEBUG, one line per entry, each beginning with two blanks.
        if (not debug and proc.stdout) or any(
                not line.startswith(b"  ") for line in proc.stdout.splitlines()):
            problems.append("printed with /Q: %r" % proc.stdout)
        if debug and proc.stdout.count(b" -> ") != count:
            problems.append("the trace names %d renames, the run made %d" % (
                proc.stdout.count(b" -> "), count))
    else:
        m = re.search(rb"\t\t(\d+) file\(s\) %s" % (b"copied" if copy else b"renamed"), proc.stdout)
        if not m or int(m.group(1)) != count:
            problems.append("reported %r, renamed %d" % (m and m.group(1), count))
    STATS["renamed"] += count
    STATS["runs with renames"] += 1 if count else 0
    if problems:
        return ["case %d: %r in %s (%r)\n  before: %r\n  " % (case, argv, where, cwd, sorted(listing))
                + "\n  ".join(problems)]
    shutil.rmtree(target)
    return []


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--wine")
    parser.add_argument("--cases", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--only", type=int, default=None, help="run one case of the seed")
    a = parser.parse_args()
    seed = a.seed if a.seed is not None else random.SystemRandom().randrange(1 << 32)
    print("seed %d, %d cases" % (seed, a.cases), flush=True)
    program = os.path.realpath(a.program)
    if a.wine:
        wine_support.start(a.wine)
    failures = []
    with tempfile.TemporaryDirectory(prefix="tavrix-prop-") as tmp:
        root = os.path.realpath(tmp).encode()
        for case in range(a.cases):
            rng = random.Random("%d:%d" % (seed, case))
            if a.only is not None and case != a.only:
                continue
            failures += run_case(program, a.wine, rng, case, root)
            if len(failures) >= 5:
                break
    for f in failures:
        print(f)
    ran = a.cases if a.only is None else 1
    print("files renamed in all: %(renamed)d; runs that renamed any: %(runs with renames)d" % STATS)
    print("%d passed, %d failed" % (ran - len(failures), len(failures)))
    if failures:
        print("reproduce with: --seed %d --only CASE" % seed)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
