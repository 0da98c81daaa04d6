"""Where the time of streaming goes, on the `measure` workload.

    python bench/streaming_cost.py [--shots N] [--rounds N]

Times, round-robin in this one process (CPU time of the thread, medians):
the one-call form; streaming shot by shot into a `write` that is
`list.append`, as bench/run.py does; the same streaming into a `write` that
keeps nothing; and, without the formatter, building one `str` per shot of
the same sizes and keeping them in a list. The last is what the interpreter
charges for the chunks that a keeping `write` holds on to.
"""

import argparse
import gc
import statistics
import time

from run import ATTRIBUTES, ListSink, minor_faults, settle_allocator, stream, stream_into
from workloads import measure

from brevant import QirLabeledFormatter


class DiscardingSink:
    """A `qo` whose `write` keeps nothing."""

    def __init__(self):
        self.write = len


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--shots", type=int, default=50_000)
    parser.add_argument("--rounds", type=int, default=9)
    args = parser.parse_args()

    formatter = QirLabeledFormatter()
    results = measure(args.shots)
    chunk_sizes = [len(chunk) for chunk in stream(formatter, results)]

    contestants = {
        "one call (qir_labeled_output)": lambda: formatter.qir_labeled_output(results, ATTRIBUTES),
        "streaming, write = list.append": lambda: stream_into(formatter, results, ListSink()),
        "streaming, write keeps nothing": lambda: stream_into(formatter, results, DiscardingSink()),
        "the chunk strs alone, kept in a list": lambda: ["x" * size for size in chunk_sizes],
    }
    times = {name: [] for name in contestants}
    faults = {name: [] for name in contestants}
    settle_allocator()
    gc.collect()
    gc.freeze()
    for _ in range(args.rounds):
        for name, call in contestants.items():
            gc.disable()
            start_faults, start = minor_faults(), time.thread_time_ns()
            output = call()
            times[name].append(time.thread_time_ns() - start)
            faults[name].append(minor_faults() - start_faults)
            del output
            gc.enable()

    one_call = statistics.median(times["one call (qir_labeled_output)"])
    print(f"measure, {args.shots:,} shots, {args.rounds} rounds\n")
    print("| what | median ms | ÷ one call | page faults |")
    print("|---|---:|---:|---:|")
    for name, ns in times.items():
        median = statistics.median(ns)
        print(f"| {name} | {median / 1e6:.1f} | {median / one_call:.2f} | {statistics.median(faults[name]):.0f} |")


if __name__ == "__main__":
    main()
