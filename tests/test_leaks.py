"""Repeated calls, successful or failing, must leave no reference and no
memory behind.  `tools/refleak.py` runs the same cases under a debug
interpreter, where the total reference count is checked as well."""

import gc
import logging
import os
import sys

import pytest

from brevant import QirLabeledFormatter, format_columns, write_columns

from shared import LOGGER_NAME

F = QirLabeledFormatter()


class Sink:
    """An output object whose `write` returns one object kept for counting."""

    def __init__(self):
        self.result = ["".join(["write ", "result"])]

    def write(self, text):
        return self.result


class FailingSink:
    def write(self, text):
        raise ValueError("write refused " + text[:5])


class Item:
    def __init__(self, key, value):
        self.pair = (key, value)

    def __len__(self):
        return 2

    def __getitem__(self, index):
        return self.pair[index]


class FailingItem(Item):
    def __getitem__(self, index):
        raise KeyError(index)


class Shaped:
    """A result set read through len() and iteration."""

    def __init__(self, shots):
        self.shots = shots

    def __len__(self):
        return len(self.shots)

    def __iter__(self):
        return iter(self.shots)


class Loud:
    def __str__(self):
        return "loud" * 3


class Refusing:
    def __str__(self):
        raise RuntimeError("no text")


class Resizing:
    """Adds or removes one item of its dict each time, so the dict keeps its size across calls."""

    def __init__(self, d):
        self.d = d

    def __str__(self):
        if self.d.pop("marker", None) is None:
            self.d["marker"] = 1
        return "resized"


class Keywords(dict):
    """Arguments to pass by keyword, at the end of a case's arguments."""


def big(digits=12):
    # Run-time values: a folded constant is shared with every other caller.
    return int("1" + "0" * digits)


def key(raw_type, tag):
    # Built at run time, so that no code object or intern table shares it.
    return "".join(["USER:", raw_type, ":", tag])


def shot():
    return [
        (key("INT", "i"), big()),
        [key("FLOAT", "f"), float("7.5")],
        (key("BOOL", "b"), [0]),
        Item(key("RESULT_ARRAY", "r"), [1, 0, True]),
        {0: key("QIRARRAY", "a"), 1: [big(13), float("-1.5")]},
        (key("INT", "bad"), big(20)),  # skipped: a warning
        ("".join(["SYS:", "x"]), 1),
        None,
    ]


def columns(last_bit=1):
    """Two bit columns, written from their pieces unless a byte is no bit, and doubles."""
    return [
        (key("RESULT", "a"), bytes([0, 1, last_bit])),
        (key("BOOL", "b"), bytearray([1, 0, 7])),
        (key("FLOAT", "f"), memoryview(bytes(24)).cast("d")),
    ]


def attributes():
    return {
        "".join(["qir_", "profiles"]): Loud(),
        "".join(["required_num_", "qubits"]): big(9),
        "".join(["oth", "er"]): [float("1.5")],
    }


def resizing_attributes():
    d = {"".join(["k", "1"]): "v"}
    d["".join(["k", "2"])] = Resizing(d)
    return d


def without_logging(call):
    def run():
        saved = sys.modules["logging"]
        sys.modules["logging"] = None
        try:
            call()
        finally:
            sys.modules["logging"] = saved

    return run


def _panic_from_write():
    try:
        F.first_shot_header(Sink(), resizing_attributes())
    except BaseException as error:
        panic = type(error)

    class PanickingSink:
        def write(self, text):
            raise panic("".join(["from ", "write"]))

    return PanickingSink()


# name -> (method, arguments, exception name or None). Each argument list is
# built once per case, so its objects can be counted.
CASES = {
    "new": (QirLabeledFormatter, lambda: (), None),
    "new, surplus": (QirLabeledFormatter, lambda: (Sink(),), TypeError),
    "_val_null": (F._val_null, lambda: (key("INT", "t"), [1]), None),
    "_val_tag_type": (F._val_tag_type, lambda: ([1], key("INT", "t")), None),
    "validate_tag_and_value": (F.validate_tag_and_value, lambda: (key("INT", "t"), big(10)), None),
    "format_value, text": (F.format_value, lambda: ("".join(["BO", "OL"]), [3]), None),
    "format_value, unchanged": (F.format_value, lambda: ("".join(["IN", "T"]), big()), None),
    "format_value, rejected": (F.format_value, lambda: ("".join(["RESULT_", "ARRAY"]), [2]), None),
    "format_value, non-str type": (F.format_value, lambda: ([1], big()), TypeError),
    "format_value, surrogate type": (F.format_value, lambda: ("\ud800" + "x", [1]), UnicodeEncodeError),
    "results_header": (F.results_header, lambda: (Sink(),), None),
    "shot_footer": (F.shot_footer, lambda: (Sink(),), None),
    "first_shot_header": (F.first_shot_header, lambda: (Sink(), attributes()), None),
    "emit": (F.emit, lambda: (Sink(), "".join(["IN", "T"]), key("t", "t"), [big()]), None),
    "emit, skipped": (F.emit, lambda: (Sink(), "".join(["IN", "T"]), key("t", "t"), {1: 2}), None),
    "emit, missing": (F.emit, lambda: (Sink(), Keywords(val=[1])), TypeError),
    "emit, by keyword": (F.emit, lambda: (Keywords(val=[1], tag=key("t", "t"), ftype="".join("INT"), qo=Sink()),), None),
    "emit, surplus": (F.emit, lambda: (Sink(), 1, 2, 3, [4]), TypeError),
    "write_shot": (F.write_shot, lambda: (Sink(), shot()), None),
    "write_shot, tuple": (F.write_shot, lambda: (Sink(), tuple(shot())), None),
    "write_shot, bad item": (F.write_shot, lambda: (Sink(), shot() + [big()]), TypeError),
    "write_shot, item raising": (F.write_shot, lambda: (Sink(), shot() + [FailingItem(1, 2)]), KeyError),
    "write_shot, not iterable": (F.write_shot, lambda: (Sink(), big()), TypeError),
    "write_shot, write raising": (F.write_shot, lambda: (FailingSink(), shot()), ValueError),
    "write_shot, no write": (F.write_shot, lambda: ([1], shot()), AttributeError),
    "write_shot, no logging": (F.write_shot, lambda: (Sink(), shot()), ImportError),
    "write_shot, panic from write": (F.write_shot, lambda: (_panic_from_write(), shot()), "PanicException"),
    "write_first_shot": (F.write_first_shot, lambda: (Sink(), shot(), attributes()), None),
    "write_first_shot, None attributes": (F.write_first_shot, lambda: (Sink(), shot(), None), TypeError),
    "write_first_shot, str raising": (
        F.write_first_shot,
        lambda: (Sink(), shot(), {"".join(["x", "y"]): Refusing()}),
        RuntimeError,
    ),
    "write_first_shot, key not str": (F.write_first_shot, lambda: (Sink(), shot(), {big(): 1}), TypeError),
    "write_first_shot, surrogate key": (F.write_first_shot, lambda: (Sink(), shot(), {"\ud800" + "k": 1}), UnicodeEncodeError),
    "first_shot_header, resized": (F.first_shot_header, lambda: (Sink(), resizing_attributes()), "PanicException"),
    "emit_values_in_shot": (F.emit_values_in_shot, lambda: (Sink(), shot()), None),
    "emit_values_in_shot, unknown keyword": (
        F.emit_values_in_shot,
        lambda: (Sink(), Keywords(shot_=shot())),
        TypeError,
    ),
    "shot_footer, duplicate": (F.shot_footer, lambda: (Sink(), Keywords(qo=Sink())), TypeError),
    "qir_labeled_output": (F.qir_labeled_output, lambda: ([shot(), shot()], attributes()), None),
    "qir_labeled_output, shaped": (F.qir_labeled_output, lambda: (Shaped([shot(), tuple(shot())]), attributes()), None),
    "qir_labeled_output, no length": (F.qir_labeled_output, lambda: (iter([shot()]), attributes()), TypeError),
    "qir_labeled_output, bad last shot": (F.qir_labeled_output, lambda: ([shot(), [big()]], attributes()), TypeError),
    "qir_labeled_output, bad attributes": (F.qir_labeled_output, lambda: ([shot()], [attributes()]), TypeError),
    "qir_labeled_output, no logging": (F.qir_labeled_output, lambda: ([shot()], attributes()), ImportError),
    "format_columns, bits": (format_columns, lambda: (columns()[:2], attributes()), None),
    "format_columns, a byte no bit": (format_columns, lambda: (columns(last_bit=2)[:2],), None),
    "format_columns, bits and doubles": (format_columns, lambda: (columns(),), None),
    "format_columns, shots differ": (format_columns, lambda: (columns() + [(key("INT", "n"), bytes(2))],), ValueError),
    "write_columns": (write_columns, lambda: (Sink(), columns(), attributes()), None),
}


def contents(obj, seen=None):
    """`obj` and every object reachable through its containers and pairs,
    except the interpreter's shared ones, which other code counts too."""
    seen = {} if seen is None else seen
    shared = (
        sys.getrefcount(obj) > 10**6  # immortal on 3.12+
        or (type(obj) is tuple and not obj) or obj in (None, True, False)  # shared, not immortal before 3.12
        or (type(obj) is int and -5 <= obj <= 256)
    )
    if id(obj) in seen or shared:
        return seen
    seen[id(obj)] = obj
    inner = ()
    if isinstance(obj, (list, tuple)):
        inner = obj
    elif isinstance(obj, dict):
        inner = [*obj.keys(), *obj.values()]
    elif isinstance(obj, (Item, Shaped, Sink)):
        inner = vars(obj).values()
    for child in inner:
        contents(child, seen)
    return seen


def make_call(name):
    """The case's zero-argument call and the objects whose counts must not move."""
    method, build, raises = CASES[name]
    args, kwargs = build(), {}
    if args and isinstance(args[-1], Keywords):
        args, kwargs = args[:-1], args[-1]

    def call():
        try:
            method(*args, **kwargs)
        except BaseException as error:
            expected = type(error).__name__ == raises if isinstance(raises, str) else isinstance(error, raises or ())
            if not expected:
                raise
        else:
            assert raises is None, name + " did not raise " + str(raises)

    if name.endswith("no logging"):
        call = without_logging(call)
    return call, list(contents((args, kwargs)).values())


def total_refs():
    return sys.gettotalrefcount() if hasattr(sys, "gettotalrefcount") else 0


def leak_figures(call, rounds=3, calls=100):
    """Per round of `calls` calls after a warm-up: growth of allocated blocks
    and of the interpreter's total reference count (0 without a debug build)."""
    for _ in range(calls):
        call()
    marks = [(0, 0)] * (rounds + 1)
    for r in range(rounds + 1):
        gc.collect()
        marks[r] = (sys.getallocatedblocks(), total_refs())
        if r < rounds:
            for _ in range(calls):
                call()
    return [(after[0] - before[0], after[1] - before[1]) for before, after in zip(marks, marks[1:])]


def leaked(figures, calls=100):
    """A leak grows every round by about one per call; noise does not."""
    return min(blocks for blocks, _ in figures) >= calls // 4 or min(refs for _, refs in figures) >= calls // 4


class QuietLog:
    """Records kept by any capturing handler would look like a leak."""

    def __enter__(self):
        self.logger = logging.getLogger(LOGGER_NAME)
        self.saved = self.logger.handlers, self.logger.propagate
        self.logger.handlers, self.logger.propagate = [logging.NullHandler()], False

    def __exit__(self, *_):
        self.logger.handlers, self.logger.propagate = self.saved


@pytest.mark.parametrize("name", CASES)
def test_repeated_calls_leave_nothing_behind(name):
    call, tracked = make_call(name)
    counts = [sys.getrefcount(obj) for obj in tracked]
    with QuietLog():
        figures = leak_figures(call)
    assert [sys.getrefcount(obj) for obj in tracked] == counts
    assert not leaked(figures), figures


def test_leak_detection_sees_a_leak():
    hoard = []
    assert leaked(leak_figures(lambda: hoard.append(object())))
    assert not leaked(leak_figures(lambda: [object()]))
    if hasattr(sys, "gettotalrefcount"):
        # A reference to a living object changes no block count, only the total.
        assert leaked(leak_figures(lambda: hoard.append(None)))


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
def test_resident_memory_stays_flat():
    results = [shot()[:5] * 4 for _ in range(300)]
    attrs = attributes()
    for _ in range(20):
        text = F.qir_labeled_output(results, attrs)
    before = resident_bytes()
    for _ in range(300):
        text = F.qir_labeled_output(results, attrs)
    growth = resident_bytes() - before
    # One leaked document per call would be more than 25 MB here.
    assert len(text) * 300 > 25 * 2**20
    assert growth < 4 * 2**20, growth
