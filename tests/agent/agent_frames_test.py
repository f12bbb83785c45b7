#!/usr/bin/python3
"""The agent daemon among misbehaving peers. It refuses malformed frames and keeps serving:
oversize, truncated, foreign, wrong-version, invalid fields and random bytes, while a silent client
holds a connection open. And an agent whose KDC never answers still answers within its probe time.

Usage: agent_frames_test.py REALM_FIXTURE_DIR KESTROVAD  (the directory of "krbrealm.py up ... --agent")
"""

import json
import os
import random
import socket
import struct
import sys
import tempfile
import time

import krbrealm

MAGIC = 0x4B535456
VERSION = 1
GET_USER = 6
VALIDATE = 1
REPLY = 0x100
BAD_REQUEST = 23
TIMEOUT = 10.0
MAX_PAYLOAD = 8192


def frame(message_type, payload, version=VERSION, length=None, magic=MAGIC):
    return struct.pack(">IHHI", magic, version, message_type, len(payload) if length is None else length) + payload


def text(value):
    data = value.encode() if isinstance(value, str) else value
    return struct.pack(">H", len(data)) + data


def get_user_payload(name):
    return text(name) + struct.pack(">i", 1)


def connect(path):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(TIMEOUT)
    s.connect(path)
    return s


def read_exact(s, n):
    """n bytes, or None when the agent closed the connection first."""
    data = b""
    while len(data) < n:
        try:
            chunk = s.recv(n - len(data))
        except ConnectionResetError:
            return None
        if not chunk:
            return None
        data += chunk
    return data


def read_reply(s):
    header = read_exact(s, 12)
    if header is None:
        return None
    magic, version, message_type, length = struct.unpack(">IHHI", header)
    assert (magic, version, message_type) == (MAGIC, VERSION, REPLY), header
    payload = read_exact(s, length)
    result, code, text_length = struct.unpack(">iiH", payload[:10])
    return result, code, payload[10:10 + text_length].decode()


def check_serving(path):
    with connect(path) as s:
        s.sendall(frame(GET_USER, get_user_payload("alice")))
        reply = read_reply(s)
    assert reply is not None and reply[0] == 0, reply


def expect_refusal_and_close(path, data, fragment):
    with connect(path) as s:
        s.sendall(data)
        reply = read_reply(s)
        assert reply is not None and reply[0] == BAD_REQUEST and fragment in reply[2], reply
        assert read_exact(s, 1) is None, "the connection stays open after a bad header"


def main(directory, kestrovad):
    with open(os.path.join(directory, "state.json")) as f:
        state = json.load(f)
    path = state["AGENT_SOCKET"]
    pid = state["AGENT_PID"]

    silent = connect(path)  # holds a connection and never speaks
    check_serving(path)

    expect_refusal_and_close(path, frame(GET_USER, b"", length=MAX_PAYLOAD + 1), "too long")
    expect_refusal_and_close(path, frame(GET_USER, b"", length=0xFFFFFFFF), "too long")
    expect_refusal_and_close(path, frame(GET_USER, get_user_payload("alice"), magic=0x47455420), "not a message")
    expect_refusal_and_close(path, frame(GET_USER, get_user_payload("alice"), version=2), "version 2")
    expect_refusal_and_close(path, frame(0x77, b""), "unknown message type")
    expect_refusal_and_close(path, frame(REPLY, b"\0" * 12), "not a request")
    with connect(path) as s:  # a payload of the largest length is read, then judged by its fields
        s.sendall(frame(GET_USER, get_user_payload("alice").ljust(MAX_PAYLOAD, b"\0")))
        reply = read_reply(s)
        assert reply is not None and reply[0] == BAD_REQUEST and "too long" not in reply[2], reply
    check_serving(path)

    # Truncated frames: the agent waits for the rest, then sees the end of the connection.
    for data in (frame(GET_USER, get_user_payload("alice"))[:5], frame(GET_USER, get_user_payload("alice"))[:-3],
                 frame(VALIDATE, b"", length=100) + b"x" * 10):
        with connect(path) as s:
            s.sendall(data)
        check_serving(path)

    # A payload that breaks a field's rules is refused; the connection goes on serving.
    with connect(path) as s:
        for bad in (get_user_payload("al\x1bice"), get_user_payload("a" * 257), text("alice"),
                    get_user_payload("alice") + b"\0", text("alice") + text(b"pass\0word")):
            message_type = VALIDATE if bad.endswith(b"word") else GET_USER
            s.sendall(frame(message_type, bad))
            reply = read_reply(s)
            assert reply is not None and reply[0] == BAD_REQUEST, (bad, reply)
        s.sendall(frame(GET_USER, get_user_payload("alice")))
        assert read_reply(s)[0] == 0
        s.sendall(frame(GET_USER, get_user_payload("a" * 256)))  # the longest name is a name
        assert read_reply(s)[0] != BAD_REQUEST

    rng = random.Random(20261206)
    for _ in range(200):
        with connect(path) as s:
            blob = bytes(rng.getrandbits(8) for _ in range(rng.randrange(1, 64)))
            if rng.random() < 0.5:
                blob = frame(rng.randrange(0, 8), blob)
            try:
                s.sendall(blob)
                s.shutdown(socket.SHUT_WR)
                while s.recv(4096):
                    pass
            except OSError:
                pass
    check_serving(path)
    silent.close()
    os.kill(pid, 0)  # still running
    probe_within_time_limit(kestrovad)
    print("agent_frames_test: ok")


class SilentRealm:
    """A realm whose KDC takes requests and never answers: a bound UDP port, a TCP port never accepted."""
    realm, domain = "SILENT.TEST", "silent.test"
    host_keytab = None

    def __init__(self, directory):
        self.udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.udp.bind(("127.0.0.1", 0))
        self.tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.tcp.bind(self.udp.getsockname())
        self.tcp.listen(16)
        self.conf = os.path.join(directory, "krb5.conf")
        with open(self.conf, "w") as f:
            f.write("[realms]\n SILENT.TEST = {\n kdc = 127.0.0.1:%d\n }\n" % self.udp.getsockname()[1])

    def env(self):
        return dict(os.environ, KRB5_CONFIG=self.conf)


def closed_within(s, seconds):
    """Whether the agent closes s within seconds (and not long before)."""
    started = time.monotonic()
    s.settimeout(seconds + 1.0)
    try:
        closed = s.recv(1) == b""
    except (socket.timeout, ConnectionResetError):
        closed = False
    return closed and seconds * 0.5 <= time.monotonic() - started <= seconds + 1.0


def probe_within_time_limit(kestrovad):
    """Against a KDC that never answers: the probe's limit, and the connection limits of the
    settings, each from its own key."""
    with tempfile.TemporaryDirectory(prefix="agent-probe-") as directory:
        agent = krbrealm.Agent(SilentRealm(directory), os.path.join(directory, "daemon"),
                               os.path.join(directory, "kestrova.conf"), binary=kestrovad,
                               extra_settings={"agent.probe.timeout.ms": "500", "agent.idle.timeout.ms": "2000",
                                               "agent.first.request.timeout.ms": "400"})
        agent.start()
        try:
            started = time.monotonic()
            with connect(agent.socket_path) as s:
                s.sendall(frame(GET_USER, get_user_payload("alice")))
                reply = read_reply(s)
            elapsed = time.monotonic() - started
            assert reply is not None and reply[0] != 0 and elapsed < 1.5, (reply, elapsed)
            with connect(agent.socket_path) as s:
                assert closed_within(s, 0.4), "a connection that asks nothing is closed at the first-request limit"
            with connect(agent.socket_path) as s:
                s.sendall(frame(GET_USER, get_user_payload("al\x1bice")))
                assert read_reply(s)[0] == BAD_REQUEST
                assert closed_within(s, 2.0), "a connection silent after its answer is closed at the idle limit"
        finally:
            agent.stop()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
