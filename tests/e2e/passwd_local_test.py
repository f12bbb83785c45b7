"""The passwd personality on local accounts, installed set-user-ID in a private /etc."""
import os
import pwd
import signal
import subprocess
import sys
import threading
import time

import sandbox
from sandbox import system_crypt

sandbox.enter_private_namespace()

OLD, NEW, RENEW = "Old password: ", "New password: ", "Re-enter new password: "


def today():
    return int(time.time()) // 86400


def main():
    binary = sys.argv[1]
    check = sandbox.Checker()
    with sandbox.Sandbox() as box:
        passwd = box.install(binary, "passwd")
        # No agent and no domain here: every account is local.
        box.write_settings({"agent.socket": os.path.join(box.root, "no-agent"),
                            "agent.connect.timeout.ms": "200"})
        box.add_user("alice", "alice-old-1")
        box.set_hash("alice", system_crypt("alice-old-1", "$1$abcdefgh"))
        # Every field of a record but the hash and the day of the change must survive a change.
        subprocess.run(["chage", "-E", "30000", "-I", "9", "-W", "6", "-M", "400", "alice"], check=True)
        box.add_user("bob", "bob-old-1")
        box.add_user("carol")
        box.set_hash("carol", system_crypt("carolpw1", "xy"))
        box.add_user("dave")
        box.set_hash("dave", "")
        box.add_user("erin")
        box.remove_shadow_entry("erin")
        box.add_user("frank", "frank-old-1")  # the system's default scheme (yescrypt)
        box.add_user("gina", "gina-old-1")
        subprocess.run(["chage", "-E", "1", "gina"], check=True)
        box.add_user("hank", "hank-old-1")
        subprocess.run(["chage", "-d", str(today() - 100), "-M", "10", "-I", "5", "hank"], check=True)
        box.add_user("ivan", "ivan-old-1")
        subprocess.run(["usermod", "-L", "ivan"], check=True)
        box.add_user("judy", "judy-old-1")
        subprocess.run(["chage", "-d", str(today()), "-m", "5", "-E", "30001", "judy"], check=True)
        box.add_user("karl", "karl-old-1")
        box.add_user("lena", "lena-old-1")
        box.add_user("su-helper", "helper-pw-1")
        box.plant_audit_and_caches()

        # What the checkers say of the untouched files (the host's own system accounts may lack
        # their home directories, and erin lacks a shadow entry on purpose): a change must not
        # add anything to it.
        baseline = {}
        for tool in (["pwck", "-r"], ["grpck", "-r"]):
            r = subprocess.run(tool, capture_output=True, text=True)
            baseline[tool[0]] = (r.returncode, r.stdout, r.stderr)

        def run(args, user, answers=(), **kw):
            return box.run([passwd] + args, user=user, answers=answers, **kw)

        def expect(what, r, status, out, err):
            check.equal(what + ": status", r.status, status)
            check.equal(what + ": stdout", r.out, out)
            check.equal(what + ": stderr", r.err, err)

        def verify_change(what, name, password, old_shadow=None, in_passwd=False):
            """Independent checks of a change: the system's crypt, the day, pwck, grpck, backup, su."""
            line = box.passwd_line(name) if in_passwd else box.shadow_line(name)
            fields = line.split(":")
            if old_shadow is not None:
                kept = [i for i in range(len(fields)) if i != 1 and (in_passwd or i != 2)]
                check.equal(what + ": every other field of the record kept", [fields[i] for i in kept],
                            [old_shadow.split(":")[i] for i in kept])
            check.true(what + ": the system's crypt verifies the new hash",
                       system_crypt(password, fields[1]) == fields[1], line)
            if not in_passwd:
                check.equal(what + ": last change is today", fields[2], str(today()))
            for tool in (["pwck", "-r"], ["grpck", "-r"]):
                r = subprocess.run(tool, capture_output=True, text=True)
                check.equal(what + ": " + " ".join(tool) + " finds nothing new",
                            (r.returncode, r.stdout, r.stderr), baseline[tool[0]])
            backup = ("/etc/passwd-" if in_passwd else "/etc/shadow-")
            if old_shadow is not None:
                with open(backup) as f:
                    check.true(what + ": backup holds the old line", old_shadow + "\n" in f.read(), old_shadow)
            r = box.run(["su", "-c", "id -un", name], user="su-helper", answers=[("Password: ", password)])
            check.equal(what + ": su accepts the new password", (r.status, r.out), (0, name + "\n"))
            return fields[1]

        # The command line.
        expect("-h", run(["-h"], "alice"), 7, "", "usage: passwd [name]\n")
        r = run(["-v"], "alice")
        expect("-v", r, 7, "", "passwd: invalid option '-v'\nusage: passwd [name]\n")
        r = run(["-x"], "alice")
        check.equal("unknown option: status", r.status, 7)
        check.true("unknown option: scanner diagnostic, then ours",
                   r.err.endswith("passwd: invalid option '-?'\nusage: passwd [name]\n"), repr(r.err))
        expect("two operands", run(["alice", "bob"], "alice"), 7, "",
               "passwd: too many arguments\nusage: passwd [name]\n")

        # Who may change what.
        expect("another user's account", run(["bob"], "alice"), 27, "",
               "passwd: you may not change the password for user bob\n")
        expect("unknown account", run(["nobody-here"], "alice"), 27, "", "passwd: unknown user nobody-here\n")
        long_name = "a" * 64
        expect("a name over 63 characters is unknown, never cut", run([long_name], "root"), 27, "",
               "passwd: unknown user %s\n" % long_name)

        # Aging refusals, before any prompt.
        for name, message in (("gina", "The password for gina cannot be changed.\n"),
                              ("hank", "The password for hank cannot be changed.\n"),
                              ("ivan", "The password for ivan cannot be changed.\n"),
                              ("judy", "The password for judy cannot be changed yet.\n")):
            r = run([], name)
            expect("aging: " + name, r, 27, "", message)
            check.equal("aging: no prompt for " + name, r.tty, "")

        # A wrong old password; five mismatches.
        r = run([], "alice", [(OLD, "wrong")])
        expect("wrong old password", r, 27, "Changing password for alice\n", "Incorrect password for alice\n")
        answers = [(OLD, "alice-old-1")]
        for i in range(5):
            answers += [(NEW, "first-%d" % i), (RENEW, "second-%d" % i)]
        r = run([], "alice", answers)
        expect("five mismatches", r, 27, "Changing password for alice\n",
               "They don't match; try again.\n" * 4 + "They don't match; no more retry.\n")
        r = run([], "alice", [(OLD, "alice-old-1"), (NEW, None)])
        expect("end of input at the new password", r, 27, "Changing password for alice\n", "")

        check.equal("no cache refreshed before a change", box.cache_calls(), [])

        # An MD5 account: the new hash is MD5-crypt. The caches are refreshed, without the
        # caller's environment.
        old_line = box.shadow_line("alice")
        r = run([], "alice", [(OLD, "alice-old-1"), (NEW, "alice-new-2"), (RENEW, "alice-new-2")],
                env={"KESTROVA_PROBE": "leaked"})
        check.equal("caches refreshed after the change", box.cache_calls(),
                    ["/usr/sbin/nscd -i passwd ", "/usr/sbin/sss_cache -U "])
        expect("MD5 account", r, 0, "Changing password for alice\n", "passwd: password updated successfully\n")
        check.equal("prompts in order", r.tty, OLD + "\n" + NEW + "\n" + RENEW + "\n")
        new_hash = verify_change("MD5 account", "alice", "alice-new-2", old_line)
        check.true("MD5 account keeps MD5-crypt", new_hash.startswith("$1$") and len(new_hash) == 34, new_hash)

        # A DES account: a segmented DES hash.
        r = run([], "carol", [(OLD, "carolpw1"), (NEW, "carol-new-2"), (RENEW, "carol-new-2")])
        expect("DES account", r, 0, "Changing password for carol\n", "passwd: password updated successfully\n")
        des = box.shadow_line("carol").split(":")[1]
        check.true("DES account gets a segmented DES hash (24 characters for 11)", len(des) == 24, des)
        check.equal("first segment is the DES crypt of the first 8", des[:13], system_crypt("carol-ne", des[:2]))
        check.equal("second segment", des[13:], system_crypt("w-2", des[2:13])[2:])

        # An empty hash: no old password, MD5 result.
        r = run([], "dave", [(NEW, "dave-new-2"), (RENEW, "dave-new-2")])
        expect("empty hash", r, 0, "Changing password for dave\n", "passwd: password updated successfully\n")
        check.true("empty hash gets MD5", box.shadow_line("dave").split(":")[1].startswith("$1$"))
        check.equal("no old-password prompt for an empty hash", r.tty, NEW + "\n" + RENEW + "\n")

        # The system's default scheme is kept, with the old password checked exactly.
        r = run([], "frank", [(OLD, "frank-old-1"), (NEW, "frank-new-2"), (RENEW, "frank-new-2")])
        expect("yescrypt account", r, 0, "Changing password for frank\n", "passwd: password updated successfully\n")
        new_hash = verify_change("yescrypt account", "frank", "frank-new-2")
        check.true("yescrypt account keeps its scheme", new_hash.startswith("$y$"), new_hash)

        # Standard input from a pipe: one read, no prompt, no confirmation.
        proc = subprocess.run(["setpriv", "--reuid=karl", "--regid=karl", "--init-groups", "--", passwd],
                              input=b"karl-old-1\nkarl-piped-2\n", capture_output=True, timeout=20,
                              start_new_session=True)
        check.equal("non-terminal read", (proc.returncode, proc.stdout, proc.stderr),
                    (0, b"Changing password for karl\n", b"Old password: passwd: password updated successfully\n"))
        karl_hash = box.shadow_line("karl").split(":")[1]
        check.equal("non-terminal read sets the piped password", system_crypt("karl-piped-2", karl_hash), karl_hash)

        # Root: any account, no old password, no aging; "x" without shadow entry goes to /etc/passwd.
        old_line = box.shadow_line("judy")
        r = run(["judy"], "root", [(NEW, "judy-new-2"), (RENEW, "judy-new-2")])
        expect("root changes judy despite the minimum age", r, 0, "Changing password for judy\n",
               "passwd: password updated successfully\n")
        verify_change("root changes judy", "judy", "judy-new-2", old_line)
        old_passwd = box.passwd_line("erin")
        # A world-writable account file: the rewritten one is not.
        os.chmod("/etc/passwd", 0o646)
        r = run(["erin"], "root", [(NEW, "erin-new-2"), (RENEW, "erin-new-2")])
        expect("x account without shadow entry", r, 0, "Changing password for erin\n",
               "passwd: password updated successfully\n")
        verify_change("x account without shadow entry", "erin", "erin-new-2", old_passwd, in_passwd=True)
        check.equal("the rewritten file drops the world-write bit", os.stat("/etc/passwd").st_mode & 0o7777, 0o644)

        # The aging rules again under the lock: made unchangeable while the user types.
        def age_lena(pid):
            subprocess.run(["chage", "-d", str(today()), "-m", "5", "lena"], check=True)
            return "lena-new-2"
        before = box.shadow_line("lena")
        r = run([], "lena", [(OLD, "lena-old-1"), (NEW, age_lena), (RENEW, "lena-new-2")])
        expect("aging re-checked under the lock", r, 27, "Changing password for lena\n",
               "The password for lena cannot be changed yet.\npasswd: cannot update password\n")
        check.equal("aging re-checked under the lock: the hash stays", box.shadow_line("lena").split(":")[1],
                    before.split(":")[1])

        # SIGTERM while the account file is locked for the write: the run still ends the change and
        # its closing message (the signal waits until after them), and leaves no lock behind.
        with open("/etc/shadow", "a") as f:
            f.writelines("filler%d:*:19000:0:99999:7:::\n" % i for i in range(100000))

        def terminate_when_locked(pid):
            def watch():
                deadline = time.monotonic() + 10
                while not os.path.exists("/etc/shadow.lock") and time.monotonic() < deadline:
                    time.sleep(0.0002)
                os.kill(pid, signal.SIGTERM)
            threading.Thread(target=watch).start()
            return "karl-signal-2"
        r = run(["karl"], "root", [(NEW, "karl-signal-2"), (RENEW, terminate_when_locked)])
        check.equal("SIGTERM during the write: the message, then the signal", (r.status, r.err),
                    (-signal.SIGTERM, "passwd: password updated successfully\n"))
        karl_hash = box.shadow_line("karl").split(":")[1]
        check.equal("SIGTERM during the write: the change is made", system_crypt("karl-signal-2", karl_hash), karl_hash)
        check.true("SIGTERM during the write: no lock left", not os.path.exists("/etc/shadow.lock"))
        with open("/etc/shadow") as f:
            kept = [line for line in f if not line.startswith("filler")]
        with open("/etc/shadow", "w") as f:
            f.writelines(kept)

        # A password longer than 127 characters is refused, never cut.
        long_pw = "p" * 128
        r = run(["bob"], "root", [(NEW, long_pw), (RENEW, long_pw)])
        check.equal("password over 127 characters: status", r.status, 27)
        check.true("password over 127 characters: message", "too long" in r.err, repr(r.err))

        # An account the system database has but the file lacks.
        box.use_extra_users(["zed:x:4242:4242::/nonexistent:/bin/sh"],
                            ["zed:" + system_crypt("zed-old-1", "$1$zzzzzzzz") + ":19000:0:99999:7:::"])
        r = run(["zed"], "root", [(NEW, "zed-new-2"), (RENEW, "zed-new-2")])
        expect("account missing from the file", r, 27, "Changing password for zed\n",
               "passwd: cannot find user zed\npasswd: cannot update password\n")

        # The site's quality rules, when the settings ask for them: the library's reason, then the
        # question again; root is warned and may go on.
        with open("/etc/security/pwquality.conf", "w") as f:
            f.write("minlen = 9\ndictcheck = 0\nusercheck = 1\n")
        box.write_settings({"agent.socket": os.path.join(box.root, "no-agent"), "passwd.quality": "yes"})
        r = run([], "bob", [(OLD, "bob-old-1"), (NEW, "short-1"), (NEW, "bob-old-1"),
                            (NEW, "long-enough-bp-3"), (RENEW, "long-enough-bp-3")])
        expect("quality refusals, then a good password", r, 0, "Changing password for bob\n",
               "BAD PASSWORD: The password is shorter than 9 characters\n"
               "BAD PASSWORD: The password is the same as the old one\n"
               "passwd: password updated successfully\n")
        bob_hash = box.shadow_line("bob").split(":")[1]
        check.equal("quality: the accepted password is set", system_crypt("long-enough-bp-3", bob_hash), bob_hash)
        r = run(["bob"], "root", [(NEW, "short-2"), (RENEW, "short-2")])
        expect("root warned of a short password", r, 0, "Changing password for bob\n",
               "BAD PASSWORD: The password is shorter than 9 characters\n"
               "passwd: password updated successfully\n")

        uid = pwd.getpwnam("alice").pw_uid
        audit = [line for line in box.audit_records() if 'op="change password"' in line]
        for record in ('type=1108 op="change password" acct="alice" uid=%d res=failed cap=yes' % uid,
                       'type=1108 op="change password" acct="bob" uid=%d res=failed cap=yes' % uid,
                       'type=1108 op="change password" acct="alice" uid=%d res=success cap=yes' % uid,
                       'type=1108 op="change password" acct="bob" uid=0 res=success cap=yes',
                       'type=1108 op="change password" acct="zed" uid=0 res=failed cap=yes'):
            check.true("audit record: " + record, record in audit, "\n".join(audit))

        records = "\n".join(box.records())
        check.true("a record for every change and refusal",
                   "cli.passwd 2: password change by alice (uid" in records and
                   "for bob: refused: account of another user" in records, records[-2000:])
        check.true("no password in the records", "alice-new-2" not in records and "alice-old-1" not in records)
    check.finish()


main()
