#!/usr/bin/env bash
# End to end through a real system bus, polkitd and pkexec: a test user stops root's listener
# with `quaystone --stop PORT`, allowed by a polkit rule without a password; without the rule
# the same command is not authorized and the listener lives on.
#
# Usage: admin_stop_polkit.sh QUAYSTONE HELPER POLICY
# Runs as root. Starts the system bus and polkitd if none runs, and takes down, removes or
# restores everything it set up, however it ends. Exits 77 (skipped) where that cannot be done.
set -euo pipefail

quaystone=$1 helper=$2 policy=$3
action_id=io.github.quaystone.stop-port
action_file=/usr/share/polkit-1/actions/$action_id.policy
rule_file=/etc/polkit-1/rules.d/10-quaystone-e2e-$$.rules
user=qs-e2e-$$
polkitd=/usr/lib/polkit-1/polkitd
python=/usr/bin/python3

skip() {
    echo "SKIP: $*"
    exit 77
}

[ "$(id -u)" -eq 0 ] || skip "needs root, to run polkitd and add a test user"
for tool in /usr/bin/pkexec "$polkitd" /usr/bin/pkcheck dbus-daemon dbus-send setpriv useradd userdel "$python"; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done

bus_pid='' polkitd_pid='' listeners=() action_backup='' work=''
cleanup() {
    set +e
    for pid in "${listeners[@]}"; do { kill -KILL "$pid" && wait "$pid"; } 2>/dev/null; done
    rm -f "$rule_file"
    if [ -n "$action_backup" ]; then
        mv -f "$action_backup" "$action_file"
    else
        rm -f "$action_file"
    fi
    [ -n "$polkitd_pid" ] && kill "$polkitd_pid" 2>/dev/null && wait "$polkitd_pid" 2>/dev/null
    if [ -n "$bus_pid" ]; then
        kill "$bus_pid" 2>/dev/null
        rm -f /run/dbus/system_bus_socket /run/dbus/pid
    fi
    id "$user" >/dev/null 2>&1 && userdel "$user"
    [ -n "$work" ] && rm -rf "$work"
}
trap cleanup EXIT

work=$(mktemp -d)
chmod 755 "$work"

# --- the system bus and polkitd -----------------------------------------------------------
if [ ! -S /run/dbus/system_bus_socket ]; then
    mkdir -p /run/dbus
    # A pid file without a socket is left from a bus that died; dbus-daemon refuses to start over it.
    rm -f /run/dbus/pid
    bus_pid=$(dbus-daemon --system --fork --print-pid 2>"$work/bus.log") ||
        skip "the system bus could not start: $(cat "$work/bus.log")"
fi
authority_ready() {
    dbus-send --system --print-reply --dest=org.freedesktop.PolicyKit1 /org/freedesktop/PolicyKit1/Authority \
        org.freedesktop.DBus.Properties.Get string:org.freedesktop.PolicyKit1.Authority string:BackendName \
        >/dev/null 2>&1
}
# Asked whether the authority has an owner, the bus answers without starting polkitd itself,
# which would leave a daemon behind that this test does not know of.
authority_owned() {
    dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.PolicyKit1 2>/dev/null | grep -q 'boolean true'
}
if ! authority_owned; then
    "$polkitd" --no-debug >"$work/polkitd.log" 2>&1 &
    polkitd_pid=$!
    for _ in $(seq 100); do
        authority_ready && break
        kill -0 "$polkitd_pid" 2>/dev/null || break
        sleep 0.1
    done
    authority_ready || skip "polkitd could not run: $(tail -3 "$work/polkitd.log")"
fi

# --- the action, for the helper under test, and the test user ------------------------------
if [ -e "$action_file" ]; then
    action_backup=$work/action-backup.policy
    cp -p "$action_file" "$action_backup"
fi
sed "s|<annotate key=\"org.freedesktop.policykit.exec.path\">[^<]*<|<annotate key=\"org.freedesktop.policykit.exec.path\">$helper<|" \
    "$policy" >"$action_file"
useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
uid=$(id -u "$user")

# The test user runs its own copy of the app, which it can reach whatever the build tree's modes.
cp "$quaystone" "$work/quaystone"
chmod 755 "$work/quaystone"

as_user() {
    setpriv --reuid="$user" --regid="$user" --init-groups \
        env -i PATH=/usr/bin:/bin QUAYSTONE_STOP_PORT_HELPER="$helper" "$@" </dev/null
}

# polkitd reads rules and actions again when their folders change; wait until it says so.
# The rule's answer, "yes" or "no", for a process of the test user.
authorization_is() {
    local want=$1
    for _ in $(seq 100); do
        # pkcheck asks about itself: a process of the test user.
        if as_user /bin/sh -c 'exec pkcheck --action-id "$0" --process $$' "$action_id" >/dev/null 2>&1; then
            got=yes
        else
            got=no
        fi
        [ "$got" = "$want" ] && return 0
        sleep 0.1
    done
    echo "FAIL: polkit never answered '$want' for $user"
    return 1
}

# --- a listener of root on a free port in the watched range -------------------------------
# With main_exits set, its main thread ends while another keeps the process.
start_listener() {
    "$@" "$python" -c '
import ctypes, os, random, socket, sys, threading, time
for _ in range(200):
    s = socket.socket(socket.AF_INET6)
    try:
        s.bind(("::", random.randint(3000, 9999)))
    except OSError:
        s.close()
        continue
    s.listen()
    if sys.argv[1:]:
        # Ready once the kernel shows the main thread as exited.
        def hold(stat="/proc/%d/stat" % os.getpid()):
            while open(stat).read().rsplit(")", 1)[1].split()[0] != "Z":
                time.sleep(0.01)
            print(s.getsockname()[1], flush=True)
            time.sleep(600)
        threading.Thread(target=hold).start()
        ctypes.CDLL(None).pthread_exit(None)
    print(s.getsockname()[1], flush=True)
    time.sleep(600)
sys.exit(1)' ${main_exits:+main-exits} >"$work/port" &
    listeners+=($!)
    listener=$!
    for _ in $(seq 50); do
        [ -s "$work/port" ] && break
        sleep 0.1
    done
    port=$(cat "$work/port")
    [ -n "$port" ] || { echo "FAIL: no listener started"; exit 1; }
}

status=0
run_stop() {
    set +e
    as_user "$work/quaystone" --stop "$port" >"$work/out" 2>"$work/err"
    status=$?
    set -e
    echo "quaystone --stop $port as $user exited $status"
    sed 's/^/  stdout: /' "$work/out"
    sed 's/^/  stderr: /' "$work/err"
}

# 1. Allowed by a rule, without a password: root's listener is stopped and the port is free.
cat >"$rule_file" <<EOF
polkit.addRule(function(action, subject) {
    if (action.id == "$action_id" && subject.user == "$user")
        return polkit.Result.YES;
});
EOF
chmod 644 "$rule_file"
authorization_is yes
start_listener
run_stop
[ "$status" -eq 0 ] || { echo "FAIL: expected exit 0 (stopped)"; exit 1; }
grep -qx "Stopped python3 (pid $listener) on port $port" "$work/out" || { echo "FAIL: no report of the stop"; exit 1; }
for _ in $(seq 20); do
    kill -0 "$listener" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$listener" 2>/dev/null && [ "$(ps -o stat= -p "$listener" | cut -c1)" != Z ]; then
    echo "FAIL: root's listener $listener still runs"
    exit 1
fi
wait "$listener" 2>/dev/null || true
if grep -qi ":$(printf '%04X' "$port") .* 0A " /proc/net/tcp /proc/net/tcp6; then
    echo "FAIL: port $port still has a listener"
    exit 1
fi
echo "ok: root's listener on port $port was stopped by $user (uid $uid) through polkit"
run_stop
[ "$status" -eq 3 ] || { echo "FAIL: expected exit 3 (nothing listens)"; exit 1; }

# 2. Without the rule, no agent can ask for a password: not authorized, and nothing is stopped.
rm -f "$rule_file"
authorization_is no
rm -f "$work/port"
start_listener
run_stop
[ "$status" -eq 4 ] || { echo "FAIL: expected exit 4 (not authorized)"; exit 1; }
grep -q "Not authorized" "$work/err" || { echo "FAIL: no 'Not authorized' message"; exit 1; }
kill -0 "$listener" 2>/dev/null || { echo "FAIL: the listener was stopped without authorization"; exit 1; }
echo "ok: without the rule the stop was not authorized and the listener on port $port lives"

# 3. The test user's own listener needs no authorization: it is stopped directly.
rm -f "$work/port"
start_listener as_user
run_stop
[ "$status" -eq 0 ] || { echo "FAIL: expected exit 0 (the user's own listener stopped)"; exit 1; }
grep -qx "Stopped python3 (pid [0-9]*) on port $port" "$work/out" || { echo "FAIL: no report of the stop"; exit 1; }
echo "ok: $user stopped its own listener on port $port without polkit"

# 4. Also one whose main thread has exited, whose descriptors only its other threads show.
rm -f "$work/port"
main_exits=1 start_listener as_user
run_stop
[ "$status" -eq 0 ] || { echo "FAIL: expected exit 0 (the user's own listener stopped)"; exit 1; }
echo "ok: $user stopped its own listener on port $port whose main thread had exited"
