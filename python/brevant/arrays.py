"""Read results as numpy arrays: bit matrices and one array per label.

numpy is imported only by these functions, so ``import brevant`` needs only
the standard library.
"""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Any, Iterable, Iterator

from brevant import _columns
from brevant._lines import source_chunks

if TYPE_CHECKING:
    import numpy

    from brevant.reader import LabeledResult

__all__ = ["iter_bits"]

INSTALL_HINT = "this needs numpy: pip install numpy (or pip install 'brevant[numpy]')"
BIT_ORDERS = ("record", "reversed")
# The array type of each scalar record type, as the reader's shots name it.
ARRAY_TYPES = {"RESULT": "uint8", "BOOL": "bool", "INT": "int64", "FLOAT": "float64"}


def numpy_module() -> Any:
    try:
        import numpy
    except ImportError as error:
        raise ImportError(INSTALL_HINT) from error
    return numpy


def check_bit_order(bit_order: str) -> bool:
    """Whether the first bit goes rightmost."""
    if bit_order not in BIT_ORDERS:
        raise ValueError(f"bit_order must be 'record' or 'reversed', not {bit_order!r}")
    return bit_order == "reversed"


def bit_matrix(memory: list[str], packed: bool = False) -> numpy.ndarray:
    """The bit strings as a (shots, bits) uint8 matrix, or packed by numpy.packbits."""
    np = numpy_module()
    width = len(memory[0]) if memory else 0
    for shot, bits in enumerate(memory):
        if len(bits) != width:
            raise ValueError(f"shot {shot} has {len(bits)} bits where shot 0 has {width}: the bits make no matrix")
    matrix = np.frombuffer("".join(memory).encode("ascii"), np.uint8).reshape(len(memory), width) - ord("0")
    return np.packbits(matrix, axis=1) if packed else matrix


def result_arrays(result: LabeledResult, fill: Any = None) -> dict[str, numpy.ndarray]:
    """Each scalar label's values as one array (see `LabeledResult.arrays`)."""
    np = numpy_module()
    types: dict[str, str] = {}
    for shot in result.shots():
        for key, _ in shot:
            _, raw_type, label = key.split(":", 2)
            types.setdefault(label, raw_type)
    arrays = {}
    for label, values in result.columns().items():
        dtype = ARRAY_TYPES.get(types.get(label, ""))
        if dtype is None:
            continue
        if any(value is None for value in values):
            if fill is None:
                raise ValueError(f"label {label!r} is missing from some shots; pass fill= to stand in for it")
            values = [fill if value is None else value for value in values]
        arrays[label] = np.array(values, dtype=dtype)
    return arrays


def iter_bits(
    source: Any, labels: Iterable[str] | None = None, *, shots: int = 65536, bit_order: str = "record"
) -> Iterator[numpy.ndarray]:
    """(shots, bits) uint8 matrices for successive chunks of at most `shots` shots.

    The bits are `LabeledResult.memory`'s. A document in brevant's own form
    (RESULT records in the first shot's order in every shot) given as text,
    bytes or a path is scanned straight into the matrices, in memory bounded
    by a chunk; any other document, and a file object, is read whole first.
    """
    np = numpy_module()
    if shots < 1:
        raise ValueError(f"shots must be at least 1, not {shots}")
    reversed_ = check_bit_order(bit_order)
    chosen = None if labels is None else [labels] if isinstance(labels, str) else list(labels)
    given = 0
    if isinstance(source, (str, bytes, bytearray, memoryview, os.PathLike)):
        scan = _columns.bit_scan(chosen, reversed_)
        ended = False
        for chunk in source_chunks(source, whole=True):
            if not _columns.bit_scan_feed(scan, chunk):
                break
            while _columns.bit_scan_ready(scan) >= shots:
                yield rows(np, scan, shots)
                given += shots
        else:
            ended = _columns.bit_scan_finish(scan)
        if ended:
            while _columns.bit_scan_ready(scan):
                yield rows(np, scan, shots)
            return
    from brevant.reader import read_labeled

    matrix = read_labeled(source).bits(chosen, bit_order=bit_order)
    for start in range(given, len(matrix), shots):  # the quick scan gave the rows before `given`
        yield matrix[start : start + shots]


def rows(np: Any, scan: Any, shots: int) -> numpy.ndarray:
    data, count, width = _columns.bit_scan_take(scan, shots)
    return np.frombuffer(data, np.uint8).reshape(count, width)
