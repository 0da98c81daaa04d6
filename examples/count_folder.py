"""Counts the shots of every labeled output file in a folder, one worker process per core.

(`brevant-read --counts -j N FILE ...` does the same from the command line; this
shows how to do it from Python.) Counts merge by addition: each file is read and counted on its own, in parallel, and the
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

from brevant import LabeledParseError, count_labeled


class Unreadable(Exception):
    """A file that could not be counted, named; it travels back from a worker intact."""


def count_file(path: Path, labels: list[str] | None) -> Counter[str]:
    try:
        return Counter(count_labeled(path, labels))
    except (OSError, LabeledParseError) as exc:
        raise Unreadable(f"{path}: {exc}") from None


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
    # Checked here, in one line: a worker's error would come back with the pool's traceback.
    if args.labels is not None and len(set(args.labels)) != len(args.labels):
        parser.exit(2, f"{parser.prog}: error: --labels names a label more than once\n")
    if not any(args.folder.glob(args.pattern)):
        parser.exit(2, f"{parser.prog}: error: no file in {str(args.folder)!r} matches {args.pattern!r}\n")
    try:
        total = count_folder(args.folder, args.pattern, args.labels)
    except Unreadable as exc:
        parser.exit(2, f"{parser.prog}: error: {exc}\n")
    print(json.dumps(dict(total.most_common()), indent=1))


if __name__ == "__main__":
    main()
