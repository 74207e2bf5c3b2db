#!/usr/bin/env bash
# Runs the real-engine tests: starts a private Docker daemon as root (its own data root, exec
# root, pid file, socket and bridge; no iptables rules), imports an image that holds only
# /bin/busybox, runs `busybox httpd` published on a free port in 3000-9999 (IPv4 and, where the
# host has ::1, IPv6 loopback), and runs the test binary with DOCKER_HOST on the private socket.
# Afterwards it checks the container's state through the engine, then stops the daemon and
# removes its containers, bridge, network rules, data and the few files it leaves in /etc and
# /run. Exit 77 (skipped) where the daemon cannot start.
#
# Usage: container_engine.sh PATH-TO-test_container_engine_real
set -uo pipefail

binary=${1:?usage: container_engine.sh PATH-TO-test_container_engine_real}
image=quaystone-test-busybox
name=quaystone-test-web-$$

skip() {
    echo "container_engine: SKIP: $*"
    exit 77
}
fail() {
    echo "container_engine: FAIL: $*" >&2
    [ -n "${dir:-}" ] && [ -f "$dir/dockerd.log" ] && tail -n 30 "$dir/dockerd.log" >&2
    exit 1
}

[ "$(id -u)" -eq 0 ] || skip "a private dockerd needs root"
for tool in dockerd containerd runc busybox ip python3 flock; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is missing (scripts/install-deps.sh installs docker.io and busybox-static)"
done
# The Debian package's client, which matches its daemon.
docker_cli=/usr/bin/docker
[ -x "$docker_cli" ] || docker_cli=$(command -v docker) || skip "the docker client is missing"

# The bridge and the files in /etc and /run are shared by every daemon: one run at a time.
exec 9>/tmp/quaystone-container-engine.lock
flock -w 200 9 || skip "another run of this test holds the lock"

dir=$(mktemp -d /tmp/qs-engine.XXXXXX)
socket=$dir/docker.sock
bridge=qsbr$$
bridge=${bridge:0:15}
had_key=0; [ -e /etc/docker/key.json ] && had_key=1
had_run_docker=0; [ -e /var/run/docker ] && had_run_docker=1
had_run_containerd=0; [ -e /run/containerd ] && had_run_containerd=1
had_docker0=0; ip link show docker0 >/dev/null 2>&1 && had_docker0=1
chains_before=$(iptables -S 2>/dev/null | grep -c -- '-N DOCKER')
docker=("$docker_cli" -H "unix://$socket")

# Rules a daemon with iptables would have added: removed only when this run brought them.
remove_docker_rules() {
    for table in filter nat; do
        iptables -t "$table" -S 2>/dev/null | grep -E -- '^-A .*(DOCKER|docker0|'"$bridge"')' |
            sed 's/^-A/-D/' | while read -r rule; do
            eval "iptables -t $table $rule" 2>/dev/null
        done
        for chain in $(iptables -t "$table" -S 2>/dev/null | awk '/^-N DOCKER/ {print $2}'); do
            iptables -t "$table" -F "$chain" 2>/dev/null
            iptables -t "$table" -X "$chain" 2>/dev/null
        done
    done
}

cleanup() {
    "${docker[@]}" rm -f "$name" >/dev/null 2>&1
    if [ -f "$dir/dockerd.pid" ]; then
        pid=$(cat "$dir/dockerd.pid")
        kill -TERM "$pid" 2>/dev/null
        for _ in $(seq 40); do [ -e "/proc/$pid" ] || break; sleep 0.5; done
        kill -KILL "$pid" 2>/dev/null
    fi
    # The daemon's containerd and shims, known by the private directory on their command lines.
    for cmdline in /proc/[0-9]*/cmdline; do
        args=$(tr '\0' ' ' <"$cmdline" 2>/dev/null)
        if [[ $args == *"$dir/"* ]]; then
            pid=${cmdline#/proc/}
            kill -KILL "${pid%/cmdline}" 2>/dev/null
        fi
    done
    sleep 0.5
    grep -F -- " $dir/" /proc/mounts | awk '{print $2}' | sort -r | while read -r mount; do
        umount -l "$mount" 2>/dev/null
    done
    ip link del "$bridge" 2>/dev/null
    [ "$had_docker0" -eq 0 ] && ip link del docker0 2>/dev/null
    [ "$chains_before" -eq 0 ] && remove_docker_rules
    [ "$had_key" -eq 0 ] && rm -f /etc/docker/key.json
    [ "$had_run_docker" -eq 0 ] && rm -rf /var/run/docker
    [ "$had_run_containerd" -eq 0 ] && rm -rf /run/containerd
    rm -rf "$dir"
}
trap cleanup EXIT

# A private bridge on a /24 that no route uses yet.
subnet=
for third in $(seq $(($$ % 200 + 20)) 250) $(seq 20 250); do
    if ! ip route | grep -q "^10\.213\.$third\."; then subnet=10.213.$third; break; fi
done
[ -n "$subnet" ] || skip "no free private subnet for the bridge"
ip link add "$bridge" type bridge 2>/dev/null || skip "cannot create a network bridge here"
ip addr add "$subnet.1/24" dev "$bridge" && ip link set "$bridge" up || skip "cannot configure the bridge"

mkdir -p "$dir/data" "$dir/exec" "$dir/rootfs/bin"
dockerd --storage-driver=vfs --data-root="$dir/data" --exec-root="$dir/exec" --pidfile="$dir/dockerd.pid" \
    -H "unix://$socket" --bridge="$bridge" --iptables=false --ip-forward=false --ip-masq=false \
    >"$dir/dockerd.log" 2>&1 &
for _ in $(seq 60); do
    "${docker[@]}" version >/dev/null 2>&1 && break
    sleep 0.5
done
"${docker[@]}" version >/dev/null 2>&1 || {
    tail -n 15 "$dir/dockerd.log"
    skip "the private dockerd did not start (log above)"
}

cp "$(command -v busybox)" "$dir/rootfs/bin/busybox"
tar -C "$dir/rootfs" -c . | "${docker[@]}" import - "$image" >/dev/null || fail "docker import failed"

port=$(python3 - <<'EOF'
import random, socket
for _ in range(500):
    port = random.randint(3000, 9999)
    try:
        for family, host in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
            s = socket.socket(family, socket.SOCK_STREAM)
            try:
                s.bind((host, port))
            except OSError as e:
                if family == socket.AF_INET6 and e.errno == 99:  # no ::1 on this host
                    continue
                raise
            finally:
                s.close()
        print(port)
        break
    except OSError:
        pass
EOF
)
[ -n "$port" ] || fail "no free port in 3000-9999"
publish=(-p "127.0.0.1:$port:8000")
grep -q '^00000000000000000000000000000001 ' /proc/net/if_inet6 2>/dev/null && publish+=(-p "[::1]:$port:8000")
"${docker[@]}" run -d --name "$name" "${publish[@]}" "$image" /bin/busybox httpd -f -p 8000 >"$dir/run.log" 2>&1 || {
    cat "$dir/run.log"
    skip "the daemon started but cannot run a container here (log above)"
}

hex=$(printf ':%04X ' "$port")
listening() { grep -qi -- "$hex.* 0A " /proc/net/tcp /proc/net/tcp6 2>/dev/null; }
for _ in $(seq 40); do listening && break; sleep 0.25; done
listening || fail "nothing listens on the published port $port"

echo "container_engine: $name ($image) published on $port; engine at $socket"
# A user who may not use the socket (its folder is root's alone) gets the list without it.
if command -v setpriv >/dev/null 2>&1; then
    DOCKER_HOST="unix://$socket" QUAYSTONE_TEST_CONTAINER_PORT=$port \
        setpriv --reuid=65534 --regid=65534 --clear-groups "$binary" \
        --gtest_filter='ContainerEngine.ForAUserWhoMayNotUseTheSocket*' ||
        fail "the listing of a user without access to the engine failed"
fi
DOCKER_HOST="unix://$socket" QUAYSTONE_TEST_CONTAINER_PORT=$port QUAYSTONE_TEST_CONTAINER_NAME=$name \
    QUAYSTONE_TEST_CONTAINER_IMAGE=$image "$binary"
status=$?
[ "$status" -eq 0 ] || fail "the test binary failed ($status)"

# The engine's own word on the stop that the binary made through the store.
[ "$("${docker[@]}" inspect -f '{{.State.Running}}' "$name" 2>/dev/null)" = "false" ] ||
    fail "the container still runs after its stop"
listening && fail "port $port still listens after the stop"
echo "container_engine: the container is stopped and port $port is free"
exit 0
