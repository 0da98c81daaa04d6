"""How values are classified and what text they get: `format_value` and the
value field of OUTPUT records."""

import decimal
import enum
import fractions

import pytest

from shared import FloatSub, IntSub, ListSub, StrSub


class Color(enum.IntEnum):
    RED = 7
    OFF = 0
    ON = 1


class Indexable:
    """Not an int, although it converts to one."""

    def __index__(self):
        return 1

    def __float__(self):
        return 1.0


NAN = float("nan")
INF = float("inf")

FORMAT_VALUE_TEXT = [
    # BOOL: truthiness of the classified value, lower case.
    ("BOOL", True, "true"),
    ("BOOL", False, "false"),
    ("BOOL", 0, "false"),
    ("BOOL", 2, "true"),
    ("BOOL", -1, "true"),
    ("BOOL", 2**63 - 1, "true"),
    ("BOOL", -(2**63), "true"),
    ("BOOL", 0.0, "false"),
    ("BOOL", -0.0, "false"),
    ("BOOL", NAN, "true"),
    ("BOOL", -NAN, "true"),
    ("BOOL", INF, "true"),
    ("BOOL", -INF, "true"),
    ("BOOL", 5e-324, "true"),
    ("BOOL", [], "false"),
    ("BOOL", [False], "true"),
    ("BOOL", [0, 0.0], "true"),
    ("BOOL", ListSub(), "false"),
    ("BOOL", ListSub([0]), "true"),
    ("BOOL", IntSub(0), "false"),
    ("BOOL", IntSub(3), "true"),
    ("BOOL", FloatSub(0.0), "false"),
    ("BOOL", FloatSub(0.25), "true"),
    ("BOOL", Color.OFF, "false"),
    ("BOOL", Color.RED, "true"),
    # Values with no classification are never truthy, whatever Python thinks.
    ("BOOL", None, "false"),
    ("BOOL", "", "false"),
    ("BOOL", "x", "false"),
    ("BOOL", "True", "false"),
    ("BOOL", b"1", "false"),
    ("BOOL", (1,), "false"),
    ("BOOL", {"a": 1}, "false"),
    ("BOOL", {1}, "false"),
    ("BOOL", 1j, "false"),
    ("BOOL", 2**63, "false"),
    ("BOOL", -(2**63) - 1, "false"),
    ("BOOL", 2**64, "false"),
    ("BOOL", [None], "false"),
    ("BOOL", [1, "x"], "false"),
    ("BOOL", [[1]], "false"),
    ("BOOL", [1, (1,)], "false"),
    ("BOOL", [2**63], "false"),
    ("BOOL", decimal.Decimal(1), "false"),
    ("BOOL", fractions.Fraction(1, 2), "false"),
    ("BOOL", Indexable(), "false"),
    ("BOOL", object(), "false"),
    # RESULT_ARRAY: one bit per item, no separator.
    ("RESULT_ARRAY", [True, 0, 1], "101"),
    ("RESULT_ARRAY", [], ""),
    ("RESULT_ARRAY", [False, True, True, False], "0110"),
    ("RESULT_ARRAY", [0, 0, 0], "000"),
    ("RESULT_ARRAY", ListSub([1, 0]), "10"),
    ("RESULT_ARRAY", [Color.ON, Color.OFF], "10"),
    ("RESULT_ARRAY", [IntSub(1), IntSub(0)], "10"),
    ("RESULT_ARRAY", [1, 2], None),
    ("RESULT_ARRAY", [-1], None),
    ("RESULT_ARRAY", [1.0], None),
    ("RESULT_ARRAY", [0.0], None),
    ("RESULT_ARRAY", [1, None], None),
    ("RESULT_ARRAY", [[1]], None),
    ("RESULT_ARRAY", [Color.RED], None),
    ("RESULT_ARRAY", (1, 0), None),
    ("RESULT_ARRAY", 1, None),
    ("RESULT_ARRAY", True, None),
    ("RESULT_ARRAY", 0.0, None),
    ("RESULT_ARRAY", None, None),
    ("RESULT_ARRAY", "10", None),
    ("RESULT_ARRAY", [2**64], None),
    # The type text is matched exactly, and a str subclass is still a type text.
    (StrSub("BOOL"), 1, "true"),
    (StrSub("RESULT_ARRAY"), [1, 1], "11"),
]


@pytest.mark.parametrize(("type_str", "val", "expected"), FORMAT_VALUE_TEXT)
def test_format_value_special_types(formatter, type_str, val, expected):
    result = formatter.format_value(type_str, val)
    if expected is None:
        assert result is None
    else:
        assert type(result) is str
        assert result == expected


# Only the whole, exact texts "BOOL" and "RESULT_ARRAY" have special rules.
UNCHANGED_TYPES = [
    "INT", "DOUBLE", "RESULT", "ARRAY", "bool", "Bool", "BOOL ", " BOOL",
    "result_array", "RESULT_ARRAY\n", "BOOL\x00", "RESULT_ARRAY\x00", "",
]
UNCHANGED_VALUES = [None, 5, 2**100, 1.5, NAN, "x", [1, None], [1, 0], (1, 0), True,
                    ListSub([1]), object()]


@pytest.mark.parametrize("type_str", UNCHANGED_TYPES)
@pytest.mark.parametrize("val", UNCHANGED_VALUES, ids=repr)
def test_format_value_returns_the_very_object_for_other_types(formatter, type_str, val):
    assert formatter.format_value(type_str, val) is val


def test_format_value_neither_writes_nor_logs(formatter, warning_log):
    assert formatter.format_value("RESULT_ARRAY", [5]) is None
    assert formatter.format_value("BOOL", None) == "false"
    assert warning_log.count == 0


@pytest.mark.parametrize(
    ("val", "expected"),
    [
        # Storage decides, never the overridden protocol methods.
        (ListSub([1, 0, True]), "101"),
        (ListSub(), ""),
    ],
)
def test_list_subclass_read_from_storage_as_bits(formatter, val, expected):
    assert formatter.format_value("RESULT_ARRAY", val) == expected


def test_list_subclass_read_from_storage_for_truthiness(formatter):
    # len() says 0, but two items are stored.
    assert formatter.format_value("BOOL", ListSub([0, 0])) == "true"


def record(qir_type, text, tag="t"):
    return f"OUTPUT\t{qir_type}\t{text}\t{tag}\n"


# The decimal text of doubles: shortest round-trip digits, laid out positionally.
FLOAT_TEXT = [
    (3.0, "3.0"),
    (0.0, "0.0"),
    (-0.0, "-0.0"),
    (0.5, "0.5"),
    (-1.5, "-1.5"),
    (0.1, "0.1"),
    (0.1 + 0.2, "0.30000000000000004"),
    (1 / 3, "0.3333333333333333"),
    (-2 / 3, "-0.6666666666666666"),
    (1e-7, "0.0000001"),
    (-1e-7, "-0.0000001"),
    (1.5e-5, "0.000015"),
    (1e-4, "0.0001"),
    (9.999999999999999e-05, "0.00009999999999999999"),
    (0.00010000000000000002, "0.00010000000000000002"),
    (1e-30, "0." + "0" * 29 + "1"),
    (9.999999999999999e-31, "0." + "0" * 30 + "9999999999999999"),
    (123.0, "123.0"),
    (1234.5678, "1234.5678"),
    (2251799813685248.5, "2251799813685248.5"),
    (9007199254740993.0, "9007199254740992.0"),
    (1e15, "1000000000000000.0"),
    (4503599627370495.5, "4503599627370495.5"),
    (9999999999999998.0, "9999999999999998.0"),
    (1e16, "10000000000000000.0"),
    (1.0000000000000002e16, "10000000000000002.0"),
    (1e20, "100000000000000000000.0"),
    (1e22, "10000000000000000000000.0"),
    (2.0**63, "9223372036854776000.0"),
    (-(2.0**63), "-9223372036854776000.0"),
    (INF, "inf"),
    (-INF, "-inf"),
    (NAN, "nan"),
    (-NAN, "nan"),
    (5e-324, "0." + "0" * 323 + "5"),
    (1e-323, "0." + "0" * 322 + "1"),
    (1.7976931348623157e308, "17976931348623157" + "0" * 292 + ".0"),
    (FloatSub(2.5), "2.5"),
]


@pytest.mark.parametrize(("x", "text"), FLOAT_TEXT, ids=[t[1][:24] for t in FLOAT_TEXT])
def test_float_text(formatter, qo, warning_log, x, text):
    formatter.emit(qo, "FLOAT", "t", x)
    assert qo.writes == [record("DOUBLE", text)]
    assert warning_log.count == 0


INT_TEXT = [
    (0, "0"),
    (7, "7"),
    (-12, "-12"),
    (2**63 - 1, "9223372036854775807"),
    (-(2**63), "-9223372036854775808"),
    (IntSub(5), "5"),
    (Color.RED, "7"),
    (True, "True"),
    (False, "False"),
]


@pytest.mark.parametrize(("x", "text"), INT_TEXT)
def test_int_text(formatter, qo, warning_log, x, text):
    formatter.emit(qo, "INT", "t", x)
    assert qo.writes == [record("INT", text)]
    assert warning_log.count == 0


@pytest.mark.parametrize("x", [2**63, -(2**63) - 1, 2**64, -(2**100), IntSub(2**63)])
def test_int_outside_64_bits_is_malformed(formatter, qo, warning_log, x):
    formatter.emit(qo, "INT", "t", x)
    assert qo.writes == []
    assert warning_log.count == 1


# The value field does not depend on whether type and value kind agree.
VALUE_FIELD = [
    ("INT", 2.0, record("INT", "2.0")),
    ("FLOAT", 5, record("DOUBLE", "5")),
    ("RESULT", True, record("RESULT", "True")),
    ("BOOL", True, record("BOOL", "true")),
    ("QIRARRAY", 7, record("ARRAY", "7")),
    ("QIRARRAY", [1, True, 2.5, 3.0], record("ARRAY", "[1, True, 2.5, 3.0]")),
    ("QIRARRAY", [], record("ARRAY", "[]")),
    ("QIRARRAY", [-0.0, NAN, -INF, 1e16], record("ARRAY", "[-0.0, nan, -inf, 10000000000000000.0]")),
    ("QIRARRAY", [-(2**63)], record("ARRAY", "[-9223372036854775808]")),
    ("QIRARRAY", ListSub([1, 2]), record("ARRAY", "[1, 2]")),
    ("QIRTUPLE", [False], record("TUPLE", "[False]")),
    ("INT", [IntSub(3), FloatSub(0.5)], record("INT", "[3, 0.5]")),
]


@pytest.mark.parametrize(("raw_type", "val", "expected"), VALUE_FIELD)
def test_value_field(formatter, qo, warning_log, raw_type, val, expected):
    formatter.emit(qo, raw_type, "t", val)
    assert qo.writes == [expected]
    assert warning_log.count == 0


@pytest.mark.parametrize(
    "val",
    [
        [1, [2]],
        [None],
        [1, 2**63],
        [1.0, "x"],
        (1, 2),
        None,
        "5",
        b"5",
        1j,
        decimal.Decimal("1.5"),
        Indexable(),
    ],
    ids=repr,
)
def test_unclassifiable_value_is_malformed_as_a_whole(formatter, qo, warning_log, val):
    formatter.emit(qo, "QIRARRAY", "t", val)
    assert qo.writes == []
    assert warning_log.count == 1
