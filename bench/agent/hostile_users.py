#!/usr/bin/python3
"""How the agent holds up against hostile local users: root's validation time while 8 users hold
every connection they can get (each having asked one status), the log growth and agent CPU of one
user's reconnect flood, a busy non-root service, the time of wrong validations of one account by one user, and whether a
rejected password stays in the agent's memory.

Usage: hostile_users.py KESTROVAD [FLOOD_SECONDS]   (root; needs the KDC programs of krbrealm.py)
"""

import os
import socket
import struct
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "lib"))
import krbrealm  # noqa: E402

MAGIC, VERSION, VALIDATE, GET_USER, STATUS = 0x4B535456, 1, 1, 6, 7
USERS = [61001 + i for i in range(8)]
MARKER = "Rejected-Marker-7391"
LOOPS = int(os.environ.get("LOOPS", "32"))  # one user's reconnect loops, each: connect, wait for the agent's word, close


def frame(message_type, payload=b""):
    return struct.pack(">IHHI", MAGIC, VERSION, message_type, len(payload)) + payload


def text(value):
    data = value.encode()
    return struct.pack(">H", len(data)) + data


def reply(s):
    data = b""
    while len(data) < 12:
        chunk = s.recv(12 - len(data))
        if not chunk:
            return None
        data += chunk
    length = struct.unpack(">IHHI", data)[3]
    body = b""
    while len(body) < length:
        chunk = s.recv(length - len(body))
        if not chunk:
            return None
        body += chunk
    return struct.unpack(">i", body[:4])[0]


def ask(path, message_type, payload=b"", timeout=60.0):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.settimeout(timeout)
        s.connect(path)
        s.sendall(frame(message_type, payload))
        return reply(s)


def as_user(uid, work):
    """Forks; returns the child's pid to the parent, runs work() as uid in the child."""
    pid = os.fork()
    if pid:
        return pid
    code = 1
    try:
        os.setgroups([])
        os.setresgid(uid, uid, uid)
        os.setresuid(uid, uid, uid)
        work()
        code = 0
    finally:
        os._exit(code)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def holder(path, seconds):
    def work():
        held = []
        deadline = time.monotonic() + seconds
        while len(held) < 200 and time.monotonic() < deadline:
            try:
                s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                s.settimeout(3)
                s.connect(path)
                s.sendall(frame(STATUS))
                if reply(s) != 0:
                    s.close()
                    continue
                held.append(s)
            except OSError:
                pass
        time.sleep(max(0.0, deadline - time.monotonic()))
    return work


def flooder(path, seconds):
    def work():
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            try:
                with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
                    s.settimeout(10)
                    s.connect(path)
                    s.recv(64)
            except OSError:
                pass
    return work


def reap(pids):
    for pid in pids:
        os.waitpid(pid, 0)


def memory_holds(pid, needle):
    found = 0
    with open("/proc/%d/maps" % pid) as maps, open("/proc/%d/mem" % pid, "rb", 0) as mem:
        for line in maps:
            fields = line.split()
            if "r" not in fields[1] or (len(fields) > 5 and fields[5].startswith("[v")):
                continue
            start, end = (int(x, 16) for x in fields[0].split("-"))
            try:
                mem.seek(start)
                found += mem.read(end - start).count(needle)
            except (OSError, ValueError, OverflowError):
                pass
    return found


def main(kestrovad, flood_seconds=10.0):
    with tempfile.TemporaryDirectory(prefix="kestrova-bench-hostile-") as work:
        os.chmod(work, 0o755)
        with krbrealm.realm_and_agent(work, kestrovad) as (realm, agent):
            path, pid = agent.socket_path, agent.pid
            alice = text("alice") + text(krbrealm.ALICE_PASSWORD)
            start = time.monotonic()
            assert ask(path, VALIDATE, alice) == 0
            print("root validation, idle agent: %.3f s" % (time.monotonic() - start))

            # 8 users hold what they can, each connection having asked one status.
            pids = [as_user(uid, holder(path, 40)) for uid in USERS]
            time.sleep(5)
            start = time.monotonic()
            result = ask(path, VALIDATE, alice, timeout=60)
            print("root validation, 8 users holding connections: %.3f s (result %s)" % (time.monotonic() - start,
                                                                                      result))
            reap(pids)

            # One user's reconnect flood: log growth and agent CPU.
            size, cpu = os.path.getsize(agent.log_path), cpu_seconds(pid)
            pids = [as_user(USERS[0], flooder(path, flood_seconds)) for _ in range(LOOPS)]
            started = time.monotonic()
            reap(pids)
            elapsed = time.monotonic() - started
            grown, used = os.path.getsize(agent.log_path) - size, cpu_seconds(pid) - cpu
            print("reconnect flood (%d loops, %.0f s): log +%d bytes (%.2f MB/min), agent CPU %.2f s (%.2f of a core)"
                  % (LOOPS, elapsed, grown, grown * 60 / elapsed / 1e6, used, used / elapsed))

            # A non-root service with more callers at once than its user's connections.
            def service():
                results = []

                def caller():
                    for _ in range(25):
                        try:
                            results.append(ask(path, GET_USER, text("alice") + struct.pack(">i", 1)))
                        except OSError as e:
                            results.append(repr(e))
                start = time.monotonic()
                callers = [threading.Thread(target=caller) for _ in range(40)]
                for t in callers:
                    t.start()
                for t in callers:
                    t.join()
                print("one user's service, 40 callers at once, 1000 requests: %d answered, %d refused (%.1f s)"
                      % (results.count(0), results.count(23), time.monotonic() - start))
                sys.stdout.flush()
            reap([as_user(USERS[2], service)])

            # Wrong validations of one account by one user, and the residue of the rejected password.
            def wrong():
                start = time.monotonic()
                for _ in range(5):
                    ask(path, VALIDATE, text("alice") + text(MARKER))
                print("5 wrong validations of alice by uid %d: %.2f s" % (USERS[1], time.monotonic() - start))
                sys.stdout.flush()
            reap([as_user(USERS[1], wrong)])
            time.sleep(1)
            print("copies of the rejected password in the agent's memory: %d" % memory_holds(pid, MARKER.encode()))
            with open(agent.log_path, "rb") as f:
                print("log records: %d" % f.read().count(b"\n"))


if __name__ == "__main__":
    main(sys.argv[1], *(float(a) for a in sys.argv[2:]))
