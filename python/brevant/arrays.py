"""Read results as numpy arrays: bit matrices and one array per label.

numpy is imported only by these functions, so ``import brevant`` needs only
the standard library.
"""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Any, Iterable, Iterator, get_args

from brevant import _columns
from brevant._feeding import BitOrder, chosen_labels, chunked_readers
from brevant._lines import source_chunks

if TYPE_CHECKING:
    import numpy

__all__ = ["iter_bits"]

INSTALL_HINT = "this needs numpy: pip install numpy (or pip install 'brevant[numpy]')"
# The array type of each kind of scalar value.
ARRAY_TYPES = {"bit": "uint8", "bool": "bool", "int": "int64", "float": "float64"}


def numpy_module() -> Any:
    try:
        import numpy
    except ImportError as error:
        raise ImportError(INSTALL_HINT) from error
    return numpy


def result_bits(reader: Any, labels: list[str] | None, bit_order: BitOrder, packed: bool) -> numpy.ndarray:
    """`LabeledResult.bits` from the reader's memory, without a str per shot."""
    np = numpy_module()
    data, shots, width = reader.bits(labels, bit_order)
    matrix: numpy.ndarray = np.frombuffer(data, np.uint8).reshape(shots, width)
    return np.packbits(matrix, axis=1) if packed else matrix


def label_arrays(columns: dict[str, list[Any]], kinds: dict[str, str], fill: Any = None) -> dict[str, numpy.ndarray]:
    """Each scalar label's values as one array (see `LabeledResult.arrays`)."""
    np = numpy_module()
    arrays = {}
    for label, values in columns.items():
        dtype = ARRAY_TYPES.get(kinds.get(label, ""))
        if dtype is None:
            continue
        if any(value is None for value in values):
            if fill is None:
                raise ValueError(f"label {label!r} is missing from some shots; pass fill= to stand in for it")
            values = [fill if value is None else value for value in values]
        arrays[label] = np.array(values, dtype=dtype)
    return arrays


def iter_bits(
    source: Any, labels: Iterable[str] | None = None, *, shots: int = 65536, bit_order: BitOrder = "record"
) -> Iterator[numpy.ndarray]:
    """(shots, bits) uint8 matrices for successive chunks of at most `shots` shots.

    The bits are `LabeledResult.memory`'s, in memory bounded by a chunk. A
    document in brevant's own form (RESULT records in the first shot's order
    in every shot) is scanned straight into the matrices. Any other document
    goes through the general reader a chunk at a time, from the start again
    where the scan stopped when the source can be read again (text, bytes, a
    path or a seekable file); a file that cannot seek goes that way from the
    start.
    """
    np = numpy_module()
    if shots < 1:
        raise ValueError(f"shots must be at least 1, not {shots}")
    orders = get_args(BitOrder)
    if bit_order not in orders:
        raise ValueError(f"bit_order must be {' or '.join(map(repr, orders))}, not {bit_order!r}")
    chosen = chosen_labels(labels)
    given = 0
    seekable = callable(getattr(source, "seekable", None)) and source.seekable()
    start = source.tell() if seekable else None
    if seekable or isinstance(source, (str, bytes, bytearray, memoryview, os.PathLike)):
        scan = _columns.bit_scan(chosen, bit_order == "reversed")
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
        if seekable:
            source.seek(start)
    # The quick scan gave the rows before `given`.
    held: list[numpy.ndarray] = []  # rows not given yet, `waiting` of them
    waiting = 0
    for stream in chunked_readers(source, "raise"):
        data, count, width = stream.bits_completed(chosen, bit_order)
        skipped = min(given, count)
        given -= skipped
        if count > skipped:
            held.append(np.frombuffer(data, np.uint8).reshape(count, width)[skipped:])
            waiting += count - skipped
        if waiting >= shots:
            matrix = np.concatenate(held)
            whole = waiting - waiting % shots
            for first in range(0, whole, shots):
                yield matrix[first : first + shots]
            held, waiting = [matrix[whole:]], waiting - whole
    if waiting:
        yield np.concatenate(held)


def rows(np: Any, scan: Any, shots: int) -> numpy.ndarray:
    data, count, width = _columns.bit_scan_take(scan, shots)
    matrix: numpy.ndarray = np.frombuffer(data, np.uint8).reshape(count, width)
    return matrix
