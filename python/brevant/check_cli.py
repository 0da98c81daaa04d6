"""brevant-check: report where QIR "Labeled" output documents depart from the schema."""

from __future__ import annotations

import argparse
import sys
from typing import TextIO

from brevant import __version__
from brevant._cli_io import BROKEN_PIPE, open_output, run
from brevant.checker import VERSIONS, iter_findings
from brevant.cli import InputError, NamedInput, open_input

CHECK_PROG = "brevant-check"

CHECK_EPILOG = f"""\
Each departure is one line on standard output, as compilers and linters write
them: FILE:LINE: CODE: message. The codes are stable; `pydoc brevant.checker`
lists them.

exit status:
  0    every input conforms
  1    some input does not
  2    bad usage, some input could not be read or the report could not be
       written (said on standard error)
  {BROKEN_PIPE}  the reader of the report went away (as in `| head`), as if killed by SIGPIPE
  128+N  stopped by signal N (SIGINT 130, SIGHUP 129, SIGTERM 143)

example:
  {CHECK_PROG} results.txt
  my-runner --shots 1000 | {CHECK_PROG} --schema-version 2.0
"""


def parse_check_args(argv: list[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog=CHECK_PROG,
        description='Check QIR "Labeled" output documents against the output schema.',
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
        "-q", "--quiet", action="store_true",
        help="print nothing; stop reading an input at its first departure",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    return parser.parse_args(argv)


def check_input(path: str, version: str, quiet: bool, out: TextIO) -> bool:
    """Whether the input conforms; its findings are written to `out` unless `quiet`."""
    with open_input(path) as stream:
        source = NamedInput(stream, path)
        conforms = True
        for finding in iter_findings(source, version=version):
            conforms = False
            if quiet:
                break
            out.write(f"{source.name}:{finding.line}: {finding.code}: {finding.message}\n")
    return conforms


def main(argv: list[str] | None = None) -> int:
    return run(lambda: check_all(parse_check_args(argv)))


def check_all(args: argparse.Namespace) -> int:
    status = 0
    try:
        with open_output("-") as out:
            for path in args.inputs:
                try:
                    if not check_input(path, args.schema_version, args.quiet, out):
                        status = max(status, 1)
                except InputError as exc:
                    print(f"{CHECK_PROG}: error: {exc}", file=sys.stderr)
                    status = 2
    except BrokenPipeError:
        raise  # the reader went away: run() ends such a run quietly
    except OSError as exc:
        print(f"{CHECK_PROG}: error: cannot write standard output: {exc.strerror or exc}", file=sys.stderr)
        return 2
    return status
