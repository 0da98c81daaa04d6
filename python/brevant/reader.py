"""Reading QIR output records back into shots, counts and columns.

The reader takes the labeled and the ordered schema, versions 1.0 to 2.1 or
no HEADER at all, METADATA once or in every shot, containers as ``[3, 4]``
values or as ``ARRAY n``/``TUPLE n`` followed by n element records, and
LF, CR or CRLF line ends. A value keeps the type its text shows ("True" is a
bool, "3" an int, "3.0" a float, whatever the record's type), so shots read
from brevant's own output are written back unchanged by
`QirLabeledFormatter.qir_labeled_output`.

Bit strings (`LabeledResult.counts`, `LabeledResult.memory`) hold a shot's
RESULT values and the bits of its RESULT_ARRAY values in record order, the
first record leftmost; a RESULT_ARRAY's own bits keep their order. With
``labels=`` only the RESULT and RESULT_ARRAY records with those labels are
taken, in the order of ``labels`` (a marginal); every shot must have them.

A ``source`` is the document text itself (a ``str``, never a path), ``bytes``,
a path (``os.PathLike``), or a binary or text file object, read in chunks;
gzip, bzip2 and xz data (zstd from Python 3.14) is decompressed as it is read.

A log states its own counts and lengths, so the reader bounds them before it
holds anything for them: a line of at most 16 MiB, at most 1,048,576 distinct
labels, containers nested at most 256 deep and at most 2**26 records a shot.
Beyond those, reading fails with a `LabeledParseError` at the line.
"""

from __future__ import annotations

from collections import Counter
from typing import Any, Iterable, Iterator

from brevant._lines import source_chunks
from brevant._reader import LabeledParseError, Reader

__all__ = ["LabeledParseError", "LabeledReader", "LabeledResult", "count_labeled", "iter_shots", "read_labeled"]

_ERROR_MODES = ("raise", "collect")

Shot = list[tuple[str, Any]]


class LabeledResult:
    """A read document: its shots, headers, first METADATA block and problems.

    ``len()`` is the number of shots. `shots` gives them in the formatter's
    input form, ``("USER:<raw type>:<label>", value)`` pairs. `problems` lists
    a `LabeledParseError` for each departure met while reading with
    ``errors="collect"`` (the first 1,000; a shot with one is dropped); it is
    empty otherwise.
    """

    def __init__(self, reader: Reader) -> None:
        self._reader = reader
        self.headers: dict[str, str] = reader.headers()
        #: The first METADATA block; a key written without a value maps to None.
        self.attributes: dict[str, str | None] = reader.attributes()
        #: "labeled" or "ordered".
        self.schema: str = reader.schema()
        #: The schema_version header ("2.1", ...), or None without one.
        self.version: str | None = reader.version()
        self.problems: list[LabeledParseError] = reader.problems()

    def __len__(self) -> int:
        return len(self._reader)

    def __repr__(self) -> str:
        return f"<LabeledResult: {len(self)} shots, {self.schema} {self.version}>"

    @property
    def exit_codes(self) -> list[int]:
        """Each shot's END code; non-zero codes are kept, not dropped."""
        return self._reader.exit_codes()

    def shots(self) -> list[Shot]:
        """Every shot as a list of ``("USER:<raw type>:<label>", value)`` pairs.

        A container written as ``ARRAY n`` or ``TUPLE n`` and its element
        records is one pair whose value is the list of its elements.
        """
        return self._reader.shots()

    def counts(self, labels: Iterable[str] | None = None) -> dict[str, int]:
        """Bit string to number of shots (see the module's documentation)."""
        return self._reader.counts(_labels(labels))

    def memory(self, labels: Iterable[str] | None = None) -> list[str]:
        """One bit string per shot (see the module's documentation)."""
        return self._reader.memory(_labels(labels))

    def columns(self) -> dict[str, list[Any]]:
        """Label to one value per shot, None where a shot lacks it.

        Ready for ``pandas.DataFrame(result.columns())``. Records without a
        label (the ordered schema) are named by their place in the shot,
        "0", "1", ...; a label repeated within a shot keeps its first value,
        and so does a tag that stands under two types, or one that reads like
        an unlabeled record's place, in the same document.
        """
        return self._reader.columns()


class LabeledReader:
    """A push reader: `feed` it chunks split anywhere, as a runner emits them.

    `feed` returns the shots its chunk completed; `close` ends the input and
    returns the `LabeledResult` of everything fed.
    """

    def __init__(self, *, errors: str = "raise") -> None:
        self._reader = Reader(keep=True, collect=_collecting(errors))

    def feed(self, data: str | bytes | bytearray) -> list[Shot]:
        """The shots this chunk completed. Shots completed before an error are
        returned first; the error is raised by the next call."""
        try:
            self._reader.feed(data)
        except LabeledParseError:
            shots = self._reader.take()
            if not shots:
                raise
            return shots  # the reader raises the same error on every later call
        return self._reader.take()

    def close(self) -> LabeledResult:
        self._reader.close()
        return LabeledResult(self._reader)


def read_labeled(source: Any, *, errors: str = "raise") -> LabeledResult:
    """Reads a whole document.

    With ``errors="raise"`` the first departure raises `LabeledParseError`;
    with ``errors="collect"`` every complete shot is kept and the departures
    are listed on the result's ``problems``.
    """
    reader = Reader(keep=True, collect=_collecting(errors))
    for chunk in source_chunks(source, whole=True):
        reader.feed(chunk)
    reader.close()
    return LabeledResult(reader)


def iter_shots(source: Any, *, errors: str = "raise") -> Iterator[Shot]:
    """Yields the shots of `read_labeled(source).shots()` one at a time.

    Memory stays bounded by a chunk and the largest shot, never the file.
    With ``errors="collect"`` shots with departures are skipped silently;
    use `read_labeled` to see why.
    """
    reader = Reader(keep=False, collect=_collecting(errors))
    return _stream(reader, source_chunks(source))


def count_labeled(source: Any, labels: Iterable[str] | None = None, *, errors: str = "raise") -> dict[str, int]:
    """`read_labeled(source).counts(labels)`, in memory bounded by a chunk and the
    number of distinct outcomes, never the file: for files of gigabytes.

    `source` may also be a list of sources, whose counts are summed.
    """
    labels = _labels(labels)
    total: Counter[str] = Counter()
    for one in source if isinstance(source, list) else [source]:
        for reader in _chunked(one, errors):
            total.update(reader.counts(labels))
    return dict(total)


def _chunked(source: Any, errors: str) -> Iterator[Reader]:
    """A reader fed `source` a chunk at a time, handed out after each chunk and at the
    end holding only the shots completed since: memory stays bounded by a chunk."""
    reader = Reader(keep=True, collect=_collecting(errors))
    for chunk in source_chunks(source):
        reader.feed(chunk)
        yield reader
        reader.discard()
    reader.close()
    yield reader


def _stream(reader: Reader, chunks: Iterator[str | bytes | bytearray]) -> Iterator[Shot]:
    try:
        for chunk in chunks:
            reader.feed(chunk)
            yield from reader.take()
        reader.close()
    except LabeledParseError:
        # The shots completed before the error are the caller's: hand them over first.
        yield from reader.take()
        raise
    yield from reader.take()


def _collecting(errors: str) -> bool:
    if errors not in _ERROR_MODES:
        raise ValueError(f"errors must be 'raise' or 'collect', not {errors!r}")
    return errors == "collect"


def _labels(labels: Iterable[str] | None) -> list[str] | None:
    if labels is None:
        return None
    chosen = [labels] if isinstance(labels, str) else list(labels)
    if len(set(chosen)) != len(chosen):
        twice = next(label for label in chosen if chosen.count(label) > 1)
        raise ValueError(f"labels name {twice!r} more than once")
    return chosen
