"""Conformance check of QIR "Labeled" output documents.

`check_labeled(source, version="2.1", schema="labeled")` reads a document
line by line, in memory bounded by its longest line, and lists every place
where it departs from the Labeled (or Ordered) output schema of that version:
its ABNF grammar, in which
every quoted literal matches in either letter case (RFC 5234), so "output",
"True" and "NaN" are as good as "OUTPUT", "true" and "NAN"; and the rules the
schema's prose adds: an ARRAY or TUPLE count is followed by that many element
records in its shot, END carries the exit code 0, and the document opens with
the HEADER records naming the schema and version it is written in.

Versions "1.0" and "2.0" share one grammar; "2.1" adds RESULT_ARRAY.  An
Ordered document's OUTPUT records carry no label.

A `Finding` is (line, code, message, column): a 1-based line and a 1-based
byte column in it.  Codes are stable; messages may gain detail.  Findings
come in line order.  The checker itself is native code (`brevant._reader`)
sharing the reader's splitting of lines and fields; the reader takes what it
can, the checker names every departure.

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
    schema-mismatch        a schema_id header naming the other schema,
                           which the grammar allows but the checked one
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
    nesting-too-deep       containers nested too deep to track; the rest of
                           the shot's counts are not checked
    empty-container        (Ordered) an ARRAY or TUPLE of count 0, which the
                           Ordered grammar does not allow
    mixed-array            (Ordered) an ARRAY element of another kind (value,
                           array or tuple) than the array's first element
"""

from __future__ import annotations

from collections.abc import Iterator
from typing import Literal, NamedTuple

from brevant import _lines
from brevant._reader import FINDING_MESSAGES, SCHEMA_VERSIONS, SCHEMAS, Checker

__all__ = ["MESSAGES", "SCHEMAS", "VERSIONS", "Finding", "Omitted", "check_labeled", "iter_findings"]

Version = Literal["1.0", "2.0", "2.1"]
Schema = Literal["labeled", "ordered"]

MESSAGES = FINDING_MESSAGES
VERSIONS = SCHEMA_VERSIONS  # each version with its OUTPUT types
_PIECE = 1 << 16  # bytes checked between two hand-outs, which bounds the findings waiting


class Finding(NamedTuple):
    """One departure from the schema: its 1-based line, code, message and 1-based byte column."""

    line: int
    code: str
    message: str
    column: int = 1


class Omitted(NamedTuple):
    """How many more findings of a code `iter_findings(per_code=...)` left out."""

    code: str
    more: int


def _arguments(version: str, schema: str) -> None:
    if version not in VERSIONS:
        raise ValueError(f"unknown schema version {version!r}; known: {', '.join(VERSIONS)}")
    if schema not in SCHEMAS:
        raise ValueError(f"unknown schema {schema!r}; known: {', '.join(SCHEMAS)}")


def _findings(source: object, version: str, schema: str, per_code: int) -> Iterator[Finding | Omitted]:
    checker = Checker(schema, version, _lines.MAX_LINE_CHARS, per_code)

    def ready() -> Iterator[Finding]:
        while found := checker.take():
            for line, column, code, message in found:
                yield Finding(line, code, message, column)

    for chunk in _lines.source_chunks(source):
        # A bad byte in text stays one bad byte, as it was in the file.
        data = chunk.encode("utf-8", "surrogateescape") if isinstance(chunk, str) else bytes(chunk)
        for start in range(0, len(data), _PIECE):
            checker.feed(data[start : start + _PIECE])
            yield from ready()
    checker.finish()
    yield from ready()
    for code, more in checker.omitted():
        yield Omitted(code, more)


def iter_findings(
    source: object, *, version: Version = "2.1", schema: Schema = "labeled", per_code: int | None = None
) -> Iterator[Finding | Omitted]:
    """`check_labeled`'s findings one at a time, as the document is read.

    With `per_code`, only the first `per_code` findings of each code come out,
    and after them one `Omitted` for each code that had more.
    """
    _arguments(version, schema)
    if per_code is not None and per_code < 1:
        raise ValueError(f"per_code must be at least 1, not {per_code}")
    return _findings(source, version, schema, per_code or 0)


def check_labeled(source: object, *, version: Version = "2.1", schema: Schema = "labeled") -> list[Finding]:
    """Every departure of a document from the output schema `schema` ("labeled" or "ordered"), `version`.

    `source` is the document text (`str`), its bytes, a path (`os.PathLike`) or
    a binary or text file object.  An empty list means the document conforms.
    Raises ValueError for a version other than "1.0", "2.0" or "2.1", or
    another schema.
    """
    return [finding for finding in iter_findings(source, version=version, schema=schema) if isinstance(finding, Finding)]
