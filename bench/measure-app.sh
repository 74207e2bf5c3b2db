#!/usr/bin/env bash
# Resident memory of the real app in normal mode (target 40 MB): started under Xvfb with the
# trayer tray host, read idle, then after one click on the icon (popup plus refresh) and a
# second click that closes the popup. Prints VmRSS and the peak VmHWM from /proc.
#
# Usage: bench/measure-app.sh PATH-TO-quaystone   (use a Release build)
set -uo pipefail
# shellcheck source=scripts/lib/xsession.sh
source "$(dirname "$0")/../scripts/lib/xsession.sh"

binary=${1:?usage: measure-app.sh PATH-TO-quaystone}
settle_seconds=${SETTLE_SECONDS:-3}
xsession_require Xvfb trayer xdotool || exit 1

memory() { # label
    awk -v label="$1" '/^VmRSS|^VmHWM/ { printf "%s %s %.1f MB", (n++ ? "," : label), $1, $2 / 1024 } END { print "" }' \
        "/proc/$XSESSION_APP_PID/status"
}
timed_out() {
    echo "measure-app: timed out waiting for $*" >&2
    exit 1
}

xsession_init
xsession_start_xvfb || exit 1
xsession_start_trayer || exit 1
xsession_start_tray_app "$binary"

xsession_wait_for xsession_tray_icon >/dev/null || timed_out "the tray icon"
sleep "$settle_seconds"
memory "idle:                 "

xsession_click_window "$(xsession_tray_icon)"
xsession_wait_for xsession_popup >/dev/null || timed_out "the popup"
sleep "$settle_seconds" # the refresh runs lsof and renders its rows
memory "popup open, refreshed:"
xdotool click 1
xsession_wait_for xsession_no_popup || timed_out "the popup to close"
sleep "$settle_seconds"
memory "after closing it:     "
listeners=$(grep -c . <(ss -Hltn 2>/dev/null | awk '{print $4}' | grep -E ':[3-9][0-9]{3}$') || true)
echo "listeners on the machine in 3000-9999: ${listeners}"
