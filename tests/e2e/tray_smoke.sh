#!/usr/bin/env bash
# Smoke test of normal mode: under a virtual X server with a real XEmbed tray (trayer), start
# the built binary, wait for its tray icon, click it and check that the popup appears under
# the icon; click again and check that it closes. Every wait is bounded; on failure the app's
# output and the window tree are printed. Exit 77 (skipped) when a tool is missing.
#
# Usage: tray_smoke.sh PATH-TO-quaystone
set -uo pipefail

binary=${1:?usage: tray_smoke.sh PATH-TO-quaystone}
popup_title='^Quaystone Ports$'
wait_seconds=10

for tool in Xvfb trayer xdotool xwininfo; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "tray_smoke: $tool is not installed; skipping" >&2
        exit 77
    fi
done

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

fail() {
    echo "tray_smoke: FAIL: $*" >&2
    echo "--- app output" >&2
    cat "$workdir/app.log" >&2 2>/dev/null
    echo "--- trayer output" >&2
    cat "$workdir/trayer.log" >&2 2>/dev/null
    echo "--- window tree" >&2
    xwininfo -root -tree >&2 2>/dev/null
    exit 1
}

# Polls the command until it succeeds or the wait runs out.
wait_for() {
    local deadline=$((SECONDS + wait_seconds))
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}

# Xvfb picks a free display number itself and writes it once it accepts connections.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$workdir/display" 2>"$workdir/xvfb.log" &
pids+=($!)
wait_for test -s "$workdir/display" || fail "Xvfb did not start: $(cat "$workdir/xvfb.log")"
export DISPLAY=":$(head -n1 "$workdir/display")"

trayer --edge top --align right --widthtype request --height 24 --transparent false \
    --SetDockType true --SetPartialStrut true >"$workdir/trayer.log" 2>&1 &
pids+=($!)
wait_for xdotool search --class trayer >/dev/null 2>&1 || fail "the tray host did not start"

# No session bus: Qt then embeds the icon in trayer (XEmbed) instead of looking for a
# StatusNotifierItem host. The autostart folder is a scratch one.
env -u DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$workdir/config" \
    "$binary" >"$workdir/app.log" 2>&1 &
app=$!
pids+=("$app")

tray_icon() {
    local id
    for id in $(xdotool search --onlyvisible --class quaystone 2>/dev/null); do
        [[ "$(xdotool getwindowname "$id")" =~ $popup_title ]] && continue
        echo "$id"
        return 0
    done
    return 1
}
popup_visible() { xdotool search --onlyvisible --name "$popup_title" >/dev/null 2>&1; }
popup_hidden() { ! popup_visible; }

wait_for tray_icon >/dev/null || fail "no tray icon appeared"
icon=$(tray_icon)
eval "$(xdotool getwindowgeometry --shell "$icon")" # sets X, Y, WIDTH, HEIGHT
icon_x=$X icon_y=$Y icon_w=$WIDTH icon_h=$HEIGHT
echo "tray_smoke: icon $icon at ${icon_x},${icon_y} ${icon_w}x${icon_h}"
popup_visible && fail "a popup is visible before any click"

xdotool mousemove $((icon_x + icon_w / 2)) $((icon_y + icon_h / 2)) click 1
wait_for popup_visible || fail "the popup did not appear after a click on the icon"
popup=$(xdotool search --onlyvisible --name "$popup_title" | head -n1)
eval "$(xdotool getwindowgeometry --shell "$popup")"
echo "tray_smoke: popup at ${X},${Y} ${WIDTH}x${HEIGHT}"
((Y >= icon_y + icon_h - 1)) || fail "the popup is not under the icon"
((X <= icon_x + icon_w && X + WIDTH >= icon_x)) || fail "the popup is not beside the icon"

xdotool click 1
wait_for popup_hidden || fail "a second click on the icon did not close the popup"
sleep 0.5 # a click that reopened the popup would show by now
popup_hidden || fail "the popup came back after the closing click"
kill -0 "$app" 2>/dev/null || fail "the app exited"

echo "tray_smoke: ok"
