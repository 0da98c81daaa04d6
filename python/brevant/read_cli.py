"""brevant-read: QIR output documents back to shots, counts or bit strings."""

from __future__ import annotations

import argparse
import json
import sys
from typing import TextIO

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
from brevant.reader import LabeledParseError, count_labeled, iter_shots, read_labeled

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
             Read one shot at a time: memory stays flat however large the input.
  --counts   a JSON object from bit string to number of shots
  --memory   one bit string per line, a line per shot

A bit string holds a shot's RESULT values and RESULT_ARRAY bits in record
order, the first record leftmost; --labels keeps those records only, in the
order given.

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
    parser.add_argument(
        "--labels", type=lambda text: text.split(","), metavar="L1,L2,...",
        help="with --counts or --memory: the bits to take, in this order",
    )
    parser.add_argument(
        "--errors", choices=["raise", "collect"], default="raise",
        help="'collect' leaves out the shots that cannot be read instead of stopping (default: %(default)s)",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    args = parser.parse_args(argv)
    if args.labels is not None and not (args.counts or args.memory):
        parser.error("--labels needs --counts or --memory")
    if args.labels is not None and len(set(args.labels)) != len(args.labels):
        parser.error("--labels names a label more than once")
    require_input(parser, args)
    return args


def write_shots(source: NamedInput, errors: str, out: TextIO) -> None:
    for shot in iter_shots(source, errors=errors):
        out.write(json.dumps(shot) + "\n")


def write_bits(source: NamedInput, args: argparse.Namespace, out: TextIO) -> None:
    if args.counts and args.errors == "raise":
        # Counted a chunk at a time: memory stays flat however large the file.
        out.write(json.dumps(count_labeled(source, args.labels), sort_keys=True) + "\n")
        return
    result = read_labeled(source, errors=args.errors)
    for problem in result.problems:
        print(f"{PROG}: warning: {located(source.name, problem)}", file=sys.stderr)
    if args.counts:
        out.write(json.dumps(result.counts(args.labels), sort_keys=True) + "\n")
    else:
        out.writelines(bits + "\n" for bits in result.memory(args.labels))


def located(name: str, error: LabeledParseError) -> str:
    reason = str(error).removeprefix(f"line {error.line}, column {error.column}: ")
    return f"{name}:{error.line}:{error.column}: {reason}"


def read_and_write(args: argparse.Namespace) -> int:
    name = "<stdin>" if args.input == "-" else args.input
    try:
        with open_input(args.input) as stream, open_output(args.output, stream) as out:
            source = NamedInput(stream, args.input)
            if args.counts or args.memory:
                write_bits(source, args, out)
            else:
                write_shots(source, args.errors, out)
    except LabeledParseError as exc:
        return failure_status(PROG, args.output, InputError(located(name, exc)))
    except (InputError, Refused, OSError) as exc:
        return failure_status(PROG, args.output, exc)
    return 0


def main(argv: list[str] | None = None) -> int:
    return run(lambda: read_and_write(parse_args(argv)))
