"""Time the labeled formatter against its yardsticks on seeded workloads.

    python bench/run.py [--quick] [--out DIR]

Contestants run round-robin in this one process, so every ratio compares
calls made under the same conditions; peak memory is measured in a fresh
subprocess per workload. See bench/README.md for what each figure means.
"""

import argparse
import gc
import importlib.util
import json
import os
import platform
import random
import resource
import shlex
import statistics
import subprocess
import sys
import sysconfig
import tempfile
import time
from pathlib import Path

BENCH = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH))

import pure_python  # noqa: E402
from workloads import ATTRIBUTES, WORKLOADS  # noqa: E402

# Shots per workload (full run, --quick run). The full sizes make one call of
# the floor take about 0.1 s here, and one of the pure-Python formatter 2-4 s,
# while every output stays well under 32 MiB: glibc serves larger blocks from
# fresh kernel pages on every call, and which contestant crosses that line
# would then decide the ratios instead of the work each one does.
SIZES = {
    "measure": (50_000, 10_000),
    "mixed": (20_000, 3_000),
    "wide": (100, 15),
    "floats": (25_000, 4_000),
    "lists": (50_000, 10_000),
}
ROUNDS = (7, 3)
MODULE = "qir_labeled_output"
FLOOR = "floor"
TARGETS = {"floor_ratio": 0.9, "streaming_ratio": 1.5, "peak_multiple": 2.1}


def build_floor(build_dir):
    """Compiles bench/floor/floor.cpp for the stable ABI and imports it."""
    cxx = shlex.split(os.environ.get("CXX") or sysconfig.get_config_var("CXX") or "c++")
    target = Path(build_dir) / "_floor.abi3.so"
    subprocess.run(
        [*cxx, "-O2", "-std=c++17", "-shared", "-fPIC", "-DPy_LIMITED_API=0x030A0000",
         f"-I{sysconfig.get_paths()['include']}", str(BENCH / "floor" / "floor.cpp"),
         "-o", str(target)],
        check=True,
    )
    spec = importlib.util.spec_from_file_location("_floor", target)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def load_formatter():
    try:
        from brevant import QirLabeledFormatter
    except ImportError as error:
        print(f"brevant is not importable ({error}); timing the yardsticks only", file=sys.stderr)
        return None
    return QirLabeledFormatter()


class ListSink:
    """A `qo` whose `write` is a bare list.append, so streaming pays no sink cost."""

    def __init__(self):
        self.chunks = []
        self.write = self.chunks.append


def stream_into(formatter, results, qo):
    formatter.results_header(qo)
    shots = iter(results)
    formatter.write_first_shot(qo, next(shots), ATTRIBUTES)
    for shot in shots:
        formatter.write_shot(qo, shot)


def stream(formatter, results):
    qo = ListSink()
    stream_into(formatter, results, qo)
    return qo.chunks


def contestants(formatter, floor):
    fns = {}
    if formatter is not None:
        fns[MODULE] = lambda results: formatter.qir_labeled_output(results, ATTRIBUTES)
        fns["streaming"] = lambda results: stream(formatter, results)
    fns["pure_python"] = lambda results: pure_python.qir_labeled_output(results, ATTRIBUTES)
    fns["json.dumps"] = json.dumps
    fns[FLOOR] = floor.copy_text
    return fns


def as_text(output):
    return "".join(output) if isinstance(output, list) else output


def output_sizes(fns, results):
    """Runs each contestant once (also the warm-up) and checks the formatters agree."""
    texts = {name: as_text(fn(results)) for name, fn in fns.items()}
    if MODULE in texts:
        for name in ("streaming", "pure_python"):
            if texts[name] != texts[MODULE]:
                raise SystemExit(f"{name} text differs from {MODULE}")
    return {name: len(text.encode()) for name, text in texts.items()}


def minor_faults():
    return resource.getrusage(resource.RUSAGE_THREAD).ru_minflt


def settle_allocator():
    """Frees one block just under 32 MiB, as any process that has handled a
    large result set has done. glibc then serves blocks up to that size from
    its heap instead of fresh kernel pages and trims the heap less eagerly, so
    repeated calls see the steady state whichever contestant ran first."""
    block = bytearray(31 << 20)
    del block


def time_round_robin(fns, results, rounds):
    """Per-round CPU time (ns), wall time (ns) and minor page faults of each call.

    CPU time of this thread is what the figures use: on a shared machine the
    wall clock also counts time spent waiting for a core. Each round runs the
    contestants in a fresh seeded order, so that none always follows the same
    neighbour and inherits the cache and heap it leaves behind.
    """
    names = list(fns)
    rng = random.Random(0)
    cpu = {name: [] for name in names}
    wall = {name: [] for name in names}
    faults = {name: [] for name in names}
    gc.collect()
    gc.freeze()  # the input is long-lived: keep collections from rescanning it
    try:
        for _ in range(rounds):
            for name in rng.sample(names, len(names)):
                gc.disable()
                start_faults = minor_faults()
                start_wall, start_cpu = time.perf_counter_ns(), time.thread_time_ns()
                output = fns[name](results)
                cpu[name].append(time.thread_time_ns() - start_cpu)
                wall[name].append(time.perf_counter_ns() - start_wall)
                faults[name].append(minor_faults() - start_faults)
                del output
                gc.enable()
    finally:
        gc.unfreeze()
    return cpu, wall, faults


def median_ratio(numerators, denominators):
    return statistics.median(n / d for n, d in zip(numerators, denominators))


def summarize(times, wall, faults, sizes, entries):
    rows = {}
    for name, ns in times.items():
        median = statistics.median(ns)
        rows[name] = {
            "median_ms": median / 1e6,
            "ns_per_entry": median / entries,
            "output_mb_per_s": sizes[name] / median * 1e3,
            "to_floor": median_ratio(ns, times[FLOOR]),
            "module_to_this": median_ratio(times[MODULE], ns) if MODULE in times else None,
            "page_faults": statistics.median(faults[name]),
            "wall_median_ms": statistics.median(wall[name]) / 1e6,
            "rounds_cpu_ns": ns,
            "rounds_wall_ns": wall[name],
        }
    return rows


def status_lines():
    fields = {}
    for line in Path("/proc/self/status").read_text().splitlines():
        key, _, value = line.partition(":")
        fields[key] = value
    return fields


def kib(fields, key):
    return int(fields[key].split()[0]) * 1024


def peak_memory_child(workload, shots):
    """Runs in a fresh process: RSS growth of one first qir_labeled_output call."""
    from brevant import QirLabeledFormatter

    formatter = QirLabeledFormatter()
    results = WORKLOADS[workload](shots)
    gc.collect()
    try:  # restart the high-water mark so generation garbage does not count
        Path("/proc/self/clear_refs").write_text("5")
        reset = True
    except OSError:
        reset = False
    before = kib(status_lines(), "VmRSS")
    start = time.thread_time_ns()
    text = formatter.qir_labeled_output(results, ATTRIBUTES)
    elapsed = time.thread_time_ns() - start
    peak = kib(status_lines(), "VmHWM")
    output = len(text.encode())
    print(json.dumps({
        "rss_growth_bytes": peak - before,
        "output_bytes": output,
        "multiple_of_output": (peak - before) / output,
        "high_water_mark_reset": reset,
        "first_call_ns_per_entry": elapsed / sum(map(len, results)),
    }))


def measure_peak_memory(workload, shots):
    child = subprocess.run(
        [sys.executable, __file__, "--peak-memory", workload, str(shots)],
        check=True, capture_output=True, text=True,
    )
    return json.loads(child.stdout)


def fmt(value, spec):
    return "–" if value is None else format(value, spec)


def markdown(report):
    lines = [
        f"Python {report['python']}, {report['machine']}, "
        f"{'quick' if report['quick'] else 'full'} run, {report['rounds']} rounds, "
        f"load average {report['load_average']:.1f} at the start, "
        f"command: `{report['command']}`. Times are the thread's CPU time.",
        "",
        "| workload | contestant | median ms | ns/entry | output MB/s | ÷ floor | "
        f"{MODULE} ÷ this | page faults |",
        "|---|---|---:|---:|---:|---:|---:|---:|",
    ]
    for workload, result in report["workloads"].items():
        for name, row in result["contestants"].items():
            lines.append(
                f"| {workload} | {name} | {row['median_ms']:.1f} | {row['ns_per_entry']:.1f} | "
                f"{row['output_mb_per_s']:.0f} | {row['to_floor']:.2f} | "
                f"{fmt(row['module_to_this'], '.2f')} | {row['page_faults']:.0f} |"
            )
    peaks = {w: r["peak_memory"] for w, r in report["workloads"].items() if r["peak_memory"]}
    if peaks:
        lines += [
            "",
            f"Fresh-process first call of {MODULE}:",
            "",
            "| workload | output MB | peak RSS growth MB | × output | first call ns/entry |",
            "|---|---:|---:|---:|---:|",
        ]
        for workload, peak in peaks.items():
            lines.append(
                f"| {workload} | {peak['output_bytes'] / 1e6:.1f} | "
                f"{peak['rss_growth_bytes'] / 1e6:.1f} | {peak['multiple_of_output']:.2f} | "
                f"{peak['first_call_ns_per_entry']:.1f} |"
            )
    if report["targets"]:
        lines += ["", "| target | measured | met |", "|---|---:|---|"]
        for target in report["targets"]:
            lines.append(
                f"| {target['name']} | {target['measured']:.3f} | "
                f"{'yes' if target['met'] else 'NO'} |"
            )
    return "\n".join(lines) + "\n"


def targets(report):
    checks = []
    for workload, result in report["workloads"].items():
        rows = result["contestants"]
        if MODULE not in rows:
            return []
        checks.append((f"{workload}: {MODULE} ÷ floor ≤ {TARGETS['floor_ratio']}",
                       rows[MODULE]["to_floor"], TARGETS["floor_ratio"]))
        if workload == "measure":
            checks.append((f"measure: streaming ÷ {MODULE} ≤ {TARGETS['streaming_ratio']}",
                           1 / rows["streaming"]["module_to_this"], TARGETS["streaming_ratio"]))
        peak = result["peak_memory"]
        checks.append((f"{workload}: peak memory ÷ output ≤ {TARGETS['peak_multiple']}",
                       peak["multiple_of_output"], TARGETS["peak_multiple"]))
    return [{"name": n, "measured": m, "limit": lim, "met": m <= lim} for n, m, lim in checks]


def save(out, stem, table, report):
    """Prints the table and keeps it with the raw figures as `stem`.md and .json."""
    print(table)
    out.mkdir(parents=True, exist_ok=True)
    (out / f"{stem}.md").write_text(table)
    (out / f"{stem}.json").write_text(json.dumps(report, indent=2) + "\n")
    print(f"saved {out / stem}.md and .json", file=sys.stderr)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="smaller workloads, fewer rounds")
    parser.add_argument("--out", type=Path, default=BENCH / "results", help="where results go")
    parser.add_argument("--only", nargs="+", choices=list(WORKLOADS), help="workloads to run")
    parser.add_argument("--peak-memory", nargs=2, metavar=("WORKLOAD", "SHOTS"),
                        help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.peak_memory:
        peak_memory_child(args.peak_memory[0], int(args.peak_memory[1]))
        return

    size_index = 1 if args.quick else 0
    rounds = ROUNDS[size_index]
    formatter = load_formatter()
    report = {
        "command": shlex.join(["python", "bench/run.py", *(argv or sys.argv[1:])]),
        "python": platform.python_version(),
        "machine": f"{platform.machine()}, {os.cpu_count()} cores",
        "quick": args.quick,
        "rounds": rounds,
        "load_average": os.getloadavg()[0],
        "workloads": {},
    }
    settle_allocator()
    with tempfile.TemporaryDirectory(prefix="brevant-floor-") as build_dir:
        fns = contestants(formatter, build_floor(build_dir))
        for workload in args.only or WORKLOADS:
            shots = SIZES[workload][size_index]
            print(f"{workload}: {shots} shots", file=sys.stderr, flush=True)
            results = WORKLOADS[workload](shots)
            entries = sum(map(len, results))
            sizes = output_sizes(fns, results)
            times, wall, faults = time_round_robin(fns, results, rounds)
            del results
            report["workloads"][workload] = {
                "shots": shots,
                "entries": entries,
                "contestants": summarize(times, wall, faults, sizes, entries),
                "peak_memory": measure_peak_memory(workload, shots) if formatter else None,
            }
    report["targets"] = targets(report)

    save(args.out, "quick" if args.quick else "full", markdown(report), report)


if __name__ == "__main__":
    main()
