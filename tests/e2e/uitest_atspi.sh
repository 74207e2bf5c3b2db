#!/usr/bin/env bash
# Starts the built binary in UI-test mode under a virtual X server with its own session and
# accessibility buses, and drives it through AT-SPI as a screen reader would
# (uitest_atspi.py). Usage: uitest_atspi.sh PATH-TO-quaystone
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/lib/xsession.sh
source "$here/../../scripts/lib/xsession.sh"

binary=${1:?usage: uitest_atspi.sh PATH-TO-quaystone}
launcher=/usr/libexec/at-spi-bus-launcher
xsession_require Xvfb dbus-run-session dbus-send /usr/bin/python3 "$launcher"

# A private session bus, so that nothing of the caller's desktop is seen or touched.
xsession_private_session_bus "$@"

xsession_init
xsession_start_xvfb

xsession_start_accessibility_bus || exit 1

export QT_QPA_PLATFORM=xcb QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
# Debian's interpreter: python3-pyatspi is installed for it, not for other pythons on PATH.
# Every wait in the driver is bounded; the limit here only guards against a hung bus call.
timeout --kill-after=5 120 /usr/bin/python3 "$here/uitest_atspi.py" "$binary"
