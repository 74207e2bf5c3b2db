#!/usr/bin/env bash
# Installs the package into a clean Debian 12 root and checks it there, with the installed files
# only: `quaystone --list --json` sees a listener, `man quaystone` renders, the polkit action names
# the installed helper, another user stops root's listener through pkexec and polkitd, and
# `apt-get purge` leaves no file behind.
#
#   scripts/check-package-root.sh DEB
#
# As root. The root runs in mount and pid namespaces of its own: what it starts (its system bus,
# polkitd, the listeners) ends with it, and nothing is mounted outside it. The clean root, a minimal
# Debian 12 from the mirror that apt is configured with (mmdebstrap), and the packages downloaded
# into it are kept in $QUAYSTONE_CHECK_CACHE (default /var/cache/quaystone-check), and made when
# missing.
set -euo pipefail

fail() {
    echo "check-package-root: FAIL: $*" >&2
    exit 1
}
step() { echo "== $(date +%T) $*"; }

if [ "${1:-}" != --inside ]; then
    deb=$(realpath "${1:?usage: check-package-root.sh DEB}")
    [ "$(id -u)" -eq 0 ] || fail "needs root, to make and enter the Debian root"
    cache=${QUAYSTONE_CHECK_CACHE:-/var/cache/quaystone-check}
    base=$cache/bookworm-minbase.tar
    mkdir -p "$cache/archives/partial"
    if [ ! -s "$base" ]; then
        step "making a clean Debian 12 root in $base"
        # Debian 12's archives as apt on this machine reaches them (main, updates, security).
        mapfile -t sources < <(apt-get indextargets --format 'deb $(REPO_URI) $(RELEASE) $(COMPONENT)' \
            'Identifier: Packages' 'Origin: Debian' | grep -E '^deb [^ ]+ bookworm(-[a-z]+)? ' | sort -u)
        [ ${#sources[@]} -gt 0 ] || fail "apt knows no Debian 12 archive here; run apt-get update"
        printf '  %s\n' "${sources[@]}"
        # man-db: to read the man page; it is no dependency of the package.
        mmdebstrap --quiet --variant=minbase --include=man-db --dpkgopt=force-unsafe-io bookworm "$base.new" \
            "${sources[@]}"
        mv "$base.new" "$base"
    fi
    work=$(mktemp -d /var/tmp/quaystone-check.XXXXXX)
    trap 'rm -rf --one-file-system "$work"' EXIT
    mkdir "$work/root"
    # The clean root with what the package needs, as `apt-get install` of it would bring (its
    # recommendations included), kept for as long as the package needs the same.
    needs="$(dpkg-deb -f "$deb" Depends), $(dpkg-deb -f "$deb" Recommends)"
    with_needs=$cache/bookworm-needs-$(sha256sum <<<"$needs" | cut -c1-16).tar
    if [ -s "$with_needs" ]; then
        tar -C "$work/root" -xf "$with_needs"
    else
        tar -C "$work/root" -xf "$base"
        unshare --mount --pid --fork --kill-child --propagation private \
            "$0" --inside prepare "$work/root" "$needs" "$cache/archives"
        rm -f "$cache"/bookworm-needs-*.tar
        tar -C "$work/root" -cf "$with_needs.new" . && mv "$with_needs.new" "$with_needs"
    fi
    cp "$deb" "$work/root/tmp/"
    unshare --mount --pid --fork --kill-child --propagation private \
        "$0" --inside check "$work/root" "/tmp/$(basename "$deb")" "$cache/archives"
    echo "check-package-root: ok"
    exit 0
fi

# --- inside the namespaces: pid 1, so that everything started here ends with it ----------------
phase=$2 root=$3 archives=$5
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mount -t tmpfs tmpfs "$root/run"
mount --bind "$archives" "$root/var/cache/apt/archives"
in_root() { (exec_in_root "$@"); }
# Becomes the command, so that $! of `exec_in_root ... &` is the command's pid.
exec_in_root() {
    exec chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"
}
apt_get() { in_root apt-get -y -qq -o Dpkg::Options::=--force-unsafe-io -o Dpkg::Use-Pty=false "$@"; }

if [ "$phase" = prepare ]; then
    step "installing the package's dependencies"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    # No service of a package starts here: the check starts what it needs itself.
    printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
    chmod 755 "$root/usr/sbin/policy-rc.d"
    apt_get update
    apt_get satisfy "$4" >/dev/null
    apt_get clean
    exit 0
fi
deb=$4

# The test user who stops root's listener, allowed by a rule without a password (no agent runs here).
user=qs-check action=io.github.quaystone.stop-port
in_root useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
cat >"$root/etc/polkit-1/rules.d/10-quaystone-check.rules" <<EOF
polkit.addRule(function(action, subject) {
    if (action.id == "$action" && subject.user == "$user")
        return polkit.Result.YES;
});
EOF

# What is on disk, less what changes by itself (logs, caches, the package manager's own records).
snapshot() {
    in_root find / -xdev \( -path /proc -o -path /dev -o -path /run -o -path /tmp -o -path /var/tmp \
        -o -path /var/cache -o -path /var/log -o -path /var/lib/apt -o -path /var/lib/dpkg -o -path /root \) \
        -prune -o -print | sort >"$1"
}
snapshot "$root/tmp/before"

step "installing $(basename "$deb")"
apt_get install "$deb"
in_root dpkg -L quaystone >"$root/tmp/files"

# --- the installed app ----------------------------------------------------------------------------
# A listener of root's on a free port in the watched range; prints the port.
listen() {
    exec_in_root perl -MIO::Socket::INET -e '
        for (1 .. 200) {
            my $port = 3000 + int(rand(7000));
            my $s = IO::Socket::INET->new(LocalAddr => "127.0.0.1", LocalPort => $port, Listen => 5) or next;
            print "$port\n";
            close STDOUT;
            sleep 600;
            exit 0;
        }
        exit 1;' >"$root/tmp/port" &
    listener=$!
    for _ in $(seq 50); do
        [ -s "$root/tmp/port" ] && break
        sleep 0.1
    done
    port=$(cat "$root/tmp/port")
    [ -n "$port" ] || fail "no listener started"
    rm -f "$root/tmp/port"
}

step "quaystone --list --json"
listen
in_root quaystone --list --json >"$root/tmp/list.json" || fail "quaystone --list --json failed"
python3 - "$root/tmp/list.json" "$port" "$listener" <<'EOF' || fail "quaystone --list --json: $(cat "$root/tmp/list.json")"
import json, sys
rows, port, pid = json.load(open(sys.argv[1])), int(sys.argv[2]), int(sys.argv[3])
sys.exit(not any(r["port"] == port and r["pid"] == pid and r["name"] == "perl" for r in rows))
EOF
echo "lists perl (pid $listener) on port $port"

step "man quaystone"
in_root env MANWIDTH=80 man quaystone >"$root/tmp/man.txt" 2>"$root/tmp/man.err" ||
    fail "man quaystone: $(cat "$root/tmp/man.err")"
grep -q -- '--list' "$root/tmp/man.txt" || fail "man quaystone rendered no --list: $(head "$root/tmp/man.txt")"
head -3 "$root/tmp/man.txt"

step "the system bus and polkitd"
mkdir -p "$root/run/dbus"
in_root dbus-daemon --system --fork
exec_in_root /usr/lib/polkit-1/polkitd --no-debug >/dev/null 2>&1 &
ready=''
for _ in $(seq 100); do
    if in_root pkaction --action-id "$action" --verbose >"$root/tmp/action" 2>/dev/null; then
        ready=yes
        break
    fi
    sleep 0.1
done
[ -n "$ready" ] || fail "polkitd does not know the action $action"
helper=$(sed -n 's/^ *annotation: *org\.freedesktop\.policykit\.exec\.path -> //p' "$root/tmp/action")
grep -qxF "$helper" "$root/tmp/files" && [ -x "$root$helper" ] ||
    fail "the action names '$helper', which the package does not install: $(cat "$root/tmp/action")"
echo "the action $action names the installed helper $helper"

step "stopping root's listener as $user, through pkexec and polkitd"
# The environment's helper would be honoured only by a build with tests; the package's ignores it.
set +e
in_root setpriv --reuid="$user" --regid="$user" --init-groups env QUAYSTONE_STOP_PORT_HELPER=/nonexistent \
    quaystone --stop "$port" </dev/null
status=$?
set -e
[ "$status" -eq 0 ] || fail "quaystone --stop $port as $user exited $status (expected 0, stopped)"
for _ in $(seq 30); do
    kill -0 "$listener" 2>/dev/null || break
    sleep 0.1
done
wait "$listener" 2>/dev/null || true
! kill -0 "$listener" 2>/dev/null || fail "root's listener (pid $listener) still runs"
echo "root's listener on port $port was stopped by $user"

step "apt-get purge quaystone"
apt_get purge quaystone
snapshot "$root/tmp/after"
left=$(comm -3 "$root/tmp/before" "$root/tmp/after")
[ -z "$left" ] || fail "the purge changed these (at the margin: gone since before the install; indented: new): $left"
! ls "$root"/var/lib/dpkg/info/quaystone.* >/dev/null 2>&1 || fail "the package's records are still there"
echo "the purge left no file behind"
