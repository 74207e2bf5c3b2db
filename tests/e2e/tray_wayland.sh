#!/usr/bin/env bash
# The app under Wayland: a weston compositor, a private session bus with the minimal
# StatusNotifierWatcher, and the built binary on QT_QPA_PLATFORM=wayland, where no window can be
# put at the icon. It must start without a warning, register its item, show the ports in their
# window (never a frameless popup the compositor drops anywhere) when "Show Ports" is chosen
# through the exported menu (com.canonical.dbusmenu) or the host asks for the app's menu, and
# close it on Escape. The debug output (quaystone.popup) tells when a window shows and hides.
#
# weston runs on its X11 backend inside Xvfb: its headless backend has no seat, so no key could
# reach the app, while here xdotool types into weston's window and weston hands the key on.
# Exit 77 (skipped) when a tool is missing or weston cannot start.
#
# Usage: tray_wayland.sh PATH-TO-quaystone
set -uo pipefail
# shellcheck source=scripts/lib/xsession.sh
source "$(dirname "$0")/../../scripts/lib/xsession.sh"

binary=${1:?usage: tray_wayland.sh PATH-TO-quaystone}
xsession_require Xvfb xdotool xwininfo dbus-run-session weston "$XSESSION_PYTHON" || exit 77
xsession_require_sni || exit 77
if ! ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1; then
    echo "tray_wayland: Qt's Wayland platform plugin is not installed (scripts/install-deps.sh installs qt6-wayland)" >&2
    exit 77
fi

xsession_private_session_bus "$@"

fail() { XSESSION_FAIL_LOGS="app watcher weston" xsession_fail "$@"; }

popup_events() { grep -c "quaystone.popup: ports window $1" "$XSESSION_DIR/app.log"; }
# Waits until the window has shown (or hidden) N times in all.
wait_popup() { # shown|hidden N
    xsession_wait_for eval "(( \$(popup_events $1) >= $2 ))"
}

xsession_init
xsession_start_xvfb || exit 1
xsession_start_weston || fail "no weston window"
xsession_start_sni_watcher || fail "no watcher"
env -u DISPLAY QT_QPA_PLATFORM=wayland QT_LOGGING_RULES='quaystone.*.debug=true' \
    XDG_CONFIG_HOME="$XSESSION_DIR/config" "$binary" >"$XSESSION_DIR/app.log" 2>&1 &
XSESSION_APP_PID=$!
xsession_track "$XSESSION_APP_PID"
xsession_wait_for xsession_sni_item >/dev/null || fail "the item did not register"
item=$(xsession_sni_item)
echo "tray_wayland: item $item registered"

xsession_sni menu-click "$item" "Show Ports" || fail "choosing Show Ports failed"
wait_popup shown 1 || fail "Show Ports did not show the ports window"
sleep 0.5 # the compositor maps the window and gives it the focus
xdotool key Escape
wait_popup hidden 1 || fail "Escape did not close the ports window"
echo "tray_wayland: Show Ports showed the ports window; Escape closed it"
# A host that asks the app for its menu gets the ports window, which holds it: a menu without a
# parent window would be a window of its own.
xsession_sni context-menu "$item" 0 0 || fail "ContextMenu failed"
wait_popup shown 2 || fail "ContextMenu did not show the ports window"
if grep -q "quaystone.popup: popup shown" "$XSESSION_DIR/app.log"; then fail "a frameless popup was shown"; fi

kill -0 "$XSESSION_APP_PID" 2>/dev/null || fail "the app exited"
# Everything the app printed must be its own debug output: no warning of Qt's or of its own.
if grep -v '^quaystone\.\(tray\|popup\): ' "$XSESSION_DIR/app.log" | grep -q .; then
    fail "the app printed warnings"
fi
echo "tray_wayland: ok"
