"""Caller objects that fight back: protocol methods that raise, answer
nonsense, give up the interpreter lock, call the formatter again or change the
container being read.  Every case must end in an exception or a text, never a
crash, and leave the formatter usable."""

import logging
import subprocess
import sys
import threading
import time

import pytest

import model
from shared import LOGGER_NAME, RESULTS_HEADER, Boom, Recorder, first_shot_header

GOOD = ("USER:INT:a", 1)
GOOD_RECORD = "OUTPUT\tINT\t1\ta\n"
BAD = ("USER:INT:b", None)  # malformed: one warning, no record
FIRST_HEADER = first_shot_header()


def shot_text(*records):
    return "START\n" + "".join(records) + "END\t0\n"


def document(first, *rest):
    """The qir_labeled_output text of shots given as lists of records."""
    text = RESULTS_HEADER + FIRST_HEADER + "".join(first) + "END\t0\n"
    return text + "".join(shot_text(*records) for records in rest)


def raiser(exc):
    def hook(*_):
        raise exc

    return hook


def nothing(*_):
    pass


class Item:
    """A shot item read through Python's len() and item access."""

    def __init__(self, key, value, length=lambda: 2, fetch=nothing):
        self.pair = (key, value)
        self.length = length
        self.fetch = fetch

    def __len__(self):
        return self.length()

    def __getitem__(self, index):
        self.fetch(index)
        return self.pair[index]


class Shot:
    """An iterable shot (or result set) that runs `hook` when iterated."""

    def __init__(self, items, hook=nothing, length=None):
        self.items = items
        self.hook = hook
        self.length = length if length is not None else lambda: len(self.items)

    def __iter__(self):
        self.hook()
        return iter(list(self.items))

    def __len__(self):
        return self.length()


class Text:
    """An attribute value whose str() runs `hook`."""

    def __init__(self, hook, text="t"):
        self.hook = hook
        self.text = text

    def __str__(self):
        self.hook()
        return self.text


def failing_midway(items, exc):
    yield from items
    raise exc


def assert_healthy(formatter):
    """A pending exception left behind would break the next ordinary call."""
    qo = Recorder()
    formatter.write_shot(qo, [GOOD])
    assert qo.writes == [shot_text(GOOD_RECORD)]
    assert formatter.qir_labeled_output([[GOOD]], {}) == document([GOOD_RECORD])
    assert sys.exc_info() == (None, None, None)


@pytest.fixture
def panic_type(formatter):
    d = {"k": None}
    d["k"] = Text(lambda: d.update(extra=1))
    with pytest.raises(BaseException) as info:
        formatter.first_shot_header(Recorder(), d)
    assert type(info.value).__name__ == "PanicException"
    return type(info.value)


# Every call fails while reading its inputs, after malformed values were seen:
# the very exception object reaches the caller, and nothing is written or logged.
RAISED_WHILE_READING = {
    "shot __iter__": lambda f, qo, e: f.write_shot(qo, Shot([BAD], hook=raiser(e))),
    "shot iterator midway": lambda f, qo, e: f.emit_values_in_shot(qo, failing_midway([GOOD, BAD], e)),
    "item __len__": lambda f, qo, e: f.write_shot(qo, [BAD, Item(*GOOD, length=raiser(e))]),
    "item __getitem__ of the key": lambda f, qo, e: f.write_first_shot(
        qo, [BAD, Item(*GOOD, fetch=lambda i: i == 0 and raiser(e)())], {}
    ),
    "item __getitem__ of the value": lambda f, qo, e: f.emit_values_in_shot(
        qo, (BAD, Item(*GOOD, fetch=lambda i: i == 1 and raiser(e)()))
    ),
    "results __len__": lambda f, qo, e: f.qir_labeled_output(Shot([[BAD]], length=raiser(e)), {}),
    "results __iter__": lambda f, qo, e: f.qir_labeled_output(Shot([[BAD]], hook=raiser(e)), {}),
    "results iterator midway": lambda f, qo, e: f.qir_labeled_output(_Results([[BAD]], e), {}),
    "last shot of results": lambda f, qo, e: f.qir_labeled_output([[BAD], Shot([], hook=raiser(e))], {}),
    "attribute __str__, first_shot_header": lambda f, qo, e: f.first_shot_header(qo, {"x": Text(raiser(e))}),
    "attribute __str__, write_first_shot": lambda f, qo, e: f.write_first_shot(qo, [BAD], {"x": Text(raiser(e))}),
    "attribute __str__, qir_labeled_output": lambda f, qo, e: f.qir_labeled_output(
        [[BAD]], {"qir_profiles": "p", "x": Text(raiser(e))}
    ),
    "write lookup": lambda f, qo, e: f.shot_footer(_RaisingAttribute(e)),
}


class _Results:
    """A result set with a length whose iterator fails after its shots."""

    def __init__(self, shots, exc):
        self.shots = shots
        self.exc = exc

    def __len__(self):
        return len(self.shots) + 1

    def __iter__(self):
        return failing_midway(self.shots, self.exc)


class _RaisingAttribute:
    def __init__(self, exc):
        self.exc = exc

    @property
    def write(self):
        raise self.exc


@pytest.mark.parametrize("call", RAISED_WHILE_READING.values(), ids=RAISED_WHILE_READING.keys())
def test_exception_while_reading_propagates_unchanged(formatter, qo, warning_log, call):
    boom = Boom("hostile")
    with pytest.raises(Boom) as info:
        call(formatter, qo, boom)
    assert info.value is boom
    assert qo.writes == []
    assert warning_log.count == 0
    assert_healthy(formatter)


# (call, warnings logged before the failing write)
WRITING_CALLS = [
    (lambda f, qo: f.results_header(qo), 0),
    (lambda f, qo: f.first_shot_header(qo, {}), 0),
    (lambda f, qo: f.emit(qo, "INT", "a", 1), 0),
    (lambda f, qo: f.write_shot(qo, [BAD, GOOD, BAD]), 2),
    (lambda f, qo: f.write_first_shot(qo, [GOOD, BAD], {}), 1),
    (lambda f, qo: f.emit_values_in_shot(qo, [BAD, GOOD]), 1),
]


@pytest.mark.parametrize(("call", "warnings"), WRITING_CALLS)
def test_write_that_raises_after_the_warnings(formatter, warning_log, call, warnings):
    boom = Boom("write")

    class Sink:
        calls = 0

        def write(self, text):
            self.calls += 1
            raise boom

    sink = Sink()
    with pytest.raises(Boom) as info:
        call(formatter, sink)
    assert info.value is boom
    assert sink.calls == 1
    assert warning_log.count == warnings
    assert_healthy(formatter)


@pytest.mark.parametrize("failing_record", [1, 2])
@pytest.mark.parametrize(
    "call",
    [
        lambda f, qo: f.write_shot(qo, [BAD, GOOD, BAD]),
        lambda f, qo: f.qir_labeled_output([[BAD], [GOOD, BAD]], {}),
    ],
)
def test_logger_filter_that_raises(formatter, qo, warning_log, call, failing_record):
    boom = Boom("filter")
    seen = []

    def hostile_filter(record):
        seen.append(record)
        if len(seen) == failing_record:
            raise boom
        return True

    logger = logging.getLogger(LOGGER_NAME)
    logger.addFilter(hostile_filter)
    try:
        with pytest.raises(Boom) as info:
            call(formatter, qo)
    finally:
        logger.removeFilter(hostile_filter)
    assert info.value is boom
    assert qo.writes == []
    assert warning_log.count == failing_record - 1
    assert_healthy(formatter)


# len() results that Python itself refuses: the interpreter's own error.
@pytest.mark.parametrize(
    ("length", "exc_type"),
    [(-1, ValueError), (2**70, OverflowError), ("2", TypeError), (2.0, TypeError), (None, TypeError)],
)
@pytest.mark.parametrize("where", ["item", "results"])
def test_nonsense_length_raises(formatter, qo, warning_log, where, length, exc_type):
    if where == "item":
        with pytest.raises(exc_type):
            formatter.write_shot(qo, [BAD, Item(*GOOD, length=lambda: length)])
    else:
        with pytest.raises(exc_type):
            formatter.qir_labeled_output(Shot([[BAD]], length=lambda: length), {})
    assert qo.writes == []
    assert warning_log.count == 0
    assert_healthy(formatter)


class IntLike(int):
    pass


@pytest.mark.parametrize(
    ("length", "records"),
    [(True, ()), (IntLike(2), (GOOD_RECORD,)), (sys.maxsize, (GOOD_RECORD,)), (1, ())],
)
def test_odd_but_valid_item_length(formatter, qo, length, records):
    formatter.write_shot(qo, [Item(*GOOD, length=lambda: length)])
    assert qo.writes == [shot_text(*records)]


@pytest.mark.parametrize("length", [1, 3, sys.maxsize])
def test_results_length_only_gates_the_empty_case(formatter, length):
    shots = [[GOOD], [], [BAD]]
    assert formatter.qir_labeled_output(Shot(shots, length=lambda: length), {}) == document(
        [GOOD_RECORD], [], []
    )


def refuse(*_):
    raise AssertionError("the formatter must not call this")


class Opaque:
    """A value whose every conversion hook fails: classification must not call any."""

    __index__ = __int__ = __float__ = __bool__ = __len__ = __iter__ = __str__ = __repr__ = refuse


class LyingList(list):
    __iter__ = __len__ = __getitem__ = __repr__ = __str__ = refuse


class LyingInt(int):
    __index__ = __int__ = __float__ = __repr__ = __str__ = __format__ = refuse


class LyingFloat(float):
    __float__ = __repr__ = __str__ = __format__ = refuse


class LyingKey(str):
    __str__ = __repr__ = __eq__ = __len__ = __iter__ = __getitem__ = refuse
    __hash__ = str.__hash__


# (key, value, records written, warnings): what item access may hand back.
ODD_ITEMS = [
    (b"USER:INT:a", 1, (), 0),
    (None, 1, (), 0),
    ("USER:INT:\ud800", 1, (), 0),
    (LyingKey("USER:INT:a"), 1, (GOOD_RECORD,), 0),
    ("USER:INT:o", Opaque(), (), 1),
    ("USER:BOOL:o", Opaque(), (), 0),
    ("USER:RESULT_ARRAY:o", Opaque(), (), 1),
    ("USER:INT:l", LyingList([1, 2]), ("OUTPUT\tINT\t[1, 2]\tl\n",), 0),
    ("USER:RESULT_ARRAY:l", LyingList([1, 0]), ("OUTPUT\tRESULT_ARRAY\t10\tl\n",), 0),
    ("USER:INT:i", LyingInt(-7), ("OUTPUT\tINT\t-7\ti\n",), 0),
    ("USER:FLOAT:x", LyingFloat(1.5), ("OUTPUT\tDOUBLE\t1.5\tx\n",), 0),
    ("USER:QIRARRAY:n", [LyingInt(3), LyingFloat(0.5)], ("OUTPUT\tARRAY\t[3, 0.5]\tn\n",), 0),
]


@pytest.mark.parametrize("wrap", [tuple, lambda pair: Item(*pair)], ids=["tuple", "Item"])
@pytest.mark.parametrize(("key", "value", "records", "warnings"), ODD_ITEMS, ids=range(len(ODD_ITEMS)))
def test_odd_items_are_read_by_their_stored_data(formatter, qo, warning_log, wrap, key, value, records, warnings):
    formatter.write_shot(qo, [wrap((key, value)), GOOD])
    assert qo.writes == [shot_text(*records, GOOD_RECORD)]
    assert warning_log.count == warnings


def test_attribute_texts_come_from_str_and_keys_from_their_data(formatter, qo):
    class Loud:
        def __str__(self):
            return "loud\tvalue"

    formatter.first_shot_header(qo, {LyingKey("qir_profiles"): Loud()})
    assert qo.writes == [FIRST_HEADER.replace("base_profile", "loud\tvalue")]


def test_str_returning_a_non_str_raises_typeerror(formatter, qo):
    class Wrong:
        def __str__(self):
            return 5

    with pytest.raises(TypeError, match="__str__ returned non-string"):
        formatter.first_shot_header(qo, {"qir_profiles": Wrong()})
    assert qo.writes == []
    assert_healthy(formatter)


def yield_lock(*_):
    time.sleep(0)


def yielding_two():
    time.sleep(0)
    return 2


@pytest.fixture
def busy_neighbour(formatter):
    """Another thread using the same formatter whenever the lock is given up."""
    stop = threading.Event()
    failures = []

    def run():
        shots = [[("USER:INT:n", i), BAD] for i in range(5)]
        expected = document(*[["OUTPUT\tINT\t%d\tn\n" % i] for i in range(5)])
        while not stop.is_set():
            if formatter.qir_labeled_output(shots, {}) != expected:
                failures.append("neighbour text")
            time.sleep(0)

    logger = logging.getLogger(LOGGER_NAME)
    quiet = logging.NullHandler()
    logger.addHandler(quiet)
    old_propagate, logger.propagate = logger.propagate, False
    thread = threading.Thread(target=run)
    thread.start()
    try:
        yield
    finally:
        stop.set()
        thread.join()
        logger.propagate = old_propagate
        logger.removeHandler(quiet)
    assert failures == []


# Python code that gives up the interpreter lock at every hook; the texts
# must be exactly those of plain data.
YIELDING = [
    (
        lambda f, qo: f.write_shot(qo, Shot([Item(*GOOD, yielding_two, yield_lock), BAD], hook=yield_lock)),
        [shot_text(GOOD_RECORD)],
    ),
    (
        lambda f, qo: f.write_first_shot(qo, [Item(*BAD, yielding_two, yield_lock)], {"qir_profiles": Text(yield_lock, "p")}),
        [FIRST_HEADER.replace("base_profile", "p") + "END\t0\n"],
    ),
    (
        lambda f, qo: qo.write(f.qir_labeled_output(Shot([[GOOD], Shot([BAD], hook=yield_lock)], hook=yield_lock), {})),
        [document([GOOD_RECORD], [])],
    ),
]


@pytest.mark.parametrize(("call", "writes"), YIELDING)
def test_hooks_that_release_the_lock(formatter, busy_neighbour, call, writes):
    for _ in range(50):
        qo = Recorder()
        qo.write = lambda text, qo=qo: (time.sleep(0), qo.writes.append(text))
        call(formatter, qo)
        assert qo.writes == writes


# Each scenario calls the formatter again from inside a call; returns what the
# outer and the inner output objects must have received.
def reenter_from_write(f, outer, inner):
    outer.write = lambda text: (f.emit(inner, "INT", "a", 1), outer.writes.append(text))
    f.write_shot(outer, [GOOD, BAD])
    return [shot_text(GOOD_RECORD)], [GOOD_RECORD]


def reenter_from_getitem(f, outer, inner):
    def fetch(index):
        inner.write(f.qir_labeled_output([[("USER:INT:z", index)]], {}))

    f.emit_values_in_shot(outer, [Item(*GOOD, fetch=fetch)])
    return [GOOD_RECORD], [document(["OUTPUT\tINT\t%d\tz\n" % i]) for i in (0, 1)]


def reenter_from_shot_iter(f, outer, inner):
    results = [[GOOD], Shot([GOOD], hook=lambda: f.write_shot(inner, [BAD, GOOD]))]
    outer.write(f.qir_labeled_output(results, {}))
    return [document([GOOD_RECORD], [GOOD_RECORD])], [shot_text(GOOD_RECORD)]


def reenter_from_attribute_str(f, outer, inner):
    f.write_first_shot(outer, [GOOD], {"qir_profiles": Text(lambda: f.first_shot_header(inner, {}), "p")})
    return [FIRST_HEADER.replace("base_profile", "p") + GOOD_RECORD + "END\t0\n"], [FIRST_HEADER]


def reenter_with_caught_failure(f, outer, inner):
    def fetch(index):
        with pytest.raises(TypeError):
            f.write_shot(inner, [5])

    f.write_shot(outer, [Item(*GOOD, fetch=fetch)])
    return [shot_text(GOOD_RECORD)], []


def reenter_from_log_handler(f, outer, inner):
    class Handler(logging.Handler):
        def emit(self, record):
            f.emit(inner, "BOOL", "h", 1)

    logger = logging.getLogger(LOGGER_NAME)
    handler = Handler()
    logger.addHandler(handler)
    try:
        f.write_shot(outer, [BAD, GOOD, BAD])
    finally:
        logger.removeHandler(handler)
    return [shot_text(GOOD_RECORD)], ["OUTPUT\tBOOL\ttrue\th\n"] * 2


@pytest.mark.parametrize(
    "scenario",
    [
        reenter_from_write,
        reenter_from_getitem,
        reenter_from_shot_iter,
        reenter_from_attribute_str,
        reenter_with_caught_failure,
        reenter_from_log_handler,
    ],
)
def test_reentry_keeps_texts_apart(formatter, warning_log, scenario):
    outer, inner = Recorder(), Recorder()
    outer_writes, inner_writes = scenario(formatter, outer, inner)
    assert outer.writes == outer_writes
    assert inner.writes == inner_writes
    assert_healthy(formatter)


def test_failure_of_a_nested_call_ends_the_outer_call(formatter, qo):
    def fetch(index):
        formatter.write_shot(Recorder(), [5])

    with pytest.raises(TypeError, match="'int' has no len"):
        formatter.write_shot(qo, [Item(*GOOD, fetch=fetch)])
    assert qo.writes == []
    assert_healthy(formatter)


@pytest.mark.parametrize(
    ("make", "message"),
    [(lambda panic: panic("from item"), "from item"), (lambda panic: unprintable_panic(panic), "Unwrapped panic from Python code")],
)
def test_panic_raised_by_python_code_becomes_a_new_panic(formatter, qo, warning_log, panic_type, capfd, make, message):
    original = make(panic_type)
    with pytest.raises(panic_type) as info:
        formatter.write_shot(qo, [BAD, Item(*GOOD, fetch=raiser(original))])
    assert info.value is not original
    assert info.value.args == (message,)
    assert qo.writes == []
    assert warning_log.count == 0
    # The original panic is printed with where Python raised it.
    report = capfd.readouterr().err
    assert "Traceback" in report and "PanicException" in report and "in hook" in report
    assert_healthy(formatter)


def unprintable_panic(panic_type):
    class Unprintable(panic_type):
        def __str__(self):
            raise ValueError("no text")

    return Unprintable()


def test_unbounded_reentry_ends_in_recursion_error(formatter, qo):
    class Deep:
        def __len__(self):
            return 2

        def __getitem__(self, index):
            formatter.write_shot(Recorder(), [Deep()])

    with pytest.raises(RecursionError):
        formatter.write_shot(qo, [Deep()])
    assert qo.writes == []
    assert_healthy(formatter)


def test_reentry_under_a_raised_recursion_limit_does_not_overflow_the_stack():
    # Each native call counts as a level, so a limit far above the default
    # still ends in RecursionError before the C stack runs out.
    script = """
import sys
from brevant import QirLabeledFormatter
f = QirLabeledFormatter()
sys.setrecursionlimit(8000)
class Sink:
    def write(self, text): pass
class Deep:
    def __len__(self): return 2
    def __getitem__(self, index): f.write_shot(Sink(), [Deep()])
try:
    f.write_shot(Sink(), [Deep()])
except RecursionError:
    print("RecursionError")
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert (done.returncode, done.stdout.strip()) == (0, "RecursionError"), done.stderr[-2000:]


# --- containers changed while they are read -------------------------------


def grow(d):
    return lambda: d.setdefault("late", 1)


def shrink(d):
    return lambda: d.pop("other", None)


@pytest.mark.parametrize("change", [grow, shrink, lambda d: d.clear])
@pytest.mark.parametrize(
    "call",
    [
        lambda f, qo, d: f.first_shot_header(qo, d),
        lambda f, qo, d: f.write_first_shot(qo, [BAD], d),
        lambda f, qo, d: qo.write(f.qir_labeled_output([[BAD], [BAD]], d)),
    ],
)
def test_attributes_resized_by_str(formatter, qo, warning_log, panic_type, change, call):
    d = {"other": "o"}
    d["victim"] = hook = Text(None)
    hook.hook = change(d)
    with pytest.raises(panic_type) as info:
        call(formatter, qo, d)
    assert info.value.args == ("dictionary changed size during iteration",)
    assert qo.writes == []
    assert warning_log.count == 0
    assert_healthy(formatter)


def test_attributes_replaced_ahead_keeping_size(formatter, qo):
    # An item not yet visited swapped for a new one: the walk meets the new item
    # and no more items than the dict held, so the conversion stands.
    d = {}
    d["qir_profiles"] = hook = Text(None, "p")
    d["required_num_qubits"] = "old"
    hook.hook = lambda: (d.pop("required_num_qubits"), d.update(required_num_results="new"))
    formatter.first_shot_header(qo, d)
    text = FIRST_HEADER.replace("base_profile", "p").replace("results\t0", "results\tnew")
    assert qo.writes == [text]


def test_attributes_value_replaced_in_place(formatter, qo):
    d = {}
    d["qir_profiles"] = Text(lambda: d.update(qir_profiles="later"), "first")
    formatter.first_shot_header(qo, d)
    assert qo.writes == [FIRST_HEADER.replace("base_profile", "first")]


def clear_from_getitem(shot):
    return [GOOD, Item("USER:INT:h", 2, fetch=lambda i: shot.clear()), ("USER:INT:gone", 3)]


def clear_from_len(shot):
    return [Item("USER:INT:h", 2, length=lambda: (shot.clear(), 2)[1]), ("USER:INT:gone", 3)]


def extend_from_len(shot):
    def length():
        if len(shot) == 2:
            shot.append(("USER:INT:new", 4))
        return 2

    return [GOOD, Item("USER:INT:h", 2, length=length)]


def replace_ahead_from_getitem(shot):
    def fetch(index):
        shot[2] = ("USER:INT:new", 4)

    return [GOOD, Item("USER:INT:h", 2, fetch=fetch), ("USER:INT:gone", 3)]


H_RECORD = "OUTPUT\tINT\t2\th\n"
NEW_RECORD = "OUTPUT\tINT\t4\tnew\n"


# A list shot changed by its own items: reading follows the list as Python's
# list iterator would, and the item being read stays alive.
@pytest.mark.parametrize(
    ("build", "records"),
    [
        (clear_from_getitem, (GOOD_RECORD, H_RECORD)),
        (clear_from_len, (H_RECORD,)),
        (extend_from_len, (GOOD_RECORD, H_RECORD, NEW_RECORD)),
        (replace_ahead_from_getitem, (GOOD_RECORD, H_RECORD, NEW_RECORD)),
    ],
)
def test_shot_list_changed_by_its_items(formatter, qo, build, records):
    shot = []
    shot.extend(build(shot))
    formatter.write_shot(qo, shot)
    assert qo.writes == [shot_text(*records)]
    shot = []
    shot.extend(build(shot))
    assert formatter.qir_labeled_output([shot], {}) == document(records)


def test_results_cleared_from_a_shot_iter(formatter):
    results = [[GOOD]]
    results += [Shot([("USER:INT:s", 5)], hook=results.clear), [("USER:INT:gone", 6)]]
    assert formatter.qir_labeled_output(results, {}) == document([GOOD_RECORD], ["OUTPUT\tINT\t5\ts\n"])
    assert results == []


def test_results_cleared_by_the_first_shot_leaves_only_it(formatter):
    results = []
    results += [Shot([GOOD], hook=results.clear), [BAD]]
    assert formatter.qir_labeled_output(results, {}) == document([GOOD_RECORD])


def test_results_extended_from_a_shot_iter(formatter):
    results = []
    results += [Shot([GOOD], hook=lambda: results.append([("USER:INT:x", 7)]))]
    assert formatter.qir_labeled_output(results, {}) == document([GOOD_RECORD], ["OUTPUT\tINT\t7\tx\n"])


def test_plain_data_matches_the_model(formatter):
    # The texts above are hand-written; this keeps them tied to the model.
    shot = [GOOD, BAD, ("USER:INT:h", 2)]
    assert model.write_shot(shot) == ([shot_text(GOOD_RECORD, H_RECORD)], 1)
    assert model.qir_labeled_output([[GOOD], []], {}) == (document([GOOD_RECORD], []), 0)
