"""The passwd personality against a hostile caller and a hostile /etc: resource limits, signals at
the prompt, unusable input, linked backups, busy locks, and the scheme of new hashes."""
import os
import signal
import subprocess
import sys
import time

import sandbox
from sandbox import system_crypt

sandbox.enter_private_namespace()

OLD, NEW, RENEW = "Old password: ", "New password: ", "Re-enter new password: "
DONE = "passwd: password updated successfully\n"


def read(path):
    with open(path, "rb") as f:
        return f.read()


def main():
    binary = sys.argv[1]
    check = sandbox.Checker()
    with sandbox.Sandbox() as box:
        passwd = box.install(binary, "passwd")
        tarvenko = box.install(binary, "tarvenko")
        # Not joined: every account is local (tarvenko gets a domain for its one run below).
        local = {"agent.socket": os.path.join(box.root, "no-agent"), "agent.connect.timeout.ms": "200"}
        box.write_settings(local)
        box.add_user("alice", "alice-0")  # the system's scheme: yescrypt, which needs 16 MB to check
        box.add_user("su-helper", "helper-pw-1")
        os.chmod("/etc/shadow", 0o640)
        password = ["alice-0"]

        def change(what, prefix=(), expect_status=0, expect_err=DONE, answers=None):
            """alice changes her password under prefix; returns the Result after the common checks."""
            new = "alice-%d" % (len(password))
            before = read("/etc/shadow")
            r = box.run(list(prefix) + [passwd], user="alice",
                        answers=answers or [(OLD, password[-1]), (NEW, new), (RENEW, new)])
            check.equal(what + ": status", r.status, expect_status)
            check.equal(what + ": stderr", r.err, expect_err)
            check.true(what + ": terminal echoes again", r.echo)
            check.true(what + ": no temporary file", not any(os.path.exists("/etc/shadow" + s) for s in ("+", "-+")))
            check.true(what + ": lock released", expect_status != 0 or not os.path.exists("/etc/shadow.lock"))
            if r.status == 0:
                stored = box.shadow_line("alice").split(":")[1]
                check.equal(what + ": the system's crypt verifies the new hash", system_crypt(new, stored), stored)
                check.equal(what + ": the backup is the whole old file", read("/etc/shadow-"), before)
                st, bk = os.stat("/etc/shadow"), os.stat("/etc/shadow-")
                check.equal(what + ": the backup has the file's owner and mode",
                            (bk.st_uid, bk.st_gid, bk.st_mode, bk.st_nlink), (st.st_uid, st.st_gid, st.st_mode, 1))
                password.append(new)
            else:
                check.true(what + ": the account file is intact", read("/etc/shadow") == before)
            return r

        # Limits of the caller: lifted for the write, except memory, whose lack is named. A hard limit
        # stays where the process lacks CAP_SYS_RESOURCE (containers): the write then fails whole.
        change("file size limit below the file", ["prlimit", "--fsize=200:unlimited", "--"])
        size = len(read("/etc/shadow"))
        change("file size limit just above the file", ["prlimit", "--fsize=%d:unlimited" % (size + 20), "--"])
        change("descriptor limit", ["prlimit", "--nofile=6:4096", "--"])
        raisable = subprocess.run(["capsh", "--has-p=cap_sys_resource"], stderr=subprocess.DEVNULL).returncode == 0
        change("hard file size limit", ["prlimit", "--fsize=200", "--"], *(() if raisable else (
            6, "passwd: cannot update password\npasswd: backup /etc/shadow- not made: write of /etc/shadow-+ failed: "
               "File too large\n")))
        change("memory limit", ["prlimit", "--as=20000000", "--"], 6,
               "passwd: out of memory while checking the old password\n", [(OLD, password[-1])])

        # Signals at the prompt: the terminal is restored, then the signal ends the run.
        for signo in (signal.SIGQUIT, signal.SIGHUP, signal.SIGALRM, signal.SIGUSR1):
            change("%s at the prompt" % signal.Signals(signo).name, (), -signo, "",
                   [(OLD, lambda pid, signo=signo: os.kill(pid, signo) or sandbox.SILENT)])

        # Hard- and symbolically linked backups, a backup readable by all, a planted temporary name.
        os.unlink("/etc/shadow-")
        os.link("/etc/shadow", "/etc/shadow-")
        change("hard-linked backup")
        os.chmod("/etc/shadow-", 0o644)
        change("backup readable by all")
        with open(os.path.join(box.root, "victim"), "w") as f:
            f.write("not a backup\n")
        os.symlink(os.path.join(box.root, "victim"), "/etc/shadow+")
        os.unlink("/etc/shadow-")
        os.symlink(os.path.join(box.root, "victim"), "/etc/shadow-")
        change("symlinked backup and temporary name")
        check.equal("the link target is untouched", read(os.path.join(box.root, "victim")), b"not a backup\n")

        # A busy lock names its holder; a lock file without a process ID names the file to remove.
        holder = subprocess.Popen(["sleep", "60"])
        for what, content, line in (
                ("busy lock", str(holder.pid), "/etc/shadow is locked by process %d (sleep); try again later" % holder.pid),
                ("lock without a process ID", "garbage", "the lock file /etc/shadow.lock holds no process ID; if no "
                 "program is changing /etc/shadow, remove /etc/shadow.lock")):
            with open("/etc/shadow.lock", "w") as f:
                f.write(content)
            change(what, (), 6, "passwd: cannot open /etc/shadow\npasswd: %s\npasswd: cannot update password\n" % line)
            check.equal(what + ": the lock file stays", open("/etc/shadow.lock").read(), content)
            os.unlink("/etc/shadow.lock")
        holder.kill()
        holder.wait()

        # Piped lines with a NUL byte or too long are refused whole, in both personalities.
        before = read("/etc/shadow")
        for what, data, message in (
                ("NUL byte", b"abc\0def\nabc\0def\n", "passwd: the password contains a NUL byte; it was not used\n"),
                ("overlong line", b"p" * 5000 + b"\n",
                 "passwd: the password is longer than 1023 characters; it was not used\n")):
            for user, argv in (("alice", [passwd]), ("root", [passwd, "alice"])):
                command = argv if user == "root" else ["setpriv", "--reuid=alice", "--regid=alice", "--init-groups",
                                                       "--"] + argv
                p = subprocess.run(command, input=data, capture_output=True, timeout=20, start_new_session=True)
                check.true("%s piped by %s" % (what, user), p.returncode == 27 and p.stderr.decode().endswith(message),
                           repr((p.returncode, p.stderr)))
            box.write_settings(dict(local, domain="example.test"))
            p = subprocess.run(["setpriv", "--reuid=alice", "--regid=alice", "--init-groups", "--", tarvenko, "-V",
                                "alice"], input=data, capture_output=True, timeout=20, start_new_session=True)
            box.write_settings(local)
            check.true("%s piped to tarvenko" % what, p.returncode == 18 and b"it was not used" in p.stderr,
                       repr(p.stderr))
        check.equal("refused lines leave the file", read("/etc/shadow"), before)

        # The scheme of new hashes, proved by the system's crypt and by su.
        with open("/etc/login.defs", "a") as f:
            f.write("ENCRYPT_METHOD SHA256\n")
        box.add_user("bob")
        for setting, prefix in (("md5", "$1$"), ("sha512", "$6$"), ("yescrypt", "$y$"), ("system", "$5$")):
            box.write_settings(dict(local, **{"passwd.hash.scheme": setting}))
            box.set_hash("bob", "")
            new = "bob-" + setting
            r = box.run([passwd, "bob"], user="root", answers=[(NEW, new), (RENEW, new)])
            stored = box.shadow_line("bob").split(":")[1]
            check.true("scheme %s" % setting, r.status == 0 and stored.startswith(prefix), repr((r, stored)))
            check.equal("scheme %s: the system's crypt" % setting, system_crypt(new, stored), stored)
            r = box.run(["su", "-c", "id -un", "bob"], user="su-helper", answers=[("Password: ", new)])
            check.equal("scheme %s: su accepts the password" % setting, (r.status, r.out), (0, "bob\n"))
        # Never weaker than the stored scheme: md5 configured, alice keeps yescrypt.
        box.write_settings(dict(local, **{"passwd.hash.scheme": "md5"}))
        change("md5 configured on a yescrypt account")
        check.true("yescrypt kept", box.shadow_line("alice").split(":")[1].startswith("$y$"))
    check.finish()


main()
