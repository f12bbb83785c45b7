#!/usr/bin/python3
"""Start-up cost of the set-user-ID tool against Debian's passwd.

Usage: startup_bench.py TARVENKO [--pairs N] [--passwd PATH]

Copies the tool and the system's passwd (/usr/bin/passwd.distrib when that is the diverted original,
else /usr/bin/passwd) into a tmpfs mounted in a private mount namespace, both set-user-ID root, and
starts them as the user nobody, in turn: `tarvenko -v`, then `passwd --help`, N pairs. Prints the
median of the per-pair ratios (tool / passwd), the medians of both, and the shared objects the
tool loads. Exits 1 when the median ratio is above 1.0 or a Kerberos library is among them.
Needs root (mount namespace, set-user-ID copies). Nothing outside the namespace is changed.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

_MARK = "KESTROVA_STARTUP_BENCH"
USER_ID = 65534  # nobody


def enter_private_namespace():
    if os.environ.get(_MARK) == "1":
        return
    if os.geteuid() != 0:
        print("SKIP: needs root (a private mount namespace and set-user-ID copies)", file=sys.stderr)
        sys.exit(77)
    env = dict(os.environ, **{_MARK: "1"})
    os.execvpe("unshare", ["unshare", "-m", "--propagation", "private", sys.executable] + sys.argv, env)


def start_time(argv):
    """Nanoseconds from spawn to exit of one run as the unprivileged user."""
    begin = time.perf_counter_ns()
    pid = os.posix_spawn(argv[0], argv, {"PATH": "/usr/bin:/bin", "LANG": "C"},
                         file_actions=[(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
                                       (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)])
    _, status = os.waitpid(pid, 0)
    elapsed = time.perf_counter_ns() - begin
    if os.waitstatus_to_exitcode(status) not in (0, 1, 2):
        raise SystemExit("%s ended with status %d" % (" ".join(argv), os.waitstatus_to_exitcode(status)))
    return elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tarvenko")
    parser.add_argument("--pairs", type=int, default=400)
    parser.add_argument("--passwd", default=None)
    args = parser.parse_args()
    tool = os.path.abspath(args.tarvenko)
    system = args.passwd or ("/usr/bin/passwd.distrib" if os.path.exists("/usr/bin/passwd.distrib") else "/usr/bin/passwd")
    enter_private_namespace()

    libraries = subprocess.run(["ldd", tool], capture_output=True, text=True, check=True, timeout=30).stdout
    kerberos = [line.split()[0] for line in libraries.splitlines()
                if any(name in line for name in ("krb5", "k5crypto", "com_err", "gssapi", "kdb5"))]
    with tempfile.TemporaryDirectory(prefix="kestrova-startup.") as work:
        subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=0755,size=64m", "tmpfs", work], check=True, timeout=30)
        try:
            copies = {}
            for name, source in (("tarvenko", tool), ("passwd", system)):
                copies[name] = os.path.join(work, name)
                shutil.copyfile(source, copies[name])
                os.chmod(copies[name], 0o4755)
            pid = os.fork()
            if pid == 0:
                os.setgroups([])
                os.setgid(USER_ID)
                os.setuid(USER_ID)
                code = measure(copies, args.pairs)
                os._exit(code)
            _, status = os.waitpid(pid, 0)
            code = os.waitstatus_to_exitcode(status)
        finally:
            subprocess.run(["umount", work], check=False, timeout=30)
    print("shared objects of the tool: %d (%s)" % (
        sum(1 for line in libraries.splitlines() if "=>" in line),
        ", ".join(line.split()[0] for line in libraries.splitlines() if "=>" in line)))
    print("Kerberos libraries: %s" % (", ".join(kerberos) if kerberos else "none"))
    return 1 if code != 0 or kerberos else 0


def measure(copies, pairs):
    tool = [copies["tarvenko"], "-v"]
    system = [copies["passwd"], "--help"]
    for _ in range(20):  # warm the page cache and the dynamic loader's caches
        start_time(tool)
        start_time(system)
    tool_times, system_times, ratios = [], [], []
    for i in range(pairs):
        # Alternate which of the pair goes first, so neither always runs right after the other.
        if i % 2 == 0:
            t, s = start_time(tool), start_time(system)
        else:
            s, t = start_time(system), start_time(tool)
        tool_times.append(t)
        system_times.append(s)
        ratios.append(t / s)
    ratio = statistics.median(ratios)
    print("pairs: %d" % pairs)
    print("tarvenko -v (set-user-ID):       median %.1f us" % (statistics.median(tool_times) / 1000))
    print("Debian passwd --help (set-user-ID): median %.1f us" % (statistics.median(system_times) / 1000))
    print("median of per-pair ratios: %.3f (goal <= 1.0; quartiles %.3f .. %.3f)" % (
        ratio, statistics.quantiles(ratios, n=4)[0], statistics.quantiles(ratios, n=4)[2]))
    return 0 if ratio <= 1.0 else 1


if __name__ == "__main__":
    sys.exit(main())
