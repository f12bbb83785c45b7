#!/usr/bin/python3
"""Never a wrong answer about a password: random mixes of silent, slow and live KDCs and password
servers, short time limits, each run one change or set through a fresh agent; then kinit decides
whether the new password took. Result 0: it took; 24: either; any other: it did not take.

Usage: agent_consistency_test.py REALM_FIXTURE_DIR KESTROVAD  (the directory of "krbrealm.py up")
"""

import collections
import json
import os
import random
import socket
import struct
import sys
import threading

import krbrealm

LANES, RUNS = 5, 10
MAGIC, VERSION, CHANGE, SET, REPLY = 0x4B535456, 1, 2, 3, 0x100


def text(value):
    return struct.pack(">H", len(value)) + value.encode()


def request(path, message_type, fields):
    payload = b"".join(text(f) for f in fields)
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.settimeout(15)
        s.connect(path)
        s.sendall(struct.pack(">IHHI", MAGIC, VERSION, message_type, len(payload)) + payload)
        header = s.recv(12, socket.MSG_WAITALL)
        length = struct.unpack(">IHHI", header)[3]
        return struct.unpack(">i", s.recv(length, socket.MSG_WAITALL)[:4])[0]


def servers(rng, port, opened):
    """One to three servers in front of port, each silent, slow or the live one itself."""
    ports = []
    for _ in range(rng.randint(1, 3)):
        kind = rng.choice(("silent", "slow", "live"))
        if kind == "live":
            ports.append(port)
            continue
        server = krbrealm.SilentServer() if kind == "silent" else krbrealm.SlowServer(port, rng.uniform(0.1, 1.5))
        opened.append(server)
        ports.append(server.port)
    return ports


def lane(realm, kestrovad, number, tally, wrong):
    rng = random.Random(20261209 + number)
    user, candidates = "mix%d" % number, ["Mix-Passw0rd-%d-0" % number]
    realm.add_principal(user, candidates[0])
    for run in range(RUNS):
        # After a 24, the change may land late: either password may be the one in force.
        password = next((p for p in candidates if realm.check_password(user, p)), None)
        if password is None:
            wrong.append("mix%d-%d: no password the account may have works" % (number, run))
            return
        opened = []
        name = "mix%d-%d" % (number, run)
        view = realm.view(name, servers(rng, realm.ports["kdc"], opened), servers(rng, realm.ports["kpasswd"], opened),
                          tcp=rng.random() < 0.5)
        agent = krbrealm.Agent(view, os.path.join(realm.workdir, name, "daemon"),
                               os.path.join(realm.workdir, name + ".conf"), binary=kestrovad,
                               extra_settings={"agent.kdc.timeout.ms": str(rng.choice((600, 1200, 2500))),
                                               "agent.kdc.server.wait.ms": str(rng.choice((200, 500, 1000))),
                                               "agent.probe.timeout.ms": "500", "log.level": "0"})
        new = "Mix-Passw0rd-%d-%d" % (number, run + 1)
        agent.start()
        try:
            if rng.random() < 0.5:
                result = request(agent.socket_path, CHANGE, (user, new, password))
            else:
                result = request(agent.socket_path, SET, (user, new, "helpdesk", krbrealm.HELPDESK_PASSWORD))
        finally:
            # Nothing the agent sent is still on its way once both are gone.
            agent.stop()
            for server in opened:
                server.close()
        took = realm.check_password(user, new)
        tally[(result, took)] += 1
        if (result == 0 and not took) or (result not in (0, 24) and took):
            wrong.append("%s: result %d but the new password %s" % (name, result, "took" if took else "did not take"))
        candidates = [new] if took else [password, new] if result == 24 else [password]


def main(directory, kestrovad):
    with open(os.path.join(directory, "state.json")) as f:
        state = json.load(f)
    realm = krbrealm.Realm(os.path.dirname(state["KRB5_CONFIG"]))
    realm.ports = {"kdc": state["KDC_PORT"], "kpasswd": state["KPASSWD_PORT"], "kadmind": state["KPASSWD_PORT"]}
    tally, wrong = collections.Counter(), []
    lanes = [threading.Thread(target=lane, args=(realm, kestrovad, n, tally, wrong)) for n in range(LANES)]
    for thread in lanes:
        thread.start()
    for thread in lanes:
        thread.join(300)
    for (result, took), count in sorted(tally.items()):
        print("result %2d, new password %-9s %d" % (result, "took:" if took else "not taken:", count))
    print("runs: %d, inconsistent: %d" % (sum(tally.values()), len(wrong)))
    for line in wrong:
        print("WRONG: " + line)
    return 0 if not wrong and sum(tally.values()) == LANES * RUNS else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
