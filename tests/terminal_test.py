#!/usr/bin/env python3
"""Terminal tests: the built program in a real terminal (tmux), driven by key presses and
read back from the screen, colours included.

Usage: terminal_test.py PROGRAM [unittest options]
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

PROGRAM = None
SESSIONS = itertools.count()
TITLE = "           Tavrix v1.00  -  numbered backups that never overwrite"


class Terminal:
    """One tmux session of a given size running a shell command, on a private server."""

    def __init__(self, command, cwd, rows, cols=80):
        self.socket = "tavrix-test-%d-%d" % (os.getpid(), next(SESSIONS))
        self.cwd = cwd
        # The shell outlives a Ctrl+C sent to the program: a trap, not an ignored signal,
        # so that the program starts with the default action.
        script = ("trap : INT; stty -g > .stty-before; %s; echo EXIT=$?; stty -g > .stty-after; "
                  "exec sleep 600" % command)
        self.tmux("new-session", "-d", "-s", "t", "-x", str(cols), "-y", str(rows),
                  "-c", cwd, "env LC_ALL=C.UTF-8 TERM=xterm sh -c %s" % shlex.quote(script))

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

    def start(self, args, rows=24):
        command = " ".join([shlex.quote(PROGRAM)] + [shlex.quote(a) for a in args])
        t = Terminal(command, self.dir, rows)
        self.terms.append(t)
        return t


class HelpPager(TerminalCase):
    def test_24_rows_one_pause_page_up_shows_it_again_then_esc(self):
        t = self.start(["/?"], rows=24)
        t.wait_text("-- more --")
        rows = t.rows()
        self.assertEqual(TITLE, rows[0].rstrip())
        self.assertEqual("                          e.e. Example.doc => Example.001A.doc", rows[20])
        self.assertEqual("-- more --", rows[21])
        coloured = t.screen(colours=True).split("\n")[0]
        self.assertIn("\x1b[44m", coloured)  # the title bar: bright white on blue
        self.assertIn("\x1b[97m", coloured)

        t.keys("PPage")  # any other key would end the help here
        time.sleep(0.5)
        self.assertEqual(rows, t.rows())
        t.keys("Escape")
        self.assertEqual(0, t.exit_status())
        self.assertTrue(t.settings_kept())

    def test_20_rows_line_18_is_written_over_the_prompt(self):
        t = self.start(["-h"], rows=20)
        t.wait_text("-- more --")
        rows = t.rows()
        self.assertEqual("-- more --", rows[17])
        self.assertEqual("/FORMAT2     *.NNN      - Sequence number in hexadecimal or decimal", rows[16])
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
        self.assertIn("-- more --", t.rows()[1])  # the title, then line 1 (empty), then the prompt
        t.keys("Space")
        t.wait_for(lambda s: "Backs up a file" in s and "-- more --" in s, "line 2")
        t.keys("Space")
        t.wait_for(lambda s: "preserving the original" in s, "line 3")
        t.keys("PPage")  # back to line 1: a cleared screen with the empty line and the prompt
        t.wait_for(lambda s: "preserving" not in s and "Backs up" not in s and "-- more --" in s,
                   "line 1 alone")
        t.keys("Space")
        t.wait_for(lambda s: "Backs up a file" in s, "line 2 again")
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
        self.assertTrue(rows[7].startswith("EXIT=0"), rows)
        self.assertEqual("Wildcards are permitted, subidrectories are not procesed", rows[5])
        self.assertNotIn("Syntax", t.screen())
        self.assertTrue(t.settings_kept())

    def test_ctrl_c_at_the_pager_restores_the_terminal(self):
        t = self.start(["/?"], rows=10)
        t.wait_text("-- more --")
        t.keys("C-c")
        self.assertEqual(130, t.exit_status())
        self.assertTrue(t.settings_kept())

    def test_terminating_signals_restore_the_terminal_and_still_end_by_the_signal(self):
        for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT):
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
        self.assertIn(' \u25a0 Renaming "%s/Example.doc"' % self.dir, screen)
        self.assertIn("1 file(s) renamed", screen)
        self.assertTrue(os.path.exists(os.path.join(self.dir, "Example.doc.000.bak")))
        self.assertTrue(t.settings_kept())

    def test_esc_cancels_a_run_over_many_files(self):
        count = 60000
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
    if not shutil.which("tmux"):
        print("tmux is missing: install it (apt-get install tmux)")
        sys.exit(1)
    unittest.main(verbosity=2)
