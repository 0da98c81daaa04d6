"""OUTPUT records from `emit` and `emit_values_in_shot`: what is written, what is
counted as a malformed value, and what is dropped without a word."""

import pytest

from shared import WARNING_TEXT, Boom, StrSub


class Probe:
    """A two-element item that fails if element 1 is ever fetched."""

    def __init__(self, key):
        self.key = key

    def __len__(self):
        return 2

    def __getitem__(self, index):
        if index == 0:
            return self.key
        raise AssertionError("element 1 fetched for a skipped item")


class BadLen:
    def __init__(self, exc):
        self.exc = exc

    def __len__(self):
        raise self.exc


class BadItem:
    """Length 2, but element `index` raises."""

    def __init__(self, index, exc):
        self.index, self.exc = index, exc

    def __len__(self):
        return 2

    def __getitem__(self, index):
        if index == self.index:
            raise self.exc
        return "USER:INT:a" if index == 0 else 1


def failing_after(items, exc):
    yield from items
    raise exc


# (shot, texts handed to qo.write, warnings)
SHOTS = [
    ([], [], 0),
    ([("USER:INT:a", 5)], ["OUTPUT\tINT\t5\ta\n"], 0),
    ([("USER:INT:", 5)], ["OUTPUT\tINT\t5\t\n"], 0),
    ([("USER:INT:a:b", 5)], ["OUTPUT\tINT\t5\ta:b\n"], 0),
    ([("USER:RESULT:r0", 0)], ["OUTPUT\tRESULT\t0\tr0\n"], 0),
    ([("USER:UINT:a", -3)], ["OUTPUT\tINT\t-3\ta\n"], 0),
    ([("USER:FLOAT:a", 1.5)], ["OUTPUT\tDOUBLE\t1.5\ta\n"], 0),
    ([("USER:QIRARRAY:a", [3, 4])], ["OUTPUT\tARRAY\t[3, 4]\ta\n"], 0),
    ([("USER:QIRTUPLE:a", [1, 2.5])], ["OUTPUT\tTUPLE\t[1, 2.5]\ta\n"], 0),
    ([("USER:INT:a", True)], ["OUTPUT\tINT\tTrue\ta\n"], 0),
    ([("USER:BOOL:a", True)], ["OUTPUT\tBOOL\ttrue\ta\n"], 0),
    ([("USER:BOOL:a", 2)], ["OUTPUT\tBOOL\ttrue\ta\n"], 0),
    ([("USER:BOOL:a", 0)], ["OUTPUT\tBOOL\tfalse\ta\n"], 0),
    ([("USER:BOOL:a", [])], ["OUTPUT\tBOOL\tfalse\ta\n"], 0),
    ([("USER:BOOL:a", [0])], ["OUTPUT\tBOOL\ttrue\ta\n"], 0),
    ([("USER:INT:a", [1, 2])], ["OUTPUT\tINT\t[1, 2]\ta\n"], 0),
    ([("USER:RESULT_ARRAY:a", [1, 0, True])], ["OUTPUT\tRESULT_ARRAY\t101\ta\n"], 0),
    ([("USER:RESULT_ARRAY:a", [])], ["OUTPUT\tRESULT_ARRAY\t\ta\n"], 0),
    ([("USER:INT:a\tb", 1)], ["OUTPUT\tINT\t1\ta\tb\n"], 0),
    ([("USER:INT:a\nb", 1)], ["OUTPUT\tINT\t1\ta\nb\n"], 0),
    ([("USER:INT:\u00e9\u2603\U0001f600", 1)], ["OUTPUT\tINT\t1\t\u00e9\u2603\U0001f600\n"], 0),
    ([(StrSub("USER:INT:s"), 1)], ["OUTPUT\tINT\t1\ts\n"], 0),
    ([("USER:INT:a\x00b", 1)], ["OUTPUT\tINT\t1\ta\x00b\n"], 0),
    ([("USER:INT\x00:a", 1)], [], 0),
    ([("USER\x00:INT:a", 1)], [], 0),
    # Not user values, or no row for the raw type: dropped, not counted.
    ([("USER::a", 5)], [], 0),
    ([("USER:INT", 5)], [], 0),
    ([("USER:", 5)], [], 0),
    ([("USER", 5)], [], 0),
    ([("", 5)], [], 0),
    ([("user:INT:a", 5)], [], 0),
    ([("SYS:INT:a", 5)], [], 0),
    ([("USERS:INT:a", 5)], [], 0),
    ([(" USER:INT:a", 5)], [], 0),
    ([("USER:DOUBLE:a", 1.5)], [], 0),
    ([("USER:ARRAY:a", [1])], [], 0),
    ([("USER:TUPLE:a", [1])], [], 0),
    ([("USER:int:a", 1)], [], 0),
    ([("USER:Float:a", 1.5)], [], 0),
    ([("USER:INT :a", 1)], [], 0),
    ([("USER:USER:INT:a", 1)], [], 0),
    ([("USER:NOPE:a", None)], [], 0),
    # Unreadable values under a known type: counted, never written.
    ([("USER:INT:a", None)], [], 1),
    ([("USER:INT:a", "5")], [], 1),
    ([("USER:INT:a", 2**63)], [], 1),
    ([("USER:INT:a", [[1]])], [], 1),
    ([("USER:QIRTUPLE:a", (1, 2))], [], 1),
    ([("USER:RESULT_ARRAY:a", [2])], [], 1),
    ([("USER:RESULT_ARRAY:a", [1.0])], [], 1),
    ([("USER:RESULT_ARRAY:a", 1)], [], 1),
    ([("USER:RESULT_ARRAY:a", None)], [], 1),
    # Under BOOL an unreadable value is dropped without a count.
    ([("USER:BOOL:a", None)], [], 0),
    ([("USER:BOOL:a", "x")], [], 0),
    ([("USER:BOOL:a", [None])], [], 0),
    # Items that are not entries are dropped; their neighbours are emitted.
    ([None, ("USER:INT:a", 1)], ["OUTPUT\tINT\t1\ta\n"], 0),
    ([("USER:INT:a",), ("USER:INT:b", 2)], ["OUTPUT\tINT\t2\tb\n"], 0),
    ([(), ("USER:INT:b", 2)], ["OUTPUT\tINT\t2\tb\n"], 0),
    ([(b"USER:INT:a", 1), ("USER:INT:b", 2)], ["OUTPUT\tINT\t2\tb\n"], 0),
    ([(None, 1), (5, 1)], [], 0),
    ([Probe(b"USER:INT:a")], [], 0),
    ([Probe("USER:INT:\ud800")], [], 0),
    ([("USER:INT:\ud800", 1), ("USER:INT:b", 2)], ["OUTPUT\tINT\t2\tb\n"], 0),
    ([("USER:INT:a", 1, "extra")], ["OUTPUT\tINT\t1\ta\n"], 0),
    (["USER:INT:a"], [], 0),
    ("USER:INT:a", [], 0),
    ([{0: "USER:INT:a", 1: 7}], ["OUTPUT\tINT\t7\ta\n"], 0),
    ([["USER:INT:a", 7]], ["OUTPUT\tINT\t7\ta\n"], 0),
    ((("USER:INT:a", 7),), ["OUTPUT\tINT\t7\ta\n"], 0),
    (iter([("USER:INT:a", 7)]), ["OUTPUT\tINT\t7\ta\n"], 0),
    # Many records, one write; each malformed value counts once.
    (
        [("USER:RESULT:r0", 0), ("USER:INT:bad", None), ("USER:FLOAT:e", -1.5),
         ("USER:RESULT_ARRAY:bad", [3]), ("SYS:INT:x", None), ("USER:BOOL:ok", 1)],
        ["OUTPUT\tRESULT\t0\tr0\nOUTPUT\tDOUBLE\t-1.5\te\nOUTPUT\tBOOL\ttrue\tok\n"],
        2,
    ),
    ([("USER:INT:a", None), ("USER:INT:a", None), ("USER:INT:a", None)], [], 3),
]


@pytest.mark.parametrize(("shot", "writes", "warnings"), SHOTS)
def test_emit_values_in_shot(formatter, qo, warning_log, shot, writes, warnings):
    assert formatter.emit_values_in_shot(qo, shot) is None
    assert qo.writes == writes
    assert warning_log.count == warnings


# (ftype, tag, val, texts handed to qo.write, warnings)
EMITS = [
    ("INT", "a", 5, ["OUTPUT\tINT\t5\ta\n"], 0),
    ("UINT", "u", -3, ["OUTPUT\tINT\t-3\tu\n"], 0),
    ("RESULT", "r", True, ["OUTPUT\tRESULT\tTrue\tr\n"], 0),
    ("QIRTUPLE", "t", [1, 2], ["OUTPUT\tTUPLE\t[1, 2]\tt\n"], 0),
    ("RESULT_ARRAY", "b", [], ["OUTPUT\tRESULT_ARRAY\t\tb\n"], 0),
    ("BOOL", "ok", [False], ["OUTPUT\tBOOL\ttrue\tok\n"], 0),
    ("INT", "", 1, ["OUTPUT\tINT\t1\t\n"], 0),
    ("INT", "a:b\tc", 1, ["OUTPUT\tINT\t1\ta:b\tc\n"], 0),
    ("INT", "\u00e9", 1, ["OUTPUT\tINT\t1\t\u00e9\n"], 0),
    (StrSub("INT"), StrSub("s"), 1, ["OUTPUT\tINT\t1\ts\n"], 0),
    ("INT", "a\x00", 1, ["OUTPUT\tINT\t1\ta\x00\n"], 0),
    ("INT\x00", "a", 1, [], 0),
    ("BOOL\x00", "a", None, [], 0),
    # A type without a row: nothing, even for an unreadable value.
    (5, "a", 5, [], 0),
    (None, "a", None, [], 0),
    (b"INT", "a", 5, [], 0),
    ("\ud800", "a", None, [], 0),
    ("DOUBLE", "a", 1.5, [], 0),
    ("", "a", 1, [], 0),
    ("int", "a", 1, [], 0),
    # No usable tag: nothing written, but an unreadable value still counts.
    ("INT", None, 5, [], 0),
    ("INT", 5, 5, [], 0),
    ("INT", b"a", 5, [], 0),
    ("INT", "\ud800", 5, [], 0),
    ("INT", None, None, [], 1),
    ("INT", "\ud800", None, [], 1),
    ("RESULT_ARRAY", None, [2], [], 1),
    ("BOOL", None, None, [], 0),
    ("BOOL", None, 1, [], 0),
    # Unreadable values with a tag.
    ("QIRTUPLE", "t", (1, 2), [], 1),
    ("BOOL", "a", None, [], 0),
    ("FLOAT", "x", "1.5", [], 1),
]


@pytest.mark.parametrize(("ftype", "tag", "val", "writes", "warnings"), EMITS)
def test_emit(formatter, qo, warning_log, ftype, tag, val, writes, warnings):
    assert formatter.emit(qo, ftype, tag, val) is None
    assert qo.writes == writes
    assert warning_log.count == warnings


# Shots that cannot be read: (shot, exception type)
BAD_SHOTS = [
    (5, TypeError),
    (None, TypeError),
    ([5], TypeError),
    ([0], TypeError),
    ([("USER:INT:a", 1), False], TypeError),
    ([("USER:INT:a", 1), 5], TypeError),
    ([("USER:INT:a", None), 5], TypeError),
    ([("USER:INT:a", 1), {"x": 1, "y": 2}], KeyError),
    ([("USER:INT:a", 1), {0: "USER:INT:b", 2: 1}], KeyError),
    ([("USER:INT:a", 1), BadItem(1, IndexError("gone"))], IndexError),
    ([BadItem(0, LookupError("gone"))], LookupError),
    ([BadLen(ValueError("no length"))], ValueError),
    (failing_after([("USER:INT:a", 1), ("USER:INT:b", None)], RuntimeError("mid")), RuntimeError),
]


@pytest.mark.parametrize(("shot", "exc_type"), BAD_SHOTS)
def test_unreadable_shot_raises_writes_and_logs_nothing(formatter, qo, warning_log, shot, exc_type):
    with pytest.raises(exc_type):
        formatter.emit_values_in_shot(qo, shot)
    assert qo.writes == []
    assert warning_log.count == 0


@pytest.mark.parametrize(
    "make_shot",
    [
        lambda exc: [("USER:INT:a", 1), BadLen(exc)],
        lambda exc: [BadItem(0, exc)],
        lambda exc: [BadItem(1, exc)],
        lambda exc: failing_after([("USER:INT:a", 1)], exc),
    ],
)
def test_shot_error_is_the_very_exception(formatter, qo, make_shot):
    exc = Boom("shot")
    with pytest.raises(Boom) as info:
        formatter.emit_values_in_shot(qo, make_shot(exc))
    assert info.value is exc
    assert qo.writes == []


class CountingAtWrite:
    """Notes how many warnings had been logged when each text arrived."""

    def __init__(self, warning_log):
        self.warning_log, self.writes = warning_log, []

    def write(self, text):
        self.writes.append((self.warning_log.count, text))


@pytest.mark.parametrize(
    ("call", "text"),
    [
        (
            lambda f, qo: f.emit_values_in_shot(
                qo, [("USER:INT:a", None), ("USER:INT:b", 2), ("USER:RESULT_ARRAY:c", [2])]
            ),
            "OUTPUT\tINT\t2\tb\n",
        ),
        (
            lambda f, qo: f.write_shot(qo, [("USER:INT:a", None), ("USER:INT:b", 2), ("USER:INT:c", "x")]),
            "START\nOUTPUT\tINT\t2\tb\nEND\t0\n",
        ),
    ],
)
def test_warnings_come_before_the_single_write(formatter, warning_log, call, text):
    qo = CountingAtWrite(warning_log)
    call(formatter, qo)
    assert qo.writes == [(2, text)]
    assert [r.getMessage() for r in warning_log.records] == [WARNING_TEXT, WARNING_TEXT]
