#!/usr/bin/python3
"""Path attacks of a local user on the settings and the log file of the set-user-ID binary: each
attack tries to make root write the log file in the user's directory; prints how many succeed.

Usage: path_attacks.py TARVENKO_BINARY   (root; runs in a private mount namespace, tests/lib/sandbox.py)
"""
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "lib"))
import sandbox  # noqa: E402
sandbox.enter_private_namespace()
binary = sys.argv[1]
with sandbox.Sandbox() as box:
    passwd = box.install(binary, "passwd")
    m = box.add_user("mallory"); box.add_user("alice"); box.add_user("bob")
    chosen = os.path.join(m.pw_dir, "chosen.log")
    def mallory_file(name, text, owner=0):
        p = os.path.join(m.pw_dir, name)
        with open(p, "w") as f: f.write(text)
        os.chown(p, owner, owner); os.chmod(p, 0o644); return p
    settings = "log.file: %s\nlog.level: 0\n" % chosen
    def a1(): os.chmod("/etc/kestrova", 0o775)
    def a2(): os.unlink(box.settings_path); os.symlink(mallory_file("x.conf", settings), box.settings_path)
    def a3():
        d = os.path.join(m.pw_dir, "dir"); os.mkdir(d); os.chown(d, m.pw_uid, m.pw_gid)
        shutil.copy(box.settings_path, d + "/kestrova.conf")
        shutil.move("/etc/kestrova", box.root + "/old-kestrova"); os.symlink(d, "/etc/kestrova")
    def a4(): pass
    def a5(): os.unlink(box.settings_path); os.symlink("/proc/self/environ", box.settings_path)
    accepted = 0
    for name, attack in (("group-writable /etc/kestrova", a1), ("settings file linked into a user's dir", a2),
                         ("/etc/kestrova linked to a user's dir", a3), ("log.file in a user's dir", a4),
                         ("settings linked to /proc/self/environ", a5)):
        box.write_settings({"log.file": chosen})
        attack()
        env = {"X": "1\nlog.file: %s\nlog.level: 0" % chosen}
        r = box.run([passwd, "bob"], user="alice", env=env)
        hit = os.path.exists(chosen)
        accepted += hit
        print("%-42s %s" % (name, "ACCEPTED (root wrote %s)" % chosen if hit else "refused"))
        if hit: os.unlink(chosen)
        if os.path.islink("/etc/kestrova"): os.unlink("/etc/kestrova"); shutil.move(box.root + "/old-kestrova", "/etc/kestrova")
        os.chmod("/etc/kestrova", 0o755)
        if os.path.islink(box.settings_path): os.unlink(box.settings_path)
    print("accepted: %d of 5" % accepted)
