#!/usr/bin/env bash
# Resident memory of the real app in normal mode (target 40 MB): started under Xvfb with the
# trayer tray host, read idle, then after one click on the icon (popup plus refresh) and a
# second click that closes the popup. Prints VmRSS and the peak VmHWM from /proc.
#
# Usage: bench/measure-app.sh PATH-TO-quaystone   (use a Release build)
set -uo pipefail

binary=${1:?usage: measure-app.sh PATH-TO-quaystone}
settle_seconds=${SETTLE_SECONDS:-3}

workdir=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    wait 2>/dev/null
    rm -rf "$workdir"
}
trap cleanup EXIT

wait_for() {
    local deadline=$((SECONDS + 10))
    until "$@"; do
        ((SECONDS < deadline)) || { echo "measure-app: timed out waiting for: $*" >&2; exit 1; }
        sleep 0.1
    done
}

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$workdir/display" 2>/dev/null &
pids+=($!)
wait_for test -s "$workdir/display"
export DISPLAY=":$(head -n1 "$workdir/display")"
trayer --edge top --align right --widthtype request --height 24 --transparent false \
    --SetDockType true >/dev/null 2>&1 &
pids+=($!)
wait_for xdotool search --class trayer >/dev/null

env -u DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$workdir/config" "$binary" \
    >"$workdir/app.log" 2>&1 &
app=$!
pids+=("$app")

tray_icon() { xdotool search --onlyvisible --class quaystone 2>/dev/null | head -n1 | grep .; }
popup() { xdotool search --onlyvisible --name '^Quaystone Ports$' >/dev/null 2>&1; }
no_popup() { ! popup; }
memory() { # label
    awk -v label="$1" '/^VmRSS|^VmHWM/ { printf "%s %s %.1f MB", (n++ ? "," : label), $1, $2 / 1024 } END { print "" }' \
        "/proc/$app/status"
}

wait_for tray_icon >/dev/null
sleep "$settle_seconds"
memory "idle:                 "

eval "$(xdotool getwindowgeometry --shell "$(tray_icon)")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
wait_for popup
sleep "$settle_seconds" # the refresh runs lsof and renders its rows
memory "popup open, refreshed:"
xdotool click 1
wait_for no_popup
sleep "$settle_seconds"
memory "after closing it:     "
listeners=$(grep -c . <(ss -Hltn 2>/dev/null | awk '{print $4}' | grep -E ':[3-9][0-9]{3}$') || true)
echo "listeners on the machine in 3000-9999: ${listeners}"
