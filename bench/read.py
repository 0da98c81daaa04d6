"""Time the native reader against a hand-written pure-Python reader.

    python bench/read.py [--quick] [--out DIR] [--big-mb 400]

Contestants run round-robin in this one process on the same document text,
so every ratio compares calls made under the same conditions. The streaming
reader's peak memory is measured in a fresh subprocess over a file on disk.
See bench/README.md for what each figure means.
"""

import argparse
import json
import os
import platform
import shlex
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

BENCH = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH))

import pure_reader  # noqa: E402
from run import kib, save, settle_allocator, status_lines, time_round_robin  # noqa: E402
from workloads import ATTRIBUTES, WORKLOADS  # noqa: E402

from brevant import QirLabeledFormatter, iter_shots, read_labeled  # noqa: E402

# workload: (shots full, shots quick); 20 entries per shot in both.
SIZES = {"measure": (100_000, 10_000), "floats": (100_000, 10_000)}
ROUNDS = (5, 3)
YARDSTICK = "pure_python"
TARGETS = {"counts": 10.0, "shots": 2.5}  # records/s, as a multiple of the yardstick's
PEAK_RSS_LIMIT_MB = 100

CONTESTANTS = {
    YARDSTICK: pure_reader.read_shots,
    "counts": lambda text: read_labeled(text).counts(),
    "memory": lambda text: read_labeled(text).memory(),
    "shots": lambda text: read_labeled(text).shots(),
    "iter_shots": lambda text: list(iter_shots(text)),
}


def document(workload, shots):
    return QirLabeledFormatter().qir_labeled_output(WORKLOADS[workload](shots), ATTRIBUTES)


def check_agreement(text):
    """The yardstick is fair only if it reads what the native reader reads."""
    if pure_reader.read_shots(text) != read_labeled(text).shots():
        raise SystemExit("the pure-Python reader's shots differ from the native reader's")
    if pure_reader.counts(text) != read_labeled(text).counts():
        raise SystemExit("the pure-Python reader's counts differ from the native reader's")


def write_big_file(path, megabytes):
    """Repeats one seeded document's shots until the file holds `megabytes` MB."""
    text = document("measure", 20_000)
    shots = text[text.index("START\n", text.index("END\t0\n")) :]  # every shot but the first
    with open(path, "w") as file:
        file.write(text)
        while file.tell() < megabytes * 10**6:
            file.write(shots)
    return os.path.getsize(path)


def peak_memory_child(path):
    """Runs in a fresh process: iterate every shot of the file, report peak RSS."""
    shots = records = 0
    for shot in iter_shots(Path(path)):
        shots += 1
        records += len(shot)
    print(json.dumps({"peak_rss_bytes": kib(status_lines(), "VmHWM"), "shots": shots, "records": records}))


def measure_peak_memory(megabytes):
    with tempfile.TemporaryDirectory(prefix="brevant-read-") as folder:
        path = Path(folder) / "big.txt"
        size = write_big_file(path, megabytes)
        child = subprocess.run([sys.executable, __file__, "--peak-memory", str(path)],
                               check=True, capture_output=True, text=True)  # fmt: skip
    return {**json.loads(child.stdout), "file_bytes": size}


def markdown(report):
    lines = [
        f"Python {report['python']}, {report['machine']}, {'quick' if report['quick'] else 'full'} run, "
        f"{report['rounds']} rounds, load average {report['load_average']:.1f} at the start, "
        f"command: `{report['command']}`. Times are the thread's CPU time; every contestant "
        "starts from the document as one `str`.",
        "",
        "| workload | contestant | median ms | M records/s | × pure_python |",
        "|---|---|---:|---:|---:|",
    ]
    for workload, result in report["workloads"].items():
        for name, row in result["contestants"].items():
            lines.append(f"| {workload} | {name} | {row['median_ms']:.1f} | "
                         f"{row['records_per_s'] / 1e6:.2f} | {row['speedup']:.1f} |")  # fmt: skip
    peak = report["peak_memory"]
    if peak:
        lines += ["", f"`iter_shots` over a {peak['file_bytes'] / 1e6:.0f} MB file "
                  f"({peak['records']:,} records): peak RSS {peak['peak_rss_bytes'] / 1e6:.1f} MB."]  # fmt: skip
    lines += ["", "| target | measured | met |", "|---|---:|---|"]
    for target in report["targets"]:
        lines.append(f"| {target['name']} | {target['measured']:.2f} | {'yes' if target['met'] else 'NO'} |")
    return "\n".join(lines) + "\n"


def targets(report):
    checks = []
    for workload, result in report["workloads"].items():
        for name, minimum in TARGETS.items():
            speedup = result["contestants"][name]["speedup"]
            checks.append({"name": f"{workload}: {name} ≥ {minimum}× pure_python records/s",
                           "measured": speedup, "met": speedup >= minimum})  # fmt: skip
    if report["peak_memory"]:
        peak_mb = report["peak_memory"]["peak_rss_bytes"] / 1e6
        checks.append({"name": f"iter_shots peak RSS < {PEAK_RSS_LIMIT_MB} MB",
                       "measured": peak_mb, "met": peak_mb < PEAK_RSS_LIMIT_MB})  # fmt: skip
    return checks


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="smaller documents, fewer rounds")
    parser.add_argument("--out", type=Path, default=BENCH / "results", help="where results go")
    parser.add_argument("--big-mb", type=int, default=400, help="size of the streamed file (0: skip)")
    parser.add_argument("--peak-memory", metavar="PATH", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.peak_memory:
        peak_memory_child(args.peak_memory)
        return

    size_index = 1 if args.quick else 0
    report = {
        "command": shlex.join(["python", "bench/read.py", *(argv or sys.argv[1:])]),
        "python": platform.python_version(),
        "machine": f"{platform.machine()}, {os.cpu_count()} cores",
        "quick": args.quick,
        "rounds": ROUNDS[size_index],
        "load_average": os.getloadavg()[0],
        "workloads": {},
    }
    settle_allocator()
    for workload, sizes in SIZES.items():
        print(f"{workload}: {sizes[size_index]} shots", file=sys.stderr, flush=True)
        text = document(workload, sizes[size_index])
        check_agreement(text)
        records = text.count("\nOUTPUT\t")
        times, _, _ = time_round_robin(CONTESTANTS, text, ROUNDS[size_index])
        yardstick = times[YARDSTICK]
        report["workloads"][workload] = {"records": records, "contestants": {
            name: {
                "median_ms": statistics.median(ns) / 1e6,
                "records_per_s": records / statistics.median(ns) * 1e9,
                "speedup": statistics.median(y / n for y, n in zip(yardstick, ns)),
                "rounds_cpu_ns": ns,
            } for name, ns in times.items()
        }}  # fmt: skip
    report["peak_memory"] = measure_peak_memory(args.big_mb) if args.big_mb else None
    report["targets"] = targets(report)

    save(args.out, "read-quick" if args.quick else "read", markdown(report), report)


if __name__ == "__main__":
    main()
