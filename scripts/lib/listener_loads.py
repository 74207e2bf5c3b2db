#!/usr/bin/env python3
"""Real listeners shaped the ways one socket comes to have several holders, for the test that
compares the kernel listing with lsof. Binds consecutive free ports in 3000-9999, one per load:
  +0 a pre-forking server: the parent and three workers
  +1 a socket inherited by an exec'd program, kept by its parent too
  +2 a socket handed over a Unix socket to a sibling, then closed by the sender
  +3 a socket opened by a thread that is not the main thread
  +4 a socket of a process whose main thread has exited (the others run on)
  +5 IPv4 and IPv6 on one port in one process
Prints "LOW HIGH" when all listen. Commands on stdin, each answered "ok": "fork" adds a worker
to the pre-forking server, "stop" kills the parent of +1. At the end of stdin it kills them all.
"""
import ctypes, os, random, signal, socket, subprocess, sys, threading, time

LOADS = 6
os.setpgrp()
ready_r, ready_w = os.pipe()


def ready():
    os.write(ready_w, b"r")


def forever():
    while True:
        time.sleep(3600)


def fork(body, *keep):
    pid = os.fork()
    if pid == 0:
        try:
            for s in everything:
                if s not in keep:
                    s.close()
            body()
        finally:
            os._exit(0)
    return pid


def listener(port, family=socket.AF_INET):
    s = socket.socket(family)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if family == socket.AF_INET6:
        s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
    s.bind(("::1" if family == socket.AF_INET6 else "127.0.0.1", port))
    s.listen()
    return s


for attempt in range(500):
    low = random.randint(3000, 9999 - LOADS + 1)
    try:
        socks = [listener(low + i) for i in range(LOADS)]
        v6 = listener(low + 5, socket.AF_INET6)
        break
    except OSError:
        continue
else:
    sys.exit("no free run of ports")

commands_r, commands_w = os.pipe()


def worker():
    if os.fork() == 0:
        forever()


def preforking():
    for _ in range(3):
        worker()
    ready()
    while os.read(commands_r, 1):
        worker()
        ready()


def inherited():
    subprocess.Popen([sys.executable, "-c", "import time; time.sleep(1e6)"], pass_fds=[socks[1].fileno()])
    ready()
    forever()


pair = socket.socketpair(socket.AF_UNIX)
everything = socks + [v6] + list(pair)


def sender():
    socket.send_fds(pair[0], [b"s"], [socks[2].fileno()])
    socks[2].close()
    forever()


def receiver():
    _, fds, _, _ = socket.recv_fds(pair[1], 1, 1)
    ready()
    forever()


def threaded():
    def run():
        s = listener(low + 3)
        ready()
        forever()

    threading.Thread(target=run, daemon=True).start()
    forever()


def leader_gone():
    def run():
        # Ready once the main thread has exited.
        while open("/proc/%d/stat" % os.getpid()).read().rpartition(")")[2].split()[0] != "Z":
            time.sleep(0.01)
        ready()
        forever()

    threading.Thread(target=run, daemon=True).start()
    ctypes.CDLL(None).pthread_exit(None)


socks[3].close()  # the thread binds the port afresh
server = fork(preforking, socks[0])
parent = fork(inherited, socks[1])
fork(sender, socks[2], pair[0])
fork(receiver, pair[1])
fork(threaded)
fork(leader_gone, socks[4])
fork(forever, socks[5], v6)
for s in everything:
    s.close()
for _ in range(5):
    os.read(ready_r, 1)
print(low, low + LOADS - 1, flush=True)

for line in sys.stdin:
    if line.strip() == "fork":
        os.write(commands_w, b"f")
        os.read(ready_r, 1)
    elif line.strip() == "stop":
        os.kill(parent, signal.SIGKILL)
        os.waitpid(parent, 0)
    print("ok", flush=True)
os.killpg(0, signal.SIGKILL)
