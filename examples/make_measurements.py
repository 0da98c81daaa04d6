"""Writes measurements.jsonl: shots of a noisy 3-qubit GHZ circuit, one shot per line.

Each shot measures q0..q2 into r0..r2 and also reports the three bits as one
result array, the number of ones, and whether the three qubits agreed. Readout
flips each bit with a small probability, so a few shots disagree. Seeded, so
re-running it reproduces the committed file exactly.

    python examples/make_measurements.py [SHOTS]

measurements.txt beside it is the same shots as labeled output, for the readers to read:

    brevant-labeled examples/measurements.jsonl -o examples/measurements.txt
"""

import json
import random
import sys
from pathlib import Path

SEED = 2026
READOUT_ERROR = 0.03


def shot(rng: random.Random) -> list[list[object]]:
    ideal = rng.randrange(2)  # the GHZ state collapses to 000 or 111
    bits = [ideal ^ (rng.random() < READOUT_ERROR) for _ in range(3)]
    entries: list[list[object]] = [[f"USER:RESULT:r{q}", bit] for q, bit in enumerate(bits)]
    entries.append(["USER:RESULT_ARRAY:c", bits])
    entries.append(["USER:INT:ones", sum(bits)])
    entries.append(["USER:BOOL:agree", len(set(bits)) == 1])
    return entries


def main() -> None:
    shots = int(sys.argv[1]) if len(sys.argv) > 1 else 400
    rng = random.Random(SEED)
    path = Path(__file__).with_name("measurements.jsonl")
    with path.open("w", encoding="utf-8", newline="\n") as out:
        for _ in range(shots):
            out.write(json.dumps(shot(rng)) + "\n")


if __name__ == "__main__":
    main()
