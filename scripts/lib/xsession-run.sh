#!/usr/bin/env bash
# Runs a command in a throwaway X session (xsession.sh): a virtual X server, a private session
# bus with the accessibility bus on it, with --trayer the trayer tray host, and the app's
# accessibility bridge on; ends them all afterwards. The command finds the session's scratch
# folder in XSESSION_DIR. Exit 77 (skipped) when a tool is missing.
# Usage: xsession-run.sh [--trayer] COMMAND [ARGUMENT...]
set -uo pipefail
# shellcheck source=scripts/lib/xsession.sh
source "$(dirname "$0")/xsession.sh"

xsession_require Xvfb dbus-run-session dbus-send /usr/libexec/at-spi-bus-launcher || exit 77
[ "$1" != --trayer ] || xsession_require trayer xdotool || exit 77
xsession_private_session_bus "$@"

xsession_init
xsession_start_xvfb || exit 1
xsession_start_accessibility_bus || exit 1
if [ "$1" = --trayer ]; then
    shift
    xsession_start_trayer || exit 1
fi
export XSESSION_DIR QT_QPA_PLATFORM=xcb QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
# Every wait of a driver is bounded; this limit only guards against a hung bus call.
timeout --kill-after=5 150 "$@"
