"""Time numpy columns in and out against the Python-object path.

    python bench/columns.py [--quick] [--out DIR] [--big-mb 1000]

Each comparison runs its contestants round-robin in this one process on the
same inputs, so every ratio compares calls made under the same conditions.
The memory of write_columns is measured in a fresh subprocess writing a file.
"""

import argparse
import gc
import json
import os
import platform
import shlex
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")  # numpy's idle threads would share the cores

import numpy as np  # noqa: E402

BENCH = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH))

from run import kib, save, settle_allocator, status_lines, time_round_robin  # noqa: E402

from brevant import QirLabeledFormatter, format_columns, iter_bits, read_labeled, write_columns  # noqa: E402

# (full, quick): shots of the writing workloads (20 entries a shot; documents
# near 20 MB, under glibc's 32 MiB line), of the reading ones, rounds.
WRITE_SHOTS = (50_000, 10_000)
READ_SHOTS = (200_000, 20_000)
COLLECTOR_SHOTS = (100_000, 10_000)
ROUNDS = (7, 3)
WIDTH = 20
FORMATTER = QirLabeledFormatter()


def bit_matrix(shots, seed=0):
    return np.random.default_rng(seed).integers(0, 2, (shots, WIDTH), dtype=np.uint8)


def result_keys(width=WIDTH):
    return [f"USER:RESULT:r{j}" for j in range(width)]


def mixed_columns(shots, seed=1):
    """8 RESULT bits, 6 doubles (6 decimals) and 6 ints a shot, as stored columns."""
    rng = np.random.default_rng(seed)
    columns = [(f"USER:RESULT:m{j}", rng.integers(0, 2, shots, dtype=np.uint8)) for j in range(8)]
    columns += [(f"USER:FLOAT:e{j}", rng.standard_normal(shots).round(6)) for j in range(6)]
    columns += [(f"USER:INT:n{j}", rng.integers(-(10**6), 10**6, shots)) for j in range(6)]
    return columns


def as_shots(columns):
    """The same values as the formatter's shots, built before timing."""
    keys = [key for key, _ in columns]
    rows = zip(*(array.tolist() for _, array in columns))
    return [list(zip(keys, row)) for row in rows]


def writing(shots, rounds):
    """format_columns against qir_labeled_output, warm, and end to end from a matrix."""
    matrix = bit_matrix(shots)
    keys = result_keys()
    bits = list(zip(keys, np.ascontiguousarray(matrix.T)))  # one stored column per record
    mixed = mixed_columns(shots)
    inputs = {"bits": (bits, as_shots(bits)), "mixed": (mixed, as_shots(mixed))}
    for columns, results in inputs.values():
        if format_columns(columns, {}) != FORMATTER.qir_labeled_output(results, {}):
            raise SystemExit("format_columns and qir_labeled_output differ")
    comparisons = {}
    for name, (columns, results) in inputs.items():
        comparisons[f"warm {name}"] = compare({
            "qir_labeled_output": lambda _, results=results: FORMATTER.qir_labeled_output(results, {}),
            "format_columns": lambda _, columns=columns: format_columns(columns, {}),
        }, shots * WIDTH, rounds)  # fmt: skip

    def tuples_path(_):
        rows = matrix.tolist()
        return FORMATTER.qir_labeled_output([list(zip(keys, row)) for row in rows], {})

    comparisons["end to end from a matrix"] = compare({
        "tolist + tuples + qir_labeled_output": tuples_path,
        "format_columns of m[:, j]": lambda _: format_columns([(k, matrix[:, j]) for j, k in enumerate(keys)], {}),
    }, shots * WIDTH, rounds)  # fmt: skip
    return comparisons


def reading(shots, rounds):
    """bits() against memory(), and text to a matrix: the quick scan against
    read + memory() + join + frombuffer."""
    matrix = bit_matrix(shots)
    text = format_columns(list(zip(result_keys(), np.ascontiguousarray(matrix.T))), {})
    result = read_labeled(text)

    def by_memory(_):
        memory = read_labeled(text).memory()
        return np.frombuffer("".join(memory).encode(), np.uint8).reshape(len(memory), -1) - ord("0")

    def by_scan(_):
        return np.concatenate(list(iter_bits(text, shots=shots)))

    if not ((by_scan(None) == matrix).all() and (result.bits() == matrix).all() and (by_memory(None) == matrix).all()):
        raise SystemExit("the bit matrices differ")
    entries = shots * WIDTH
    return {
        "bits() and memory() of a read document": compare({
            "memory()": lambda _: result.memory(),
            "bits()": lambda _: result.bits(),
        }, entries, rounds),
        "text to a bit matrix": compare({
            "read + memory() + join + frombuffer": by_memory,
            "iter_bits": by_scan,
        }, entries, rounds),
    }  # fmt: skip


def collector(shots, rounds):
    """shots() with the interpreter's collector as the caller has it, against it disabled."""
    text = format_columns(list(zip(result_keys(), np.ascontiguousarray(bit_matrix(shots).T))), {})
    result = read_labeled(text)

    def with_collector(enabled):
        def call(_):
            if enabled:
                gc.enable()  # time_round_robin disables it around each call
            try:
                return result.shots()
            finally:
                gc.disable()

        return call

    return {"shots() and the collector": compare({
        "collector disabled": with_collector(False),
        "default collector": with_collector(True),
    }, shots * WIDTH, rounds)}  # fmt: skip


def compare(contestants, entries, rounds):
    times, _, _ = time_round_robin(contestants, None, rounds)
    first = next(iter(times))
    return {
        name: {
            "median_ms": statistics.median(ns) / 1e6,
            "ns_per_entry": statistics.median(ns) / entries,
            "time_to_first": statistics.median(n / f for n, f in zip(ns, times[first])),
            "rounds_cpu_ns": ns,
        }
        for name, ns in times.items()
    }


def write_memory_child(path, megabytes):
    """Runs in a fresh process: RSS growth of write_columns of a big document."""
    shots = megabytes * 10**6 // (WIDTH * 19 + 12)  # about 19 bytes a RESULT record
    columns = list(zip(result_keys(), np.ascontiguousarray(bit_matrix(shots).T)))
    gc.collect()
    Path("/proc/self/clear_refs").write_text("5")  # restart the high-water mark
    before = kib(status_lines(), "VmRSS")
    with open(path, "wb") as file:
        write_columns(file, columns)
    peak = kib(status_lines(), "VmHWM")
    print(json.dumps({"rss_growth_bytes": peak - before, "file_bytes": os.path.getsize(path), "shots": shots}))


def write_memory(megabytes):
    with tempfile.TemporaryDirectory(prefix="brevant-columns-") as folder:
        child = subprocess.run(
            [sys.executable, __file__, "--write-memory", str(Path(folder) / "big.txt"), str(megabytes)],
            check=True, capture_output=True, text=True,
        )  # fmt: skip
    return json.loads(child.stdout)


TARGETS = [
    # (comparison, contestant, what, limit, at most?)
    ("warm bits", "format_columns", "× qir_labeled_output's time", 0.25, True),
    ("warm mixed", "format_columns", "× qir_labeled_output's time", 0.25, True),
    ("end to end from a matrix", "format_columns of m[:, j]", "× the tuples path's time", 1 / 20, True),
    ("bits() and memory() of a read document", "bits()", "× memory()'s time", 1.0, True),
    ("text to a bit matrix", "iter_bits", "× read + memory() + join + frombuffer's time", 1 / 3, True),
    ("shots() and the collector", "default collector", "× the time with it disabled", 1.3, True),
]
WRITE_RSS_LIMIT_MB = 64


def targets(report):
    checks = []
    for comparison, contestant, what, limit, at_most in TARGETS:
        if comparison in report["comparisons"]:
            measured = report["comparisons"][comparison][contestant]["time_to_first"]
            checks.append({"name": f"{comparison}: {contestant} {what} {'≤' if at_most else '≥'} {limit:.3g}",
                           "measured": measured, "met": measured <= limit if at_most else measured >= limit})  # fmt: skip
    if report["write_memory"]:
        growth = report["write_memory"]["rss_growth_bytes"] / 1e6
        checks.append({"name": f"write_columns of a {report['write_memory']['file_bytes'] / 1e9:.2f} GB file: "
                       f"peak RSS growth < {WRITE_RSS_LIMIT_MB} MB", "measured": growth,
                       "met": growth < WRITE_RSS_LIMIT_MB})  # fmt: skip
    return checks


def markdown(report):
    lines = [
        f"Python {report['python']}, numpy {report['numpy']}, {report['machine']}, "
        f"{'quick' if report['quick'] else 'full'} run, {report['rounds']} rounds, "
        f"load average {report['load_average']:.1f} at the start, command: `{report['command']}`. "
        "Times are the thread's CPU time, medians over the rounds.",
        "",
        "| comparison | contestant | median ms | ns/entry | × first contestant |",
        "|---|---|---:|---:|---:|",
    ]
    for comparison, rows in report["comparisons"].items():
        for name, row in rows.items():
            lines.append(f"| {comparison} | {name} | {row['median_ms']:.1f} | {row['ns_per_entry']:.2f} | "
                         f"{row['time_to_first']:.3f} |")  # fmt: skip
    lines += ["", "| target | measured | met |", "|---|---:|---|"]
    for target in report["targets"]:
        lines.append(f"| {target['name']} | {target['measured']:.3f} | {'yes' if target['met'] else 'NO'} |")
    return "\n".join(lines) + "\n"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="smaller inputs, fewer rounds")
    parser.add_argument("--out", type=Path, default=BENCH / "results", help="where results go")
    parser.add_argument("--big-mb", type=int, default=1000, help="size of the written file (0: skip)")
    parser.add_argument("--write-memory", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.write_memory:
        write_memory_child(args.write_memory[0], int(args.write_memory[1]))
        return

    size = 1 if args.quick else 0
    report = {
        "command": shlex.join(["python", "bench/columns.py", *(argv or sys.argv[1:])]),
        "python": platform.python_version(),
        "numpy": np.__version__,
        "machine": f"{platform.machine()}, {os.cpu_count()} cores",
        "quick": args.quick,
        "rounds": ROUNDS[size],
        "load_average": os.getloadavg()[0],
    }
    settle_allocator()
    report["comparisons"] = {
        **writing(WRITE_SHOTS[size], ROUNDS[size]),
        **reading(READ_SHOTS[size], ROUNDS[size]),
        **collector(COLLECTOR_SHOTS[size], ROUNDS[size]),
    }
    report["write_memory"] = write_memory(args.big_mb) if args.big_mb else None
    report["targets"] = targets(report)
    save(args.out, "columns-quick" if args.quick else "columns", markdown(report), report)


if __name__ == "__main__":
    main()
