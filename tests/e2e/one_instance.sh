#!/usr/bin/env bash
# One instance per session, under a virtual X server with private session and accessibility
# buses and a stand-in desktop portal (portal.py): with no tray, a --background start shows
# nothing, a later launch exits at once and shows the first instance's window, Escape hides it,
# --toggle closes and opens it, the portal's shortcut toggles it and --list still lists; the
# window's menu is read through AT-SPI and used from the keyboard; a plain start shows the
# window. With trayer, a later launch and --toggle open and close the popup at the icon.
# Exit 77 (skipped) when a tool is missing. Usage: one_instance.sh PATH-TO-quaystone
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/lib/xsession.sh
source "$here/../../scripts/lib/xsession.sh"

binary=${1:?usage: one_instance.sh PATH-TO-quaystone}
xsession_require Xvfb trayer xdotool xwininfo dbus-run-session /usr/libexec/at-spi-bus-launcher || exit 77
xsession_require_sni || exit 77
xsession_private_session_bus "$@"

fail() { XSESSION_FAIL_LOGS="app portal later" XSESSION_FAIL_TREE=1 xsession_fail "$@"; }

# Shown ports, told apart by whether the window system places them: the popup places itself.
shown() { # window|popup
    local id want=no
    [ "$1" = popup ] && want=yes
    for id in $(xdotool search --onlyvisible --name "$XSESSION_POPUP_TITLE" 2>/dev/null); do
        xwininfo -id "$id" | grep -q "Override Redirect State: $want" && return 0
    done
    return 1
}
hidden() { ! shown "$1"; }
nothing_shown() { hidden window && hidden popup; }

# A later launch with these options: it must end at once with status 0, leaving one instance.
later() { # EXPECT-shown|hidden WHAT [OPTION...]
    local expect=$1 what=$2 started status
    shift 2
    started=$(date +%s%N)
    timeout 10 env "${app_env[@]}" "$binary" "$@" >>"$XSESSION_DIR/later.log" 2>&1
    status=$?
    echo "one_instance: $* answered in $((($(date +%s%N) - started) / 1000000)) ms"
    ((status == 0)) || fail "a later launch ($*) ended with $status (124: it stayed running)"
    kill -0 "$XSESSION_APP_PID" 2>/dev/null || fail "the running instance ended"
    xsession_wait_for "$expect" "$what" || fail "after a later launch ($*) the $what is not $expect"
}

xsession_init
app_env=(QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 XDG_CONFIG_HOME="$XSESSION_DIR/config")
xsession_start_xvfb || exit 1
xsession_start_accessibility_bus || exit 1
"$XSESSION_PYTHON" "$here/portal.py" >"$XSESSION_DIR/portal.log" 2>&1 &
portal=$!
xsession_track "$portal"
xsession_wait_for grep -q '^portal ready' "$XSESSION_DIR/portal.log" || fail "the stand-in portal did not start"

xsession_start_app_on_bus "$binary" "${app_env[@]}" -- --background
xsession_wait_for grep -q ' show-ports description=Show ports trigger=$' "$XSESSION_DIR/portal.log" ||
    fail "no 'Show ports' shortcut without a preferred key was bound at the portal"
sleep 1
nothing_shown || fail "--background showed the ports"

later shown window
xdotool key Escape
xsession_wait_for hidden window || fail "Escape did not hide the window"
later shown window
later shown window # open already: raised, and still one
later hidden window --toggle
later shown window --toggle
later shown window --background # the autostart's start leaves the running one be
kill -USR1 "$portal"
xsession_wait_for hidden window || fail "the portal's shortcut did not close the window"
kill -USR1 "$portal"
xsession_wait_for shown window || fail "the portal's shortcut did not open the window"
# The listing runs here, not in the instance: a table, or (on a machine too busy for lsof) its reason.
listing=$(env "${app_env[@]}" "$binary" --list 2>&1)
[[ "$listing" == PORT* || "$listing" == *lsof* ]] || fail "--list beside the running instance printed: $listing"

# The window's menu from the keyboard (F10), its items as AT-SPI reads them; Launch at Login is
# chosen with the keys and writes the autostart entry, Quit Quaystone ends the app.
xdotool key F10
"$XSESSION_PYTHON" - "$XSESSION_LIB" "$XSESSION_APP_PID" <<'PY' || fail "the window's menu, read through AT-SPI, is wrong"
import sys, time
sys.path.insert(0, sys.argv[1])
import pyatspi
from atspi import children, role_and_name, walk
want, deadline = ["Refresh", "Launch at Login", "Quit Quaystone"], time.monotonic() + 10
while True:
    ours = [app for app in children(pyatspi.Registry.getDesktop(0)) if app.get_process_id() == int(sys.argv[2])]
    items = [name for app in ours for acc, _ in walk(app) for role, name in [role_and_name(acc)] if "menu item" in role]
    if items == want or time.monotonic() > deadline:
        sys.exit(0 if items == want else f"menu items: {items}")
    time.sleep(0.2)
PY
xdotool key Down Down Return
autostart=$XSESSION_DIR/config/autostart/quaystone.desktop
xsession_wait_for grep -q '^Exec=".*" --background$' "$autostart" || fail "Launch at Login wrote no entry with --background"
xdotool key F10
sleep 0.5
xdotool key Up Return
xsession_wait_for eval '! kill -0 "$XSESSION_APP_PID" 2>/dev/null' || fail "Quit Quaystone in the window's menu did not quit"

xsession_start_app_on_bus "$binary" "${app_env[@]}"
xsession_wait_for shown window || fail "a start with no tray showed no window"
xsession_stop "$XSESSION_APP_PID"

# With a tray, a start shows only the icon, and a later launch opens the popup as a click does.
xsession_start_trayer || fail "no tray host"
xsession_start_app_on_bus "$binary" "${app_env[@]}"
xsession_wait_for xsession_tray_icon >/dev/null || fail "no icon in the tray"
sleep 1
nothing_shown || fail "a start with a tray showed the ports"
later shown popup
later hidden popup --toggle
later shown popup --toggle
hidden window || fail "the window showed with a tray"
echo "one_instance: ok"
