"""A private world for whole-program tests of the set-user-ID binary.

enter_private_namespace() re-executes the script inside `unshare -m`; Sandbox bind-mounts a copy of
/etc over /etc, installs the binary set-user-ID root under a chosen name, adds users with the
system's useradd and runs programs as them through setpriv on a pseudo-terminal. run() returns the
status, standard output, standard error and what reached the terminal (the prompts) apart. Every
wait is bounded; only processes started here are ended, by their PID.
"""

import errno
import fcntl
import os
import pty
import pwd
import selectors
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time

_MARK = "KESTROVA_SANDBOXED"


def enter_private_namespace():
    """Re-executes this script in a private mount namespace (needs root). Returns inside it."""
    if os.environ.get(_MARK) == "1":
        return
    if os.geteuid() != 0:
        print("SKIP: whole-program tests need root (a private mount namespace)", file=sys.stderr)
        sys.exit(77)
    env = dict(os.environ)
    env[_MARK] = "1"
    os.execvpe("unshare", ["unshare", "-m", "--propagation", "private", sys.executable] + sys.argv, env)


# An answer (or the value of a callable answer) that types nothing: for answers that only act,
# such as sending the program a signal at a prompt.
SILENT = object()


class Result:
    def __init__(self, status, out, err, tty, echo=None):
        self.status, self.out, self.err, self.tty = status, out, err, tty
        # Whether the terminal echoes input after the program has ended (its mode restored).
        self.echo = echo

    def __repr__(self):
        return "Result(status=%r, out=%r, err=%r, tty=%r, echo=%r)" % (self.status, self.out, self.err, self.tty,
                                                                        self.echo)


class Sandbox:
    def __init__(self):
        if os.environ.get(_MARK) != "1":
            raise RuntimeError("call enter_private_namespace() first")
        self.root = tempfile.mkdtemp(prefix="kestrova-sandbox-")
        os.chmod(self.root, 0o755)
        self.etc = os.path.join(self.root, "etc")
        subprocess.run(["cp", "-a", "/etc", self.etc], check=True)
        subprocess.run(["mount", "--bind", self.etc, "/etc"], check=True)
        self.planted = []
        self.bindir = os.path.join(self.root, "bin")
        os.mkdir(self.bindir, 0o755)
        os.makedirs("/etc/kestrova", exist_ok=True)
        self.settings_path = "/etc/kestrova/kestrova.conf"
        self.log_path = os.path.join(self.root, "records.log")
        self.clear_records()
        self.write_settings({})

    def close(self):
        for directory in reversed(self.planted):
            subprocess.run(["umount", "-l", directory], check=False)
        subprocess.run(["umount", "-l", "/var/lib/extrausers"], check=False, stderr=subprocess.DEVNULL)
        subprocess.run(["umount", "-l", "/etc"], check=False)
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # --- the installed program -------------------------------------------------------------

    def install(self, binary, name):
        """Copies binary into the sandbox as `name`, owned by root, mode 4755. Returns its path."""
        path = os.path.join(self.bindir, name)
        shutil.copyfile(binary, path)
        os.chown(path, 0, 0)
        os.chmod(path, 0o4755)
        return path

    def write_settings(self, settings, log_file=True):
        """Writes /etc/kestrova/kestrova.conf from a dict (values None are left out)."""
        lines = []
        if log_file:
            lines.append("log.file: %s" % self.log_path)
            lines.append("log.level: 0")
        for key, value in settings.items():
            if value is not None:
                lines.append("%s: %s" % (key, value))
        with open(self.settings_path, "w") as f:
            f.write("\n".join(lines) + "\n")
        os.chmod(self.settings_path, 0o644)

    def records(self):
        """The log records written so far, each without its time stamp and process prefix."""
        try:
            with open(self.log_path) as f:
                return [line.rstrip("\n").split("]: ", 1)[-1] for line in f]
        except FileNotFoundError:
            return []

    def clear_records(self):
        """Empties the log file; it is writable by all, as the tarvenko personality drops privileges."""
        with open(self.log_path, "w"):
            pass
        os.chmod(self.log_path, 0o666)

    # --- users -----------------------------------------------------------------------------

    def add_user(self, name, password=None, extra=()):
        subprocess.run(["useradd", "-m", "-d", os.path.join(self.root, "home", name)] + list(extra) + [name],
                       check=True, stdout=subprocess.DEVNULL)
        if password is not None:
            subprocess.run(["chpasswd"], input=("%s:%s\n" % (name, password)).encode(), check=True)
        return pwd.getpwnam(name)

    def set_hash(self, name, hash_text):
        subprocess.run(["usermod", "-p", hash_text, name], check=True)

    def shadow_line(self, name):
        return _line_of("/etc/shadow", name)

    def passwd_line(self, name):
        return _line_of("/etc/passwd", name)

    def remove_shadow_entry(self, name):
        with open("/etc/shadow") as f:
            lines = [line for line in f if not line.startswith(name + ":")]
        with open("/etc/shadow", "w") as f:
            f.writelines(lines)

    def use_extra_users(self, passwd_lines, shadow_lines):
        """Adds a second name service (files under /var/lib/extrausers, private to this namespace)
        holding accounts that /etc/passwd and /etc/shadow do not have."""
        extra = os.path.join(self.root, "extrausers")
        os.mkdir(extra, 0o755)
        for name, lines in (("passwd", passwd_lines), ("shadow", shadow_lines), ("group", [])):
            with open(os.path.join(extra, name), "w") as f:
                f.writelines(line + "\n" for line in lines)
        subprocess.run(["mount", "--bind", extra, "/var/lib/extrausers"], check=True)
        with open("/etc/nsswitch.conf") as f:
            text = f.read()
        out = []
        for line in text.splitlines():
            if line.startswith("passwd:") or line.startswith("shadow:"):
                line = line.split(":")[0] + ":         files extrausers"
            out.append(line)
        with open("/etc/nsswitch.conf", "w") as f:
            f.write("\n".join(out) + "\n")

    def plant(self, directory, files):
        """Overlays directory, in this namespace only, with files {name: source}, each added or
        replacing the file of that name; the overlay stays until the sandbox ends."""
        upper, work = tempfile.mkdtemp(dir=self.root), tempfile.mkdtemp(dir=self.root)
        os.chmod(upper, os.stat(directory).st_mode & 0o7777)
        for name, source in files.items():
            shutil.copyfile(source, os.path.join(upper, name))
            os.chmod(os.path.join(upper, name), 0o755)
        subprocess.run(["mount", "-t", "overlay", "overlay", "-o",
                        "lowerdir=%s,upperdir=%s,workdir=%s" % (directory, upper, work), directory], check=True)
        self.planted.append(directory)

    def plant_audit_and_caches(self):
        """Stand-ins for libaudit (tests/lib/audit_standin.cc) and for the cache commands nscd and
        sss_cache; audit_records() and cache_calls() return what they were sent."""
        library = subprocess.run(["ldconfig", "-p"], capture_output=True, text=True).stdout
        path = [line.split(" => ")[1] for line in library.splitlines() if line.strip().startswith("libaudit.so.1 ")][0]
        self.plant(os.path.dirname(os.path.realpath(path)), {"libaudit.so.1": os.environ["KESTROVA_AUDIT_STANDIN"]})
        with open("/etc/kestrova/audit-records", "w"):
            os.chmod("/etc/kestrova/audit-records", 0o666)  # senders that gave up root write here too
        script = os.path.join(self.root, "cache-standin")
        with open(script, "w") as f:
            f.write('#!/bin/sh\necho "$0 $* ${KESTROVA_PROBE-}" >> /etc/kestrova/cache-calls\n')
        self.plant("/usr/sbin", {"nscd": script, "sss_cache": script})

    def audit_records(self):
        return _lines("/etc/kestrova/audit-records")

    def cache_calls(self):
        return _lines("/etc/kestrova/cache-calls")

    # --- running ---------------------------------------------------------------------------

    def run(self, argv, user=None, answers=(), env=None, timeout=20.0, stdin_tty=True):
        """Runs argv (as `user` when given) and returns a Result.

        user: a name, a numeric user ID without an account, or None for root.
        answers: a list of (prompt, answer) pairs; each answer is typed once its prompt has appeared
        on the terminal. An answer of None closes the terminal input (end of input); a callable is
        called with the program's PID and its return value is the answer.
        """
        command = list(argv)
        if isinstance(user, int):
            # A user ID that the user database does not know.
            command = ["setpriv", "--reuid=%d" % user, "--regid=%d" % user, "--clear-groups", "--"] + command
        elif user is not None:
            entry = pwd.getpwnam(user)
            command = ["setpriv", "--reuid=%d" % entry.pw_uid, "--regid=%d" % entry.pw_gid, "--init-groups",
                       "--"] + command
        master, slave = pty.openpty()
        base_env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "LANG": "C"}
        if env:
            base_env.update(env)

        def make_controlling():
            os.setsid()
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)

        proc = subprocess.Popen(command, stdin=slave if stdin_tty else subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=base_env, preexec_fn=make_controlling, close_fds=True,
                                pass_fds=(slave,))
        os.close(slave)
        return self._converse(proc, master, list(answers), timeout, stdin_tty)

    @staticmethod
    def _converse(proc, master, answers, timeout, stdin_tty):
        channels = {master: b"", proc.stdout.fileno(): b"", proc.stderr.fileno(): b""}
        selector = selectors.DefaultSelector()
        for fd in channels:
            selector.register(fd, selectors.EVENT_READ)
        deadline = time.monotonic() + timeout
        answered = 0
        open_fds = set(channels)
        while open_fds and time.monotonic() < deadline:
            for key, _ in selector.select(timeout=0.1):
                fd = key.fd
                try:
                    data = os.read(fd, 4096)
                except OSError as e:
                    if e.errno != errno.EIO:
                        raise
                    data = b""
                if not data:
                    selector.unregister(fd)
                    open_fds.discard(fd)
                    continue
                channels[fd] += data
            while answered < len(answers):
                prompt, answer = answers[answered]
                # Prompts appear on the terminal, or on standard error for programs that write
                # them there (su through its PAM conversation).
                seen = (channels[master].decode(errors="replace").count(prompt) +
                        channels[proc.stderr.fileno()].decode(errors="replace").count(prompt))
                if seen < sum(1 for p, _ in answers[:answered + 1] if p == prompt):
                    break
                target = master if stdin_tty else proc.stdin.fileno()
                if callable(answer):
                    answer = answer(proc.pid)
                if answer is SILENT:
                    pass
                elif answer is None:
                    if stdin_tty:
                        os.write(master, b"\x04")
                    else:
                        proc.stdin.close()
                else:
                    os.write(target, answer.encode() + b"\n")
                answered += 1
            if proc.poll() is not None and master in open_fds and not _readable(master):
                # The program has ended; the terminal stays open as long as we hold the master.
                selector.unregister(master)
                open_fds.discard(master)
        try:
            # The streams close a moment before the exit status is there to be collected.
            proc.wait(timeout=max(0.5, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            pass
        if proc.poll() is None:
            proc.kill()
            proc.wait(timeout=5)
            raise TimeoutError("program did not end within %.0f s; tty=%r err=%r" %
                               (timeout, channels[master], channels[proc.stderr.fileno()]))
        proc.wait(timeout=5)
        tty = channels[master].decode(errors="replace").replace("\r\n", "\n")
        echo = bool(termios.tcgetattr(master)[3] & termios.ECHO)  # the master reads the terminal's mode
        result = Result(proc.returncode, channels[proc.stdout.fileno()].decode(errors="replace"),
                        channels[proc.stderr.fileno()].decode(errors="replace"), tty, echo)
        os.close(master)
        proc.stdout.close()
        proc.stderr.close()
        return result


def _line_of(path, name):
    with open(path) as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.rstrip("\n")
    return None


def _lines(path):
    try:
        with open(path) as f:
            return f.read().splitlines()
    except FileNotFoundError:
        return []


def system_crypt(password, setting):
    """The system's own crypt (libcrypt), for independent checks of stored hashes."""
    import ctypes
    lib = ctypes.CDLL("libcrypt.so.1")
    lib.crypt.restype = ctypes.c_char_p
    lib.crypt.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    result = lib.crypt(password.encode(), setting.encode())
    return result.decode() if result else None


def _readable(fd):
    sel = selectors.DefaultSelector()
    sel.register(fd, selectors.EVENT_READ)
    ready = sel.select(timeout=0)
    sel.close()
    return bool(ready)


class Checker:
    """Collects failures of one test script so that every check runs and all are reported."""

    def __init__(self):
        self.failures = []
        self.count = 0

    def equal(self, what, actual, expected):
        self.count += 1
        if actual != expected:
            self.failures.append("%s:\n  expected %r\n  actual   %r" % (what, expected, actual))

    def true(self, what, condition, detail=""):
        self.count += 1
        if not condition:
            self.failures.append("%s %s" % (what, detail))

    def finish(self):
        for failure in self.failures:
            print("FAIL: " + failure)
        print("%d passed, %d failed" % (self.count - len(self.failures), len(self.failures)))
        sys.exit(1 if self.failures else 0)
