"""brevant-labeled: convert quantum shot results to QIR "Labeled" output text."""

from __future__ import annotations

import argparse
import contextlib
import io
import json
import logging
import os
import sys
import tempfile
from collections.abc import Callable, Iterator
from typing import IO, Any, BinaryIO, TextIO

from brevant import QirLabeledFormatter, __version__

PROG = "brevant-labeled"
LOGGER_NAME = "brevant.labeled_formatter"
JSONL_SUFFIXES = (".jsonl", ".ndjson")

EPILOG = f"""\
input formats:
  JSON document   {{"shots": [[["USER:RESULT:r0", 0], ...], ...], "attributes": {{...}}}}
                  or a bare list of shots; "attributes" is optional.
  JSON Lines      one shot (a list of [label, value] entries) per line, read and
                  written one shot at a time so that memory stays flat however
                  many shots there are; blank lines are ignored. It is used when
                  the input file name ends in .jsonl or .ndjson, or with --jsonl
                  (needed to read JSON Lines from standard input).

exit status:
  0  success, also when malformed values were skipped (they are counted on stderr)
  1  the output could not be written
  2  bad usage or bad input; -o FILE is then left as it was

example:
  {PROG} examples/worked_example.json
  {PROG} --attribute required_num_qubits=5 -o out.txt shots.jsonl
"""


class InputError(Exception):
    """Bad input; the message names the place (file, line and column, or shot)."""


class SkipCounter(logging.Handler):
    """Counts the formatter's 'skipped value' warnings, printing each if asked."""

    def __init__(self, verbose: bool) -> None:
        super().__init__(logging.WARNING)
        self.verbose = verbose
        self.count = 0
        self.where = ""  # the input position being converted, for --verbose

    def emit(self, record: logging.LogRecord) -> None:
        self.count += 1
        if self.verbose:
            print(f"{PROG}: warning: {self.where}{record.getMessage()}", file=sys.stderr)


def parse_args(argv: list[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description='Convert quantum shot results to QIR "Labeled" output (schema 2.1).',
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument(
        "input", nargs="?", default="-", help="result set to convert; '-' or none reads standard input"
    )
    parser.add_argument(
        "-o", "--output", default="-",
        help="write here instead of standard output; replaced only if the conversion succeeds",
    )
    parser.add_argument(
        "-a", "--attribute", action="append", default=[], metavar="KEY=VALUE", type=attribute,
        help="job attribute for the METADATA block (repeatable); overrides the document's",
    )
    parser.add_argument("--jsonl", action="store_true", help="read the input as JSON Lines")
    parser.add_argument(
        "-q", "--quiet", action="store_true",
        help="no progress bar (else shown on a terminal when JSON Lines take over a second)",
    )
    parser.add_argument("-v", "--verbose", action="store_true", help="report each skipped value")
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    return parser.parse_args(argv)


def attribute(text: str) -> tuple[str, str]:
    key, sep, value = text.partition("=")
    if not sep:
        raise argparse.ArgumentTypeError(f"expected KEY=VALUE, got {text!r}")
    return key, value


def json_type(value: object) -> str:
    names = {dict: "an object", list: "a list", str: "a string", bool: "a boolean", type(None): "null"}
    return names.get(type(value), "a number")


def load_json(data: bytes, name: str, line: int | None = None) -> Any:
    """Parses a whole document, or with `line` one line (without its line end) of JSON Lines."""
    where = name if line is None else f"{name}:{line}"
    try:
        # Decoding here spares json its per-call encoding detection (JSON is UTF-8 anyway);
        # a byte order mark is let through on whole documents, where it costs nothing.
        return json.loads(data.decode("utf-8-sig" if line is None else "utf-8"))
    except json.JSONDecodeError as exc:
        at = f"{name}:{exc.lineno}" if line is None else where
        raise InputError(f"{at}:{exc.colno}: invalid JSON: {exc.msg}") from None
    except UnicodeDecodeError as exc:
        raise InputError(f"{where}: not UTF-8 text (byte {exc.start})") from None
    except RecursionError:
        raise InputError(f"{where}: JSON nested too deeply") from None


def check_shot(shot: object, where: str) -> None:
    if not isinstance(shot, list):
        raise InputError(f"{where}: a shot must be a list of [label, value] entries, not {json_type(shot)}")


def read_document(data: bytes, name: str) -> tuple[list[Any], dict[str, Any], str]:
    """Returns the shots, the attributes and how to name a shot's place."""
    doc = load_json(data, name)
    if isinstance(doc, list):
        return doc, {}, f"{name}: "
    if not isinstance(doc, dict) or "shots" not in doc:
        raise InputError(f'{name}: expected a list of shots or an object with "shots", not {json_type(doc)}')
    shots, attributes = doc["shots"], doc.get("attributes", {})
    if not isinstance(shots, list):
        raise InputError(f"{name}: shots: expected a list of shots, not {json_type(shots)}")
    if not isinstance(attributes, dict):
        raise InputError(f"{name}: attributes: expected an object, not {json_type(attributes)}")
    return shots, attributes, f"{name}: shots"


def convert_document(
    formatter: QirLabeledFormatter, data: bytes, name: str, extra: dict[str, str | None], out: IO[str]
) -> None:
    shots, attributes, prefix = read_document(data, name)
    for index, shot in enumerate(shots):
        check_shot(shot, f"{prefix}[{index}]")
    attributes.update(extra)
    try:
        text = formatter.qir_labeled_output(shots, attributes)
    except (TypeError, LookupError, ValueError) as exc:
        raise InputError(blame(formatter, shots, prefix, name, exc)) from None
    out.write(text)


def blame(formatter: QirLabeledFormatter, shots: list[Any], prefix: str, name: str, exc: Exception) -> str:
    """Finds the shot the one-call form choked on; failing that, the attributes are at fault."""
    logger = logging.getLogger(LOGGER_NAME)
    logger.disabled = True  # a search for the culprit, not a conversion: its warnings would mislead
    try:
        for index, shot in enumerate(shots):
            try:
                formatter.emit_values_in_shot(io.StringIO(), shot)
            except (TypeError, LookupError, ValueError) as shot_exc:
                return f"{prefix}[{index}]: unreadable entry: {shot_exc}"
    finally:
        logger.disabled = False
    return f"{name}: attributes: {exc}"


def convert_lines(
    formatter: QirLabeledFormatter,
    stream: BinaryIO,
    name: str,
    attributes: dict[str, str | None],
    out: IO[str],
    counter: SkipCounter,
    advance: Callable[[int], object],
) -> None:
    first = True
    for lineno, line in enumerate(stream, 1):
        advance(len(line))
        if not line.strip():
            continue
        where = f"{name}:{lineno}"
        shot = load_json(line.rstrip(b"\r\n"), name, lineno)
        check_shot(shot, where)
        counter.where = f"{where}: "
        try:
            if first:
                formatter.results_header(out)
                formatter.write_first_shot(out, shot, attributes)
                first = False
            else:
                formatter.write_shot(out, shot)
        except (TypeError, LookupError, ValueError) as exc:
            # Only text that cannot be encoded fails in the attributes; the rest is the shot's.
            message = "attributes" if isinstance(exc, UnicodeEncodeError) else "unreadable entry"
            raise InputError(f"{where}: {message}: {exc}") from None


@contextlib.contextmanager
def open_input(path: str) -> Iterator[BinaryIO]:
    if path == "-":
        yield sys.stdin.buffer
        return
    try:
        stream = open(path, "rb")
    except OSError as exc:
        raise InputError(f"cannot read {path!r}: {exc.strerror}") from None
    with stream:
        yield stream


@contextlib.contextmanager
def open_output(path: str) -> Iterator[TextIO]:
    """Standard output, or a file that appears only whole: written beside it, then renamed over it."""
    if path == "-":
        if isinstance(sys.stdout, io.TextIOWrapper):
            # The format is UTF-8 with LF line ends whatever the locale or platform.
            sys.stdout.reconfigure(encoding="utf-8", newline="")
        yield sys.stdout
        return
    folder, base = os.path.split(os.path.abspath(path))
    fd, temp = tempfile.mkstemp(dir=folder, prefix=f".{base}.", suffix=".tmp")
    try:
        with open(fd, "w", encoding="utf-8", newline="") as out:
            yield out
        os.chmod(temp, file_mode(path))
        os.replace(temp, path)
    except BaseException:
        os.unlink(temp)
        raise


def file_mode(path: str) -> int:
    """Keeps an existing file's permissions; a new file gets the usual ones, not mkstemp's 0600."""
    try:
        return os.stat(path).st_mode & 0o7777
    except FileNotFoundError:
        umask = os.umask(0)
        os.umask(umask)
        return 0o666 & ~umask


def run(args: argparse.Namespace, counter: SkipCounter) -> None:
    formatter = QirLabeledFormatter()
    name = "<stdin>" if args.input == "-" else args.input
    extra: dict[str, str | None] = dict(args.attribute)
    jsonl = args.jsonl or args.input.lower().endswith(JSONL_SUFFIXES)
    with open_input(args.input) as stream:
        if not jsonl:
            data = stream.read()
            with open_output(args.output) as out:
                convert_document(formatter, data, name, extra, out)
            return
        from tqdm import tqdm  # only here: importing it costs more than converting a small document

        size = os.fstat(stream.fileno()).st_size if stream.seekable() else None
        # disable=None lets tqdm stay silent unless stderr is a terminal; delay keeps short runs quiet.
        with tqdm(total=size, unit="B", unit_scale=True, disable=True if args.quiet else None,
                  delay=1.0, desc=name, file=sys.stderr) as bar, open_output(args.output) as out:
            convert_lines(formatter, stream, name, extra, out, counter, bar.update)


def main(argv: list[str] | None = None) -> int:
    args = parse_args(argv)
    # Our handler also keeps logging's last-resort printer from showing every warning.
    counter = SkipCounter(args.verbose)
    logger = logging.getLogger(LOGGER_NAME)
    logger.addHandler(counter)
    try:
        run(args, counter)
    except InputError as exc:
        print(f"{PROG}: error: {exc}", file=sys.stderr)
        return 2
    except BrokenPipeError:
        # The reader went away (`| head`); stop quietly, and keep the interpreter
        # from complaining again when it flushes stdout at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except OSError as exc:
        target = "standard output" if args.output == "-" else repr(args.output)
        print(f"{PROG}: error: cannot write {target}: {exc.strerror or exc}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130
    finally:
        logger.removeHandler(counter)
    if counter.count:
        plural = "" if counter.count == 1 else "s"
        print(f"{PROG}: skipped {counter.count} malformed value{plural}", file=sys.stderr)
    return 0
