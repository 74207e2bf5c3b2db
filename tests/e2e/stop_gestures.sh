#!/usr/bin/env bash
# One deliberate act stops one process, with real input. Under Xvfb with trayer, the built binary
# lists seven listeners of its own (private pid and network namespaces); each listener notes the
# SIGTERM it gets. xdotool holds Delete for 1.5 s (one stop), presses Down, Delete and soon Delete
# again (the second hits the row that took the first one's place, not the top), and double-clicks
# the top row's cross, found through the accessibility bus (one stop). Exit 77 (skipped) when a
# tool is missing or the namespaces cannot be made. Usage: stop_gestures.sh PATH-TO-quaystone
set -uo pipefail
# shellcheck source=scripts/lib/xsession.sh
source "$(dirname "$0")/../../scripts/lib/xsession.sh"

binary=${1:?usage: stop_gestures.sh PATH-TO-quaystone}
xsession_require Xvfb trayer xdotool unshare dbus-run-session /usr/libexec/at-spi-bus-launcher || exit 77
namespaces=(unshare --pid --fork --mount-proc --net --kill-child)
if ! "${namespaces[@]}" true 2>/dev/null; then
    echo "stop_gestures: skipped: cannot make private pid and network namespaces (unshare needs root)"
    exit 77
fi
xsession_private_session_bus "$@"

stops() { paste -sd' ' "$stopped" 2>/dev/null; }
fail() { xsession_fail "$@" "(stopped: $(stops))"; }
xsession_init
stopped=$XSESSION_DIR/stopped
xsession_start_xvfb || exit 1
xsession_start_accessibility_bus || exit 1
xsession_start_trayer || fail "no tray host"

cat >"$XSESSION_DIR/listener.py" <<'EOF'
import signal, socket, sys
def stopped(*_):
    open(sys.argv[2], "a").write(sys.argv[1] + "\n")
    sys.exit(0)
signal.signal(signal.SIGTERM, stopped)
server = socket.create_server(("0.0.0.0", int(sys.argv[1])))
print("ready", flush=True)
signal.pause()
EOF
# Process 1 of the namespaces starts the listeners, then the app, and reaps what ends.
# shellcheck disable=SC2016 # expanded by that shell
env QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 XDG_CONFIG_HOME="$XSESSION_DIR/config" \
    "${namespaces[@]}" bash -c 'python=$1 listener=$2 stopped=$3 binary=$4
    shift 4
    for port; do "$python" "$listener" "$port" "$stopped" >"$listener.$port" & done
    for port; do until [ -s "$listener.$port" ]; do sleep 0.05; done; done
    "$binary" &
    wait' _ "$XSESSION_PYTHON" "$XSESSION_DIR/listener.py" "$stopped" "$binary" 4101 4102 4103 4104 4105 4106 4107 \
    >"$XSESSION_DIR/app.log" 2>&1 &
xsession_track $!

# The centre of the cross of the row on PORT, on the screen.
cross_of() { "$XSESSION_PYTHON" "$XSESSION_LIB/atspi.py" center Quaystone "push button" "Kill python3 on port $1" 2>/dev/null; }
expect_stops() { # WHAT STOPPED-PORTS...
    sleep 2.5 # past the kill's grace and the refresh after it
    [ "$(stops)" = "${*:2}" ] || fail "$1: expected the listeners on ports ${*:2} to be stopped"
}

xsession_wait_for xsession_tray_icon >/dev/null || fail "no tray icon appeared"
xsession_click_window "$(xsession_tray_icon)"
xsession_wait_window --name "$XSESSION_POPUP_TITLE" >/dev/null || fail "the popup did not appear"
xsession_wait_for cross_of 4107 >/dev/null || fail "the seven listeners were not listed"

xdotool keydown Delete sleep 1.5 keyup Delete
expect_stops "a held Delete" 4101
xdotool key Down key Delete sleep 0.8 key Delete
expect_stops "Delete twice after Down" 4101 4103 4104
# The top row goes at once; the next one slides under the pointer before the second click.
read -r x y < <(cross_of 4102) || fail "no cross on the top row"
xdotool mousemove "$x" "$y" click --repeat 2 --delay 120 1
expect_stops "a double click on a cross" 4101 4103 4104 4102
echo "stop_gestures: ok"
