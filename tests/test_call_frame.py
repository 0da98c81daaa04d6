"""Argument binding, the errors a caller sees, and how failures leave the module."""

import sys

import pytest

from brevant import QirLabeledFormatter
from shared import Recorder

QO = object()  # stands for a fresh Recorder in the tables below

SHOT = [("USER:INT:a", 1), ("USER:DOUBLE:b", 2.5)]
ATTRIBUTES = {"required_num_qubits": "2", "required_num_results": "1"}

# One valid call per method, keywords in declaration order.
VALID_CALLS = {
    "_val_null": {"tag": "t", "val": None},
    "_val_tag_type": {"tag": "t", "_val": 5},
    "validate_tag_and_value": {"tag": 5, "val": "v"},
    "results_header": {"qo": QO},
    "first_shot_header": {"qo": QO, "attributes": ATTRIBUTES},
    "shot_footer": {"qo": QO},
    "emit": {"qo": QO, "ftype": "INT", "tag": "t", "val": 5},
    "format_value": {"type_str": "BOOL", "val": 0},
    "write_shot": {"qo": QO, "shot": SHOT},
    "write_first_shot": {"qo": QO, "shot": SHOT, "attributes": ATTRIBUTES},
    "emit_values_in_shot": {"qo": QO, "shot": SHOT},
    "qir_labeled_output": {"results": [SHOT, SHOT], "attributes": ATTRIBUTES},
}

WRITERS = [name for name, call in VALID_CALLS.items() if "qo" in call]


def run(method, args=(), kwargs=None):
    """Call a method with QO replaced by a Recorder; returns (result, texts written)."""
    qo = Recorder()
    args = [qo if a is QO else a for a in args]
    kwargs = {k: qo if v is QO else v for k, v in (kwargs or {}).items()}
    return getattr(QirLabeledFormatter(), method)(*args, **kwargs), qo.writes


@pytest.mark.parametrize(
    "method, args, kwargs, message",
    [
        ("emit", (QO, "INT", "t"), {}, "QirLabeledFormatter.emit() missing 1 required positional argument: 'val'"),
        (
            "emit",
            (),
            {},
            "QirLabeledFormatter.emit() missing 4 required positional arguments: 'qo', 'ftype', 'tag', and 'val'",
        ),
        (
            "write_first_shot",
            (QO,),
            {},
            "QirLabeledFormatter.write_first_shot() missing 2 required positional arguments: 'shot' and 'attributes'",
        ),
        (
            "write_first_shot",
            (),
            {},
            "QirLabeledFormatter.write_first_shot() missing 3 required positional arguments: 'qo', 'shot', and 'attributes'",
        ),
        (
            "emit",
            (QO,),
            {"val": 1},
            "QirLabeledFormatter.emit() missing 2 required positional arguments: 'ftype' and 'tag'",
        ),
        (
            "emit",
            (),
            {"tag": "t"},
            "QirLabeledFormatter.emit() missing 3 required positional arguments: 'qo', 'ftype', and 'val'",
        ),
        ("results_header", (), {}, "QirLabeledFormatter.results_header() missing 1 required positional argument: 'qo'"),
        (
            "qir_labeled_output",
            (),
            {"attributes": {}},
            "QirLabeledFormatter.qir_labeled_output() missing 1 required positional argument: 'results'",
        ),
        (
            "results_header",
            (QO, 1),
            {},
            "QirLabeledFormatter.results_header() takes 1 positional arguments but 2 were given",
        ),
        (
            "results_header",
            (QO, 1, 2),
            {},
            "QirLabeledFormatter.results_header() takes 1 positional arguments but 3 were given",
        ),
        (
            "emit",
            (1, 2, 3, 4, 5),
            {"foo": 1},
            "QirLabeledFormatter.emit() takes 4 positional arguments but 5 were given",
        ),
        (
            "format_value",
            ("INT", 1, 2),
            {"type_str": "INT"},
            "QirLabeledFormatter.format_value() takes 2 positional arguments but 3 were given",
        ),
        ("emit", (QO,), {"foo": 1}, "QirLabeledFormatter.emit() got an unexpected keyword argument 'foo'"),
        (
            "emit",
            (QO,),
            {"zzz": 1, "aaa": 2},
            "QirLabeledFormatter.emit() got an unexpected keyword argument 'zzz'",
        ),
        (
            "results_header",
            (QO,),
            {"self": 1},
            "QirLabeledFormatter.results_header() got an unexpected keyword argument 'self'",
        ),
        (
            "emit",
            (),
            {"not a name": 1},
            "QirLabeledFormatter.emit() got an unexpected keyword argument 'not a name'",
        ),
        (
            "emit",
            (),
            {"\udc80": 1},
            "QirLabeledFormatter.emit() got an unexpected keyword argument '\udc80'",
        ),
        ("emit", (), {"Qo": 1}, "QirLabeledFormatter.emit() got an unexpected keyword argument 'Qo'"),
        (
            "_val_tag_type",
            (),
            {"tag": "a", "val": 1},
            "QirLabeledFormatter._val_tag_type() got an unexpected keyword argument 'val'",
        ),
        (
            "shot_footer",
            (QO,),
            {"qo": QO},
            "QirLabeledFormatter.shot_footer() got multiple values for argument 'qo'",
        ),
        (
            "shot_footer",
            (QO,),
            {"qo": QO, "foo": 1},
            "QirLabeledFormatter.shot_footer() got multiple values for argument 'qo'",
        ),
        (
            "shot_footer",
            (QO,),
            {"foo": 1, "qo": QO},
            "QirLabeledFormatter.shot_footer() got an unexpected keyword argument 'foo'",
        ),
        (
            "write_shot",
            (QO, SHOT),
            {"shot": SHOT},
            "QirLabeledFormatter.write_shot() got multiple values for argument 'shot'",
        ),
    ],
)
def test_binding_error(method, args, kwargs, message):
    qo = Recorder()
    args = [qo if a is QO else a for a in args]
    kwargs = {k: qo if v is QO else v for k, v in kwargs.items()}
    with pytest.raises(TypeError) as info:
        getattr(QirLabeledFormatter(), method)(*args, **kwargs)
    assert str(info.value) == message
    assert info.value.__context__ is None
    assert qo.writes == []


@pytest.mark.parametrize("method", VALID_CALLS)
def test_keywords_bind_to_their_parameters_in_any_order(method):
    call = VALID_CALLS[method]
    by_position = run(method, list(call.values()))
    by_keyword = run(method, kwargs=dict(reversed(call.items())))
    assert by_keyword == by_position
    result, writes = by_position
    assert result is not None or writes


@pytest.mark.parametrize("method", VALID_CALLS)
def test_positional_and_keyword_arguments_mix(method):
    call = VALID_CALLS[method]
    first, *rest = call.items()
    assert run(method, [first[1]], dict(rest)) == run(method, list(call.values()))


def test_keywords_give_distinct_results_when_swapped():
    # Guards the table above: swapping the values must change the outcome,
    # so a binder that ignored keyword names would be noticed.
    assert run("_val_tag_type", kwargs={"tag": "t", "_val": 5}) == (True, [])
    assert run("_val_tag_type", kwargs={"tag": 5, "_val": "t"}) == (False, [])
    assert run("validate_tag_and_value", kwargs={"tag": 5, "val": "v"}) == (False, [])
    assert run("validate_tag_and_value", kwargs={"tag": "v", "val": 5}) == (True, [])


class Holder:
    class Inner:
        pass


class NamelessMeta(type):
    def __getattribute__(cls, name):
        return 5 if name == "__qualname__" else super().__getattribute__(name)


class RaisingMeta(type):
    def __getattribute__(cls, name):
        if name == "__qualname__":
            raise RuntimeError("no name")
        return super().__getattribute__(name)


NO_TEXT_NAME = "'<failed to extract type name>' object is not an instance of 'str'"


@pytest.mark.parametrize(
    "type_str, message",
    [
        (5, "'int' object is not an instance of 'str'"),
        (None, "'None' is not an instance of 'str'"),
        (b"INT", "'bytes' object is not an instance of 'str'"),
        (True, "'bool' object is not an instance of 'str'"),
        (Holder.Inner(), "'Holder.Inner' object is not an instance of 'str'"),
        (NamelessMeta("Odd", (), {})(), NO_TEXT_NAME),
        (RaisingMeta("Odd", (), {})(), NO_TEXT_NAME),
    ],
)
def test_format_value_rejects_non_str_type(type_str, message):
    with pytest.raises(TypeError) as info:
        QirLabeledFormatter().format_value(type_str, 1)
    error = info.value
    assert type(error) is TypeError
    assert str(error) == message
    check_type_str_note(error)


def check_type_str_note(error):
    if sys.version_info >= (3, 11):
        assert error.__notes__ == ["while processing 'type_str'"]
    else:
        # No add_note here: its failed lookup must leave nothing behind.
        assert not hasattr(error, "__notes__")
    assert error.__context__ is None and error.__cause__ is None


def test_format_value_with_lone_surrogate_type():
    with pytest.raises(UnicodeEncodeError) as info:
        QirLabeledFormatter().format_value("IN\udc80T", 1)
    check_type_str_note(info.value)


def test_format_value_accepts_str_subclass():
    class Text(str):
        pass

    formatter = QirLabeledFormatter()
    assert formatter.format_value(Text("BOOL"), 0) == formatter.format_value("BOOL", 0)


class Raising:
    def __init__(self, error):
        self.error = error

    def write(self, text):
        raise self.error


class BaseBoom(BaseException):
    pass


@pytest.mark.parametrize("error_type", [ValueError, KeyError, SystemExit, BaseBoom])
@pytest.mark.parametrize("method", WRITERS)
def test_exception_from_write_is_passed_on_unchanged(method, error_type):
    error = error_type("x")
    call = {k: Raising(error) if v is QO else v for k, v in VALID_CALLS[method].items()}
    with pytest.raises(error_type) as info:
        getattr(QirLabeledFormatter(), method)(**call)
    assert info.value is error
    assert error.__context__ is None and not hasattr(error, "__notes__")
    frames = []
    tb = error.__traceback__
    while tb is not None:
        frames.append(tb.tb_frame.f_code.co_name)
        tb = tb.tb_next
    assert frames[-1] == "write"


def test_method_on_foreign_instance_is_refused_by_the_descriptor():
    with pytest.raises(TypeError):
        QirLabeledFormatter.results_header(object(), Recorder())
