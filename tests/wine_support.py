"""Running the Windows build under Wine for the test harnesses."""
import atexit
import os
import subprocess

QUIET = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL,
         "stderr": subprocess.DEVNULL, "check": False}


def start(wine):
    """Keeps one Wine server running until this harness ends, so that each start of the
    program takes milliseconds. Wine's own services start with the first program and live on:
    they are started here, so that they never hold on to the pipes of a test's program."""
    server = os.path.join(os.path.dirname(wine), "wineserver")
    subprocess.run([server, "-p"], **QUIET)
    atexit.register(lambda: subprocess.run([server, "-k"], **QUIET))
    subprocess.run([wine, "wineboot"], **QUIET)
