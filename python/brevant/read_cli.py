"""brevant-check: report where QIR "Labeled" output documents depart from the schema."""

from __future__ import annotations

import argparse
import os
import sys

from brevant import __version__
from brevant.checker import VERSIONS, iter_findings
from brevant.cli import InputError, open_input

CHECK_PROG = "brevant-check"

CHECK_EPILOG = f"""\
Each departure is one line on standard output, as compilers and linters write
them: FILE:LINE: CODE: message. The codes are stable; `pydoc brevant.checker`
lists them.

exit status:
  0  every input conforms
  1  some input does not
  2  some input could not be read (said on standard error)

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


def check_input(path: str, version: str, quiet: bool) -> bool:
    """Whether the input conforms; its findings are printed unless `quiet`."""
    name = "<stdin>" if path == "-" else path
    conforms = True
    with open_input(path) as stream:
        try:
            for finding in iter_findings(stream, version=version):
                conforms = False
                if quiet:
                    break
                print(f"{name}:{finding.line}: {finding.code}: {finding.message}")
        except BrokenPipeError:
            raise
        except OSError as exc:
            raise InputError(f"cannot read {path!r}: {exc.strerror or exc}") from None
    return conforms


def check_main(argv: list[str] | None = None) -> int:
    args = parse_check_args(argv)
    status = 0
    try:
        for path in args.inputs:
            try:
                if not check_input(path, args.schema_version, args.quiet):
                    status = max(status, 1)
            except InputError as exc:
                print(f"{CHECK_PROG}: error: {exc}", file=sys.stderr)
                status = 2
    except BrokenPipeError:
        # The reader went away (`| head`): as in brevant-labeled, stop quietly.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return max(status, 1)
    except KeyboardInterrupt:
        return 130
    return status
