#!/usr/bin/python3
"""Changes one record near the end of generated shadow files with three programs, side by side.

    python3 bench/accountdb/compare.py BUILD_DIR [LINES ...]

For each size (default 10,000, 100,000 and 1,000,000 lines) one shadow file is generated and put in
place as /etc/shadow inside a private mount namespace with its own copy of /etc (needs root). Then,
in turns on the same file, each program changes the hash of the same record, ten lines before the
end:
  accountdb  the account file database (lock, open, load, find, update, commit, unlock)
  chpasswd   the system's `chpasswd -e`
  floor      a bare program: read the whole file, write the backup and the temporary file with
             fsync, rename
The wall time of each run and the peak resident memory of its process are measured. The three
programs run in turns, so each turn gives one pair of ratios (accountdb/chpasswd and accountdb/floor)
taken under the same conditions of the machine; the table gives the median times, the minimum,
median and maximum of those per-turn ratios, and the peak memory.
"""

import os
import random
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

MARK = "KESTROVA_BENCH_NAMESPACE"
SALT = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"


def enter_namespace():
    if os.environ.get(MARK) == "1":
        return
    if os.geteuid() != 0:
        sys.exit("compare.py needs root (a private mount namespace with its own /etc)")
    env = dict(os.environ, **{MARK: "1"})
    os.execvpe("unshare", ["unshare", "-m", "--propagation", "private", sys.executable] + sys.argv, env)


def fake_hash(rng):
    salt = "".join(rng.choice(SALT) for _ in range(22))
    body = "".join(rng.choice(SALT) for _ in range(43))
    return "$y$j9T$%s$%s" % (salt, body)


def generate(path, lines, rng):
    """Writes a shadow file of `lines` records; returns the name of the record to change."""
    with open(path, "w") as f:
        for i in range(lines):
            f.write("u%07d:%s:19700:0:99999:7:::\n" % (i, fake_hash(rng)))
    os.chmod(path, 0o640)
    return "u%07d" % (lines - 10)


def run(measure, argv, stdin_text=None):
    """Runs argv under the measuring program; returns (seconds, peak resident memory in bytes)."""
    command = [measure] + (["--stdin", stdin_text] if stdin_text else []) + argv
    out = subprocess.run(command, check=True, capture_output=True, text=True).stdout.split()
    nanos, peak, code = int(out[0]), int(out[1]), int(out[2])
    if code != 0:
        raise RuntimeError("%s failed with %d" % (argv[0], code))
    return nanos / 1e9, peak


def main():
    enter_namespace()
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    sizes = [int(a) for a in sys.argv[2:]] or [10000, 100000, 1000000]
    cycle = os.path.abspath(os.path.join(build, "bench/accountdb/accountdb_shadow_cycle"))
    floor = os.path.abspath(os.path.join(build, "bench/accountdb/accountdb_floor"))
    measure = os.path.abspath(os.path.join(build, "bench/accountdb/accountdb_measure"))
    chpasswd = shutil.which("chpasswd") or "/usr/sbin/chpasswd"
    root = tempfile.mkdtemp(prefix="kestrova-bench-")
    etc = os.path.join(root, "etc")
    subprocess.run(["cp", "-a", "/etc", etc], check=True)
    subprocess.run(["mount", "--bind", etc, "/etc"], check=True)
    rng = random.Random(4711)
    rows = []
    try:
        # The programs' own peak memory, on a shadow file of one record.
        name = generate("/etc/shadow", 10, rng)
        base_peak = run(measure, [cycle, "/etc/shadow", name, fake_hash(rng)])[1]
        print("accountdb peak memory on a file of ten records: %.1f MB" % (base_peak / 1e6))
        for lines in sizes:
            name = generate("/etc/shadow", lines, rng)
            with open("/etc/passwd", "a") as f:
                f.write("%s:x:%d:%d::/nonexistent:/usr/sbin/nologin\n" % (name, 50000 + len(rows), 50000))
            size = os.path.getsize("/etc/shadow")
            repeats = 9 if lines <= 100000 else 5
            times = {"accountdb": [], "chpasswd": [], "floor": []}
            peaks = {"accountdb": 0, "chpasswd": 0, "floor": 0}
            for _ in range(repeats):
                for tool in ("accountdb", "chpasswd", "floor"):
                    new_hash = fake_hash(rng)
                    if tool == "accountdb":
                        t, m = run(measure, [cycle, "/etc/shadow", name, new_hash])
                    elif tool == "chpasswd":
                        t, m = run(measure, [chpasswd, "-e"], "%s:%s\n" % (name, new_hash))
                    else:
                        t, m = run(measure, [floor, "/etc/shadow"])
                    times[tool].append(t)
                    peaks[tool] = max(peaks[tool], m)
                    if tool != "floor":
                        with open("/etc/shadow") as f:
                            if not any(line.startswith(name + ":" + new_hash + ":") for line in f):
                                raise RuntimeError("%s did not change the record" % tool)
            med = {tool: statistics.median(values) for tool, values in times.items()}
            ratios = {other: [a / b for a, b in zip(times["accountdb"], times[other])]
                      for other in ("chpasswd", "floor")}
            rows.append((lines, size, med, ratios, peaks, base_peak))
            print_row(rows[-1])
    finally:
        subprocess.run(["umount", "-l", "/etc"], check=False)
        shutil.rmtree(root, ignore_errors=True)


def spread(values):
    return "%.2f/%.2f/%.2f" % (min(values), statistics.median(values), max(values))


def print_row(row):
    lines, size, med, ratios, peaks, base_peak = row
    print("%9d lines, %6.1f MB:  accountdb %8.1f ms  chpasswd %8.1f ms  floor %8.1f ms   "
          "per-turn ratio min/median/max: accountdb/chpasswd %s  accountdb/floor %s" %
          (lines, size / 1e6, med["accountdb"] * 1e3, med["chpasswd"] * 1e3, med["floor"] * 1e3,
           spread(ratios["chpasswd"]), spread(ratios["floor"])))
    print("%30s peak memory: accountdb %.1f MB = %.2fx file (%.2fx above its own %.1f MB), "
          "chpasswd %.1f MB, floor %.1f MB"
          % ("", peaks["accountdb"] / 1e6, peaks["accountdb"] / size, (peaks["accountdb"] - base_peak) / size,
             base_peak / 1e6, peaks["chpasswd"] / 1e6, peaks["floor"] / 1e6), flush=True)


if __name__ == "__main__":
    main()
