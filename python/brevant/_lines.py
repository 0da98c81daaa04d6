"""Lines of a document, read in chunks from any source the reading API accepts.

A source is the document text itself (`str`), its bytes, a path (`os.PathLike`)
or a binary or text file object.  Lines end at LF, CR or CRLF and nowhere else
(unlike `str.splitlines`, which also splits at form feeds and Unicode line
separators that belong to the text they sit in).
"""

from __future__ import annotations

import codecs
import os
from collections.abc import Callable, Iterator

CHUNK_CHARS = 1 << 20
# A line longer than this is reported, not held, so that memory stays bounded
# whatever a file holds.
MAX_LINE_CHARS = 1 << 24


class LongLine:
    """Stands in for a line longer than MAX_LINE_CHARS."""

    def __init__(self, length: int) -> None:
        self.length = length


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
