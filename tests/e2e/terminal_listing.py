#!/usr/bin/python3
"""The real binary's terminal commands, with no display at all.

  terminal_listing.py listeners BINARY   --list and --list --json against a real listener
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
PYTHON = "/usr/bin/python3"
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../scripts/lib/listen.py")) as f:
    LISTENER = f.read()

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


def check_listeners(binary):
    """The test's own listener, in a folder with spaces and a non-ASCII letter, in both forms.
    Other users' listeners are SystemPortListingServiceTest's; the format, TerminalListingTest's."""
    workdir = tempfile.mkdtemp(prefix="quaystone list dir ü ")
    # A program whose name the kernel cuts at 15 bytes: listed by its whole name.
    long_name = "quaystone-listener-with-a-long-name"
    os.symlink(PYTHON, os.path.join(workdir, long_name))
    own = subprocess.Popen([os.path.join(workdir, long_name), "-c", LISTENER, "4", "an argument with spaces"],
                           cwd=workdir, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        port = int(own.stdout.readline())
        table, listed = run([binary, "--list"]), run([binary, "--list", "--json"])
        if table.returncode or listed.returncode:
            fail(f"--list exited {table.returncode}, --list --json {listed.returncode}: {table.stderr}{listed.stderr}")
        objects = json.loads(listed.stdout)
        if any(set(o) != FIELDS or not 3000 <= o["port"] <= 9999 for o in objects):
            fail(f"rows without exactly the fields {sorted(FIELDS)} or out of range:\n{listed.stdout[:2000]}")
        mine = [o for o in objects if o["port"] == port and o["pid"] == own.pid]
        expected = {"port": port, "pid": own.pid, "uid": os.geteuid(), "user": pwd.getpwuid(os.geteuid()).pw_name,
                    "name": long_name, "workingDirectory": os.path.realpath(workdir),
                    "workingDirectoryDeleted": False, "container": None, "service": None}
        if len(mine) != 1 or {k: mine[0][k] for k in expected} != expected or \
                "an argument with spaces" not in mine[0]["commandLine"]:
            fail(f"the JSON rows of the own listener on {port} are {mine}, expected {expected}")
        # Cut at the columns' titles, the row reads exactly: every column starts where its title does.
        header, *rows = table.stdout.splitlines()
        starts = [header.index(title) for title in ("PORT", "PID", "USER", "NAME", "UNIT", "DIRECTORY")]
        cells = [str(port), str(own.pid), expected["user"], long_name, "-", expected["workingDirectory"]]
        if cells not in [[line[a:b].strip() for a, b in zip(starts, starts[1:] + [None])] for line in rows]:
            fail(f"--list shows no row {cells}:\n{table.stdout}")
        print(f"terminal_listing: ok (port {port})")
    finally:
        own.stdin.close()
        own.wait(timeout=10)
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
        missing = f"lsof was not found at {lsof}. Install the lsof package."
        cannot = f"lsof at {lsof} cannot be run. Reinstall the lsof package."
        cases = [("missing", empty, lsof_dir, 'exec "$3" --list --lsof', missing),
                 ("not executable", not_executable, lsof, 'exec "$3" --list --lsof', cannot),
                 ("not executable, /proc with hidepid", not_executable, lsof,
                  'mount -t proc -o hidepid=invisible proc /proc && ' + nobody + '"$3" --list', cannot)]
        for label, source, target, command, expected in cases:
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
            if reason != "quaystone: " + expected:
                fail(f"lsof {label}: the reason is {reason!r}, expected {expected!r}")
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
    # What --help says is LaunchOptionsTest's; that it is printed, the packaging check's.
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
