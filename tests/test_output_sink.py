"""How text and warnings leave the formatter: `qo.write` and the `logging` records."""

import io
import logging
import sys
import types

import pytest

from shared import LOGGER_NAME, WARNING_TEXT, Recorder

BAD = ("USER:INT:bad", None)
GOOD = ("USER:INT:good", 1)

# (call, number of skipped values, text written)
SKIPPING_CALLS = [
    (lambda f, qo: f.emit(qo, "INT", "a", None), 1, None),
    (lambda f, qo: f.emit(qo, "RESULT_ARRAY", None, [2]), 1, None),
    (lambda f, qo: f.emit_values_in_shot(qo, [BAD, GOOD, BAD]), 2, "OUTPUT\tINT\t1\tgood\n"),
    (lambda f, qo: f.write_shot(qo, [BAD, BAD, BAD]), 3, "START\nEND\t0\n"),
    (
        lambda f, qo: f.write_first_shot(qo, [GOOD, BAD], {"qir_profiles": "p"}),
        1,
        "START\nMETADATA\tentry_point\nMETADATA\tqir_profiles\tp\nMETADATA\trequired_num_qubits\t0\n"
        "METADATA\trequired_num_results\t0\nOUTPUT\tINT\t1\tgood\nEND\t0\n",
    ),
    (lambda f, qo: f.qir_labeled_output([[BAD], [BAD, GOOD]], {}), 2, None),
]


@pytest.mark.parametrize(("call", "skipped", "text"), SKIPPING_CALLS)
def test_one_warning_record_per_skipped_value(formatter, qo, warning_log, call, skipped, text):
    call(formatter, qo)
    assert warning_log.count == skipped
    for record in warning_log.records:
        assert record.name == LOGGER_NAME
        assert record.levelno == logging.WARNING
        assert record.msg == WARNING_TEXT
        assert record.args == ()
    if text is not None:
        assert qo.writes == [text]


class FakeLogger:
    """Records every lookup and call of `warning`; the `fail_at`-th call raises."""

    def __init__(self, events, fail_at=None, exc=None):
        self.events, self.fail_at, self.exc = events, fail_at, exc
        self.calls = 0

    @property
    def warning(self):
        self.events.append("lookup warning")

        def warning(*args, **kwargs):
            self.calls += 1
            self.events.append(("warning", args, kwargs))
            if self.calls == self.fail_at:
                raise self.exc

        return warning


def fake_logging(logger, events):
    module = types.ModuleType("logging")

    def get_logger(*args, **kwargs):
        events.append(("getLogger", args, kwargs))
        return logger

    module.getLogger = get_logger
    return module


class swapped_logging:
    """Puts `module` in place of `logging` in sys.modules for the `with` body."""

    def __init__(self, module):
        self.module = module

    def __enter__(self):
        self.saved = sys.modules["logging"]
        sys.modules["logging"] = self.module

    def __exit__(self, *exc_info):
        sys.modules["logging"] = self.saved


def test_logging_protocol_and_no_caching(formatter, qo):
    events = []
    logger = FakeLogger(events)
    with swapped_logging(fake_logging(logger, events)):
        formatter.emit_values_in_shot(qo, [BAD, GOOD, BAD])
        formatter.emit(qo, "INT", "a", None)
    get_logger = ("getLogger", (LOGGER_NAME,), {})
    warning = ("warning", (WARNING_TEXT,), {})
    assert events == [
        get_logger, "lookup warning", warning, "lookup warning", warning,
        get_logger, "lookup warning", warning,
    ]
    assert qo.writes == ["OUTPUT\tINT\t1\tgood\n"]


def test_failing_warning_stops_the_call(formatter, qo):
    exc = RuntimeError("handler broke")
    events = []
    logger = FakeLogger(events, fail_at=2, exc=exc)
    with swapped_logging(fake_logging(logger, events)):
        with pytest.raises(RuntimeError) as info:
            formatter.emit_values_in_shot(qo, [BAD, GOOD, BAD, BAD])
    assert info.value is exc
    assert logger.calls == 2
    assert qo.writes == []


@pytest.mark.parametrize(
    ("module", "exc_type"),
    [
        (types.ModuleType("logging"), AttributeError),
        (types.SimpleNamespace(getLogger=lambda name: object()), AttributeError),
        (types.SimpleNamespace(getLogger=lambda: None), TypeError),
    ],
)
def test_broken_logging_module_raises_and_writes_nothing(formatter, qo, module, exc_type):
    with swapped_logging(module):
        with pytest.raises(exc_type):
            formatter.write_shot(qo, [GOOD, BAD])
    assert qo.writes == []


def test_logging_imported_only_when_something_was_skipped(formatter, qo):
    # A first skipping call, so that a cached logger would be there to misuse.
    formatter.emit(Recorder(), "INT", "a", None)
    saved = sys.modules["logging"]
    sys.modules["logging"] = None
    try:
        formatter.write_shot(qo, [GOOD, ("USER:BOOL:b", None), ("SYS:INT:x", None)])
        formatter.emit(None, "INT", None, 5)
        with pytest.raises(ImportError):
            formatter.write_shot(qo, [GOOD, BAD])
        with pytest.raises(ImportError):
            formatter.qir_labeled_output([[BAD]], {})
    finally:
        sys.modules["logging"] = saved
    assert qo.writes == ["START\nOUTPUT\tINT\t1\tgood\nEND\t0\n"]


class NoWrite:
    pass


# (call, qo, exception or None, warnings)
MISSING_WRITE = [
    (lambda f, qo: f.emit(qo, "NOPE", "a", 5), None, None, 0),
    (lambda f, qo: f.emit(qo, "INT", None, 5), None, None, 0),
    (lambda f, qo: f.emit(qo, "INT", "a", None), None, None, 1),
    (lambda f, qo: f.emit_values_in_shot(qo, []), NoWrite(), None, 0),
    (lambda f, qo: f.emit_values_in_shot(qo, [BAD]), NoWrite(), None, 1),
    (lambda f, qo: f.emit(qo, "INT", "a", 5), None, AttributeError, 0),
    (lambda f, qo: f.results_header(qo), NoWrite(), AttributeError, 0),
    (lambda f, qo: f.shot_footer(qo), 5, AttributeError, 0),
    (lambda f, qo: f.first_shot_header(qo, {}), "qo", AttributeError, 0),
    (lambda f, qo: f.write_shot(qo, []), NoWrite(), AttributeError, 0),
    (lambda f, qo: f.emit_values_in_shot(qo, [GOOD, BAD, BAD]), NoWrite(), AttributeError, 2),
    (lambda f, qo: f.write_first_shot(qo, [BAD], {}), NoWrite(), AttributeError, 1),
]


@pytest.mark.parametrize(("call", "qo", "exc_type", "warnings"), MISSING_WRITE)
def test_write_looked_up_only_for_non_empty_text(formatter, warning_log, call, qo, exc_type, warnings):
    if exc_type is None:
        assert call(formatter, qo) is None
    else:
        with pytest.raises(exc_type, match="write"):
            call(formatter, qo)
    assert warning_log.count == warnings


class RaisingWrite:
    def __init__(self, exc):
        self.exc = exc

    def write(self, text):
        raise self.exc


@pytest.mark.parametrize(
    ("call", "warnings"),
    [
        (lambda f, qo: f.results_header(qo), 0),
        (lambda f, qo: f.emit(qo, "INT", "a", 1), 0),
        (lambda f, qo: f.write_shot(qo, [GOOD, BAD, BAD]), 2),
    ],
)
def test_write_error_is_the_very_exception(formatter, warning_log, call, warnings):
    exc = ValueError("x")
    with pytest.raises(ValueError) as info:
        call(formatter, RaisingWrite(exc))
    assert info.value is exc
    # The warnings went out before the write was attempted.
    assert warning_log.count == warnings


class Returning:
    def __init__(self, result):
        self.result, self.calls = result, []

    def write(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        return self.result


@pytest.mark.parametrize("result", [0, 17, None, "x", b"", object(), NotImplemented], ids=repr)
def test_write_result_is_ignored(formatter, result):
    qo = Returning(result)
    assert formatter.shot_footer(qo) is None
    assert qo.calls == [(("END\t0\n",), {})]


# (call, the one text handed to write)
WRITING_CALLS = [
    (lambda f, qo: f.results_header(qo), "HEADER\tschema_id\tlabeled\nHEADER\tschema_version\t2.1\n"),
    (
        lambda f, qo: f.first_shot_header(qo, {}),
        "START\nMETADATA\tentry_point\nMETADATA\tqir_profiles\tbase_profile\n"
        "METADATA\trequired_num_qubits\t0\nMETADATA\trequired_num_results\t0\n",
    ),
    (lambda f, qo: f.shot_footer(qo), "END\t0\n"),
    (lambda f, qo: f.emit(qo, "FLOAT", "\u00e9", 0.5), "OUTPUT\tDOUBLE\t0.5\t\u00e9\n"),
    (lambda f, qo: f.emit_values_in_shot(qo, [GOOD, GOOD]), "OUTPUT\tINT\t1\tgood\nOUTPUT\tINT\t1\tgood\n"),
    (lambda f, qo: f.write_shot(qo, [GOOD]), "START\nOUTPUT\tINT\t1\tgood\nEND\t0\n"),
    (
        lambda f, qo: f.write_first_shot(qo, [], {}),
        "START\nMETADATA\tentry_point\nMETADATA\tqir_profiles\tbase_profile\n"
        "METADATA\trequired_num_qubits\t0\nMETADATA\trequired_num_results\t0\nEND\t0\n",
    ),
]


@pytest.mark.parametrize(("call", "text"), WRITING_CALLS)
def test_text_reaches_write_once_as_str(formatter, call, text):
    qo = Returning(None)
    call(formatter, qo)
    assert qo.calls == [((text,), {})]
    assert type(qo.calls[0][0][0]) is str


@pytest.mark.parametrize(("call", "text"), WRITING_CALLS)
def test_file_like_output(formatter, call, text):
    qo = io.StringIO()
    call(formatter, qo)
    assert qo.getvalue() == text


def test_write_that_is_not_callable(formatter):
    qo = types.SimpleNamespace(write=5)
    with pytest.raises(TypeError, match="not callable"):
        formatter.shot_footer(qo)
