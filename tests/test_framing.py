"""Shot framing: headers, METADATA from the attributes dict, footers and whole shots."""

import collections
import pickle
import types

import pytest

import brevant._native
import brevant._reader

from shared import RESULTS_HEADER, Boom, Recorder, first_shot_header

DEFAULT_FIRST_SHOT_HEADER = first_shot_header()


class Holder:
    class Key:
        """A hashable non-str key whose type has a dotted qualified name."""


class Shown:
    def __init__(self, text):
        self.text = text

    def __str__(self):
        return self.text


class CustomStr(str):
    def __str__(self):
        return "custom"


class TwinKey(str):
    """Same text as an ordinary key, yet a distinct dict key."""

    def __hash__(self):
        return 1

    def __eq__(self, other):
        return self is other


class LyingDict(dict):
    """A dict whose Python-level views disagree with what it stores."""

    def __iter__(self):
        return iter(["qir_profiles"])

    def __getitem__(self, key):
        return "from_getitem"

    def keys(self):
        return ["qir_profiles"]

    def items(self):
        return [("qir_profiles", "from_items")]

    def __len__(self):
        return 1


def with_twin_key():
    d = {"qir_profiles": "first"}
    d[TwinKey("qir_profiles")] = "second"
    return d


# (attributes, expected first-shot header)
ATTRIBUTES = [
    ({}, DEFAULT_FIRST_SHOT_HEADER),
    ({"qir_profiles": None}, first_shot_header(profiles="None")),
    ({"required_num_qubits": 5, "required_num_results": 2.0}, first_shot_header(qubits="5", results="2.0")),
    (
        {"qir_profiles": "adaptive_profile", "required_num_qubits": "2", "required_num_results": "3"},
        "START\nMETADATA\tentry_point\nMETADATA\tqir_profiles\tadaptive_profile\n"
        "METADATA\trequired_num_qubits\t2\nMETADATA\trequired_num_results\t3\n",
    ),
    ({"required_num_qubits": ""}, "START\nMETADATA\tentry_point\nMETADATA\tqir_profiles\tbase_profile\n"
                                   "METADATA\trequired_num_qubits\t\nMETADATA\trequired_num_results\t0\n"),
    ({"entry_point": "main", "other": "x", "output_labeling_schema": "y"}, DEFAULT_FIRST_SHOT_HEADER),
    ({"QIR_PROFILES": "x", "qir_profiles ": "y", " qir_profiles": "z", "Required_num_qubits": "9"},
     DEFAULT_FIRST_SHOT_HEADER),
    ({"qir_profiles": "a\tb\nc"}, first_shot_header(profiles="a\tb\nc")),
    ({"qir_profiles": "a\x00b"}, first_shot_header(profiles="a\x00b")),
    ({"qir_profiles\x00": "x", "required_num_qubits\x00x": "y"}, DEFAULT_FIRST_SHOT_HEADER),
    ({"qir_profiles": True, "required_num_qubits": [1, 2]}, first_shot_header(profiles="True", qubits="[1, 2]")),
    ({"qir_profiles": Shown("shown")}, first_shot_header(profiles="shown")),
    ({"qir_profiles": CustomStr("stored")}, first_shot_header(profiles="custom")),
    ({"qir_profiles": "\u00e9\U0001f600"}, first_shot_header(profiles="\u00e9\U0001f600")),
    ({"required_num_results": -(2**70)}, first_shot_header(results="-1180591620717411303424")),
    # Keys that are never looked up are still converted, and may be anything str-like.
    ({"unused": None, "x": 1}, DEFAULT_FIRST_SHOT_HEADER),
    ({CustomStr("qir_profiles"): "p"}, first_shot_header(profiles="p")),
    (collections.OrderedDict(qir_profiles="ordered"), first_shot_header(profiles="ordered")),
    (LyingDict(qir_profiles="stored", required_num_qubits="4"), first_shot_header(profiles="stored", qubits="4")),
    (with_twin_key(), first_shot_header(profiles="second")),
]


@pytest.mark.parametrize(("attributes", "text"), ATTRIBUTES)
def test_first_shot_header(formatter, qo, warning_log, attributes, text):
    assert formatter.first_shot_header(qo, attributes) is None
    assert qo.writes == [text]
    assert warning_log.count == 0


def raising_value(exc):
    class Raises:
        def __str__(self):
            raise exc

    return Raises()


class NotText:
    def __str__(self):
        return 5


# (attributes, exception type, exact message or None)
BAD_ATTRIBUTES = [
    (None, TypeError, "'None' is not an instance of 'dict'"),
    ([], TypeError, "'list' object is not an instance of 'dict'"),
    ([("qir_profiles", "x")], TypeError, "'list' object is not an instance of 'dict'"),
    ("qir_profiles", TypeError, "'str' object is not an instance of 'dict'"),
    (types.MappingProxyType({}), TypeError, "'mappingproxy' object is not an instance of 'dict'"),
    (collections.ChainMap({}), TypeError, "'ChainMap' object is not an instance of 'dict'"),
    ({1: "x"}, TypeError, "'int' object is not an instance of 'str'"),
    ({"qir_profiles": "p", b"k": "x"}, TypeError, "'bytes' object is not an instance of 'str'"),
    ({None: "x"}, TypeError, "'None' is not an instance of 'str'"),
    ({Holder.Key(): "x"}, TypeError, "'Holder.Key' object is not an instance of 'str'"),
    ({"\ud800": "x"}, UnicodeEncodeError, None),
    ({"unused": "\udfff"}, UnicodeEncodeError, None),
    ({"unused": NotText()}, TypeError, None),
]


@pytest.mark.parametrize(("attributes", "exc_type", "message"), BAD_ATTRIBUTES)
def test_bad_attributes_raise_and_write_nothing(formatter, qo, attributes, exc_type, message):
    with pytest.raises(exc_type) as info:
        formatter.first_shot_header(qo, attributes)
    if message is not None:
        assert str(info.value) == message
    assert qo.writes == []


@pytest.mark.parametrize("key", ["qir_profiles", "unused"])
def test_value_str_error_is_the_very_exception(formatter, qo, key):
    exc = Boom("no text")
    with pytest.raises(Boom) as info:
        formatter.first_shot_header(qo, {key: raising_value(exc)})
    assert info.value is exc
    assert qo.writes == []


def inserting(d):
    d["added"] = "x"


def removing(d):
    del d["other"]


def replacing_visited(d):
    # Same item count, but a fresh key lands after the walk's position.
    del d["victim"]
    d["newcomer"] = "x"


class Mutator:
    def __init__(self, d, action):
        self.d, self.action, self.ran = d, action, False

    def __str__(self):
        self.ran = True
        self.action(self.d)
        return "m"


@pytest.mark.parametrize(
    ("action", "message"),
    [
        (inserting, "dictionary changed size during iteration"),
        (removing, "dictionary changed size during iteration"),
        (replacing_visited, "dictionary keys changed during iteration"),
    ],
)
def test_attributes_changed_by_str_is_an_internal_failure(formatter, qo, capfd, action, message):
    d = {}
    d["victim"] = None
    d["other"] = "o"
    # Kept alive here so that dropping it from the dict cannot free it mid-call.
    mutator = d["victim"] = Mutator(d, action)
    with pytest.raises(BaseException) as info:
        try:
            formatter.first_shot_header(qo, d)
        except Exception:
            pytest.fail("caught by except Exception")
    panic = type(info.value)
    assert (panic.__module__, panic.__name__, panic.__bases__) == ("pyo3_runtime", "PanicException", (BaseException,))
    assert info.value.args == (message,)
    assert message in capfd.readouterr().err  # the failure report comes first
    assert qo.writes == []
    assert mutator.ran
    assert not any(value is panic for value in vars(brevant._native).values())
    # One class for the whole process, whichever module raised it, and its instances pickle.
    assert panic is brevant.PanicException is brevant._reader.PanicException
    assert type(pickle.loads(pickle.dumps(info.value))) is panic


def test_fixed_records(formatter):
    qo = Recorder()
    formatter.results_header(qo)
    formatter.shot_footer(qo)
    assert qo.writes == [RESULTS_HEADER, "END\t0\n"]


# (shot, expected write_shot text, warnings)
SHOTS = [
    ([], "START\nEND\t0\n", 0),
    ([("SYS:INT:x", 1), ("USER:DOUBLE:y", 1.5)], "START\nEND\t0\n", 0),
    ([("USER:INT:a", 1), ("USER:FLOAT:b", 0.5)], "START\nOUTPUT\tINT\t1\ta\nOUTPUT\tDOUBLE\t0.5\tb\nEND\t0\n", 0),
    ([("USER:INT:a", None), ("USER:RESULT:r", 1), ("USER:RESULT_ARRAY:b", [7])],
     "START\nOUTPUT\tRESULT\t1\tr\nEND\t0\n", 2),
    ([("USER:INT:a", None)], "START\nEND\t0\n", 1),
]


@pytest.mark.parametrize(("shot", "text", "warnings"), SHOTS)
def test_write_shot(formatter, qo, warning_log, shot, text, warnings):
    assert formatter.write_shot(qo, shot) is None
    assert qo.writes == [text]
    assert warning_log.count == warnings


@pytest.mark.parametrize(("shot", "body", "warnings"), [(s, t[len("START\n"):-len("END\t0\n")], w)
                                                        for s, t, w in SHOTS])
@pytest.mark.parametrize(("attributes", "header"), ATTRIBUTES[:4])
def test_write_first_shot_is_header_values_footer_in_one_write(
    formatter, qo, warning_log, shot, body, warnings, attributes, header
):
    formatter.write_first_shot(qo, shot, attributes)
    assert qo.writes == [header + body + "END\t0\n"]
    assert warning_log.count == warnings

    pieces = Recorder()
    formatter.first_shot_header(pieces, attributes)
    formatter.emit_values_in_shot(pieces, shot)
    formatter.shot_footer(pieces)
    assert pieces.text == qo.writes[0]


def test_write_first_shot_exact_text(formatter, qo):
    formatter.write_first_shot(qo, [("USER:RESULT:r0", 1)], {"required_num_qubits": "1"})
    assert qo.writes == [
        "START\n"
        "METADATA\tentry_point\n"
        "METADATA\tqir_profiles\tbase_profile\n"
        "METADATA\trequired_num_qubits\t1\n"
        "METADATA\trequired_num_results\t0\n"
        "OUTPUT\tRESULT\t1\tr0\n"
        "END\t0\n"
    ]


class UnreadableShot:
    def __init__(self, exc):
        self.exc = exc

    def __iter__(self):
        raise self.exc


@pytest.mark.parametrize("attributes", [None, {1: "x"}, {"k": raising_value(Boom("attributes"))}])
def test_bad_shot_wins_over_bad_attributes(formatter, qo, warning_log, attributes):
    exc = Boom("shot")
    with pytest.raises(Boom) as info:
        formatter.write_first_shot(qo, UnreadableShot(exc), attributes)
    assert info.value is exc
    with pytest.raises(TypeError, match=r"has no len\(\)"):
        formatter.write_first_shot(qo, [("USER:INT:a", None), 5], attributes)
    assert qo.writes == []
    assert warning_log.count == 0


@pytest.mark.parametrize("call", [
    lambda f, qo: f.write_shot(qo, [5]),
    lambda f, qo: f.write_shot(qo, 5),
    lambda f, qo: f.write_first_shot(qo, [("USER:INT:a", None)], None),
])
def test_failed_framing_writes_and_logs_nothing(formatter, qo, warning_log, call):
    with pytest.raises(TypeError):
        call(formatter, qo)
    assert qo.writes == []
    assert warning_log.count == 0
