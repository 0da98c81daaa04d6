"""Reading QIR output back: dialect documents, hostile logs, and the round trip
through the formatter as a property."""

import gc
import io
import json
import subprocess
import sys
from collections import Counter
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from brevant import (
    LabeledParseError,
    LabeledReader,
    LabeledResult,
    QirLabeledFormatter,
    count_labeled,
    iter_shots,
    read_labeled,
)

HEAD = "HEADER\tschema_id\tlabeled\nHEADER\tschema_version\t2.1\n"
META = "METADATA\tentry_point\nMETADATA\tqir_profiles\tbase_profile\n"


def doc(*lines, end="\n"):
    return end.join(lines) + end


WORKED_EXAMPLE = doc(
    "HEADER\tschema_id\tlabeled", "HEADER\tschema_version\t2.1",
    "START", "METADATA\tentry_point", "METADATA\tqir_profiles\tbase_profile",
    "METADATA\trequired_num_qubits\t2", "METADATA\trequired_num_results\t2",
    "OUTPUT\tRESULT\t0\tr0", "OUTPUT\tRESULT\t1\tr1", "OUTPUT\tDOUBLE\t-1.5\tenergy",
    "OUTPUT\tARRAY\t[3, 4]\tcounts", "END\t0",
    "START", "OUTPUT\tRESULT\t1\tr0", "OUTPUT\tRESULT\t1\tr1", "OUTPUT\tBOOL\ttrue\tok",
    "OUTPUT\tRESULT_ARRAY\t101\tbits", "END\t0",
)  # fmt: skip
SPELLINGS = ["nan", "NaN", "NAN", "inf", "-INFINITY", "1e+300", "4.94066e-324", "-0", "3",
             f"{1e302:f}", f"{5e-324:.330f}", "-0.5e3", "+2.5", "1e400", "-1e-400", "0.09e310",
             "12.5e-330"]  # fmt: skip
SPELLED = [float("nan")] * 3 + [float("inf"), float("-inf"), 1e300, 5e-324, -0.0, 3,
                                1e302, 5e-324, -500.0, 2.5, float("inf"), -0.0, float("inf"),
                                0.0]  # fmt: skip

# A runner's containers, records reordered in the second shot, a failed third shot.
RUNNER = HEAD + doc(
    "START", "METADATA\tentry_point", "OUTPUT\tARRAY\t3\tghz", "OUTPUT\tRESULT\t0\ta", "OUTPUT\tRESULT\t0\tb",
    "OUTPUT\tRESULT\t0\tc", "END\t0", "START", "OUTPUT\tARRAY\t3\tghz", "OUTPUT\tRESULT\t1\tc",
    "OUTPUT\tRESULT\t0\ta", "OUTPUT\tRESULT\t1\tb", "END\t0", "START", "OUTPUT\tARRAY\t3\tghz",
    "OUTPUT\tRESULT\t1\ta", "END\t5")  # fmt: skip
BIG_INT = 123456789012345678901234567890

# (name, document, shots as (label, value) pairs, values(), exit codes, schema, version, attributes)
DIALECTS = [
    ("our own output", WORKED_EXAMPLE,
     [[("r0", 0), ("r1", 1), ("energy", -1.5), ("counts", [3, 4])],
      [("r0", 1), ("r1", 1), ("ok", True), ("bits", [1, 0, 1])]],
     [{"r0": 0, "r1": 1, "energy": -1.5, "counts": [3, 4]}, {"r0": 1, "r1": 1, "ok": True, "bits": [1, 0, 1]}],
     [0, 0], "labeled", "2.1",
     {"entry_point": None, "qir_profiles": "base_profile", "required_num_qubits": "2",
      "required_num_results": "2"}),
    ("runner containers, reordered, failed shot", RUNNER,
     [[("ghz", 3), ("a", 0), ("b", 0), ("c", 0)], [("ghz", 3), ("c", 1), ("a", 0), ("b", 1)], [("ghz", 3), ("a", 1)]],
     [{"ghz": [0, 0, 0]}, {"ghz": [1, 0, 1]}, {"ghz": [1]}], [0, 0, 5], "labeled", "2.1", {"entry_point": None}),
    ("labeled, nested containers", HEAD + doc(
        "START", "METADATA\tentry_point", "METADATA\toutput_labeling_schema\tlabeled",
        "OUTPUT\tARRAY\t2\t0_a", "OUTPUT\tTUPLE\t2\t1_a0t", "OUTPUT\tINT\t42\t2_a0t0i",
        "OUTPUT\tRESULT\t0\t3_a0t1r", "OUTPUT\tTUPLE\t2\t4_a1t", "OUTPUT\tINT\t33\t5_a1t0i",
        "OUTPUT\tRESULT\t1\t6_a1t1r", "OUTPUT\tARRAY\t0\tnone", "END\t0"),
     [[("0_a", 2), ("1_a0t", 2), ("2_a0t0i", 42), ("3_a0t1r", 0), ("4_a1t", 2), ("5_a1t0i", 33), ("6_a1t1r", 1),
       ("none", 0)]],
     [{"0_a": [(42, 0), (33, 1)], "none": []}], [0], "labeled", "2.1",
     {"entry_point": None, "output_labeling_schema": "labeled"}),
    ("elements labelled by index, out of order", doc(
        "START", "OUTPUT\tTUPLE\t2\tt", "OUTPUT\tINT\t-7\tt.1", "OUTPUT\tDOUBLE\t0.5\tt.0",
        "OUTPUT\tARRAY\t2\ta", "OUTPUT\tRESULT\t1\ta[1]", "OUTPUT\tRESULT\t0\ta[0]", "END\t0"),
     [[("t", 2), ("t.1", -7), ("t.0", 0.5), ("a", 2), ("a[1]", 1), ("a[0]", 0)]],
     [{"t": (0.5, -7), "a": [0, 1]}], [0], "labeled", None, {}),
    ("ordered, three fields", doc(
        "HEADER\tschema_id\tordered", "HEADER\tschema_version\t2.0", "START",
        "OUTPUT\tARRAY\t2", "OUTPUT\tRESULT\t1", "OUTPUT\tRESULT\t0", "OUTPUT\tDOUBLE\t0.42",
        "OUTPUT\tRESULT_ARRAY\t1011", "END\t0", "START", "OUTPUT\tARRAY\t2", "OUTPUT\tRESULT\t0",
        "OUTPUT\tRESULT\t0", "OUTPUT\tDOUBLE\t0.25", "OUTPUT\tRESULT_ARRAY\t0100", "END\t0"),
     [[(None, 2), (None, 1), (None, 0), (None, 0.42), (None, [1, 0, 1, 1])],
      [(None, 2), (None, 0), (None, 0), (None, 0.25), (None, [0, 1, 0, 0])]],
     [[[1, 0], 0.42, [1, 0, 1, 1]], [[0, 0], 0.25, [0, 1, 0, 0]]], [0, 0], "ordered", "2.0", {}),
    ("version 1.0, schema_name, lower-case literals", doc(
        "HEADER\tschema_name\tordered", "HEADER\tschema_version\t1.0", "start",
        "output\tresult\t1", "Output\tBool\tTrue", "end\t0"),
     [[(None, 1), (None, True)]], [[1, True]], [0], "ordered", "1.0", {}),
    ("no HEADER, METADATA in every shot", doc(
        "START", "METADATA\toutput_labeling_schema\tlabeled", "METADATA\tentry_point",
        "METADATA\trequired_num_qubits\t1", "OUTPUT\tRESULT\t1\tr", "END\t0",
        "START", "METADATA\trequired_num_qubits\t1", "METADATA\tentry_point",
        "METADATA\toutput_labeling_schema\tlabeled", "OUTPUT\tRESULT\t0\tr", "END\t0"),
     [[("r", 1)], [("r", 0)]], [{"r": 1}, {"r": 0}], [0, 0], "labeled", None,
     {"output_labeling_schema": "labeled", "entry_point": None, "required_num_qubits": "1"}),
    ("doubles in every spelling, true/True, an INT beyond 64 bits, non-zero END", HEAD + doc(
        "START", *(f"OUTPUT\tDOUBLE\t{s}\td{i}" for i, s in enumerate(SPELLINGS)),
        "OUTPUT\tBOOL\ttrue\tb", "OUTPUT\tBOOL\tFalse\tc", "OUTPUT\tRESULT\tTrue\tr",
        f"OUTPUT\tINT\t-{BIG_INT}\tbig", "END\t3"),
     [[(f"d{i}", v) for i, v in enumerate(SPELLED)] + [("b", True), ("c", False), ("r", True), ("big", -BIG_INT)]],
     [{**{f"d{i}": float(v) for i, v in enumerate(SPELLED)}, "b": True, "c": False, "r": 1, "big": -BIG_INT}],
     [3], "labeled", "2.1", {}),
    ("CRLF, no final newline", doc(HEAD.rstrip("\n"), "START", META.rstrip("\n"),
                                   "OUTPUT\tINT\t-7\ti", "END\t0", end="\r\n")[:-2],
     [[("i", -7)]], [{"i": -7}], [0], "labeled", "2.1", {"entry_point": None, "qir_profiles": "base_profile"}),
    ("CR only, a TAB in a label", doc("START", "OUTPUT\tINT\t1\ta\tb", "END\t0", end="\r"),
     [[("a\tb", 1)]], [{"a\tb": 1}], [0], "labeled", None, {}),
]  # fmt: skip

RAW = {"RESULT": "RESULT", "INT": "INT", "BOOL": "BOOL", "DOUBLE": "FLOAT",
       "RESULT_ARRAY": "RESULT_ARRAY", "ARRAY": "QIRARRAY", "TUPLE": "QIRTUPLE"}  # fmt: skip


def labels_and_values(shots):
    """Shots with each key cut to its label, None for the ordered schema's empty one."""
    return [[(key.split(":", 2)[2] or None, value) for key, value in shot] for shot in shots]


@pytest.mark.parametrize(
    "text, shots, values, exit_codes, schema, version, attributes",
    [case[1:] for case in DIALECTS],
    ids=[case[0] for case in DIALECTS],
)
def test_dialect_documents_read(text, shots, values, exit_codes, schema, version, attributes):
    result = read_labeled(text)
    # repr tells nan from nan and -0.0 from 0.0, and 3 from 3.0.
    assert repr(labels_and_values(result.shots())) == repr(shots)
    assert repr(result.values()) == repr(values)
    assert repr(list(result)) == repr([result[i] for i in range(-len(result), 0)]) == repr(result.shots())
    assert (result.exit_codes, result.schema, result.version) == (exit_codes, schema, version)
    assert result.attributes == attributes
    assert len(result) == len(shots)
    for reread in (read_labeled(text.encode()), read_labeled(io.StringIO(text))):
        assert repr(reread.shots()) == repr(result.shots())
    # Raw type names round the key: the formatter's input form.
    assert all(k.split(":")[1] in RAW.values() for s in result.shots() for k, _ in s)
    if any(exit_codes):
        return  # the formatter writes every shot with END 0
    again = read_labeled(QirLabeledFormatter().qir_labeled_output(result.shots(), result.attributes))
    for view in (LabeledResult.shots, LabeledResult.values, LabeledResult.columns, counted):
        assert repr(view(again)) == repr(view(result))


def counted(result):
    try:
        return result.counts(), result.memory(bit_order="reversed")
    except ValueError as error:  # shots that record different labels
        return str(error)


# Read whole, pushed in chunks and streamed by iter_shots, a document gives the
# same shots, columns and departures, whatever its line ends and wherever the
# chunks are cut.
LINE_ENDS = {"LF": "\n", "CR": "\r", "CRLF": "\r\n"}
REPEATED_LABEL = doc("START", "OUTPUT\tINT\t1\ta", "OUTPUT\tINT\t2\ta", "OUTPUT\tRESULT\t1\tr", "END\t0",
                     "START", "OUTPUT\tINT\t3\ta", "END\t-1")  # fmt: skip
# Broken records after a document: departures at lines far from its start.
BROKEN_TAIL = doc("START", "OUTPUT\tBOOL\tmaybe\tb", "END\t0", "bogus", "START", "OUTPUT\tRESULT\t1\tr")


def cut_points(data, kind):
    """Where to cut `data` into chunks: inside each field, around each TAB,
    between CR and LF, after each line end, or after every byte."""
    ends = [i + 1 for i, c in enumerate(data) if c == 10 or (c == 13 and data[i + 1 : i + 2] != b"\n")]
    if kind == "field":
        starts = [0, *(i + 1 for i, c in enumerate(data) if c in b"\t\r\n")]
        return [start + 1 for start in starts if data[start : start + 2].isalnum()]
    return {"tab": [p for i, c in enumerate(data) if c == 9 for p in (i, i + 1)],
            "CR|LF": [i + 1 for i in range(len(data) - 1) if data[i : i + 2] == b"\r\n"],
            "line end": ends, "byte": range(1, len(data))}[kind]  # fmt: skip


class Chunked:
    """A binary file whose reads return the given chunks."""

    def __init__(self, chunks):
        self.chunks = iter(chunks)

    def read(self, size):
        return next(self.chunks, b"")


def position(error):
    return error.line, error.column, str(error)


def read_every_way(data, chunks, errors):
    """(shots, columns, departures) as read whole, pushed (the columns read from
    the same chunks) and streamed (which gives no columns and keeps collected
    departures to itself); then the shots pushed and streamed before a
    departure was raised."""
    outcomes = []
    try:
        result = read_labeled(data, errors=errors)
        outcomes.append((repr(result.shots()), repr(result.columns()), [position(p) for p in result.problems]))
    except LabeledParseError as error:
        outcomes.append((None, None, [position(error)]))
    pushed, reader = [], LabeledReader(errors=errors)
    try:
        for chunk in chunks:
            pushed += reader.feed(chunk)
        result = reader.close()  # completes a last shot without a line end
        pushed += result.shots()
        columns = read_labeled(Chunked(chunks), errors=errors).columns()
        outcomes.append((repr(pushed), repr(columns), [position(p) for p in result.problems]))
    except LabeledParseError as error:
        outcomes.append((None, None, [position(error)]))
    streamed = []
    try:
        streamed.extend(iter_shots(Chunked(chunks), errors=errors))
        outcomes.append((repr(streamed), None, []))
    except LabeledParseError as error:
        outcomes.append((None, None, [position(error)]))
    return outcomes, pushed, streamed


def first_values(shots):
    """Label to each shot's first value of it: what columns() keeps."""
    labels = {key.split(":", 2)[2]: None for shot in shots for key, _ in shot}
    return {label: [next((v for k, v in shot if k.split(":", 2)[2] == label), None) for shot in shots]
            for label in labels}  # fmt: skip


@pytest.mark.parametrize("line_end", LINE_ENDS.values(), ids=LINE_ENDS.keys())
@pytest.mark.parametrize("text", [c[1] for c in DIALECTS] + [REPEATED_LABEL], ids=[c[0] for c in DIALECTS] + ["repeated"])
def test_every_way_of_reading_agrees(text, line_end):
    text = text.replace("\r\n", "\n").replace("\r", "\n").replace("\n", line_end)
    result = read_labeled(text)  # every one of these documents is readable
    if result.schema == "labeled":
        assert repr(result.columns()) == repr(first_values(result.shots()))
    broken = (text if text.endswith(line_end) else text + line_end) + BROKEN_TAIL.replace("\n", line_end)
    for data in text.encode(), broken.encode():
        for kind in ("field", "tab", "CR|LF", "line end", "byte"):
            bounds = [0, *sorted(set(cut_points(data, kind))), len(data)]
            chunks = [data[start:stop] for start, stop in zip(bounds, bounds[1:])]
            for errors in ("raise", "collect"):
                (whole, pushed, streamed), pushed_shots, streamed_shots = read_every_way(data, chunks, errors)
                assert pushed == whole, (kind, errors)
                assert streamed[0] == whole[0] and repr(streamed_shots) == repr(pushed_shots), (kind, errors)
                assert streamed[2] == (whole[2] if errors == "raise" else []), (kind, errors)


def test_counts_memory_and_columns_of_our_own_output():
    result = read_labeled(WORKED_EXAMPLE)
    first, second = result.shots()
    assert first[0][0] is second[0][0]  # one str per label, shared by every shot
    with pytest.raises(ValueError, match="at line 13 records other RESULT labels than the shot at line 3 .also 'bits'."):
        result.memory()  # the second shot's RESULT_ARRAY
    assert result.counts(labels=["r1", "r0"]) == {"10": 1, "11": 1}
    assert result.memory(labels=["r1", "r0"]) == ["10", "11"]
    assert result.columns() == {
        "r0": [0, 1], "r1": [1, 1], "energy": [-1.5, None], "counts": [[3, 4], None],
        "ok": [None, True], "bits": [None, [1, 0, 1]],
    }  # fmt: skip
    with pytest.raises(ValueError, match="^line 3: the shot started here has no RESULT labeled 'bits'$"):
        result.counts(labels=["bits"])
    with pytest.raises(ValueError, match="labels name 'r0' more than once"):
        result.counts(labels=["r0", "r1", "r0"])
    # Counted a chunk at a time, with shots split across chunks, the counts are the same.
    many = WORKED_EXAMPLE + WORKED_EXAMPLE.replace(HEAD, "") * 40_000
    assert len(many) > 2 * (1 << 20)
    assert count_labeled(many, ["r0", "r1"]) == read_labeled(many).counts(["r0", "r1"]) == {"01": 40_001, "11": 40_001}
    assert count_labeled(many.encode(), ["r1", "r0"]) == {"10": 40_001, "11": 40_001}
    # Past 64 bits a shot's outcome is kept as text instead of packed.
    wide = read_labeled(doc("START", f"OUTPUT\tRESULT_ARRAY\t{'10' * 35}\tw", "OUTPUT\tRESULT\t1\tr", "END\t0") * 2)
    assert wide.counts() == {"10" * 35 + "1": 2}
    assert wide.memory(labels=["r", "w"]) == ["1" + "10" * 35] * 2


def test_counts_by_label_in_either_bit_order_without_failed_shots():
    result = read_labeled(RUNNER)
    assert result.memory() == ["000", "011", "1"] and result.counts() == {"000": 1, "011": 1}
    assert result.memory(bit_order="reversed") == ["000", "110", "1"]
    for order, flip in (("record", str), ("reversed", lambda bits: bits[::-1])):
        for labels in (None, ["c", "a"]):
            every = Counter(flip(bits) for bits in result.memory(labels))
            assert result.counts(labels, bit_order=order, include_failed=True) == every
            assert count_labeled(RUNNER, labels, bit_order=order, include_failed=True) == every
            del every[flip(result.memory(labels)[2])]  # the failed shot's
            assert result.counts(labels, bit_order=order) == count_labeled(RUNNER, labels, bit_order=order) == every
    with pytest.raises(ValueError, match="^bit_order must be 'record' or 'reversed', not 'little'$"):
        result.counts(bit_order="little")
    many = RUNNER + RUNNER.replace(HEAD, "") * 5_000  # counted over several chunks, the labels learnt in the first
    assert count_labeled(many, bit_order="reversed") == read_labeled(many).counts(bit_order="reversed")
    with pytest.raises(ValueError, match=f"^the shot started at line {many.count(chr(10)) + 1} records other"):
        count_labeled(many + doc("START", "OUTPUT\tRESULT\t1\tz", "END\t0"))

    differing = doc("START", "OUTPUT\tRESULT\t0\tr0", "END\t0", "START", "OUTPUT\tRESULT\t1\tr1", "END\t0")
    message = ("the shot started at line 4 records other RESULT labels than the shot at line 1 (also 'r1'; not 'r0'):"
               " pass labels= to choose the bits to count")  # fmt: skip
    for count in (lambda: read_labeled(differing).counts(), lambda: count_labeled(differing, errors="collect")):
        with pytest.raises(ValueError) as raised:
            count()
        assert str(raised.value) == message and not isinstance(raised.value, LabeledParseError)
    collected = read_labeled(differing, errors="collect")
    assert collected.counts(["r0"]) == {"0": 1} and collected.memory(["r0"]) == ["0"]
    assert [str(p) for p in collected.problems] == ["line 4, column 1: the shot started here has no RESULT labeled 'r0'"]


BIG = 16 << 20

# Hostile and malformed logs: (document, line, column, message)
BROKEN = [
    (HEAD + "START\nOUTPUT\tARRAY\t4294967295\ta\n", 4, 14,
     "ARRAY of '4294967295' elements: a shot holds at most 67108864 records"),
    ("START\nOUTPUT\tARRAY\t-1\ta\n", 2, 14, "ARRAY of '-1' elements: a count is not negative"),
    ("START\nOUTPUT\tINT\t" + "9" * 4301 + "\ti\n", 2, 12, "INT value of 4301 digits: at most 4300 are read"),
    ("START\nOUTPUT\tRESULT\t2\tr\nEND\t0\n", 2, 15, "RESULT value '2' is not a bit (0, 1, true or false)"),
    ("HEADER\tschema_id\tordered_and_labeled\n", 1, 18, "unknown schema_id 'ordered_and_labeled' (labeled or ordered)"),
    (HEAD + "HEADER\tschema_id\tordered\n", 3, 18, "HEADER 'schema_id' again with 'ordered': the first, 'labeled', holds"),
    ("START\tnow\nEND\t0\n", 1, 7, "START with a field: 'now'"),
    ("START\nEND\t0\tdone\n", 2, 7, "END with a second field: 'done'"),
    ("START\nOUTPUT\tTUPLE\t3\ta\nOUTPUT\tRESULT\t0\tb\nEND\t0\n", 4, 1,
     "TUPLE at line 2 misses elements: the shot ends first"),
    ("START\nOUTPUT\tTUPLE\t99999999999999999999\ta\n", 2, 14,
     "TUPLE of '99999999999999999999' elements: a shot holds at most 67108864 records"),
    ("START\nOUTPUT\tRESULT_ARRAY\t102\tb\nEND\t0\n", 2, 21, "RESULT_ARRAY value '102' is not a string of bits"),
    ("START\nOUTPUT\tINT\t1.5x\ti\nEND\t0\n", 2, 12, "INT value '1.5x' is not a number or a bool"),
    ("START\nOUTPUT\tCOMPLEX\t1\tc\nEND\t0\n", 2, 8, "unknown output type 'COMPLEX'"),
    ("OUTPUT\tRESULT\t0\tr\n", 1, 1, "OUTPUT outside a shot"),
    ("START\nEND\tzero\n", 2, 5, "exit code 'zero' is not an integer"),
    ("START\nEND\t+-5\n", 2, 5, "exit code '+-5' is not an integer"),
    ("START\nEND\t 1\n", 2, 5, "exit code ' 1' is not an integer"),
    (f"START\nEND\t{2**63}\n", 2, 5,
     f"exit code '{2**63}' is beyond the 64-bit limit (-9223372036854775808 to 9223372036854775807)"),
    ("START\nSTART\n", 2, 1, "START inside the shot started at line 1"),
    ("START\nOUTPUT\tINT\t1\ti\n", 2, 1, "the document ends inside the shot started at line 1"),
    ("START\nEND\t0\nbogus\x01line\n", 3, 1, "unknown record kind 'bogus\\x01line'"),
    (b"START\nOUTPUT\tINT\t1\ta\xed\xa0\x80\n", 2, 14, "label 'a\\xed\\xa0\\x80' is not UTF-8 text"),
    (b"METADATA\tkey\t\xc0\xaf\n", 1, 14, "'\\xc0\\xaf' is not UTF-8 text"),
    ("START\n" + "x" * (BIG + 1) + "\nEND\t0\n", 2, BIG + 1, f"line longer than {BIG} bytes"),
    ("START\n" + "OUTPUT\tARRAY\t1\t\n" * 300 + "OUTPUT\tINT\t1\t\nEND\t0\n", 258, 14,
     "containers nested more than 256 deep"),
    ("START\n" + "".join(f"OUTPUT\tRESULT\t0\t{i}\n" for i in range((1 << 20) + 1)), (1 << 20) + 2, 17,
     f"more than {1 << 20} distinct labels in one shot"),
]  # fmt: skip


@pytest.mark.parametrize("text, line, column, message", BROKEN, ids=range(len(BROKEN)))
def test_broken_documents_fail_at_their_line(text, line, column, message):
    with pytest.raises(LabeledParseError) as raised:
        read_labeled(text)
    error = raised.value
    assert isinstance(error, ValueError)
    assert (error.line, error.column) == (line, column)
    assert str(error) == f"line {line}, column {column}: {message}"


@pytest.mark.parametrize("code, value", [("-1", -1), ("+5", 5), ("-0", 0), ("007", 7), (str(2**63 - 1), 2**63 - 1)])
def test_exit_codes_are_any_int64(code, value):
    assert read_labeled(f"START\nEND\t{code}\n").exit_codes == [value]


# Surrogates encoded anyway ("surrogatepass") are the near misses.
utf8ish = st.one_of(st.binary(max_size=6), st.text(max_size=3).map(lambda t: t.encode("utf-8", "surrogatepass")))


@given(utf8ish.map(lambda b: b.translate(None, b"\t\r\n")))
def test_labels_are_taken_exactly_when_they_are_utf8(tag):
    text = b"START\nOUTPUT\tINT\t1\t" + tag + b"\nEND\t0\n"
    try:
        expected = [[("USER:INT:" + tag.decode(), 1)]]
    except UnicodeDecodeError:
        with pytest.raises(LabeledParseError, match="is not UTF-8 text"):
            read_labeled(text)
    else:
        assert read_labeled(text).shots() == expected


@pytest.mark.parametrize("kind", ["str", "bytes", "bytearray", "memoryview", "path", "binary file", "text file", "BOM"])
def test_every_kind_of_source_reads_alike(kind, tmp_path):
    path = tmp_path / "doc.txt"
    path.write_bytes((b"\xef\xbb\xbf" if kind == "BOM" else b"") + WORKED_EXAMPLE.encode())
    sources = {"str": lambda: WORKED_EXAMPLE, "bytes": path.read_bytes, "BOM": path.read_bytes,
               "bytearray": lambda: bytearray(path.read_bytes()), "path": lambda: path,
               "memoryview": lambda: memoryview(path.read_bytes()),
               "binary file": lambda: open(path, "rb"), "text file": lambda: open(path)}  # fmt: skip
    expected = read_labeled(WORKED_EXAMPLE).shots()
    assert read_labeled(sources[kind]()).shots() == list(iter_shots(sources[kind]())) == expected
    if kind in ("str", "bytes", "bytearray", "memoryview"):
        with LabeledReader() as reader:
            assert reader.feed(sources[kind]()) == expected
        assert reader.result is not None and reader.result.attributes["required_num_qubits"] == "2"


def test_wrong_sources_and_modes_fail_at_the_call():
    with pytest.raises(TypeError, match="not 'int'"):
        iter_shots(3)
    with pytest.raises(ValueError, match="errors must be 'raise' or 'collect'"):
        iter_shots("", errors="ignore")
    with pytest.raises(TypeError, match="'int' object is not an instance of 'str or bytes'"):
        LabeledReader().feed(3)
    with pytest.raises(LabeledParseError, match="a str is the document itself: to read a file, pass a pathlib.Path"):
        read_labeled("examples/measurements.txt")
    (collected,) = read_labeled("examples/measurements.txt", errors="collect").problems
    assert str(collected).endswith("a str is the document itself: to read a file, pass a pathlib.Path or an open file")
    assert (collected.line, collected.column) == (1, 1)


def test_collecting_keeps_every_complete_shot():
    text = doc("START", "OUTPUT\tRESULT\t1\ta", "END\t0", "START", "OUTPUT\tRESULT\tx\ta",
               "OUTPUT\tRESULT\t0\ta", "END\t0", "START", "OUTPUT\tRESULT\t0\ta", "END\t7", "START")  # fmt: skip
    result = read_labeled(text, errors="collect")
    assert result.memory() == ["1", "0"] and result.exit_codes == [0, 7]
    assert [(p.line, p.column) for p in result.problems] == [(5, 15), (11, 1)]
    assert list(iter_shots(text, errors="collect")) == result.shots()
    # Raising, the shots completed before the error still reach the caller first.
    streamed = []
    with pytest.raises(LabeledParseError, match="^line 5, column 15: "):
        streamed.extend(iter_shots(text))
    assert streamed == result.shots()[:1]
    reader = LabeledReader()
    assert reader.feed(text) == result.shots()[:1]
    with pytest.raises(LabeledParseError, match="^line 5, column 15: "):  # raised by the next call
        reader.close()


# Result sets the formatter writes, with labels free of TAB, CR and LF.
# Few labels, so that shots often share them, and any text.
tags = st.sampled_from(["a", "b", "c"]) | st.text(
    st.characters(blacklist_categories=("Cs",), blacklist_characters="\t\r\n"), max_size=4
)
scalars = st.one_of(st.booleans(), st.integers(-(2**63), 2**63 - 1), st.floats(), st.sampled_from([0, 1]))
# An int in an ARRAY or TUPLE record reads as an element count.
container_values = st.one_of(st.lists(scalars, max_size=3), st.booleans(), st.floats())
bits = st.sampled_from([0, 1, True, False])
entry_values = {
    "RESULT": bits, "INT": scalars, "UINT": scalars, "BOOL": scalars, "FLOAT": scalars,
    "RESULT_ARRAY": st.lists(bits, max_size=4), "QIRARRAY": container_values,
    "QIRTUPLE": container_values, "NOTATYPE": scalars,
}  # fmt: skip


def entries_of(raw_types):
    return st.sampled_from(raw_types).flatmap(
        lambda raw: st.tuples(tags.map(lambda tag: f"USER:{raw}:{tag}"), entry_values[raw])
    )


# Runner-style containers: a count, then that many elements (which the formatter
# must write: no unknown types), containers among them.
groups = st.recursive(
    entries_of(sorted(set(entry_values) - {"NOTATYPE"})).map(lambda entry: [entry]),
    lambda inner: st.tuples(st.sampled_from(["QIRARRAY", "QIRTUPLE"]), tags, st.lists(inner, max_size=3)).map(
        lambda c: [(f"USER:{c[0]}:{c[1]}", len(c[2]))] + [entry for group in c[2] for entry in group]
    ),
    max_leaves=6,
)
grouped_result_sets = st.lists(st.lists(groups | entries_of(["NOTATYPE"]).map(lambda e: [e]), max_size=4), max_size=4)


def flat(groups):
    return [entry for group in groups for entry in group]


def model_memory(shots, exit_codes):
    """Bit strings by the rules of brevant.reader's documentation, or the ValueError."""
    order, memory = None, []
    for shot, code in zip(shots, exit_codes):
        bits = [(key.split(":", 2)[2], "".join(str(int(b)) for b in (v if isinstance(v, list) else [v])))
                for key, v in shot if key.startswith(("USER:RESULT:", "USER:RESULT_ARRAY:"))]  # fmt: skip
        labels = [label for label, _ in bits]
        if "" in labels or len(set(labels)) < len(labels) or (order is None and code):
            memory.append("".join(b for _, b in bits))
            continue
        order = labels if order is None else order
        if code == 0 and set(labels) != set(order):
            return ValueError
        found = dict(bits)
        memory.append("".join(found[label] for label in order if label in found)
                      + "".join(b for label, b in bits if label not in order))  # fmt: skip
    return memory
attribute_sets = st.dictionaries(
    st.sampled_from(["qir_profiles", "required_num_qubits", "other"]),
    st.text(st.characters(blacklist_categories=("Cs",), blacklist_characters="\r\n"), max_size=3),
)


@settings(max_examples=300, deadline=None)
@given(grouped=grouped_result_sets, attributes=attribute_sets, data=st.data())
def test_round_trip_through_the_formatter(grouped, attributes, data):
    formatter = QirLabeledFormatter()
    text = formatter.qir_labeled_output([flat(shot) for shot in grouped], attributes)
    result = read_labeled(text)
    shots = result.shots()
    assert formatter.qir_labeled_output(shots, result.attributes) == text

    encoded = text.encode()
    cuts = sorted(data.draw(st.lists(st.integers(0, len(encoded)), max_size=6)))
    pushed, reader = [], LabeledReader()
    for start, stop in zip([0, *cuts], [*cuts, len(encoded)]):
        pushed += reader.feed(encoded[start:stop])
    # repr, since nan != nan
    assert repr(pushed) == repr(shots) and reader.close().shots() == []
    assert repr(list(iter_shots(io.BytesIO(encoded)))) == repr(shots)

    # The same shots with their records (containers whole) in another order, some failed.
    exit_codes = data.draw(st.lists(st.sampled_from([0, 0, 3]), min_size=len(shots), max_size=len(shots)))
    body = ""
    for shot, code in zip(grouped, exit_codes):
        records = io.StringIO()
        formatter.emit_values_in_shot(records, flat(data.draw(st.permutations(shot))))
        body += f"START\n{records.getvalue()}END\t{code}\n"
    reordered = read_labeled(body)
    assert reordered.exit_codes == exit_codes
    memory = model_memory(reordered.shots(), exit_codes)
    if memory is ValueError:
        with pytest.raises(ValueError, match="pass labels= to choose the bits to count"):
            reordered.memory()
        return
    assert reordered.memory() == memory and reordered.memory(bit_order="reversed") == [m[::-1] for m in memory]
    counted = Counter(m for m, code in zip(memory, exit_codes) if code == 0)
    assert reordered.counts() == count_labeled(body) == counted


def test_reading_leaves_no_memory_behind():
    def read_every_way():
        result = read_labeled(WORKED_EXAMPLE, errors="collect")
        result.shots(), result.counts(["r0"]), result.memory(["r0"]), result.columns(), result.problems, result.values()
        read_labeled(RUNNER).counts(bit_order="reversed", include_failed=True), count_labeled(RUNNER)
        list(iter_shots(WORKED_EXAMPLE.encode()))
        reader = LabeledReader()
        reader.feed(WORKED_EXAMPLE[:50]), reader.feed(WORKED_EXAMPLE[50:]), reader.close()
        read_labeled("START\nbogus\n", errors="collect").problems
        strict = read_labeled(WORKED_EXAMPLE)
        for failing in (lambda: read_labeled("START\nbogus\n"), lambda: strict.counts(["bits"]), result.counts):
            with pytest.raises(ValueError):
                failing()

    for _ in range(100):
        read_every_way()
    gc.collect()
    before = sys.getallocatedblocks()
    for _ in range(1000):
        read_every_way()
    gc.collect()
    assert sys.getallocatedblocks() - before < 100


NON_FINITE = QirLabeledFormatter().qir_labeled_output(
    [[("USER:FLOAT:d", float("nan")), ("USER:FLOAT:e", float("-inf")), ("USER:QIRARRAY:l", [float("inf"), 1.5]),
      ("USER:RESULT:r", 1)]], {})  # fmt: skip


def refuse_constant(name):
    raise ValueError(f"{name} is not standard JSON")


# (document, --labels, whether the converter writes it back byte for byte)
@pytest.mark.parametrize(
    "text, labels, same_text",
    [(WORKED_EXAMPLE, ["--labels", "r1,r0"], False), (RUNNER.rsplit("START", 1)[0], [], False),
     (DIALECTS[4][1], [], False), (NON_FINITE, [], True), (RUNNER, [], False)],
    ids=["our own output", "runner containers", "ordered", "non-finite doubles", "a failed shot left out"],
)  # fmt: skip
def test_the_json_lines_pipe_is_standard_json_and_keeps_the_counts(text, labels, same_text, tmp_path):
    path = tmp_path / "doc.txt"
    path.write_text(text)

    def tool(name, *args, stdin=None):
        command = [Path(sys.executable).with_name(name), *args]
        return subprocess.run(command, input=stdin, capture_output=True, check=True, timeout=60).stdout

    lines = tool("brevant-read", path)
    assert [json.loads(line, parse_constant=refuse_constant) for line in lines.splitlines()]
    rewritten = tool("brevant-labeled", "--jsonl", stdin=lines)
    assert rewritten == text.encode() or not same_text
    assert tool("brevant-read", "--counts", *labels, stdin=rewritten) == tool("brevant-read", "--counts", *labels, path)
    assert tool("brevant-read", stdin=rewritten) == lines


@pytest.mark.parametrize("workload", ["measure", "floats", "mixed"])
def test_the_benchmark_yardstick_reads_what_the_reader_reads(workload):
    sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "bench"))
    import pure_reader
    from workloads import ATTRIBUTES, WORKLOADS

    text = QirLabeledFormatter().qir_labeled_output(WORKLOADS[workload](20, seed=3), ATTRIBUTES)
    assert pure_reader.read_shots(text) == read_labeled(text).shots()
    assert pure_reader.counts(text) == read_labeled(text).counts()
