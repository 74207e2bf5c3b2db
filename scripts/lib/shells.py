"""GNOME Shell and KDE Plasma under Wayland, run headless for the end-to-end tests.

Each shell runs on private session and system buses, with a private HOME and runtime folder,
and everything started here ends with the session (a `with` block). Input goes through the
compositor itself (Mutter's RemoteDesktop API, KWin's fake-input protocol), so that a click
reaches the panel the way a user's does; windows and the tray are read from the shell
(GNOME's Eval in unsafe mode, KWin's scripting and the Plasma shell's scripting).

Skip (exit 77 in the tests) where a shell is not installed or cannot start here.
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

TIMEOUT_MS = 10000
APP_ID = "io.github.quaystone.Quaystone"


class Skip(Exception):
    pass


def in_private_mounts():
    """Runs the calling script again in a private mount namespace (root only), once."""
    if os.environ.get("QUAYSTONE_SHELLS_NAMESPACE"):
        return
    if os.geteuid() != 0 or not shutil.which("unshare"):
        raise Skip("needs root and unshare for a private mount namespace")
    os.environ["QUAYSTONE_SHELLS_NAMESPACE"] = "1"
    os.execvp("unshare", ["unshare", "--mount", "--propagation", "private", sys.executable] + sys.argv)


def wait_for(what, probe, seconds=20.0):
    deadline = time.monotonic() + seconds
    while True:
        try:
            found = probe()
        except (GLib.Error, OSError):
            found = None
        if found:
            return found
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.2)


class Session:
    def __init__(self, required):
        missing = [tool for tool in required if not shutil.which(tool)]
        if missing:
            raise Skip(f"not installed: {', '.join(missing)} (scripts/install-deps.sh test installs them)")
        self.dir = tempfile.mkdtemp(prefix="quaystone-shell-")
        self.processes = []
        home = os.path.join(self.dir, "home")
        runtime = os.path.join(self.dir, "run")
        os.makedirs(home)
        os.makedirs(runtime, mode=0o700)
        self.env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=runtime,
                        XDG_CONFIG_HOME=os.path.join(home, ".config"),
                        XDG_DATA_HOME=os.path.join(home, ".local/share"), XDG_SESSION_TYPE="wayland",
                        NO_AT_BRIDGE="1")
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "QT_QPA_PLATFORM"):
            self.env.pop(name, None)
        self.bus = None
        self.app = None

    def log(self, name):
        return os.path.join(self.dir, name + ".log")

    def read_log(self, name):
        with open(self.log(name), errors="replace") as log:
            return log.read()

    def spawn(self, argv, log, env=None):
        process = subprocess.Popen(argv, env=env or self.env, stdin=subprocess.DEVNULL,
                                   stdout=open(self.log(log), "a"), stderr=subprocess.STDOUT,
                                   start_new_session=True)
        self.processes.append(process)
        return process

    def start_bus(self, name):
        path = os.path.join(self.dir, name + "-bus")
        self.spawn(["dbus-daemon", "--config-file=/usr/share/dbus-1/session.conf", "--nofork",
                    f"--address=unix:path={path}"], name + "-bus")
        wait_for(f"the {name} bus", lambda: os.path.exists(path), 10)
        return f"unix:path={path}"

    def connect(self):
        self.bus = Gio.DBusConnection.new_for_address_sync(
            self.env["DBUS_SESSION_BUS_ADDRESS"],
            Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
            None, None)

    def call(self, name, path, interface, method, args=None, reply=None):
        result = self.bus.call_sync(name, path, interface, method, args, reply and GLib.VariantType(reply),
                                    Gio.DBusCallFlags.NONE, TIMEOUT_MS, None)
        return result.unpack() if result else None

    def has_name(self, name):
        return self.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                         GLib.Variant("(s)", (name,)), "(b)")[0]

    def install(self, desktop_entry, binary=None):
        """Installs a desktop entry for the session, before the shell starts (it reads them once),
        its Exec naming the binary (GLib ignores an entry whose program is not found)."""
        applications = os.path.join(self.env["XDG_DATA_HOME"], "applications")
        os.makedirs(applications, exist_ok=True)
        with open(desktop_entry) as source:
            lines = source.read().splitlines()
        if binary:
            lines = [f"Exec={os.path.abspath(binary)}" if line.startswith("Exec=") else line for line in lines]
        with open(os.path.join(applications, os.path.basename(desktop_entry)), "w") as out:
            out.write("\n".join(lines) + "\n")

    def start_app(self, binary):
        """The app as the session starts it."""
        env = dict(self.env, QT_LOGGING_RULES="quaystone.*.debug=true")
        self.app = self.spawn([binary, "--background"], "app", env)
        wait_for("the app's tray icon", lambda: "icon shown through StatusNotifierItem" in self.read_log("app"))

    def __enter__(self):
        return self

    def __exit__(self, kind, value, traceback):
        self.stop(failed=kind is not None and kind is not Skip)

    def stop(self, failed=False):
        """Ends everything started here; after a failure, first shows the ends of the logs."""
        if failed:
            for log in ("app", "shell"):
                if os.path.exists(self.log(log)):
                    print(f"--- {log} output (last 40 lines)\n" + "\n".join(self.read_log(log).splitlines()[-40:]),
                          file=sys.stderr)
        for process in reversed(self.processes):
            try:
                os.killpg(process.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        for process in self.processes:
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
        # Helpers a shell starts in sessions of their own (Plasma's KIO workers) would outlive it,
        # and spin once their bus is gone: they are known by the runtime folder in their environment.
        marker = f"XDG_RUNTIME_DIR={self.env['XDG_RUNTIME_DIR']}".encode()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/environ", "rb") as environ:
                    if marker in environ.read().split(b"\0"):
                        os.kill(int(pid), signal.SIGKILL)
            except OSError:
                pass
        shutil.rmtree(self.dir, ignore_errors=True)


class Gnome(Session):
    """gnome-shell --headless on Wayland with the AppIndicator extension, as Ubuntu ships it."""

    EXTENSION = "ubuntu-appindicators@ubuntu.com"
    UNSAFE = "unsafe-mode@quaystone.test"

    def __init__(self):
        super().__init__(["gnome-shell", "Xwayland", "dbus-daemon", "gsettings", "mount"])
        if not os.path.isdir(f"/usr/share/gnome-shell/extensions/{self.EXTENSION}"):
            raise Skip("the AppIndicator extension is not installed")

    def start(self):
        # The shell takes a seat from /run/systemd/seats when it is there, and fails without logind.
        if os.path.isdir("/run/systemd"):
            subprocess.run(["mount", "-t", "tmpfs", "tmpfs", "/run/systemd"], check=True)
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = self.start_bus("system")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.start_bus("session")
        self.env["GSETTINGS_BACKEND"] = "keyfile"
        extension = os.path.join(self.env["XDG_DATA_HOME"], "gnome-shell/extensions", self.UNSAFE)
        os.makedirs(extension)
        with open(os.path.join(extension, "metadata.json"), "w") as metadata:
            json.dump({"uuid": self.UNSAFE, "name": "Unsafe mode", "description": "Lets the tests use Eval",
                       "shell-version": ["43"]}, metadata)
        with open(os.path.join(extension, "extension.js"), "w") as script:
            script.write("function init() { return { enable() { global.context.unsafe_mode = true; }, "
                         "disable() {} }; }\n")
        subprocess.run(["gsettings", "set", "org.gnome.shell", "enabled-extensions",
                        f"['{self.EXTENSION}', '{self.UNSAFE}']"], env=self.env, check=True)
        self.spawn(["gnome-shell", "--headless", "--virtual-monitor", "1280x800", "--wayland"], "shell")
        self.connect()
        wait_for("GNOME Shell", lambda: self.eval("global.context.unsafe_mode") is True)
        # The shell ends its start-up in the overview, which holds the input until it closes.
        wait_for("the shell's start-up", lambda: self.eval("imports.ui.main.layoutManager._startingUp") is False)
        wait_for("the overview to close",
                 lambda: self.eval("imports.ui.main.overview.hide(), imports.ui.main.modalCount") == 0)
        wait_for("the StatusNotifierWatcher", lambda: self.has_name("org.kde.StatusNotifierWatcher"))
        self.env.update(WAYLAND_DISPLAY="wayland-0", DISPLAY=self.eval("imports.gi.GLib.getenv('DISPLAY')"),
                        XAUTHORITY=self.eval("imports.gi.GLib.getenv('XAUTHORITY')"),
                        XDG_CURRENT_DESKTOP="GNOME")
        remote = "org.gnome.Mutter.RemoteDesktop"
        self.remote_session = self.call(remote, "/org/gnome/Mutter/RemoteDesktop", remote, "CreateSession",
                                        None, "(o)")[0]
        self.remote("Start")
        # A new virtual keyboard loses its first key.
        self.key(0xffe1)

    def eval(self, script):
        ok, out = self.call("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell", "Eval",
                            GLib.Variant("(s)", (script,)), "(bs)")
        if not ok:
            raise AssertionError(f"Eval failed: {out}")
        return json.loads(out) if out else None

    def remote(self, method, args=None):
        self.call("org.gnome.Mutter.RemoteDesktop", self.remote_session, "org.gnome.Mutter.RemoteDesktop.Session",
                  method, args)

    def icon(self):
        """The app's icon in the top bar: [x, y, width, height], or None."""
        return self.eval(f"""(() => {{
            const [key, icon] = Object.entries(imports.ui.main.panel.statusArea).find(
                ([key, icon]) => key.startsWith('appindicator-')) || [];
            const rect = icon && icon.visible ? [...icon.get_transformed_position(), ...icon.get_transformed_size()] : [];
            return rect.length && rect.every(Number.isFinite) && rect[2] > 0 ? rect : null;
        }})()""")

    def windows(self):
        return self.eval("""global.get_window_actors().map(a => a.meta_window).map(w => {
            const r = w.get_frame_rect();
            const app = imports.gi.Shell.WindowTracker.get_default().get_window_app(w);
            return {title: w.get_title(), x: r.x, y: r.y, width: r.width, height: r.height,
                    focus: w.has_focus(), skipTaskbar: w.is_skip_taskbar(), decorated: w.decorated,
                    app: app ? app.get_id() : null};
        })""")

    def menu(self):
        """The labels of the host's open menu for the app's icon, or None when it is closed."""
        return self.eval(f"""(() => {{
            const [key, icon] = Object.entries(imports.ui.main.panel.statusArea).find(
                ([key, icon]) => key.startsWith('appindicator-')) || [];
            return icon && icon.menu.isOpen ? icon.menu._getMenuItems().map(i => i.label ? i.label.text : '') : null;
        }})()""")

    def move(self, x, y):
        px, py = self.eval("global.get_pointer().slice(0, 2)")
        self.remote("NotifyPointerMotionRelative", GLib.Variant("(dd)", (x - px, y - py)))

    def click(self, x, y, times=1, button=0x110):
        self.move(x, y)
        for _ in range(times):
            self.remote("NotifyPointerButton", GLib.Variant("(ib)", (button, True)))
            self.remote("NotifyPointerButton", GLib.Variant("(ib)", (button, False)))

    def key(self, keysym):
        self.remote("NotifyKeyboardKeysym", GLib.Variant("(ub)", (keysym, True)))
        self.remote("NotifyKeyboardKeysym", GLib.Variant("(ub)", (keysym, False)))


class Plasma(Session):
    """kwin_wayland --virtual with plasmashell and its default panel (the tray at the bottom)."""

    def __init__(self, kwin_input):
        super().__init__(["kwin_wayland", "plasmashell", "Xwayland", "dbus-daemon"])
        if not kwin_input or not os.access(kwin_input, os.X_OK):
            raise Skip("the fake-input client was not built (libwayland-dev, plasma-wayland-protocols)")
        self.kwin_input = kwin_input

    def start(self):
        # Debian's kwin_wayland carries a file capability that a container may refuse; a copy
        # carries none.
        kwin = os.path.join(self.dir, "kwin_wayland")
        shutil.copy(shutil.which("kwin_wayland"), kwin)
        # Set before the bus starts: the services it starts must find the compositor.
        self.env.update(WAYLAND_DISPLAY="wayland-quaystone", XDG_CURRENT_DESKTOP="KDE", KDE_FULL_SESSION="true",
                        KWIN_SCREENSHOT_NO_PERMISSION_CHECKS="1", QT_LOGGING_RULES="kwin_scripting=true")
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = self.start_bus("system")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.start_bus("session")
        # KWin grants its fake-input protocol to programs whose desktop entry asks for it.
        entry = os.path.join(self.dir, "quaystone-kwin-input.desktop")
        with open(entry, "w") as out:
            out.write(f"[Desktop Entry]\nType=Application\nName=Test input\nExec={self.kwin_input}\n"
                      "NoDisplay=true\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n")
        self.install(entry)
        self.spawn([kwin, "--virtual", "--xwayland", "--width", "1280", "--height", "800",
                    "--socket", self.env["WAYLAND_DISPLAY"], "plasmashell"], "shell")
        self.connect()
        wait_for("the Plasma panel", lambda: self.has_name("org.kde.plasmashell") and self.panel(), 60)
        # The session's start-up loads this module of kded, which the bus starts on first call
        # (slowly on a loaded machine); nothing here does.
        wait_for("kded's StatusNotifierWatcher", lambda: self.call(
            "org.kde.kded5", "/kded", "org.kde.kded5", "loadModule", GLib.Variant("(s)", ("statusnotifierwatcher",)),
            "(b)")[0] and self.has_name("org.kde.StatusNotifierWatcher"), 60)
        display = wait_for("Xwayland", lambda: [n for n in os.listdir("/tmp/.X11-unix")
                                               if self.xwayland_owns(n)], 30)
        self.env["DISPLAY"] = ":" + display[0][1:]
        self.env.pop("QT_LOGGING_RULES")

    def xwayland_owns(self, socket):
        number = socket[1:]
        for pid in os.listdir("/proc"):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                    argv = cmdline.read().split(b"\0")
            except (OSError, ValueError):
                continue
            if argv[0].endswith(b"Xwayland") and argv[1:2] == [f":{number}".encode()] and \
                    os.getsid(int(pid)) in [os.getsid(p.pid) for p in self.processes]:
                return True
        return False

    def panel(self):
        """The panel's [location, thickness]."""
        out = self.call("org.kde.plasmashell", "/PlasmaShell", "org.kde.PlasmaShell", "evaluateScript",
                        GLib.Variant("(s)", ("var p = panels(); if (p.length) print(p[0].location + ' ' + p[0].height)",)),
                        "(s)")[0]
        return out.split() if out else None

    def windows(self):
        marker = f"QUAYSTONE-WINDOWS-{time.monotonic_ns()}"
        script = os.path.join(self.dir, "windows.js")
        with open(script, "w") as js:
            js.write(f"""var out = workspace.clientList().map(function (c) {{ var g = c.frameGeometry;
                return {{title: c.caption, x: g.x, y: g.y, width: g.width, height: g.height,
                         focus: workspace.activeClient === c, skipTaskbar: c.skipTaskbar, noBorder: c.noBorder,
                         app: c.desktopFileName, resourceClass: String(c.resourceClass)}}; }});
                print("{marker} " + JSON.stringify(out));""")
        self.call("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "loadScript",
                  GLib.Variant("(ss)", (script, marker)), "(i)")
        self.call("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "start")
        line = wait_for("KWin's answer", lambda: [l for l in self.read_log("shell").splitlines() if marker + " " in l])
        self.call("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "unloadScript", GLib.Variant("(s)", (marker,)),
                  "(b)")
        return json.loads(line[0].split(marker + " ", 1)[1])

    def input(self, *commands):
        subprocess.run([self.kwin_input] + [str(c) for c in commands], env=self.env, check=True)

    def click(self, x, y, button_right=False):
        self.input("move", x, y, "right-click" if button_right else "click", "sleep", 100)

    def key(self, linux_keycode):
        self.input("key", linux_keycode, "sleep", 100)
