#!/usr/bin/env bash
# Smoke test of normal mode: under a virtual X server with a real XEmbed tray (trayer), start
# the built binary, wait for its tray icon, click it and check that the popup appears under
# the icon; click again and check that it closes and stays closed. Every wait is bounded; on
# failure the app's output and the window tree are printed. Exit 77 (skipped) when a tool is
# missing.
#
# Usage: tray_smoke.sh PATH-TO-quaystone
set -uo pipefail
# shellcheck source=scripts/lib/xsession.sh
source "$(dirname "$0")/../../scripts/lib/xsession.sh"

binary=${1:?usage: tray_smoke.sh PATH-TO-quaystone}
xsession_require Xvfb trayer xdotool xwininfo || exit 77

fail() { XSESSION_FAIL_LOGS="app trayer" XSESSION_FAIL_TREE=1 xsession_fail "$@"; }

xsession_init
xsession_start_xvfb || exit 1
xsession_start_trayer || fail "no tray host"
xsession_start_tray_app "$binary"

xsession_wait_for xsession_tray_icon >/dev/null || fail "no tray icon appeared"
icon=$(xsession_tray_icon)
eval "$(xdotool getwindowgeometry --shell "$icon")" # sets X, Y, WIDTH, HEIGHT
icon_x=$X icon_y=$Y icon_w=$WIDTH icon_h=$HEIGHT
echo "tray_smoke: icon $icon at ${icon_x},${icon_y} ${icon_w}x${icon_h}"
xsession_no_popup || fail "a popup is visible before any click"

xsession_click_window "$icon"
popup=$(xsession_wait_window --name "$XSESSION_POPUP_TITLE") ||
    fail "the popup did not appear after a click on the icon"
eval "$(xdotool getwindowgeometry --shell "$popup")"
echo "tray_smoke: popup at ${X},${Y} ${WIDTH}x${HEIGHT}"
((Y >= icon_y + icon_h - 1)) || fail "the popup is not under the icon"
((X <= icon_x + icon_w && X + WIDTH >= icon_x)) || fail "the popup is not beside the icon"

sleep 1 # past the double-click interval: a quicker second click leaves the popup open
xdotool click 1
xsession_wait_for xsession_no_popup || fail "a second click on the icon did not close the popup"
sleep 0.5 # a click that reopened the popup would show by now
xsession_no_popup || fail "the popup came back after the closing click"
kill -0 "$XSESSION_APP_PID" 2>/dev/null || fail "the app exited"

echo "tray_smoke: ok"
