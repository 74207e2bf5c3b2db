#!/usr/bin/python3
"""The real binary's terminal commands, with no display at all.

  terminal_listing.py listeners BINARY   --list and --list --json against real listeners: one of
                                         the test's own, one of the user "nobody"
  terminal_listing.py failure BINARY LSOF
                                         --list --lsof with lsof replaced, inside a private mount
                                         namespace, by nothing and by a file that may not be run;
                                         --list without lsof, as a normal user, with /proc as it
                                         is (the kernel answers) and with hidepid (lsof must)
  terminal_listing.py usage BINARY       --help, --version and wrong command lines

Exits 77 (skipped) when a step cannot run here, saying why.
"""
import json
import os
import pwd
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
PYTHON = "/usr/bin/python3"  # not a per-user shim: the other user must be able to run it too

# Listens on a free port in range, prints it, and keeps listening until its stdin closes, so it
# ends with the test however the test ends.
LISTENER = r"""
import random, socket, sys
family = socket.AF_INET6 if sys.argv[1] == "6" else socket.AF_INET
host = "::1" if family == socket.AF_INET6 else "127.0.0.1"
def free_everywhere(port):
    # A dual-stack wildcard bind fails while anyone holds the port on any address, so no other
    # process's row can share the port with this listener's.
    probe = socket.socket(socket.AF_INET6)
    probe.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)
    try:
        probe.bind(("::", port))
        return True
    except OSError:
        return False
    finally:
        probe.close()
for _ in range(500):
    port = random.randint(3000, 9999)
    if not free_everywhere(port):
        continue
    s = socket.socket(family)
    try:
        s.bind((host, port))
        break
    except OSError:
        s.close()
s.listen()
print(port, flush=True)
sys.stdin.read()
"""

FIELDS = {"port", "pid", "user", "uid", "name", "commandLine", "workingDirectory", "workingDirectoryDeleted",
          "container", "service"}


def fail(message):
    print(f"terminal_listing: FAIL: {message}", file=sys.stderr)
    sys.exit(1)


def skip(message):
    print(f"terminal_listing: SKIPPED: {message}")
    sys.exit(SKIP)


def headless_env():
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    # Were a display opened after all, this would make it fail loudly.
    env["QT_QPA_PLATFORM"] = "xcb"
    return env


def run(argv, **kwargs):
    return subprocess.run(argv, capture_output=True, text=True, timeout=60, env=headless_env(), **kwargs)


def start_listener(prefix, cwd, family, *args, program=PYTHON):
    child = subprocess.Popen(prefix + [program, "-c", LISTENER, family, *args], cwd=cwd, stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, text=True)
    line = child.stdout.readline()
    if not line.strip().isdigit():
        fail(f"a listener did not start ({prefix or 'own'})")
    return child, int(line)


def parse_table(text):
    lines = text.splitlines()
    if not lines:
        fail("--list printed nothing, not even its header")
    header = lines[0]
    names = ["PORT", "PID", "USER", "NAME", "UNIT", "DIRECTORY"]
    if header.split() != names:
        fail(f"unexpected header {header!r}")
    starts = [header.index(n) for n in names]
    rows = []
    for line in lines[1:]:
        cells = [line[a:b].rstrip() for a, b in zip(starts, starts[1:] + [None])]
        # Every column starts where its title does: the cell before it ends in two spaces.
        for start in starts[1:]:
            if line[start - 2:start] != "  " or line[start] == " ":
                fail(f"row not aligned with the header:\n{header}\n{line}")
        rows.append(dict(zip(names, cells)))
    return rows


def user_name(uid):
    try:
        return pwd.getpwuid(uid).pw_name
    except KeyError:
        return str(uid)


def comm(pid):
    with open(f"/proc/{pid}/comm") as f:
        return f.read().rstrip("\n")


def check_listeners(binary):
    workdir = tempfile.mkdtemp(prefix="quaystone list dir ü ")
    os.chmod(workdir, 0o755)
    children = []
    try:
        # A program whose name the kernel cuts at 15 bytes: listed by its whole name.
        long_name = "quaystone-listener-with-a-long-name"
        os.symlink(PYTHON, os.path.join(workdir, long_name))
        own, own_port = start_listener([], workdir, "4", "an argument with spaces",
                                       program=os.path.join(workdir, long_name))
        children.append(own)
        other_port = None
        if os.geteuid() == 0 and shutil.which("setpriv"):
            other, other_port = start_listener(
                ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"], "/", "6")
            children.append(other)
        else:
            print("terminal_listing: no listener of another user (needs root and setpriv)")

        table = run([binary, "--list"])
        if table.returncode != 0:
            fail(f"--list exited {table.returncode}: {table.stderr}")
        rows = {int(r["PORT"]): r for r in parse_table(table.stdout) if r["PID"] == str(own.pid) or
                int(r["PORT"]) == other_port}

        listed = run([binary, "--list", "--json"])
        if listed.returncode != 0:
            fail(f"--list --json exited {listed.returncode}: {listed.stderr}")
        try:
            objects = json.loads(listed.stdout)
        except json.JSONDecodeError as e:
            fail(f"--list --json printed no valid JSON ({e}):\n{listed.stdout[:2000]}")
        if not isinstance(objects, list):
            fail("--list --json did not print an array")
        for o in objects:
            if set(o) != FIELDS:
                fail(f"fields {sorted(o)} instead of {sorted(FIELDS)}")
            if not isinstance(o["port"], int) or not 3000 <= o["port"] <= 9999:
                fail(f"port out of range in {o}")
            if o["pid"] is not None and not isinstance(o["pid"], int):
                fail(f"pid neither a number nor null in {o}")
            if o["uid"] is not None and o["user"] != user_name(o["uid"]):
                fail(f"user {o['user']!r} is not the name of uid {o['uid']}")

        # The own listener: strictly, in both forms.
        mine = [o for o in objects if o["port"] == own_port and o["pid"] == own.pid]
        if len(mine) != 1:
            fail(f"the JSON holds {len(mine)} rows for the own listener on {own_port} (pid {own.pid})")
        mine = mine[0]
        if comm(own.pid) != long_name[:15]:
            fail(f"the kernel's name {comm(own.pid)!r} is not the cut {long_name!r}")
        expected = {"name": long_name, "workingDirectory": os.path.realpath(workdir),
                    "workingDirectoryDeleted": False}
        for key, value in expected.items():
            if mine[key] != value:
                fail(f"JSON {key} is {mine[key]!r}, expected {value!r}")
        if mine["uid"] is not None and mine["uid"] != os.geteuid():
            fail(f"JSON uid {mine['uid']} for a listener of uid {os.geteuid()}")
        if mine["commandLine"] is not None and "an argument with spaces" not in mine["commandLine"]:
            fail(f"command line {mine['commandLine']!r} lacks the listener's argument")
        row = rows.get(own_port)
        if row is None:
            fail(f"--list shows no row for the own listener on {own_port}:\n{table.stdout}")
        expected_row = {"PID": str(own.pid), "USER": mine["user"] or "-", "NAME": mine["name"],
                        "DIRECTORY": mine["workingDirectory"]}
        for key, value in expected_row.items():
            if row[key] != value:
                fail(f"table {key} is {row[key]!r}, expected {value!r}")

        # The other user's listener: only where the listing shows it at all.
        if other_port is not None:
            theirs = [o for o in objects if o["port"] == other_port]
            if not theirs:
                print(f"terminal_listing: no row for nobody's listener on {other_port}; not checked")
            for o in theirs:
                if o["pid"] is not None and o["pid"] != children[1].pid:
                    fail(f"nobody's port {other_port} listed with pid {o['pid']}")
                if o["uid"] is not None and (o["uid"], o["user"]) != (65534, user_name(65534)):
                    fail(f"nobody's port {other_port} listed as {o['user']!r} ({o['uid']})")
                if o["pid"] is None and (o["workingDirectory"], o["name"]) != (None, None):
                    fail(f"a row without a process has a directory or a name: {o}")
            if theirs and other_port not in rows:
                fail(f"nobody's port {other_port} is in the JSON but not in the table")
        print(f"terminal_listing: ok (own {own_port}, other {other_port})")
    finally:
        for child in children:
            child.stdin.close()
            child.wait(timeout=10)
        shutil.rmtree(workdir, ignore_errors=True)


def check_failure(binary, lsof):
    if os.geteuid() != 0:
        skip("replacing lsof in a private mount namespace needs root")
    if not shutil.which("unshare"):
        skip("unshare is not installed")
    probe = subprocess.run(["unshare", "-m", "true"], capture_output=True, text=True)
    if probe.returncode != 0:
        skip(f"no private mount namespace here: {probe.stderr.strip()}")
    lsof_dir = os.path.dirname(lsof)
    if os.path.dirname(os.path.realpath(binary)) == os.path.realpath(lsof_dir):
        skip(f"the binary lives beside lsof in {lsof_dir}, which the test hides")

    scratch = tempfile.mkdtemp(prefix="quaystone-nolsof-")
    try:
        empty = os.path.join(scratch, "empty")
        os.mkdir(empty)
        not_executable = os.path.join(scratch, "lsof")
        with open(not_executable, "w") as f:
            f.write("#!/bin/sh\necho should never run\n")
        os.chmod(not_executable, 0o644)
        # The bind mounts live only in the namespace that unshare makes; the shell execs the binary
        # there, after mount has run, since the mount may hide the folder mount itself lives in.
        nobody = "exec setpriv --reuid=65534 --regid=65534 --clear-groups "
        cases = [("missing", empty, lsof_dir, 'exec "$3" --list --lsof'),
                 ("not executable", not_executable, lsof, 'exec "$3" --list --lsof'),
                 ("not executable, /proc with hidepid", not_executable, lsof,
                  'mount -t proc -o hidepid=invisible proc /proc && ' + nobody + '"$3" --list')]
        for label, source, target, command in cases:
            result = run(["unshare", "-m", "sh", "-c", 'mount --bind "$1" "$2" && ' + command, "sh",
                          source, target, binary])
            reason = result.stderr.strip()
            print(f"terminal_listing: lsof {label}: exit {result.returncode}, stderr {reason!r}")
            if "mount" in reason and result.returncode != 1:
                skip(f"the bind mount was refused: {reason}")
            if result.returncode != 1:
                fail(f"lsof {label}: exit status {result.returncode}, expected 1")
            if result.stdout:
                fail(f"lsof {label}: printed a list anyway:\n{result.stdout}")
            if lsof not in reason:
                fail(f"lsof {label}: the reason does not name {lsof}: {reason!r}")
        # Without hidepid the kernel answers; lsof is not needed.
        result = run(["unshare", "-m", "sh", "-c", 'mount --bind "$1" "$2" && ' + nobody + '"$3" --list', "sh",
                      not_executable, lsof, binary])
        if result.returncode != 0 or not result.stdout.startswith("PORT"):
            fail(f"--list without lsof: exit {result.returncode}, stderr {result.stderr!r}")
        # Nothing leaked out of the namespaces.
        if not os.access(lsof, os.X_OK):
            fail(f"{lsof} is no longer executable outside the namespace")
        print("terminal_listing: ok (failures said)")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def check_usage(binary):
    helped = run([binary, "--help"])
    if helped.returncode != 0:
        fail(f"--help exited {helped.returncode}")
    for option in ["--list", "--json", "--lsof", "--help", "--version", "--ui-test-host", "--ui-test-kill-permission-denied"]:
        if option not in helped.stdout:
            fail(f"--help does not document {option}")
    version = run([binary, "--version"])
    if version.returncode != 0 or not version.stdout.startswith("quaystone "):
        fail(f"--version printed {version.stdout!r}, exit {version.returncode}")
    for wrong in (["--lst"], ["--json"], ["list"], ["--list", "--ui-test-host"]):
        result = run([binary, *wrong])
        if result.returncode != 2 or not result.stderr.startswith("quaystone: ") or result.stdout:
            fail(f"{wrong}: exit {result.returncode}, stdout {result.stdout!r}, stderr {result.stderr!r}")
    # An answer that could not be written is a failure, not a success.
    for argv in (["--list"], ["--list", "--json"], ["--help"], ["--version"]):
        with open("/dev/full", "w") as full:
            result = subprocess.run([binary, *argv], stdout=full, stderr=subprocess.PIPE, text=True, timeout=60,
                                    env=headless_env())
        if result.returncode != 1 or "quaystone: writing" not in result.stderr:
            fail(f"{argv} into a full disk: exit {result.returncode}, stderr {result.stderr!r}")
    print("terminal_listing: ok (usage)")


def main():
    if len(sys.argv) < 3:
        fail(__doc__)
    mode, binary = sys.argv[1], sys.argv[2]
    if mode == "listeners":
        check_listeners(binary)
    elif mode == "failure":
        check_failure(binary, sys.argv[3])
    elif mode == "usage":
        check_usage(binary)
    else:
        fail(f"unknown mode {mode}")


if __name__ == "__main__":
    main()
