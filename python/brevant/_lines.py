"""Lines of a document, read in chunks from any source the reading API accepts.

A source is the document text itself (`str`), its bytes, a path (`os.PathLike`)
or a binary or text file object.  Lines end at LF, CR or CRLF and nowhere else
(unlike `str.splitlines`, which also splits at form feeds and Unicode line
separators that belong to the text they sit in).

Bytes that start as gzip, bzip2, xz or zstd data are decompressed as they are
read, by the standard library's modules (zstd needs `compression.zstd`, from
Python 3.14); a damaged stream raises that module's error.
"""

from __future__ import annotations

import codecs
import importlib
import io
import os
import sys
from collections.abc import Callable, Iterator
from typing import Any, AnyStr, Generic

CHUNK_CHARS = 1 << 20
# A line longer than this is reported, not held, so that memory stays bounded
# whatever a file holds.
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


class LongLine:
    """Stands in for a line longer than MAX_LINE_CHARS."""

    def __init__(self, length: int) -> None:
        self.length = length


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


def decompression_errors() -> tuple[type[Exception], ...]:
    """Every error that reading a damaged compressed stream may raise."""
    loaded = [getattr(sys.modules[module], name) for module, name in _DAMAGED if module in sys.modules]
    return (OSError, EOFError, *loaded)


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


def text_chunks(source: object) -> Iterator[str]:
    """The document as chunks of `str`; bytes are UTF-8.

    Bytes that are not UTF-8 become lone surrogates, so a bad byte stays
    visible as one character instead of failing the whole read.
    """
    decoder = codecs.getincrementaldecoder("utf-8")("surrogateescape")
    for chunk in source_chunks(source):
        yield chunk if isinstance(chunk, str) else decoder.decode(chunk)
    yield decoder.decode(b"", final=True)


def iter_lines(source: object) -> Iterator[str | LongLine]:
    """Every line of the document without its line ending.

    A final line ending is optional, as it is in the grammar: "A\\n" and "A" are
    both one line, while "A\\n\\n" is two, the second empty.
    """
    pending: list[str] = []  # the current line's text seen so far
    pending_chars = 0
    long_line = False
    held_cr = False  # a chunk ended in CR: it may be the first half of CRLF
    for chunk in text_chunks(source):
        if held_cr:
            chunk = "\r" + chunk
        held_cr = chunk.endswith("\r")
        if held_cr:
            chunk = chunk[:-1]
        pieces = chunk.replace("\r\n", "\n").replace("\r", "\n").split("\n")
        for piece in pieces[:-1]:
            if long_line or pending_chars + len(piece) > MAX_LINE_CHARS:
                yield LongLine(pending_chars + len(piece))
            else:
                pending.append(piece)
                yield "".join(pending)
            pending, pending_chars, long_line = [], 0, False
        last = pieces[-1]
        pending_chars += len(last)
        if pending_chars > MAX_LINE_CHARS:
            pending, long_line = [], True
        elif last:
            pending.append(last)
    if held_cr or pending_chars:
        yield LongLine(pending_chars) if long_line else "".join(pending)
