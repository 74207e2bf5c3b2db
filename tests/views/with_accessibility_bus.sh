#!/usr/bin/env bash
# Runs a widget test program under a virtual X server with private session and accessibility
# buses, so that Qt's accessibility bridge becomes active and hands its events to the test.
# Exit 77 (skipped) when a tool is missing. Usage: with_accessibility_bus.sh PROGRAM [ARGUMENT...]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/lib/xsession.sh
source "$here/../../scripts/lib/xsession.sh"

launcher=/usr/libexec/at-spi-bus-launcher
xsession_require Xvfb dbus-run-session dbus-send "$launcher" || exit 77
if [ -z "${QUAYSTONE_A11Y_SESSION:-}" ]; then
    export QUAYSTONE_A11Y_SESSION=1
    exec dbus-run-session -- "$0" "$@"
fi

xsession_init
xsession_start_xvfb || exit 1
"$launcher" --launch-immediately 2>"$XSESSION_DIR/atspi.log" &
xsession_track $!
accessibility_bus() {
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1
}
if ! xsession_wait_for accessibility_bus; then
    echo "$(basename "$0"): the accessibility bus did not start: $(cat "$XSESSION_DIR/atspi.log")" >&2
    exit 1
fi
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$@"
