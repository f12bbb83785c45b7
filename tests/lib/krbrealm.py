#!/usr/bin/python3
"""A throwaway MIT Kerberos realm, and the directory agent in front of it, for tests and the demo.

Everything lives in one work directory, made readable for everyone (the agent's credential-cache
helper runs as the calling user and reads krb5.conf there, so put it under /tmp); the daemons listen
on 127.0.0.1 only, on free ports. Only processes started here are stopped, by their PID; every wait
is bounded. Needs krb5-kdc, krb5-admin-server, krb5-user and root.

Realm(workdir).start() creates the realm KESTROVA.TEST with the policies "standard" (minlength 8,
history 3) and "minlife" (the same and a minimum life of a day) and the principals of
STANDARD_PRINCIPALS (all with preauthentication; helpdesk may set any password but */admin ones,
norights none). check_password(name, password) is the independent check: kinit with it.
Agent(realm, socket_path, settings_path, extra_settings, binary) writes the agent's settings and
starts kestrovad in the foreground. realm_and_agent(workdir, kestrovad) is both, for a with block.

Command line (CTest fixtures, benchmarks): krbrealm.py up DIR [--agent KESTROVAD] starts both
detached and keeps their PIDs in DIR/state.json; krbrealm.py down DIR stops them, removes DIR and
fails when the agent's output holds sanitizer reports.
"""

import contextlib
import copy
import json
import os
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

REALM = "KESTROVA.TEST"
DOMAIN = "kestrova.test"

ALICE_PASSWORD = "Alice-Passw0rd"
HELPDESK_PASSWORD = "Helpdesk-Passw0rd"
NORIGHTS_PASSWORD = "NoRights-Passw0rd"
DISABLED_PASSWORD = "Disabled-Passw0rd"
EXPIRED_PASSWORD = "Expired-Passw0rd"
PWEXPIRED_PASSWORD = "PwExpired-Passw0rd"
ADMIN_PASSWORD = "Admin-Passw0rd"
MASTER_PASSWORD = "Master-Passw0rd"

STANDARD_PRINCIPALS = [
    # name, password, policy, options
    ("alice", ALICE_PASSWORD, "standard", ()),
    ("helpdesk", HELPDESK_PASSWORD, None, ()),
    ("norights", NORIGHTS_PASSWORD, None, ()),
    ("disabled", DISABLED_PASSWORD, None, ("-allow_tix",)),
    ("expired", EXPIRED_PASSWORD, None, ("-expire", "2001-01-01")),
    ("pwexpired", PWEXPIRED_PASSWORD, None, ("-pwexpire", "2001-01-01")),
    ("root/admin", ADMIN_PASSWORD, None, ()),
]

HOST_PRINCIPAL = "host/agent." + DOMAIN

START_TIMEOUT = 10.0
STOP_TIMEOUT = 5.0
COMMAND_TIMEOUT = 30.0


class RealmError(Exception):
    pass


def _free_port():
    """A port free on 127.0.0.1 for both TCP and UDP."""
    for _ in range(50):
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as tcp:
            tcp.bind(("127.0.0.1", 0))
            port = tcp.getsockname()[1]
            try:
                with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as udp:
                    udp.bind(("127.0.0.1", port))
            except OSError:
                continue
            return port
    raise RealmError("no free port on 127.0.0.1")


def _wait_for_tcp(port, deadline, process=None):
    while time.monotonic() < deadline:
        if process is not None and process.poll() is not None:
            raise RealmError("a daemon ended at start (status %s)" % process.returncode)
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.05)
    raise RealmError("nothing listens on 127.0.0.1:%d" % port)


def _stop_pid(pid, expected_name=None, timeout=STOP_TIMEOUT):
    """Stop one process we started: SIGTERM, then SIGKILL; bounded. Skips a reused PID."""
    if pid is None or pid <= 0:
        return
    if expected_name is not None:
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                if expected_name.encode() not in f.read():
                    return
        except OSError:
            return
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            done, _ = os.waitpid(pid, os.WNOHANG)
            if done == pid:
                return
        except ChildProcessError:
            # Not our child (started by an earlier "up"): poll for its end. Its new parent may
            # leave it a zombie for a while; a zombie has ended.
            if _ended(pid):
                return
        time.sleep(0.02)
    try:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
    except (ProcessLookupError, ChildProcessError):
        pass


def _ended(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] in ("Z", "X")
    except (OSError, IndexError):
        return True


class Realm:
    def __init__(self, workdir, realm=REALM, domain=DOMAIN):
        self.workdir = os.path.abspath(workdir)
        self.realm = realm
        self.domain = domain
        self.krb5_conf = os.path.join(self.workdir, "krb5.conf")
        self.kdc_conf = os.path.join(self.workdir, "kdc.conf")
        self.host_keytab = os.path.join(self.workdir, "host.keytab")
        self.ports = {}
        self.kdc_pid = None
        self.kadmind_pid = None
        self._kdc = None
        self._kadmind = None
        self.detach = False

    # Configuration -------------------------------------------------------------------------
    def env(self):
        env = dict(os.environ)
        env.update({
            "KRB5_CONFIG": self.krb5_conf,
            "KRB5_KDC_PROFILE": self.kdc_conf,
            "KRB5RCACHEDIR": os.path.join(self.workdir, "rcache"),
            "KRB5CCNAME": "FILE:" + os.path.join(self.workdir, "ccache-default"),
        })
        env.pop("KRB5_TRACE", None)
        return env

    def _write_config(self):
        w = self.workdir
        p = self.ports
        with open(self.kdc_conf, "w") as f:
            f.write(f"""[kdcdefaults]
 kdc_listen = 127.0.0.1:{p['kdc']}
 kdc_tcp_listen = 127.0.0.1:{p['kdc']}

[realms]
 {self.realm} = {{
  database_name = {w}/db/principal
  acl_file = {w}/kadm5.acl
  key_stash_file = {w}/db/stash
  kdc_listen = 127.0.0.1:{p['kdc']}
  kdc_tcp_listen = 127.0.0.1:{p['kdc']}
  kadmind_listen = 127.0.0.1:{p['kadmind']}
  kpasswd_listen = 127.0.0.1:{p['kpasswd']}
  max_life = 10h
  max_renewable_life = 7d
  master_key_type = aes256-cts-hmac-sha1-96
  supported_enctypes = aes256-cts-hmac-sha1-96:normal
  default_principal_flags = +preauth
 }}

[logging]
 kdc = FILE:{w}/kdc.log
 admin_server = FILE:{w}/kadmind.log
""")
        self._write_client_config([p["kdc"]], [p["kpasswd"]])
        with open(os.path.join(w, "kadm5.acl"), "w") as f:
            f.write(f"helpdesk@{self.realm} C */admin@{self.realm}\n")
            f.write(f"helpdesk@{self.realm} c *@{self.realm}\n")
            f.write(f"*/admin@{self.realm} *\n")
        # Programs running as other users (the agent's credential-cache helper) read these.
        for path in (self.krb5_conf, self.kdc_conf):
            os.chmod(path, 0o644)
        os.chmod(w, 0o755)

    def _write_client_config(self, kdcs, kpasswds, tcp=False):
        servers = "".join(" kdc = 127.0.0.1:%d\n" % port for port in kdcs)
        servers += "".join(" kpasswd_server = 127.0.0.1:%d\n" % port for port in kpasswds)
        with open(self.krb5_conf, "w") as f:
            f.write(f"""[libdefaults]
 default_realm = {self.realm}
 dns_lookup_kdc = false
 dns_lookup_realm = false
 rdns = false
 ignore_acceptor_hostname = true
 noaddresses = true
 permitted_enctypes = aes256-cts-hmac-sha1-96
{" udp_preference_limit = 1" + chr(10) if tcp else ""}
[realms]
 {self.realm} = {{
{servers} admin_server = 127.0.0.1:{self.ports['kadmind']}
 }}

[domain_realm]
 .{self.domain} = {self.realm}
 {self.domain} = {self.realm}
""")
        os.chmod(self.krb5_conf, 0o644)

    def view(self, name, kdcs, kpasswds, tcp=False, silent=0):
        """This realm as seen by clients that know the KDCs and password servers at the given ports,
        tried in that order: for an agent in front of silent or spoofed servers. silent: that many
        SilentServers (kept in .silent; close_silent() ends them) listed first in both lists; tcp:
        every message over TCP, as with a directory whose replies are too large for UDP."""
        other = copy.copy(self)
        other.silent = [SilentServer() for _ in range(silent)]
        first = [server.port for server in other.silent]
        other.krb5_conf = os.path.join(self.workdir, name + ".krb5.conf")
        other._write_client_config(first + list(kdcs), first + list(kpasswds), tcp)
        return other

    def close_silent(self):
        for server in getattr(self, "silent", []):
            server.close()

    def _run(self, argv, input_text=None):
        result = subprocess.run(argv, env=self.env(), input=input_text, capture_output=True, text=True,
                                timeout=COMMAND_TIMEOUT)
        if result.returncode != 0:
            raise RealmError("%s failed (%d): %s%s" % (" ".join(argv), result.returncode, result.stdout,
                                                       result.stderr))
        return result.stdout

    # Life cycle ----------------------------------------------------------------------------
    def start(self, populate=True):
        os.makedirs(os.path.join(self.workdir, "db"), exist_ok=True)
        os.makedirs(os.path.join(self.workdir, "rcache"), exist_ok=True)
        self.ports = {"kdc": _free_port(), "kadmind": _free_port(), "kpasswd": _free_port()}
        self._write_config()
        self._run(["kdb5_util", "create", "-s", "-r", self.realm, "-P", MASTER_PASSWORD])
        self.start_kdc()
        self._kadmind = self._spawn(["kadmind", "-nofork", "-r", self.realm, "-P",
                                     os.path.join(self.workdir, "kadmind.pid")], "kadmind.out")
        self.kadmind_pid = self._kadmind.pid
        deadline = time.monotonic() + START_TIMEOUT
        _wait_for_tcp(self.ports["kpasswd"], deadline, self._kadmind)
        self.kadmin("modprinc +allow_tgs_req kadmin/changepw")
        # The host's own key, with which the agent proves the KDC genuine.
        self.kadmin("addprinc -clearpolicy -randkey " + HOST_PRINCIPAL)
        self.kadmin("ktadd -k %s %s" % (self.host_keytab, HOST_PRINCIPAL))
        if populate:
            self.populate()

    def _spawn(self, argv, output_name):
        out = open(os.path.join(self.workdir, output_name), "ab")
        try:
            return subprocess.Popen(argv, env=self.env(), stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=subprocess.STDOUT, start_new_session=self.detach)
        finally:
            out.close()

    def start_kdc(self):
        self._kdc = self._spawn(["krb5kdc", "-n", "-r", self.realm, "-P", os.path.join(self.workdir, "kdc.pid")],
                                "kdc.out")
        self.kdc_pid = self._kdc.pid
        _wait_for_tcp(self.ports["kdc"], time.monotonic() + START_TIMEOUT, self._kdc)

    def stop_kdc(self):
        _stop_pid(self.kdc_pid, "krb5kdc")
        self.kdc_pid = None
        self._kdc = None

    def stop(self):
        _stop_pid(self.kadmind_pid, "kadmind")
        self.kadmind_pid = None
        self._kadmind = None
        self.stop_kdc()

    def populate(self):
        self.kadmin("addpol -minlength 8 -history 3 standard")
        self.kadmin('addpol -minlength 8 -history 3 -minlife "1 day" minlife')
        for name, password, policy, options in STANDARD_PRINCIPALS:
            self.add_principal(name, password, policy=policy, options=options)

    # Administration ------------------------------------------------------------------------
    def kadmin(self, command):
        """Runs one kadmin.local command; raises RealmError when kadmin.local complains."""
        result = subprocess.run(["kadmin.local", "-r", self.realm, "-q", command], env=self.env(),
                                capture_output=True, text=True, timeout=COMMAND_TIMEOUT)
        complaints = [line for line in result.stderr.splitlines()
                      if line.strip() and not line.startswith("Authenticating as principal")]
        if result.returncode != 0 or complaints:
            raise RealmError("kadmin.local -q %r: %s" % (command, "\n".join(complaints) or result.returncode))
        return result.stdout

    def add_principal(self, name, password, policy=None, options=()):
        words = ["addprinc", "+requires_preauth"]
        if policy:
            words += ["-policy", policy]
        else:
            words += ["-clearpolicy"]
        words += list(options)
        words += ["-pw", password, name]
        return self.kadmin(" ".join(_quote(w) for w in words))

    def kinit(self, name, password, ccache):
        self._run(["kinit", "-c", ccache, name], input_text=password + "\n")

    def check_password(self, name, password):
        ccache = os.path.join(self.workdir, "check-%d-%d" % (os.getpid(), time.monotonic_ns()))
        try:
            result = subprocess.run(["kinit", "-c", ccache, name], env=self.env(), input=password + "\n",
                                    capture_output=True, text=True, timeout=COMMAND_TIMEOUT)
            return result.returncode == 0
        finally:
            if os.path.exists(ccache):
                os.unlink(ccache)


class SilentServer:
    """A KDC or password server on 127.0.0.1 that takes every TCP connection and UDP datagram and
    never answers (the kernel completes the connections; nothing reads them)."""

    def __init__(self):
        self.port = _free_port()
        self._tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._tcp.bind(("127.0.0.1", self.port))
        self._tcp.listen(512)
        self._udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self._udp.bind(("127.0.0.1", self.port))

    def close(self):
        self._tcp.close()
        self._udp.close()


class SlowServer:
    """A KDC or password server on 127.0.0.1 that passes each UDP datagram and TCP frame on to the
    server at target after delay seconds, and its answer back. close() drops what still waits and
    returns once nothing is in flight."""

    def __init__(self, target, delay):
        self.target, self.delay = target, delay
        self.port = _free_port()
        self._stop = threading.Event()
        self._threads = []
        self._tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._tcp.bind(("127.0.0.1", self.port))
        self._tcp.listen(64)
        self._tcp.settimeout(0.1)
        self._udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self._udp.bind(("127.0.0.1", self.port))
        self._udp.settimeout(0.1)
        self._spawn(self._accept_loop)
        self._spawn(self._datagram_loop)

    def _spawn(self, target, *args):
        thread = threading.Thread(target=target, args=args, daemon=True)
        thread.start()
        self._threads.append(thread)

    def _accept_loop(self):
        while not self._stop.is_set():
            with contextlib.suppress(socket.timeout, OSError):
                client, _ = self._tcp.accept()
                self._spawn(self._relay_stream, client)

    def _relay_stream(self, client):
        with client, contextlib.suppress(OSError, struct.error):
            client.settimeout(5)
            header = client.recv(4, socket.MSG_WAITALL)
            body = client.recv(struct.unpack(">I", header)[0], socket.MSG_WAITALL)
            if self._stop.wait(self.delay):
                return
            with socket.create_connection(("127.0.0.1", self.target), timeout=5) as server:
                server.sendall(header + body)
                header = server.recv(4, socket.MSG_WAITALL)
                client.sendall(header + server.recv(struct.unpack(">I", header)[0], socket.MSG_WAITALL))

    def _datagram_loop(self):
        while not self._stop.is_set():
            with contextlib.suppress(socket.timeout, OSError):
                data, sender = self._udp.recvfrom(65536)
                self._spawn(self._relay_datagram, data, sender)

    def _relay_datagram(self, data, sender):
        if self._stop.wait(self.delay):
            return
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as server, contextlib.suppress(OSError):
            server.settimeout(5)
            server.sendto(data, ("127.0.0.1", self.target))
            self._udp.sendto(server.recv(65536), sender)

    def close(self):
        self._stop.set()
        for _ in range(2):  # a connection taken just before the stop adds one more
            for thread in list(self._threads):
                thread.join(10)
        self._tcp.close()
        self._udp.close()


def _quote(word):
    if word and all(c.isalnum() or c in "-_/@.+:" for c in word):
        return word
    # kadmin's own command-line splitting knows double quotes only.
    if '"' in word:
        raise RealmError("cannot quote %r for kadmin" % word)
    return '"' + word + '"'


class Agent:
    def __init__(self, realm, socket_path, settings_path, extra_settings=None, binary=None, log_path=None):
        self.realm = realm
        self.socket_path = os.path.abspath(socket_path)
        self.settings_path = os.path.abspath(settings_path)
        self.extra_settings = dict(extra_settings or {})
        self.binary = binary or os.environ.get("KESTROVAD", "kestrovad")
        self.log_path = log_path or os.path.join(os.path.dirname(self.settings_path), "kestrovad.log")
        self.pid = None
        self._process = None
        self.detach = False

    def settings(self):
        values = {
            "domain": self.realm.domain,
            "realm": self.realm.realm,
            "agent.socket": self.socket_path,
            "agent.connect.timeout.ms": "2000",
            "agent.reply.timeout.ms": "20000",
            "agent.kdc.timeout.ms": "10000",
            "agent.probe.timeout.ms": "2000",
            "agent.host.keytab": self.realm.host_keytab,
            "log.file": self.log_path,
            "log.level": "1",
        }
        values.update(self.extra_settings)
        return {key: value for key, value in values.items() if value is not None}

    def write_settings(self):
        with open(self.settings_path, "w") as f:
            for key, value in self.settings().items():
                f.write("%s: %s\n" % (key, value))
        os.chmod(self.settings_path, 0o644)

    def env(self):
        env = self.realm.env()
        env["KESTROVA_CONF"] = self.settings_path
        return env

    def start(self):
        directory = os.path.dirname(self.socket_path)
        os.makedirs(directory, mode=0o755, exist_ok=True)
        os.chmod(directory, 0o755)
        self.write_settings()
        out = open(self.log_path + ".out", "wb")
        try:
            self._process = subprocess.Popen([self.binary, "--foreground"], env=self.env(),
                                             stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                             start_new_session=self.detach)
        finally:
            out.close()
        self.pid = self._process.pid
        deadline = time.monotonic() + START_TIMEOUT
        while time.monotonic() < deadline:
            if self._process.poll() is not None:
                raise RealmError("kestrovad ended at start (status %s); see %s.out" % (self._process.returncode,
                                                                                      self.log_path))
            try:
                with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
                    s.settimeout(0.5)
                    s.connect(self.socket_path)
                    return
            except OSError:
                time.sleep(0.02)
        self.stop()
        raise RealmError("kestrovad did not listen on %s in time" % self.socket_path)

    def stop(self):
        _stop_pid(self.pid, "kestrovad")
        self.pid = None
        self._process = None


@contextlib.contextmanager
def realm_and_agent(workdir, kestrovad, extra_settings=None):
    """A started realm and agent under workdir for the duration of a with block; both stopped after."""
    realm = Realm(os.path.join(workdir, "realm"))
    realm.start()
    try:
        agent = Agent(realm, os.path.join(workdir, "run", "daemon"), os.path.join(workdir, "agent.conf"),
                      binary=kestrovad, extra_settings=extra_settings)
        agent.start()
        try:
            yield realm, agent
        finally:
            agent.stop()
    finally:
        realm.stop()


# Command line -------------------------------------------------------------------------------
def _state_path(directory):
    return os.path.join(os.path.abspath(directory), "state.json")


def sanitizer_reports(path):
    """Lines of AddressSanitizer/UndefinedBehaviorSanitizer reports in a daemon's output file."""
    try:
        with open(path, errors="replace") as f:
            return [line.rstrip() for line in f if "Sanitizer" in line or "runtime error:" in line]
    except OSError:
        return []


def _down(directory):
    """Stops what "up" started; returns the sanitizer reports found in the agent's output."""
    path = _state_path(directory)
    if not os.path.exists(path):
        return []
    with open(path) as f:
        state = json.load(f)
    _stop_pid(state.get("AGENT_PID"), "kestrovad")
    _stop_pid(state.get("KADMIND_PID"), "kadmind")
    _stop_pid(state.get("KDC_PID"), "krb5kdc")
    os.unlink(path)
    return sanitizer_reports(state["AGENT_LOG"] + ".out") if state.get("AGENT_LOG") else []


def _up(directory, agent_binary):
    _down(directory)
    directory = os.path.abspath(directory)
    if os.path.isdir(os.path.join(directory, "realm")):
        subprocess.run(["rm", "-rf", "--one-file-system", os.path.join(directory, "realm")], check=True,
                       timeout=COMMAND_TIMEOUT)
    os.makedirs(directory, exist_ok=True)
    os.chmod(directory, 0o755)
    realm = Realm(os.path.join(directory, "realm"))
    realm.detach = True
    state = {}
    try:
        realm.start()
        env = realm.env()
        state.update({"KRB5_CONFIG": env["KRB5_CONFIG"], "KRB5_KDC_PROFILE": env["KRB5_KDC_PROFILE"],
                      "KRB5RCACHEDIR": env["KRB5RCACHEDIR"], "REALM": realm.realm, "DOMAIN": realm.domain,
                      "KDC_PORT": realm.ports["kdc"], "KPASSWD_PORT": realm.ports["kpasswd"],
                      "KDC_PID": realm.kdc_pid, "KADMIND_PID": realm.kadmind_pid})
        if agent_binary:
            agent = Agent(realm, os.path.join(directory, "run", "daemon"), os.path.join(directory, "kestrova.conf"),
                          binary=agent_binary)
            agent.detach = True
            agent.start()
            state.update({"KESTROVA_CONF": agent.settings_path, "AGENT_SOCKET": agent.socket_path,
                          "AGENT_PID": agent.pid, "AGENT_LOG": agent.log_path})
    finally:
        # Saved even on failure, so that "down" stops whatever did start.
        state.setdefault("KDC_PID", realm.kdc_pid)
        state.setdefault("KADMIND_PID", realm.kadmind_pid)
        with open(_state_path(directory), "w") as f:
            json.dump(state, f, indent=1)


def main(argv):
    import argparse
    parser = argparse.ArgumentParser(description="A throwaway Kerberos realm and directory agent.")
    sub = parser.add_subparsers(dest="command", required=True)
    up = sub.add_parser("up")
    up.add_argument("dir")
    up.add_argument("--agent", help="path of kestrovad; without it only the realm starts")
    down = sub.add_parser("down")
    down.add_argument("dir")
    args = parser.parse_args(argv)
    if args.command == "up":
        try:
            _up(args.dir, args.agent)
        except (RealmError, OSError, subprocess.SubprocessError) as error:
            print("krbrealm: %s" % error, file=sys.stderr)
            _down(args.dir)
            return 1
    elif args.command == "down":
        reports = _down(args.dir)
        subprocess.run(["rm", "-rf", "--one-file-system", args.dir], check=False, timeout=COMMAND_TIMEOUT)
        if reports:
            print("krbrealm: the agent's output holds sanitizer reports:\n" + "\n".join(reports), file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
