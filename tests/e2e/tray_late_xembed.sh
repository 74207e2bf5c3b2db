#!/usr/bin/env bash
# An XEmbed tray that starts after the app, and one that restarts: under a virtual X server and
# a private session bus without any StatusNotifierItem host, start the built binary, start
# trayer 3 s later and check that the icon is embedded in it, opens the popup under and beside
# itself, closes it on a second click for good, and that a double click leaves the popup open;
# then end trayer, start it again, and check the same once more; finally quit with Ctrl+Q from
# the icon's open menu. Exit 77 (skipped) when a tool is missing.
#
# Usage: tray_late_xembed.sh PATH-TO-quaystone
set -uo pipefail
# shellcheck source=scripts/lib/xsession.sh
source "$(dirname "$0")/../../scripts/lib/xsession.sh"

binary=${1:?usage: tray_late_xembed.sh PATH-TO-quaystone}
xsession_require Xvfb trayer xdotool xwininfo dbus-run-session || exit 77

xsession_private_session_bus "$@"

fail() { XSESSION_FAIL_LOGS="app trayer" XSESSION_FAIL_TREE=1 xsession_fail "$@"; }

# Waits for the icon in the running trayer and checks that a click on it opens the popup
# under it, and a second click closes it.
check_icon() { # WHEN
    local icon icon_x icon_y icon_w icon_h
    xsession_wait_for xsession_embedded_icon >/dev/null || fail "$1: the icon was not embedded within 10 s"
    icon=$(xsession_embedded_icon)
    eval "$(xdotool getwindowgeometry --shell "$icon")"
    icon_x=$X icon_y=$Y icon_w=$WIDTH icon_h=$HEIGHT
    echo "tray_late_xembed: $1: icon $icon embedded at $icon_x,$icon_y"
    xsession_no_popup || fail "$1: a popup is visible before any click"
    sleep 0.5 # trayer shows the icon before it has finished taking it in
    xsession_click_window "$icon"
    popup=$(xsession_wait_window --name "$XSESSION_POPUP_TITLE") || fail "$1: a click on the icon opened no popup"
    eval "$(xdotool getwindowgeometry --shell "$popup")"
    ((Y >= icon_y + icon_h - 1)) || fail "$1: the popup is not under the icon"
    ((X <= icon_x + icon_w && X + WIDTH >= icon_x)) || fail "$1: the popup is not beside the icon"
    sleep 1 # past the double-click interval: a quicker second click leaves the popup open
    xdotool click 1
    xsession_wait_for xsession_no_popup || fail "$1: a second click did not close the popup"
    sleep 1 # a click that reopened the popup would show by now
    xsession_no_popup || fail "$1: the popup came back after the closing click"
    xdotool click --repeat 2 --delay 100 1
    xsession_wait_window --name "$XSESSION_POPUP_TITLE" >/dev/null || fail "$1: a double click opened no popup"
    sleep 1 # a popup closed by the second click would be gone by now
    xsession_popup >/dev/null || fail "$1: a double click closed the popup it opened"
    xdotool key Escape
    xsession_wait_for xsession_no_popup || fail "$1: Escape did not close the popup"
}

xsession_init
xsession_start_xvfb || exit 1
# Started at login, before the panel: a start without it would show the ports in a window.
xsession_start_app_on_bus "$binary" -- --background
sleep 3
kill -0 "$XSESSION_APP_PID" 2>/dev/null || fail "the app exited without a tray"
xsession_tray_icon >/dev/null && fail "an icon showed before any tray"

xsession_start_trayer || fail "no tray host"
check_icon "late trayer"

xsession_stop "$XSESSION_TRAYER_PID"
xsession_wait_for eval '! xsession_embedded_icon >/dev/null' || fail "the icon outlived its tray"
xsession_start_trayer || fail "trayer did not start again"
check_icon "restarted trayer"
kill -0 "$XSESSION_APP_PID" 2>/dev/null || fail "the app exited"

# The menu's key hints work while it is open: Ctrl+Q in the icon's menu ends the app.
icon=$(xsession_embedded_icon)
eval "$(xdotool getwindowgeometry --shell "$icon")"
sleep 0.5 # the X server ends the closed popup's pointer grab
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
xsession_wait_for xsession_menu_open "$icon" || fail "a right click on the icon opened no menu"
xdotool key ctrl+q
xsession_wait_for eval '! kill -0 "$XSESSION_APP_PID" 2>/dev/null' || fail "Ctrl+Q in the open menu did not quit"

echo "tray_late_xembed: ok"
