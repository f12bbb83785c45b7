"""The process entry: personality by name, the tarvenko command line, its texts and statuses."""
import os
import sys

import sandbox

sandbox.enter_private_namespace()

USAGE = ("usage: tarvenko [options] [user[@domain]]\n"
         "options:\n"
         "  -a, --adminuser user[@domain] administrator account\n"
         "  -p, --adminpass pw       administrator password\n"
         "  -V, --validate           validate user password\n"
         "  -o, --oldpass pw         current user password\n"
         "  -n, --newpass pw         new user password\n"
         "  -v, --version            print version information\n"
         "  -h, --help               print this help information and exit.\n")
VERSION = "Kestrova 4.4.3-424\n"
NOT_JOINED = "Machine is not joined to any domain.\n"


def cmdline(pid):
    with open("/proc/%d/cmdline" % pid, "rb") as f:
        return f.read().split(b"\0")[:-1]


def main():
    binary = sys.argv[1]
    check = sandbox.Checker()
    with sandbox.Sandbox() as box:
        tarvenko = box.install(binary, "tarvenko")
        passwd2 = box.install(binary, "passwd2")
        os.mkdir(os.path.join(box.bindir, "sub"))
        local = box.install(binary, "sub/passwd")
        box.add_user("alice", "alice-pw-1")

        def expect(args, status, out="", err="", user="alice", **kw):
            r = box.run([tarvenko] + args, user=user, **kw)
            name = "tarvenko " + " ".join(args)
            check.equal(name + ": status", r.status, status)
            check.equal(name + ": stdout", r.out, out)
            check.equal(name + ": stderr", r.err, err)
            return r

        # Version, help and unknown options come before the joined check.
        expect(["-v"], 0, VERSION)
        expect(["-version"], 0, VERSION)
        expect(["-h"], 0, USAGE)
        expect(["-v", "--bogus", "x", "y"], 0, VERSION)
        expect(["--bogus", "-v"], 7, USAGE)
        expect(["-a"], 7, USAGE)
        r = box.run([passwd2, "-v"], user="alice")
        check.equal("passwd2 -v", (r.status, r.out), (0, VERSION))
        r = box.run([local, "-v"], user="alice")
        check.true("a path ending in /passwd runs the local personality", VERSION not in r.out, repr(r))

        # Not joined: every operation ends with status 10 before any prompt.
        box.clear_records()
        for args in ([], ["-V", "bob"], ["bob"], ["-V"], ["a", "b"]):
            r = expect(args, 10 if args != ["a", "b"] else 7,
                       out="" if args != ["a", "b"] else USAGE,
                       err=NOT_JOINED if args != ["a", "b"] else "Error: too many non-option arguments.\n")
            check.equal("no prompt when not joined: " + " ".join(args), r.tty, "")
        check.true("not-joined record at level 4",
                   "cli.tarvenko 4: Machine is not joined to any domain." in box.records(), repr(box.records()))

        # Joined: the argument rules, in their order.
        box.write_settings({"domain": "example.test", "agent.socket": os.path.join(box.root, "no-agent")})
        expect(["a", "b"], 7, USAGE, "Error: too many non-option arguments.\n")
        expect(["-V"], 7, USAGE, "user account required for validate password\n")
        expect(["-p", "pw"], 7, USAGE, "user account required for administrator set password\n")
        expect(["-a", "adm"], 7, USAGE, "user account required for administrator set password\n")
        expect(["bob", "-o", "old"], 7, USAGE,
               "old password should not be used when setting the password of another user\n")

        # The debug block, with the default administrator and with the caller's credential cache.
        debug_admin = "options\n-------\nadminuser       administrator\nuser            bob\n\n"
        r = box.run([tarvenko, "-D", "bob", "-n", "new-pw"], user="alice",
                    answers=[("Administrator password: ", None)])
        check.true("debug block with the default administrator", r.err.startswith(debug_admin), repr(r.err))
        check.equal("unanswered administrator prompt ends the run", r.status, 18)
        check.true("unanswered prompt names what was missing",
                   "Error: could not read the administrator password" in r.err and
                   r.err.endswith("Password change failed for user bob\n"), repr(r.err))
        r = box.run([tarvenko, "-D", "bob", "-n", "new-pw"], user="alice", env={"KRB5CCNAME": ""})
        check.true("debug block with the caller's credentials",
                   r.err.startswith("options\n-------\nadminuser       null\nuser            bob\n\n"), repr(r.err))
        check.equal("no prompt for a credential-cache set", r.tty, "")

        # Password arguments are wiped from the argument vector while the program waits at a prompt.
        seen = {}

        def snapshot(pid):
            seen["args"] = cmdline(pid)
            return None

        box.run([tarvenko, "-V", "-a", "adm-visible", "-p", "admin-secret", "-n", "new-secret", "bob"],
                user="alice", answers=[("Password: ", snapshot)])
        args = seen.get("args", [])
        check.true("-p and -n values wiped (NUL bytes in place), -a kept",
                   args[5:5 + len("admin-secret")] == [b""] * len("admin-secret") and
                   b"".join(args).find(b"secret") < 0 and b"adm-visible" in args, repr(args))
        box.run([tarvenko, "-o", "old-secret"], user="alice", answers=[("Enter new password: ", snapshot)])
        args = seen.get("args", [])
        check.true("-o value wiped", args[2:] == [b""] * (len("old-secret") + 1), repr(args))
    check.finish()


main()
