#!/usr/bin/python3
"""Drives the UI-test window of the built binary (argument 1) through AT-SPI, as a screen reader
would: elements found by role and accessible name, pressed through their action interface. Run by
uitest_atspi.sh, which provides the X server and the buses. Every wait is bounded; a failure
prints the accessible tree and exits with 1."""

import os
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402
import pyatspi  # noqa: E402

from atspi_tree import children, role_and_name, walk  # noqa: E402

TITLE = "Quaystone UI Test Host"
SERVER_ROW = "Port 4242, UITestServer"
WORKER_ROW = "Port 5252, UITestWorker"


class Failure(Exception):
    """A check that did not hold."""


def wait_for(what, probe, seconds=10.0):
    deadline = time.monotonic() + seconds
    while not (value := probe()):
        if time.monotonic() >= deadline:
            raise Failure("timed out after %.0f s waiting for %s" % (seconds, what))
        time.sleep(0.1)
    return value


def holds(what, probe, seconds=1.0):
    """Probe stays true for a while: a refresh asked for just before does not undo it."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if not probe():
            raise Failure("no longer true: " + what)
        time.sleep(0.1)


class Host:
    """One run of the binary in UI-test mode and its accessible window."""

    def __init__(self, binary, arguments):
        self.process = subprocess.Popen([binary] + arguments, stdin=subprocess.DEVNULL)
        self.window = None

    def open(self):
        self.window = wait_for("the window %r" % TITLE, self._find_window)

    def _find_window(self):
        if self.process.poll() is not None:
            raise Failure("the binary exited with status %d" % self.process.returncode)
        desktop = pyatspi.Registry.getDesktop(0)
        # Ask the application every time: without a main loop the cache never hears of changes.
        desktop.set_cache_mask(Atspi.Cache.NONE)
        for app in children(desktop):
            try:
                ours = app.get_process_id() == self.process.pid
            except Exception:  # an application that has just gone
                continue
            if ours:
                app.set_cache_mask(Atspi.Cache.NONE)
                return next((w for w in children(app) if role_and_name(w)[1] == TITLE), None)
        return None

    def find(self, role, name=None, prefix="", row=None):
        """The first element of that role and name (or name prefix), within the named row if any."""
        within = self.find("push button", row) if row else self.window
        for acc, _ in walk(within) if within else []:
            acc_role, acc_name = role_and_name(acc)
            if acc_role == role and acc_name.startswith(prefix) and name in (None, acc_name):
                return acc
        return None

    def press(self, name, role="push button", action="Press"):
        actions = wait_for("%s %r" % (role, name), lambda: self.find(role, name)).queryAction()
        offered = [actions.getName(i) for i in range(actions.nActions)]
        if action not in offered:
            raise Failure("%s %r offers %s, not %r" % (role, name, offered, action))
        actions.doAction(offered.index(action))

    def label_reads(self, prefix, expected, row=None):
        acc = self.find("label", prefix=prefix, row=row)
        return acc is not None and role_and_name(acc)[1] == expected

    def expect_label(self, prefix, expected, row=None):
        wait_for("the label %r" % expected, lambda: self.label_reads(prefix, expected, row))

    def has_row(self, name):
        return self.find("push button", name) is not None


def first_refresh_done(host):
    # The footer comes with the first refresh, and the resolver's directory replaces the seed's.
    wait_for("the footer", lambda: host.find("label", prefix="Last updated"))
    host.expect_label("/tmp/uitest/", "/tmp/uitest/project", row=WORKER_ROW)
    host.expect_label("Selected Port", "Selected Port 4242")


def check_normal(host):
    first_refresh_done(host)
    host.press("Refresh")
    host.press(WORKER_ROW)
    host.expect_label("Selected Port", "Selected Port 5252")
    host.press(SERVER_ROW)
    host.expect_label("Selected Port", "Selected Port 4242")

    host.expect_label("Launch at Login ", "Launch at Login Off")
    host.press("Launch at Login", role="check box", action="Toggle")
    host.expect_label("Launch at Login ", "Launch at Login On")

    host.press("Kill UITestServer on port 4242")
    wait_for("the server's row to go", lambda: not host.has_row(SERVER_ROW))
    host.expect_label("Selected Port", "Selected Port 5252")
    host.press("Refresh")
    holds("the server's row stays away", lambda: not host.has_row(SERVER_ROW) and host.has_row(WORKER_ROW))


def check_permission_denied(host):
    first_refresh_done(host)
    host.press("Kill UITestWorker on port 5252")
    host.expect_label("Permission", "Permission denied", row=WORKER_ROW)
    host.expect_label("Selected Port", "Selected Port 4242")
    host.press("Refresh")
    holds("the worker's row keeps its error", lambda: host.label_reads("Permission", "Permission denied", WORKER_ROW))


def run(binary, arguments, check):
    host = Host(binary, arguments)
    try:
        host.open()
        check(host)
        print("ok: %s" % " ".join(arguments))
        return True
    except Exception as error:
        print("FAILED: %s: %s" % (" ".join(arguments), error), file=sys.stderr)
        if host.window is not None:
            print("accessible tree:", file=sys.stderr)
            for acc, depth in walk(host.window):
                print("%s%s %r" % ("  " * depth, *role_and_name(acc)), file=sys.stderr)
        return False
    finally:
        host.process.terminate()
        try:
            host.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            host.process.kill()
            host.process.wait()


if __name__ == "__main__":
    binary = os.path.abspath(sys.argv[1])
    normal = run(binary, ["--ui-test-host"], check_normal)
    denied = run(binary, ["--ui-test-host", "--ui-test-kill-permission-denied"], check_permission_denied)
    sys.exit(0 if normal and denied else 1)
