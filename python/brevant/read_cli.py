"""brevant-read: QIR output documents back to shots, counts or bit strings."""

from __future__ import annotations

import argparse
import contextlib
import json
import shutil
import sys
from collections import Counter
from collections.abc import Iterator
from concurrent.futures import ProcessPoolExecutor
from functools import partial
from typing import Any, TextIO

from brevant import __version__
from brevant._cli_io import (
    InputError,
    NamedInput,
    Refused,
    add_input_output,
    exit_status_help,
    failure_status,
    open_input,
    open_output,
    progress_bar,
    require_input,
    run,
)
from brevant._histogram import histogram
from brevant._json_values import json_value
from brevant._feeding import BitOrder, ErrorMode, chosen_labels, chunked_readers
from brevant.reader import LabeledParseError, count_stream, read_labeled, shots_with_exit_codes

PROG = "brevant-read"
TOP = 20  # outcomes drawn by --histogram

SUCCESS = """\
success, also when --errors collect left shots out (--counts and
       --memory name each on stderr; the JSON Lines stream passes over them)"""

EPILOG = f"""\
output:
  (default)  one shot per line, as a JSON list of [label, value] pairs such as
             ["USER:RESULT:r0", 1]: brevant-labeled's own input, so that
             `{PROG} out.txt | brevant-labeled --jsonl` writes the shots
             back (the METADATA block is not carried over: give it with -a).
             The converter writes every shot with END 0, so failed shots are
             left out unless --include-failed. A container is its
             count, ["USER:QIRARRAY:ghz", 3], followed by its elements.
             Standard JSON: a double that is not finite is the string "nan",
             "inf" or "-inf", which brevant-labeled reads back.
  --counts   a JSON object from bit string to number of shots, summed over
             the inputs (-j N counts N files at once, each in its own process)
  --counts --histogram
             the counts as a bar chart in plain text, as wide as the terminal:
             the most frequent first, each with its count and share
  --memory   one bit string per line, a line per shot

Several inputs are read in turn, as one. Every form streams: memory stays
bounded by a chunk of the input, however large it is.

A bit string holds a shot's RESULT values and RESULT_ARRAY bits, each result
at the place of its label's first appearance in the document (in a document
without labels, at its record's place); the first result is leftmost, or
rightmost with --bit-order reversed (Qiskit's order). --labels takes those
labels only, in the order given. --counts and the JSON Lines form leave out
shots that failed (END not 0) unless --include-failed, and say on stderr how
many they left out.

{exit_status_help(SUCCESS)}
An unreadable input is reported as FILE:LINE:COLUMN: message.

example:
  {PROG} results.txt | brevant-labeled --jsonl
  {PROG} --counts --labels r0,r1 results.txt
  {PROG} --counts -j 4 results/*.txt
  my-runner --shots 1000 | {PROG} --memory | sort | uniq -c
"""


def parse_args(argv: list[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Read QIR output (labeled or ordered, schema 1.0 to 2.1) back into shots, counts or bit strings.",
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    add_input_output(parser, "document to read", "reading", many=True)
    form = parser.add_mutually_exclusive_group()
    form.add_argument("--counts", action="store_true", help="number of shots per bit string, as JSON")
    form.add_argument("--memory", action="store_true", help="each shot's bit string, a line per shot")
    form.add_argument(
        "--npy", metavar="OUT.npy", help="the shots' bits as a (shots, bits) uint8 matrix in a .npy file (needs numpy)"
    )
    parser.add_argument(
        "--labels", type=lambda text: text.split(","), metavar="L1,L2,...",
        help="with --counts, --memory or --npy: the bits to take, in this order",
    )
    parser.add_argument(
        "--bit-order", choices=["record", "reversed"],
        help="with --counts, --memory or --npy: the first result leftmost (record, the default) or rightmost",
    )
    parser.add_argument(
        "--include-failed", action="store_true",
        help="with --counts or the JSON Lines form: keep the shots whose END code is not 0",
    )
    parser.add_argument(
        "--errors", choices=["raise", "collect"], default="raise",
        help="'collect' leaves out the shots that cannot be read instead of stopping (default: %(default)s)",
    )
    parser.add_argument(
        "--histogram", action="store_true",
        help="with --counts: draw them as bars, as wide as the terminal, instead of writing JSON",
    )
    parser.add_argument(
        "--top", type=positive, metavar="N",
        help=f"with --histogram: the N most frequent outcomes, then one line for the rest (default: {TOP})",
    )
    parser.add_argument(
        "-j", "--jobs", type=positive, default=1, metavar="N", help="with --counts: count N files at once (default: 1)"
    )
    parser.add_argument(
        "-q", "--quiet", action="store_true",
        help="no progress bar (else shown on a terminal when a run takes over a second and tqdm is installed)",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    args = parser.parse_args(argv)
    for option, given in (("--labels", args.labels is not None), ("--bit-order", args.bit_order is not None)):
        if given and not (args.counts or args.memory or args.npy):
            parser.error(f"{option} needs --counts, --memory or --npy")
    if args.include_failed and (args.memory or args.npy):
        parser.error("--include-failed needs --counts or the JSON Lines form")
    args.bit_order = args.bit_order or "record"
    if args.labels is not None and len(set(args.labels)) != len(args.labels):
        parser.error("--labels names a label more than once")
    if args.jobs > 1 and not args.counts:
        parser.error("-j needs --counts")
    if args.histogram and not args.counts:
        parser.error("--histogram needs --counts")
    if args.top is not None and not args.histogram:
        parser.error("--top needs --histogram")
    if args.jobs > 1 and "-" in args.inputs:
        parser.error("-j counts files: standard input cannot be shared between processes")
    require_input(parser, args.inputs)
    return args


def positive(text: str) -> int:
    if not text.isdigit() or int(text) < 1:
        raise argparse.ArgumentTypeError(f"expected a whole number of at least 1, got {text!r}")
    return int(text)


@contextlib.contextmanager
def opened(path: str, quiet: bool) -> Iterator[NamedInput]:
    """An input whose parse errors are input errors naming their place, read under a progress bar."""
    with open_input(path) as source, progress_bar(source, quiet):
        try:
            yield source
        except LabeledParseError as exc:
            raise InputError(located(source.name, exc)) from None


@contextlib.contextmanager
def countable(name: str) -> Iterator[None]:
    """Bits that cannot be counted as asked (shots that record different labels, or lack
    a chosen one) are the input's fault."""
    try:
        yield
    except LabeledParseError:
        raise
    except ValueError as exc:
        raise InputError(f"{name}: {exc}") from None


def located(name: str, error: LabeledParseError) -> str:
    reason = str(error).removeprefix(f"line {error.line}, column {error.column}: ")
    return f"{name}:{error.line}:{error.column}: {reason}"


def write_shots(path: str, args: argparse.Namespace, out: TextIO) -> int:
    """Writes the input's shots; returns how many failed shots it left out."""
    left_out = 0
    with opened(path, args.quiet) as source:
        for shot, exit_code in shots_with_exit_codes(source, args.errors):
            # The converter writes every shot as a success, so a failed one would become one.
            if exit_code != 0 and not args.include_failed:
                left_out += 1
                continue
            try:
                out.write(json.dumps(shot, allow_nan=False) + "\n")
            except ValueError:  # a double that is not finite
                out.write(json.dumps([(key, json_value(value)) for key, value in shot], allow_nan=False) + "\n")
    return left_out


def write_memory(path: str, args: argparse.Namespace, out: TextIO) -> list[str]:
    labels = chosen_labels(args.labels)
    with opened(path, args.quiet) as source, countable(source.name):
        for reader in chunked_readers(source, args.errors):
            out.writelines(bits + "\n" for bits in reader.memory_completed(labels, args.bit_order))
        return [located(source.name, problem) for problem in reader.problems()]


class NpyNotWritten(Exception):
    """The --npy file could not be written."""


def write_npy(args: argparse.Namespace) -> None:
    """The bits of every input's shots, in input order, as one matrix."""
    try:
        import numpy
    except ImportError:
        raise InputError("--npy needs numpy: pip install numpy") from None
    matrices = []
    for path in args.inputs:
        with opened(path, args.quiet) as source, countable(source.name):
            result = read_labeled(source, errors=args.errors)
            matrices.append(result.bits(args.labels, bit_order=args.bit_order))
            warn([located(source.name, problem) for problem in result.problems])
    if len({matrix.shape[1] for matrix in matrices}) > 1:
        raise InputError("--npy: the inputs' shots have different numbers of bits")
    try:
        numpy.save(args.npy, numpy.concatenate(matrices))
    except OSError as exc:
        raise NpyNotWritten(exc) from None


def count_file(
    path: str, labels: list[str] | None, errors: ErrorMode, bit_order: BitOrder, include_failed: bool, quiet: bool
) -> tuple[dict[str, int], list[str], int]:
    """The input's counts, a warning for each shot left out and how many failed shots it
    left out; run in a worker process too, so everything it returns or raises is plain
    data that crosses intact."""
    with opened(path, quiet) as source, countable(source.name):
        counts, failed, problems = count_stream(
            source, labels, errors=errors, bit_order=bit_order, include_failed=include_failed
        )
        return counts, [located(source.name, problem) for problem in problems], failed


def counted(args: argparse.Namespace) -> Iterator[tuple[dict[str, int], list[str], int]]:
    jobs = min(args.jobs, len(args.inputs))
    # Bars of files counted at once would overwrite each other.
    count = partial(
        count_file, labels=args.labels, errors=args.errors, bit_order=args.bit_order,
        include_failed=args.include_failed, quiet=args.quiet or jobs > 1,
    )  # fmt: skip
    if jobs == 1:
        yield from map(count, args.inputs)
        return
    pool = ProcessPoolExecutor(jobs)
    try:
        yield from pool.map(count, args.inputs)
    finally:
        pool.shutdown(cancel_futures=True)  # after a failure or a signal, the files not begun are left


def read_and_write(args: argparse.Namespace) -> int:
    try:
        with open_output(args.output, args.inputs) as out:
            if args.counts:
                total: Counter[str] = Counter()
                left_out = 0
                for counts, warnings, failed in counted(args):
                    total.update(counts)
                    warn(warnings)
                    left_out += failed
                report_left_out(left_out)
                if args.histogram:
                    width = shutil.get_terminal_size().columns
                    out.writelines(line + "\n" for line in histogram(total, args.top or TOP, width))
                else:
                    out.write(json.dumps(total, sort_keys=True) + "\n")
            elif args.npy:
                write_npy(args)
            elif args.memory:
                for path in args.inputs:
                    warn(write_memory(path, args, out))
            else:
                report_left_out(sum(write_shots(path, args, out) for path in args.inputs))
    except NpyNotWritten as exc:
        return failure_status(PROG, args.npy, exc.args[0])
    except (InputError, Refused, OSError) as exc:
        return failure_status(PROG, args.output, exc)
    return 0


def report_left_out(left_out: int) -> None:
    if left_out:
        print(f"{PROG}: left out {left_out} failed shot{'s' * (left_out != 1)} (END not 0;"
              " --include-failed keeps them)", file=sys.stderr)  # fmt: skip


def warn(warnings: list[str]) -> None:
    for warning in warnings:
        print(f"{PROG}: warning: {warning}", file=sys.stderr)


def main(argv: list[str] | None = None) -> int:
    return run(lambda: read_and_write(parse_args(argv)))
