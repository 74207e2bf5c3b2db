"""What the end-to-end drivers need to meet the app as a screen reader does, on the session that
xsession-run.sh provides: its accessible tree (elements may go away while they are read; such an
element reads as having no children, role "?" and no name), the events a reader receives, bounded
waits, and the pointer and keys through xdotool."""

import os
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402
import pyatspi  # noqa: E402

EVENTS = ["focus:", "window:activate", "object:state-changed:focused", "object:state-changed:showing",
          "object:property-change:accessible-name"]


class Failure(Exception):
    """A check that did not hold."""


def children(acc):
    try:
        return [child for child in acc if child is not None]
    except Exception:
        return []


def walk(acc, depth=0):
    yield acc, depth
    for child in children(acc):
        yield from walk(child, depth + 1)


def role_and_name(acc):
    try:
        return acc.getRoleName(), acc.name or ""
    except Exception:
        return "?", ""


def find(within, role, name=None, prefix=""):
    """The first element of that role and name (or name prefix) under within."""
    for acc, _ in walk(within) if within else []:
        acc_role, acc_name = role_and_name(acc)
        if acc_role == role and acc_name.startswith(prefix) and name in (None, acc_name):
            return acc
    return None


def states(acc):
    return set(acc.getState().getStates())


def press(acc, action="Press"):
    actions = acc.queryAction()
    offered = [actions.getName(i) for i in range(actions.nActions)]
    if action not in offered:
        raise Failure("%r offers %s, not %r" % (role_and_name(acc), offered, action))
    actions.doAction(offered.index(action))


def print_tree(acc, file):
    for element, depth in walk(acc):
        print("%s%s %r" % ("  " * depth, *role_and_name(element)), file=file)


def top_level(ours, title):
    """The window titled so of the application for which ours(app) holds, asked afresh each time:
    without a main loop the cache never hears of changes."""
    desktop = pyatspi.Registry.getDesktop(0)
    desktop.set_cache_mask(Atspi.Cache.NONE)
    for app in children(desktop):
        try:
            if not ours(app):
                continue
        except Exception:  # an application that has just gone
            continue
        app.set_cache_mask(Atspi.Cache.NONE)
        return next((w for w in children(app) if role_and_name(w)[1] == title), None)
    return None


def by_pid(pid):
    return lambda app: app.get_process_id() == pid


def by_name(name):
    return lambda app: app.name == name


class Event:
    def __init__(self, raw):
        self.type, self.detail1, self.source = raw.type, raw.detail1, raw.source
        self.role, self.name = role_and_name(raw.source)

    def __repr__(self):
        return "%s(%d) %s %r" % (self.type, self.detail1, self.role, self.name)


class Recorder:
    """The events a screen reader would receive, in order; waits serve the bus meanwhile."""

    def __init__(self):
        self.events = []
        for kind in EVENTS:
            pyatspi.Registry.registerEventListener(lambda raw: self.events.append(Event(raw)), kind)

    def pump(self, seconds):
        deadline = time.monotonic() + seconds
        context = GLib.MainContext.default()
        while time.monotonic() < deadline:
            while context.iteration(False):
                pass
            time.sleep(0.02)

    def mark(self):
        return len(self.events)

    def wait_for(self, what, probe, seconds=10.0):
        deadline = time.monotonic() + seconds
        while not (value := probe()):
            if time.monotonic() >= deadline:
                raise Failure("timed out after %.0f s waiting for %s" % (seconds, what))
            self.pump(0.05)
        return value

    def wait(self, what, match, since=0, seconds=10.0):
        return self.wait_for(what, lambda: next((e for e in self.events[since:] if match(e)), None), seconds)


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True, check=True).stdout


def tray_icon(popup_title):
    """The app's visible window that is not its popup: the tray icon."""
    for window in subprocess.run(["xdotool", "search", "--onlyvisible", "--class", "quaystone"],
                                 capture_output=True, text=True).stdout.split():
        if xdotool("getwindowname", window).strip() != popup_title:
            return window
    return None


def click_window(window):
    geometry = dict(line.split("=", 1) for line in xdotool("getwindowgeometry", "--shell", window).split())
    x = int(geometry["X"]) + int(geometry["WIDTH"]) // 2
    y = int(geometry["Y"]) + int(geometry["HEIGHT"]) // 2
    xdotool("mousemove", str(x), str(y), "click", "1")


class Run:
    """One check's run of the app: the processes it started (their output in app.log), its
    window, and the clean-up."""

    def __init__(self, recorder, scratch):
        self.recorder, self.scratch, self.processes, self.window = recorder, scratch, [], lambda: None
        self.log = open(os.path.join(scratch, "app.log"), "w")

    def spawn(self, argv, **kwargs):
        self.processes.append(subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=self.log,
                                               stderr=subprocess.STDOUT, **kwargs))
        return self.processes[-1]

    def find(self, role, name=None, prefix="", row=None):
        return find(self.find("push button", row) if row else self.window(), role, name, prefix)

    def press(self, name, role="push button", action="Press"):
        press(self.recorder.wait_for("%s %r" % (role, name), lambda: self.find(role, name)), action)

    def reads(self, prefix, expected, row=None):
        acc = self.find("label", prefix=prefix, row=row)
        return acc is not None and role_and_name(acc)[1] == expected

    def expect(self, prefix, expected, row=None):
        self.recorder.wait_for("the label %r" % expected, lambda: self.reads(prefix, expected, row))

    def holds(self, what, probe):
        """Stays true for a second: a refresh asked for just before does not undo it."""
        deadline = time.monotonic() + 1
        while time.monotonic() < deadline:
            if not probe():
                raise Failure("no longer true: " + what)
            self.recorder.pump(0.1)

    def close(self):
        for process in reversed(self.processes):
            process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def run_check(recorder, check, run_class=Run):
    scratch = os.path.join(os.environ["XSESSION_DIR"], check.__name__)
    os.makedirs(scratch, exist_ok=True)
    run = run_class(recorder, scratch)
    try:
        check(run)
        print("ok: %s" % check.__name__)
        return True
    except Exception as error:
        print("FAILED: %s: %s" % (check.__name__, error), file=sys.stderr)
        print("events:", *recorder.events, sep="\n  ", file=sys.stderr)
        if (window := run.window()) is not None:
            print("accessible tree:", file=sys.stderr)
            print_tree(window, sys.stderr)
        run.log.flush()
        print("app output:", open(run.log.name).read(), sep="\n", file=sys.stderr)
        return False
    finally:
        run.close()
        recorder.events.clear()


if __name__ == "__main__":
    # atspi.py center APP ROLE NAME: prints the centre of that element of the application so
    # named, on the screen; fails while there is none.
    app = next((a for a in children(pyatspi.Registry.getDesktop(0)) if role_and_name(a)[1] == sys.argv[2]), None)
    element = find(app, sys.argv[3], sys.argv[4]) if app else None
    if element is None:
        sys.exit(1)
    box = element.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    print(box.x + box.width // 2, box.y + box.height // 2)
