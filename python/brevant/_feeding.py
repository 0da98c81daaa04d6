"""What the reading functions share: the arguments they all take, and a
document fed to the native reader a chunk at a time."""

from __future__ import annotations

from typing import Any, Iterable, Iterator, Literal

from brevant._lines import source_chunks
from brevant._reader import LabeledParseError, Reader

ErrorMode = Literal["raise", "collect"]
BitOrder = Literal["record", "reversed"]

STR_SOURCE_HINT = "; a str is the document itself: to read a file, pass a pathlib.Path or an open file"


def chosen_labels(labels: Iterable[str] | None) -> list[str] | None:
    if labels is None:
        return None
    chosen = [labels] if isinstance(labels, str) else list(labels)
    if len(set(chosen)) != len(chosen):
        twice = next(label for label in chosen if chosen.count(label) > 1)
        raise ValueError(f"labels name {twice!r} more than once")
    return chosen


def chunked_readers(source: Any, errors: ErrorMode) -> Iterator[Reader]:
    """A reader fed `source` a chunk at a time, handed out after each chunk and at the
    end holding only the shots completed since: memory stays bounded by a chunk."""
    reader = Reader(keep=True, errors=errors)
    with hint_for_str(source):
        for chunk in source_chunks(source):
            reader.feed(chunk)
            yield reader
            reader.discard()
        reader.close()
    yield reader


class hint_for_str:
    """A one-line str that fails on its first line was most likely meant as a path."""

    def __init__(self, source: object) -> None:
        self.applies = isinstance(source, str) and "\n" not in source and "\r" not in source

    def __enter__(self) -> None:
        return None

    def __exit__(self, kind: object, error: BaseException | None, traceback: object) -> None:
        if isinstance(error, LabeledParseError) and (hinted := self.hinted(error)) is not error:
            raise hinted from None

    def hinted(self, error: LabeledParseError) -> LabeledParseError:
        """The error, with the hint where it applies."""
        if not self.applies or error.line != 1:
            return error
        hinted = LabeledParseError(str(error) + STR_SOURCE_HINT)
        hinted.line, hinted.column = error.line, error.column
        return hinted
