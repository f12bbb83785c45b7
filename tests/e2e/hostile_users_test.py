"""The agent and the set-user-ID binary against hostile local users: a flood of connections from
several users while root validates, a credential-cache helper its caller holds, tries to trace and stops,
wrong passwords tried in a row, host keytabs a user controls, settings reached through a writable
directory or a link, and control characters in names meant to forge log records."""
import ctypes
import fcntl
import json
import os
import re
import shutil
import signal
import socket
import struct
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
    """The result of one request on a fresh connection, the open socket, and the seconds it took."""
    start = time.monotonic()
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(timeout)
    s.connect(path)
    try:
        s.sendall(struct.pack(">IHHI", 0x4B535456, 1, message_type, len(payload)) + payload)
    except OSError:  # refused at once: the answer may still be there to read
        pass
    data = b""
    while len(data) < 16:
        try:
            chunk = s.recv(16 - len(data))
        except OSError:
            chunk = b""
        if not chunk:
            return None, s, time.monotonic() - start
        data += chunk
    return struct.unpack(">i", data[12:16])[0], s, time.monotonic() - start


def as_user(uid, work):
    """Runs work() as uid in a child; returns a function that waits for the child and gives work's value."""
    reader, writer = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(reader)
        try:
            os.setgroups([])
            os.setresgid(uid, uid, uid)
            os.setresuid(uid, uid, uid)
            os.write(writer, json.dumps(work()).encode())
        except Exception as e:  # the parent's check shows it
            os.write(writer, json.dumps(repr(e)).encode())
        finally:
            os._exit(0)
    os.close(writer)

    def result():
        with os.fdopen(reader) as f:
            value = f.read()
        os.waitpid(pid, 0)
        return json.loads(value) if value else None
    return result


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
    def flood():
        answered, refused, held = 0, 0, []
        for _ in range(40):
            result, s, _ = ask(path, GET_USER, text("alice") + struct.pack(">i", 1))
            answered, refused = answered + (result == 0), refused + (result == 23)
            held.append(s)
        return [answered, refused]
    flooders = [as_user(uid, flood) for uid in FLOODERS]
    slowest = 0.0
    for _ in range(30):  # root's validations sampled through the flood
        slowest = max(slowest, ask(path, VALIDATE, right)[2])
        time.sleep(0.1)
    counts = [f() for f in flooders]
    check.true("every flooder ran", all(isinstance(c, list) for c in counts), counts)
    check.true("root's validations under the flood answer within 1.5 s", slowest < 1.5, "%.2f s" % slowest)
    with open(agent.log_path) as f:
        log = f.read().splitlines()
    for uid, (answered, refused) in zip(FLOODERS, [c if isinstance(c, list) else [0, 0] for c in counts]):
        records = sum("uid=%d " % uid in line and "outcome=refused" in line for line in log)
        check.true("uid %d: served, refused, and its refusals logged once a burst" % uid,
                   answered > 0 and records <= 2 < refused, (answered, refused, records))

    # Wrong passwords of one account from one user wait longer each time; root's never wait.
    tried = as_user(mallory.pw_uid, lambda: [ask(path, VALIDATE, wrong)[2] for _ in range(3)])()
    check.true("mallory's wrong passwords wait 0.5 s, then 1 s", tried[1] >= 0.45 and tried[2] >= 0.95, tried)
    check.true("root's wrong password does not wait", ask(path, VALIDATE, wrong)[2] < 0.4)

    # The credential-cache helper: its caller can neither trace it nor hold the agent by stopping it.
    # Her cache is locked by herself: the helper waits on the lock.
    cache = os.path.join(mallory.pw_dir, "cache")
    with open(cache, "w") as f:
        f.write("held")
    os.chown(cache, mallory.pw_uid, mallory.pw_gid)

    def held():
        with open(cache, "r+") as f:
            fcntl.lockf(f, fcntl.LOCK_EX)
            return ask(path, AUTHENTICATE, text("FILE:" + cache))[::2]
    asked = as_user(mallory.pw_uid, held)
    helper = None
    for _ in range(500):
        helper = next((int(p) for p in os.listdir("/proc") if p.isdigit() and child_of(int(p), agent.pid)), None)
        if helper:
            break
        time.sleep(0.01)
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
    for _ in range(100):  # the helper is reaped within a second of the limit
        if not os.path.exists("/proc/%d" % helper):
            break
        time.sleep(0.01)
    check.true("the stopped helper is killed at the time limit and the caller answered",
               result in (19, 22) and took < 4.0 and not os.path.exists("/proc/%d" % helper), (result, took))

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
    mine = os.path.join(mallory.pw_dir, "mine.conf")

    def link_settings():
        shutil.copy(box.settings_path, mine)
        os.chown(mine, mallory.pw_uid, mallory.pw_gid)
        os.unlink(box.settings_path)
        os.symlink(mine, box.settings_path)
    for what, prepare, reason in (
            ("group-writable directory", lambda: os.chmod("/etc/kestrova", 0o775),
             "settings file /etc/kestrova/kestrova.conf: directory /etc/kestrova: writable by group or others"),
            ("linked settings file", link_settings,
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
    with open(box.log_path) as f:
        lines = f.read().splitlines()
    check.true("alice's passwd reached the agent as alice", any("uid=%d " % alice.pw_uid in line for line in
                                                                 open(agent.log_path)), r)
    check.true("every record is one line", len(lines) >= 2 and all(re.match(r"\d{4}-\d\d-\d\dT", line)
                                                                   and "forged" not in line[:40] for line in lines),
               lines)


def child_of(pid, parent):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return int(f.read().rsplit(")", 1)[1].split()[1]) == parent
    except (OSError, ValueError):
        return False


main()
