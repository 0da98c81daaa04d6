"""The benchmark's inputs are what they claim, and its hand-written Python
formatter is a fair yardstick: it gives the module's exact text."""

import math
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "bench"))

import pure_python  # noqa: E402
from workloads import ATTRIBUTES, WORKLOADS  # noqa: E402


@pytest.fixture
def native_formatter():
    native = pytest.importorskip("brevant._native")
    return native.QirLabeledFormatter()


@pytest.mark.parametrize("name", sorted(WORKLOADS))
def test_workloads_are_seeded_with_fresh_keys_per_shot(name):
    results = WORKLOADS[name](3, seed=11)
    assert results == WORKLOADS[name](3, seed=11)
    assert results != WORKLOADS[name](3, seed=12)
    keys = [entry[0] for shot in results for entry in shot]
    assert len({id(key) for key in keys}) == len(keys)


@pytest.mark.parametrize("name", sorted(WORKLOADS))
def test_pure_python_matches_module_on_workloads(name, native_formatter):
    results = WORKLOADS[name](3, seed=5)
    expected = native_formatter.qir_labeled_output(results, ATTRIBUTES)
    assert pure_python.qir_labeled_output(results, ATTRIBUTES) == expected


EDGE_SHOTS = [
    [("USER:INT:a", 5), ("USER:UINT:b", -3), ("USER:INT:", 1), ("USER:INT:a:b", 2)],
    [("USER:DOUBLE:a", 1.5), ("USER::a", 1), ("USER:INT", 1), ("SYS:INT:a", 1), ("user:INT:a", 1)],
    [("USER:FLOAT:a", x) for x in (1e16, 1.5e-5, 1e-7, -0.0, 2.0**63, math.nan, -math.inf, 0.1)],
    [("USER:BOOL:a", v) for v in (None, 2, 0, [], [0], math.nan, -0.0, "x", 2**64)],
    [("USER:INT:a", v) for v in (True, [1, 2], [[1]], (1, 2), None, 2**63, -(2**63))],
    [("USER:RESULT_ARRAY:a", v) for v in ([1, 0, True], [], [2], [1.0], 1)],
    [None, ("USER:INT:a",), (b"USER:INT:b", 1), ("USER:INT:c", 1, "extra"), "USER:INT:d"],
    [{0: "USER:INT:a", 1: 7}, ["USER:QIRARRAY:q", [1, 2.5, False]], ("USER:QIRTUPLE:t", 4)],
]


@pytest.mark.parametrize("shots", [EDGE_SHOTS, EDGE_SHOTS[::-1], [[]], [[], []]])
@pytest.mark.parametrize("attributes", [{}, {"qir_profiles": None, "required_num_qubits": 5}])
def test_pure_python_matches_module_on_edge_values(
    shots, attributes, native_formatter, warning_log
):
    expected = native_formatter.qir_labeled_output(shots, attributes)
    module_warnings = warning_log.count
    assert pure_python.qir_labeled_output(shots, attributes) == expected
    assert warning_log.count == 2 * module_warnings
