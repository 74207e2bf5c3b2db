#!/usr/bin/python3
"""The popup at the icon under the real shells' Wayland sessions, started headless here.

  wayland_shells.py gnome BINARY DESKTOP-ENTRY
  wayland_shells.py plasma BINARY DESKTOP-ENTRY KWIN-INPUT

Clicks go through the compositor to the shell's tray, as a user's do. Checked: the popup opens
beside the icon (never over it, within 48 px), focused, framed by nothing and out of the
taskbar; Escape closes it, and so does a click on another window; the host draws the app's menu
(no window of the app's shows for it); the app's windows are known by its desktop entry.
Exit 77 (skipped, with the reason) where a shell cannot be installed or started."""

import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../scripts/lib"))
import shells  # noqa: E402

POPUP, HOST = "Quaystone Ports", "Quaystone UI Test Host"
REACH = 48  # the farthest the popup's nearest edge may be from the icon


def window(session, title):
    found = [w for w in session.windows() if w["title"] == title]
    return found[0] if found else None


def gap(a, b):
    """The distance between two rectangles ({x, y, width, height}); negative when they overlap."""
    dx = max(a["x"] - (b["x"] + b["width"]), b["x"] - (a["x"] + a["width"]))
    dy = max(a["y"] - (b["y"] + b["height"]), b["y"] - (a["y"] + a["height"]))
    return max(dx, dy) if dx < 0 or dy < 0 else (dx * dx + dy * dy) ** 0.5


def check_popup(session, icon, what):
    popup = shells.wait_for(f"the popup ({what})", lambda: window(session, POPUP))
    popup = shells.wait_for("the popup to take the focus", lambda: (w := window(session, POPUP)) and w["focus"] and w)
    print(f"{what}: popup {popup}; icon {icon}")
    distance = gap(popup, icon)
    assert distance >= 0, f"the popup covers the icon: {popup} over {icon}"
    assert distance <= REACH, f"the popup is {distance:.0f} px from the icon"
    assert popup["skipTaskbar"], "the popup has a taskbar entry"
    assert popup.get("decorated") is not True and popup.get("noBorder") is not False, "the popup has a title bar"
    return popup


def closed(session, title=POPUP):
    return shells.wait_for(f"{title} to close", lambda: window(session, title) is None)


def closes_on_click_in(session, other):
    session.click(other["x"] + other["width"] // 2, other["y"] + other["height"] - 5)
    closed(session)


def gnome(binary, desktop_entry):
    with shells.Gnome() as session:
        session.install(desktop_entry, binary)
        session.start()
        session.start_app(binary)
        x, y, w, h = shells.wait_for("the app's icon in the top bar", session.icon)
        icon = {"x": x, "y": y, "width": w, "height": h}
        middle = (x + w // 2, y + h // 2)

        # A single click opens the host's menu ("Show Ports" first); the app shows nothing of its own.
        session.click(*middle)
        labels = shells.wait_for("the host's menu", session.menu)
        assert "Show Ports" in labels, f"the host's menu: {labels}"
        time.sleep(0.5)
        assert window(session, POPUP) is None and len(session.windows()) == 1, "the app showed a window"
        session.key(0xff1b)  # Escape
        shells.wait_for("the host's menu to close", lambda: session.menu() is None)

        # A double click activates.
        session.click(*middle, times=2)
        check_popup(session, icon, "double click")
        session.key(0xff1b)
        closed(session)

        # A click on another window closes the popup. That window is one of the app's own, on
        # Xwayland as the app starts by default, and known by the app's desktop entry.
        session.spawn([binary, "--ui-test-host"], "host")
        host = shells.wait_for("the UI-test window known as the app's",
                               lambda: (w := window(session, HOST)) and w["app"] == shells.APP_ID + ".desktop" and w)
        session.key(0xffe1)  # typed into that window: the popup must still take the focus from it
        time.sleep(0.3)
        session.click(*middle, times=2)
        check_popup(session, icon, "double click over another window")
        closes_on_click_in(session, host)
        print("gnome: ok")


def plasma(binary, desktop_entry, kwin_input):
    with shells.Plasma(kwin_input) as session:
        session.install(desktop_entry, binary)
        session.start()
        location, thickness = session.panel()
        assert location == "bottom", f"the default panel is at the {location}"
        band = {"x": 0, "y": 800 - int(thickness), "width": 1280, "height": int(thickness)}
        session.start_app(binary)
        # Plasma tells no one where a tray item is: try the panel's right half until the app hears
        # its icon's click.
        def heard():
            return "activated by the host" in session.read_log("app")

        icon_x = None
        for x in range(1264, 640, -12):
            session.click(x, band["y"] + band["height"] // 2)
            deadline = time.monotonic() + 1.5
            while not heard() and time.monotonic() < deadline:
                time.sleep(0.1)
            if heard():
                icon_x = x
                break
            session.key(1)  # Escape, for whatever else opened
        assert icon_x is not None, "no click on the panel reached the app's icon"
        # The icon is within the panel's band around the click.
        icon = dict(band, x=icon_x - 11, width=22)
        popup = check_popup(session, icon, "click")
        assert popup["app"] == shells.APP_ID, f"the popup is not the app's: {popup['app']}"
        session.key(1)
        closed(session)

        shell_windows = len(session.windows())
        session.click(icon_x, band["y"] + band["height"] // 2, button_right=True)
        shells.wait_for("the host's menu", lambda: len(session.windows()) > shell_windows)
        assert "menu asked for by the host" not in session.read_log("app"), "the host left the menu to the app"
        assert not [w for w in session.windows() if w["resourceClass"] == "quaystone"], "the app showed a menu window"
        session.key(1)

        session.spawn([binary, "--ui-test-host"], "host", dict(session.env, QT_QPA_PLATFORM="wayland"))
        host = shells.wait_for("the UI-test window", lambda: window(session, HOST))
        session.click(icon_x, band["y"] + band["height"] // 2)
        check_popup(session, icon, "click over another window")
        closes_on_click_in(session, host)
        print("plasma: ok")


def main(argv):
    try:
        shells.in_private_mounts()
        if argv[1] == "gnome":
            gnome(*argv[2:4])
        else:
            plasma(*argv[2:5])
    except shells.Skip as skip:
        print(f"wayland_shells: skipped: {skip}", file=sys.stderr)
        return 77
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
