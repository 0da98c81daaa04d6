"""brevant-check: report where QIR "Labeled" output documents depart from the schema."""

from __future__ import annotations

import argparse
import contextlib
import sys
from typing import TextIO

from brevant import __version__
from brevant._cli_io import (
    InputError,
    NamedInput,
    exit_status_help,
    failure_status,
    open_input,
    open_output,
    progress_bar,
    require_input,
    run,
    write_line,
)
from brevant._lines import MAX_LINE_CHARS
from brevant.checker import SCHEMAS, VERSIONS, Omitted, iter_findings

CHECK_PROG = "brevant-check"
PER_CODE = 10  # findings of one code shown per input before the rest are only counted

CHECK_EPILOG = f"""\
Each departure is one line on standard output, as compilers and linters write
them: FILE:LINE:COLUMN: CODE: message. The codes are stable; `pydoc
brevant.checker` lists them. After the first {PER_CODE} findings of a code in an input,
one line says how many more there are, unless --all is given.

{exit_status_help("every input conforms", "some input does not conform, or ", writes_files=False)}
example:
  {CHECK_PROG} results.txt
  my-runner --shots 1000 | {CHECK_PROG} --schema-version 2.0
  {CHECK_PROG} --schema ordered --all results.txt
"""


def parse_check_args(argv: list[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog=CHECK_PROG,
        description='Check QIR "Labeled" (or "Ordered") output documents against the output schema.',
        epilog=CHECK_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument(
        "inputs", nargs="*", default=["-"], metavar="INPUT",
        help="document to check; '-' or none reads standard input",
    )
    parser.add_argument(
        "--schema-version", default="2.1", choices=list(VERSIONS),
        help="the schema version to check against (default: %(default)s)",
    )
    parser.add_argument(
        "--schema", default="labeled", choices=list(SCHEMAS),
        help="the output schema to check against (default: %(default)s)",
    )
    parser.add_argument("--all", action="store_true", help="report every finding, however many of one code")
    parser.add_argument(
        "-q", "--quiet", action="store_true",
        help="print nothing (no progress bar either); stop reading an input at its first departure",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    args = parser.parse_args(argv)
    require_input(parser, args.inputs)
    return args


class BoundedLines:
    """An input that ends once a line grows past the longest the checker holds: a line
    that never ends (as /dev/zero's) would be read for ever."""

    def __init__(self, source: NamedInput) -> None:
        self.source = source
        self.line_bytes = 0  # since the last line end
        self.cut = False

    def read(self, size: int = -1) -> bytes:
        if self.cut:
            return b""
        chunk = self.source.read(size)
        end = max(chunk.rfind(b"\n"), chunk.rfind(b"\r"))
        self.line_bytes = len(chunk) - end - 1 if end >= 0 else self.line_bytes + len(chunk)
        excess = self.line_bytes - (MAX_LINE_CHARS + 1)
        if excess > 0:  # the line is kept one byte longer than the limit: the checker reports it
            self.cut = True
            chunk = chunk[: len(chunk) - excess]
        return chunk


def check_input(path: str, args: argparse.Namespace, out: TextIO | None) -> bool:
    """Whether the input conforms; its findings are written to `out`, or with none the
    reading stops at the first (and no progress bar is shown)."""
    per_code = None if args.all else PER_CODE
    with open_input(path) as source, progress_bar(source, quiet=out is None) as above:
        report = above if out is not None and out.isatty() else write_line
        bounded = BoundedLines(source)
        conforms = True
        for finding in iter_findings(bounded, version=args.schema_version, schema=args.schema, per_code=per_code):
            conforms = False
            if out is None:
                break
            if isinstance(finding, Omitted):
                report(f"{source.name}: … and {finding.more} more {finding.code}", out)
            else:
                report(f"{source.name}:{finding.line}:{finding.column}: {finding.code}: {finding.message}", out)
    if bounded.cut:
        raise InputError(f"{source.name}: a line longer than {MAX_LINE_CHARS} bytes; the rest is not checked")
    return conforms


def main(argv: list[str] | None = None) -> int:
    return run(lambda: check_all(parse_check_args(argv)))


def check_all(args: argparse.Namespace) -> int:
    status = 0
    try:
        # Under -q nothing is written, so a closed standard output is no failure.
        with contextlib.nullcontext() if args.quiet else open_output("-") as out:
            for path in args.inputs:
                try:
                    if not check_input(path, args, out):
                        status = max(status, 1)
                except InputError as exc:
                    print(f"{CHECK_PROG}: error: {exc}", file=sys.stderr)
                    status = 2
    except OSError as exc:
        return failure_status(CHECK_PROG, "-", exc)
    return status
