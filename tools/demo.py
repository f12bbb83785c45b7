#!/usr/bin/python3
"""A short tour of the tool on a built-in default: a throwaway Kerberos realm and the reference
directory agent on 127.0.0.1, and a sandboxed /etc (a private mount namespace) in which the
binary is installed set-user-ID, as tarvenko and as passwd, and run by ordinary users; the agent's
own commands; and an outage (the agent stopped). Everything is torn down at the end."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "lib"))
import krbrealm  # noqa: E402
import sandbox  # noqa: E402

sandbox.enter_private_namespace()


def show(box, title, user, argv, answers=(), env=None, note=None):
    print("== %s ==" % title)
    if note:
        print("   (%s)" % note)
    shown_env = "".join("%s=%s " % kv for kv in (env or {}).items())
    print("%s$ %s%s" % (user, shown_env, " ".join([os.path.basename(argv[0])] + argv[1:])))
    r = box.run(argv, user=user, answers=answers, env=env)
    typed = iter(answers)
    for line in r.tty.splitlines():
        answer = next(typed, (None, None))[1]
        print(line + ("*" * len(answer) if answer else ""))
    for text in (r.out, r.err):
        if text:
            print(text, end="" if text.endswith("\n") else "\n")
    print("[exit status %d]\n" % r.status)


def show_agent_command(title, kestrovad, agent, args, user=None):
    """Runs a command of kestrovad against the demo's agent (as root, or as user) and shows it."""
    print("== %s ==" % title)
    print("%s %s" % ("root#" if user is None else user + "$", " ".join(["kestrovad"] + args)))
    argv = [kestrovad] + args
    if user is not None:
        argv = ["setpriv", "--reuid=" + user, "--regid=" + user, "--init-groups"] + argv
    r = subprocess.run(argv, env=dict(os.environ, **agent.env()), capture_output=True, text=True, timeout=60)
    for text in (r.stdout, r.stderr):
        if text:
            print(text, end="" if text.endswith("\n") else "\n")
    print("[exit status %d]\n" % r.returncode)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    binary = os.path.join(build, "src", "main", "tarvenko")
    kestrovad = os.path.join(build, "src", "agentd", "kestrovad")
    with sandbox.Sandbox() as box:
        print("Bringing up a throwaway Kerberos realm and the directory agent on 127.0.0.1 ...")
        with krbrealm.realm_and_agent(box.root, kestrovad) as (realm, agent):
            tour(box, realm, agent, binary)
            passwd_tour(box, realm, agent, binary)
            agent_tour(box, agent, kestrovad, binary)
        print("Realm and agent stopped; the sandbox is gone.")


def tour(box, realm, agent, binary):
    tarvenko = box.install(binary, "tarvenko")
    box.write_settings({"domain": realm.domain, "agent.socket": agent.socket_path}, log_file=True)
    for name in ("alice", "helpdesk", "carol"):
        box.add_user(name)
    realm.add_principal("carol", "Carol-Passw0rd1", policy="standard")
    print("Local users alice, helpdesk and carol; in the realm alice, carol and an administrator "
          "'helpdesk'.\nPasswords typed at the prompts are shown as stars.\n")

    show(box, "Validate a password", "alice", [tarvenko, "-V", "alice"],
         [("Password: ", krbrealm.ALICE_PASSWORD)])
    show(box, "Validate a wrong password", "alice", [tarvenko, "-V", "alice"], [("Password: ", "not-my-password")])
    show(box, "Change your own password", "alice", [tarvenko],
         [("(current) password: ", krbrealm.ALICE_PASSWORD), ("Enter new password: ", "Alice-Passw0rd2"),
          ("Confirm new password: ", "Alice-Passw0rd2")])
    print("   The KDC now accepts alice's new password: %s\n" % realm.check_password("alice", "Alice-Passw0rd2"))
    show(box, "A change the domain's policy refuses", "alice", [tarvenko],
         [("(current) password: ", "Alice-Passw0rd2"), ("Enter new password: ", "short"),
          ("Confirm new password: ", "short")], note="the policy wants at least 8 characters")
    show(box, "An administrator sets another user's password", "helpdesk", [tarvenko, "-a", "helpdesk", "carol"],
         [("Administrator password: ", krbrealm.HELPDESK_PASSWORD), ("Enter new password: ", "Carol-Passw0rd2"),
          ("Confirm new password: ", "Carol-Passw0rd2")])
    ccache = os.path.join(box.root, "helpdesk.ccache")
    realm.kinit("helpdesk", krbrealm.HELPDESK_PASSWORD, ccache)
    entry = box.passwd_line("helpdesk").split(":")
    os.chown(ccache, int(entry[2]), int(entry[3]))
    show(box, "A set with the caller's Kerberos credentials", "helpdesk", [tarvenko, "carol"],
         [("Enter new password: ", "Carol-Passw0rd3"), ("Confirm new password: ", "Carol-Passw0rd3")],
         env={"KRB5CCNAME": "FILE:" + ccache}, note="helpdesk ran kinit before; no administrator password asked")
    print("   The KDC now accepts carol's new password: %s\n" % realm.check_password("carol", "Carol-Passw0rd3"))
    print("The log records of the runs (normally in the system log, authpriv):")
    for record in box.records():
        if record.startswith("cli.tarvenko"):
            print("   " + record)
    print()


def passwd_tour(box, realm, agent, binary):
    passwd = box.install(binary, "passwd")
    box.write_settings({"domain": realm.domain, "agent.socket": agent.socket_path, "passwd.system": "/usr/bin/passwd"},
                       log_file=True)
    box.add_user("dave", "Dave-Local-1")
    print("The same binary as passwd; dave is a local user only, alice is in the realm. The settings name\n"
          "the system's passwd (passwd.system) for the options this personality leaves to it.\n")
    show(box, "passwd for a local user", "dave", [passwd],
         [("Old password: ", "Dave-Local-1"), ("New password: ", "Dave-Local-2"),
          ("Re-enter new password: ", "Dave-Local-2")], note="written to the sandbox's /etc/shadow")
    print("   dave's shadow entry now: %s...\n" % box.shadow_line("dave")[:24])
    show(box, "passwd for a directory user", "alice", [passwd],
         [("Old password: ", "Alice-Passw0rd2"), ("New password: ", "Alice-Passw0rd3"),
          ("Re-enter new password: ", "Alice-Passw0rd3")], note="the agent knows alice: the change goes to the realm")
    print("   The KDC now accepts alice's new password: %s\n" % realm.check_password("alice", "Alice-Passw0rd3"))
    show(box, "passwd -S through the system's passwd", "dave", [passwd, "-S", "dave"],
         note="-S is not this personality's: /usr/bin/passwd answers, run as dave")


def agent_tour(box, agent, kestrovad, binary):
    show_agent_command("The agent checks its settings and its Kerberos configuration", kestrovad, agent,
                       ["--check-config"])
    show_agent_command("The agent's state, asked by any user", kestrovad, agent, ["status"], user="alice")
    agent.stop()
    print("-- The agent is stopped (an outage: the service is down) --\n")
    show_agent_command("What the agent's status says", kestrovad, agent, ["status"], user="alice")
    tarvenko = os.path.join(box.bindir, "tarvenko")
    show(box, "What a user then sees", "alice", [tarvenko, "-V", "alice"], [("Password: ", "Alice-Passw0rd3")])
    show(box, "and through passwd", "alice", [os.path.join(box.bindir, "passwd")],
         note="the tool cannot tell whether alice is a directory user; her local entry has no usable hash")


main()
