#!/usr/bin/python3
"""Drives the UI-test window of the built binary through AT-SPI, as a screen reader would.

Run by uitest_atspi.sh, which provides the X server, the session bus and the accessibility
bus. Elements are found by role and accessible name, buttons are pressed through their
action interface, texts are read from accessible names. Every wait is bounded; on a failure
the accessible tree is printed and the exit status is 1.

Usage: uitest_atspi.py PATH-TO-quaystone
"""

import os
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402
import pyatspi  # noqa: E402

TITLE = "Quaystone UI Test Host"
WAIT_SECONDS = 10.0
POLL_SECONDS = 0.1
# How long a state is watched after a refresh, to see that the refresh does not undo it.
HOLDS_SECONDS = 1.0


class Failure(Exception):
    pass


def children(acc):
    try:
        return [child for child in acc if child is not None]
    except Exception:  # the element went away while being read
        return []


def walk(acc):
    yield acc
    for child in children(acc):
        yield from walk(child)


def role_name(acc):
    try:
        return acc.getRoleName()
    except Exception:
        return "?"


def name_of(acc):
    try:
        return acc.name or ""
    except Exception:
        return ""


def tree_text(acc, depth=0):
    lines = ["%s%s %r" % ("  " * depth, role_name(acc), name_of(acc))]
    for child in children(acc):
        lines.extend(tree_text(child, depth + 1))
    return lines


def wait_for(what, probe, timeout=WAIT_SECONDS):
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Failure("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(POLL_SECONDS)


class Host:
    """One run of the binary in UI-test mode and its accessible window."""

    def __init__(self, binary, arguments):
        self.label = " ".join(arguments)
        self.process = subprocess.Popen([binary] + arguments, stdin=subprocess.DEVNULL)
        self.window = None
        self.window = wait_for("the window %r of pid %d" % (TITLE, self.process.pid), self._find_window)

    def _find_window(self):
        if self.process.poll() is not None:
            raise Failure("the binary exited with status %d" % self.process.returncode)
        desktop = pyatspi.Registry.getDesktop(0)
        # Ask the application every time: without a main loop the cache would never hear of changes.
        desktop.set_cache_mask(Atspi.Cache.NONE)
        for app in children(desktop):
            try:
                if app.get_process_id() != self.process.pid:
                    continue
            except Exception:
                continue
            app.set_cache_mask(Atspi.Cache.NONE)
            for window in children(app):
                if name_of(window) == TITLE:
                    return window
        return None

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def find(self, role, name=None, prefix=None):
        for acc in walk(self.window):
            if role_name(acc) != role:
                continue
            text = name_of(acc)
            if name is not None and text != name:
                continue
            if prefix is not None and not text.startswith(prefix):
                continue
            return acc
        return None

    def wait_find(self, role, name=None, prefix=None):
        return wait_for("%s %r" % (role, name if name is not None else prefix + "..."),
                        lambda: self.find(role, name, prefix))

    def act(self, role, name, action_name):
        # The views rebuild their rows on every change of the store, so an element found a
        # moment ago may be gone; look it up afresh until one accepts the action.
        offered = []

        def attempt():
            acc = self.find(role, name)
            if acc is None:
                return False
            try:
                action = acc.queryAction()
                offered[:] = [action.getName(i) for i in range(action.nActions)]
                return action_name in offered and action.doAction(offered.index(action_name))
            except Exception:
                return False

        try:
            wait_for("%s %r to accept %r" % (role, name, action_name), attempt)
        except Failure as failure:
            raise Failure("%s (last offered: %s)" % (failure, offered))

    def press(self, name):
        self.act("push button", name, "Press")

    def press_until(self, name, what, probe):
        """Presses the button until probe holds.

        Qt carries out an accessible press as an animated click that releases 100 ms later,
        and the views rebuild their rows on every change of the store: a press on a row that
        is rebuilt within those 100 ms is lost. Pressing again is safe, since every effect
        checked here is the same after one press or several.
        """
        deadline = time.monotonic() + WAIT_SECONDS
        while True:
            self.press(name)
            try:
                wait_for(what, probe, timeout=min(1.0, max(0.0, deadline - time.monotonic())))
                return
            except Failure:
                if time.monotonic() >= deadline:
                    raise Failure("pressing %r never led to %s" % (name, what))

    def label_reads(self, prefix, expected):
        acc = self.find("label", prefix=prefix)
        return acc is not None and name_of(acc) == expected

    def expect_label(self, prefix, expected):
        """Waits until the label whose name starts with prefix reads expected."""
        last = []

        def probe():
            acc = self.find("label", prefix=prefix)
            last[:] = [name_of(acc) if acc else None]
            return last[0] == expected

        try:
            wait_for("label %r" % expected, probe)
        except Failure:
            raise Failure("label %r... reads %r, expected %r" % (prefix, last[0], expected))

    def expect_gone(self, role, name):
        wait_for("%s %r to go away" % (role, name), lambda: self.find(role, name) is None)

    def expect_holds(self, what, probe):
        """Watches probe for a while after a refresh was asked for: it must hold throughout."""
        deadline = time.monotonic() + HOLDS_SECONDS
        while time.monotonic() < deadline:
            if not probe():
                raise Failure("no longer true: %s" % what)
            time.sleep(POLL_SECONDS)

    def row_labels(self, row_name):
        row = self.wait_find("push button", row_name)
        return [name_of(acc) for acc in walk(row) if role_name(acc) == "label"]


def first_refresh_done(host):
    # The footer appears with the first refresh, and with it the resolver's directory.
    host.wait_find("label", prefix="Last updated")
    wait_for("the worker's directory to be replaced",
             lambda: "/tmp/uitest/project" in host.row_labels("Port 5252, UITestWorker"))


def check_normal(host):
    first_refresh_done(host)
    host.expect_label("Selected Port", "Selected Port 4242")
    host.wait_find("push button", "Port 4242, UITestServer")

    host.press("Refresh")
    host.wait_find("push button", "Port 5252, UITestWorker")

    host.press_until("Port 5252, UITestWorker", "the second row selected",
                     lambda: host.label_reads("Selected Port", "Selected Port 5252"))
    host.press_until("Port 4242, UITestServer", "the first row selected",
                     lambda: host.label_reads("Selected Port", "Selected Port 4242"))

    switch = host.wait_find("check box", "Launch at Login")
    host.expect_label("Launch at Login ", "Launch at Login Off")
    if switch.getState().contains(pyatspi.STATE_CHECKED):
        raise Failure("the Launch at Login switch starts on")
    host.act("check box", "Launch at Login", "Toggle")
    host.expect_label("Launch at Login ", "Launch at Login On")
    wait_for("the switch to show on", lambda: switch.getState().contains(pyatspi.STATE_CHECKED))

    host.press_until("Kill UITestServer on port 4242", "the server's row to go away",
                     lambda: host.find("push button", "Port 4242, UITestServer") is None)
    host.expect_label("Selected Port", "Selected Port 5252")
    host.press("Refresh")
    host.expect_holds("the server's row stays away",
                      lambda: host.find("push button", "Port 4242, UITestServer") is None)
    host.wait_find("push button", "Port 5252, UITestWorker")


def check_permission_denied(host):
    first_refresh_done(host)

    def worker_refused():
        return "Permission denied" in host.row_labels("Port 5252, UITestWorker")

    host.press_until("Kill UITestWorker on port 5252", "the worker's row to show the refusal", worker_refused)
    host.expect_label("Selected Port", "Selected Port 4242")

    host.press("Refresh")
    host.expect_holds("the worker's row keeps its refusal", worker_refused)

    # The other process is not refused.
    host.press_until("Kill UITestServer on port 4242", "the server's row to go away",
                     lambda: host.find("push button", "Port 4242, UITestServer") is None)
    host.expect_label("Selected Port", "Selected Port 5252")
    host.wait_find("push button", "Port 5252, UITestWorker")


def run(binary, arguments, check):
    host = None
    try:
        host = Host(binary, arguments)
        check(host)
        print("ok: %s" % " ".join(arguments))
        return True
    except Exception as error:
        print("FAILED: %s: %s" % (" ".join(arguments), error), file=sys.stderr)
        if host is not None and host.window is not None:
            print("accessible tree:", file=sys.stderr)
            print("\n".join(tree_text(host.window)), file=sys.stderr)
        return False
    finally:
        if host is not None:
            host.close()


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    binary = os.path.abspath(sys.argv[1])
    results = [
        run(binary, ["--ui-test-host"], check_normal),
        run(binary, ["--ui-test-host", "--ui-test-kill-permission-denied"], check_permission_denied),
    ]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
