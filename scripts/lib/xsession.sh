# A throwaway X session for the scripts that drive the real binary: a virtual X server on a
# free display, the trayer tray host, the app in its tray, and one trap that ends every
# process started here, by pid, however the script exits.
#
# Source it, then call xsession_init before anything else. Everything lives in $XSESSION_DIR,
# which the trap removes. A script with more to clean up defines xsession_on_exit.
# shellcheck shell=bash

XSESSION_WAIT_SECONDS=${XSESSION_WAIT_SECONDS:-10}
XSESSION_POPUP_TITLE='^Quaystone Ports$'
XSESSION_PIDS=()
# The tray host side of StatusNotifierItem (a minimal watcher, and a host's calls on an item).
XSESSION_SNI="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tests/e2e" && pwd)/sni.py"
# Debian's interpreter: python3-gi is installed for it, not for other pythons on PATH.
XSESSION_PYTHON=/usr/bin/python3

# Prints the tools that are missing to stderr; fails when there is one.
xsession_require() {
    local tool missing=0
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "$(basename "$0"): $tool is not installed (scripts/install-deps.sh installs it)" >&2
            missing=1
        fi
    done
    return "$missing"
}

# Runs the calling script again, once, on a private session bus of its own, so that nothing of
# the caller's desktop (its tray hosts, its accessibility bus) is seen or touched.
xsession_private_session_bus() { # "$@" of the script
    if [ -z "${XSESSION_PRIVATE_BUS:-}" ]; then
        export XSESSION_PRIVATE_BUS=1
        exec dbus-run-session -- "$0" "$@"
    fi
}

# Says why the test failed, then what the logs named in XSESSION_FAIL_LOGS (files in
# XSESSION_DIR) hold, and the X window tree when XSESSION_FAIL_TREE is set; exits 1.
xsession_fail() {
    echo "$(basename "$0" .sh): FAIL: $*" >&2
    for log in ${XSESSION_FAIL_LOGS:-app}; do
        echo "--- $log output" >&2
        cat "$XSESSION_DIR/$log.log" >&2 2>/dev/null
    done
    if [ -n "${XSESSION_FAIL_TREE:-}" ]; then
        echo "--- window tree" >&2
        xwininfo -root -tree >&2 2>/dev/null
    fi
    exit 1
}

xsession_init() {
    XSESSION_DIR=$(mktemp -d)
    trap xsession_cleanup EXIT
    trap 'exit 1' INT TERM
}

xsession_track() { XSESSION_PIDS+=("$@"); }

# Ends every tracked process: TERM, up to two seconds' grace, then KILL. Keeps the exit status.
xsession_cleanup() {
    local status=$? pid alive
    if declare -F xsession_on_exit >/dev/null; then
        xsession_on_exit || true
    fi
    for pid in "${XSESSION_PIDS[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for _ in $(seq 20); do
        alive=0
        for pid in "${XSESSION_PIDS[@]}"; do
            kill -0 "$pid" 2>/dev/null && alive=1
        done
        ((alive)) || break
        sleep 0.1
    done
    for pid in "${XSESSION_PIDS[@]}"; do
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$XSESSION_DIR"
    exit "$status"
}

# Runs the command until it succeeds, for at most $XSESSION_WAIT_SECONDS.
xsession_wait_for() {
    local deadline=$((SECONDS + XSESSION_WAIT_SECONDS))
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}

# Starts Xvfb on a display it picks itself and exports DISPLAY once the server listens.
# -noreset: a server that resets when its last client leaves (the accessibility bus launcher
# connects and leaves, say) refuses connections while it does.
# shellcheck disable=SC2120 # the arguments are optional
xsession_start_xvfb() { # [WIDTHxHEIGHTxDEPTH]
    Xvfb -displayfd 3 -noreset -screen 0 "${1:-1280x800x24}" -nolisten tcp 3>"$XSESSION_DIR/display" \
        2>"$XSESSION_DIR/xvfb.log" &
    xsession_track $!
    if ! xsession_wait_for xsession_listening_display >/dev/null; then
        echo "$(basename "$0"): Xvfb did not start: $(cat "$XSESSION_DIR/xvfb.log")" >&2
        return 1
    fi
    DISPLAY=":$(xsession_listening_display)"
    export DISPLAY
}

# The display number Xvfb reported, once its socket exists.
xsession_listening_display() {
    local display
    display=$(head -n1 "$XSESSION_DIR/display" 2>/dev/null) && [ -n "$display" ] &&
        [ -S "/tmp/.X11-unix/X$display" ] && echo "$display"
}

# Starts trayer as the tray host, by default a panel along the top right; arguments replace
# the default layout.
# shellcheck disable=SC2120 # the arguments are optional
# Starts the accessibility bus on the session bus and waits until it answers; Qt's bridge and
# pyatspi find it there.
xsession_accessibility_bus() {
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1
}
xsession_start_accessibility_bus() {
    /usr/libexec/at-spi-bus-launcher --launch-immediately 2>"$XSESSION_DIR/atspi.log" &
    xsession_track $!
    if ! xsession_wait_for xsession_accessibility_bus; then
        echo "$(basename "$0"): the accessibility bus did not start: $(cat "$XSESSION_DIR/atspi.log")" >&2
        return 1
    fi
}

xsession_start_trayer() { # [TRAYER-ARGUMENT...]
    local layout=(--edge top --align right --widthtype request --height 24 --transparent false)
    (($#)) && layout=("$@")
    trayer "${layout[@]}" --SetDockType true --SetPartialStrut true >"$XSESSION_DIR/trayer.log" 2>&1 &
    XSESSION_TRAYER_PID=$!
    xsession_track "$XSESSION_TRAYER_PID"
    xsession_wait_for xdotool search --class trayer >/dev/null 2>&1 || {
        echo "$(basename "$0"): the tray host did not start" >&2
        return 1
    }
}

# Starts the app in normal mode into the tray, with a scratch autostart folder; its output goes
# to $XSESSION_DIR/app.log and its pid to XSESSION_APP_PID. Without a session bus Qt embeds the
# icon in trayer (XEmbed) instead of looking for a StatusNotifierItem host.
xsession_start_tray_app() { # BINARY [VARIABLE=VALUE...]
    local binary=$1
    shift
    env -u DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$XSESSION_DIR/config" "$@" "$binary" \
        >"$XSESSION_DIR/app.log" 2>&1 &
    XSESSION_APP_PID=$!
    xsession_track "$XSESSION_APP_PID"
}

# Starts the app in normal mode on the caller's session bus, where it may find a
# StatusNotifierItem host, with its tray and popup debug output on and the app's options after
# "--"; otherwise as above.
xsession_start_app_on_bus() { # BINARY [VARIABLE=VALUE...] [-- OPTION...]
    local binary=$1 variables=()
    shift
    while (($#)) && [ "$1" != -- ]; do
        variables+=("$1")
        shift
    done
    (($#)) && shift
    env QT_QPA_PLATFORM=xcb QT_LOGGING_RULES='quaystone.*.debug=true' XDG_CONFIG_HOME="$XSESSION_DIR/config" \
        "${variables[@]}" "$binary" "$@" >"$XSESSION_DIR/app.log" 2>&1 &
    XSESSION_APP_PID=$!
    xsession_track "$XSESSION_APP_PID"
}

# Ends one tracked process and waits for it.
xsession_stop() { # PID
    kill -TERM "$1" 2>/dev/null
    wait "$1" 2>/dev/null
    return 0
}

# True when the python3-gi the StatusNotifierItem helper needs is there; says why not otherwise.
xsession_require_sni() {
    "$XSESSION_PYTHON" -c 'import gi; gi.require_version("Gio", "2.0"); from gi.repository import Gio' 2>/dev/null && return 0
    echo "$(basename "$0"): python3-gi is not installed (scripts/install-deps.sh installs it)" >&2
    return 1
}

xsession_sni() { "$XSESSION_PYTHON" "$XSESSION_SNI" "$@"; }

# Starts the minimal StatusNotifierWatcher, which also says that a host is registered, and waits
# until it owns its name; its output (one line per registered item) goes to
# $XSESSION_DIR/watcher.log, new for each start.
xsession_start_sni_watcher() {
    "$XSESSION_PYTHON" "$XSESSION_SNI" watch >"$XSESSION_DIR/watcher.log" 2>&1 &
    XSESSION_WATCHER_PID=$!
    xsession_track "$XSESSION_WATCHER_PID"
    xsession_wait_for grep -q '^watcher ready' "$XSESSION_DIR/watcher.log" || {
        echo "$(basename "$0"): the StatusNotifierWatcher did not start: $(cat "$XSESSION_DIR/watcher.log")" >&2
        return 1
    }
}

# Prints the bus name of the item the running watcher saw registered last.
xsession_sni_item() {
    awk '$1 == "registered" { name = $2 } END { if (name == "") exit 1; print name }' "$XSESSION_DIR/watcher.log"
}

# Prints the first visible window that xdotool search finds with these arguments.
xsession_window() { # XDOTOOL-SEARCH-ARGUMENT...
    xdotool search --onlyvisible "$@" 2>/dev/null | head -n1 | grep .
}

# Waits for such a window and prints it.
xsession_wait_window() { # XDOTOOL-SEARCH-ARGUMENT...
    xsession_wait_for xsession_window "$@" >/dev/null && xsession_window "$@"
}

# Prints the app's tray icon, or its menu where it has no icon window (StatusNotifierItem): its
# visible window that is not the popup.
xsession_tray_icon() {
    local id
    for id in $(xdotool search --onlyvisible --class quaystone 2>/dev/null); do
        [[ "$(xdotool getwindowname "$id")" =~ $XSESSION_POPUP_TITLE ]] && continue
        echo "$id"
        return 0
    done
    return 1
}

xsession_popup() { xsession_window --name "$XSESSION_POPUP_TITLE"; }
xsession_app_menu() { xsession_tray_icon; }
xsession_no_popup() { ! xsession_popup >/dev/null; }

# Clicks the middle of a window.
xsession_click_window() { # WINDOW
    # shellcheck disable=SC2034 # all that --shell sets, kept local
    local WINDOW X Y WIDTH HEIGHT SCREEN
    eval "$(xdotool getwindowgeometry --shell "$1")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
}
