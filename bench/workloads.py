"""Seeded result sets shaped like the shots users format.

Every shot gets its own key `str` objects, built at generation time, as a
parser or a simulator hands them over: a formatter must not be able to profit
from keys that are the same object shot after shot.
"""

import random

ATTRIBUTES = {
    "qir_profiles": "adaptive_profile",
    "required_num_qubits": "20",
    "required_num_results": "20",
}

WIDE_ENTRIES = 10_000


def _double(rng):
    # Magnitudes from 1e-8 to 1e8, so both short and long decimal texts occur.
    return rng.uniform(-1.0, 1.0) * 10.0 ** rng.randint(-8, 8)


def measure(shots, seed=0):
    """20 measured results per shot, the common case."""
    rng = random.Random(seed)
    return [[(f"USER:RESULT:r{i}", rng.getrandbits(1)) for i in range(20)] for _ in range(shots)]


def lists(shots, seed=0):
    """`measure` with each entry a 2-element list, as `json.loads` gives it."""
    rng = random.Random(seed)
    return [[[f"USER:RESULT:r{i}", rng.getrandbits(1)] for i in range(20)] for _ in range(shots)]


def floats(shots, seed=0):
    """20 doubles per shot."""
    rng = random.Random(seed)
    return [[(f"USER:FLOAT:f{i}", _double(rng)) for i in range(20)] for _ in range(shots)]


def wide(shots, seed=0):
    """Few shots of 10,000 measured results each."""
    rng = random.Random(seed)
    return [
        [(f"USER:RESULT:r{i}", rng.getrandbits(1)) for i in range(WIDE_ENTRIES)]
        for _ in range(shots)
    ]


def mixed(shots, seed=0):
    """20 entries per shot over every value kind, 2 of them not user values."""
    rng = random.Random(seed)
    makers = {
        "INT": lambda: rng.randint(-(2**63), 2**63 - 1),
        "FLOAT": lambda: _double(rng),
        "BOOL": lambda: rng.random() < 0.5,
        "RESULT_ARRAY": lambda: [rng.getrandbits(1) for _ in range(16)],
        "QIRARRAY": lambda: [rng.randint(-(2**31), 2**31 - 1) for _ in range(4)],
        "RESULT": lambda: rng.getrandbits(1),
        "SYS": lambda: rng.getrandbits(32),
    }
    counts = {"INT": 4, "FLOAT": 4, "BOOL": 2, "RESULT_ARRAY": 2, "QIRARRAY": 2, "RESULT": 4, "SYS": 2}
    layout = [(kind, i) for kind, n in counts.items() for i in range(n)]
    rng.shuffle(layout)  # one fixed interleaving, the same in every shot

    def key(kind, i):
        return f"SYS:COUNTER:c{i}" if kind == "SYS" else f"USER:{kind}:{kind.lower()}{i}"

    return [[(key(kind, i), makers[kind]()) for kind, i in layout] for _ in range(shots)]


WORKLOADS = {"measure": measure, "mixed": mixed, "wide": wide, "floats": floats, "lists": lists}
