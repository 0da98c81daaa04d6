"""Columns of values, one array per record, written as QIR labeled output.

``columns`` is an iterable of ``(key, array)`` tuples in record order, with
``key`` a formatter key ``"USER:<raw type>:<tag>"`` and ``array`` anything
with the buffer protocol (a numpy array, ``array.array``, ``memoryview``,
``bytes``), read without a Python object per value:

- RESULT and BOOL: one value per shot, ``bool``, ``uint8`` or ``int8``;
- INT and UINT: one value per shot, integers of any width;
- FLOAT: one value per shot, ``float64`` or ``float32``;
- RESULT_ARRAY: a (shots, bits) matrix of ``bool``, ``uint8`` or ``int8``, or
  ``(key, packed, bits)`` with ``packed`` as ``numpy.packbits(matrix, axis=1)``
  gives it (the first bit in the high bit, as Qiskit's ``BitArray`` keeps it).

The text is what `QirLabeledFormatter.qir_labeled_output` writes for the
values numpy's ``tolist()`` gives, except that a RESULT value is a bit: a bool
is written 0 or 1, and any value but 0 or 1 is malformed. A malformed value
(also an integer beyond int64) is skipped and logged as the formatter does. A
bad column (its key, element type, dimensions or shot count) raises
`TypeError` or `ValueError` naming it, before anything is written.
``attributes`` fills the first shot's METADATA block as for the formatter;
``None`` leaves the defaults.
"""

from __future__ import annotations

import io
from typing import Any, Iterable

from brevant import _columns

__all__ = ["format_columns", "write_columns"]

Columns = Iterable[tuple[Any, ...]]


def format_columns(columns: Columns, attributes: dict[str, Any] | None = None) -> str:
    """The labeled document of the columns as one ``str`` ("" without shots)."""
    return _columns.format_columns(columns, attributes)


def write_columns(out: Any, columns: Columns, attributes: dict[str, Any] | None = None) -> None:
    """Writes the document to ``out.write`` in pieces of about 1 MiB.

    The pieces are ``bytes`` for a binary file (an ``io.RawIOBase`` or
    ``io.BufferedIOBase``, such as ``open(path, "wb")``, ``io.BytesIO`` or a
    ``gzip.GzipFile``, or any object whose ``mode`` holds "b"), and ``str``
    otherwise. The warnings for a piece's malformed values are logged before
    the piece is written.
    """
    _columns.write_columns(out.write, columns, attributes, _is_binary(out))


def _is_binary(out: Any) -> bool:
    if isinstance(out, (io.RawIOBase, io.BufferedIOBase)):
        return True
    if isinstance(out, io.TextIOBase):
        return False
    mode = getattr(out, "mode", "")
    return isinstance(mode, str) and "b" in mode
