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
XSESSION_UNDO=()
XSESSION_LIB=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# The tray host side of StatusNotifierItem (a minimal watcher, and a host's calls on an item).
XSESSION_SNI=$XSESSION_LIB/sni.py
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

# Ends every tracked process (TERM, up to two seconds' grace, then KILL), then undoes what
# xsession_undo was told, latest first. Keeps the exit status.
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
    for undo in "${XSESSION_UNDO[@]}"; do
        eval "$undo" >/dev/null 2>&1 || true
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

# Prints X Y WIDTH HEIGHT of the popup once it shows.
xsession_popup_geometry() {
    # shellcheck disable=SC2034 # all that --shell sets, kept local
    local popup WINDOW X Y WIDTH HEIGHT SCREEN
    popup=$(xsession_wait_window --name "$XSESSION_POPUP_TITLE") || return 1
    eval "$(xdotool getwindowgeometry --shell "$popup")"
    echo "$X $Y $WIDTH $HEIGHT"
}

# Presses Escape and waits until the popup has gone.
xsession_close_popup() {
    xdotool key Escape
    xsession_wait_for xsession_no_popup
}

# Prints the app's tray icon once trayer, not the root window, holds it.
xsession_embedded_icon() {
    local icon parent
    icon=$(xsession_tray_icon) || return 1
    parent=$(xwininfo -children -id "$icon" 2>/dev/null | awk '/Parent window id:/ { print $4 }')
    [ -n "$parent" ] && [ "$parent" != "$(xwininfo -root | awk '/Window id:/ { print $4 }')" ] || return 1
    echo "$icon"
}

# True while the app shows a window besides its tray icon (ICON) and its popup: its menu.
xsession_menu_open() { # ICON
    local id
    for id in $(xdotool search --onlyvisible --class quaystone 2>/dev/null); do
        [ "$id" = "$1" ] || [[ "$(xdotool getwindowname "$id")" =~ $XSESSION_POPUP_TITLE ]] || return 0
    done
    return 1
}

# Starts weston on its X11 backend in the running Xvfb (whose keys it hands to the focused
# Wayland surface) with its socket WAYLAND_DISPLAY in a private XDG_RUNTIME_DIR, and gives its
# window the focus; skips where weston cannot start.
xsession_start_weston() {
    export XDG_RUNTIME_DIR=$XSESSION_DIR/runtime WAYLAND_DISPLAY=quaystone-test
    mkdir -m 0700 "$XDG_RUNTIME_DIR"
    weston --backend=x11-backend.so --use-pixman --width=1024 --height=768 --socket="$WAYLAND_DISPLAY" --idle-time=0 \
        --no-config >"$XSESSION_DIR/weston.log" 2>&1 &
    xsession_track $!
    xsession_wait_for test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ||
        xsession_skip "weston did not start, so nothing here can run: $(cat "$XSESSION_DIR/weston.log")"
    # xdotool's search misses weston's window (it names it through _NET_WM_NAME only).
    xsession_wait_for xsession_weston_window >/dev/null || return 1
    xdotool windowfocus --sync "$(xsession_weston_window)" mousemove --window "$(xsession_weston_window)" 900 700
}
xsession_weston_window() {
    xwininfo -root -children | awk '/"Weston Compositor/ { print $1; found = 1; exit } END { exit !found }'
}

# Clicks the middle of a window.
xsession_click_window() { # WINDOW
    # shellcheck disable=SC2034 # all that --shell sets, kept local
    local WINDOW X Y WIDTH HEIGHT SCREEN
    eval "$(xdotool getwindowgeometry --shell "$1")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
}

# --- the system side: what tests as root set up, all undone at exit ------------------------

# Says why the test cannot run here and exits 77 (skipped).
xsession_skip() {
    echo "$(basename "$0"): SKIP: $*"
    exit 77
}

# Runs the command at exit, after the tracked processes have ended; the latest first.
xsession_undo() { XSESSION_UNDO=("$(printf '%q ' "$@")" "${XSESSION_UNDO[@]}"); }

# Puts FILE at DEST until exit, when what DEST held before comes back.
xsession_install() { # FILE DEST
    local backup=$XSESSION_DIR/backup.${#XSESSION_UNDO[@]}
    if [ -e "$2" ]; then
        cp -p "$2" "$backup"
        xsession_undo mv -f "$backup" "$2"
    else
        xsession_undo rm -f "$2"
    fi
    cp "$1" "$2"
}

# A system user without a home, removed at exit.
xsession_add_user() { # NAME
    useradd --system --no-create-home --shell /usr/sbin/nologin "$1" && xsession_undo userdel "$1"
}

# Starts listen.py (a listener on a free port in range) directly or under a prefix such as
# setpriv; sets XSESSION_PORT and XSESSION_LISTENER_PID. It listens until exit.
# shellcheck disable=SC2034 # XSESSION_PORT and XSESSION_LISTENER_PID are the caller's
xsession_listen() { # [PREFIX...]; listen.py's options in XSESSION_LISTEN_ARGS (default 6)
    local out=$XSESSION_DIR/port.${#XSESSION_PIDS[@]}
    # shellcheck disable=SC2086 # options, split on purpose
    "$@" /usr/bin/python3 -c "$(cat "$XSESSION_LIB/listen.py")" ${XSESSION_LISTEN_ARGS:-6} >"$out" &
    XSESSION_LISTENER_PID=$!
    xsession_track $!
    xsession_wait_for test -s "$out" && XSESSION_PORT=$(cat "$out")
}

xsession_polkit_authority() {
    dbus-send --system --print-reply --dest=org.freedesktop.PolicyKit1 /org/freedesktop/PolicyKit1/Authority \
        org.freedesktop.DBus.Properties.Get string:org.freedesktop.PolicyKit1.Authority string:BackendName \
        >/dev/null 2>&1
}

# The system bus and polkitd, each started (and ended at exit) where none runs; skips where they
# cannot run.
xsession_start_polkitd() {
    local bus
    if [ ! -S /run/dbus/system_bus_socket ]; then
        mkdir -p /run/dbus
        # A pid file without a socket is left from a bus that died; dbus-daemon refuses to start over it.
        rm -f /run/dbus/pid
        bus=$(dbus-daemon --system --fork --print-pid 2>"$XSESSION_DIR/bus.log") ||
            xsession_skip "the system bus could not start: $(cat "$XSESSION_DIR/bus.log")"
        xsession_track "$bus"
        xsession_undo rm -f /run/dbus/system_bus_socket /run/dbus/pid
    fi
    # Asked whether the authority has an owner, the bus answers without starting polkitd itself,
    # which would leave a daemon behind that this test does not know of.
    dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.PolicyKit1 2>/dev/null | grep -q 'boolean true' &&
        return 0
    /usr/lib/polkit-1/polkitd --no-debug >"$XSESSION_DIR/polkitd.log" 2>&1 &
    xsession_track $!
    xsession_wait_for xsession_polkit_authority ||
        xsession_skip "polkitd could not run: $(tail -3 "$XSESSION_DIR/polkitd.log")"
}

# A private Docker daemon as root (its own data root, exec root, socket and bridge; no iptables
# rules), ended and cleaned away at exit with everything it leaves in /etc, /run and the network;
# skips where it cannot start. Sets XSESSION_DOCKER (the client on its socket) and
# XSESSION_DOCKER_SOCKET.
xsession_start_dockerd() {
    local dir=$XSESSION_DIR/docker bridge=qsbr$$ subnet='' third client=/usr/bin/docker
    [ -x "$client" ] || client=$(command -v docker) || xsession_skip "the docker client is missing"
    # The bridge and the files in /etc and /run are shared by every daemon: one run at a time.
    exec 9>/tmp/quaystone-container-engine.lock
    flock -w 200 9 || xsession_skip "another private dockerd holds the lock"
    XSESSION_DOCKER_SOCKET=$dir/docker.sock
    XSESSION_DOCKER=("$client" -H "unix://$XSESSION_DOCKER_SOCKET")
    [ -e /etc/docker/key.json ] || xsession_undo rm -f /etc/docker/key.json
    [ -e /var/run/docker ] || xsession_undo rm -rf /var/run/docker
    [ -e /run/containerd ] || xsession_undo rm -rf /run/containerd
    ip link show docker0 >/dev/null 2>&1 || xsession_undo ip link del docker0
    iptables -S 2>/dev/null | grep -q -- '-N DOCKER' || xsession_undo xsession_remove_docker_rules "${bridge:0:15}"
    xsession_undo xsession_stop_dockerd "$dir" "${bridge:0:15}"
    # A private bridge on a /24 that no route uses yet.
    for third in $(seq $(($$ % 200 + 20)) 250) $(seq 20 250); do
        ip route | grep -q "^10\.213\.$third\." || { subnet=10.213.$third && break; }
    done
    [ -n "$subnet" ] || xsession_skip "no free private subnet for the bridge"
    ip link add "${bridge:0:15}" type bridge 2>/dev/null || xsession_skip "cannot create a network bridge here"
    ip addr add "$subnet.1/24" dev "${bridge:0:15}" && ip link set "${bridge:0:15}" up ||
        xsession_skip "cannot configure the bridge"
    mkdir -p "$dir/data" "$dir/exec"
    dockerd --storage-driver=vfs --data-root="$dir/data" --exec-root="$dir/exec" --pidfile="$dir/dockerd.pid" \
        -H "unix://$XSESSION_DOCKER_SOCKET" --bridge="${bridge:0:15}" --iptables=false --ip-forward=false \
        --ip-masq=false >"$XSESSION_DIR/dockerd.log" 2>&1 &
    XSESSION_WAIT_SECONDS=30 xsession_wait_for "${XSESSION_DOCKER[@]}" version >/dev/null 2>&1 ||
        xsession_skip "the private dockerd did not start: $(tail -n 15 "$XSESSION_DIR/dockerd.log")"
}

xsession_stop_dockerd() { # DIR BRIDGE
    local pid cmdline
    [ -f "$1/dockerd.pid" ] && pid=$(cat "$1/dockerd.pid") && kill -TERM "$pid" 2>/dev/null &&
        XSESSION_WAIT_SECONDS=20 xsession_wait_for eval "[ ! -e /proc/$pid ]"
    [ -n "${pid:-}" ] && kill -KILL "$pid" 2>/dev/null
    # The daemon's containerd and shims, known by the private directory on their command lines.
    for cmdline in /proc/[0-9]*/cmdline; do
        [[ $(tr '\0' ' ' <"$cmdline" 2>/dev/null) == *"$1/"* ]] && pid=${cmdline#/proc/} && kill -KILL "${pid%/cmdline}"
    done 2>/dev/null
    sleep 0.5
    grep -F -- " $1/" /proc/mounts | awk '{print $2}' | sort -r | xargs -r -n1 umount -l 2>/dev/null
    ip link del "$2" 2>/dev/null
}

# Rules a daemon with iptables would have added, where there were none before.
xsession_remove_docker_rules() { # BRIDGE
    local table rule chain
    for table in filter nat; do
        iptables -t "$table" -S 2>/dev/null | grep -E -- '^-A .*(DOCKER|docker0|'"$1"')' | sed 's/^-A/-D/' |
            while read -r rule; do eval "iptables -t $table $rule" 2>/dev/null; done
        for chain in $(iptables -t "$table" -S 2>/dev/null | awk '/^-N DOCKER/ {print $2}'); do
            iptables -t "$table" -F "$chain" 2>/dev/null
            iptables -t "$table" -X "$chain" 2>/dev/null
        done
    done
}
