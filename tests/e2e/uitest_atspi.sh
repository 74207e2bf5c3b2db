#!/usr/bin/env bash
# Starts the built binary in UI-test mode under a virtual X server with its own session and
# accessibility buses, and drives it through AT-SPI as a screen reader would
# (uitest_atspi.py). Usage: uitest_atspi.sh PATH-TO-quaystone
set -euo pipefail

binary=${1:?usage: uitest_atspi.sh PATH-TO-quaystone}
here=$(cd "$(dirname "$0")" && pwd)
launcher=/usr/libexec/at-spi-bus-launcher

for tool in Xvfb dbus-run-session dbus-send /usr/bin/python3 "$launcher"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "uitest_atspi: $tool is missing (scripts/install-deps.sh installs it)" >&2
        exit 1
    fi
done

# A private session bus, so that nothing of the caller's desktop is seen or touched.
if [ -z "${QUAYSTONE_UITEST_SESSION:-}" ]; then
    export QUAYSTONE_UITEST_SESSION=1
    exec dbus-run-session -- "$0" "$@"
fi

workdir=$(mktemp -d)
pids=()
cleanup() {
    local status=$?
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    # Bounded: whatever has not ended after two seconds is killed.
    for _ in $(seq 20); do
        local alive=0
        for pid in "${pids[@]}"; do
            kill -0 "$pid" 2>/dev/null && alive=1
        done
        [ "$alive" -eq 0 ] && break
        sleep 0.1
    done
    for pid in "${pids[@]}"; do
        kill -KILL "$pid" 2>/dev/null || true
    done
    rm -rf "$workdir"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# -displayfd lets the server pick a free display and tell us which once it listens. -noreset:
# the accessibility bus launcher connects and leaves before the app starts, and a server that
# resets when its last client leaves refuses connections while it does.
Xvfb -displayfd 3 -noreset -screen 0 1280x800x24 -nolisten tcp 3>"$workdir/display" 2>"$workdir/xvfb.log" &
pids+=($!)
display=
for _ in $(seq 100); do
    display=$(head -n1 "$workdir/display" 2>/dev/null || true)
    [ -n "$display" ] && [ -S "/tmp/.X11-unix/X$display" ] && break
    display=
    sleep 0.1
done
if [ -z "$display" ]; then
    echo "uitest_atspi: Xvfb did not start" >&2
    cat "$workdir/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$display"

"$launcher" --launch-immediately 2>"$workdir/atspi.log" &
pids+=($!)
bus_ready=0
for _ in $(seq 100); do
    if dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
        >/dev/null 2>&1; then
        bus_ready=1
        break
    fi
    sleep 0.1
done
if [ "$bus_ready" -eq 0 ]; then
    echo "uitest_atspi: the accessibility bus did not start" >&2
    cat "$workdir/atspi.log" >&2
    exit 1
fi

export QT_QPA_PLATFORM=xcb
export QT_ACCESSIBILITY=1
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
# Debian's interpreter: python3-pyatspi is installed for it, not for other pythons on PATH.
# Every wait in the driver is bounded; the limit here only guards against a hung bus call.
timeout --kill-after=5 120 /usr/bin/python3 "$here/uitest_atspi.py" "$binary"
