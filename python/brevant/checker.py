"""Conformance check of QIR "Labeled" output documents.

`check_labeled(source, version="2.1")` reads a document line by line, in
memory bounded by its longest line, and lists every place where it departs
from the Labeled output schema of that version: its ABNF grammar, in which
every quoted literal matches in either letter case (RFC 5234), so "output",
"True" and "NaN" are as good as "OUTPUT", "true" and "NAN"; and the rules the
schema's prose adds: an ARRAY or TUPLE count is followed by that many element
records in its shot, END carries the exit code 0, and the document opens with
the HEADER records naming the schema and version it is written in.

Versions "1.0" and "2.0" share one grammar; "2.1" adds RESULT_ARRAY.

A `Finding` is (line, code, message) with a 1-based line.  Codes are stable;
messages may gain detail.  Findings come in line order.

    code                   departure
    empty-line             a line with no record on it
    unknown-record         a record kind other than HEADER, START, METADATA,
                           OUTPUT or END (what a TAB, CR or LF inside a tag
                           leaves on the following line)
    extra-fields           more TAB-separated fields than the kind allows
                           (what a TAB inside a tag produces)
    missing-fields         fewer fields than the kind needs
    non-printable          a label or field holding a character outside
                           printable ASCII (0x20-0x7E)
    stray-quote            a double quote inside a label or field that does
                           not enclose all of it
    unknown-output-type    an OUTPUT type the version does not have
    list-value             a list written as a value, such as "[3, 4]"
    result-not-bit         a RESULT value other than 0 or 1
    empty-result-array     a RESULT_ARRAY with no bits
    result-array-not-bits  a RESULT_ARRAY value with characters other than
                           0 and 1
    bad-bool               a BOOL value other than true or false
    int-as-float           an INT value written as a floating-point number
    bad-int                any other INT value that is not a decimal integer
    bad-double             a DOUBLE value that is not a decimal number, inf,
                           infinity or nan (e.g. "1.", "0x1p3", "1,5")
    bad-count              an ARRAY or TUPLE count that is not a decimal
                           number of elements
    count-mismatch         an ARRAY or TUPLE whose shot ends before its count
                           of element records (reported on the container)
    end-not-zero           an END whose exit code is not 0
    header-missing         a required HEADER record absent from its place
    header-wrong           a HEADER other than the one required in its place
                           (such as the old "schema_name" header)
    schema-mismatch        a schema_id header naming the ordered schema,
                           which the grammar allows but a Labeled document
                           does not declare
    version-mismatch       a schema_version header naming another version
                           than the one checked
    header-after-shot      a HEADER after the first START
    metadata-outside-shot  METADATA not between START and END
    output-outside-shot    OUTPUT not between START and END
    end-outside-shot       END with no START open
    start-in-shot          START while a shot is still open
    unterminated-shot      the document ends inside a shot
    no-shots               a document without any complete shot
    line-too-long          a line too long to hold in memory; not checked
"""

from __future__ import annotations

import re
from collections.abc import Iterator, Mapping, Sequence
from dataclasses import dataclass
from typing import NamedTuple

from brevant._lines import MAX_LINE_CHARS, LongLine, iter_lines

__all__ = ["MESSAGES", "VERSIONS", "Finding", "check_labeled", "iter_findings"]

MESSAGES = {
    "empty-line": "empty line; every line must hold a record",
    "unknown-record": "record of unknown kind {kind}",
    "extra-fields": "{kind} record has {given} fields after its kind, expected {expected}",
    "missing-fields": "{kind} record has {given} fields after its kind, expected {expected}",
    "non-printable": "{what} holds {char}, outside printable ASCII",
    "stray-quote": "{what} holds a double quote that does not enclose it",
    "unknown-output-type": "OUTPUT type {type} is not in schema version {version}",
    "list-value": "{type} value {value} is a list; a container is an ARRAY or TUPLE "
    "record followed by its element records",
    "result-not-bit": "RESULT value {value} is not 0 or 1",
    "empty-result-array": "RESULT_ARRAY value is empty; it needs at least one bit",
    "result-array-not-bits": "RESULT_ARRAY value {value} is not a string of 0s and 1s",
    "bad-bool": "BOOL value {value} is not true or false",
    "int-as-float": "INT value {value} is written as a floating-point number",
    "bad-int": "INT value {value} is not a decimal integer",
    "bad-double": "DOUBLE value {value} is not a decimal number, inf, infinity or nan",
    "bad-count": "{type} count {value} is not a decimal number of elements",
    "count-mismatch": "{type} count {count}, but only {found} element records follow in its shot",
    "end-not-zero": "END exit code {value} is not 0",
    "header-missing": "expected HEADER {expected} here",
    "header-wrong": "expected HEADER {expected}, found HEADER {found}",
    "schema-mismatch": "document declares schema {found}, checked as labeled",
    "version-mismatch": "document declares schema version {found}, checked against {version}",
    "header-after-shot": "HEADER after the first START",
    "metadata-outside-shot": "METADATA outside a shot (not between START and END)",
    "output-outside-shot": "OUTPUT outside a shot (not between START and END)",
    "end-outside-shot": "END with no START open",
    "start-in-shot": "START inside the shot opened on line {start}",
    "unterminated-shot": "document ends inside the shot opened on line {start}",
    "no-shots": "document holds no complete shot",
    "line-too-long": "line of {length} characters, longer than {limit}; not checked",
}

_VALUE_TYPES = ("RESULT", "BOOL", "INT", "DOUBLE", "ARRAY", "TUPLE")
VERSIONS = {
    "1.0": frozenset(_VALUE_TYPES),
    "2.0": frozenset(_VALUE_TYPES),
    "2.1": frozenset(_VALUE_TYPES + ("RESULT_ARRAY",)),
}

# Fields after the kind: (fewest, most, what each is called in messages).
_SHAPES = {
    "HEADER": (2, 2, ("HEADER name", "HEADER value")),
    "START": (0, 0, ()),
    "METADATA": (1, 2, ("METADATA key", "METADATA value")),
    "OUTPUT": (3, 3, ()),
    "END": (1, 1, ()),
}

# Everything below is ASCII-only on purpose: Python's case-insensitive and \d
# matching also accept non-ASCII letters and digits, which the grammar does not.
_NUMBER = r"(?:[0-9]+|[0-9]*\.[0-9]+)(?:e[+-]?[0-9]+)?"
# Each type's value as the grammar writes it, and the code for a value that is not.
_VALUE_SYNTAX = {
    "RESULT": (r"[01]", "result-not-bit"),
    "RESULT_ARRAY": (r"[01]+", "result-array-not-bits"),
    "BOOL": (r"(?i:true|false)", "bad-bool"),
    "INT": (r"[+-]?[0-9]+", "bad-int"),
    "DOUBLE": (rf"[+-]?(?i:inf|infinity|nan|{_NUMBER})", "bad-double"),
    "ARRAY": (r"[0-9]+", "bad-count"),
    "TUPLE": (r"[0-9]+", "bad-count"),
}
_VALUE = {qir_type: re.compile(syntax, re.ASCII) for qir_type, (syntax, _) in _VALUE_SYNTAX.items()}
_TEXT_SYNTAX = r'"[ !#-~]*"|[ !#-~]*'
_TEXT = re.compile(_TEXT_SYNTAX)
_NOT_PRINTABLE = re.compile(r"[^ -~]")
_COUNT_DIGITS = 18  # a longer count can never be met, and int() of it may be refused


def _plain_value_record(types: frozenset[str]) -> re.Pattern[str]:
    """A conforming OUTPUT record of a non-container type: most lines of most documents."""
    values = "|".join(
        f"(?i:{qir_type})\t(?:{_VALUE_SYNTAX[qir_type][0]})"
        for qir_type in sorted(types - {"ARRAY", "TUPLE"})
    )
    return re.compile(rf"(?i:OUTPUT)\t(?:{values})\t(?:{_TEXT_SYNTAX})", re.ASCII)


_PLAIN_VALUE_RECORD = {version: _plain_value_record(types) for version, types in VERSIONS.items()}

_Problem = tuple[str, Mapping[str, object]]


class Finding(NamedTuple):
    """One departure from the schema: its 1-based line, code and message."""

    line: int
    code: str
    message: str


def _fold(text: str) -> str:
    """Upper case for comparing literals; empty for non-ASCII text, which matches none."""
    return text.upper() if text.isascii() else ""


def _show(text: str) -> str:
    return ascii(text if len(text) <= 40 else text[:40] + "...")


def _char_name(char: str) -> str:
    code = ord(char)
    if 0xDC80 <= code <= 0xDCFF:  # a byte that is not UTF-8 (see brevant._lines)
        return f"the byte 0x{code - 0xDC00:02X}"
    return f"U+{code:04X}"


def _text_problem(what: str, text: str) -> _Problem | None:
    if _TEXT.fullmatch(text):
        return None
    bad = _NOT_PRINTABLE.search(text)
    if bad:
        return "non-printable", {"what": what, "char": _char_name(bad.group())}
    return "stray-quote", {"what": what}


def _value_code(qir_type: str, value: str) -> str | None:
    if _VALUE[qir_type].fullmatch(value):
        return None
    if qir_type == "RESULT_ARRAY" and not value:
        return "empty-result-array"
    if qir_type == "INT" and _VALUE["DOUBLE"].fullmatch(value):
        return "int-as-float"
    return _VALUE_SYNTAX[qir_type][1]


def _record_problem(fields: list[str], kind: str, version: str) -> _Problem | None:
    """The first departure within one record, regardless of where it stands."""
    if kind not in _SHAPES:
        if fields == [""]:
            return "empty-line", {}
        return "unknown-record", {"kind": _show(fields[0])}
    fewest, most, names = _SHAPES[kind]
    given = len(fields) - 1
    if not fewest <= given <= most:
        expected = str(most) if fewest == most else f"{fewest} or {most}"
        code = "extra-fields" if given > most else "missing-fields"
        return code, {"kind": kind, "given": given, "expected": expected}
    if kind == "END":
        return None if fields[1] == "0" else ("end-not-zero", {"value": _show(fields[1])})
    if kind != "OUTPUT":
        for what, text in zip(names, fields[1:]):
            problem = _text_problem(what, text)
            if problem:
                return problem
        return None
    _, type_text, value, label = fields
    qir_type = _fold(type_text)
    if qir_type not in VERSIONS[version]:
        return "unknown-output-type", {"type": _show(type_text), "version": version}
    details = {"type": qir_type, "value": _show(value)}
    if value.startswith("["):
        return "list-value", details
    value_code = _value_code(qir_type, value)
    if value_code:
        return value_code, details
    return _text_problem("label", label)


def _unquoted(text: str) -> str:
    return text[1:-1] if len(text) >= 2 and text[0] == text[-1] == '"' else text


_EXPECT_ID, _EXPECT_VERSION, _PREAMBLE, _SHOTS = range(4)


@dataclass(slots=True)
class _Container:
    """An ARRAY or TUPLE record still owed element records."""

    line: int
    qir_type: str
    count_text: str
    count: int
    owed: int


class _Check:
    """The document-level state: where the headers, shots and open containers stand."""

    def __init__(self, version: str) -> None:
        self.version = version
        self.plain_value_record = _PLAIN_VALUE_RECORD[version].fullmatch
        self.phase = _EXPECT_ID
        self.shot_start = 0  # line of the open shot's START; 0 outside a shot
        self.shots = 0  # complete shots so far
        self.open: list[_Container] = []  # innermost last
        self.found: list[Finding] = []

    def add(self, line: int, code: str, **details: object) -> None:
        self.found.append(Finding(line, code, MESSAGES[code].format(**details)))

    def line(self, number: int, text: str | LongLine) -> None:
        if self.shot_start and type(text) is str and self.plain_value_record(text):
            self.take_element()
            return
        if isinstance(text, LongLine):
            fields, kind = [], ""
            problem: _Problem | None = ("line-too-long", {"length": text.length, "limit": MAX_LINE_CHARS})
        else:
            fields = text.split("\t")
            kind = _fold(fields[0])
            problem = _record_problem(fields, kind, self.version)
        if problem:
            self.add(number, problem[0], **problem[1])
        if self.phase <= _EXPECT_VERSION and kind != "START":
            self.header(number, kind, fields, problem is not None)
        else:
            self.place(number, kind, fields)

    def header(self, number: int, kind: str, fields: list[str], had_problem: bool) -> None:
        """One of the two leading lines, which must name the schema and version."""
        expected = self.phase
        self.phase += 1
        if had_problem:
            return
        if kind != "HEADER":
            self.expected_header(number, "header-missing", expected)
            return
        name, value = _fold(fields[1]), fields[2]
        if expected == _EXPECT_ID and name == "SCHEMA_VERSION":
            self.expected_header(number, "header-missing", _EXPECT_ID)
            expected, self.phase = _EXPECT_VERSION, _PREAMBLE
        if expected == _EXPECT_ID and (name, _fold(value)) == ("SCHEMA_ID", "ORDERED"):
            self.add(number, "schema-mismatch", found=_show(value))
        elif expected == _EXPECT_ID and (name, _fold(value)) != ("SCHEMA_ID", "LABELED"):
            self.expected_header(number, "header-wrong", expected, fields)
        elif expected == _EXPECT_VERSION and name != "SCHEMA_VERSION":
            self.expected_header(number, "header-wrong", expected, fields)
        elif expected == _EXPECT_VERSION and _unquoted(value) != self.version:
            self.add(number, "version-mismatch", found=_show(value), version=self.version)

    def expected_header(self, number: int, code: str, phase: int, fields: Sequence[str] = ()) -> None:
        wanted = "schema_id labeled" if phase == _EXPECT_ID else f"schema_version {self.version}"
        self.add(number, code, expected=wanted, found=" ".join(map(_show, fields[1:])))

    def place(self, number: int, kind: str, fields: list[str]) -> None:
        """Where a record stands among headers, shots and containers."""
        if kind == "START":
            if self.phase <= _EXPECT_VERSION:
                self.expected_header(number, "header-missing", self.phase)
            if self.shot_start:
                self.add(number, "start-in-shot", start=self.shot_start)
                self.close_containers()
            self.phase, self.shot_start = _SHOTS, number
        elif kind == "HEADER":
            if self.phase == _SHOTS:
                self.add(number, "header-after-shot")
        elif not self.shot_start:
            if kind in ("METADATA", "OUTPUT", "END"):
                self.add(number, f"{kind.lower()}-outside-shot")
        elif kind == "OUTPUT":
            self.element(number, fields)
        elif kind == "END":
            self.close_containers()
            self.shot_start = 0
            self.shots += 1

    def element(self, number: int, fields: list[str]) -> None:
        """An OUTPUT record in a shot, which may open a container of its own."""
        self.take_element()
        qir_type = _fold(fields[1]) if len(fields) > 2 else ""
        if qir_type in ("ARRAY", "TUPLE") and _VALUE[qir_type].fullmatch(fields[2]):
            digits = fields[2].lstrip("0")
            count = int(digits or "0") if len(digits) <= _COUNT_DIGITS else 10**_COUNT_DIGITS
            if count:
                self.open.append(_Container(number, qir_type, fields[2][:40], count, count))

    def close_containers(self) -> None:
        """The shot ends: every container still owed elements falls short."""
        for c in self.open:
            self.add(c.line, "count-mismatch", type=c.qir_type, count=c.count_text, found=c.count - c.owed)
        self.open.clear()

    def take_element(self) -> None:
        """One element of the innermost open container, which may be its last."""
        if self.open:
            self.open[-1].owed -= 1
            if not self.open[-1].owed:
                self.open.pop()

    def finish(self, last: int) -> None:
        last = max(last, 1)
        if self.phase <= _EXPECT_VERSION:
            self.expected_header(last, "header-missing", self.phase)
        if self.shot_start:
            self.add(last, "unterminated-shot", start=self.shot_start)
            self.close_containers()
        elif not self.shots:
            self.add(last, "no-shots")

    def drain(self) -> list[Finding]:
        """Findings so far in line order; a container's finding may still be owed."""
        found, self.found = self.found, []
        found.sort(key=lambda finding: finding.line)
        return found


def _check_version(version: str) -> None:
    if version not in VERSIONS:
        raise ValueError(f"unknown schema version {version!r}; known: {', '.join(VERSIONS)}")


def _findings(source: object, version: str) -> Iterator[Finding]:
    check = _Check(version)
    number = 0
    for number, text in enumerate(iter_lines(source), 1):
        check.line(number, text)
        # Only an open container can still add a finding about an earlier line.
        if check.found and not check.open:
            yield from check.drain()
    check.finish(number)
    yield from check.drain()


def iter_findings(source: object, *, version: str = "2.1") -> Iterator[Finding]:
    """`check_labeled`'s findings one at a time, as the document is read."""
    _check_version(version)
    return _findings(source, version)


def check_labeled(source: object, *, version: str = "2.1") -> list[Finding]:
    """Every departure of a document from the Labeled output schema `version`.

    `source` is the document text (`str`), its bytes, a path (`os.PathLike`) or
    a binary or text file object.  An empty list means the document conforms.
    Raises ValueError for a version other than "1.0", "2.0" or "2.1".
    """
    return list(iter_findings(source, version=version))
