#!/usr/bin/env python3
"""Renames that another process meets at the worst instant, made to happen every time by a
shim (rename_shim.c) loaded into the program, or under Wine into Wine's server, which does
the renaming there.

- A backup name taken just before the rename (on POSIX also with the fallback for file
  systems that cannot rename without replacing): the taken name is never replaced; the file
  gets the next candidate.
- POSIX, the rename in steps (where the file system cannot rename without replacing): the
  file removed by another process just before the first step is simply not renamed; one
  removed just before the rename, its backup name then made anew, is not counted renamed. An
  editor saving a new file, or a directory, under the old name before, between and after the
  steps, once or twice: what it saved keeps that name, and no private name is left. In a
  sticky directory a file of another user's is left alone, under its one name.
- POSIX, /COPY where files without a name are refused: the copy is made under a private
  name, given the next free backup name when the first was taken, and nothing is left over,
  also when a signal that ends the program (SIGPWR, SIGIO, a real-time one) comes mid-copy.
- POSIX, /COPY of files that another process writes while they are copied: a copy is made
  again until the file holds still, four copies in all; a file that never does is not copied.
- POSIX, on a FUSE file system like sshfs (tests/fuse_passthrough.c: no RENAME_NOREPLACE, no
  unnamed files, an inode number per name): every file ends under its backup name alone, and
  each copy is a file of its own. Skipped, with a message, where FUSE cannot be had.
- POSIX: a listed file that has become a directory is not renamed; the directory replaced by
  a link to another one during the run: only the directory opened at the start is touched.

Usage: rename_shim_test.py PROGRAM --cc CC [--wine WINE64 --prefix DIR]
"""
import argparse
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

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
    want = {n + ".000.bak": own(n) for n in NAMES if n != "b.txt"}
    return dict(env, TAVRIX_NO_NOREPLACE="1", TAVRIX_GONE_NAME="b.txt"), want


def reused_case(env):
    """b.txt removed and its backup name made by another process just before the rename: on a
    file system that gives the freed inode number to the new file (ext4), the rename's
    "no such file" must not be taken for a rename that acted."""
    want = {n + ".000.bak": b"taken" for n in NAMES}
    want.update({n + ".001.bak": own(n) for n in NAMES if n != "b.txt"})
    return dict(env, TAVRIX_GONE_NAME="b.txt", TAVRIX_TAKE_SUFFIX=".000.bak"), want


def saved_case(env, steps, directory=False):
    """An editor saves b.txt (the old file to b.txt~, a new one under b.txt) at each step."""
    want = {"a.000.bak": own("a"), "c d.000.bak": own("c d")}
    saves = steps.split(",")
    first = DIRECTORY if directory else b"saved 1"
    if saves[0] == "aside":  # before the first step: what it saved is the one renamed
        want.update({"b.txt~": own("b.txt"), "b.txt.000.bak": first})
    else:  # after it: the old file is under its backup name, the new one keeps the name
        want.update({"b.txt.000.bak": own("b.txt"), "b.txt": first})
        if len(saves) > 1:
            want.update({"b.txt~": first, "b.txt": b"saved 2"})
    extra = {"TAVRIX_SAVE_DIR": "1"} if directory else {}
    return dict(env, TAVRIX_NO_NOREPLACE="1", TAVRIX_SAVE_NAME="b.txt",
                TAVRIX_SAVE_BEFORE=steps, **extra), want


def changing_case(env, changes):
    """Each file changes during the first copies of the run: three of them."""
    want = {n: own(n) for n in NAMES}
    grown = own("a") + b"+++"  # a changes during its first three copies
    want.update({"a": grown, "a.000.bak": grown})
    want.update({n + ".000.bak": own(n) for n in NAMES[1:]})
    if changes == 4:  # a never held still: no backup of it, and the others are copied
        want = {n: own(n) for n in NAMES}
        want.update({"a": own("a") + b"++++"})
        want.update({n + ".000.bak": own(n) for n in NAMES[1:]})
    return dict(env, TAVRIX_CHANGE_NAME="a", TAVRIX_CHANGE_AT_COPY=str(changes)), want


def dir_case(env):
    want = {"a.000.bak": own("a"), "c d.000.bak": own("c d"), "b.txt": DIRECTORY,
            "b.txt.moved": own("b.txt")}
    return dict(env, TAVRIX_DIR_NAME="b.txt"), want


def copy_case(env):
    want = {n: own(n) for n in NAMES}
    want.update({n + ".000.bak": b"taken" for n in NAMES})
    want.update({n + ".001.bak": own(n) for n in NAMES})
    return dict(env, TAVRIX_TAKE_SUFFIX=".000.bak", TAVRIX_NO_TMPFILE="1",
                TAVRIX_NO_NOREPLACE="1"), want


DIRECTORY = "a directory"


class Runner:
    def __init__(self, a, shim, tmp):
        self.a, self.shim, self.tmp = a, shim, tmp
        self.env = {"PATH": os.environ.get("PATH", ""), "HOME": os.environ.get("HOME", tmp),
                    "LC_ALL": "C"}
        if a.wine:
            self.server = os.path.join(os.path.dirname(a.wine), "wineserver")
            self.env.update(WINEPREFIX=os.path.abspath(a.prefix), WINEDEBUG="-all")
            os.makedirs(self.env["WINEPREFIX"], exist_ok=True)

    def run(self, label, shim_env, want, count=3):
        """Runs the program over NAMES with the shim set by shim_env; returns the problems."""
        d = tempfile.mkdtemp(prefix=label + "-", dir=self.tmp)
        for n in NAMES:
            with open(os.path.join(d, n), "wb") as f:
                f.write(own(n))
        shim_env = dict(shim_env, LD_PRELOAD=self.shim)
        if label == "swapped":  # the program works on d/sub, which becomes a link to d/victim
            return self.run_swapped(d, shim_env)
        if label == "sticky":
            return self.run_sticky(d, shim_env)
        if label.startswith("signal"):
            return self.run_signal(label, d, shim_env)
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
            args = ["*", "/COPY"] if label.startswith("copy") else ["*"]
            proc = subprocess.run([os.path.realpath(self.a.program)] + args, cwd=d, env=shim_env,
                                  stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        return self.check(label, d, want, proc, count)

    def run_swapped(self, d, shim_env):
        sub, victim = os.path.join(d, "sub"), os.path.join(d, "victim")
        os.mkdir(sub)
        os.mkdir(victim)
        for n in NAMES:
            os.rename(os.path.join(d, n), os.path.join(sub, n))
            with open(os.path.join(victim, n), "wb") as f:
                f.write(b"victim")
        proc = subprocess.run([os.path.realpath(self.a.program), "sub/*"], cwd=d,
                              env=dict(shim_env, TAVRIX_SWAP_DIR=sub + ":" + victim),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        return (self.check("swapped", victim, {n: b"victim" for n in NAMES}, proc, 3) +
                self.check("swapped", sub + ".old", {n + ".000.bak": own(n) for n in NAMES}))

    def run_sticky(self, d, shim_env):
        """A sticky directory: the user's own files are renamed, another user's is left alone
        under its one name (the old steps left it under three)."""
        import pwd
        nobody = pwd.getpwnam("nobody")
        os.chmod(self.tmp, 0o755)
        os.chmod(self.shim, 0o755)
        os.chmod(d, 0o1777)
        for n in NAMES:
            p = os.path.join(d, n)
            os.chmod(p, 0o666)
            if n != "b.txt":
                os.chown(p, nobody.pw_uid, nobody.pw_gid)
        proc = subprocess.run(["setpriv", "--reuid", str(nobody.pw_uid), "--regid",
                               str(nobody.pw_gid), "--clear-groups",
                               os.path.realpath(self.a.program), "*"], cwd=d, env=shim_env,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        want = {"a.000.bak": own("a"), "c d.000.bak": own("c d"), "b.txt": own("b.txt")}
        problems = self.check("sticky", d, want, proc, 2)
        if os.stat(os.path.join(d, "b.txt")).st_nlink != 1:
            problems.append("sticky: b.txt has %d names" % os.stat(os.path.join(d, "b.txt")).st_nlink)
        return problems

    def run_signal(self, label, d, shim_env):
        """A signal that ends the program, mid-copy under a private name: nothing is left."""
        sig = int(shim_env["TAVRIX_RAISE_AT_COPY"])
        proc = subprocess.run([os.path.realpath(self.a.program), "*", "/COPY"], cwd=d,
                              env=shim_env, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=60)
        problems = self.check(label, d, {n: own(n) for n in NAMES})
        if proc.returncode != -sig:
            problems.append("%s: exit status %d, not the signal %d" % (label, proc.returncode, sig))
        return problems

    def run_fuse(self, here):
        """The rename and the copy on a pass-through FUSE file system; the problems, or None
        when FUSE cannot be had here."""
        fs = os.path.join(self.tmp, "fuse_passthrough")
        flags = subprocess.run(["pkg-config", "--cflags", "--libs", "fuse3"], capture_output=True, text=True)
        if not os.path.exists("/dev/fuse") or flags.returncode != 0:
            return None
        subprocess.run([self.a.cc, "-O2", "-o", fs, os.path.join(here, "fuse_passthrough.c")] +
                       flags.stdout.split(), check=True)
        problems = []
        acl = shutil.which("setfacl")
        for label, args in (("fuse", ["*"]), ("fuse-copy", ["*", "/COPY", "/DEBUG"]),
                            ("fuse-lying-unlink", ["*", "/DEBUG"])):
            under = tempfile.mkdtemp(prefix=label + "-", dir=self.tmp)
            mount = tempfile.mkdtemp(prefix=label + "-mount-", dir=self.tmp)
            for n in NAMES:
                with open(os.path.join(under, n), "wb") as f:
                    f.write(own(n))
                os.chmod(os.path.join(under, n), 0o644)
            if acl:  # an access list that the copy cannot be given: it goes to its owner alone
                subprocess.run(["setfacl", "-m", "u:nobody:---", os.path.join(under, "a")], check=True)
            lies = dict(os.environ, FUSE_LIE_ON_UNLINK="1") if "lying" in label else None
            server = subprocess.Popen([fs, under, mount, "-f"], env=lies, **QUIET)
            try:
                for _ in range(100):
                    if os.path.ismount(mount):
                        break
                    time.sleep(0.05)
                else:
                    return None
                proc = subprocess.run([os.path.realpath(self.a.program)] + args, cwd=mount,
                                      env=self.env, stdin=subprocess.DEVNULL, capture_output=True,
                                      timeout=60)
            finally:
                subprocess.run(["fusermount3", "-u", mount], **QUIET)
                server.wait(timeout=30)
            want = {n + ".000.bak": own(n) for n in NAMES}
            if label == "fuse-copy":
                want.update({n: own(n) for n in NAMES})
            problems += self.check(label, under, want, proc)
            if label == "fuse-copy" and acl:
                mode = stat.S_IMODE(os.stat(os.path.join(under, "a.000.bak")).st_mode)
                if mode != 0o600 or b"readable by its owner alone" not in proc.stdout:
                    problems.append("fuse-copy: a.000.bak has mode %o, and the run said %r" %
                                    (mode, proc.stdout))
                if stat.S_IMODE(os.stat(os.path.join(under, "b.txt.000.bak")).st_mode) != 0o644:
                    problems.append("fuse-copy: b.txt.000.bak lost its mode")
            for n in os.listdir(under):
                links = os.stat(os.path.join(under, n)).st_nlink
                if links != 1:
                    problems.append("%s: %s has %d names" % (label, n, links))
        return problems

    @staticmethod
    def check(label, d, want, proc=None, count=3):
        found = {}
        for n in sorted(os.listdir(d)):
            p = os.path.join(d, n)
            if os.path.isdir(p):
                found[n] = DIRECTORY
                continue
            with open(p, "rb") as f:
                found[n] = f.read()
        problems = []
        if found != want:
            problems.append("%s: the directory holds %r, not %r" % (label, found, want))
        done = b"copied" if "copy" in label.split("-") else b"renamed"
        # A file that could not be backed up is status 4; one removed meanwhile is not.
        status = 0 if count == len(NAMES) or label.startswith("gone") else 4
        if proc and (proc.returncode != status or
                     b"\t\t%d file(s) %s" % (count, done) not in proc.stdout):
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
            cases.append(("gone-fallback", *gone_case(runner.env), 2))
            cases.append(("gone-then-taken", *reused_case(runner.env), 2))
            for steps in ("aside", "link", "unlink", "link,unlink"):
                cases.append(("saved-before-" + steps, *saved_case(runner.env, steps)))
            cases.append(("directory-before-link", *saved_case(runner.env, "link", True)))
            env, want = dir_case(runner.env)
            cases.append(("became-directory", env, want, 2))
            cases.append(("became-directory-fallback", dict(env, TAVRIX_NO_NOREPLACE="1"), want, 2))
            cases.append(("swapped", runner.env, None))
            cases.append(("copy-without-unnamed-files", *copy_case(runner.env)))
            cases.append(("copy-changing", *changing_case(runner.env, 3)))
            cases.append(("copy-changing-always", *changing_case(runner.env, 4), 2))
            if os.geteuid() == 0:
                cases.append(("sticky", dict(runner.env, TAVRIX_NO_NOREPLACE="1"), None))
            else:
                print("skipped: the sticky directory case needs root, to act as two users")
            rt = signal.SIGRTMIN + 3 if hasattr(signal, "SIGRTMIN") else signal.SIGIO
            for sig in (signal.SIGPWR, signal.SIGIO, rt, 16):  # 16: SIGSTKFLT
                cases.append(("signal-%d" % sig, dict(runner.env, TAVRIX_NO_TMPFILE="1",
                                                      TAVRIX_RAISE_AT_COPY=str(int(sig))), None))
        problems = []
        for label, env, want, *count in cases:
            problems += runner.run(label, env, want, *count)
        if not a.wine:
            fuse = runner.run_fuse(here)
            if fuse is None:
                print("skipped: the FUSE cases need /dev/fuse, fuse3 and libfuse3-dev")
            else:
                cases += [("fuse",), ("fuse-copy",)]
                problems += fuse
    for p in problems:
        print(p)
    failed = len(set(p.split(":")[0] for p in problems))
    print("%d passed, %d failed" % (len(cases) - failed, failed))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
