#!/usr/bin/python3
"""The built binary as a screen reader meets it, run by scripts/lib/xsession-run.sh:

  atspi.py uitest BINARY   UI-test mode, and once more with the refusing killer: elements found
                           by role and name, pressed through their action interface
  atspi.py popup BINARY    normal mode (with --trayer) over two real listeners in private pid and
                           network namespaces: the popup followed through the events a reader gets

A failure prints the events seen, the accessible tree and the app's output, and exits 1."""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../scripts/lib"))
from atspi import (Atspi, Failure, Recorder, by_name, by_pid, click_window, find, role_and_name,  # noqa: E402
                   run_check, states, top_level, tray_icon, walk, xdotool)

POPUP, HOST = "Quaystone Ports", "Quaystone UI Test Host"
SERVER_ROW, WORKER_ROW = "Port 4242, UITestServer", "Port 5252, UITestWorker"
API_ROW, WEB_ROW = "Port 4243, python3, ~/src/api", "Port 8080, python3, ~/src/web"
NAMESPACE = ["unshare", "--pid", "--fork", "--mount-proc", "--net", "--kill-child"]
# Process 1 of the namespaces, so that the app lists exactly these two listeners whatever else
# listens on the machine: starts them in their folders under HOME, then the app, and reaps every
# child (killed listeners included) until the app ends.
NAMESPACE_INIT = """
import os, subprocess, sys
LISTENER = "import socket, sys, time; s = socket.socket(); s.bind(('0.0.0.0', int(sys.argv[1]))); " \\
    "s.listen(); print('ready', flush=True); time.sleep(600)"
binary, home = sys.argv[1], os.environ["HOME"]
for folder, port in (("src/api", 4243), ("src/web", 8080)):
    os.makedirs(os.path.join(home, folder), exist_ok=True)
    subprocess.Popen([sys.executable, "-c", LISTENER, str(port)], cwd=os.path.join(home, folder),
                     stdout=subprocess.PIPE, text=True).stdout.readline()
app = subprocess.Popen([binary], stdin=subprocess.DEVNULL)
while os.wait()[0] != app.pid:
    pass
"""


def focus_on(name):
    return lambda e: e.type.startswith("focus") and e.name == name


def notification(text):
    return lambda e: e.type == "object:state-changed:showing" and e.detail1 and e.role == "notification" \
        and e.name == text


def activated(e):
    return e.type == "window:activate" and e.name == POPUP


def start_host(run, *arguments):
    """UI-test mode, once its first refresh has replaced the seed's directory."""
    app = run.spawn([BINARY, "--ui-test-host", *arguments])
    run.window = lambda: top_level(by_pid(app.pid), HOST)
    run.recorder.wait_for("the first refresh", lambda: run.reads("/tmp/uitest/", "/tmp/uitest/project", WORKER_ROW))
    run.expect("Selected Port", "Selected Port 4242")


def check_uitest(run):
    start_host(run)
    run.press("Refresh")
    run.press(WORKER_ROW)
    run.expect("Selected Port", "Selected Port 5252")
    run.press(SERVER_ROW)
    run.expect("Selected Port", "Selected Port 4242")
    run.expect("Launch at Login ", "Launch at Login Off")
    run.press("Launch at Login", role="check box", action="Toggle")
    run.expect("Launch at Login ", "Launch at Login On")
    run.press("Kill UITestServer on port 4242")
    run.recorder.wait_for("the server's row to go", lambda: not run.find("push button", SERVER_ROW))
    run.expect("Selected Port", "Selected Port 5252")
    run.press("Refresh")
    run.holds("the server's row stays away",
              lambda: not run.find("push button", SERVER_ROW) and run.find("push button", WORKER_ROW))


def check_refused(run):
    """The refusing killer: the error is announced, shown under the row and in its name."""
    start_host(run, "--ui-test-kill-permission-denied")
    since = run.recorder.mark()
    run.press("Kill UITestWorker on port 5252")
    run.recorder.wait("the refusal announced",
                      notification("Could not stop UITestWorker on port 5252: Permission denied"), since)
    run.expect("Permission", "Permission denied", row=WORKER_ROW)
    run.expect("Selected Port", "Selected Port 4242")
    if not find(run.window(), "list item", prefix="Port 5252, UITestWorker,").name.endswith(", Permission denied"):
        raise Failure("the refused row's name does not carry its error")
    run.press("Refresh")
    run.holds("the worker's row keeps its error", lambda: run.reads("Permission", "Permission denied", WORKER_ROW))


def check_popup(run):
    recorder, ours = run.recorder, by_name("Quaystone")
    env = dict(os.environ, HOME=os.path.join(run.scratch, "home"), XDG_CONFIG_HOME=os.path.join(run.scratch, "cfg"))
    namespace = run.spawn(NAMESPACE + [sys.executable, "-c", NAMESPACE_INIT, BINARY], env=env)
    run.window = lambda: top_level(ours, POPUP)

    def icon_while_running():
        if namespace.poll() is not None:
            raise Failure("the app ended before its tray icon showed")
        return tray_icon(POPUP)

    icon = recorder.wait_for("a tray icon", icon_while_running)

    opened = recorder.mark()
    click_window(icon)
    recorder.wait("the popup's window:activate", activated, opened)
    recorder.wait("a focus event on the first row %r" % API_ROW, focus_on(API_ROW), opened)
    popup = run.window()
    order = [role_and_name(acc)[1] for acc, _ in walk(popup)] if popup else []
    footer = next((n for n in order if n.startswith("Last updated")), None)
    if not all(n in order for n in ("PORT", API_ROW, WEB_ROW, footer)) or not (
            order.index("PORT") < order.index(API_ROW) < order.index(WEB_ROW) < order.index(footer)):
        raise Failure("header, rows and footer are not in reading order: %r" % order)

    moved = recorder.mark()
    xdotool("key", "Down")
    focused = recorder.wait("a focus event on the second row %r" % WEB_ROW, focus_on(WEB_ROW), moved)
    if not {Atspi.StateType.SELECTED, Atspi.StateType.FOCUSED} <= states(focused.source):
        raise Failure("the second row is focused but not selected and focused: %r" % states(focused.source))
    if Atspi.StateType.SELECTED in states(find(popup, "list item", API_ROW)):
        raise Failure("the first row is still selected after Down")
    recorder.pump(0.5)
    for event in recorder.events[moved:]:
        if event.name in ("PORT", "PROCESS", "Ctrl+R", footer) and event.type in (
                "object:state-changed:showing", "object:property-change:accessible-name"):
            raise Failure("a selection change rebuilt the header or footer: %r" % event)

    moved = recorder.mark()
    xdotool("key", "Home")
    recorder.wait("a focus event on the first row again", focus_on(API_ROW), moved)
    killed = recorder.mark()
    xdotool("key", "Delete")
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
    xdotool("key", "Escape")
    recorder.wait("the popup to hide", lambda e: e.name == POPUP and e.type == "object:state-changed:showing"
                  and e.detail1 == 0, closed, 5)
    # Opened again, the popup is heard as a window again before its selected row.
    reopened = recorder.mark()
    click_window(icon)
    window = recorder.wait("the popup's window:activate again", activated, reopened)
    focused = recorder.wait("a focus event on the selected row again", focus_on(WEB_ROW), reopened)
    if recorder.events.index(focused) < recorder.events.index(window):
        raise Failure("the row took the focus before the window was activated")


if __name__ == "__main__":
    mode, BINARY = sys.argv[1], os.path.abspath(sys.argv[2])
    if mode == "popup" and subprocess.run(NAMESPACE + ["true"], capture_output=True).returncode != 0:
        print("atspi: skipped: cannot make private pid and network namespaces (unshare needs root)")
        sys.exit(77)
    checks = (check_popup,) if mode == "popup" else (check_uitest, check_refused)
    recorder = Recorder()
    sys.exit(0 if all([run_check(recorder, check) for check in checks]) else 1)
