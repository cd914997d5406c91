#!/usr/bin/env python3
"""Terminal tests: the built program in a real terminal (tmux), driven by key presses and
read back from the screen, colours included.

Usage: terminal_test.py PROGRAM [--wine WINE64] [unittest options]
With --wine, PROGRAM is the Windows build, run under Wine, whose console then draws on the
terminal.
"""
import itertools
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import wine_support

PROGRAM = None
WINE = None
SESSIONS = itertools.count()
TITLE = "           Tavrix v1.00  -  numbered backups that never overwrite"


def windows():
    return WINE is not None


def posix_only(why):
    def decorate(test):
        def guarded(self, *args):
            if windows():
                self.skipTest("POSIX only: " + why)
            return test(self, *args)
        guarded.__name__ = test.__name__
        return guarded
    return decorate


def row_of_line(i):
    """The screen row of help line i (i > 1) on a cleared screen 80 columns wide. A terminal
    ends the title's row with line 1's line end; the Windows console has already wrapped it
    after the 80th cell, and line 1 shows as an empty row."""
    return i if windows() else i - 1


class Terminal:
    """One tmux session of a given size running a shell command, on a private server."""

    def __init__(self, command, cwd, rows, cols=80, term="xterm"):
        self.socket = "tavrix-test-%d-%d" % (os.getpid(), next(SESSIONS))
        self.cwd = cwd
        # The shell outlives a Ctrl+C sent to the program: a trap, not an ignored signal,
        # so that the program starts with the default action.
        # Under Wine the console's host puts the terminal back after the program has ended,
        # not before: the settings after are read once it has had the time.
        settle = "sleep 1; " if windows() else ""
        script = ("trap : INT; stty -g > .stty-before; %s; echo EXIT=$?; %sstty -g > .stty-after; "
                  "exec sleep 600" % (command, settle))
        self.tmux("new-session", "-d", "-s", "t", "-x", str(cols), "-y", str(rows),
                  "-c", cwd, "env LC_ALL=C.UTF-8 TERM=%s sh -c %s" % (term, shlex.quote(script)))

    def tmux(self, *args):
        return subprocess.run(["tmux", "-u", "-L", self.socket, "-f", "/dev/null"] + list(args),
                              check=True, stdout=subprocess.PIPE, timeout=30).stdout.decode()

    def screen(self, colours=False):
        args = ["capture-pane", "-p", "-t", "t"] + (["-e"] if colours else [])
        return self.tmux(*args)

    def rows(self):
        return self.screen().split("\n")

    def keys(self, *keys):
        self.tmux("send-keys", "-t", "t", *keys)

    def wait_for(self, predicate, what, timeout=15):
        deadline = time.time() + timeout
        while time.time() < deadline:
            text = self.screen()
            if predicate(text):
                return text
            time.sleep(0.05)
        raise AssertionError("timed out waiting for %s; screen:\n%s" % (what, self.screen()))

    def wait_pause_after(self, text, timeout=15):
        """Waits until the pager pauses with text in the row above its prompt."""
        def paused(screen):
            rows = screen.split("\n")
            last = max((i for i, r in enumerate(rows) if r == "-- more --"), default=0)
            return last > 0 and text in rows[last - 1] and not any(rows[last + 1:])
        return self.wait_for(paused, "a pause after %r" % text, timeout)

    def wait_text(self, text, timeout=15):
        return self.wait_for(lambda s: text in s, repr(text), timeout)

    def exit_status(self, timeout=15):
        text = self.wait_for(lambda s: re.search(r"EXIT=\d+", s), "the program to end", timeout)
        return int(re.search(r"EXIT=(\d+)", text).group(1))

    def settings_kept(self):
        """True when the terminal settings after the run are those from before it."""
        deadline = time.time() + 10
        after = os.path.join(self.cwd, ".stty-after")
        while not os.path.exists(after) and time.time() < deadline:
            time.sleep(0.05)
        time.sleep(0.1)
        with open(os.path.join(self.cwd, ".stty-before")) as b, open(after) as a:
            return b.read() == a.read()

    def program_pid(self):
        shell = self.tmux("list-panes", "-t", "t", "-F", "#{pane_pid}").strip()
        return int(subprocess.run(["pgrep", "-P", shell], stdout=subprocess.PIPE,
                                  check=True).stdout.split()[0])

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], stderr=subprocess.DEVNULL)


class TerminalCase(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="tavrix-tty-")
        self.dir = os.path.realpath(self._tmp.name)
        self.terms = []

    def tearDown(self):
        for t in self.terms:
            t.close()
        self._tmp.cleanup()

    def start(self, args, rows=24, cols=80, term="xterm", env=None):
        words = ([WINE] if windows() else []) + [PROGRAM] + list(args)
        if env:
            words = ["env"] + ["%s=%s" % kv for kv in sorted(env.items())] + words
        command = " ".join(shlex.quote(w) for w in words)
        t = Terminal(command, self.dir, rows, cols, term)
        self.terms.append(t)
        return t


class HelpPager(TerminalCase):
    def test_24_rows_one_pause_page_up_shows_it_again_then_esc(self):
        t = self.start(["/?"], rows=24)
        t.wait_text("-- more --")
        rows = t.rows()
        self.assertEqual(TITLE, rows[0].rstrip())
        self.assertEqual("                          e.e. Example.doc => Example.001A.doc",
                         rows[row_of_line(21)])
        self.assertEqual("-- more --", rows[row_of_line(22)])
        coloured = t.screen(colours=True).split("\n")[0]
        self.assertIn("\x1b[44m", coloured)  # the title bar: bright white on blue
        self.assertIn("\x1b[97m", coloured)

        t.keys("PPage")  # any other key would end the help here
        time.sleep(0.5)
        t.wait_for(lambda s: s.split("\n") == rows, "the help drawn again")
        t.keys("Escape")
        self.assertEqual(0, t.exit_status())
        self.assertTrue(t.settings_kept())

    def test_a_dumb_terminal_and_a_narrow_window_page_by_the_window(self):
        if windows():
            self.skipTest("TERM is for POSIX terminals")
        # TERM=dumb: no escape sequences, but the window's 24 rows still make the page.
        t = self.start(["/?"], rows=24, term="dumb")
        t.wait_text("-- more --")
        rows = t.rows()
        self.assertEqual(TITLE, rows[0].rstrip())
        self.assertEqual("-- more --", rows[row_of_line(22)], t.screen())  # as on any terminal
        t.keys("Escape")
        self.assertEqual(0, t.exit_status())
        # 40 columns: lines wrap, and the first page ends before its top scrolls away.
        t = self.start(["/?"], rows=24, cols=40)
        t.wait_text("-- more --")
        self.assertEqual(TITLE[:40], t.rows()[0].rstrip())
        t.keys("Escape")
        self.assertEqual(0, t.exit_status())

    def test_20_rows_line_18_is_written_over_the_prompt(self):
        t = self.start(["-h"], rows=20)
        t.wait_text("-- more --")
        rows = t.rows()
        self.assertEqual("-- more --", rows[row_of_line(18)])
        self.assertEqual("/FORMAT2     *.NNN      - Sequence number in hexadecimal or decimal",
                         rows[row_of_line(17)])
        t.keys("Space")
        self.assertEqual(0, t.exit_status())
        rows = t.rows()
        line17 = rows.index("/FORMAT2     *.NNN      - Sequence number in hexadecimal or decimal")
        self.assertEqual("                          e.g. Example.doc => Example.doc.001", rows[line17 + 1])
        self.assertNotIn("-- more --", t.screen())
        self.assertTrue(t.settings_kept())

    def test_4_rows_pause_after_every_line_and_page_back(self):
        t = self.start([], rows=4)
        t.wait_text("-- more --")
        self.assertIn("-- more --", t.rows()[row_of_line(2)])  # the title, line 1, the prompt
        t.keys("Space")
        t.wait_pause_after("Backs up a file")
        t.keys("Space")
        t.wait_pause_after("preserving the original")
        t.keys("PPage")  # back to line 1: a cleared screen with the empty line and the prompt
        t.wait_for(lambda s: s.split("\n")[:2] == ["", "-- more --"] and "Backs up" not in s,
                   "line 1 alone")
        t.keys("Space")
        t.wait_pause_after("Backs up a file")
        t.keys("Escape")
        self.assertEqual(0, t.exit_status())
        self.assertTrue(t.settings_kept())

    def test_esc_at_a_pause_ends_at_once(self):
        t = self.start([], rows=10)  # pages of 7 lines
        t.wait_text("-- more --")
        t.keys("Escape")
        self.assertEqual(0, t.exit_status())
        rows = t.rows()
        # The shell writes over the prompt's row; nothing of the help came after it.
        self.assertTrue(rows[row_of_line(8)].startswith("EXIT=0"), rows)
        self.assertEqual("Wildcards are permitted, subidrectories are not procesed",
                         rows[row_of_line(6)])
        self.assertNotIn("Syntax", t.screen())
        self.assertTrue(t.settings_kept())

    @posix_only("Wine's console reads Ctrl+C as a key there")
    def test_ctrl_c_at_the_pager_restores_the_terminal(self):
        t = self.start(["/?"], rows=10)
        t.wait_text("-- more --")
        t.keys("C-c")
        self.assertEqual(130, t.exit_status())
        self.assertTrue(t.settings_kept())

    @posix_only("signals of the POSIX terminal")
    def test_terminating_signals_restore_the_terminal_and_still_end_by_the_signal(self):
        for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGPIPE):
            with self.subTest(signal=sig.name):
                t = self.start(["/?"], rows=10)
                t.wait_text("-- more --")
                os.kill(t.program_pid(), sig)
                self.assertEqual(128 + sig, t.exit_status())
                self.assertTrue(t.settings_kept())
                t.close()
                os.remove(os.path.join(self.dir, ".stty-after"))


class Renaming(TerminalCase):
    def test_sample_run_in_a_terminal(self):
        open(os.path.join(self.dir, "Example.doc"), "w").close()
        t = self.start(["Example.doc"])
        self.assertEqual(0, t.exit_status())
        screen = t.screen()
        if windows():
            self.assertIn(' \u25a0 Renaming "Z:%s\\Example.doc"' % self.dir.replace("/", "\\"), screen)
        else:
            self.assertIn(' \u25a0 Renaming "%s/Example.doc"' % self.dir, screen)
        self.assertIn("1 file(s) renamed", screen)
        self.assertTrue(os.path.exists(os.path.join(self.dir, "Example.doc.000.bak")))
        self.assertTrue(t.settings_kept())

    def test_the_end_of_the_help_keeps_the_terminal_settings(self):
        t = self.start(["/?"], rows=30)  # everything fits: no pause
        self.assertEqual(0, t.exit_status())
        self.assertEqual(TITLE, t.rows()[0].rstrip())
        self.assertTrue(t.settings_kept())

    @posix_only("Wine's console reads Ctrl+C as a key there")
    def test_ctrl_c_during_a_run_restores_the_terminal(self):
        for i in range(60000):
            open(os.path.join(self.dir, "f%05d" % i), "w").close()
        t = self.start(["f*"])
        t.wait_text("Renaming")
        t.keys("C-c")
        self.assertEqual(130, t.exit_status(timeout=60))
        self.assertNotIn("file(s) renamed", t.screen())  # ended by the signal: no summary
        self.assertTrue(t.settings_kept())
        self.assertEqual(60000, len([n for n in os.listdir(self.dir) if n.startswith("f")]))

    def test_names_in_every_script_show_as_they_are(self):
        names = ["\u03a9mega.doc", "\u65e5\u672c.doc", "caf\u00e9.doc", "\u0416.doc"]
        for n in names:
            open(os.path.join(self.dir, n), "w").close()
        t = self.start(["*.doc", "/DEBUG"])
        self.assertEqual(0, t.exit_status())
        screen = t.screen()
        for n in names:
            self.assertIn("  %s -> %s.000.bak" % (n, n), screen)
        self.assertIn("\u25a0 Renaming", screen)  # the square, from code page 437
        self.assertIn("4 file(s) renamed", screen)

    @posix_only("a Windows name cannot hold control characters")
    def test_escape_sequences_in_a_name_reach_the_terminal_as_text(self):
        name = "x\x1b[31mred\x1b]0;title\x07\x9b1m"
        open(os.path.join(self.dir, name), "w").close()
        t = self.start([name])
        self.assertEqual(0, t.exit_status())
        self.assertIn("x\\x1b[31mred\\x1b]0;title\\x07\\xc2\\x9b1m", t.screen())
        self.assertNotIn("\x1b[31m", t.screen(colours=True))
        self.assertTrue(os.path.exists(os.path.join(self.dir, name + ".000.bak")))

    @posix_only("pipes to a pager and the POSIX terminal's settings")
    def test_output_to_a_pipe_leaves_the_terminal_to_its_reader(self):
        # The reader looks at the terminal's settings while the program waits on the pipe;
        # head makes the program end by SIGPIPE under a shell that does not restore them.
        for i in range(5000):
            open(os.path.join(self.dir, "f%05d" % i), "w").close()
        quoted = shlex.quote(PROGRAM)
        for reader in ("(sleep 0.5; stty -g < /dev/tty > .stty-during; cat > /dev/null)",
                       "head -2"):
            with self.subTest(reader=reader):
                t = Terminal("%s /DEBUG 'f*' | %s" % (quoted, reader), self.dir, 24)
                self.terms.append(t)
                self.assertEqual(0, t.exit_status(timeout=60))
                self.assertTrue(t.settings_kept())
                if "during" in reader:
                    with open(os.path.join(self.dir, ".stty-before")) as b, \
                            open(os.path.join(self.dir, ".stty-during")) as d:
                        self.assertEqual(b.read(), d.read())
                t.close()
                os.remove(os.path.join(self.dir, ".stty-after"))

    @posix_only("job control of a POSIX shell")
    def test_stopped_sent_to_the_background_and_back_esc_still_cancels(self):
        count = 200000  # seconds of renaming, so that each run outlasts its stop and return
        for i in range(count):
            open(os.path.join(self.dir, "f%06d" % i), "w").close()
        t = Terminal("PS1=ready$ bash --norc --noprofile -i", self.dir, 24)
        self.terms.append(t)
        t.wait_text("ready$")
        t.keys("%s 'f*'" % shlex.quote(PROGRAM), "Enter")
        t.wait_text("Renaming")
        t.keys("C-z")
        t.wait_text("Stopped")
        t.keys("bg", "Enter")
        t.keys("true", "Enter")  # keys at the shell while the program runs in the background
        t.keys("fg", "Enter")
        t.wait_for(lambda s: s.rstrip().endswith("f*'"), "the job in the foreground again")
        time.sleep(0.2)
        t.keys("Escape")
        # Within seconds, not at once, on a loaded machine or under AddressSanitizer: an Esc
        # typed before the key mode is back waits in the terminal and is read then.
        t.wait_text(" * Cancelled *", timeout=5)
        t.wait_text("file(s) renamed")
        # Started in the background, before its first look for a key: Esc works after fg too.
        t.keys("clear", "Enter")
        t.wait_for(lambda s: "Cancelled" not in s, "a cleared screen")
        t.keys("%s 'f*' &" % shlex.quote(PROGRAM), "Enter")
        t.wait_text("Renaming")  # it has looked for keys in the background
        time.sleep(0.3)
        t.keys("fg", "Enter")
        t.wait_for(lambda s: s.rstrip().endswith("f*'"), "the second job in the foreground")
        time.sleep(0.2)
        t.keys("Escape")
        # Within seconds, not at once, on a loaded machine or under AddressSanitizer: an Esc
        # typed before the key mode is back waits in the terminal and is read then.
        t.wait_text(" * Cancelled *", timeout=5)
        t.keys("exit", "Enter")
        self.assertEqual(0, t.exit_status())
        self.assertTrue(t.settings_kept())
        self.assertEqual(count, len([n for n in os.listdir(self.dir) if n.startswith("f")]))

    def slow_copies(self):
        """On POSIX, the environment that makes each part of a copy take 0.4 s, as on a slow
        disk (the rename shim, preloaded): a copy of 64 MiB takes some seconds on any machine."""
        if windows():
            return None  # Wine's own reads and writes take long enough
        shim = os.path.join(self.dir, ".shim.so")
        here = os.path.dirname(os.path.abspath(__file__))
        subprocess.run([shutil.which("cc") or "gcc", "-shared", "-fPIC", "-O2", "-o", shim,
                        os.path.join(here, "rename_shim.c"), "-ldl"], check=True)
        return {"LD_PRELOAD": shim, "TAVRIX_SLOW_COPY_MS": "400",
                "ASAN_OPTIONS": "verify_asan_link_order=0"}

    def test_a_long_copy_shows_its_progress_and_esc_cancels_it(self):
        # 64 MiB of data (holes would be passed over at once), under a name longer than the
        # window: the progress is one row, the name shortened in its middle.
        name = "big-" + "n" * 100 + "-end"
        with open(os.path.join(self.dir, name), "wb") as f:
            for _ in range(8):
                f.write(b"\1" * (8 << 20))
        env = self.slow_copies()
        if windows():  # a gibibyte for Wine, whose copies have no slow shim
            with open(os.path.join(self.dir, name), "ab") as f:
                for _ in range(120):
                    f.write(b"\1" * (8 << 20))
        t = self.start([name, "/COPY"], env=env)
        t.wait_text("% ", timeout=30)  # the progress line, after a second
        rows = [r for r in t.rows() if "%" in r]
        self.assertEqual(1, len(rows), t.screen())
        self.assertRegex(rows[0], r"^  big-n+…n+-end  \d+%  [\d.]+ [KMG]iB of (64.0 MiB|1.0 GiB)$")
        self.assertLess(len(rows[0]), 80)
        t.keys("Escape")
        self.assertEqual(0, t.exit_status(timeout=30))
        screen = t.screen()
        self.assertIn(" * Cancelled *", screen)
        self.assertIn("0 file(s) copied", screen)
        self.assertNotIn("% ", screen)  # the progress line erased
        self.assertEqual([name], [n for n in os.listdir(self.dir) if not n.startswith(".")])
        self.assertTrue(t.settings_kept())

    def test_esc_cancels_a_run_over_many_files(self):
        count = 3000 if windows() else 60000  # Wine renames some 300 files a second
        for i in range(count):
            open(os.path.join(self.dir, "f%05d" % i), "w").close()
        t = self.start(["f*"])
        t.wait_text("Renaming")
        t.keys("Escape")
        self.assertEqual(0, t.exit_status(timeout=120))
        screen = t.screen()
        self.assertIn(" * Cancelled *", screen)
        done = int(re.search(r"(\d+) file\(s\) renamed", screen).group(1))
        names = os.listdir(self.dir)
        backups = [n for n in names if n.endswith(".000.bak")]
        self.assertLess(done, count, "Esc came too late to cancel anything")
        self.assertEqual(done, len(backups))
        self.assertEqual(count, len([n for n in names if n.startswith("f")]))  # nothing lost
        coloured = t.screen(colours=True)
        self.assertRegex(coloured, r"\x1b\[93m \* Cancelled \*")  # yellow
        self.assertTrue(t.settings_kept())


if __name__ == "__main__":
    PROGRAM = os.path.realpath(sys.argv.pop(1))
    if len(sys.argv) > 2 and sys.argv[1] == "--wine":
        WINE = sys.argv[2]
        del sys.argv[1:3]
        wine_support.start(WINE)
    if not shutil.which("tmux"):
        print("tmux is missing: install it (apt-get install tmux)")
        sys.exit(1)
    unittest.main(verbosity=2)
