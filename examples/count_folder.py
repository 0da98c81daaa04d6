"""Counts the shots of every labeled output file in a folder, one worker process per core.

Counts merge by addition: each file is read and counted on its own, in parallel, and the
per-file counts are summed. Only the small count dicts travel between processes.

    python examples/count_folder.py FOLDER [--pattern '*.txt'] [--labels r0,r1,r2]
"""

from __future__ import annotations

import argparse
import json
from collections import Counter
from concurrent.futures import ProcessPoolExecutor
from functools import partial
from pathlib import Path

from brevant import read_labeled


def count_file(path: Path, labels: list[str] | None) -> Counter[str]:
    return Counter(read_labeled(path).counts(labels))


def count_folder(folder: Path, pattern: str, labels: list[str] | None) -> Counter[str]:
    paths = sorted(folder.glob(pattern))
    total: Counter[str] = Counter()
    with ProcessPoolExecutor() as pool:
        for counts in pool.map(partial(count_file, labels=labels), paths):
            total.update(counts)
    return total


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", type=Path)
    parser.add_argument("--pattern", default="*.txt", help="which files to count (default: *.txt)")
    parser.add_argument("--labels", type=lambda text: text.split(","), help="bits to count, in order")
    args = parser.parse_args()
    print(json.dumps(dict(count_folder(args.folder, args.pattern, args.labels).most_common()), indent=1))


if __name__ == "__main__":
    main()
