"""brevant-labeled: convert quantum shot results to QIR "Labeled" output text."""

from __future__ import annotations

import argparse
import codecs
import io
import json
import logging
import re
import sys
from collections.abc import Callable, Iterable
from typing import IO, Any

from brevant import QirLabeledFormatter, __version__, write_columns
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
from brevant._json_values import NON_FINITE, NON_FINITE_TEXT
from brevant._reader import ATTRIBUTE_KEYS  # the only keys the formatter writes; the rest are dropped

PROG = "brevant-labeled"
LOGGER_NAME = "brevant.labeled_formatter"
JSONL_SUFFIXES = (".jsonl", ".ndjson")
NUMPY_SUFFIXES = (".npy", ".npz")
# JSON text holds a line end only as an escape: text without one needs no closer look.
ESCAPED_LINE_END = re.compile(rb"\\[nr]|\\u000[adAD]")
# JSON has no NaN or infinity: brevant-read writes such a double as one of these strings.
ALL_SKIPPED_HINT = (
    "every value was skipped: a value must be a number, a boolean or a flat list of them"
    " (numpy values: convert with .tolist() or int(x) before writing them out)"
)

EPILOG = f"""\
input formats:
  JSON document   {{"shots": [[["USER:RESULT:r0", 0], ...], ...], "attributes": {{...}}}}
                  or a bare list of shots; "attributes" is optional.
  JSON Lines      one shot (a list of [label, value] entries) per line, read and
                  written one shot at a time so that memory stays flat however
                  many shots there are; blank lines are ignored. It is used when
                  the input file name ends in .jsonl or .ndjson, or with --jsonl
                  (needed to read JSON Lines from standard input).
  numpy (.npy, .npz; needs numpy)
                  a .npz holds one array per key, named "USER:RESULT:r0" and so on
                  (numpy.savez(path, **columns)); a .npy holds a (shots, bits)
                  matrix, written as RESULT records with --labels r0,r1,... or as
                  one RESULT_ARRAY a shot with --result-array NAME.

{exit_status_help("success, also when malformed values were skipped (they are counted on stderr)")}
example:
  {PROG} examples/worked_example.json
  {PROG} --attribute required_num_qubits=5 -o out.txt shots.jsonl
"""


class SkipCounter(logging.Handler):
    """Counts the formatter's 'skipped value' warnings; when verbose, names each skipped value."""

    def __init__(self, formatter: QirLabeledFormatter, verbose: bool) -> None:
        super().__init__(logging.WARNING)
        self.labeled_formatter = formatter
        self.verbose = verbose
        self.count = 0
        self.say: Callable[[str], object] = lambda text: print(text, file=sys.stderr)

    def emit(self, record: logging.LogRecord) -> None:
        self.count += 1

    def recount(self, entries: list[Any]) -> int:
        """How many of `entries` are skipped, found by writing them again; the count is kept."""
        before = self.count
        self.labeled_formatter.emit_values_in_shot(io.StringIO(), entries)
        found, self.count = self.count - before, before
        return found

    def report(self, shot: list[Any], where: str) -> None:
        # The warning names no value, so each entry is written again on its own to find them.
        for entry in shot:
            if self.recount([entry]):
                tag = entry[0].split(":", 2)[-1]
                self.say(f"{PROG}: warning: {where}: tag {tag!r}: Skipping malformed QIR output value")


class ValueWatch:
    """The output, noting whether any value record went through it."""

    def __init__(self, out: IO[str]) -> None:
        self.out = out
        self.values = False

    def write(self, text: str) -> None:
        self.values = self.values or "\nOUTPUT\t" in text
        self.out.write(text)


class LongInteger(int):
    """An integer of more digits than int() converts: beyond 64 bits to the formatter, its own text to str()."""

    text: str

    def __new__(cls, text: str) -> LongInteger:
        self = super().__new__(cls, -(2**64) if text.startswith("-") else 2**64)
        self.text = text
        return self

    def __str__(self) -> str:
        return self.text


def read_integer(text: str) -> int:
    return int(text) if len(text) <= 20 else LongInteger(text)  # 20 characters hold every 64-bit value


def parse_args(argv: list[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description='Convert quantum shot results to QIR "Labeled" output (schema 2.1).',
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    add_input_output(parser, "result set to convert", "conversion")
    parser.add_argument(
        "-a", "--attribute", action="append", default=[], metavar="KEY=VALUE", type=attribute,
        help="job attribute for the METADATA block (repeatable); overrides the document's",
    )
    parser.add_argument("--jsonl", action="store_true", help="read the input as JSON Lines")
    matrix = parser.add_mutually_exclusive_group()
    matrix.add_argument(
        "--labels", type=lambda text: text.split(","), metavar="r0,r1,...",
        help="a .npy bit matrix: one RESULT record a column, with these labels",
    )
    matrix.add_argument("--result-array", metavar="NAME", help="a .npy bit matrix: one RESULT_ARRAY record a shot")
    parser.add_argument(
        "--raw-tags", action="store_true",
        help="write tags and attribute values as they are, also when a line end in one would start a record",
    )
    parser.add_argument(
        "-q", "--quiet", action="store_true",
        help="no progress bar (else shown on a terminal when JSON Lines take over a second and tqdm is installed)",
    )
    parser.add_argument("-v", "--verbose", action="store_true", help="report each skipped value")
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    args = parser.parse_args(argv)
    require_input(parser, [args.input])
    return args


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
        return parse(data.decode("utf-8-sig" if line is None else "utf-8"))
    except json.JSONDecodeError as exc:
        at = f"{name}:{exc.lineno}" if line is None else where
        hint = " (one shot per line is JSON Lines: use --jsonl)" if exc.msg == "Extra data" else ""
        raise InputError(f"{at}:{exc.colno}: invalid JSON: {exc.msg}{hint}") from None
    except UnicodeDecodeError as exc:
        raise InputError(f"{where}: not UTF-8 text (byte {exc.start})") from None
    except RecursionError:
        raise InputError(f"{where}: JSON nested too deeply") from None


def parse(text: str) -> Any:
    try:
        return json.loads(text)
    except json.JSONDecodeError:
        raise
    except ValueError:
        # Only an integer longer than int() converts gets here (CPython's guard against
        # quadratic conversion): read it as what it is, a number beyond 64 bits.
        return json.loads(text, parse_int=read_integer)


def check_shot(shot: object, where: str, jsonl: bool) -> None:
    if not isinstance(shot, list):
        raise InputError(f"{where}: a shot must be a list of [label, value] entries, not {json_type(shot)}")
    # Only the first entry is looked at: a check of every entry would cost as much as the conversion.
    first = shot[0] if shot else None
    if isinstance(first, dict):
        raise InputError(f"{where}: an entry must be a [label, value] list, not an object")
    if isinstance(first, str) and not jsonl:
        raise InputError(
            f"{where}: a shot must be a list of [label, value] entries, not one entry"
            " (one shot per line is JSON Lines: use --jsonl)"
        )


def metadata_text(key: str, value: object, name: str) -> str:
    """A document's attribute as METADATA text: numbers as JSON writes them, null as no text."""
    if value is None:
        return ""
    if isinstance(value, str):
        return value
    if isinstance(value, int) and not isinstance(value, bool):
        return str(value)
    if isinstance(value, float):
        return json.dumps(value)
    raise InputError(f"{name}: attributes: {key}: expected text, a number or null, not {json_type(value)}")


def read_document(data: bytes, name: str) -> tuple[list[Any], dict[str, str | None], str]:
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
    texts: dict[str, str | None] = {key: metadata_text(key, value, name) for key, value in attributes.items()}
    return shots, texts, f"{name}: shots"


def warn_unread(attributes: dict[str, str | None]) -> None:
    unread = [key for key in attributes if key not in ATTRIBUTE_KEYS]
    if unread:
        print(
            f"{PROG}: warning: attributes not read: {', '.join(map(repr, unread))}"
            f" (the attributes read are {', '.join(ATTRIBUTE_KEYS)})",
            file=sys.stderr,
        )


def refuse_line_ends(shot: list[Any], where: str) -> None:
    """A line end in a tag would end its record there and make the rest of the tag records of
    its own, read by every reader as results (a forged record)."""
    for entry in shot:
        label = entry[0] if isinstance(entry, (list, tuple)) and entry else None
        tag = label.split(":", 2)[2:] if isinstance(label, str) else []
        if tag and breaks_line(tag[0]):
            raise InputError(f"{where}: tag {tag[0]!r} holds a line end, which would start a record of its own{RAW_HINT}")


def read_non_finite(shot: list[Any]) -> None:
    """Turns the strings that stand for non-finite doubles back into doubles (a str value is
    otherwise malformed), as values and as items of list values."""
    for entry in shot:
        if isinstance(entry, list) and len(entry) == 2:
            value = entry[1]
            if isinstance(value, str):
                entry[1] = NON_FINITE.get(value, value)
            elif isinstance(value, list):
                entry[1] = [NON_FINITE.get(item, item) if isinstance(item, str) else item for item in value]


def refuse_line_ends_in(attributes: dict[str, str | None], where: str) -> None:
    for key, value in attributes.items():
        if value is not None and breaks_line(value):
            raise InputError(f"{where}: {key}: the value holds a line end, which would start a record of its own{RAW_HINT}")


RAW_HINT = " (--raw-tags writes it as it is)"


def breaks_line(text: str) -> bool:
    return "\n" in text or "\r" in text  # a TAB is no such break: readers take the tag to the line's end


def convert_document(
    data: bytes, name: str, flags: dict[str, str | None], out: ValueWatch, counter: SkipCounter, raw_tags: bool
) -> None:
    shots, attributes, prefix = read_document(data, name)
    for index, shot in enumerate(shots):
        check_shot(shot, f"{prefix}[{index}]", jsonl=False)
    if not raw_tags and ESCAPED_LINE_END.search(data):
        refuse_line_ends_in(attributes, f"{name}: attributes")
        for index, shot in enumerate(shots):
            refuse_line_ends(shot, f"{prefix}[{index}]")
    attributes.update(flags)
    warn_unread(attributes)
    try:
        text = counter.labeled_formatter.qir_labeled_output(shots, attributes)
    except (TypeError, LookupError, ValueError) as exc:
        raise InputError(blame(counter.labeled_formatter, shots, prefix, name, exc)) from None
    out.write(text)
    if counter.verbose and counter.count:
        for index, shot in enumerate(shots):
            if counter.recount(shot):
                counter.report(shot, f"{prefix}[{index}]")


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
    stream: Iterable[bytes],
    name: str,
    attributes: dict[str, str | None],
    out: ValueWatch,
    counter: SkipCounter,
    raw_tags: bool,
) -> None:
    warn_unread(attributes)
    formatter = counter.labeled_formatter
    first = True
    for lineno, line in enumerate(stream, 1):
        if lineno == 1 and line.startswith(codecs.BOM_UTF8):
            line = line[len(codecs.BOM_UTF8):]
        if not line.strip():
            continue
        where = f"{name}:{lineno}"
        shot = load_json(line.rstrip(b"\r\n"), name, lineno)
        check_shot(shot, where, jsonl=True)
        if not raw_tags and ESCAPED_LINE_END.search(line):
            refuse_line_ends(shot, where)
        if NON_FINITE_TEXT.search(line):
            read_non_finite(shot)
        skipped = counter.count
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
        if counter.verbose and counter.count > skipped:
            counter.report(shot, where)


def convert(args: argparse.Namespace, counter: SkipCounter) -> bool:
    """Runs the conversion; tells whether any value record was written."""
    flags: dict[str, str | None] = dict(args.attribute)
    jsonl = args.jsonl or args.input.lower().endswith(JSONL_SUFFIXES)
    if not args.raw_tags:
        refuse_line_ends_in(flags, "--attribute")
    arrays = args.input.lower().endswith(NUMPY_SUFFIXES)
    if not arrays and (args.labels is not None or args.result_array is not None):
        raise InputError("--labels and --result-array read a .npy file")
    with open_input(args.input) as source, open_output(args.output, [args.input]) as text_out:
        out = ValueWatch(text_out)
        if arrays:
            convert_arrays(read_arrays(source, args.labels, args.result_array), source.name, flags, out)
            return out.values
        if not jsonl:
            convert_document(source.read(), source.name, flags, out, counter, args.raw_tags)
            return out.values
        with progress_bar(source, args.quiet) as say:
            counter.say = say
            convert_lines(source, source.name, flags, out, counter, args.raw_tags)
        return out.values


def read_arrays(source: NamedInput, labels: list[str] | None, result_array: str | None) -> list[Any]:
    """The columns of a .npz file (an array per key) or of a .npy bit matrix."""
    name = source.name
    try:
        import numpy
    except ImportError:
        raise InputError(f"{name}: reading .npy and .npz files needs numpy: pip install numpy") from None
    try:
        data = numpy.load(io.BytesIO(source.read()), allow_pickle=False)
    except (ValueError, OSError, EOFError) as exc:
        raise InputError(f"{name}: not a .npy or .npz file: {exc}") from None
    if not isinstance(data, numpy.ndarray):
        if labels is not None or result_array is not None:
            raise InputError(f"{name}: --labels and --result-array read a .npy bit matrix, not a .npz file")
        with data:
            return [(key, data[key]) for key in data.files]
    if data.ndim != 2 or (labels is None and result_array is None):
        raise InputError(f"{name}: a .npy file is a (shots, bits) matrix read with --labels r0,r1,... or --result-array NAME")
    if result_array is not None:
        return [(f"USER:RESULT_ARRAY:{result_array}", data)]
    if labels is None or len(labels) != data.shape[1]:
        raise InputError(f"{name}: --labels names {len(labels or [])} columns, the matrix has {data.shape[1]}")
    return [(f"USER:RESULT:{label}", data[:, j]) for j, label in enumerate(labels)]


def convert_arrays(columns: list[Any], name: str, flags: dict[str, str | None], out: ValueWatch) -> None:
    try:
        write_columns(out, columns, flags)
    except (TypeError, ValueError) as exc:  # a column of the wrong type or shape, named
        raise InputError(f"{name}: {exc}") from None


def main(argv: list[str] | None = None) -> int:
    return run(lambda: convert_and_report(parse_args(argv)))


def convert_and_report(args: argparse.Namespace) -> int:
    # Our handler also keeps logging's last-resort printer from showing every warning.
    counter = SkipCounter(QirLabeledFormatter(), args.verbose)
    logger = logging.getLogger(LOGGER_NAME)
    logger.addHandler(counter)
    try:
        values_written = convert(args, counter)
    except (InputError, Refused, OSError) as exc:
        return failure_status(PROG, args.output, exc)
    finally:
        logger.removeHandler(counter)
    if counter.count:
        plural = "" if counter.count == 1 else "s"
        hint = "" if values_written else f"; {ALL_SKIPPED_HINT}"
        print(f"{PROG}: skipped {counter.count} malformed value{plural}{hint}", file=sys.stderr)
    return 0
