import io
import re
import subprocess
import sys
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from test_differential import doubles
from test_document import WORKED_EXAMPLE_TEXT

import brevant._lines
from brevant import QirLabeledFormatter, check_labeled
from brevant.checker import MESSAGES, Omitted, iter_findings
from brevant.checker import __doc__ as CHECKER_DOC

H = "HEADER\tschema_id\tlabeled\nHEADER\tschema_version\t2.1\n"


def shot(*records):
    return "".join(f"{record}\n" for record in ("START", *records, "END\t0"))


# (version, document, [(line, code), ...]); a shot's first record is on line 4.
CASES = [
    ("2.1", H + shot("OUTPUT\tTUPLE\t2\tt", "OUTPUT\tARRAY\t0\ta", "OUTPUT\tRESULT_ARRAY\t01\tb"), []),
    ("2.1", 'header\tSCHEMA_ID\tLabeled\rHeader\tschema_version\t"2.1"\r\nstart\rmetadata\tk\t\r'
     'output\tdouble\t-INFINITY\t"q r"\nOUTPUT\tDouble\tNaN\t\nOUTPUT\tDOUBLE\t.5E-3\tx\n'
     "OUTPUT\tBOOL\tTrue\tb\nOUTPUT\tINT\t+007\ti\nend\t0", []),
    ("1.0", "HEADER\tschema_id\tlabeled\nHEADER\tschema_version\t1.0\n" + shot("OUTPUT\tRESULT\t1\tr"), []),
    ("2.1", H + shot("OUTPUT\tRESULT\t0\tr") + "\n", [(6, "empty-line")]),
    ("2.1", H + shot("OUTPUT\tRESULT\t0\tl\nf", "OUTPUT\tINT\t1\tt\tab"), [(5, "unknown-record"), (6, "extra-fields")]),
    ("2.1", H + shot("OUTPUT\tINT\t1", "METADATA"), [(4, "missing-fields"), (5, "missing-fields")]),
    ("2.1", H + shot("OUTPUT\tINT\t1\tcafé", "METADATA\tk\x7f", 'OUTPUT\tINT\t1\ta"b', 'METADATA\t"k'),
     [(4, "non-printable"), (5, "non-printable"), (6, "stray-quote"), (7, "stray-quote")]),
    ("2.1", H + shot("OUTPUT\tSTRING\tx\ts", "OUTPUT\tARRAY\t[3, 4]\ta", "OUTPUT\tRESULT\tTrue\tr"),
     [(4, "unknown-output-type"), (5, "list-value"), (6, "result-not-bit")]),
    ("2.0", "HEADER\tschema_id\tlabeled\nHEADER\tschema_version\t2.0\n" + shot("OUTPUT\tRESULT_ARRAY\t1\tb"),
     [(4, "unknown-output-type")]),
    ("2.1", H + shot("OUTPUT\tRESULT_ARRAY\t\tb", "OUTPUT\tRESULT_ARRAY\t102\tb", "OUTPUT\tBOOL\t1\tb"),
     [(4, "empty-result-array"), (5, "result-array-not-bits"), (6, "bad-bool")]),
    ("2.1", H + shot("OUTPUT\tINT\t2.0\ti", "OUTPUT\tINT\t0x10\ti", "OUTPUT\tDOUBLE\t1.\td", "OUTPUT\tTUPLE\t-1\tt"),
     [(4, "int-as-float"), (5, "bad-int"), (6, "bad-double"), (7, "bad-count")]),
    # The tuple takes two records; the array's second element never comes.
    ("2.1", H + shot("OUTPUT\tARRAY\t2\ta", "OUTPUT\tTUPLE\t2\tt", "OUTPUT\tINT\t1\ti", "OUTPUT\tINT\t1\ti"),
     [(4, "count-mismatch")]),
    ("2.1", H + shot("OUTPUT\tARRAY\t2\ta", "OUTPUT\tTUPLE\t1\tt", "OUTPUT\tINT\t1\ti", "OUTPUT\tINT\t1\ti"), []),
    ("2.1", H + "START\nOUTPUT\tARRAY\t99999999999999999999999\ta\nEND\t1\n", [(4, "count-mismatch"), (5, "end-not-zero")]),
    ("2.1", shot("OUTPUT\tINT\t1\ti"), [(1, "header-missing")]),
    ("2.1", "HEADER\tschema_version\t2.1\n" + shot(), [(1, "header-missing")]),
    ("2.1", "HEADER\tschema_id\tlabeled\n" + shot(), [(2, "header-missing")]),
    ("2.1", "HEADER\tschema_name\tlabeled\nHEADER\tschema_version\t2.0\n" + shot(),
     [(1, "header-wrong"), (2, "version-mismatch")]),
    ("2.1", "HEADER\tschema_id\tordered\nHEADER\tversion\t2.1\n" + shot(), [(1, "schema-mismatch"), (2, "header-wrong")]),
    ("2.1", H + "HEADER\tk\tv\nMETADATA\tk\n" + shot() + "HEADER\tk\tv\nOUTPUT\tINT\t1\ti\nEND\t0\n" + shot(),
     [(4, "metadata-outside-shot"), (7, "header-after-shot"), (8, "output-outside-shot"), (9, "end-outside-shot")]),
    ("2.1", H + "START\n" + shot("OUTPUT\tARRAY\t1\ta") + "START\nOUTPUT\tARRAY\t3\ta",
     [(4, "start-in-shot"), (5, "count-mismatch"), (8, "unterminated-shot"), (8, "count-mismatch")]),
    ("2.1", H, [(2, "no-shots")]),
    ("2.1", WORKED_EXAMPLE_TEXT, [(11, "list-value")]),
    ("2.1", "", [(1, "header-missing"), (1, "no-shots")]),
    ("2.1", b"\xef\xbb\xbfHEADER\tschema_id\tlabeled\n",
     [(1, "unknown-record"), (1, "header-missing"), (1, "header-missing"), (1, "no-shots")]),
    # A record where a header belongs is still checked, and placed, for what it is.
    ("2.1", "HEADER\tschema_id\tlabeled\n" + "OUTPUT\tBOOL\t1\ta\n" + shot(),
     [(2, "bad-bool"), (2, "header-missing"), (2, "output-outside-shot")]),
    # Findings inside an open container wait for its count, and keep their order.
    ("2.1", H + shot("OUTPUT\tARRAY\t3\ta", "OUTPUT\tBOOL\t1\tb", "x", "OUTPUT\tTUPLE\t1\tt", "y", "OUTPUT\tINT\t1\ti", "z"),
     [(4, "count-mismatch"), (5, "bad-bool"), (6, "unknown-record"), (8, "unknown-record"), (10, "unknown-record")]),
    ("2.1", H + shot(*["OUTPUT\tARRAY\t2\ta"] * 257, "x"), [(260, "nesting-too-deep"), (261, "unknown-record")]),
    ("ordered/1.0", "HEADER\tschema_id\tordered\nHEADER\tschema_version\t1.0\n"
     + shot("OUTPUT\tARRAY\t2", "OUTPUT\tRESULT\t0", "OUTPUT\tINT\t-5"), []),
    ("ordered/2.0", "HEADER\tschema_id\tlabeled\nHEADER\tschema_version\t2.0\n"
     + shot("OUTPUT\tRESULT\t0\tr", "OUTPUT\tRESULT_ARRAY\t01", "OUTPUT\tTUPLE\t2"),
     [(1, "schema-mismatch"), (4, "extra-fields"), (5, "unknown-output-type"), (6, "count-mismatch")]),
    # An ordered array's elements are of one kind; a tuple's need not be.
    ("ordered/2.1", "HEADER\tschema_id\tordered\nHEADER\tschema_version\t2.1\n"
     + shot("OUTPUT\tARRAY\t3", "OUTPUT\tTUPLE\t2", "OUTPUT\tINT\t1", "OUTPUT\tARRAY\t1", "OUTPUT\tBOOL\ttrue",
            "OUTPUT\tTUPLE\t1", "OUTPUT\tDOUBLE\t1", "OUTPUT\tTUPLE\t0"),
     [(11, "empty-container")]),
    ("ordered/2.1", "HEADER\tschema_id\tordered\nHEADER\tschema_version\t2.1\n"
     + shot("OUTPUT\tARRAY\t3", "OUTPUT\tRESULT\t1", "OUTPUT\tARRAY\t1", "OUTPUT\tRESULT\t0", "OUTPUT\tINT\t2"),
     [(6, "mixed-array")]),
]


def _schema(version):
    """{"schema": ..., "version": ...} from "2.1" or "ordered/2.1"."""
    schema, _, version = version.rpartition("/")
    return {"schema": schema or "labeled", "version": version}


@pytest.mark.parametrize("version, document, expected", CASES)
def test_findings(version, document, expected, monkeypatch):
    found = check_labeled(document, **_schema(version))
    assert [(f.line, f.code) for f in found] == expected
    assert all(f.message == f.message.strip() and "\n" not in f.message for f in found)
    monkeypatch.setattr(brevant._lines, "CHUNK_CHARS", 2)  # CRLF and UTF-8 split between chunks
    data = document if isinstance(document, bytes) else document.encode()
    assert check_labeled(io.BytesIO(data), **_schema(version)) == found


# Exact texts and columns (1-based bytes), as callers match on them.
TEXTS = (H.encode() + b'START\nOUTPUT\tINT\t1\tx\x01y\nMETADATA\t"k"x\nOUTPUT\tDOUBLE\t' + b"9" * 45 + b"x\td\n"
         b"it's\\\n\xc3\xa9\tz\nOUTPUT\tRESULT\t1\tr\xff\nOUTPUT\tBOOL\t\"\xf0\x9f\x98\x80\"\tb\nEND\t0\n")
TEXTS_FOUND = [
    (4, 15, "non-printable", "label holds U+0001, outside printable ASCII"),
    (5, 10, "stray-quote", "METADATA key holds a double quote that does not enclose it"),
    (6, 15, "bad-double", f"DOUBLE value '{'9' * 40}...' is not a decimal number, inf, infinity or nan"),
    (7, 1, "unknown-record", "record of unknown kind \"it's\\\\\""),
    (8, 1, "unknown-record", "record of unknown kind '\\xe9'"),
    (9, 18, "non-printable", "label holds the byte 0xFF, outside printable ASCII"),
    (10, 13, "bad-bool", "BOOL value '\"\\U0001f600\"' is not true or false"),
]


def test_texts():
    assert [(f.line, f.column, f.code, f.message) for f in check_labeled(TEXTS)] == TEXTS_FOUND
    assert check_labeled(TEXTS.decode("utf-8", "surrogateescape")) == check_labeled(TEXTS)


def test_findings_behind_an_open_container():
    """Past the memory a queue holds, waiting findings go to disk and come back in order; a limit per code counts the rest."""
    document = H + shot("OUTPUT\tARRAY\t9\ta", *["x"] * 30000)
    found = check_labeled(document)
    assert [(f.line, f.code) for f in found] == [(4, "count-mismatch")] + [(n, "unknown-record") for n in range(5, 30005)]
    assert list(iter_findings(document, per_code=3)) == found[:4] + [Omitted("unknown-record", 29997)]


def test_every_code_is_tested_and_documented():
    tested = {code for _, _, expected in CASES for _, code in expected}
    assert tested | {"line-too-long"} == set(MESSAGES)
    assert all(f"\n    {code} " in CHECKER_DOC for code in MESSAGES)


@pytest.mark.parametrize("arguments, match", [({"version": "3.0"}, "'3.0'"), ({"schema": "x"}, "'x'"), ({"per_code": 0}, "0")])
def test_bad_arguments(arguments, match):
    with pytest.raises(ValueError, match=match):
        iter_findings(H, **arguments)


def test_long_line(monkeypatch):
    monkeypatch.setattr(brevant._lines, "MAX_LINE_CHARS", 8)
    monkeypatch.setattr(brevant._lines, "CHUNK_CHARS", 3)
    found = check_labeled(H.replace("schema_version", "v"))
    assert [(f.line, f.code) for f in found] == [(1, "line-too-long"), (2, "line-too-long"), (2, "no-shots")]


def _cased(word):
    return st.lists(st.booleans(), min_size=len(word), max_size=len(word)).map(
        lambda upper: "".join(c.upper() if u else c.lower() for c, u in zip(word, upper))
    )


_text = st.text(st.characters(min_codepoint=0x20, max_codepoint=0x7E, exclude_characters='"'), max_size=6)
_field = st.one_of(_text, _text.map('"{}"'.format))
_number = st.from_regex(r"([0-9]+|[0-9]*\.[0-9]+)([eE][+-]?[0-9]+)?", fullmatch=True)
_VALUES = {
    "RESULT": st.sampled_from("01"),
    "RESULT_ARRAY": st.from_regex(r"[01]+", fullmatch=True),
    "BOOL": st.one_of(_cased("true"), _cased("false")),
    "INT": st.from_regex(r"[+-]?[0-9]+", fullmatch=True),
    "DOUBLE": st.tuples(st.sampled_from(["", "+", "-"]), st.one_of(*map(_cased, ["inf", "infinity", "nan"]), _number))
    .map("".join),
}
_value_record = st.sampled_from(sorted(_VALUES)).flatmap(
    lambda t: st.tuples(_cased("OUTPUT"), _cased(t), _VALUES[t], _field).map(lambda f: ["\t".join(f)])
)
_outputs = st.recursive(
    _value_record,
    lambda kids: st.tuples(_cased("OUTPUT"), st.sampled_from(["ARRAY", "TUPLE"]).flatmap(_cased), st.lists(kids, max_size=3), _field)
    .map(lambda c: [f"{c[0]}\t{c[1]}\t{len(c[2])}\t{c[3]}"] + [line for kid in c[2] for line in kid]),
    max_leaves=6,
)
_metadata = st.tuples(_cased("METADATA"), st.lists(_field, min_size=1, max_size=2)).map(lambda m: ["\t".join([m[0], *m[1]])])
_shot = st.tuples(_cased("START"), st.lists(st.one_of(_outputs, _metadata), max_size=4), _cased("END\t0")).map(
    lambda s: [s[0], *(line for item in s[1] for line in item), s[2]]
)
_headers = st.tuples(
    _cased("HEADER\tschema_id\tlabeled"),
    _cased("HEADER\tschema_version\t").map(lambda h: h + "2.1"),
    st.lists(st.tuples(_field, _field).map(lambda f: "HEADER\t" + "\t".join(f)), max_size=2),
).map(lambda h: [h[0], h[1], *h[2]])
documents = st.tuples(_headers, st.lists(_shot, min_size=1, max_size=3)).map(lambda d: d[0] + sum(d[1], []))


def _join(data, lines):
    ends = data.draw(st.lists(st.sampled_from(["\n", "\r", "\r\n"]), min_size=len(lines), max_size=len(lines)))
    text = "".join(line + end for line, end in zip(lines, ends))
    return text if data.draw(st.booleans()) else text[: -len(ends[-1])]


# The grammar transcribed anew into one regular expression, literals folded, as a
# second opinion on which documents conform; the counts are checked by recursion.
_EOL = r"(?:\r\n|\r|\n)"
_FIELD = r'(?:"[\x20\x21\x23-\x7e]*"|[\x20\x21\x23-\x7e]*)'
_DOUBLE = r"[+-]?(?:INF|INFINITY|NAN|(?:[0-9]+|[0-9]*\.[0-9]+)(?:E[+-]?[0-9]+)?)"
_PRIMITIVE = rf"(?:RESULT\t[01]|RESULT_ARRAY\t[01]+|BOOL\t(?:TRUE|FALSE)|INT\t[+-]?[0-9]+|DOUBLE\t{_DOUBLE})"


def _file(schema, label):
    record = rf"(?:METADATA\t{_FIELD}(?:\t{_FIELD})?|OUTPUT\t(?:{_PRIMITIVE}|(?:TUPLE|ARRAY)\t[0-9]+){label})"
    shot = rf"START(?:{_EOL}{record})*{_EOL}END\t0"
    return re.compile(
        rf'HEADER\tSCHEMA_ID\t{schema}{_EOL}HEADER\tSCHEMA_VERSION\t(?:2\.1|"2\.1")'
        rf"(?:{_EOL}HEADER\t{_FIELD}\t{_FIELD})*(?:{_EOL}{shot})+{_EOL}?",
        re.IGNORECASE | re.ASCII,
    )


# An Ordered document's OUTPUT records carry no label.
_FILE = {"labeled": _file("LABELED", rf"\t{_FIELD}"), "ordered": _file("ORDERED", "")}


def _ordered(lines):
    """A generated Labeled document as Ordered: the schema named, the labels dropped."""
    return [lines[0][: -len("labeled")] + "ordered"] + [
        "\t".join(line.split("\t")[:3]) if line[:6].upper() == "OUTPUT" else line for line in lines[1:]
    ]


def _conforms(document, schema):
    if not _FILE[schema].fullmatch(document):
        return False
    # Each OUTPUT record as [type, value] and each END as None, which no container may reach.
    lines = [(line[:1].upper(), line.split("\t")[1:3]) for line in re.split(_EOL, document)]
    records = [fields if kind == "O" else None for kind, fields in lines if kind in ("O", "E")]

    def kind(record):
        return record[0].upper() if record[0].upper() in ("ARRAY", "TUPLE") else "value"

    def after(at):
        qir_type, value = records[at]
        at += 1
        count = int(value) if kind(records[at - 1]) != "value" else 0
        if schema == "ordered" and kind(records[at - 1]) != "value" and count == 0:
            raise TypeError  # array = array-start 1*item, tuple = tuple-start 1*item
        kinds = set()
        for _ in range(count):
            kinds.add(kind(records[at]))
            at = after(at)
        if schema == "ordered" and qir_type.upper() == "ARRAY" and len(kinds) > 1:
            raise TypeError  # an ordered array's items are all values, all arrays or all tuples
        return at

    at = 0
    try:
        while at < len(records):
            at = after(at) if records[at] else at + 1
    except TypeError:
        return False
    return True


_TOKENS = ["", "0", "1", "01", "2", "-0", "1.", ".5", "1e5", "+1E-5", "iNf", "NaN", "infinity", "True", "[3, 4]", '"a"', '"', "x\ty"]


@settings(max_examples=300, deadline=None)
@given(documents, st.data())
def test_grammar_documents(lines, data):
    """They conform; one bad character is found on its line; edits are judged as the transcribed grammar judges them,
    and findings come in line order."""
    schema = data.draw(st.sampled_from(list(_FILE)))
    lines = _ordered(lines) if schema == "ordered" else lines
    document = _join(data, lines)
    # Generated containers may be empty or hold mixed elements, which only the Ordered grammar forbids.
    assert (check_labeled(document, schema=schema) == []) == (schema == "labeled" or _conforms(document, schema))
    at = data.draw(st.sampled_from(range(len(lines))))
    where = data.draw(st.integers(0, len(lines[at])))
    bad = data.draw(st.sampled_from(["\x00", "\x1f", "\x7f", "é", "\udcff", "\ufeff"]))  # in no label, value or literal
    mutated = lines[:at] + [lines[at][:where] + bad + lines[at][where:]] + lines[at + 1 :]
    assert at + 1 in {f.line for f in check_labeled(_join(data, mutated), schema=schema)}
    lines = list(lines)
    for _ in range(data.draw(st.integers(1, 2))):  # a record is dropped, or a field or a character changed
        at, line = data.draw(st.sampled_from(list(enumerate(lines))))
        edit, where = data.draw(st.sampled_from(["drop", "field", "char"])), data.draw(st.integers(0, len(line)))
        if edit == "field":  # most often the value
            fields = line.split("\t")
            fields[data.draw(st.sampled_from([min(2, len(fields) - 1), *range(len(fields))]))] = data.draw(st.sampled_from(_TOKENS))
            lines[at] = "\t".join(fields)
        elif edit == "char":
            char = data.draw(st.sampled_from(["", "\t", "\n", "\r", '"', "0", "1", ".", "e", "-", "[", " ", "é"]))
            lines[at] = line[:where] + char + line[where + (char == "") :]
        elif len(lines) > 1:
            del lines[at]
    document = _join(data, lines)
    found = [f.line for f in check_labeled(document, schema=schema)]
    assert found == sorted(found)
    assert (found == []) == _conforms(document, schema)


_numbers = st.one_of(st.tuples(st.just("INT"), st.integers(-(2**63), 2**63 - 1)), st.tuples(st.just("FLOAT"), doubles))


@settings(max_examples=100, deadline=None)
@given(st.lists(st.lists(_numbers), min_size=1, max_size=4))
def test_formatter_output_of_numbers_conforms(shots):
    text = QirLabeledFormatter().qir_labeled_output([[(f"USER:{raw}:x", v) for raw, v in entries] for entries in shots], {})
    for source in (text, text.encode(), io.BytesIO(text.encode()), io.StringIO(text)):
        assert check_labeled(source) == []


GOOD = H + shot("OUTPUT\tRESULT\t1\tr")
BAD = H + shot("OUTPUT\tRESULT\t2\tr", "OUTPUT\tINT\t1\tt\tab")
BAD_REPORT = [
    "bad.txt:4:15: result-not-bit: RESULT value '2' is not 0 or 1",
    "bad.txt:5:16: extra-fields: OUTPUT record has 4 fields after its kind, expected 3",
]
MANY = H + shot(*["OUTPUT\tBOOL\t1\tb"] * 12, "OUTPUT\tARRAY\t2\ta")


UNREADABLE = H + shot("OUTPUT\tRESULT\t1\tr") + shot("OUTPUT\tRESULT\tx\tr") + shot("OUTPUT\tRESULT\t0\tr")
NOT_A_NUMBER = "unreadable.txt:7:15: RESULT value 'x' is not a number or a bool"


@pytest.mark.parametrize(
    "command, args, stdin, status, out, err",
    [
        ("check", ["good.txt"], "", 0, [], ""),
        ("check", ["-q", "good.txt", "bad.txt"], "", 1, [], ""),
        ("check", ["good.txt", "bad.txt"], "", 1, BAD_REPORT, ""),
        ("check", ["--schema-version", "2.0"], GOOD, 1,
         ["<stdin>:2:23: version-mismatch: document declares schema version '2.1', checked against 2.0"], ""),
        ("check", ["--schema", "ordered"], GOOD.replace("\tr\n", "\n"), 1,
         ["<stdin>:1:18: schema-mismatch: document declares schema 'labeled', checked as ordered"], ""),
        ("check", [], MANY, 1, [f"<stdin>:{n}:13: bad-bool: BOOL value '1' is not true or false" for n in range(4, 14)]
         + ["<stdin>:16:14: count-mismatch: ARRAY count 2, but only 0 element records follow in its shot",
            "<stdin>: … and 2 more bad-bool"], ""),
        ("check", ["--all", "-"], MANY, 1, [f"<stdin>:{n}:13: bad-bool: BOOL value '1' is not true or false" for n in range(4, 16)]
         + ["<stdin>:16:14: count-mismatch: ARRAY count 2, but only 0 element records follow in its shot"], ""),
        ("check", ["bad.txt", "missing.txt", "good.txt"], "", 2, BAD_REPORT, "brevant-check: error: cannot read 'missing.txt'"),
        ("check", ["."], "", 2, [], "brevant-check: error: cannot read '.'"),
        ("read", ["bad.txt"], "", 2, [], "brevant-read: error: bad.txt:4:15: RESULT value '2' is not a bit (0, 1, true or false)\n"),
        ("read", ["--counts"], GOOD + GOOD, 0, ['{"1": 2}'], ""),
        ("read", ["--memory", "--labels", "r"], GOOD, 0, ["1"], ""),
        ("read", ["unreadable.txt"], "", 2, ['[["USER:RESULT:r", 1]]'], f"brevant-read: error: {NOT_A_NUMBER}\n"),
        ("read", ["--errors", "collect", "unreadable.txt"], "", 0, ['[["USER:RESULT:r", 1]]', '[["USER:RESULT:r", 0]]'], ""),
        ("read", ["--errors", "collect", "--counts", "unreadable.txt"], "", 0, ['{"0": 1, "1": 1}'], f"brevant-read: warning: {NOT_A_NUMBER}\n"),
        ("read", ["--memory", "--labels", "s", "good.txt"], "", 2, [],
         "brevant-read: error: good.txt: line 3: the shot started here has no RESULT labeled 's'\n"),
        ("read", ["."], "", 2, [], "brevant-read: error: cannot read '.'"),
    ],
)
def test_commands(command, args, stdin, status, out, err, tmp_path, monkeypatch, capsys):
    from brevant import check_cli, read_cli

    (tmp_path / "good.txt").write_text(GOOD)
    (tmp_path / "bad.txt").write_bytes(BAD.encode())
    (tmp_path / "unreadable.txt").write_text(UNREADABLE)
    monkeypatch.chdir(tmp_path)
    monkeypatch.setattr("sys.stdin", io.TextIOWrapper(io.BytesIO(stdin.encode())))
    assert {"check": check_cli, "read": read_cli}[command].main(args) == status
    captured = capsys.readouterr()
    assert captured.out.splitlines() == out
    assert captured.err.startswith(err) and captured.err.count("\n") == bool(err)


def test_check_console_script(tmp_path):
    script = Path(sys.executable).with_name("brevant-check")
    (tmp_path / "bad.txt").write_text(BAD)
    proc = subprocess.run([script, "bad.txt"], capture_output=True, text=True, cwd=tmp_path, timeout=60)
    assert (proc.returncode, proc.stdout.splitlines(), proc.stderr) == (1, BAD_REPORT, "")
