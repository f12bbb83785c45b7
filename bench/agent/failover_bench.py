#!/usr/bin/python3
"""The agent in front of silent servers, beside libkrb5 alone (kinit) in the same setting.

Every message over TCP (udp_preference_limit = 1), as with a directory whose replies are too large
for UDP; 0, 1 or 2 silent KDCs and password servers (accepting TCP, never answering) listed before
the live ones. For each: the first validation through a fresh agent, the median of 20 later ones,
an own change, an administrator's set, a get-user and a status, then one kinit through libkrb5.

Usage: failover_bench.py KESTROVAD   (needs root, krb5-kdc, krb5-admin-server, krb5-user)
"""

import os
import statistics
import struct
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "lib"))
import krbrealm  # noqa: E402

MAGIC, VERSION = 0x4B535456, 1
VALIDATE, CHANGE, SET, GET_USER = 1, 2, 3, 6


def text(value):
    return struct.pack(">H", len(value)) + value.encode()


def ask(path, message_type, payload):
    """The result of one request and the seconds it took."""
    begun = time.monotonic()
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.settimeout(120)
        s.connect(path)
        s.sendall(struct.pack(">IHHI", MAGIC, VERSION, message_type, len(payload)) + payload)
        length = struct.unpack(">IHHI", s.recv(12, socket.MSG_WAITALL))[3]
        result = struct.unpack(">i", s.recv(length, socket.MSG_WAITALL)[:4])[0]
    return result, time.monotonic() - begun


def validate(path):
    return ask(path, VALIDATE, text("alice") + text(krbrealm.ALICE_PASSWORD))


def row(label, result, seconds):
    print("| %-52s | %6s | %8.3f |" % (label, result, seconds))


def main(kestrovad):
    with tempfile.TemporaryDirectory(prefix="failover-bench-") as work:
        os.chmod(work, 0o755)
        realm = krbrealm.Realm(os.path.join(work, "realm"))
        realm.start()
        realm.add_principal("bench", "Bench-Passw0rd-0")
        try:
            print("| %-52s | %6s | %8s |" % ("operation", "result", "seconds"))
            print("|%s|%s|%s|" % ("-" * 54, "-" * 8, "-" * 10))
            password = "Bench-Passw0rd-0"
            for silent in (0, 1, 2):
                view = realm.view("bench%d" % silent, [realm.ports["kdc"]], [realm.ports["kpasswd"]], tcp=True,
                                  silent=silent)
                agent = krbrealm.Agent(view, os.path.join(work, "a%d" % silent, "daemon"),
                                       os.path.join(work, "a%d.conf" % silent), binary=kestrovad,
                                       extra_settings={"agent.kdc.timeout.ms": None, "agent.probe.timeout.ms": None,
                                                       "log.level": "2"})
                agent.start()
                try:
                    tag = "%d silent, TCP: " % silent
                    row(tag + "first validation", *validate(agent.socket_path))
                    later = [validate(agent.socket_path) for _ in range(20)]
                    row(tag + "validation, median of 20 later",
                        "/".join(sorted({str(r) for r, _ in later})), statistics.median(t for _, t in later))
                    new = "Bench-Passw0rd-%d" % (silent * 2 + 1)
                    row(tag + "own change", *ask(agent.socket_path, CHANGE, text("bench") + text(new) + text(password)))
                    password = "Bench-Passw0rd-%d" % (silent * 2 + 2)
                    row(tag + "administrator's set", *ask(agent.socket_path, SET, text("bench") + text(password) +
                                                          text("helpdesk") + text(krbrealm.HELPDESK_PASSWORD)))
                    row(tag + "get-user", *ask(agent.socket_path, GET_USER, text("alice") + struct.pack(">i", 1)))
                    begun = time.monotonic()
                    status = subprocess.run([kestrovad, "status"], env=agent.env(), capture_output=True, text=True,
                                            timeout=60)
                    row(tag + "kestrovad status (" + status.stdout.split("\n")[0] + ")", status.returncode,
                        time.monotonic() - begun)
                    env = dict(view.env(), KRB5_CONFIG=view.krb5_conf)
                    begun = time.monotonic()
                    kinit = subprocess.run(["kinit", "-c", os.path.join(work, "cc%d" % silent), "alice"], env=env,
                                           input=krbrealm.ALICE_PASSWORD + "\n", capture_output=True, text=True,
                                           timeout=120)
                    row(tag + "kinit through libkrb5 alone", kinit.returncode, time.monotonic() - begun)
                    if silent == 2:
                        print("\n" + status.stdout)
                finally:
                    agent.stop()
                    view.close_silent()
        finally:
            realm.stop()


if __name__ == "__main__":
    main(sys.argv[1])
