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
xsession_private_session_bus "$@"

xsession_init
xsession_start_xvfb || exit 1
xsession_start_accessibility_bus || exit 1
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$@"
