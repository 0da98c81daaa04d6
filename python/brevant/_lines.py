"""Lines of a document, read in chunks from any source the reading API accepts.

A source is the document text itself (`str`), its bytes, a path (`os.PathLike`)
or a binary or text file object.  Lines end at LF, CR or CRLF and nowhere else
(unlike `str.splitlines`, which also splits at form feeds and Unicode line
separators that belong to the text they sit in).
"""

from __future__ import annotations

import codecs
import os
from collections.abc import Callable, Iterable, Iterator

CHUNK_CHARS = 1 << 20
# A line longer than this is reported, not held, so that memory stays bounded
# whatever a file holds.
MAX_LINE_CHARS = 1 << 24


class LongLine:
    """Stands in for a line longer than MAX_LINE_CHARS."""

    def __init__(self, length: int) -> None:
        self.length = length


def _read_all(read: Callable[[int], str | bytes]) -> Iterator[str | bytes]:
    while chunk := read(CHUNK_CHARS):
        yield chunk


def _decoded(chunks: Iterable[str | bytes]) -> Iterator[str]:
    """Text chunks; bytes are UTF-8.

    Bytes that are not UTF-8 become lone surrogates, so a bad byte stays
    visible as one character instead of failing the whole read.
    """
    decoder = codecs.getincrementaldecoder("utf-8")("surrogateescape")
    for chunk in chunks:
        yield chunk if isinstance(chunk, str) else decoder.decode(chunk)
    yield decoder.decode(b"", final=True)


def text_chunks(source: object) -> Iterator[str]:
    """The document as chunks of `str`, whatever form `source` takes."""
    if isinstance(source, str):
        for start in range(0, len(source), CHUNK_CHARS):
            yield source[start : start + CHUNK_CHARS]
    elif isinstance(source, (bytes, bytearray, memoryview)):
        data = memoryview(source).cast("B")
        yield from _decoded(
            bytes(data[start : start + CHUNK_CHARS]) for start in range(0, len(data), CHUNK_CHARS)
        )
    elif isinstance(source, os.PathLike):
        with open(source, "rb") as file:
            yield from _decoded(_read_all(file.read))
    elif callable(read := getattr(source, "read", None)):
        yield from _decoded(_read_all(read))
    else:
        raise TypeError(
            "source must be str, bytes, os.PathLike or a file object, "
            f"not {type(source).__name__}"
        )


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
