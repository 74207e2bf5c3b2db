#!/usr/bin/env bash
# The real-engine tests: on a private Docker daemon (the harness's; as root) an image holding only
# /bin/busybox runs `busybox httpd` published on a free port in 3000-9999 (IPv4 and, where the
# host has ::1, IPv6 loopback); the test binary runs with DOCKER_HOST on the private socket, and
# the engine then says the container it stopped is stopped. Exit 77 (skipped) where the daemon
# cannot start. Usage: container_engine.sh PATH-TO-test_container_engine_real
set -uo pipefail
# shellcheck source=scripts/lib/xsession.sh
source "$(dirname "$0")/../../scripts/lib/xsession.sh"

binary=$1 image=quaystone-test-busybox name=quaystone-test-web-$$
[ "$(id -u)" -eq 0 ] || xsession_skip "a private dockerd needs root"
xsession_require dockerd containerd runc busybox ip python3 flock setpriv || exit 77
fail() { XSESSION_FAIL_LOGS=dockerd xsession_fail "$@"; }

xsession_init
xsession_start_dockerd
docker=("${XSESSION_DOCKER[@]}")
mkdir -p "$XSESSION_DIR/rootfs/bin"
cp "$(command -v busybox)" "$XSESSION_DIR/rootfs/bin/busybox"
tar -C "$XSESSION_DIR/rootfs" -c . | "${docker[@]}" import - "$image" >/dev/null || fail "docker import failed"

port=$(/usr/bin/python3 "$XSESSION_LIB/listen.py" free) || fail "no free port in 3000-9999"
publish=(-p "127.0.0.1:$port:8000")
grep -q '^00000000000000000000000000000001 ' /proc/net/if_inet6 2>/dev/null && publish+=(-p "[::1]:$port:8000")
xsession_undo "${docker[@]}" rm -f "$name"
"${docker[@]}" run -d --name "$name" "${publish[@]}" "$image" /bin/busybox httpd -f -p 8000 \
    >"$XSESSION_DIR/run.log" 2>&1 ||
    xsession_skip "the daemon cannot run a container here: $(cat "$XSESSION_DIR/run.log")"
listening() { grep -qi -- "$(printf ':%04X ' "$port").* 0A " /proc/net/tcp /proc/net/tcp6 2>/dev/null; }
xsession_wait_for listening || fail "nothing listens on the published port $port"
echo "container_engine: $name ($image) published on $port"

export DOCKER_HOST=unix://$XSESSION_DOCKER_SOCKET QUAYSTONE_TEST_CONTAINER_PORT=$port
# A user who may not use the socket (its folder is root's alone) gets the list without it.
setpriv --reuid=65534 --regid=65534 --clear-groups "$binary" \
    --gtest_filter='ContainerEngine.ForAUserWhoMayNotUseTheSocket*' ||
    fail "the listing of a user without access to the engine failed"
QUAYSTONE_TEST_CONTAINER_NAME=$name QUAYSTONE_TEST_CONTAINER_IMAGE=$image "$binary" || fail "the test binary failed"
# The engine's own word on the stop that the binary made through the store.
[ "$("${docker[@]}" inspect -f '{{.State.Running}}' "$name" 2>/dev/null)" = false ] ||
    fail "the container still runs after its stop"
listening && fail "port $port still listens after the stop"
echo "container_engine: the container is stopped and port $port is free"
