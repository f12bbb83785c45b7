#!/usr/bin/python3
"""kestrovad and its settings: --check-config names a missing file, a malformed line by its number
and a file others may write, and accepts a good one (the realm's KDC from krb5.conf); the agent does
not start on a file others may write; SIGHUP makes a running agent read its settings again, and
keeps them when the file has become unsafe.

Usage: agentd_settings_test.py KESTROVAD    (needs root: the agent trusts only files root owns)
"""
import os
import signal
import subprocess
import sys
import tempfile
import time

TIMEOUT = 30


def run(argv, env):
    return subprocess.run(argv, env=env, capture_output=True, text=True, timeout=TIMEOUT)


def wait_for(predicate, what):
    deadline = time.monotonic() + TIMEOUT
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def read(path):
    try:
        with open(path) as f:
            return f.read()
    except FileNotFoundError:
        return ""


def main(kestrovad):
    if os.geteuid() != 0:
        print("SKIP: needs root (the agent uses only settings files that root owns)")
        return 77
    with tempfile.TemporaryDirectory(prefix="kestrova-agentd-settings-") as work:
        os.chmod(work, 0o755)
        krb5 = os.path.join(work, "krb5.conf")
        with open(krb5, "w") as f:
            f.write("[libdefaults]\n dns_lookup_kdc = false\n[realms]\n SETTINGS.TEST = {\n  kdc = 127.0.0.1:1\n }\n")
        conf = os.path.join(work, "kestrova.conf")
        socket_path = os.path.join(work, "run", "daemon")
        os.mkdir(os.path.dirname(socket_path), 0o755)
        logs = [os.path.join(work, "first.log"), os.path.join(work, "second.log")]
        env = dict(os.environ, KRB5_CONFIG=krb5, KESTROVA_CONF=conf)

        def write(log, extra=(), mode=0o644, realm="domain: settings.test"):
            lines = [realm, "agent.socket: " + socket_path, "log.file: " + log,
                     "log.level: 0"] + list(extra)
            with open(conf, "w") as f:
                f.write("\n".join(lines) + "\n")
            os.chmod(conf, mode)

        r = run([kestrovad, "--check-config"], env)
        assert r.returncode == 78 and conf + ": no such file" in r.stderr, r

        write(logs[0])
        r = run([kestrovad, "--check-config"], env)
        assert r.returncode == 0, r
        assert "KDCs of realm SETTINGS.TEST from krb5.conf: 127.0.0.1:1" in r.stdout, r.stdout

        # realm auto: what is missing, then what was found, once krb5.conf has a default realm.
        write(logs[0], ["agent.host.keytab: " + os.path.join(work, "none.keytab")], realm="realm: auto")
        r = run([kestrovad, "--check-config"], env)
        assert r.returncode == 78 and "no default realm, which the settings' realm auto needs" in r.stderr, r
        with open(krb5, "a") as f:
            f.write("[libdefaults]\n default_realm = SETTINGS.TEST\n")
        r = run([kestrovad, "--check-config"], env)
        assert r.returncode == 0 and "realm auto (the default realm" in r.stdout, r
        for found in ("default realm SETTINGS.TEST", "KDCs of realm SETTINGS.TEST from krb5.conf: 127.0.0.1:1",
                      "none.keytab: missing (validations are not proved against the KDC)"):
            assert found in r.stdout, (found, r.stdout)

        write(logs[0], ["no colon here"])
        r = run([kestrovad, "--check-config"], env)
        assert r.returncode == 78 and "line 5: no ':'" in r.stderr, r

        # Files someone other than root could change: writable by the group, by others, or owned
        # by another user.
        for mode, owner, words in ((0o664, 0, "writable by group or others (mode 0664)"),
                                   (0o646, 0, "writable by group or others (mode 0646)"),
                                   (0o644, 65534, "not owned by root (owner uid 65534)")):
            write(logs[0], mode=mode)
            os.chown(conf, owner, 0)
            for argv in ([kestrovad, "--check-config"], [kestrovad, "--foreground"]):
                r = run(argv, env)
                assert r.returncode == 78 and words + "; not used" in r.stderr, (words, r)
            os.chown(conf, 0, 0)

        write(logs[0])
        agent = subprocess.Popen([kestrovad, "--foreground"], env=env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            wait_for(lambda: os.path.exists(socket_path), "the agent's socket")
            write(logs[1])
            agent.send_signal(signal.SIGHUP)
            wait_for(lambda: "settings re-read from " + conf in read(logs[1]), "the record of the re-read")
            assert agent.poll() is None, "SIGHUP ended the agent"
            os.chmod(conf, 0o664)  # a re-read of a refused file keeps the settings (and the log) in force
            agent.send_signal(signal.SIGHUP)
            wait_for(lambda: "serving on with the settings in force" in read(logs[1]), "the refused re-read")
        finally:
            agent.terminate()
            status = agent.wait(timeout=TIMEOUT)
        assert status == 0, status
        assert "stopped" in read(logs[1]) and "stopped" not in read(logs[0])
    print("ok: missing, malformed and unsafe settings refused; SIGHUP re-reads the settings")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
