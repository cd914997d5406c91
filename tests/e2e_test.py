#!/usr/bin/env python3
"""End-to-end tests: the built program on real directories, comparing the names left behind,
the exact bytes it printed and its exit status.

Usage: e2e_test.py PROGRAM [--wine WINE64] [unittest options]
With --wine, PROGRAM is the Windows build, run under Wine: the same tests where the platforms
agree, and the Windows conventions where they differ.
"""
import functools
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import unittest

import wine_support

PROGRAM = None
WINE = None  # the wine64 loader when testing the Windows build
PORTABLE = False  # the POSIX build without Linux's own calls: no files without a name


def windows():
    return WINE is not None


def only_on(want_windows, why):
    """Skips a test, or a whole class, on the other platform (decided when it runs)."""
    reason = ("Windows only: " if want_windows else "POSIX only: ") + why

    def decorate(target):
        if isinstance(target, type):
            set_up = target.setUp

            def guarded_set_up(self):
                if windows() != want_windows:
                    self.skipTest(reason)
                set_up(self)
            target.setUp = guarded_set_up
            return target

        @functools.wraps(target)
        def guarded(self, *args):
            if windows() != want_windows:
                self.skipTest(reason)
            return target(self, *args)
        return guarded
    return decorate


def posix_only(why):
    return only_on(False, why)


def windows_only(why):
    return only_on(True, why)


def eol(text):
    """Standard output on Windows is in text mode: each line feed goes out as CR LF."""
    return text.replace(b"\n", b"\r\n") if windows() else text

HELP_LINES = [
    "           Tavrix v1.00  -  numbered backups that never overwrite",
    "",
    "Backs up a file by appending a sequence number string to the filename, thus",
    "preserving the original file from being overwritten by another program",
    "",
    "Files bay be backed up using a number of formats",
    "Wildcards are permitted, subidrectories are not procesed",
    "",
    "Syntax: Tavrix filespec [-switches]",
    "",
    "Switches",
    "",
    "Where TYP is the original document filetype of whatever length",
    "",
    "             Backup filename modifiers",
    "/FORMAT1     *.NNN.BAK  - Sequence number in hexadecimal or decimal",
    "                          e.g. Example.doc => Example.doc.001.bak",
    "/FORMAT2     *.NNN      - Sequence number in hexadecimal or decimal",
    "                          e.g. Example.doc => Example.doc.001",
    "/FORMAT3     *.NNN.typ  - Sequence number with original filetype postfix",
    "/HEX         Use hexadecimal numeric format (the default is decimal)",
    "                          e.e. Example.doc => Example.001A.doc",
]


def help_to_file():
    """The help as a file receives it: no console, so a pause after every third line."""
    out = HELP_LINES[0].ljust(80).encode()
    for i in range(1, len(HELP_LINES)):
        out += HELP_LINES[i].encode() + b"\r\n"
        if i % 3 == 0:
            out += b"-- more --\n"
    return eol(out)


def announce(pattern, count, utf8=False, verb=b"Renaming", done=b"renamed"):
    # On Windows the process code page is UTF-8 (the manifest), whatever the console's.
    square = "\u25a0".encode() if utf8 or windows() else b"\xfe"
    if isinstance(pattern, str):
        pattern = pattern.encode()
    return eol(b" " + square + b" " + verb + b' "' + pattern + b'"\n\t\t%d file(s) ' % count + done + b"\n")


class Run:
    def __init__(self, proc):
        self.status = proc.returncode
        self.out = proc.stdout
        self.err = proc.stderr


def program_env(locale="C"):
    # Wine reads file names in the locale's character set.
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
           "LC_ALL": "C.UTF-8" if windows() else locale}
    for name in ("WINEPREFIX", "WINEDEBUG", "HOME", "TZ"):
        if name in os.environ:
            env[name] = os.environ[name]
    return env


WRAPPER = []  # a program to run the program under, such as valgrind


LEGACY = None  # with --legacy: the Windows build without the UTF-8 code page setting


def command(args, program=None):
    return WRAPPER + ([WINE] if windows() else []) + [program or PROGRAM] + list(args)


def tavrix(args, cwd, locale="C", timeout=60, program=None):
    proc = subprocess.run(command(args, program), cwd=cwd, env=program_env(locale), stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout,
                          start_new_session=True)  # no controlling terminal: no keys
    return Run(proc)


class Case(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="tavrix-")
        self.dir = os.path.realpath(self._tmp.name)

    def tearDown(self):
        self._tmp.cleanup()

    def full(self, name=""):
        """A name in the test's directory as the program writes full paths."""
        if windows():
            return "Z:" + self.dir.replace("/", "\\") + "\\" + name
        return self.dir + "/" + name

    def make(self, *names, content=None):
        for name in names:
            path = os.path.join(os.fsencode(self.dir), os.fsencode(name))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content if content is not None else b"content of " + os.fsencode(name))

    def names(self, sub=""):
        return sorted(os.listdir(os.path.join(os.fsencode(self.dir), os.fsencode(sub))))

    def run_ok(self, *args, locale="C"):
        r = tavrix(args, self.dir, locale)
        self.assertEqual(0, r.status, r.err)
        self.assertEqual(b"", r.err)
        return r

    def run_failing(self, count, *args):
        """A run in which count matching files could not be backed up: status 4, and a line
        on standard error that says how many."""
        r = tavrix(args, self.dir)
        self.assertEqual(4, r.status, r.err)
        lines = r.err.replace(b"\r\n", b"\n").split(b"\n")  # Windows' text mode
        self.assertEqual(b"Tavrix: %d file(s) could not be backed up; /DEBUG tells why" % count,
                         lines[-2])
        # Each such file first, with its reason, as /DEBUG tells it.
        self.assertEqual(count, len(lines) - 2, r.err)
        for line in lines[:-2]:
            self.assertRegex(line, rb"^Tavrix: .*: not (renamed|copied), ", r.err)
        return r

    def contents(self, sub=""):
        """Every regular file's content, to prove that nothing was lost or overwritten."""
        base = os.path.join(os.fsencode(self.dir), os.fsencode(sub))
        found = []
        for n in os.listdir(base):
            p = os.path.join(base, n)
            if os.path.isfile(p) and not os.path.islink(p):
                with open(p, "rb") as f:
                    found.append(f.read())
        return sorted(found)


class SampleRun(Case):
    def test_the_readme_example(self):
        self.make("Example.doc", "Example.doc.000.bak")
        before = self.contents()
        r = self.run_ok("Example.doc")
        self.assertEqual(announce(self.full("Example.doc"), 1), r.out)
        self.assertEqual([b"Example.doc.000.bak", b"Example.doc.001.bak"], self.names())
        self.assertEqual(before, self.contents())
        with open(os.path.join(self.dir, "Example.doc.001.bak"), "rb") as f:
            self.assertEqual(b"content of Example.doc", f.read())

    def test_announcement_in_a_utf8_locale(self):
        self.make("a")
        r = self.run_ok("a", locale="C.UTF-8")
        self.assertEqual(announce(self.full("a"), 1, utf8=True), r.out)

    def test_quiet_prints_nothing(self):
        self.make("a", "b")
        for switch in ("/Q", "-q", "/q"):
            r = self.run_ok(switch, "*")
            self.assertEqual(b"", r.out)
        self.assertEqual([b"a.000.bak.000.bak.000.bak", b"b.000.bak.000.bak.000.bak"], self.names())


class ShapesAndNumbering(Case):
    def test_list_shows_each_files_backups_newest_first(self):
        # Numbers fill gaps: the backup made last is .000, the newest though not the highest.
        self.make("r.doc.001.bak", "r.doc.002.bak", "Other.doc.000.bak", "r.docx.000.bak", "r.doc")
        time.sleep(0.05)
        self.run_ok("r.doc", "/Q")
        before = self.names()
        r = self.run_ok("*.doc", "/LIST")
        self.assertEqual(before, self.names())  # changes nothing
        lines = r.out.replace(b"\r\n", b"\n").split(b"\n")
        self.assertEqual([b"  Other.doc: gone", b"  r.doc: gone"],
                         [n for n in lines if n.startswith(b"  ") and not n.startswith(b"    ")])
        backups = [n.split(b"  ")[2] for n in lines if n.startswith(b"    ")]
        self.assertEqual([b"Other.doc.000.bak", b"r.doc.000.bak", b"r.doc.001.bak",
                          b"r.doc.002.bak"], backups[:1] + sorted(backups[1:]))
        self.assertEqual(b"r.doc.000.bak", backups[1])
        self.assertTrue(re.search(rb"    r\.doc\.000\.bak  \d+ B  modified [-0-9: ]+ [-+]\d{4}  "
                                  rb"changed [-0-9: ]+ [-+]\d{4}  newest\n",
                                  r.out.replace(b"\r\n", b"\n")), r.out)
        self.assertIn(b"\t\t4 backup(s) of 2 file(s)", r.out)
        quiet = self.run_ok("*.doc", "--LIST", "--quiet")  # the long forms, in any case
        whole = r.out.replace(b"\r\n", b"\n")
        self.assertEqual(whole.split(b"\n", 1)[1].rsplit(b"\t\t", 1)[0],
                         quiet.out.replace(b"\r\n", b"\n"))

    def test_restore_the_newest_then_keep_two(self):
        def content(name):
            with open(os.path.join(self.dir, name), "rb") as f:
                return f.read()
        for version in (b"v1", b"v2", b"v3", b"v4"):
            self.make("r.doc", content=version)
            time.sleep(0.02)  # each backup takes its name later than the one before
            self.run_ok("r.doc", "/Q")
        os.remove(os.path.join(self.dir, "r.doc.000.bak"))
        os.rename(os.path.join(self.dir, "r.doc.003.bak"), os.path.join(self.dir, "r.doc"))
        self.run_ok("r.doc", "/Q")  # the gap is filled: .000 is the newest, not the highest
        self.make("r.doc", content=b"v5")
        before = self.names()
        r = self.run_ok("r.doc", "/RESTORE", "/L")
        self.assertIn(b"  r.doc <- r.doc.000.bak; the current file would become r.doc.003.bak", r.out)
        self.assertEqual(before, self.names())
        r = self.run_ok("r.doc", "-restore")  # told without /DEBUG
        self.assertIn(b"  r.doc <- r.doc.000.bak; the current file is now r.doc.003.bak", r.out)
        self.assertEqual((b"v4", b"v5"), (content("r.doc"), content("r.doc.003.bak")))
        r = self.run_ok("r.doc", "/RESTORE:001", "/DEBUG")  # by its number
        self.assertEqual((b"v2", b"v4"), (content("r.doc"), content("r.doc.000.bak")))
        time.sleep(0.02)
        r = self.run_ok("r.doc", "/KEEP:2", "/DEBUG")
        # Then the newest other version, v5, though v4 took its name later.
        self.assertIn(b"  r.doc -> r.doc.001.bak", r.out)
        self.assertEqual([b"r.doc.001.bak", b"r.doc.003.bak"], self.names())
        self.assertEqual((b"v2", b"v5"), (content("r.doc.001.bak"), content("r.doc.003.bak")))
        r = tavrix(["r.doc", "/RESTORE:1a"], self.dir)
        self.assertEqual(2, r.status)
        self.assertIn(b"/RESTORE: takes a backup's number", r.err)

    def test_newest_is_the_newest_version_after_chmod_copies_and_far_times(self):
        import json
        def path(*parts):
            return os.path.join(self.dir, *parts)
        # ls -t's order, the modification time's, whatever chmod or a copy keeping times did.
        for i, version in enumerate((b"v1", b"v2", b"v3")):
            self.make("a/n.txt", content=version)
            os.utime(path("a/n.txt"), (1700000000 + i * 86400,) * 2)
            self.run_ok("a/n.txt", "/Q")
        os.chmod(path("a/n.txt.000.bak"), 0o444)  # v1 now has the latest change time
        shutil.copytree(path("a"), path("b"), copy_function=shutil.copy2)
        for folder in ("a", "b"):
            listed = self.run_ok(folder + "/*.txt", "/LIST").out
            self.assertEqual([b"n.txt.002.bak", b"n.txt.001.bak", b"n.txt.000.bak"],
                             re.findall(rb"    (n\.txt\.00\d\.bak) ", listed), listed)
            self.assertRegex(listed, rb"    n\.txt\.002\.bak .*  newest")
        self.make("a/n.txt", content=b"v4")
        r = self.run_ok("a/n.txt", "/KEEP:2")
        self.assertIn(b"\t\t2 backup(s) removed", r.out)
        self.assertEqual([b"n.txt.002.bak", b"n.txt.003.bak"], self.names("a"))
        # Times past 2262 and to 9999, on a file system that keeps them (ext4 stops at 2446).
        far = path("far")
        os.mkdir(far)
        if os.geteuid() != 0 or subprocess.run(["mount", "-t", "tmpfs", "tmpfs", far]).returncode:
            self.skipTest("needs root to mount a tmpfs")
        try:
            self.make("far/f.txt", "far/f.txt.000.bak", "far/f.txt.001.bak")
            os.utime(path("far/f.txt.000.bak"), (10413792000,) * 2)  # 2300-01-01 00:00:00 UTC
            os.utime(path("far/f.txt.001.bak"), (253402257600,) * 2)  # 9999-12-31 12:00:00
            os.environ["TZ"] = "<+0130>-1:30"
            try:
                listed, data = (self.run_ok("far/f.txt", "/LIST", *more).out for more in ([], ["/JSON"]))
            finally:
                del os.environ["TZ"]
            records = [json.loads(line) for line in data.splitlines()]
            self.assertEqual({"original": "f.txt", "exists": True, "backups": 2}, records[0])
            self.assertTrue(all("changed" in o for o in records[1:]), records)
            times = {o["backup"]: o["mtime"] for o in records if "backup" in o}
            self.assertEqual({"f.txt.000.bak": "2300-01-01T00:00:00Z",
                              "f.txt.001.bak": "9999-12-31T12:00:00Z"}, times)
            self.assertRegex(listed, rb"f\.txt\.001\.bak .*modified 9999-12-31 .*newest")
            if not windows():  # Wine takes its time zone from its own settings
                self.assertIn(b"modified 2300-01-01 01:30:00 +0130", listed)
        finally:
            subprocess.run(["umount", far])

    def test_json_lines_read_back_exactly(self):
        import json
        names = [b"plain", b"sp ace", "rtl\u202eevil.txt".encode()]
        if not windows():  # names Windows cannot reach
            names += [b'q"uote', b"tab\tin", b"new\nline", b"bad\xffbyte"]
        for n in names:
            self.make(n.decode("utf-8", "surrogateescape"))

        def text(o, key):  # a name as its bytes, however the object holds it
            return bytes.fromhex(o[key + "_bytes"]) if key + "_bytes" in o else o[key].encode()
        for args in (["/L"], [], ["/LIST"], ["/RESTORE", "/L"]):
            r = self.run_ok("*", "/JSON", *args)
            objects = [json.loads(line) for line in r.out.replace(b"\r\n", b"\n").splitlines()]
            self.assertNotIn("\u202e".encode(), r.out)  # escaped: it reorders nothing
            backups = sorted(text(o, "backup") for o in objects if "backup" in o)
            self.assertEqual(sorted(n + b".000.bak" for n in names), backups, args)
        self.assertEqual(sorted(n + b".000.bak" for n in names), self.names())

    def test_every_shape_in_decimal_and_hex(self):
        cases = [
            ([], "Example.doc.000.bak"),
            (["/FORMAT1"], "Example.doc.000.bak"),
            (["/FORMAT2"], "Example.doc.000"),
            (["/FORMAT3"], "Example.000.doc"),
            (["/FORMAT4"], "Example.doc.000.bak"),
            (["/HEX"], "Example.doc.0000.bak"),
            (["-format2", "-hex"], "Example.doc.0000"),
            (["/FORMAT3", "/HEX"], "Example.0000.doc"),
            (["/FORMAT2", "/FORMAT1"], "Example.doc.000.bak"),
        ]
        for args, backup in cases:
            with self.subTest(args=args):
                self.make("Example.doc")
                r = self.run_ok(*args, "Example.doc")
                self.assertEqual(announce(self.full("Example.doc"), 1), r.out)
                self.assertEqual([backup.encode()], self.names())
                os.remove(os.path.join(self.dir, backup))

    def test_gaps_are_filled_and_hex_digits_are_lowercase(self):
        self.make("f.txt", "f.txt.000.bak", "f.txt.002.bak")
        self.run_ok("f.txt")
        self.assertIn(b"f.txt.001.bak", self.names())
        self.make("g.txt", *["g.%04x.txt" % i for i in range(26)])
        self.run_ok("/FORMAT3", "/HEX", "g.txt")
        self.assertIn(b"g.001a.txt", self.names())

    def test_all_decimal_candidates_taken(self):
        self.make("f", *["f.%03d" % i for i in range(998)])
        r = self.run_ok("/FORMAT2", "f")
        self.assertEqual(announce(self.full("f"), 1), r.out)
        self.assertIn(b"f.998", self.names())
        self.make("f")
        r = self.run_failing(1, "/FORMAT2", "f")
        self.assertEqual(announce(self.full("f"), 0), r.out)
        self.assertIn(b"f", self.names())
        self.assertNotIn(b"f.999", self.names())

    def test_name_before_extension_needs_an_extension_in_the_file_name(self):
        self.make("README", ".profile", "archive.tar.gz", "my.dir/README")
        r = self.run_ok("/FORMAT3", "*")
        self.assertEqual(announce(self.full("*"), 2), r.out)
        self.assertEqual([b".000.profile", b"README", b"archive.tar.000.gz", b"my.dir"], self.names())
        r = self.run_ok("/FORMAT3", "my.dir/README")
        self.assertEqual(announce("my.dir/README", 0), r.out)
        self.assertEqual([b"README"], self.names("my.dir"))


class CommandLine(Case):
    def test_too_many_parameters(self):
        self.make("a", "b")
        for args in (["a", "b"], ["a", "b", "/?"], ["/Q", "a", "b"]):
            r = tavrix(args, self.dir)
            self.assertEqual(1, r.status)
            self.assertEqual(eol(b"Too many parameters: use Tavrix /? for help\n"), r.out)
        self.assertEqual([b"a", b"b"], self.names())

    def test_help_without_a_console(self):
        self.make("a")
        for args in ([], ["/?"], ["/H"], ["-h"], ["-?"], ["/?", "a", "b"], ["a", "/h"]):
            r = tavrix(args, self.dir)
            self.assertEqual(0, r.status)
            self.assertEqual(help_to_file(), r.out, args)
        self.assertEqual([b"a"], self.names())

    def test_switches_only_and_unknown_switches(self):
        self.make("a")
        r = self.run_ok("/HEX", "-x", "/debug")
        self.assertEqual(announce(self.full(""), 0), r.out)
        self.assertEqual([b"a"], self.names())

    @posix_only("there a path may begin with '/'")
    def test_an_absolute_path_beginning_with_a_slash_is_no_switch(self):
        self.make("d/x.txt")
        r = tavrix([self.full("d/*.txt")], "/")
        self.assertEqual(announce(self.full("d/*.txt"), 1), r.out)
        self.assertEqual([b"x.txt.000.bak"], self.names("d"))

    @windows_only("every argument beginning with '/' is a switch")
    def test_slash_arguments_are_switches_and_drive_paths_are_absolute(self):
        self.make("d/x.txt")
        r = self.run_ok("/tmp", "/q")
        self.assertEqual(b"", r.out)
        r = tavrix([self.full("d\\*.txt")], "/")
        self.assertEqual(announce(self.full("d\\*.txt"), 1), r.out)
        self.assertEqual([b"x.txt.000.bak"], self.names("d"))

    @windows_only("a drive letter and a colon begin a path there")
    def test_a_drive_and_a_pattern_search_that_drives_current_directory(self):
        self.make("a.txt", "b.txt", "c.doc", "sub/d.txt")
        r = self.run_ok("Z:*.txt")
        self.assertEqual(announce("Z:*.txt", 2), r.out)
        self.assertEqual([b"a.txt.000.bak", b"b.txt.000.bak", b"c.doc", b"sub"], self.names())
        self.assertEqual([b"d.txt"], self.names("sub"))


class Switches(Case):
    # Each spelling of a dry run lists and changes nothing; a long switch that is not known is
    # refused before anything happens: a message on standard error, status 2.
    SPELLINGS = [("--dry-run", 0), ("--Dry-Run", 0), ("--DRY-RUN", 0), ("-n", 0), ("/N", 0),
                 ("/l", 0), ("--dryrun", 2), ("--dry_run", 2), ("--lists", 2), ("--", 2)]

    def test_every_spelling_of_a_dry_run_changes_nothing(self):
        self.make("c.doc")
        for switch, status in self.SPELLINGS:
            with self.subTest(switch=switch):
                r = tavrix(["c.doc", switch], self.dir)
                self.assertEqual(status, r.status, r.err)
                self.assertEqual([b"c.doc"], self.names())
                if status == 2:
                    self.assertEqual(b"", r.out)
                    program = b"Tavrix" if windows() else b"tavrix"  # as a user types it
                    self.assertEqual(eol(b'Unknown switch "%s": use %s --help for the switches\n'
                                         % (switch.encode(), program)), r.err)
                else:
                    self.assertIn(b"would be renamed", r.out)

    @posix_only("/dev/full and a closed standard output")
    def test_output_that_cannot_be_written_is_status_3(self):
        self.make("c.doc")
        for how in ("full", "closed"):
            with self.subTest(output=how):
                out = open("/dev/full", "wb") if how == "full" else None
                proc = subprocess.run(command(["c.doc", "/L"]), cwd=self.dir, env=program_env(),
                                      stdin=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                      stdout=out if out else subprocess.DEVNULL,
                                      close_fds=True, timeout=60,
                                      preexec_fn=None if out else lambda: os.close(1))
                if out:
                    out.close()
                self.assertEqual(3, proc.returncode)
                self.assertIn(b"Tavrix: standard output could not be written: ", proc.stderr)
                self.assertEqual([b"c.doc"], self.names())
        # What a run did stands: the file is renamed, the status says the report was lost.
        with open("/dev/full", "wb") as full:
            proc = subprocess.run(command(["c.doc"]), cwd=self.dir, env=program_env(),
                                  stdin=subprocess.DEVNULL, stdout=full, stderr=subprocess.PIPE)
        self.assertEqual(3, proc.returncode)
        self.assertEqual([b"c.doc.000.bak"], self.names())


class Matching(Case):
    @posix_only("the locale's character set decides what '?' matches on POSIX")
    def test_a_question_mark_is_one_character_in_a_utf8_locale(self):
        self.make("caf\u00e9.doc", "cafe.doc")
        utf8 = self.run_ok("caf?.doc", "/L", "/Q", locale="C.UTF-8")
        self.assertEqual(2, utf8.out.count(b" -> "))
        c = self.run_ok("caf?.doc", "/L", "/Q")  # one byte: only cafe.doc
        self.assertEqual(1, c.out.count(b" -> "))

    def test_star_renames_files_not_directories_nor_the_new_backups(self):
        self.make("a.doc", "b.txt", ".hidden", "sub/inner")
        r = self.run_ok("*")
        self.assertEqual(announce(self.full("*"), 3), r.out)
        self.assertEqual([b".hidden.000.bak", b"a.doc.000.bak", b"b.txt.000.bak", b"sub"], self.names())
        self.assertEqual([b"inner"], self.names("sub"))

    @posix_only("the Windows search ignores case")
    def test_patterns(self):
        self.make("README", "a.DOC", "a.doc", "ab.doc", "abc.doc")
        self.run_ok("?.doc")
        self.assertIn(b"a.doc.000.bak", self.names())
        self.assertIn(b"a.DOC", self.names())  # case counts
        self.run_ok("a*c.doc")
        self.assertIn(b"abc.doc.000.bak", self.names())
        self.assertIn(b"ab.doc", self.names())
        r = self.run_ok("*.*")
        self.assertEqual(announce(self.full("*.*"), 5), r.out)  # README too

    @windows_only("the Windows search ignores case")
    def test_matching_ignores_case(self):
        self.make("a.DOC", "b.doc", "c.txt")
        r = self.run_ok("*.doc")
        self.assertEqual(announce(self.full("*.doc"), 2), r.out)
        self.assertEqual([b"a.DOC.000.bak", b"b.doc.000.bak", b"c.txt"], self.names())

    def test_a_directory_named_without_wildcards_is_passed_over(self):
        self.make("docs/x")
        r = self.run_ok("docs")
        self.assertEqual(announce(self.full("docs"), 0), r.out)
        self.assertEqual([b"docs"], self.names())

    def test_nothing_matches(self):
        r = self.run_ok("none*")
        self.assertEqual(announce(self.full("none*"), 0), r.out)
        r = self.run_ok("missing/dir/*")
        self.assertEqual(announce("missing/dir/*", 0), r.out)

    @posix_only("on Windows a colon follows a drive letter")
    def test_a_colon_is_an_ordinary_character(self):
        self.make("a:b1", "a:c")
        r = self.run_ok("a:b*")
        self.assertEqual(announce(self.full("a:b*"), 1), r.out)
        self.assertEqual([b"a:b1.000.bak", b"a:c"], self.names())


class BackupsElsewhere(Case):
    """/TO:DIR: the backups in a directory of their own, for every mode."""

    def read(self, name):
        with open(os.path.join(self.dir, name), "rb") as f:
            return f.read()

    def test_a_relative_directory_in_every_mode(self):
        sep = b"\\" if windows() else b"/"
        self.make("docs/a.doc", "docs/b.doc", "docs/c.doc.000.bak", content=b"v1")
        before = self.names("docs")
        r = self.run_ok("docs/*", "/TO:.bak", "/L")
        self.assertIn(b"  .bak: would be made", r.out)
        self.assertIn(b"  a.doc -> .bak" + sep + b"a.doc.000.bak", r.out)
        self.assertEqual(before, self.names("docs"))  # nothing made
        r = self.run_ok("docs/*", "-to:.bak", "/DEBUG")
        self.assertIn(b"  .bak: made", r.out)
        # A name of the backups' shape beside the files is a file like any other.
        self.assertIn(b"  c.doc.000.bak -> .bak" + sep + b"c.doc.000.bak.000.bak", r.out)
        self.assertEqual([b".bak"], self.names("docs"))
        self.make("docs/a.doc", content=b"v2")
        self.run_ok("docs/*", "/TO:.bak", "/Q")  # the backups are never met again
        self.assertEqual([b"a.doc.000.bak", b"a.doc.001.bak", b"b.doc.000.bak",
                          b"c.doc.000.bak.000.bak"], self.names("docs/.bak"))
        self.make("docs/a.doc", content=b"v3")
        self.run_ok("docs/a.doc", "/TO:.bak", "/COPY", "/KEEP:2", "/Q")
        self.assertEqual([b"a.doc.001.bak", b"a.doc.002.bak"],
                         [n for n in self.names("docs/.bak") if n.startswith(b"a.")])
        listed = self.run_ok("docs/a.doc", "/TO:.bak", "/LIST").out
        self.assertRegex(listed, rb"    \.bak.a\.doc\.002\.bak .*newest")
        r = self.run_ok("docs/a.doc", "/TO:.bak", "/RESTORE:001", "/JSON")
        self.assertIn(b'"backup":".bak' + (b"\\\\" if windows() else b"/") + b'a.doc.001.bak"', r.out)
        self.assertEqual(b"v2", self.read("docs/a.doc"))
        self.assertEqual(b"v3", self.read("docs/.bak/a.doc.000.bak"))  # the lowest free
        self.assertEqual(2, tavrix(["docs/a.doc", "/TO:"], self.dir).status)

    @posix_only("modes, owners and links of POSIX directories, and a tmpfs, as root")
    def test_an_absolute_directory_mirrors_the_path_and_enters_no_link(self):
        root = os.path.join(self.dir, "backups")
        os.mkdir(root)
        self.make("work/r.doc")
        os.chmod(os.path.join(self.dir, "work"), 0o1777)
        r = self.run_ok("work/r.doc", "/TO:" + root, "/DEBUG")
        mirror = root + self.dir + "/work"
        self.assertIn(b"  r.doc -> " + os.fsencode(mirror) + b"/r.doc.000.bak", r.out)
        self.assertEqual(0o755, os.stat(mirror).st_mode & 0o7777)  # never 1777 nor 0777
        self.assertEqual([b"r.doc.000.bak"], self.names(mirror))
        # A link planted below DIR, and a directory another user owns there, are refused.
        self.make("other/o.doc", "owned/w.doc")
        os.symlink("/etc", root + self.dir + "/other")
        os.mkdir(root + self.dir + "/owned")
        os.chown(root + self.dir + "/owned", 65534, 65534)
        for name, why in ((b"other", b"a link or no directory"), (b"owned", b"owned by another user")):
            r = tavrix([name.decode() + "/*", "/TO:" + root], self.dir)
            self.assertEqual(4, r.status)
            self.assertIn(b": the backup directory could not be opened: ", r.err)
            self.assertIn(os.fsencode(root + self.dir) + b"/" + name + b": " + why, r.err)
        self.assertTrue(os.path.exists(os.path.join(self.dir, "other/o.doc")))
        self.assertFalse(os.path.exists("/etc/o.doc.000.bak"))
        # Another file system: a rename is refused, the file stays; a copy goes there.
        far = os.path.join(self.dir, "far")
        os.mkdir(far)
        if os.geteuid() != 0 or subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", far]).returncode:
            self.skipTest("needs root to mount a tmpfs")
        try:
            self.make("work/f.doc")
            self.run_failing(1, "work/f.doc", "/TO:" + far)
            self.assertTrue(os.path.exists(os.path.join(self.dir, "work/f.doc")))
            r = self.run_ok("work/f.doc", "/TO:" + far, "/COPY", "/DEBUG")
            self.assertIn(b"/f.doc.000.bak", r.out)
            r = tavrix(["work/f.doc", "/TO:" + far, "/RESTORE"], self.dir)
            self.assertEqual(4, r.status)
            self.assertIn(b"the backup directory is on another file system (use /COPY)", r.err)
        finally:
            subprocess.run(["umount", far])


class RetentionAndChanges(Case):
    """/KEEP:RULES over a month of nightly backups with chosen times, and /CHANGED."""

    def test_a_month_of_nightly_backups_kept_by_rules(self):
        day = 86400
        start = int(time.time()) - 40 * day
        path = os.path.join(self.dir, "app.conf")
        for n in range(40):  # a backup each night, at 03:00 UTC, of a file edited that day
            self.make("app.conf", content=b"night %d" % n)
            t = start - start % day + n * day + 3 * 3600
            os.utime(path, (t, t))
            self.run_ok("app.conf", "/COPY", "/Q")
        self.make("app.conf", content=b"today")
        os.environ["TZ"] = "UTC"
        try:
            dry = self.run_ok("app.conf", "/COPY", "/KEEP:3,daily=10,monthly=3", "/L").out
            run = self.run_ok("app.conf", "/COPY", "/KEEP:3,daily=10,monthly=3", "/DEBUG").out
        finally:
            del os.environ["TZ"]
        def told(out, word):
            return sorted(l.split(b":")[0].strip() for l in out.splitlines()
                          if word in l and l.startswith(b"  app.conf."))
        # /L tells the run's removals, and each kept backup with its rule.
        self.assertEqual(told(dry, b"would be removed"), told(run, b": removed"))
        self.assertEqual(told(dry, b": kept: "), told(run, b": kept: "))
        self.assertIn(b"app.conf.040.bak: kept: the newest", run)
        self.assertIn(b": kept: one of the 3 newest", run)
        self.assertRegex(run, rb": kept: newest of \d{4}-\d\d-\d\d \(daily 10 of 10\)")
        self.assertRegex(run, rb": kept: newest of \d{4}-\d\d \(monthly [23] of 3\)")
        left = [n for n in self.names() if n != b"app.conf"]
        self.assertEqual(len(told(run, b": kept: ")), len(left))
        self.assertIn(b"app.conf", self.names())
        r = tavrix(["app.conf", "/KEEP:3,daily=0"], self.dir)
        self.assertEqual(2, r.status)
        self.assertIn(b'"daily=0" is no rule', r.err)

    def test_changed_backs_up_only_what_differs(self):
        self.make("same.txt", "other.txt", "gone.txt", content=b"abc")
        self.run_ok("*.txt", "/COPY", "/Q")
        self.make("other.txt", content=b"abd")  # the same size, another byte
        os.remove(os.path.join(self.dir, "gone.txt"))
        r = self.run_ok("*.txt", "/CHANGED", "/DEBUG")  # by renaming
        self.assertIn(b"  same.txt: unchanged since same.txt.000.bak", r.out)
        self.assertIn(b"  other.txt -> other.txt.001.bak", r.out)
        self.assertIn(b"\t\t1 file(s) renamed", r.out)
        self.assertIn(b"same.txt", self.names())  # its content is in the backup already
        r = self.run_ok("*.txt", "/CHANGED", "/COPY", "/JSON")
        self.assertIn(b'"name":"same.txt","backup":"same.txt.000.bak","result":"unchanged"', r.out)
        self.assertNotIn(b"same.txt.001.bak", self.names())


class Directories(Case):
    def test_relative_directory_with_either_separator(self):
        self.make("sub/x.txt", "sub/y.doc", "x.txt")
        r = self.run_ok("sub/*.txt")
        self.assertEqual(announce("sub/*.txt", 1), r.out)
        r = self.run_ok("sub\\*.doc")
        self.assertEqual(announce("sub\\*.doc", 1), r.out)
        self.assertEqual([b"x.txt.000.bak", b"y.doc.000.bak"], self.names("sub"))
        self.assertEqual([b"sub", b"x.txt"], self.names())

    def test_mixed_separators_rename_what_matched(self):
        self.make("a/b/f", "a/f")
        r = self.run_ok("a\\b/f")
        self.assertEqual(announce("a\\b/f", 1), r.out)
        self.assertEqual([b"f.000.bak"], self.names("a/b"))
        self.assertEqual([b"b", b"f"], self.names("a"))

    def test_doubled_separators_and_dot_components(self):
        self.make("sub/x")
        r = self.run_ok("./sub//x")
        self.assertEqual(announce("./sub//x", 1), r.out)
        self.assertEqual([b"x.000.bak"], self.names("sub"))


class OddNames(Case):
    def test_spaces_and_non_ascii(self):
        names = [b"with space.doc", "caf\u00e9.doc".encode(), b" lead and trail .doc"]
        for n in names:
            self.make(n)
        before = self.contents()
        r = self.run_ok("*.doc")
        self.assertEqual(announce(self.full("*.doc"), 3), r.out)
        self.assertEqual(sorted(n + b".000.bak" for n in names), self.names())
        self.assertEqual(before, self.contents())

    def test_names_in_every_script_beside_their_look_alikes(self):
        # Each name renamed by its own name and by a wildcard, in every shape; the ASCII
        # look-alike beside it never. On Windows the names travel in the UTF-8 code page.
        pairs = [("\u03a9mega", "Omega"), ("\u0410\u0412C", "ABC"), ("\u65e5\u672c", "ab"),
                 ("caf\u00e9", "cafe"), ("\U0001f600x", "x"), ("\uff0e\uff0fx\uff3cy", "x")]
        shapes = (([], "%s.doc.000.bak"), (["/FORMAT2"], "%s.doc.000"),
                  (["/FORMAT3", "/HEX"], "%s.0000.doc"))
        for switches, shape in shapes:
            for own, look_alike in pairs:
                wildcard = "*%s*" % next(c for c in own if ord(c) > 127)
                for spec in (own + ".doc", wildcard):
                    with self.subTest(spec=spec, switches=switches):
                        self.make(own + ".doc", look_alike + ".doc")
                        r = self.run_ok(spec, "/DEBUG", *switches, locale="C.UTF-8")
                        self.assertEqual(sorted([(shape % own).encode(), (look_alike + ".doc").encode()]),
                                         self.names())
                        self.assertIn(b'Renaming "%s"' % self.full(spec).encode(), r.out)
                        self.assertIn(("  %s.doc -> %s" % (own, shape % own)).encode(), r.out)
                        for n in os.listdir(self.dir):
                            os.remove(os.path.join(self.dir, n))

    @windows_only("the code page of an older Windows, which ignores the manifest's setting")
    def test_in_a_single_byte_code_page_no_name_becomes_another(self):
        if not LEGACY:
            self.skipTest("no build without the UTF-8 code page setting")
        names = ["Omega.doc", "\u03a9mega.doc", "\u65e5\u672c.doc", "ab.doc", "caf\u00e9.doc"]
        self.make(*names)
        # Code page 1252 holds none of these exactly: nothing found, nothing renamed.
        for spec in ("\u03a9mega.doc", "\u65e5\u672c.doc", "..\uff0fx\uff3cy"):
            r = tavrix([spec], self.dir, "C.UTF-8", program=LEGACY)
            self.assertIn(b"\t\t0 file(s) renamed", r.out)
            self.assertEqual(sorted(n.encode() for n in names), self.names())
        r = tavrix(["*.doc", "/DEBUG"], self.dir, "C.UTF-8", program=LEGACY)
        self.assertEqual(sorted(n.encode() for n in ["Omega.doc.000.bak", "\u03a9mega.doc",
                                                     "\u65e5\u672c.doc", "ab.doc.000.bak",
                                                     "caf\u00e9.doc.000.bak"]), self.names())
        self.assertIn(b"?mega.doc: passed over, the code page cannot hold its name", r.out)
        self.assertIn(b"??.doc: passed over, the code page cannot hold its name", r.out)
        self.assertIn(b"\xfe Renaming", r.out)  # the bytes of old where the code page is not UTF-8
        self.assertIn(b"caf\xe9.doc -> caf\xe9.doc.000.bak", r.out)

    @posix_only("names there are bytes; Windows names are characters")
    def test_invalid_utf8(self):
        names = [b"bad\xff\xfe.doc", b"\xe0x.doc"]
        for n in names:
            self.make(n)
        before = self.contents()
        r = self.run_ok("*.doc")
        self.assertEqual(announce(self.full("*.doc"), 2), r.out)
        self.assertEqual(sorted(n + b".000.bak" for n in names), self.names())
        self.assertEqual(before, self.contents())
        r = self.run_ok(os.fsdecode(b"bad\xff\xfe.doc.000.bak"))
        self.assertIn(b"bad\xff\xfe.doc.000.bak.000.bak", self.names())

    @posix_only("a Windows name cannot hold a backslash")
    def test_a_name_holding_a_backslash_is_passed_over(self):
        self.make("a\\b", "c")
        r = self.run_ok("*")
        self.assertEqual(announce(self.full("*"), 1), r.out)
        self.assertEqual([b"a\\b", b"c.000.bak"], self.names())

    @posix_only("a Windows name cannot hold a backslash")
    def test_a_current_directory_whose_name_holds_a_backslash(self):
        # It is the directory the program runs in, not a pattern: a\b/x, never a/b/x, and
        # ..\.. reaches no higher.
        self.make("a\\b/x", "a/b/x", "..\\../x", "x")
        for where in ("a\\b", "..\\.."):
            cwd = os.path.join(self.dir, where)
            r = tavrix(["x"], cwd)
            self.assertEqual(announce(cwd + "/x", 1), r.out)
            self.assertEqual(["x.000.bak"], os.listdir(cwd))
        self.assertEqual([b"x"], self.names("a/b"))
        self.assertIn(b"x", self.names())

    @posix_only("device files and permissions of the POSIX file system")
    def test_devices_and_files_without_permission(self):
        self.make("locked")
        os.chmod(os.path.join(self.dir, "locked"), 0)
        if os.geteuid() == 0:
            os.mknod(os.path.join(self.dir, "null"), stat.S_IFCHR | 0o600, os.makedev(1, 3))
        r = self.run_ok("*")
        self.assertIn(b"locked.000.bak", self.names())
        if os.geteuid() == 0:
            self.assertTrue(stat.S_ISCHR(os.lstat(os.path.join(self.dir, "null.000.bak")).st_mode))

    @posix_only("a Windows name cannot hold control characters")
    def test_control_characters_in_names_and_arguments_pass_to_files_unchanged(self):
        name = "esc\x1b[31mred\x07"
        self.make(name)
        r = self.run_ok(name)
        self.assertEqual(announce(self.full(name), 1), r.out)  # not a terminal: bytes as they are
        self.assertEqual([(name + ".000.bak").encode()], self.names())

    @posix_only("links and FIFOs of the POSIX file system")
    def test_links_fifos_and_directories(self):
        self.make("target", "d/inner")
        os.symlink("target", os.path.join(self.dir, "link"))
        os.symlink("nowhere", os.path.join(self.dir, "dangling"))
        os.symlink("d", os.path.join(self.dir, "dirlink"))
        os.mkfifo(os.path.join(self.dir, "fifo"))
        r = self.run_ok("/FORMAT2", "*")  # would hang if the FIFO were opened
        self.assertEqual(announce(self.full("*"), 4), r.out)
        self.assertEqual([b"d", b"dangling.000", b"dirlink", b"fifo.000", b"link.000", b"target.000"],
                         self.names())
        self.assertEqual("target", os.readlink(os.path.join(self.dir, "link.000")))
        self.assertTrue(stat.S_ISFIFO(os.lstat(os.path.join(self.dir, "fifo.000")).st_mode))


    def test_read_only_and_linked_files_keep_content_mode_and_links(self):
        # Under Wine an ordinary file is moved by a new link, a read-only one by a rename.
        self.make("ro", "rw", "twin")
        os.chmod(os.path.join(self.dir, "ro"), 0o444)
        os.link(os.path.join(self.dir, "twin"), os.path.join(self.dir, "twin2"))
        before = self.contents()
        r = self.run_ok("*")
        self.assertEqual(announce(self.full("*"), 4), r.out)
        self.assertEqual([b"ro.000.bak", b"rw.000.bak", b"twin.000.bak", b"twin2.000.bak"],
                         self.names())
        self.assertEqual(before, self.contents())
        self.assertEqual(0o444, stat.S_IMODE(os.stat(os.path.join(self.dir, "ro.000.bak")).st_mode))
        self.assertEqual(2, os.stat(os.path.join(self.dir, "twin.000.bak")).st_nlink)


    @windows_only("names that Windows' own paths would cut or take for devices")
    def test_each_entry_is_reached_by_its_own_name_and_list_only_agrees(self):
        # Made by another system: a trailing blank or dot, device names, and characters that
        # Windows forbids (those are passed over, by /L as by the run).
        exact = ["rep", "rep ", "report", "report.", "nul", "con.txt", "aux.doc"]
        forbidden = ['a"b', "a*b", "a:b", "a<b", "a>b", "a?b", "a|b", "a\x01b"]
        for n in exact + forbidden:
            with open(os.path.join(self.dir, n), "wb") as f:
                f.write(n.encode())
        listed = self.run_ok("*", "/L").out
        done = self.run_ok("*", "/DEBUG").out
        self.assertEqual(listed.count(b" -> "), done.count(b" -> "))
        self.assertIn(b"\t\t7 file(s) would be renamed", listed)
        self.assertIn(b"\t\t7 file(s) renamed", done)
        for n in exact:
            with open(os.path.join(self.dir, n + ".000.bak"), "rb") as f:
                self.assertEqual(n.encode(), f.read(), n)
        for n in forbidden:
            self.assertIn(b"Windows cannot reach it by its name", done)
            self.assertTrue(os.path.exists(os.path.join(self.dir, n)), n)

    def wine_path(self, *parts):
        return self.full("\\".join(parts))

    def read(self, *parts):
        with open(os.path.join(os.fsencode(self.dir), *[os.fsencode(p) for p in parts]), "rb") as f:
            return f.read()

    @windows_only("paths typed as \\\\.\\ and \\\\?\\, which Windows normalises or takes as they are")
    def test_a_typed_long_path_reaches_the_directory_listed(self):
        # d holds a, "a " and "a."; its neighbour "d." holds an x of its own.
        for name in ("d/a", "d/a ", "d/a.", "d/x", "d./x"):
            self.make(name, content=name.encode())
        dotted = "\\\\.\\" + self.wine_path("d", "a?")
        listed = self.run_ok(dotted, "/L", "/COPY").out
        done = self.run_ok(dotted, "/COPY", "/DEBUG").out
        self.assertEqual(listed.count(b" -> "), done.count(b" -> "))
        self.assertIn(b"\t\t2 file(s) copied", done)
        self.assertEqual(b"d/a ", self.read("d", "a .000.bak"))
        self.assertEqual(b"d/a.", self.read("d", "a..000.bak"))
        self.run_ok("\\\\?\\" + self.wine_path("d.", "*"))
        self.assertEqual([b"x.000.bak"], self.names("d."))
        self.assertEqual(b"d./x", self.read("d.", "x.000.bak"))
        self.assertEqual(b"d/x", self.read("d", "x"))

    @windows_only("device names, which the system's search answers with an entry of its own")
    def test_a_device_name_typed_finds_only_the_file_of_that_name(self):
        for name in ("con", "con.txt", "aux.doc", "nul"):
            self.make(name, content=name.encode())
        for spec, count in (("con.txt", 1), ("AUX.DOC", 1), ("NUL.txt", 0), ("com1.x", 0),
                            ("CONOUT$", 0)):
            listed = self.run_ok(spec, "/L").out
            self.assertIn(b"\t\t%d file(s) would be renamed" % count, listed, spec)
            self.assertIn(b"\t\t%d file(s) renamed" % count, self.run_ok(spec).out, spec)
        self.assertEqual([b"aux.doc.000.bak", b"con", b"con.txt.000.bak", b"nul"], self.names())
        self.assertEqual(b"con.txt", self.read("con.txt.000.bak"))
        self.assertEqual(b"aux.doc", self.read("aux.doc.000.bak"))

    @windows_only("entries made by another system that Windows cannot reach by their names")
    def test_look_alike_names_links_and_fifos_are_passed_over_by_list_and_run(self):
        # Wine shows bytes that are not UTF-8 as U+FFFD, and a link as the file it points to.
        self.make(b"r\xffx", b"r\xef\xbf\xbdx", "target")
        os.symlink("target", os.path.join(self.dir, "lnk"))
        os.mkfifo(os.path.join(self.dir, "fifo"))
        before = self.contents()
        for args, done in ((["/COPY"], 1), ([], 2)):  # then target and its copy are renamed
            listed = self.run_ok("*", "/L", *args).out
            r = tavrix(["*", "/DEBUG"] + args, self.dir)
            self.assertEqual(0, r.status, r.err)
            for out in (listed, r.out):
                self.assertEqual(3, out.count(b"passed over, Windows cannot reach it by its name"), out)
                self.assertIn(b"fifo: passed over, a FIFO, socket or device", out)
                self.assertEqual(done, out.count(b" -> "), out)
        self.assertEqual([b"fifo", b"lnk", b"r\xef\xbf\xbdx", b"r\xffx", b"target.000.bak.000.bak",
                          b"target.001.bak"], self.names())
        self.assertEqual("target", os.readlink(os.path.join(self.dir, "lnk")))
        self.assertEqual(sorted(before + [b"content of target"]), self.contents())
        # Neither a removal nor a restore follows a link: as a backup or as the original.
        self.make("important", "app.log", "link.txt.000.bak", b"r\xffx.000.bak")
        os.symlink("important", os.path.join(self.dir, "app.log.000.bak"))
        os.symlink("important", os.path.join(self.dir, "link.txt"))
        before = self.contents()
        r = self.run_ok("app.log", "/KEEP:1", "/DEBUG")
        self.assertIn(b"app.log.000.bak: passed over, Windows cannot reach it by its name", r.out)
        for spec in ("link.txt", "r*"):
            r = tavrix([spec, "/RESTORE", "/DEBUG"], self.dir)
            self.assertEqual(4 if spec == "link.txt" else 0, r.status, r.err)
            self.assertEqual(0, r.out.count(b" <- "), r.out)
        self.assertEqual("important", os.readlink(os.path.join(self.dir, "link.txt")))
        self.assertEqual(before, self.contents())

    @windows_only("names that differ in case only, one name to Windows")
    def test_list_only_folds_case_as_the_run_does(self):
        self.make("A.doc", "a.doc", "\u00c4pfel.txt", "\u00e4PFEL.txt.000.bak")
        listed = self.run_ok("*.doc", "/L").out + self.run_ok("*.txt", "/L").out
        done = self.run_ok("*.doc", "/DEBUG").out + self.run_ok("*.txt", "/DEBUG").out
        lines = [l for l in listed.split(b"\r\n") if b" -> " in l]
        self.assertEqual(lines, [l for l in done.split(b"\r\n") if b" -> " in l])
        self.assertIn("  \u00c4pfel.txt -> \u00c4pfel.txt.001.bak".encode(), lines)
        self.assertEqual(3, len(lines))

    @windows_only("a file that another Windows program holds open, with every kind of sharing")
    def test_a_file_held_open_by_another_program_gets_one_backup_name(self):
        cc = shutil.which("x86_64-w64-mingw32-gcc")
        if not cc:
            self.skipTest("x86_64-w64-mingw32-gcc builds the program that holds the file")
        holder = os.path.join(self.dir, "holder.c")
        with open(holder, "w") as f:
            f.write("#include <windows.h>\n#include <stdio.h>\n"
                    "int wmain(int argc, wchar_t** argv) {\n"
                    "    HANDLE h = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | "
                    "FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);\n"
                    "    if (h == INVALID_HANDLE_VALUE) return 1;\n"
                    "    printf(\"held\\n\");\n    fflush(stdout);\n"
                    "    while (getchar() != EOF) {}\n    CloseHandle(h);\n    return 0;\n}\n")
        subprocess.run([cc, "-municode", "-o", holder[:-2] + ".exe", holder], check=True)
        os.mkdir(os.path.join(self.dir, "d"))
        self.make("d/held")
        hold = subprocess.Popen([WINE, holder[:-2] + ".exe", "held"], cwd=os.path.join(self.dir, "d"),
                                env=program_env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            self.assertEqual(b"held", hold.stdout.readline().strip())
            for _ in range(2):
                self.assertEqual(0, tavrix(["held"], os.path.join(self.dir, "d")).status)
            self.assertEqual([b"held.000.bak"], self.names("d"))
        finally:
            hold.stdin.close()
            hold.wait(timeout=60)
        self.assertEqual(1, os.stat(os.path.join(self.dir, "d", "held.000.bak")).st_nlink)
        self.assertEqual(b"content of d/held", self.read("d", "held.000.bak"))

    @windows_only("a copy's private name in a deep directory, under Windows' path limits")
    def test_a_copy_in_a_deep_directory(self):
        deep = os.path.join(self.dir, "d" * (243 - len(self.full())))
        os.mkdir(deep)
        with open(os.path.join(deep, "f"), "wb") as f:
            f.write(b"data")
        spec = os.path.basename(deep) + "\\f"
        self.assertIn(b"  f -> f.000.bak", self.run_ok(spec, "/L", "/COPY").out)
        r = self.run_ok(spec, "/COPY", "/DEBUG")
        self.assertIn(b"  f -> f.000.bak", r.out)
        with open(os.path.join(deep, "f.000.bak"), "rb") as f:
            self.assertEqual(b"data", f.read())

class Limits(Case):
    def test_a_specification_of_260_characters_finds_nothing(self):
        # Its file-name part alone must not be searched for in the current directory.
        self.make("f")
        spec = "d" * 200 + "/" + "e" * 57 + "/f"
        self.assertEqual(260, len(spec))
        r = self.run_ok(spec)
        self.assertEqual(announce(spec, 0), r.out)
        self.assertEqual([b"f"], self.names())

    def test_names_whose_backup_would_not_fit_are_left_alone(self):
        room = 259 - len(self.full())  # the longest full path is 259 characters
        fits = "a" * (room - 8)  # leaves room for ".000.bak"
        too_long = "b" * (room - 7)
        self.make(fits, too_long)
        r = self.run_failing(1, "*")
        self.assertEqual(announce(self.full("*"), 1), r.out)
        self.assertEqual(sorted([(fits + ".000.bak").encode(), too_long.encode()]), self.names())
        # The full paths decide, however the directory is spelt.
        os.rename(os.path.join(self.dir, fits + ".000.bak"), os.path.join(self.dir, fits))
        spelt = "./" * 30 + "*"
        r = self.run_failing(1, spelt)
        self.assertEqual(announce(spelt, 1), r.out)
        self.assertEqual(sorted([(fits + ".000.bak").encode(), too_long.encode()]), self.names())

    @windows_only("a drive whose root is the test's directory")
    def test_the_longest_names_in_a_drive_root_agree_with_list_only(self):
        prefix = os.environ.get("WINEPREFIX") or os.path.expanduser("~/.wine")
        drive = os.path.join(prefix, "dosdevices", "t:")
        if os.path.lexists(drive):
            self.skipTest("the drive T: is taken in this Wine prefix")
        self.make("n" * 247, "n" * 248)
        os.symlink(self.dir, drive)
        try:
            listed = tavrix(["T:\\n*", "/L"], self.dir).out
            done = tavrix(["T:\\n*", "/DEBUG"], self.dir).out
        finally:
            os.unlink(drive)
        # 247 characters and ".000.bak" are 255, the longest name; 248 get no backup name.
        self.assertIn(b"\t\t1 file(s) would be renamed", listed)
        self.assertIn(b"\t\t1 file(s) renamed", done)
        self.assertIn(b"n" * 248 + b": not renamed, the name would be too long", done)
        self.assertEqual([b"n" * 247 + b".000.bak", b"n" * 248], self.names())

    def test_a_pattern_too_long_for_the_current_directory_is_refused(self):
        name = "c" * (260 - len(self.full()))
        self.make(name[:200])
        r = self.run_ok(name)
        self.assertEqual(announce(self.full(name), 0), r.out)
        r = self.run_ok(name[:200] + "*")
        self.assertEqual(announce(self.full(name[:200] + "*"), 1), r.out)

    def test_specifications_around_the_limit(self):
        # 259 characters are searched; 260 and 261 find nothing, not even their last part.
        self.make("f")
        for length, found in ((259, 1), (260, 0), (261, 0)):
            spec = "./" * ((length - 1) // 2) + ("f" if length % 2 else "/f")
            self.assertEqual(length, len(spec))
            r = self.run_ok(spec)
            self.assertEqual(announce(spec, found), r.out)
            if found:
                os.rename(os.path.join(self.dir, "f.000.bak"), os.path.join(self.dir, "f"))
        self.assertEqual([b"f"], self.names())

    @posix_only("a current directory that long needs a POSIX file system")
    def test_current_directories_around_the_limit(self):
        for length in (258, 259, 260, 261):
            with self.subTest(length=length):
                deep = self.dir
                while len(deep) < length - 100:
                    deep = os.path.join(deep, "d" * 90)
                deep = os.path.join(deep, "e" * (length - len(deep) - 1))
                self.assertEqual(length, len(deep))
                os.makedirs(deep)
                with open(os.path.join(deep, "x"), "w") as f:
                    f.write("x")
                r = tavrix(["x"], deep)
                # The pattern, the directory and "/x" never fit; the file stays. From 260 on
                # the name alone is searched, and found: it could not be backed up.
                self.assertEqual(4 if length >= 260 else 0, r.status)
                self.assertTrue(r.out.endswith(b"\t\t0 file(s) renamed\n"), r.out)
                self.assertEqual(["x"], os.listdir(deep))

    def test_patterns_of_wildcards_alone(self):
        self.make("a", "bb", "c.d")
        for pattern in ("*", "**", "*?*", "?"):
            with self.subTest(pattern=pattern):
                r = self.run_ok("/Q", "/FORMAT2", pattern)
                self.assertEqual(b"", r.out)
        names = self.names()
        self.assertEqual(3, len(names))
        self.assertEqual(sorted(self.contents()), sorted([b"content of a", b"content of bb",
                                                          b"content of c.d"]))

    def test_arguments_of_any_length(self):
        # A Windows command line holds at most 32,767 characters.
        r = self.run_ok("/Q", "z" * (30000 if windows() else 100000))
        self.assertEqual(b"", r.out)


@posix_only("permissions of the POSIX file system")
class Refusals(Case):
    """A directory the user may not change, or read: nothing renamed, nothing lost."""

    def as_nobody(self, args):
        if os.geteuid() != 0:
            return tavrix(args, self.dir)
        if not shutil.which("setpriv"):
            self.skipTest("setpriv is missing")
        env = {"PATH": os.environ.get("PATH", ""), "LC_ALL": "C"}
        proc = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                               PROGRAM] + args, cwd=self.dir, env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60,
                              start_new_session=True)
        return Run(proc)

    def test_read_only_and_unreadable_directories(self):
        os.chmod(self.dir, 0o755)
        self.make("ro/a", "ro/b", "hidden/c")
        os.chmod(os.path.join(self.dir, "ro"), 0o555)
        os.chmod(os.path.join(self.dir, "hidden"), 0o311)  # may be entered, not listed
        try:
            r = self.as_nobody(["ro/*"])
            self.assertEqual(4, r.status, r.err)
            self.assertIn(b"2 file(s) could not be backed up", r.err)
            self.assertEqual(announce("ro/*", 0), r.out)
            self.assertEqual([b"a", b"b"], self.names("ro"))
            r = self.as_nobody(["hidden/*"])
            self.assertEqual(announce("hidden/*", 0), r.out)
            r = self.as_nobody(["hidden/*", "/DEBUG"])
            self.assertIn(b"  the directory could not be opened: Permission denied\n", r.out)
        finally:
            os.chmod(os.path.join(self.dir, "ro"), 0o755)
            os.chmod(os.path.join(self.dir, "hidden"), 0o755)
        self.assertEqual([b"c"], self.names("hidden"))

    def test_keep_and_restore_keep_the_promise_and_tell_each_failure(self):
        def content(name):
            with open(os.path.join(self.dir, name), "rb") as f:
                return f.read()
        os.chmod(self.dir, 0o755)
        # Where the listing gives a backup before its file, the run frees its name and then
        # gives it to the file: /KEEP, which chose by the listing, never removes that one.
        for n in "abcdefgh":
            self.make("k/%s.doc.000.bak" % n, content=b"old-" + n.encode())
            self.make("k/%s.doc" % n, content=b"CUR-" + n.encode())
        before = self.contents("k")
        listed = self.run_ok("k/*", "/KEEP:1", "/L").out
        self.assertNotIn(b": would be removed", listed)
        self.run_ok("k/*", "/KEEP:1", "/Q")
        self.assertEqual(before, self.contents("k"))
        # A named file without that backup, or without any, is a restore that failed.
        for args in (["nosuch.doc", "/RESTORE"], ["nosuch.doc", "/RESTORE:003"],
                     ["k/a.doc.001.bak", "/RESTORE:005", "/L"]):
            r = tavrix(args, self.dir)
            self.assertEqual(4, r.status, args)
            self.assertTrue(r.err.endswith(b"Tavrix: 1 file(s) %s be restored; %s tells why\n" %
                            ((b"would not", b"/L") if "/L" in args else (b"could not", b"/DEBUG"))),
                            r.err)
        # A directory that cannot be listed, in every mode; /L foresees what the run refuses.
        self.make("hidden/r.doc", "ro/r.doc", "ro/r.doc.000.bak", "sticky/r.doc",
                  "sticky/r.doc.000.bak", "sticky/r.doc.001.bak")
        os.chmod(os.path.join(self.dir, "hidden"), 0o733)
        os.chmod(os.path.join(self.dir, "ro"), 0o555)
        os.chmod(os.path.join(self.dir, "sticky"), 0o1777)
        os.chown(os.path.join(self.dir, "sticky/r.doc"), 65534, 65534)
        try:
            for mode in (["/Q"], ["/LIST"], ["/RESTORE"], ["/KEEP:1"], ["/JSON"], ["/L"]):
                r = self.as_nobody(["hidden/r.doc"] + mode)
                self.assertEqual(4, r.status, mode)
                self.assertIn(b"Tavrix: the directory could not be opened: Permission denied\n",
                              r.err, mode)
            for spec, mode, words in (("ro/r.doc", "/RESTORE", b"restored"),
                                      ("sticky/r.doc", "/KEEP:1", b"removed")):
                listed, done = (self.as_nobody([spec, mode] + more) for more in (["/L"], []))
                self.assertEqual((4, 4), (listed.status, done.status), (listed.out, done.out))
                self.assertIn(b"would not be " + words, listed.err)
                self.assertIn(b"could not be " + words, done.err)
        finally:
            os.chmod(os.path.join(self.dir, "hidden"), 0o755)
            os.chmod(os.path.join(self.dir, "ro"), 0o755)
        self.assertEqual([b"r.doc", b"r.doc.000.bak"], self.names("ro"))
        # A wildcard restore where one original is a backup of another restores what /L says.
        self.make("w/r.doc", "w/r.doc.000.bak", "w/r.doc.000.bak.000.bak")
        listed, done = self.run_ok("w/*", "/RESTORE", "/L").out, self.run_ok("w/*", "/RESTORE").out
        self.assertIn(b"\t\t1 file(s) would be restored", listed)
        self.assertIn(b"\t\t1 file(s) restored", done)
        self.assertEqual(b"content of w/r.doc.000.bak", content("w/r.doc"))


class Foreseen(Case):
    """/L says which files the run would refuse, in the run's own words, and counts them not."""

    def list_then_run(self, spec, *args, user=None, namespace=False):
        def run(*more):
            command = ([PROGRAM, spec] + list(args) + list(more))
            if user:
                command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] + command
            if namespace:  # root in a user namespace of its own, which maps no other user
                command = ["unshare", "-U", "-r"] + command
            return subprocess.run(command, cwd=self.dir, env=program_env(), stdin=subprocess.DEVNULL,
                                  capture_output=True, timeout=60, start_new_session=True).stdout
        listed, done = run("/L"), run("/DEBUG")
        refused = re.findall(rb"  (.*): would be refused: (.*)\n", listed)
        self.assertTrue(refused, listed)
        for name, why in refused:
            # The run names the step that failed: the rename, or the copy's opening or making.
            step = re.escape(b"  %s: not %s, " % (name, b"copied" if "/COPY" in args else b"renamed"))
            self.assertRegex(done, step + rb"the (rename was refused|move to a private name failed|file could not be opened|"
                             rb"copy could not be made): " + re.escape(why) + b"\n")
        count = re.search(rb"\t\t(\d+) file\(s\) would be", listed).group(1)
        self.assertIn(b"\t\t%s file(s) " % count, done)
        return refused

    @posix_only("attributes, mounts and user namespaces of Linux, as root")
    def test_list_only_asks_what_the_kernel_will_say(self):
        if os.geteuid() != 0 or PORTABLE:
            self.skipTest("needs root and the Linux build")
        os.chmod(self.dir, 0o755)
        self.make("append/a", "bound/a", "sticky/a", "short/x")
        append, bound = os.path.join(self.dir, "append"), os.path.join(self.dir, "bound/a")
        if subprocess.run(["chattr", "+a", append]).returncode:
            self.skipTest("this file system has no append-only directories")
        sticky = os.path.join(self.dir, "sticky")
        os.chmod(sticky, 0o1777)
        for n in (sticky, os.path.join(sticky, "a")):
            os.chown(n, 65534, 65534)
        short = os.path.join(self.dir, "short")  # a file system whose names are 255 bytes
        mounted = subprocess.run(["mount", "--bind", os.path.join(self.dir, "short/x"), bound]).returncode == 0
        tmpfs = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", short]).returncode == 0
        try:
            self.assertEqual([(b"a", b"Operation not permitted")], self.list_then_run("append/*"))
            if mounted:
                self.assertEqual([(b"a", b"Device or resource busy")], self.list_then_run("bound/*"))
            if shutil.which("unshare") and subprocess.run(["unshare", "-U", "-r", "true"]).returncode == 0:
                self.assertEqual([(b"a", b"Operation not permitted")],
                                 self.list_then_run("sticky/*", namespace=True))
            if tmpfs:
                with open(os.path.join(short, "n" * 248), "w") as f:
                    f.write("n")
                for run in ("/L", "/DEBUG"):  # its backup name would be 256 bytes
                    r = tavrix(["short/*", run], self.dir)
                    self.assertIn(b"not renamed, the name would be too long", r.out)
                    self.assertEqual(4, r.status)
        finally:
            subprocess.run(["chattr", "-a", append])
            for m, done in ((bound, mounted), (short, tmpfs)):
                if done:
                    subprocess.run(["umount", m])

    @posix_only("permissions, attributes and mounts of Linux, as root")
    def test_list_only_foresees_what_the_run_refuses(self):
        if os.geteuid() != 0 or not shutil.which("chattr"):
            self.skipTest("needs root and chattr")
        os.chmod(self.dir, 0o755)
        self.make("ro/a", "imm/a", "imm/b", "sticky/a", "sticky/theirs", "secret/a", "mount/a")
        os.chmod(os.path.join(self.dir, "ro"), 0o555)
        for n in ("imm/a", "imm/b"):
            if subprocess.run(["chattr", "+i" if n == "imm/a" else "+a",
                               os.path.join(self.dir, n)]).returncode:
                self.skipTest("this file system has no immutable files")
        os.chmod(os.path.join(self.dir, "sticky"), 0o1777)
        os.chmod(os.path.join(self.dir, "sticky/theirs"), 0o666)
        os.chown(os.path.join(self.dir, "sticky/a"), 65534, 65534)
        os.chmod(os.path.join(self.dir, "secret/a"), 0o600)
        os.chmod(os.path.join(self.dir, "secret"), 0o777)
        mount = os.path.join(self.dir, "mount")
        mounted = subprocess.run(["mount", "--bind", mount, mount]).returncode == 0 and \
            subprocess.run(["mount", "-o", "remount,ro,bind", mount]).returncode == 0
        try:
            self.assertEqual(1, len(self.list_then_run("ro/*", user=True)))
            if not PORTABLE:  # POSIX has no immutable files: only Linux tells of them
                self.assertEqual(2, len(self.list_then_run("imm/*")))
            self.assertEqual([(b"theirs", b"Operation not permitted")],
                             self.list_then_run("sticky/*", user=True))
            self.assertEqual(1, len(self.list_then_run("secret/a", "/COPY", user=True)))
            if mounted:
                self.assertEqual([(b"a", b"Read-only file system")], self.list_then_run("mount/*"))
        finally:
            if mounted:
                subprocess.run(["umount", mount])
            subprocess.run(["chattr", "-i", os.path.join(self.dir, "imm/a")])
            subprocess.run(["chattr", "-a", os.path.join(self.dir, "imm/b")])
            os.chmod(os.path.join(self.dir, "ro"), 0o755)


class Copies(Case):
    """/COPY keeps each file and makes its backup a copy; /L changes nothing."""

    def leftovers(self):
        return [n for n in self.names() if n.startswith(b".tavrix-")]

    def test_copies_keep_content_mode_and_times(self):
        self.make("ro", "rw", "old")
        os.chmod(os.path.join(self.dir, "ro"), 0o444)
        os.chmod(os.path.join(self.dir, "old"), 0o640)
        os.utime(os.path.join(self.dir, "old"), (1_000_000_000, 1_200_000_000))
        before = {n: os.stat(os.path.join(self.dir, n)) for n in ("ro", "rw", "old")}
        r = self.run_ok("*", "/COPY")
        self.assertEqual(announce(self.full("*"), 3, verb=b"Copying", done=b"copied"), r.out)
        self.assertEqual([b"old", b"old.000.bak", b"ro", b"ro.000.bak", b"rw", b"rw.000.bak"],
                         self.names())
        for n, was in before.items():
            copy = os.stat(os.path.join(self.dir, n + ".000.bak"))
            with open(os.path.join(self.dir, n + ".000.bak"), "rb") as f:
                self.assertEqual(b"content of " + n.encode(), f.read())
            tick = 100 if windows() else 1  # Windows keeps times in 100 ns
            self.assertEqual(was.st_mtime_ns // tick, copy.st_mtime_ns // tick, n)
            if not windows():
                self.assertEqual(stat.S_IMODE(was.st_mode), stat.S_IMODE(copy.st_mode), n)
                self.assertEqual(was.st_atime_ns, copy.st_atime_ns, n)
        # A second run: the next numbers; the copies of the first are copied too.
        r = self.run_ok("r?", "/COPY", "/L")
        self.assertIn(b"  ro -> ro.001.bak", r.out)
        self.assertIn(b"\t\t2 file(s) would be copied", r.out)
        self.assertEqual(6, len(self.names()))

    @posix_only("links and FIFOs of the POSIX file system")
    def test_a_link_is_copied_as_a_link_and_a_fifo_not_at_all(self):
        self.make("target")
        os.symlink("target", os.path.join(self.dir, "link"))
        os.symlink("nowhere", os.path.join(self.dir, "dangling"))
        os.mkfifo(os.path.join(self.dir, "fifo"))
        r = self.run_ok("*", "/COPY", "/DEBUG")
        self.assertIn(b"  fifo: passed over, a FIFO, socket or device", r.out)
        self.assertIn(b"\t\t3 file(s) copied", r.out)
        self.assertEqual("target", os.readlink(os.path.join(self.dir, "link.000.bak")))
        self.assertEqual("nowhere", os.readlink(os.path.join(self.dir, "dangling.000.bak")))
        self.assertNotIn(b"fifo.000.bak", self.names())

    @posix_only("extended attributes and access lists of Linux")
    def test_a_copy_keeps_extended_attributes_and_the_access_list(self):
        if PORTABLE:
            self.skipTest("POSIX.1-2008 has no extended attributes")
        self.make("pay.txt")
        path = os.path.join(self.dir, "pay.txt")
        try:
            os.setxattr(path, "user.note", b"private")
        except OSError:
            self.skipTest("no user extended attributes here")
        acl = shutil.which("setfacl") and subprocess.run(["setfacl", "-m", "u:nobody:---", path]).returncode == 0
        r = self.run_ok("pay.txt", "/COPY", "/DEBUG")
        self.assertIn(b"  pay.txt -> pay.txt.000.bak\n", r.out)  # nothing it could not keep
        copy = os.path.join(self.dir, "pay.txt.000.bak")
        self.assertEqual(b"private", os.getxattr(copy, "user.note"))
        if acl:  # nobody may not read the backup either
            self.assertEqual(os.getxattr(path, "system.posix_acl_access"),
                             os.getxattr(copy, "system.posix_acl_access"))
        self.assertEqual(os.stat(path).st_mode, os.stat(copy).st_mode)

    @posix_only("access lists, groups and users of Linux, as root")
    def test_a_backup_is_never_readable_by_someone_the_file_refuses(self):
        if os.geteuid() != 0 or not shutil.which("setfacl"):
            self.skipTest("needs root and setfacl")
        os.chmod(self.dir, 0o777)
        self.make("default/pay.txt", "theirs", "mine")

        def readable_by_nobody(path):
            return subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                   "cat", path], capture_output=True).returncode == 0

        def copy(spec, as_user=None):
            command = [PROGRAM, spec, "/COPY", "/DEBUG"]
            if as_user:
                command = ["setpriv", "--reuid=%d" % as_user, "--regid=%d" % as_user,
                           "--clear-groups"] + command
            return subprocess.run(command, cwd=self.dir, env=program_env(),
                                  stdin=subprocess.DEVNULL, capture_output=True, timeout=60).stdout
        # A directory whose default access list lets nobody read every new file.
        pay = os.path.join(self.dir, "default/pay.txt")
        subprocess.run(["setfacl", "-d", "-m", "u:nobody:rwx", os.path.dirname(pay)], check=True)
        subprocess.run(["setfacl", "-b", pay], check=True)
        os.chmod(pay, 0o640)
        copy("default/pay.txt")
        self.assertFalse(readable_by_nobody(pay))
        if not PORTABLE:  # which cannot look at an access list: the README says so
            self.assertFalse(readable_by_nobody(pay + ".000.bak"))
        # Another user's file, copied by a user who may give it neither owner nor group: the
        # group's bits go, so that the runner's own group does not read it.
        theirs = os.path.join(self.dir, "theirs")
        os.chown(theirs, 0, 0)
        os.chmod(theirs, 0o644)
        out = copy("theirs", as_user=1234)
        self.assertIn(b"not kept: its owner", out)
        self.assertEqual(0o604, stat.S_IMODE(os.stat(theirs + ".000.bak").st_mode))
        # A read-only file of the runner's own keeps its attributes.
        mine = os.path.join(self.dir, "mine")
        if not PORTABLE:
            os.setxattr(mine, "user.note", b"kept")
        os.chown(mine, 1234, 1234)
        os.chmod(mine, 0o444)
        self.assertIn(b"  mine -> mine.000.bak", copy("mine", as_user=1234))
        if not PORTABLE:
            self.assertEqual(b"kept", os.getxattr(mine + ".000.bak", "user.note"))

    @posix_only("a small tmpfs, mounted by root")
    def test_a_full_file_system_leaves_nothing_partial(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a tmpfs needs root")
        small = os.path.join(self.dir, "small")
        os.mkdir(small)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", small]).returncode:
            self.skipTest("cannot mount a tmpfs here")
        try:
            with open(os.path.join(small, "big"), "wb") as f:
                f.write(os.urandom(700 * 1024))
            r = tavrix(["big", "/COPY", "/DEBUG"], small)
            self.assertEqual(4, r.status)
            self.assertIn(b"  big: not copied, the data could not be copied: No space left on device",
                          r.out)
            self.assertIn(b"\t\t0 file(s) copied", r.out)
            self.assertEqual(["big"], os.listdir(small))
            # Holes stay holes: 64 MiB of which 8 KiB are data fit twice in the 1 MiB.
            os.remove(os.path.join(small, "big"))
            with open(os.path.join(small, "holes"), "wb") as f:
                f.seek(1 << 20)
                f.write(b"a" * 4096)
                f.truncate(64 << 20)
                f.seek((64 << 20) - 4096)
                f.write(b"z" * 4096)
            r = tavrix(["holes", "/COPY", "/DEBUG"], small)
            self.assertIn(b"  holes -> holes.000.bak", r.out)
            with open(os.path.join(small, "holes"), "rb") as a, open(os.path.join(small, "holes.000.bak"), "rb") as b:
                self.assertEqual(a.read(), b.read())
            self.assertLessEqual(os.stat(os.path.join(small, "holes.000.bak")).st_blocks,
                                 os.stat(os.path.join(small, "holes")).st_blocks)
        finally:
            subprocess.run(["umount", small])

    @posix_only("signals of POSIX")
    def test_killed_during_a_long_copy_leaves_no_partial_backup(self):
        size = 1 << 30  # about three seconds of copying here
        with open(os.path.join(self.dir, "big"), "wb") as f:
            f.truncate(size)
            f.seek(size - 1)
            f.write(b"x")
        proc = subprocess.Popen(command(["big", "/COPY"]), cwd=self.dir, env=program_env(),
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                start_new_session=True)
        time.sleep(0.5)
        proc.kill()
        proc.wait()
        names = self.names()
        # Without files that have no name, the copy's private name is what SIGKILL can leave.
        self.assertLessEqual(len(self.leftovers()), 1 if PORTABLE else 0)
        if b"big.000.bak" in names:  # only ever complete
            self.assertEqual(size, os.path.getsize(os.path.join(self.dir, "big.000.bak")))
        self.assertIn(b"big", names)

    def test_list_only_changes_nothing(self):
        self.make("a", "a.000.bak", "b")
        before = self.contents()
        r = self.run_ok("?", "/L")
        self.assertEqual([b"a", b"a.000.bak", b"b"], self.names())
        self.assertEqual(before, self.contents())
        self.assertIn(b"  a -> a.001.bak", r.out)
        self.assertIn(b"  b -> b.000.bak", r.out)
        self.assertIn(b"\t\t2 file(s) would be renamed", r.out)
        first = announce(self.full("?"), 0, verb=b"Would rename").split(b"\n")[0]
        self.assertTrue(r.out.startswith(first), r.out)
        r = self.run_ok("-l", "/Q", "b")
        self.assertEqual(eol(b"  b -> b.000.bak\n"), r.out)
        r = self.run_ok("--dry-run", "b")
        self.assertIn(b"1 file(s) would be renamed", r.out)
        self.assertEqual([b"a", b"a.000.bak", b"b"], self.names())


class Output(Case):
    def test_pipe_and_file_receive_the_same_bytes_without_escapes(self):
        self.make("a")
        piped = self.run_ok("/FORMAT2", "a").out
        self.make("a")
        with tempfile.TemporaryFile() as f:
            env = {"PATH": os.environ.get("PATH", ""), "LC_ALL": "C", "TERM": "xterm"}
            env.update({k: v for k, v in program_env().items() if k.startswith("WINE")})
            subprocess.run(command(["/FORMAT2", "a"]), cwd=self.dir, stdout=f, env=env,
                           stdin=subprocess.DEVNULL, start_new_session=True, check=True)
            f.seek(0)
            written = f.read()
        self.assertEqual(announce(self.full("a"), 1), piped)
        self.assertEqual(piped, written)
        self.assertNotIn(b"\x1b", written)


if __name__ == "__main__":
    PROGRAM = os.path.realpath(sys.argv.pop(1))
    if len(sys.argv) > 2 and sys.argv[1] == "--wine":
        WINE = sys.argv[2]
        del sys.argv[1:3]
        wine_support.start(WINE)
    if len(sys.argv) > 2 and sys.argv[1] == "--legacy":
        LEGACY = os.path.realpath(sys.argv[2])
        del sys.argv[1:3]
    if len(sys.argv) > 1 and sys.argv[1] == "--portable":
        PORTABLE = True
        del sys.argv[1]
    if len(sys.argv) > 2 and sys.argv[1] == "--wrapper":
        WRAPPER = sys.argv[2].split()
        del sys.argv[1:3]
    unittest.main(verbosity=2)
