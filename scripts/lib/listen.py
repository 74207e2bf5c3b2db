"""listen.py [4|6|46] [fork] [ignore-term] [ARGUMENT...]: a listener for the tests, on a port in
3000-9999 that is free on every address (so no other process's row shares it), on 127.0.0.1, ::1
or both. Prints the port (with fork, then the pid of a child that shares the socket) and listens
until its standard input closes, or for ten minutes where that is no pipe. ignore-term: SIGTERM
is ignored. main-exits: the main thread ends, another keeps the process and is ready (prints)
once the kernel shows the main thread as exited. Other arguments only show in its command line.
listen.py free: prints such a port and exits."""
import os
import random
import signal
import socket
import stat
import sys
import time


def free_everywhere(port):
    # A dual-stack wildcard bind fails while anyone holds the port on any address.
    probe = socket.socket(socket.AF_INET6)
    probe.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)
    try:
        probe.bind(("::", port))
        return True
    except OSError:
        return False
    finally:
        probe.close()


def bind(port, families):
    held = []
    try:
        for family in families:
            held.append(socket.socket(family))
            held[-1].bind(("::1" if family == socket.AF_INET6 else "127.0.0.1", port))
            held[-1].listen()
        return held
    except OSError:
        for s in held:
            s.close()
        return None


mode = sys.argv[1] if len(sys.argv) > 1 else "4"
families = [f for digit, f in (("4", socket.AF_INET), ("6", socket.AF_INET6)) if digit in mode] or [socket.AF_INET]
if "ignore-term" in sys.argv:
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
for _ in range(500):
    port = random.randint(3000, 9999)
    if not free_everywhere(port):
        continue
    if mode == "free":
        sys.exit(print(port))
    if held := bind(port, families):
        break
else:
    sys.exit("listen.py: no free port")
pids = []
if "fork" in sys.argv:
    child = os.fork()
    if child == 0:
        time.sleep(600)
        os._exit(0)
    pids.append(child)


def serve():
    print(port, *pids, flush=True)
    if stat.S_ISFIFO(os.fstat(0).st_mode):
        sys.stdin.read()
    else:
        time.sleep(600)


if "main-exits" in sys.argv:
    import ctypes
    import threading

    def hold(path="/proc/%d/stat" % os.getpid()):
        while open(path).read().rsplit(")", 1)[1].split()[0] != "Z":
            time.sleep(0.01)
        serve()

    threading.Thread(target=hold).start()
    ctypes.CDLL(None).pthread_exit(None)
serve()
