#!/usr/bin/python3
"""Follows the popup of the built binary (argument 1) through AT-SPI events, as a screen reader
does: the events are recorded from the bus, the elements read through the accessible tree. Run
by popup_atspi.sh, which provides the X server, the tray host and the buses. Every wait is
bounded; a failure prints the events seen and the popup's accessible tree and exits with 1."""

import os
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402
import pyatspi  # noqa: E402

from atspi_tree import children, role_and_name, walk  # noqa: E402

POPUP = "Quaystone Ports"
HOST = "Quaystone UI Test Host"
EVENTS = [
    "focus:",
    "window:activate",
    "object:state-changed:focused",
    "object:state-changed:showing",
    "object:property-change:accessible-name",
]
NAMESPACE = ["unshare", "--pid", "--fork", "--mount-proc", "--net", "--kill-child"]
# Process 1 of a private pid and network namespace, so that the app lists exactly these two
# listeners (on fixed ports) whatever else listens on the machine: starts them in their folders
# under HOME, then the app, and reaps every child (killed listeners included) until the app ends.
NAMESPACE_INIT = """
import os, subprocess, sys
LISTENER = "import socket, sys, time; s = socket.socket(); s.bind(('0.0.0.0', int(sys.argv[1]))); " \\
    "s.listen(); print('ready', flush=True); time.sleep(600)"
binary, home = sys.argv[1], os.environ["HOME"]
for folder, port in (("src/api", 4243), ("src/web", 8080)):
    os.makedirs(os.path.join(home, folder), exist_ok=True)
    listener = subprocess.Popen([sys.executable, "-c", LISTENER, str(port)], cwd=os.path.join(home, folder),
                                stdout=subprocess.PIPE, text=True)
    listener.stdout.readline()
app = subprocess.Popen([binary], stdin=subprocess.DEVNULL)
while os.wait()[0] != app.pid:
    pass
"""
API_ROW = "Port 4243, python3, ~/src/api"
WEB_ROW = "Port 8080, python3, ~/src/web"


class Failure(Exception):
    """A check that did not hold."""


class Event:
    def __init__(self, raw):
        self.type = raw.type
        self.detail1 = raw.detail1
        self.source = raw.source
        try:
            self.role, self.name = raw.source.getRoleName(), raw.source.name or ""
        except Exception:  # an element that is already gone
            self.role, self.name = "?", ""

    def __repr__(self):
        return "%s(%d) %s %r" % (self.type, self.detail1, self.role, self.name)


class Recorder:
    """The events a screen reader would receive, in order."""

    def __init__(self):
        self.events = []
        for kind in EVENTS:
            pyatspi.Registry.registerEventListener(self._record, kind)

    def _record(self, raw):
        self.events.append(Event(raw))

    def pump(self, seconds):
        deadline = time.monotonic() + seconds
        context = GLib.MainContext.default()
        while time.monotonic() < deadline:
            while context.iteration(False):
                pass
            time.sleep(0.02)

    def mark(self):
        return len(self.events)

    def wait(self, what, match, since=0, seconds=10.0):
        deadline = time.monotonic() + seconds
        while True:
            found = [e for e in self.events[since:] if match(e)]
            if found:
                return found[0]
            if time.monotonic() >= deadline:
                raise Failure("timed out after %.0f s waiting for %s" % (seconds, what))
            self.pump(0.05)


def states(acc):
    return set(acc.getState().getStates())


def application(ours):
    """The application for which ours(app) holds: by process id, or by name where the app runs
    in a pid namespace of its own."""
    desktop = pyatspi.Registry.getDesktop(0)
    desktop.set_cache_mask(Atspi.Cache.NONE)
    for app in children(desktop):
        try:
            if ours(app):
                app.set_cache_mask(Atspi.Cache.NONE)
                return app
        except Exception:  # an application that has just gone
            continue
    return None


def top_level(ours, name):
    app = application(ours)
    return next((w for w in children(app) if role_and_name(w)[1] == name), None) if app else None


def by_pid(pid):
    return lambda app: app.get_process_id() == pid


def by_name(name):
    return lambda app: app.name == name


def focus_on(name):
    return lambda e: e.type.startswith("focus") and e.name == name


def notification(text):
    return lambda e: e.type == "object:state-changed:showing" and e.detail1 == 1 and e.role == "notification" \
        and e.name == text


def tray_icon():
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--class", "quaystone"],
                           capture_output=True, text=True).stdout.split()
    for window in found:
        title = subprocess.run(["xdotool", "getwindowname", window], capture_output=True, text=True).stdout.strip()
        if title != POPUP:
            return window
    return None


def click_window(window):
    shell = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window],
                           capture_output=True, text=True, check=True).stdout.split()
    geometry = dict(line.split("=", 1) for line in shell)
    x = int(geometry["X"]) + int(geometry["WIDTH"]) // 2
    y = int(geometry["Y"]) + int(geometry["HEIGHT"]) // 2
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)


def key(name):
    subprocess.run(["xdotool", "key", name], check=True)


class Run:
    """One run of the binary, with what it needs and what it leaves."""

    def __init__(self, recorder):
        self.recorder = recorder
        self.processes = []
        self.tree_of = None

    def spawn(self, *args, **kwargs):
        process = subprocess.Popen(*args, **kwargs)
        self.processes.append(process)
        return process

    def close(self):
        for process in reversed(self.processes):
            process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def check_popup(run, binary, scratch):
    recorder = run.recorder
    home = os.path.join(scratch, "home")
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(scratch, "config"))
    log = open(os.path.join(scratch, "app.log"), "w")
    namespace = run.spawn(NAMESPACE + [sys.executable, "-c", NAMESPACE_INIT, binary], env=env,
                          stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
    ours = by_name("Quaystone")
    run.tree_of = lambda: top_level(ours, POPUP)
    deadline = time.monotonic() + 10
    while not (icon := tray_icon()):
        if namespace.poll() is not None or time.monotonic() > deadline:
            raise Failure("no tray icon appeared")
        recorder.pump(0.1)

    opened = recorder.mark()
    click_window(icon)
    recorder.wait("the popup's window:activate", lambda e: e.type == "window:activate" and e.name == POPUP, opened)
    recorder.wait("a focus event on the first row %r" % API_ROW, focus_on(API_ROW), opened)

    popup = top_level(ours, POPUP)
    if popup is None:
        raise Failure("the popup is not among the application's accessible children")
    order = [role_and_name(acc)[1] for acc, _ in walk(popup)]
    footer = next((n for n in order if n.startswith("Last updated")), None)
    try:
        ok = order.index("PORT") < order.index(API_ROW) < order.index(WEB_ROW) < order.index(footer)
    except ValueError:
        ok = False
    if not ok:
        raise Failure("header, rows and footer are not in reading order: %r" % order)

    moved = recorder.mark()
    key("Down")
    focused = recorder.wait("a focus event on the second row %r" % WEB_ROW, focus_on(WEB_ROW), moved)
    if not {Atspi.StateType.SELECTED, Atspi.StateType.FOCUSED} <= states(focused.source):
        raise Failure("the second row is focused but not selected and focused: %r" % states(focused.source))
    list_items = {role_and_name(acc)[1]: acc for acc, _ in walk(popup) if role_and_name(acc)[0] == "list item"}
    if Atspi.StateType.SELECTED in states(list_items[API_ROW]):
        raise Failure("the first row is still selected after Down")
    recorder.pump(0.5)
    for event in recorder.events[moved:]:
        unchanged = event.name in ("PORT", "PROCESS", "Ctrl+R", footer)
        if unchanged and event.type in ("object:state-changed:showing", "object:property-change:accessible-name"):
            raise Failure("a selection change rebuilt the header or footer: %r" % event)

    moved = recorder.mark()
    key("Home")
    recorder.wait("a focus event on the first row again", focus_on(API_ROW), moved)

    killed = recorder.mark()
    key("Delete")
    moved_on = recorder.wait("the selection moved to the remaining row", focus_on(WEB_ROW), killed)
    stopped = recorder.wait("the kill's outcome announced", notification("Stopped python3 on port 4243"), killed)
    # A reader stops speaking at a focus change: the message comes after it.
    if recorder.events.index(stopped) < recorder.events.index(moved_on):
        raise Failure("the kill was announced before the focus moved, which would cut it short")
    # A quick stop is heard once, by its outcome.
    recorder.pump(0.8)
    told = [e.name for e in recorder.events[killed:] if e.role == "notification" and e.detail1 == 1]
    if told != ["Stopped python3 on port 4243"]:
        raise Failure("one stop was announced as %r" % told)
    rows = [role_and_name(acc)[1] for acc, _ in walk(popup) if role_and_name(acc)[0] == "list item"]
    if rows != [WEB_ROW]:
        raise Failure("after the kill and its refresh the rows are %r" % rows)

    closed = recorder.mark()
    key("Escape")
    recorder.wait("the popup to hide", lambda e: e.name == POPUP and e.type == "object:state-changed:showing"
                  and e.detail1 == 0, closed, 5)
    # Opened again, the popup is heard as a window again before its selected row.
    reopened = recorder.mark()
    click_window(icon)
    activated = recorder.wait("the popup's window:activate again",
                              lambda e: e.type == "window:activate" and e.name == POPUP, reopened)
    focused = recorder.wait("a focus event on the selected row again", focus_on(WEB_ROW), reopened)
    if recorder.events.index(focused) < recorder.events.index(activated):
        raise Failure("the row took the focus before the window was activated")


def check_row_error(run, binary, scratch):
    """The fake killer of UI-test mode refuses the worker: its error is announced and named."""
    recorder = run.recorder
    app = run.spawn([binary, "--ui-test-host", "--ui-test-kill-permission-denied"], stdin=subprocess.DEVNULL)
    run.tree_of = lambda: top_level(by_pid(app.pid), HOST)
    deadline = time.monotonic() + 10
    while not ((window := top_level(by_pid(app.pid), HOST)) and any(
            role_and_name(acc)[1].startswith("Last updated") for acc, _ in walk(window))):
        if app.poll() is not None or time.monotonic() > deadline:
            raise Failure("the UI-test window did not finish its first refresh")
        recorder.pump(0.1)
    kill = next(acc for acc, _ in walk(window) if role_and_name(acc) == ("push button", "Kill UITestWorker on port 5252"))
    since = recorder.mark()
    action = kill.queryAction()
    action.doAction([action.getName(i) for i in range(action.nActions)].index("Press"))
    recorder.wait("the refusal announced",
                  notification("Could not stop UITestWorker on port 5252: Permission denied"), since)
    names = [role_and_name(acc) for acc, _ in walk(window)]
    if not any(role == "list item" and name.startswith("Port 5252, UITestWorker,") and name.endswith(
            ", Permission denied") for role, name in names):
        raise Failure("the refused row's name does not carry its error: %r" % names)


def run_check(recorder, binary, check):
    run = Run(recorder)
    scratch = os.path.join(os.environ["POPUP_ATSPI_DIR"], check.__name__)
    os.makedirs(scratch, exist_ok=True)
    try:
        check(run, binary, scratch)
        print("ok: %s" % check.__name__)
        return True
    except Exception as error:
        print("FAILED: %s: %s" % (check.__name__, error), file=sys.stderr)
        print("events:", *recorder.events, sep="\n  ", file=sys.stderr)
        tree = run.tree_of() if run.tree_of else None
        if tree is not None:
            print("accessible tree:", file=sys.stderr)
            for acc, depth in walk(tree):
                print("%s%s %r" % ("  " * depth, *role_and_name(acc)), file=sys.stderr)
        log = os.path.join(scratch, "app.log")
        if os.path.exists(log):
            print("app output:", open(log).read(), sep="\n", file=sys.stderr)
        return False
    finally:
        run.close()
        recorder.events.clear()


if __name__ == "__main__":
    binary = os.path.abspath(sys.argv[1])
    if subprocess.run(NAMESPACE + ["true"], capture_output=True).returncode != 0:
        print("popup_atspi: skipped: cannot make private pid and network namespaces (unshare needs root)")
        sys.exit(77)
    recorder = Recorder()
    results = [run_check(recorder, binary, check) for check in (check_popup, check_row_error)]
    sys.exit(0 if all(results) else 1)
