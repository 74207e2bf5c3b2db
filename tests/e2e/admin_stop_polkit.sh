#!/usr/bin/env bash
# End to end through a real system bus, polkitd and pkexec: a test user stops root's listener
# with `quaystone --stop PORT`, allowed by a polkit rule without a password; without the rule
# the same command is not authorized and the listener lives on; the user's own listener needs no
# rule. As root; the harness starts what is missing and undoes everything at exit.
# Usage: admin_stop_polkit.sh QUAYSTONE HELPER POLICY
set -uo pipefail
# shellcheck source=scripts/lib/xsession.sh
source "$(dirname "$0")/../../scripts/lib/xsession.sh"

quaystone=$1 helper=$2 policy=$3 action=io.github.quaystone.stop-port user=qs-e2e-$$
[ "$(id -u)" -eq 0 ] || xsession_skip "needs root, to run polkitd and add a test user"
xsession_require pkexec /usr/lib/polkit-1/polkitd pkcheck dbus-daemon dbus-send setpriv useradd python3 || exit 77
fail() { XSESSION_FAIL_LOGS="out err polkitd" xsession_fail "$@"; }

xsession_init
xsession_start_polkitd
sed "s|\(<annotate key=\"org.freedesktop.policykit.exec.path\">\)[^<]*<|\1$helper<|" "$policy" >"$XSESSION_DIR/policy"
xsession_install "$XSESSION_DIR/policy" "/usr/share/polkit-1/actions/$action.policy"
xsession_add_user "$user" || fail "no test user"
# The test user runs its own copy of the app, which it can reach whatever the build tree's modes.
chmod 755 "$XSESSION_DIR"
install -m 755 "$quaystone" "$XSESSION_DIR/quaystone"
as_user() { setpriv --reuid="$user" --regid="$user" --init-groups env -i PATH=/usr/bin:/bin "$@" </dev/null; }

# polkitd reads rules again when their folder changes: waits until a process of the test user
# (pkcheck asking about itself) gets the answer.
authorized() { as_user /bin/sh -c 'exec pkcheck --action-id "$0" --process $$' "$action" >/dev/null 2>&1; }
run_stop() { # STATUS
    as_user QUAYSTONE_STOP_PORT_HELPER="$helper" "$XSESSION_DIR/quaystone" --stop "$XSESSION_PORT" \
        >"$XSESSION_DIR/out.log" 2>"$XSESSION_DIR/err.log"
    local status=$?
    ((status == $1)) || fail "quaystone --stop $XSESSION_PORT as $user exited $status, expected $1"
}

# 1. Allowed by a rule, without a password: root's listener is stopped and the port is free.
rule=/etc/polkit-1/rules.d/10-quaystone-e2e-$$.rules
xsession_undo rm -f "$rule"
cat >"$rule" <<EOF
polkit.addRule(function(action, subject) {
    if (action.id == "$action" && subject.user == "$user")
        return polkit.Result.YES;
});
EOF
xsession_wait_for authorized || fail "polkit never allowed $user"
xsession_listen || fail "no listener started"
run_stop 0
grep -qx "Stopped python3 (pid $XSESSION_LISTENER_PID) on port $XSESSION_PORT" "$XSESSION_DIR/out.log" ||
    fail "no report of the stop"
gone() { ! kill -0 "$1" 2>/dev/null || [ "$(ps -o stat= -p "$1" | cut -c1)" = Z ]; }
xsession_wait_for gone "$XSESSION_LISTENER_PID" || fail "root's listener still runs"
if grep -qi ":$(printf '%04X' "$XSESSION_PORT") .* 0A " /proc/net/tcp /proc/net/tcp6; then
    fail "port $XSESSION_PORT still has a listener"
fi
echo "ok: root's listener on port $XSESSION_PORT was stopped by $user through polkit"
run_stop 3 # nothing listens any more

# 2. Without the rule, no agent can ask for a password: not authorized, and nothing is stopped.
rm -f "$rule"
xsession_wait_for eval '! authorized' || fail "polkit still allows $user without the rule"
xsession_listen || fail "no listener started"
run_stop 4
grep -q "Not authorized" "$XSESSION_DIR/err.log" || fail "no 'Not authorized' message"
kill -0 "$XSESSION_LISTENER_PID" 2>/dev/null || fail "the listener was stopped without authorization"
echo "ok: without the rule the stop was not authorized and the listener on port $XSESSION_PORT lives"

# 3. The test user's own listener needs no authorization: it is stopped directly.
xsession_listen as_user || fail "no listener of $user started"
run_stop 0
grep -qx "Stopped python3 (pid [0-9]*) on port $XSESSION_PORT" "$XSESSION_DIR/out.log" || fail "no report of the stop"
echo "ok: $user stopped its own listener on port $XSESSION_PORT without polkit"

# 4. Also one whose main thread has exited, whose descriptors only its other threads show.
XSESSION_LISTEN_ARGS="6 main-exits" xsession_listen as_user || fail "no listener of $user started"
run_stop 0
echo "ok: $user stopped its own listener on port $XSESSION_PORT whose main thread had exited"
