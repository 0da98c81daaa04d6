"""A document in chunks, from any source the reading API accepts.

A source is the document text itself (`str`), its bytes, a path (`os.PathLike`)
or a binary or text file object.  The native reader and checker split the
chunks into lines themselves.
"""

from __future__ import annotations

import os
from collections.abc import Callable, Iterator

CHUNK_CHARS = 1 << 20
# The checker reports a line longer than this (in bytes) instead of holding
# it, so that memory stays bounded whatever a file holds.
MAX_LINE_CHARS = 1 << 24


def source_chunks(source: object, *, whole: bool = False) -> Iterator[str | bytes | bytearray]:
    """The document in pieces of at most CHUNK_CHARS, or as one piece when `whole`
    and it is already in memory. A source of the wrong kind fails here, at the call.
    """
    if isinstance(source, (str, bytes, bytearray, memoryview)):
        text = bytes(source) if isinstance(source, memoryview) else source
        if whole:
            return iter([text])
        return (text[start : start + CHUNK_CHARS] for start in range(0, len(text), CHUNK_CHARS))
    if isinstance(source, os.PathLike):
        return _read_path(source)
    if callable(read := getattr(source, "read", None)):
        return _read_all(read)
    raise TypeError(f"source must be str, bytes, a path or a file object, not {type(source).__name__!r}")


def _read_path(path: os.PathLike[str]) -> Iterator[str | bytes]:
    with open(path, "rb") as file:
        yield from _read_all(file.read)


def _read_all(read: Callable[[int], str | bytes]) -> Iterator[str | bytes]:
    while chunk := read(CHUNK_CHARS):
        yield chunk
