"""The one-call form: `qir_labeled_output` returns a whole document."""

import pytest

from shared import Boom

WORKED_EXAMPLE_SHOTS = [
    [
        ("USER:RESULT:r0", 0),
        ("USER:RESULT:r1", 1),
        ("USER:FLOAT:energy", -1.5),
        ("USER:QIRARRAY:counts", [3, 4]),
    ],
    [
        ("USER:RESULT:r0", 1),
        ("USER:RESULT:r1", 1),
        ("USER:BOOL:ok", 1),
        ("USER:RESULT_ARRAY:bits", [True, False, 1]),
    ],
]
WORKED_EXAMPLE_ATTRIBUTES = {"required_num_qubits": "2", "required_num_results": "2"}
WORKED_EXAMPLE_TEXT = (
    "HEADER\tschema_id\tlabeled\n"
    "HEADER\tschema_version\t2.1\n"
    "START\n"
    "METADATA\tentry_point\n"
    "METADATA\tqir_profiles\tbase_profile\n"
    "METADATA\trequired_num_qubits\t2\n"
    "METADATA\trequired_num_results\t2\n"
    "OUTPUT\tRESULT\t0\tr0\n"
    "OUTPUT\tRESULT\t1\tr1\n"
    "OUTPUT\tDOUBLE\t-1.5\tenergy\n"
    "OUTPUT\tARRAY\t[3, 4]\tcounts\n"
    "END\t0\n"
    "START\n"
    "OUTPUT\tRESULT\t1\tr0\n"
    "OUTPUT\tRESULT\t1\tr1\n"
    "OUTPUT\tBOOL\ttrue\tok\n"
    "OUTPUT\tRESULT_ARRAY\t101\tbits\n"
    "END\t0\n"
)
ONE_EMPTY_SHOT = (
    "HEADER\tschema_id\tlabeled\n"
    "HEADER\tschema_version\t2.1\n"
    "START\n"
    "METADATA\tentry_point\n"
    "METADATA\tqir_profiles\tbase_profile\n"
    "METADATA\trequired_num_qubits\t0\n"
    "METADATA\trequired_num_results\t0\n"
    "END\t0\n"
)


class Sized:
    """`len()` and iteration disagree; records whether it was iterated."""

    def __init__(self, length, shots):
        self.length, self.shots, self.iterated = length, shots, False

    def __len__(self):
        return self.length

    def __iter__(self):
        self.iterated = True
        return iter(self.shots)


# (results, attributes, expected document)
DOCUMENTS = [
    (WORKED_EXAMPLE_SHOTS, WORKED_EXAMPLE_ATTRIBUTES, WORKED_EXAMPLE_TEXT),
    (tuple(tuple(s) for s in WORKED_EXAMPLE_SHOTS), WORKED_EXAMPLE_ATTRIBUTES, WORKED_EXAMPLE_TEXT),
    ([], None, ""),
    ((), [1, 2], ""),
    ([], {1: "x"}, ""),
    ([[]], {}, ONE_EMPTY_SHOT),
    ([[]], {"entry_point": "x"}, ONE_EMPTY_SHOT),
    ([[], []], {}, ONE_EMPTY_SHOT + "START\nEND\t0\n"),
    ([[("SYS:INT:x", 1), ("USER:NOPE:y", 2)], []], {}, ONE_EMPTY_SHOT + "START\nEND\t0\n"),
    (
        [[("USER:INT:a", 1)], [("USER:INT:b", 2)], [("USER:INT:c", 3)]],
        {"qir_profiles": "adaptive_profile"},
        "HEADER\tschema_id\tlabeled\n"
        "HEADER\tschema_version\t2.1\n"
        "START\n"
        "METADATA\tentry_point\n"
        "METADATA\tqir_profiles\tadaptive_profile\n"
        "METADATA\trequired_num_qubits\t0\n"
        "METADATA\trequired_num_results\t0\n"
        "OUTPUT\tINT\t1\ta\n"
        "END\t0\n"
        "START\n"
        "OUTPUT\tINT\t2\tb\n"
        "END\t0\n"
        "START\n"
        "OUTPUT\tINT\t3\tc\n"
        "END\t0\n",
    ),
    (Sized(2, [[], []]), {}, ONE_EMPTY_SHOT + "START\nEND\t0\n"),
    (Sized(1, [[], []]), {}, ONE_EMPTY_SHOT + "START\nEND\t0\n"),
    (Sized(3, []), {}, ""),
]


@pytest.mark.parametrize(("results", "attributes", "text"), DOCUMENTS)
def test_document_text(formatter, warning_log, results, attributes, text):
    document = formatter.qir_labeled_output(results, attributes)
    assert type(document) is str
    assert document == text
    assert warning_log.count == 0


def test_zero_length_is_never_iterated(formatter):
    results = Sized(0, [[("USER:INT:a", 1)]])
    assert formatter.qir_labeled_output(results, None) == ""
    assert not results.iterated


@pytest.mark.parametrize(
    ("attributes", "message"),
    [
        (None, "'None' is not an instance of 'dict'"),
        ({1: "x"}, "'int' object is not an instance of 'str'"),
    ],
)
def test_attributes_converted_when_length_is_nonzero_even_without_shots(formatter, attributes, message):
    for results in (Sized(3, []), [[]]):
        with pytest.raises(TypeError) as info:
            formatter.qir_labeled_output(results, attributes)
        assert str(info.value) == message


def test_generator_results_fail_on_len_and_are_not_consumed(formatter):
    shots = (s for s in [[("USER:INT:a", 1)], []])
    with pytest.raises(TypeError, match=r"has no len\(\)"):
        formatter.qir_labeled_output(shots, {})
    assert next(shots) == [("USER:INT:a", 1)]


class FailingResults:
    """Has a length; its iteration or its length raises a given exception."""

    def __init__(self, exc, where, shots=()):
        self.exc, self.where, self.shots = exc, where, shots

    def __len__(self):
        if self.where == "len":
            raise self.exc
        return len(self.shots) + 1

    def __iter__(self):
        if self.where == "iter":
            raise self.exc
        yield from self.shots
        raise self.exc


class FailingStr:
    def __init__(self, exc):
        self.exc = exc

    def __str__(self):
        raise self.exc


@pytest.mark.parametrize(
    "make_results",
    [
        lambda exc: FailingResults(exc, "len"),
        lambda exc: FailingResults(exc, "iter"),
        lambda exc: FailingResults(exc, "next", shots=[[("USER:INT:a", None)]]),
        lambda exc: [[("USER:INT:a", None)], FailingResults(exc, "iter")],
        lambda exc: [[("USER:INT:a", None)], [("USER:INT:b", None), FailingResults(exc, "len")]],
    ],
)
@pytest.mark.parametrize("attributes", [{}, None, {"k": FailingStr(Boom("attributes"))}])
def test_bad_shot_raises_first_and_logs_nothing(formatter, warning_log, make_results, attributes):
    exc = Boom("results")
    with pytest.raises(Boom) as info:
        formatter.qir_labeled_output(make_results(exc), attributes)
    assert info.value is exc
    assert warning_log.count == 0


def test_bad_last_shot_raises_type_error_without_warnings(formatter, warning_log):
    results = [[("USER:INT:a", None), ("USER:RESULT_ARRAY:b", [2])], [("USER:INT:c", 1), 5]]
    with pytest.raises(TypeError, match=r"has no len\(\)"):
        formatter.qir_labeled_output(results, None)
    assert warning_log.count == 0


def test_attribute_error_after_shots_logs_nothing(formatter, warning_log):
    exc = Boom("attributes")
    with pytest.raises(Boom) as info:
        formatter.qir_labeled_output([[("USER:INT:a", None)]], {"k": FailingStr(exc)})
    assert info.value is exc
    assert warning_log.count == 0


def test_not_iterable_results_raise_from_iter(formatter):
    class OnlyLen:
        def __len__(self):
            return 1

    with pytest.raises(TypeError, match="not iterable"):
        formatter.qir_labeled_output(OnlyLen(), {})


def test_malformed_values_over_shots_are_each_warned(formatter, warning_log):
    results = [
        [("USER:INT:a", None), ("USER:RESULT:r0", 1)],
        [("USER:RESULT_ARRAY:b", [1, 2]), ("USER:QIRTUPLE:t", (1,)), ("USER:BOOL:ok", 0)],
    ]
    document = formatter.qir_labeled_output(results, {})
    assert warning_log.count == 3
    assert document == (
        ONE_EMPTY_SHOT[: -len("END\t0\n")]
        + "OUTPUT\tRESULT\t1\tr0\n"
        "END\t0\n"
        "START\n"
        "OUTPUT\tBOOL\tfalse\tok\n"
        "END\t0\n"
    )
