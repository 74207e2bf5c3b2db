#!/usr/bin/env bash
# End to end against a real systemd: the machine's own root, booted with systemd-nspawn through a
# throw-away overlay (the real / as the read-only lower layer, a tmpfs above it), with its own
# machine-id and network. Inside: a Restart=always system service of a system user, a user
# service of a lingering test user, and a socket unit whose port systemd holds. `quaystone
# --list --json` names each port's unit; `quaystone --stop PORT` stops each unit for good, the
# system ones only once a polkit rule allows the test user.
#
# Usage: systemd_units.sh QUAYSTONE
# Runs as root; exits 77 (skipped) where nspawn cannot boot a machine here.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/lib/xsession.sh
source "$here/../../scripts/lib/xsession.sh"

quaystone=$(realpath "$1")
build=$(dirname "$(dirname "$(dirname "$quaystone")")")
daemon_port=4301 user_port=4302 socket_port=4303
python=$XSESSION_PYTHON

[ "$(id -u)" -eq 0 ] || xsession_skip "needs root, to boot a container with systemd-nspawn"
xsession_require systemd-nspawn nsenter "$python" || exit 77
fail() { XSESSION_FAIL_LOGS=boot xsession_fail "$@"; }
xsession_init
work=$XSESSION_DIR
nspawn_pid=''
# nspawn powers the machine off on TERM: given its time, before the overlay goes.
stop_machine() {
    kill -TERM "$nspawn_pid"
    for _ in $(seq 100); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$nspawn_pid"
    wait "$nspawn_pid"
}

# --- the machine: / under a tmpfs overlay -----------------------------------------------------
mkdir "$work/layers"
mount -t tmpfs tmpfs "$work/layers" || xsession_skip "cannot mount a tmpfs here"
xsession_undo umount "$work/layers"
mkdir "$work/layers/upper" "$work/layers/work" "$work/layers/root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$work/layers/upper,workdir=$work/layers/work" \
    "$work/layers/root" || xsession_skip "cannot mount an overlay of / here"
xsession_undo umount "$work/layers/root"
root=$work/layers/root
in_root() { chroot "$root" "$@"; }

cat /proc/sys/kernel/random/uuid | tr -d - >"$root/etc/machine-id"
in_root useradd --system --no-create-home qs-daemon
in_root useradd --create-home qs-user
uid=$(in_root id -u qs-user)
mkdir -p "$root/var/lib/systemd/linger" && touch "$root/var/lib/systemd/linger/qs-user"

listener=/usr/local/bin/qs-listen
cat >"$root$listener" <<EOF
#!$python
import socket, sys, time
s = socket.create_server(("127.0.0.1", int(sys.argv[1])))
time.sleep(3600)
EOF
chmod 755 "$root$listener"
units=$root/etc/systemd/system
cat >"$units/qs-daemon.service" <<EOF
[Service]
User=qs-daemon
Restart=always
RestartSec=200ms
ExecStart=$listener $daemon_port
EOF
cat >"$units/qs-echo.socket" <<EOF
[Socket]
ListenStream=127.0.0.1:$socket_port
EOF
cat >"$units/qs-echo.service" <<EOF
[Service]
ExecStart=/bin/sleep 3600
EOF
user_units=$root/home/qs-user/.config/systemd/user
mkdir -p "$user_units/default.target.wants"
cat >"$user_units/devserver.service" <<EOF
[Service]
ExecStart=$listener $user_port
[Install]
WantedBy=default.target
EOF
ln -s ../devserver.service "$user_units/default.target.wants/devserver.service"
in_root chown -R qs-user: /home/qs-user/.config

systemd-nspawn --quiet --boot --directory="$root" --register=no --keep-unit --private-network \
    --bind-ro="$build" --machine="qs-$$" systemd.unit=basic.target >"$work/boot.log" 2>&1 </dev/null &
nspawn_pid=$!
xsession_undo stop_machine
init=''
for _ in $(seq 100); do
    # nspawn's own short-lived child comes first: the machine's init is the child that runs systemd.
    init=$(ps -o pid=,comm= --ppid "$nspawn_pid" | awk '$2 == "systemd" { print $1; exit }') || true
    [ -n "$init" ] && break
    kill -0 "$nspawn_pid" 2>/dev/null || break
    sleep 0.1
done
[ -n "$init" ] || xsession_skip "systemd-nspawn cannot boot a machine here: $(tail -n 5 "$work/boot.log")"
inside() { nsenter -t "$init" -a "$@"; }
as_user() {
    inside setpriv --reuid=qs-user --regid=qs-user --init-groups env -i PATH=/usr/bin:/bin HOME=/home/qs-user \
        XDG_RUNTIME_DIR="/run/user/$uid" DBUS_SESSION_BUS_ADDRESS="unix:path=/run/user/$uid/bus" "$@"
}
for _ in $(seq 300); do
    state=$(inside systemctl is-system-running 2>/dev/null) || true
    case $state in running | degraded) break ;; esac
    sleep 0.1
done
case $state in running | degraded) ;; *) fail "the machine did not come up ($state): $(tail -n 20 "$work/boot.log")" ;; esac
inside systemctl start dbus.service systemd-logind.service qs-daemon.service qs-echo.socket "user@$uid.service"

listening() { inside "$python" -c "import socket, sys
s = socket.socket()
sys.exit(0 if s.connect_ex(('127.0.0.1', int(sys.argv[1]))) == 0 else 1)" "$1"; }
# A port that a listener takes in time, or that stays free for 5 s.
await_listening() {
    for _ in $(seq 100); do listening "$1" && return 0; sleep 0.1; done
    fail "nothing listens on $1"
}
stays_free() {
    for _ in $(seq 50); do listening "$1" && fail "port $1 is taken again: $2"; sleep 0.1; done
}
for port in $daemon_port $user_port $socket_port; do await_listening $port; done
# That connection started qs-echo.service, which now holds the socket beside systemd.
for _ in $(seq 100); do [ "$(inside systemctl is-active qs-echo.service)" = active ] && break; sleep 0.1; done

# --- the rows, named by their units -------------------------------------------------------
check_units() { # who json expected...
    local who=$1 json=$2
    shift 2
    "$python" - "$json" "$@" <<'EOF' || fail "$who: rows not named by their units: $json"
import json, sys
rows = json.loads(sys.argv[1])
for expectation in sys.argv[2:]:
    port, unit, scope = expectation.split(":")
    services = [row["service"] for row in rows if row["port"] == int(port)]
    if {"unit": unit, "scope": scope} not in services:
        sys.exit(f"port {port}: {services!r}, expected {unit} ({scope})")
EOF
}
user_json=$(as_user "$quaystone" --list --json) || fail "--list --json as the test user failed"
check_units "the test user" "$user_json" "$daemon_port:qs-daemon.service:system" \
    "$user_port:devserver.service:user" "$socket_port:qs-echo.socket:system"
root_json=$(inside "$quaystone" --list --json) || fail "--list --json as root failed"
check_units root "$root_json" "$daemon_port:qs-daemon.service:system" "$user_port:devserver.service:user" \
    "$socket_port:qs-echo.socket:system" "$socket_port:qs-echo.service:system"
inside "$quaystone" --list | grep -E "^$daemon_port .* qs-daemon\.service " >/dev/null ||
    fail "--list shows no unit column: $(inside "$quaystone" --list)"

# --- stopping: the user's own unit needs no authorization ----------------------------------
inactive() {
    [ "$(inside systemctl "${@:2}" is-active "$1" 2>/dev/null)" = inactive ] || fail "$1 is not inactive after its stop"
}
as_user "$quaystone" --stop $user_port >"$work/out" 2>&1 || fail "--stop $user_port: $(cat "$work/out")"
[ "$(as_user systemctl --user is-active devserver.service)" = inactive ] || fail "devserver.service still runs"
stays_free $user_port "devserver.service"

# The stop-port helper leaves a system service's process to a stop of its unit.
helper=$build/src/helper/quaystone-stop-port
if [ -x "$helper" ]; then
    daemon_pid=$(inside systemctl show --property=MainPID --value qs-daemon.service)
    status=0
    inside "$helper" $daemon_port "$(in_root id -u qs-daemon)" >"$work/out" 2>&1 || status=$?
    [ $status -ne 0 ] && grep -q "stop the unit instead" "$work/out" ||
        fail "the helper on a system service's port: exit $status, $(cat "$work/out")"
    [ "$(inside systemctl show --property=MainPID --value qs-daemon.service)" = "$daemon_pid" ] ||
        fail "the helper signalled qs-daemon.service's process"
fi

# A system unit: refused without a rule, stopped with one.
status=0
as_user "$quaystone" --stop $daemon_port >"$work/out" 2>&1 || status=$?
[ $status -eq 4 ] && grep -q "Not authorized" "$work/out" ||
    fail "--stop $daemon_port without a rule: exit $status, $(cat "$work/out")"
[ "$(inside systemctl is-active qs-daemon.service)" = active ] || fail "qs-daemon.service stopped without a rule"

cat >"$root/etc/polkit-1/rules.d/50-qs-user.rules" <<'EOF'
polkit.addRule(function(action, subject) {
    if (action.id == "org.freedesktop.systemd1.manage-units" && subject.user == "qs-user")
        return polkit.Result.YES;
});
EOF
sleep 1 # polkitd reloads its rules when the folder changes
for port in $daemon_port $socket_port; do
    as_user "$quaystone" --stop $port >"$work/out" 2>&1 || fail "--stop $port with the rule: $(cat "$work/out")"
done
inactive qs-daemon.service
inactive qs-echo.socket
inactive qs-echo.service
stays_free $daemon_port "qs-daemon.service came back"
stays_free $socket_port "qs-echo.socket listens again"
echo "PASS: units named and stopped through systemd"
