"""The agent and the set-user-ID binary against hostile local users: a flood of connections while root
validates, a cache helper its caller holds, traces and stops, wrong passwords in a row, keytabs a user
controls, settings behind a writable directory or a link, control characters that would forge records."""
import contextlib
import ctypes
import fcntl
import json
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import time

import krbrealm
import sandbox

sandbox.enter_private_namespace()

VALIDATE, AUTHENTICATE, GET_USER = 1, 4, 6
LIMITS = {"agent.kdc.timeout.ms": "3000", "agent.max.connections": "24", "agent.root.connections": "8",
          "agent.max.connections.per.uid": "8", "agent.admission.wait.ms": "300", "agent.idle.timeout.ms": "1000",
          "agent.first.request.timeout.ms": "1000"}
FLOODERS = [62001, 62002, 62003, 62004]


def text(value):
    return struct.pack(">H", len(value.encode())) + value.encode()


def ask(path, message_type, payload, timeout=10.0):
    """The result of one request on a fresh connection (None if none came), the socket, and the seconds."""
    start, s, data = time.monotonic(), socket.socket(socket.AF_UNIX, socket.SOCK_STREAM), b""
    s.settimeout(timeout)
    s.connect(path)
    with contextlib.suppress(OSError):  # a refusal may close the connection before the request is in
        s.sendall(struct.pack(">IHHI", 0x4B535456, 1, message_type, len(payload)) + payload)
    with contextlib.suppress(OSError):
        data = s.recv(16, socket.MSG_WAITALL)
    return (struct.unpack(">i", data[12:])[0] if len(data) == 16 else None), s, time.monotonic() - start


def as_user(uid, work):
    """Runs work() as uid in a child; returns a function that waits for it and gives work's value."""
    reader, writer = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            os.setgroups([]), os.setresgid(uid, uid, uid), os.setresuid(uid, uid, uid)
            value = work()
        except Exception as e:  # the parent's check shows it
            value = repr(e)
        os.write(writer, json.dumps(value).encode())
        os._exit(0)
    os.close(writer)

    def result():
        os.waitpid(pid, 0)  # the few bytes of the value fit in the pipe
        with os.fdopen(reader) as f:
            return json.loads(f.read())
    return result


def wait_until(predicate):
    """predicate's first true value, polled for at most 2 s (longer than the limits here)."""
    for _ in range(200):
        if predicate():
            break
        time.sleep(0.01)
    return predicate()


def main():
    binary, kestrovad = sys.argv[1], sys.argv[2]
    check = sandbox.Checker()
    with sandbox.Sandbox() as box:
        with krbrealm.realm_and_agent(box.root, kestrovad, LIMITS) as (realm, agent):
            run_tests(box, realm, agent, binary, kestrovad, check)
    check.finish()


def run_tests(box, realm, agent, binary, kestrovad, check):
    path = agent.socket_path
    mallory = box.add_user("mallory")
    alice = box.add_user("alice")
    right, wrong = text("alice") + text(krbrealm.ALICE_PASSWORD), text("alice") + text("Not-Her-Passw0rd")

    # Four users take every connection they can, each asking once; root's validations stay quick.
    def flood():  # every connection stays open on the user's side
        results = [ask(path, GET_USER, text("alice") + struct.pack(">i", 1)) for _ in range(40)]
        return [sum(r[0] == 0 for r in results), sum(r[0] == 23 for r in results)]
    flooders = [as_user(uid, flood) for uid in FLOODERS]
    slowest = 0.0
    for _ in range(30):  # root's validations sampled through the flood
        slowest = max(slowest, ask(path, VALIDATE, right)[2])
        time.sleep(0.1)
    counts = [f() for f in flooders]
    check.true("root's validations under the flood answer within 1.5 s", slowest < 1.5, "%.2f s" % slowest)
    with open(agent.log_path) as f:
        log = f.read().splitlines()
    records = [sum("uid=%d " % uid in line and "outcome=refused" in line for line in log) for uid in FLOODERS]
    check.true("each flooder served, refused, and its refusals logged once a burst", all(
        isinstance(c, list) and c[0] > 0 and r <= 2 < c[1] for c, r in zip(counts, records)), (counts, records))

    # The cap exactly: a user holding its 8 answered connections waits for a ninth, then is told
    # so; one slot given back lets the next in.
    def at_the_cap():
        held = [ask(path, GET_USER, text("alice") + struct.pack(">i", 1)) for _ in range(8)]
        ninth = ask(path, GET_USER, text("alice") + struct.pack(">i", 1))
        held[0][1].close()
        tenth = ask(path, GET_USER, text("alice") + struct.pack(">i", 1))
        return [r[0] for r in held] + [ninth[0], ninth[2] >= 0.25, tenth[0]]
    check.equal("the eighth connection is served, the ninth refused after the wait, then a freed slot serves",
                as_user(mallory.pw_uid, at_the_cap)(), [0] * 8 + [23, True, 0])

    # Wrong passwords of one account from one user wait longer each time; root's never wait.
    tried = as_user(mallory.pw_uid, lambda: [ask(path, VALIDATE, wrong)[2] for _ in range(3)])()
    check.true("mallory's wrong passwords wait 0.5 s, then 1 s; root's never", tried[1] >= 0.45 and tried[2] >= 0.95
               and ask(path, VALIDATE, wrong)[2] < 0.4, tried)

    # The credential-cache helper, held on a lock of its caller's cache: she can neither trace it nor
    # hold the agent by stopping it.
    cache = os.path.join(mallory.pw_dir, "cache")

    def held():
        with open(cache, "w") as f:
            fcntl.lockf(f, fcntl.LOCK_EX)
            return ask(path, AUTHENTICATE, text("FILE:" + cache))[::2]
    asked = as_user(mallory.pw_uid, held)
    children = ["pgrep", "-P", str(agent.pid)]
    helper = int(wait_until(lambda: subprocess.run(children, capture_output=True, text=True).stdout) or 0)
    check.true("the helper runs from a file its caller cannot read",
               helper and os.stat("/proc/%d/exe" % helper).st_mode & 0o444 == 0)

    def attack():
        libc = ctypes.CDLL(None, use_errno=True)
        traced = libc.ptrace(16, helper, 0, 0) == 0  # PTRACE_ATTACH
        os.kill(helper, signal.SIGSTOP)
        return [traced, os.access("/proc/%d/mem" % helper, os.R_OK)]
    check.equal("mallory cannot attach to the helper nor read its memory", as_user(mallory.pw_uid, attack)(),
                [False, False])
    result, took = asked()
    check.true("the stopped helper is killed at the time limit and the caller answered",
               result == 19 and took < 4.0 and wait_until(lambda: not os.path.exists("/proc/%d" % helper)),
               (result, took))

    # Host keytabs a user controls, or a FIFO, are not used; the agent starts and refuses to validate.
    owned = os.path.join(box.root, "mallory.keytab")
    shutil.copy(realm.host_keytab, owned)
    os.chown(owned, mallory.pw_uid, mallory.pw_gid)
    os.mkfifo(os.path.join(box.root, "fifo.keytab"))
    for name, reason in (("mallory.keytab", "not owned by root"), ("fifo.keytab", "not a regular file")):
        other = krbrealm.Agent(realm, os.path.join(box.root, name + ".run", "daemon"),
                               os.path.join(box.root, name + ".conf"), binary=kestrovad,
                               log_path=os.path.join(box.root, name + ".log"),
                               extra_settings={"agent.host.keytab": os.path.join(box.root, name),
                                               "agent.host.keytab.required": "true"})
        try:
            other.start()
            result = ask(other.socket_path, VALIDATE, right)[0]
            other.stop()
        except krbrealm.RealmError as e:  # the agent did not start
            result = repr(e)
        with open(other.log_path) as f:
            record = next((line for line in f if "host keytab " in line), "")
        check.true(name + ": not used, validations refused", result == 25 and reason in record and "not used" in record,
                   (result, record))

    # Settings behind a directory others may write, behind a link, or logging into a user's directory.
    box.add_user("bob")
    chosen = os.path.join(mallory.pw_dir, "chosen.log")
    passwd = box.install(binary, "passwd")
    for what, prepare, reason in (
            ("group-writable directory", lambda: os.chmod("/etc/kestrova", 0o775),
             "settings file /etc/kestrova/kestrova.conf: directory /etc/kestrova: writable by group or others"),
            ("linked settings file", lambda: os.rename(box.settings_path, "/etc/kestrova/real.conf") or
             os.symlink("real.conf", box.settings_path),
             "settings file /etc/kestrova/kestrova.conf: a symbolic link; not used"),
            ("log file in a user's directory", lambda: None, "log file %s: directory %s: not owned by root" % (
                chosen, mallory.pw_dir))):
        box.write_settings({"log.file": chosen})
        prepare()
        r = box.run([passwd, "bob"], user="alice")
        check.true(what + ": refused, and no file made", reason in r.err and not os.path.exists(chosen), r.err)
        os.chmod("/etc/kestrova", 0o755)
        if os.path.islink(box.settings_path):
            os.unlink(box.settings_path)

    # The tool connects as its caller; control characters in names never forge a record.
    box.write_settings({"domain": realm.domain, "agent.socket": path})
    box.clear_records()
    r = box.run([passwd], user="alice", answers=[("Old password: ", None)])
    forger = os.path.join(box.bindir, "tarvenko\n2026-01-01T00:00:00 passwd[1]: cli 2: forged")
    os.symlink(passwd, forger)
    box.run([passwd, "x\n2026-01-01T00:00:00 passwd[1]: cli 2: forged"], user="alice")
    box.run([forger, "-V", "alice\nforged"], user="alice", answers=[("Password: ", "x")])
    with open(box.log_path) as f, open(agent.log_path) as g:
        lines, agent_log = f.read().splitlines(), g.read()
    check.true("alice's passwd reached the agent as alice", "uid=%d " % alice.pw_uid in agent_log, r)
    check.true("every record is one line", len(lines) >= 3 and all(
        re.match(r"\d{4}-\d\d-\d\dT", line) and "forged" not in line[:40] for line in lines), lines)


main()
