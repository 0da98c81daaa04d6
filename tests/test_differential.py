"""The native formatter against the plain-Python model in tests/model.py.

Every property feeds the same generated input to both and compares the exact
texts handed to `qo.write`, the number of `write` calls and the number of
warnings, or the exception raised.  The tables at the top pin the model itself
to known texts, so that agreement means agreement with the format.
"""

import logging
import math
import struct
import types

import model
import pytest
from shared import WARNING_TEXT, FloatSub, IntSub, ListSub, StrSub
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from test_document import WORKED_EXAMPLE_ATTRIBUTES, WORKED_EXAMPLE_SHOTS, WORKED_EXAMPLE_TEXT

# The recorder and warning log are cleared at the start of every example.
SETTINGS = settings(
    deadline=None,
    max_examples=150,
    suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow],
)


# --- the model pinned to known texts ----------------------------------------


def test_model_reproduces_two_shot_document():
    document = model.qir_labeled_output(WORKED_EXAMPLE_SHOTS, WORKED_EXAMPLE_ATTRIBUTES)
    assert document == (WORKED_EXAMPLE_TEXT, 0)


@pytest.mark.parametrize(
    "value, text",
    [
        (3.0, "3.0"),
        (-0.0, "-0.0"),
        (0.1, "0.1"),
        (1 / 3, "0.3333333333333333"),
        (1e-7, "0.0000001"),
        (1.5e-5, "0.000015"),
        (1e16, "10000000000000000.0"),
        (1e20, "100000000000000000000.0"),
        (2.0**63, "9223372036854776000.0"),
        (5e-324, "0." + "0" * 323 + "5"),
        (-123.25, "-123.25"),
        (float("-inf"), "-inf"),
        (-math.nan, "nan"),
    ],
)
def test_model_float_text(value, text):
    assert model.float_text(value) == text


class DictSub(dict):
    def items(self):
        return [("qir_profiles", "from items()")]

    def __iter__(self):
        return iter(["qir_profiles"])


@pytest.mark.parametrize(
    "shot, writes, warnings",
    [
        ([], [], 0),
        ([("USER:INT:a:b", 5)], ["OUTPUT\tINT\t5\ta:b\n"], 0),
        ([("USER:INT:", IntSub(5))], ["OUTPUT\tINT\t5\t\n"], 0),
        ([("USER::a", 5), ("USER:INT", 5), ("user:INT:a", 5), ("USER:DOUBLE:a", 1.5)], [], 0),
        (
            [("USER:UINT:a", -3), ("USER:FLOAT:a", FloatSub(0.5))],
            ["OUTPUT\tINT\t-3\ta\nOUTPUT\tDOUBLE\t0.5\ta\n"],
            0,
        ),
        ([("USER:INT:a", None), ("USER:BOOL:a", None)], [], 1),
        (
            [("USER:BOOL:a", 2), ("USER:BOOL:b", []), ("USER:BOOL:c", [0])],
            ["OUTPUT\tBOOL\ttrue\ta\nOUTPUT\tBOOL\tfalse\tb\nOUTPUT\tBOOL\ttrue\tc\n"],
            0,
        ),
        (
            [("USER:INT:a", True), ("USER:QIRARRAY:b", ListSub([1, 2.5]))],
            ["OUTPUT\tINT\tTrue\ta\nOUTPUT\tARRAY\t[1, 2.5]\tb\n"],
            0,
        ),
        ([("USER:INT:a", [[1]]), ("USER:QIRTUPLE:a", (1, 2)), ("USER:INT:a", 2**63)], [], 3),
        (
            [("USER:RESULT_ARRAY:a", [1, 0, True]), ("USER:RESULT_ARRAY:b", [])],
            ["OUTPUT\tRESULT_ARRAY\t101\ta\nOUTPUT\tRESULT_ARRAY\t\tb\n"],
            0,
        ),
        (
            [
                ("USER:RESULT_ARRAY:a", [2]),
                ("USER:RESULT_ARRAY:a", [1.0]),
                ("USER:RESULT_ARRAY:a", 1),
            ],
            [],
            3,
        ),
        (
            [None, ("USER:INT:a",), (b"USER:INT:a", 1), "USER:INT:a", ("USER:INT:a", 1, "extra")],
            ["OUTPUT\tINT\t1\ta\n"],
            0,
        ),
        (
            [{0: "USER:INT:a", 1: 7}, [StrSub("USER:INT:s"), -9223372036854775808]],
            ["OUTPUT\tINT\t7\ta\nOUTPUT\tINT\t-9223372036854775808\ts\n"],
            0,
        ),
    ],
)
def test_model_emits_shot(shot, writes, warnings):
    assert model.emit_values_in_shot(shot) == (writes, warnings)


@pytest.mark.parametrize(
    "attributes, values",
    [
        ({}, ["base_profile", "0", "0"]),
        ({"qir_profiles": None, "entry_point": "x", "QIR_PROFILES": "y"}, ["None", "0", "0"]),
        (
            {"required_num_qubits": 5, "required_num_results": 2.0, "qir_profiles ": "z"},
            ["base_profile", "5", "2.0"],
        ),
        (DictSub(required_num_qubits=""), ["base_profile", "", "0"]),
    ],
)
def test_model_metadata_block(attributes, values):
    keys = ["qir_profiles", "required_num_qubits", "required_num_results"]
    expected = "START\nMETADATA\tentry_point\n" + "".join(
        f"METADATA\t{key}\t{value}\n" for key, value in zip(keys, values)
    )
    assert model.first_shot_header(attributes) == ([expected], 0)


# --- generated inputs -------------------------------------------------------

UNKNOWN_RAW_TYPES = ["DOUBLE", "ARRAY", "TUPLE", "int", "Float", "bool", ""]
known_raw_types = st.sampled_from(list(model.QIR_TYPES))
raw_types = st.one_of(
    known_raw_types,
    known_raw_types,
    st.sampled_from(UNKNOWN_RAW_TYPES),
    st.text(max_size=5),
)
# Lone surrogates have no UTF-8 form; they are added only where they are wanted.
texts = st.text(
    alphabet=st.one_of(
        st.sampled_from("ab:\t\n é日\U0001f600"),
        st.characters().filter(lambda c: not "\ud800" <= c <= "\udfff"),
    ),
    max_size=8,
)
tags = st.one_of(texts, st.just("\udc80"), texts.map(StrSub))


def _double(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


# Sign, exponent and mantissa drawn apart, so that every binade turns up;
# a plain 64-bit integer draw stays near zero and all-ones.
double_bits = st.builds(
    lambda sign, exponent, mantissa: sign << 63 | exponent << 52 | mantissa,
    st.integers(0, 1),
    st.integers(0, 2047),
    st.integers(0, 2**52 - 1),
)
doubles = st.one_of(double_bits.map(_double), st.floats())
EDGE_SCALARS = [
    model.INT64_MIN - 1,
    model.INT64_MIN,
    model.INT64_MAX,
    model.INT64_MAX + 1,
    2**64,
    -(2**64),
    0,
    0.0,
    -0.0,
    math.nan,
    math.inf,
    -math.inf,
    1.0,
    True,
    False,
]
ints = st.one_of(st.integers(-2, 3), st.integers())
scalars = st.one_of(
    st.booleans(),
    ints,
    doubles,
    st.sampled_from(EDGE_SCALARS),
    ints.map(IntSub),
    doubles.map(FloatSub),
)
non_scalars = st.one_of(
    st.none(),
    st.text(max_size=3),
    st.binary(max_size=2),
    st.tuples(scalars),
    st.lists(scalars, max_size=2),
    st.just(1j),
    st.just({1: 2}),
)
BITS = [0, 1, True, False, IntSub(1), IntSub(0)]
bit_lists = st.lists(st.sampled_from(BITS), max_size=5)
almost_bit_lists = st.lists(
    st.sampled_from(BITS + [2, -1, 0.0, 1.0, IntSub(2)]), min_size=1, max_size=5
)
values = st.one_of(
    scalars,
    st.sampled_from(EDGE_SCALARS),
    bit_lists,
    almost_bit_lists,
    st.lists(scalars, max_size=4),
    st.lists(st.one_of(scalars, non_scalars), max_size=4),
    st.lists(scalars, max_size=4).map(ListSub),
    non_scalars,
)

user_keys = st.builds(lambda raw, tag: f"USER:{raw}:{tag}", raw_types, texts)
other_keys = st.one_of(
    st.builds(
        lambda prefix, raw, tag: f"{prefix}{raw}:{tag}",
        st.sampled_from(["SYS:", "user:", "USER", ""]),
        raw_types,
        texts,
    ),
    raw_types.map(lambda raw: "USER:" + raw),
    texts,
    st.just("USER:INT:\ud800"),
    user_keys.map(StrSub),
    st.binary(max_size=4),
    st.integers(0, 3),
)
keys = st.one_of(user_keys, user_keys, other_keys)
pairs = st.tuples(keys, values)
items = st.one_of(
    pairs,
    pairs,
    pairs.map(list),
    st.tuples(keys, values, st.integers()),
    st.builds(lambda key, value: {0: key, 1: value}, keys, values),
    st.tuples(keys),
    st.just(()),
    st.none(),
    texts,
)
# A str shot yields one-character items, all too short to be entries.
shots = st.one_of(
    st.lists(items, max_size=6), st.lists(items, max_size=6).map(tuple), st.text(max_size=3)
)

METADATA_KEYS = ["qir_profiles", "required_num_qubits", "required_num_results"]
attribute_keys = st.one_of(
    st.sampled_from(METADATA_KEYS + ["entry_point", "QIR_PROFILES", "qir_profiles "]),
    texts,
)
attribute_values = st.one_of(st.none(), texts, st.integers(), st.floats(), st.booleans(), scalars)
good_attributes = st.one_of(
    st.dictionaries(attribute_keys, attribute_values, max_size=5),
    st.dictionaries(attribute_keys, attribute_values, max_size=3).map(DictSub),
)
bad_attributes = st.sampled_from(
    [
        None,
        [],
        {1: "x"},
        {"qir_profiles": "a", b"k": "v"},
        types.MappingProxyType({}),
        {"\ud800": "x"},
    ]
)
attributes = st.one_of(good_attributes, good_attributes, good_attributes, bad_attributes)


# --- running both sides -----------------------------------------------------


def _raised(exc):
    return ("raised", type(exc), str(exc), [], 0)


def modelled(method, *args):
    try:
        writes, warnings = getattr(model, method)(*args)
    except Exception as exc:
        return _raised(exc)
    return ("ok", writes, warnings)


@pytest.fixture
def native(formatter, qo, warning_log):
    """Calls a formatter method and reports what it wrote, logged or raised."""

    def call(method, *args):
        qo.writes.clear()
        warning_log.records.clear()
        try:
            if method == "qir_labeled_output":
                document = formatter.qir_labeled_output(*args)
                assert type(document) is str
                writes = document
            else:
                getattr(formatter, method)(qo, *args)
                writes = list(qo.writes)
                assert all(type(text) is str for text in writes)
        except Exception as exc:
            return ("raised", type(exc), str(exc), list(qo.writes), warning_log.count)
        assert all(
            record.levelno == logging.WARNING and record.getMessage() == WARNING_TEXT
            for record in warning_log.records
        )
        return ("ok", writes, warning_log.count)

    return call


# --- properties -------------------------------------------------------------

ftypes = st.one_of(
    raw_types,
    known_raw_types.map(StrSub),
    st.none(),
    st.integers(),
    st.just(b"INT"),
    st.just("\ud800"),
)
emit_tags = st.one_of(tags, st.none(), st.integers(), st.binary(max_size=2))


@SETTINGS
@given(ftype=ftypes, tag=emit_tags, val=values)
def test_emit(native, ftype, tag, val):
    assert native("emit", ftype, tag, val) == modelled("emit", ftype, tag, val)


EDGE_VALUES = EDGE_SCALARS + [
    IntSub(1),
    IntSub(model.INT64_MAX + 1),
    FloatSub(math.nan),
    FloatSub(-0.0),
    [],
    [False],
    [0, 1, True],
    [IntSub(0)],
    [1.0],
    [0.0],
    [2],
    [-1],
    [[1]],
    [None],
    [model.INT64_MAX + 1],
    ListSub([1, 0]),
    ListSub(),
    (1, 0),
    (),
    None,
    "1",
    b"1",
    1j,
]


@pytest.mark.parametrize("raw_type", list(model.QIR_TYPES))
@pytest.mark.parametrize("val", EDGE_VALUES, ids=repr)
def test_emit_edge_values(native, raw_type, val):
    assert native("emit", raw_type, "t", val) == modelled("emit", raw_type, "t", val)


@pytest.mark.parametrize("raw_type", list(model.QIR_TYPES))
@pytest.mark.parametrize("val", EDGE_VALUES, ids=repr)
def test_shot_edge_values(native, raw_type, val):
    # The shot reader's scalar fast path, which types with a rule of their own must leave.
    shot = [(f"USER:{raw_type}:t", val), [f"USER:{raw_type}:l", val]]
    assert native("emit_values_in_shot", shot) == modelled("emit_values_in_shot", shot)


@pytest.mark.parametrize("raw_type", list(model.QIR_TYPES))
@SETTINGS
@given(tag=tags, val=values)
def test_emit_every_known_type(native, raw_type, tag, val):
    assert native("emit", raw_type, tag, val) == modelled("emit", raw_type, tag, val)


@SETTINGS
@given(shot=shots)
def test_emit_values_in_shot(native, shot):
    assert native("emit_values_in_shot", shot) == modelled("emit_values_in_shot", shot)


@SETTINGS
@given(shot=shots)
def test_write_shot(native, shot):
    assert native("write_shot", shot) == modelled("write_shot", shot)


@SETTINGS
@given(shot=shots, attrs=attributes)
def test_write_first_shot(native, shot, attrs):
    assert native("write_first_shot", shot, attrs) == modelled("write_first_shot", shot, attrs)


@SETTINGS
@given(attrs=attributes)
def test_first_shot_header(native, attrs):
    assert native("first_shot_header", attrs) == modelled("first_shot_header", attrs)


@pytest.mark.parametrize("method", ["results_header", "shot_footer"])
def test_fixed_records(native, method):
    assert native(method) == modelled(method)


class Declared:
    """Results whose len() need not match what iterating them yields."""

    def __init__(self, shots, length):
        self.shots, self.length = shots, length

    def __len__(self):
        return self.length

    def __iter__(self):
        return iter(self.shots)

    def __repr__(self):
        return f"Declared({self.shots!r}, length={self.length})"


result_sets = st.one_of(
    st.lists(shots, max_size=4),
    st.lists(shots, max_size=4).map(tuple),
    st.builds(Declared, st.lists(shots, max_size=2), st.integers(0, 3)),
)


@SETTINGS
@given(results=result_sets, attrs=attributes)
def test_qir_labeled_output(native, results, attrs):
    assert native("qir_labeled_output", results, attrs) == modelled(
        "qir_labeled_output", results, attrs
    )


@SETTINGS
@given(results=st.lists(shots, min_size=1, max_size=4), attrs=good_attributes)
def test_document_is_the_streamed_shots(native, results, attrs):
    status, document, warnings = native("qir_labeled_output", results, attrs)
    streamed = [native("results_header"), native("write_first_shot", results[0], attrs)]
    streamed += [native("write_shot", shot) for shot in results[1:]]
    assert status == "ok" and all(part[0] == "ok" for part in streamed)
    assert all(len(part[1]) == 1 for part in streamed)
    assert document == "".join(part[1][0] for part in streamed)
    assert warnings == sum(part[2] for part in streamed)


# Items whose reading raises: no len(), or a len() but no item access.
unreadable_items = st.one_of(st.integers(), st.just({1, 2}), st.just(object()))


@SETTINGS
@given(
    shot=st.lists(items, max_size=4),
    bad=unreadable_items,
    position=st.integers(0, 4),
    attrs=attributes,
    method=st.sampled_from(
        ["emit_values_in_shot", "write_shot", "write_first_shot", "qir_labeled_output"]
    ),
)
def test_unreadable_shot_raises(native, shot, bad, position, attrs, method):
    shot.insert(position, bad)
    args = {
        "emit_values_in_shot": (shot,),
        "write_shot": (shot,),
        "write_first_shot": (shot, attrs),
        "qir_labeled_output": ([[], shot], attrs),
    }[method]
    got = native(method, *args)
    assert got[0] == "raised"
    assert got == modelled(method, *args)


@SETTINGS
@given(
    type_str=st.one_of(st.sampled_from(["BOOL", "RESULT_ARRAY", "INT", "bool", ""]), texts),
    val=values,
)
def test_format_value(formatter, type_str, val):
    got = formatter.format_value(type_str, val)
    expected = model.format_value(type_str, val)
    if expected is val:
        assert got is val
    else:
        assert type(got) is type(expected) and got == expected


def test_float_layouts_around_the_point(native):
    """Every count of shortest digits against every place of the decimal point
    near them: before, among and after the digits, and past the range that
    the renderer lays out in registers, on both sides."""
    for count in range(1, 18):
        digits = "1234567890123456"[: count - 1] + "7"
        for point in range(-36, 24):
            x = float(f"0.{digits}e{point}")
            for value in (x, -x):
                _, writes, _ = native("emit", "FLOAT", "t", value)
                assert writes == [f"OUTPUT\tDOUBLE\t{model.float_text(value)}\tt\n"], (count, point)


@SETTINGS
@given(bits=st.one_of(double_bits, st.integers(0, 2**64 - 1)))
def test_float_value_field(native, bits):
    x = _double(bits)
    status, writes, warnings = native("emit", "FLOAT", "t", x)
    assert (status, warnings, len(writes)) == ("ok", 0, 1)
    kind, qir_type, text, tag = writes[0].split("\t")
    assert (kind, qir_type, tag) == ("OUTPUT", "DOUBLE", "t\n")
    assert text == model.float_text(x)
    assert "e" not in text and "+" not in text
    if math.isfinite(x):
        assert float(text) == x and math.copysign(1, float(text)) == math.copysign(1, x)
