"""The passwd personality in the place of the system's passwd: the options it does not handle
itself go to the program named by passwd.system, run as the caller, with the same arguments."""
import os
import sys

import sandbox

sandbox.enter_private_namespace()


def main():
    check = sandbox.Checker()
    with sandbox.Sandbox() as box:
        passwd = box.install(sys.argv[1], "passwd")
        alice = box.add_user("alice", "alice-old-1")
        r = box.run([passwd, "-S", "alice"], user="alice")
        check.equal("-S without passwd.system: the usage", (r.status, "usage: passwd [name]" in r.err), (7, True))

        # A stand-in shows the identity and limits it runs with and the arguments it gets; the limits
        # are the caller's own (as it runs a program directly). Not a shell: a shell gives up an
        # effective uid that differs from the real one by itself.
        probe = os.path.join(box.root, "probe")
        with open(probe, "w") as f:
            f.write("#!/usr/bin/python3\nimport sys\nfor key in ('Uid:', 'Gid:'):\n"
                    "    print(next(l for l in open('/proc/self/status') if l.startswith(key)), end='')\n"
                    "print(''.join(l for l in open('/proc/self/limits') if 'file size' in l), end='')\n"
                    "print(''.join('[%s]' % a for a in sys.argv[1:]))\nsys.exit(3)\n")
        os.chmod(probe, 0o755)
        box.write_settings({"passwd.system": probe})
        limits = ["prlimit", "--core=1000:2000", "--fsize=300000:400000", "--"]
        direct = box.run(limits + [probe], user="alice")
        r = box.run(limits + [passwd, "-S", "alice", "; id", "$(id)"], user="alice")
        ids = "Uid:\t{0}\t{0}\t{0}\t{0}\nGid:\t{1}\t{1}\t{1}\t{1}\n".format(alice.pw_uid, alice.pw_gid)
        check.equal("handed over: the caller's ids and limits only, the same arguments, the status",
                    (r.status, r.out), (3, direct.out[:-1] + "[-S][alice][; id][$(id)]\n"))
        check.true("the stand-in run directly shows the caller's ids", direct.out.startswith(ids), direct.out)
        r = box.run([passwd, "-h"], user="alice")
        check.equal("-h stays with the personality", (r.status, r.out), (7, ""))

        # The system's own passwd answers as on any host.
        box.write_settings({"passwd.system": "/usr/bin/passwd"})
        r = box.run([passwd, "-S", "alice"], user="alice")
        check.equal("-S through the system's passwd", (r.status, r.out[:8]), (0, "alice P "))
    check.finish()


main()
