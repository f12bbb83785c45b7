"""The passwd personality for accounts the directory agent knows: only the caller's own, through
the agent, with the prompts of the settings."""
import os
import pwd
import sys

import krbrealm
import sandbox

sandbox.enter_private_namespace()


def main():
    binary, kestrovad = sys.argv[1], sys.argv[2]
    check = sandbox.Checker()
    with sandbox.Sandbox() as box:
        with krbrealm.realm_and_agent(box.root, kestrovad) as (realm, agent):
            run_tests(box, realm, agent, binary, check)
    check.finish()


def run_tests(box, realm, agent, binary, check):
    passwd = box.install(binary, "passwd")
    base = {"domain": realm.domain, "agent.socket": agent.socket_path, "pam.old.msg": '"Current AD password: "',
            "pam.new.msg": '"New AD password: "', "pam.renew.msg": '"Repeat new AD password: "'}
    box.write_settings(base)
    box.add_user("alice")
    box.add_user("localonly", "local-old-1")
    realm.add_principal("localonly-not-in-realm-marker", "Marker-Passw0rd1")

    def expect(what, r, status, out, err):
        check.equal(what + ": status", r.status, status)
        check.equal(what + ": stdout", r.out, out)
        check.equal(what + ": stderr", r.err, err)

    # A directory account changes its own password through the agent, with the settings' prompts,
    # having given up root for good before the first prompt.
    ids = []

    def current_password(pid):
        with open("/proc/%d/status" % pid) as f:
            ids.extend(line.split()[1:] for line in f if line.startswith(("Uid:", "Gid:")))
        return krbrealm.ALICE_PASSWORD
    answers = [("Current AD password: ", current_password), ("New AD password: ", "Alice-Passw0rd5"),
               ("Repeat new AD password: ", "Alice-Passw0rd5")]
    r = box.run([passwd], user="alice", answers=answers)
    alice = pwd.getpwnam("alice")
    check.equal("directory road: the caller's ids only", ids, [[str(alice.pw_uid)] * 4, [str(alice.pw_gid)] * 4])
    expect("own directory change", r, 0, "Changing password for alice\n", "passwd: password updated successfully\n")
    check.equal("own directory change: prompts", r.tty,
                "Current AD password: \nNew AD password: \nRepeat new AD password: \n")
    check.true("own directory change: the KDC accepts the new password",
               realm.check_password("alice", "Alice-Passw0rd5"))
    with open("/etc/shadow") as f:
        check.true("own directory change leaves /etc/shadow alone", "Alice-Passw0rd5" not in f.read())

    # A wrong current password: "Incorrect password", result 1 of the change, so 3 for the run.
    r = box.run([passwd], user="alice", answers=[("Current AD password: ", "wrong-one"),
                                                 ("New AD password: ", "Alice-Passw0rd6"),
                                                 ("Repeat new AD password: ", "Alice-Passw0rd6")])
    expect("wrong current AD password", r, 6, "Changing password for alice\n", "Incorrect password for alice\n")
    r = box.run([passwd], user="alice", answers=[("Current AD password: ", "Alice-Passw0rd5"),
                                                 ("New AD password: ", "short"), ("Repeat new AD password: ", "short")])
    expect("refused by the domain's policy: its own words", r, 6, "Changing password for alice\n", "passwd: New password is "
           "too short. Please choose a password which is at least 8 characters long.\npasswd: cannot update password\n")

    # Root naming another directory account is refused.
    r = box.run([passwd, "alice"], user=None)
    expect("root names a directory account", r, 27, "", "passwd: you may not change the password for AD user alice\n")
    check.equal("root names a directory account: no prompt", r.tty, "")

    # Changes forbidden by the settings: the message, then result 3 with nothing more.
    box.write_settings(dict(base, **{"pam.allow.pw.change": "No"}))
    r = box.run([passwd], user="alice")
    expect("changes forbidden", r, 6, "Changing password for alice\n", "Password change not permitted\n")
    box.write_settings(dict(base, **{"pam.allow.pw.change": "no", "pam.allow.pw.change.msg": "Ask the help desk."}))
    r = box.run([passwd], user="alice")
    expect("changes forbidden, own text", r, 6, "Changing password for alice\n", "Ask the help desk.\n")

    # Standard input from a pipe: the directory road still asks with its prompts.
    box.write_settings(base)
    r = box.run([passwd], user="alice", stdin_tty=False,
                answers=[("Current AD password: ", "Alice-Passw0rd5"), ("New AD password: ", "Alice-Passw0rd7"),
                         ("Repeat new AD password: ", "Alice-Passw0rd7")])
    expect("directory change from a pipe", r, 0, "Changing password for alice\n",
           "Current AD password: New AD password: Repeat new AD password: passwd: password updated successfully\n")
    check.true("directory change from a pipe: the KDC accepts it", realm.check_password("alice", "Alice-Passw0rd7"))


main()
