"""Time brevant-check against brevant-read --counts, and the checker's peak memory.

    python bench/check.py [--mb 200] [--rounds 3]

Both commands run as a user runs them, each in its own process, on the same
file of repeated formatter output (`read.py`'s `measure` shots); the figure is
each run's CPU time (user + system), the median of the rounds. Peak memory is
the high-water RSS of brevant-check on the case that once cost 639 MB: an
ARRAY whose count is never met, followed by 3 million bad lines, so that every
finding waits for the container's count (by default, and with --all).
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from read import write_big_file  # noqa: E402

SPEED_RATIO = 1 / 3  # brevant-check's speed as a share of brevant-read --counts's
PEAK_RSS_LIMIT_MB = 50
BAD_LINES = 3_000_000


def command(name):
    return [str(Path(sys.executable).with_name(name))]


# A child's high-water RSS counts the pages it had from its parent before
# exec, so the command starts from a small parent of its own.
MEASURE = """
import os, subprocess, sys
proc = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
_, status, usage = os.wait4(proc.pid, 0)
print(os.waitstatus_to_exitcode(status), usage.ru_utime + usage.ru_stime, usage.ru_maxrss)
"""


def run(args):
    """CPU seconds and peak RSS in MB of one run, its output discarded."""
    status, seconds, kib = subprocess.run([sys.executable, "-c", MEASURE, *args], check=True,
                                          capture_output=True, text=True).stdout.split()  # fmt: skip
    if int(status) not in (0, 1):
        raise SystemExit(f"{' '.join(args)} failed")
    return float(seconds), int(kib) / 1024


def write_open_container(path):
    with open(path, "w") as file:
        file.write("HEADER\tschema_id\tlabeled\nHEADER\tschema_version\t2.1\nSTART\nOUTPUT\tARRAY\t999999999\ta\n")
        file.write("x\n" * BAD_LINES)
        file.write("END\t0\n")
    return os.path.getsize(path)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mb", type=int, default=200, help="size of the timed file")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args(argv)
    with tempfile.TemporaryDirectory(prefix="brevant-check-") as folder:
        big, worst = Path(folder) / "big.txt", Path(folder) / "open_container.txt"
        size = write_big_file(big, args.mb)
        times = {"read --counts": [], "check": []}
        for _ in range(args.rounds):  # round-robin, so that both see the same load
            times["read --counts"].append(run([*command("brevant-read"), "--counts", str(big)])[0])
            times["check"].append(run([*command("brevant-check"), str(big)])[0])
        worst_size = write_open_container(worst)
        peaks = {flags: run([*command("brevant-check"), *flags.split(), str(worst)])[1] for flags in ("", "--all")}
    median = {name: statistics.median(values) for name, values in times.items()}
    ratio = median["read --counts"] / median["check"]
    print(f"{size / 1e6:.0f} MB file, {args.rounds} rounds, load average {os.getloadavg()[0]:.1f}\n")
    print("| command | median CPU s | MB/s |\n|---|---:|---:|")
    for name, seconds in median.items():
        print(f"| {name} | {seconds:.2f} | {size / 1e6 / seconds:.0f} |")
    print(f"\nbrevant-check on a {worst_size / 1e6:.0f} MB file, an open ARRAY over {BAD_LINES:,} bad lines:")
    print("\n| target | measured | met |\n|---|---:|---|")
    checks = [(f"check ≥ {SPEED_RATIO:.2f}× read --counts's speed", ratio, ratio >= SPEED_RATIO)]
    checks += [(f"check {flags or '(default)'} peak RSS < {PEAK_RSS_LIMIT_MB} MB", mb, mb < PEAK_RSS_LIMIT_MB)
               for flags, mb in peaks.items()]  # fmt: skip
    for name, measured, met in checks:
        print(f"| {name} | {measured:.2f} | {'yes' if met else 'NO'} |")
    return 0 if all(met for *_, met in checks) else 1


if __name__ == "__main__":
    sys.exit(main())
