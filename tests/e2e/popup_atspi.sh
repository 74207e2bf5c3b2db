#!/usr/bin/env bash
# Normal mode as a screen reader meets it: under a virtual X server with the trayer tray host and
# private session and accessibility buses, start the built binary over real listeners, click its
# tray icon and follow the popup through AT-SPI events (popup_atspi.py). Exit 77 (skipped) when a
# tool is missing. Usage: popup_atspi.sh PATH-TO-quaystone
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/lib/xsession.sh
source "$here/../../scripts/lib/xsession.sh"

binary=${1:?usage: popup_atspi.sh PATH-TO-quaystone}
launcher=/usr/libexec/at-spi-bus-launcher
xsession_require Xvfb trayer xdotool dbus-run-session dbus-send /usr/bin/python3 "$launcher" || exit 77

# A private session bus: nothing of the caller's desktop is seen or touched, and with no
# StatusNotifierItem host on it Qt embeds the icon in trayer.
xsession_private_session_bus "$@"

xsession_init
xsession_start_xvfb

xsession_start_accessibility_bus || exit 1
xsession_start_trayer

export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 POPUP_ATSPI_DIR=$XSESSION_DIR
# Debian's interpreter, for which python3-pyatspi is installed. Every wait in the driver is
# bounded; the limit here only guards against a hung bus call.
timeout --kill-after=5 150 /usr/bin/python3 "$here/popup_atspi.py" "$binary"
