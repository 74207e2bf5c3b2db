#!/usr/bin/env bash
# A StatusNotifierItem host that starts after the app, and one that restarts: under a virtual X
# server and a private session bus, start the built binary, start a minimal watcher (which also
# says a host is registered) 3 s later and wait for the item; then drive the item as a host
# would: Activate with the pointer at a known spot (the popup opens below or above it without
# covering it), a double click (the popup stays open), ContextMenu (the app's menu opens at the
# pointer), the exported menu (no key hints; "Show Ports" opens the popup). Finally stop the
# watcher, start it again and check that the item registers again and its menu still works.
# Exit 77 (skipped) when a tool is missing.
#
# Usage: tray_late_sni.sh PATH-TO-quaystone
set -uo pipefail
# shellcheck source=scripts/lib/xsession.sh
source "$(dirname "$0")/../../scripts/lib/xsession.sh"

binary=${1:?usage: tray_late_sni.sh PATH-TO-quaystone}
xsession_require Xvfb xdotool dbus-run-session "$XSESSION_PYTHON" || exit 77
xsession_require_sni || exit 77

# A private session bus, so that no tray host of the caller's desktop is seen.
xsession_private_session_bus "$@"

fail() { XSESSION_FAIL_LOGS="app watcher" xsession_fail "$@"; }

close_popup() { xsession_close_popup || fail "Escape did not close the popup"; }

# Activate with the pointer at X,Y; the popup must open on the given side of the spot and
# neither cover it nor leave it behind horizontally.
check_activation_at() { # X Y below|above
    local x=$1 y=$2 side=$3 px py pw ph
    xdotool mousemove "$x" "$y"
    xsession_sni activate "$item" "$x" "$y" || fail "Activate failed"
    read -r px py pw ph < <(xsession_popup_geometry) || fail "Activate at $x,$y opened no popup"
    echo "tray_late_sni: pointer at $x,$y: popup at $px,$py ${pw}x$ph"
    ((px <= x && x < px + pw)) || fail "the popup is not beside the pointer"
    if [ "$side" = below ]; then
        ((py > y)) || fail "the popup covers the pointer instead of opening below it"
    else
        ((py + ph <= y)) || fail "the popup covers the pointer instead of opening above it"
    fi
    close_popup
}

xsession_init
xsession_start_xvfb || exit 1
# Started at login, before the panel: a start without it would show the ports in a window.
xsession_start_app_on_bus "$binary" -- --background
sleep 3
kill -0 "$XSESSION_APP_PID" 2>/dev/null || fail "the app exited without a tray"

xsession_start_sni_watcher || fail "no watcher"
xsession_wait_for xsession_sni_item >/dev/null || fail "the item did not register within 10 s of the watcher"
item=$(xsession_sni_item)
echo "tray_late_sni: late watcher: item $item registered"

menu=$(xsession_sni menu "$item") || fail "no exported menu"
grep -qx $'Show Ports\t' <<<"$menu" || fail "no \"Show Ports\" in the exported menu: $menu"
# The host draws this menu and keeps its keys: a key hint there would promise nothing.
if cut -f2 <<<"$menu" | grep -q .; then fail "the exported menu shows key hints: $menu"; fi

check_activation_at 640 5 below
check_activation_at 300 795 above

xdotool mousemove 640 5
xsession_sni activate-twice "$item" 640 5 || fail "Activate failed"
xsession_popup_geometry >/dev/null || fail "a double click opened no popup"
sleep 1 # a popup closed by the second click would be gone by now
xsession_popup >/dev/null || fail "a double click closed the popup it opened"
close_popup

xdotool mousemove 900 10
xsession_sni context-menu "$item" 900 10 || fail "ContextMenu failed"
menu_window=$(xsession_wait_for xsession_app_menu >/dev/null && xsession_app_menu) ||
    fail "ContextMenu opened no menu"
eval "$(xdotool getwindowgeometry --shell "$menu_window")"
echo "tray_late_sni: ContextMenu at 900,10: menu at $X,$Y"
((X <= 900 && 900 < X + WIDTH && Y <= 10 + 1 && 10 < Y + HEIGHT + 1)) || fail "the menu is not at the pointer"
xdotool key Escape

xsession_sni menu-click "$item" "Show Ports" || fail "choosing Show Ports failed"
xsession_popup_geometry >/dev/null || fail "Show Ports opened no popup"
close_popup

xsession_stop "$XSESSION_WATCHER_PID"
xsession_start_sni_watcher || fail "no watcher"
xsession_wait_for xsession_sni_item >/dev/null || fail "the item did not register again with the restarted watcher"
item=$(xsession_sni_item)
echo "tray_late_sni: restarted watcher: item $item registered"
xsession_sni menu-click "$item" "Show Ports" || fail "choosing Show Ports after the restart failed"
xsession_popup_geometry >/dev/null || fail "Show Ports opened no popup after the restart"
close_popup
kill -0 "$XSESSION_APP_PID" 2>/dev/null || fail "the app exited"

echo "tray_late_sni: ok"
