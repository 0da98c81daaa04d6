"""brevant-read: QIR output documents back to shots, counts or bit strings."""

from __future__ import annotations

import argparse
import json
import math
import sys
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
    require_input,
    run,
)
from brevant.reader import ErrorMode, LabeledParseError, count_stream, iter_shots, read_labeled

PROG = "brevant-read"

SUCCESS = """\
success, also when --errors collect left shots out (--counts and
       --memory name each on stderr; the JSON Lines stream passes over them)"""

EPILOG = f"""\
output:
  (default)  one shot per line, as a JSON list of [label, value] pairs such as
             ["USER:RESULT:r0", 1]: brevant-labeled's own input, so that
             `{PROG} out.txt | brevant-labeled --jsonl` writes the shots
             back (the METADATA block is not carried over: give it with -a).
             A container is its count, ["USER:QIRARRAY:ghz", 3], followed by
             its elements. Standard JSON: a double that is not finite is the
             string "nan", "inf" or "-inf", which brevant-labeled reads back.
             Read one shot at a time: memory stays flat however large the input.
  --counts   a JSON object from bit string to number of shots
  --memory   one bit string per line, a line per shot

A bit string holds a shot's RESULT values and RESULT_ARRAY bits, each result
at the place of its label's first appearance in the document (in a document
without labels, at its record's place); the first result is leftmost, or
rightmost with --bit-order reversed (Qiskit's order). --labels takes those
labels only, in the order given. --counts leaves out shots that failed (END
not 0) unless --include-failed, and says on stderr how many it left out.

{exit_status_help(SUCCESS)}
An unreadable input is reported as FILE:LINE:COLUMN: message.

example:
  {PROG} results.txt | brevant-labeled --jsonl
  {PROG} --counts --labels r0,r1 results.txt
  my-runner --shots 1000 | {PROG} --memory | sort | uniq -c
"""


def parse_args(argv: list[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Read QIR output (labeled or ordered, schema 1.0 to 2.1) back into shots, counts or bit strings.",
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    add_input_output(parser, "document to read", "reading")
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
        "--include-failed", action="store_true", help="with --counts: count the shots whose END code is not 0"
    )
    parser.add_argument(
        "--errors", choices=["raise", "collect"], default="raise",
        help="'collect' leaves out the shots that cannot be read instead of stopping (default: %(default)s)",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    args = parser.parse_args(argv)
    for option, given in (("--labels", args.labels is not None), ("--bit-order", args.bit_order is not None)):
        if given and not (args.counts or args.memory or args.npy):
            parser.error(f"{option} needs --counts, --memory or --npy")
    if args.include_failed and not args.counts:
        parser.error("--include-failed needs --counts")
    args.bit_order = args.bit_order or "record"
    if args.labels is not None and len(set(args.labels)) != len(args.labels):
        parser.error("--labels names a label more than once")
    require_input(parser, args)
    return args


def write_shots(source: NamedInput, errors: ErrorMode, out: TextIO) -> None:
    for shot in iter_shots(source, errors=errors):
        try:
            out.write(json.dumps(shot, allow_nan=False) + "\n")
        except ValueError:  # a double that is not finite
            out.write(json.dumps([(key, finite(value)) for key, value in shot], allow_nan=False) + "\n")


def finite(value: Any) -> Any:
    """A value as standard JSON holds it: a non-finite double as the text the formatter writes for it."""
    if isinstance(value, list):
        return [finite(item) for item in value]
    if isinstance(value, float) and not math.isfinite(value):
        return "nan" if math.isnan(value) else "inf" if value > 0 else "-inf"
    return value


def write_bits(source: NamedInput, args: argparse.Namespace, out: TextIO) -> None:
    try:
        if args.counts:
            # Counted a chunk at a time: memory stays flat however large the file.
            counts, failed, problems = count_stream(
                source, args.labels, errors=args.errors, bit_order=args.bit_order, include_failed=args.include_failed
            )
        elif args.npy:
            numpy = numpy_module()
            result = read_labeled(source, errors=args.errors)
            bits, problems = result.bits(args.labels, bit_order=args.bit_order), result.problems
        else:
            result = read_labeled(source, errors=args.errors)
            memory, problems = result.memory(args.labels, bit_order=args.bit_order), result.problems
    except LabeledParseError:
        raise
    except ValueError as exc:  # shots that record different labels, or lack a chosen one
        raise InputError(f"{source.name}: {exc}") from None
    warn(source.name, problems)
    if args.counts:
        if failed:
            print(f"{PROG}: left out {failed} failed shot{'s' * (failed != 1)} (END not 0;"
                  " --include-failed counts them)", file=sys.stderr)  # fmt: skip
        out.write(json.dumps(counts, sort_keys=True) + "\n")
    elif args.npy:
        try:
            numpy.save(args.npy, bits)
        except OSError as exc:
            raise NpyNotWritten(exc) from None
    else:
        out.writelines(bits + "\n" for bits in memory)


class NpyNotWritten(Exception):
    """The --npy file could not be written."""


def numpy_module() -> Any:
    try:
        import numpy
    except ImportError:
        raise InputError("--npy needs numpy: pip install numpy") from None
    return numpy


def warn(name: str, problems: list[LabeledParseError]) -> None:
    for problem in problems:
        print(f"{PROG}: warning: {located(name, problem)}", file=sys.stderr)


def located(name: str, error: LabeledParseError) -> str:
    reason = str(error).removeprefix(f"line {error.line}, column {error.column}: ")
    return f"{name}:{error.line}:{error.column}: {reason}"


def read_and_write(args: argparse.Namespace) -> int:
    name = "<stdin>" if args.input == "-" else args.input
    try:
        with open_input(args.input) as stream, open_output(args.output, stream) as out:
            source = NamedInput(stream, args.input)
            if args.counts or args.memory or args.npy:
                write_bits(source, args, out)
            else:
                write_shots(source, args.errors, out)
    except LabeledParseError as exc:
        return failure_status(PROG, args.output, InputError(located(name, exc)))
    except NpyNotWritten as exc:
        return failure_status(PROG, args.npy, exc.args[0])
    except (InputError, Refused, OSError) as exc:
        return failure_status(PROG, args.output, exc)
    return 0


def main(argv: list[str] | None = None) -> int:
    return run(lambda: read_and_write(parse_args(argv)))
