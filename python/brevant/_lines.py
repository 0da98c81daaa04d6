"""A document in chunks, from any source the reading API accepts.

A source is the document text itself (`str`), its bytes, a path (`os.PathLike`)
or a binary or text file object.  The native reader and checker split the
chunks into lines themselves, at LF, CR or CRLF and nowhere else.

Bytes that start as gzip, bzip2, xz or zstd data are decompressed as they are
read, by the standard library's modules (zstd needs `compression.zstd`, from
Python 3.14); a damaged stream raises that module's error.
"""

from __future__ import annotations

import importlib
import io
import os
import sys
from collections.abc import Callable, Iterator
from typing import Any, AnyStr, Generic

CHUNK_CHARS = 1 << 20
# The checker reports a line longer than this (in bytes) instead of holding
# it, so that memory stays bounded whatever a file holds.
MAX_LINE_CHARS = 1 << 24


# The first bytes of each compressed format, and the standard module that reads it.
COMPRESSIONS = {
    b"\x1f\x8b": "gzip",
    b"BZh": "bz2",
    b"\xfd7zXZ\x00": "lzma",
    b"\x28\xb5\x2f\xfd": "compression.zstd",
}
_MAGIC_BYTES = max(map(len, COMPRESSIONS))
# What those modules raise for damaged data, besides OSError and EOFError.
_DAMAGED = (("zlib", "error"), ("_lzma", "LZMAError"), ("compression.zstd", "ZstdError"))


def source_chunks(source: object, *, whole: bool = False) -> Iterator[str | bytes | bytearray]:
    """The document in pieces of at most CHUNK_CHARS, or as one piece when `whole`
    and it is already in memory. A source of the wrong kind fails here, at the call.
    """
    if isinstance(source, (bytes, bytearray, memoryview)) and compression(bytes(source[:_MAGIC_BYTES])):
        return _read_stream(io.BytesIO(source))
    if isinstance(source, (str, bytes, bytearray, memoryview)):
        text = bytes(source) if isinstance(source, memoryview) else source
        if whole:
            return iter([text])
        return (text[start : start + CHUNK_CHARS] for start in range(0, len(text), CHUNK_CHARS))
    if isinstance(source, os.PathLike):
        return _read_path(source)
    if callable(getattr(source, "read", None)):
        return _read_stream(source)
    raise TypeError(f"source must be str, bytes, a path or a file object, not {type(source).__name__!r}")


def _read_path(path: os.PathLike[str]) -> Iterator[str | bytes]:
    with open(path, "rb") as file:
        yield from _read_stream(file)


def _read_stream(stream: Any) -> Iterator[str | bytes]:
    read = decompressed(stream).read
    while chunk := read(CHUNK_CHARS):
        yield chunk


def compression(head: object) -> str | None:
    """The module that decompresses data starting with `head`, or None for plain data."""
    if not isinstance(head, bytes):
        return None
    return next((module for magic, module in COMPRESSIONS.items() if head.startswith(magic)), None)


def decompressed(stream: Any) -> Any:
    """A binary stream, or the stream of what it decompresses to; text streams pass as they are.

    A buffered stream is looked at without reading it; any other gets what was read
    to look at it back first.
    """
    peek = getattr(stream, "peek", None)
    if peek is not None:
        head = peek(_MAGIC_BYTES)[:_MAGIC_BYTES]
    else:
        head = stream.read(_MAGIC_BYTES)
        while len(head) < _MAGIC_BYTES and (more := stream.read(_MAGIC_BYTES - len(head))):
            head += more  # a pipe may hand out fewer bytes than asked for
        stream = _Held(head, stream.read)
    module = compression(head)
    if module is None:
        return stream
    try:
        opener = importlib.import_module(module).open
    except ImportError:
        raise ValueError(
            f"the input is {module.removeprefix('compression.')}-compressed, which Python {sys.version_info.major}"
            f".{sys.version_info.minor} cannot read ({module} comes with 3.14): decompress it first"
        ) from None
    return opener(stream, "rb")


def reading_errors() -> tuple[type[Exception], ...]:
    """Every error that reading a source may raise for what it holds: a damaged compressed
    stream, or (ValueError) a compression this Python cannot read."""
    loaded = [getattr(sys.modules[module], name) for module, name in _DAMAGED if module in sys.modules]
    return (OSError, EOFError, ValueError, *loaded)


class _Held(Generic[AnyStr]):
    """A stream whose first bytes were read already: they are handed out first."""

    def __init__(self, head: AnyStr, read: Callable[[int], AnyStr]) -> None:
        self.head: AnyStr = head
        self.rest: Callable[[int], AnyStr] = read

    def read(self, size: int = -1) -> AnyStr:
        if not self.head:
            return self.rest(size)
        if size < 0:
            piece, self.head = self.head + self.rest(-1), self.head[:0]
            return piece
        piece, self.head = self.head[:size], self.head[size:]
        return piece

    read1 = read
