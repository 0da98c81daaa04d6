"""Reading QIR output records back into shots, values, counts and columns.

The reader takes the labeled and the ordered schema, versions 1.0 to 2.1 or
no HEADER at all, METADATA once or in every shot, containers as ``[3, 4]``
values or as ``ARRAY n``/``TUPLE n`` followed by n element records, and
LF, CR or CRLF line ends. A value keeps the type its text shows ("True" is a
bool, "3" an int, "3.0" a float, whatever the record's type), and an INT of
any length is a Python int.

Shots are in the formatter's input form, one ``("USER:<raw type>:<label>",
value)`` pair per record, so `QirLabeledFormatter.qir_labeled_output` writes
the same records again. A container is a pair whose value is its element
count, ``("USER:QIRARRAY:ghz", 3)``, followed by the pairs of its elements
with their own types and labels (nested containers alike).
`LabeledResult.values` puts the elements back inside their containers.

Bit strings (`LabeledResult.counts`, `LabeledResult.memory`, `count_labeled`)
hold a shot's RESULT values and the bits of its RESULT_ARRAY values:

- In a labeled document a label, not a record's place, names a result: each
  label keeps the place of its first appearance in the document, whatever the
  order of the records within a shot. Shots must record the same RESULT
  labels; where they differ (adaptive programs may), counting without
  ``labels=`` raises a ValueError naming the first shot that differs.
- Without labels (the ordered schema), and in a shot that leaves a label empty
  or records one twice, a result's place is its record's place.
- ``labels=`` takes only those labels, in the order given (a marginal). A
  successful shot that lacks one is an error, or with ``errors="collect"`` a
  problem that leaves the shot out.
- ``bit_order="record"`` (the default) puts the first result leftmost, as a
  RESULT_ARRAY is written; ``bit_order="reversed"`` puts it rightmost, as
  Qiskit's ``Counts`` and ``memory`` do. A RESULT_ARRAY's bits turn with it.
- A shot whose END code is not 0 failed: it is not an outcome of the program,
  and counts leave it out unless ``include_failed=True``. `memory` keeps one
  bit string per shot, failed ones included, in step with `shots` and
  `exit_codes`; a failed shot gives the bits it recorded before it stopped.

A ``source`` is the document text itself (a ``str``, as for `json.loads`;
never a path), ``bytes``, a path (``os.PathLike``), or a binary or text file
object, read in chunks; gzip, bzip2 and xz data (zstd from Python 3.14) is
decompressed as it is read.

Every departure from the record format is found while reading: with
``errors="raise"`` the first raises `LabeledParseError`; with
``errors="collect"`` the shot it occurred in is left out and the departure is
listed in ``problems``. A RESULT that is not a bit, an unknown schema, a
header given again with another value (the first one holds) and fields after
START or after END's exit code are departures too. A document that was read
never raises a parse error later.

A log states its own counts and lengths, so the reader bounds them before it
holds anything for them: a line of at most 16 MiB, at most 1,048,576 distinct
labels in one shot, containers nested at most 256 deep, at most 2**26 records
a shot and INT values of at most 4,300 digits. Beyond those, reading fails
with a `LabeledParseError` at the line. Streaming readers hold one chunk and
one shot, however many distinct labels the document holds.
"""

from __future__ import annotations

import gc
import re
from collections import Counter
from contextlib import contextmanager
from itertools import islice
from types import TracebackType
from typing import TYPE_CHECKING, Any, Iterable, Iterator, overload

from brevant._feeding import BitOrder, ErrorMode, chosen_labels, chunked_readers, hint_for_str
from brevant._lines import source_chunks
from brevant._reader import RAW_TYPE_KINDS, LabeledParseError, Reader

if TYPE_CHECKING:
    import numpy

__all__ = ["LabeledParseError", "LabeledReader", "LabeledResult", "count_labeled", "iter_shots", "read_labeled"]

Shot = list[tuple[str, Any]]


class LabeledResult:
    """A read document: its shots, headers, first METADATA block and problems.

    ``len()``, iteration and indexing go over the shots. `shots` gives them in
    the formatter's input form, `values` as the program's output. `problems`
    lists a `LabeledParseError` for each departure met with
    ``errors="collect"`` (the first 1,000), the shots that `counts` or
    `memory` left out included; it is empty otherwise.
    """

    def __init__(self, reader: Reader, hint: hint_for_str | None = None) -> None:
        self._reader = reader
        self._hint = hint  # for problems of a one-line str read as a document
        #: The HEADER records; a header given twice keeps its first value.
        self.headers: dict[str, str] = reader.headers()
        #: The first METADATA block; a key written without a value maps to None.
        self.attributes: dict[str, str | None] = reader.attributes()
        #: "labeled" or "ordered".
        self.schema: str = reader.schema()
        #: The schema_version header ("2.1", ...), or None without one.
        self.version: str | None = reader.version()

    @property
    def problems(self) -> list[LabeledParseError]:
        problems = self._reader.problems()
        return [self._hint.hinted(problem) for problem in problems] if self._hint else problems

    def __len__(self) -> int:
        return len(self._reader)

    def __iter__(self) -> Iterator[Shot]:
        return iter(self._reader.shots())

    @overload
    def __getitem__(self, index: int) -> Shot: ...
    @overload
    def __getitem__(self, index: slice) -> list[Shot]: ...
    def __getitem__(self, index: int | slice) -> Shot | list[Shot]:
        if isinstance(index, slice):
            return self._reader.shots()[index]
        count = len(self)
        position = index.__index__()
        return self._reader.shot(position + count if position < 0 else position)[0]

    def __repr__(self) -> str:
        return f"<LabeledResult: {len(self)} shots, {self.schema} {self.version}>"

    @property
    def exit_codes(self) -> list[int]:
        """Each shot's END code; a shot with a non-zero code failed, and is kept."""
        return self._reader.exit_codes()

    def shots(self) -> list[Shot]:
        """Every shot as a list of ``("USER:<raw type>:<label>", value)`` pairs,
        one per record, a container's value being its element count."""
        return self._reader.shots()

    def values(self) -> list[dict[str, Any]] | list[list[Any]]:
        """The program's output, one ``dict`` per shot from each top-level label
        to its value (a label given twice keeps its first value).

        A container becomes a ``list`` (ARRAY) or ``tuple`` (TUPLE) of its
        elements' values, nested as written; where every element is labelled
        with its index (``[0]``, ``[1]``, ... or ``.0``, ``.1``, ..., at the end
        of the label) the elements take their places by index. RESULT values
        are ``int`` 0 or 1, BOOL ``bool``, INT ``int``, DOUBLE ``float``, and a
        RESULT_ARRAY a list of bits. A document without labels (the ordered
        schema, or one whose labels are all empty) gives a ``list`` of values
        per shot instead.
        """
        shots = self._reader.shots()
        labelled = any(not key.endswith(":") for shot in shots for key, _ in shot)
        with _collector_paused():
            return [_shot_values(shot, not labelled) for shot in shots]  # type: ignore[return-value]

    def counts(
        self, labels: Iterable[str] | None = None, *, bit_order: BitOrder = "record", include_failed: bool = False
    ) -> dict[str, int]:
        """Bit string to number of shots (see the module's documentation)."""
        return self._reader.counts(chosen_labels(labels), bit_order, include_failed)

    def memory(self, labels: Iterable[str] | None = None, *, bit_order: BitOrder = "record") -> list[str]:
        """One bit string per shot, failed shots included (see the module's documentation)."""
        return self._reader.memory(chosen_labels(labels), bit_order)

    def columns(self) -> dict[str, list[Any]]:
        """Label to one value per shot, None where a shot lacks it.

        Ready for ``pandas.DataFrame(result.columns())``. Every label has its
        column, the labels of container elements included; a container's own
        column holds its element count. Records without a label (the ordered
        schema) or with an empty one are named by their place in the shot,
        "0", "1", ...; a label
        repeated within a shot keeps its first value, and so does a tag that
        stands under two types, or one that reads like an unlabeled record's
        place, in the same document.
        """
        return self._reader.columns()

    def bits(
        self, labels: Iterable[str] | None = None, *, bit_order: BitOrder = "record", packed: bool = False
    ) -> numpy.ndarray:
        """`memory` as a (shots, bits) ``numpy.ndarray`` of ``uint8`` 0s and 1s,
        or packed as ``numpy.packbits(bits, axis=1)`` gives it; a ValueError
        where the shots' bit strings differ in length. Needs numpy."""
        from brevant.arrays import result_bits

        return result_bits(self._reader, chosen_labels(labels), bit_order, packed)

    def arrays(self, fill: Any = None) -> dict[str, numpy.ndarray]:
        """Each RESULT, BOOL, INT and DOUBLE label to a ``numpy.ndarray`` of
        ``uint8``, ``bool``, ``int64`` or ``float64``, one value per shot. A label
        that some shots lack is a ValueError, unless ``fill`` stands in for it.
        Needs numpy."""
        from brevant.arrays import label_arrays

        columns = self.columns()
        return label_arrays(columns, self._label_kinds(columns), fill)

    def _label_kinds(self, labels: Iterable[str]) -> dict[str, str]:
        """Each label's kind of value, by its first record, read a shot at a
        time only as far as the first shot that leaves none of `labels` without one."""
        kinds: dict[str, str] = {}
        wanted = set(labels)
        for index in range(len(self)):
            for key, _ in self._reader.shot(index)[0]:
                _, raw_type, label = key.split(":", 2)
                kinds.setdefault(label, RAW_TYPE_KINDS.get(raw_type, ""))
            if wanted <= kinds.keys():
                break
        return kinds


class LabeledReader:
    """A push reader: `feed` it chunks split anywhere, as a runner emits them.

    `feed` returns the shots its chunk completed and keeps none of them, so
    memory stays bounded by a chunk and the largest shot. `close` ends the
    input and returns a `LabeledResult` with the headers, the first METADATA
    block and the problems (its shots are those not yet handed out: none).
    As a context manager, it is closed on leaving the block without an error;
    the result is then in `result`.
    """

    def __init__(self, *, errors: ErrorMode = "raise") -> None:
        self._reader = Reader(keep=False, errors=errors)
        self.result: LabeledResult | None = None

    def feed(self, data: str | bytes | bytearray | memoryview) -> list[Shot]:
        """The shots this chunk completed. Shots completed before an error are
        returned first; the error is raised by the next call."""
        try:
            self._reader.feed(data.tobytes() if isinstance(data, memoryview) else data)
        except LabeledParseError:
            shots = self._reader.take()
            if not shots:
                raise
            return shots  # the reader raises the same error on every later call
        return self._reader.take()

    def close(self) -> LabeledResult:
        self._reader.close()
        self.result = LabeledResult(self._reader)
        return self.result

    def __enter__(self) -> LabeledReader:
        return self

    def __exit__(
        self, kind: type[BaseException] | None, error: BaseException | None, traceback: TracebackType | None
    ) -> None:
        if kind is None:
            self.close()


def read_labeled(source: Any, *, errors: ErrorMode = "raise") -> LabeledResult:
    """Reads a whole document.

    With ``errors="raise"`` the first departure raises `LabeledParseError`;
    with ``errors="collect"`` every complete shot without one is kept and the
    departures are listed on the result's ``problems``.
    """
    reader = Reader(keep=True, errors=errors)
    hint = hint_for_str(source)
    with hint:
        for chunk in source_chunks(source, whole=True):
            reader.feed(chunk)
        reader.close()
    return LabeledResult(reader, hint)


def iter_shots(source: Any, *, errors: ErrorMode = "raise") -> Iterator[Shot]:
    """Yields the shots of `read_labeled(source).shots()` one at a time.

    Memory stays bounded by a chunk and the largest shot, never the file.
    With ``errors="collect"`` shots with departures are skipped silently;
    use `read_labeled` to see why.
    """
    return (shot for shot, _ in shots_with_exit_codes(source, errors))


def shots_with_exit_codes(source: Any, errors: ErrorMode) -> Iterator[tuple[Shot, int]]:
    """`iter_shots`, each shot with its END code."""
    reader = Reader(keep=False, errors=errors)
    return _stream(reader, source_chunks(source), hint_for_str(source))


def count_labeled(
    source: Any,
    labels: Iterable[str] | None = None,
    *,
    errors: ErrorMode = "raise",
    bit_order: BitOrder = "record",
    include_failed: bool = False,
) -> dict[str, int]:
    """`read_labeled(source).counts(...)`, in memory bounded by a chunk, the
    largest shot and the number of distinct outcomes, never the file: for files
    of gigabytes.

    `source` may also be a list of sources, each a document of its own, whose
    counts are summed.
    """
    total: Counter[str] = Counter()
    for one in source if isinstance(source, list) else [source]:
        total.update(count_stream(one, labels, errors=errors, bit_order=bit_order, include_failed=include_failed)[0])
    return dict(total)


def count_stream(
    source: Any,
    labels: Iterable[str] | None = None,
    *,
    errors: ErrorMode = "raise",
    bit_order: BitOrder = "record",
    include_failed: bool = False,
) -> tuple[dict[str, int], int, list[LabeledParseError]]:
    """`count_labeled` of one source, with how many failed shots it left out and
    the problems met with ``errors="collect"``."""
    chosen = chosen_labels(labels)
    total: Counter[str] = Counter()
    left_out = 0
    for reader in chunked_readers(source, errors):
        counts, failed = reader.count_completed(chosen, bit_order, include_failed)
        total.update(counts)
        left_out += failed
    return dict(total), left_out, reader.problems()


def _stream(
    reader: Reader, chunks: Iterator[str | bytes | bytearray], hint: hint_for_str
) -> Iterator[tuple[Shot, int]]:
    with hint:
        try:
            for chunk in chunks:
                reader.feed(chunk)
                yield from _taken(reader)
            reader.close()
        except LabeledParseError:
            # The shots completed before the error are the caller's: hand them over first.
            yield from _taken(reader)
            raise
    yield from _taken(reader)


def _taken(reader: Reader) -> Iterator[tuple[Shot, int]]:
    """The shots completed since the last take, with their END codes (a reader that keeps
    no shots holds the codes of those alone)."""
    codes = reader.exit_codes()
    return zip(reader.take(), codes, strict=True)


@contextmanager
def _collector_paused() -> Iterator[None]:
    """The collector paused while many containers are built at once (its
    passes over the growing heap would cost more than the build), then put
    back as the caller had it."""
    enabled = gc.isenabled()
    gc.disable()
    try:
        yield
    finally:
        if enabled:
            gc.enable()


# A label that ends in its element's index: "[2]", "c[2]", ".2" or "t.2".
_INDEX_LABEL = re.compile(r"(?:\[(\d+)\]|\.(\d+))\Z")
_CONTAINERS: dict[str, type] = {"list": list, "tuple": tuple}


def _scalar_value(kind: str | None, value: Any) -> Any:
    if isinstance(value, list):
        return value
    if kind == "bit":
        return int(value)
    if kind == "bool":
        return bool(value)
    if kind == "int" and isinstance(value, bool):
        return int(value)
    if kind == "float" and isinstance(value, int):
        return float(value)
    return value


def _entry_value(key: str, value: Any, rest: Iterator[tuple[str, Any]]) -> tuple[str, Any]:
    """The label and value of one record, taking a container's elements from `rest`."""
    _, raw, label = key.split(":", 2)
    kind = RAW_TYPE_KINDS.get(raw)
    make = _CONTAINERS.get(kind or "")
    if make is None or type(value) is not int:
        return label, _scalar_value(kind, value)
    # A failed shot may have stopped before its containers were complete.
    elements = [_entry_value(*entry, rest) for entry in islice(rest, value)]
    places = [_INDEX_LABEL.search(element_label) for element_label, _ in elements]
    if all(places):
        indexes = [int(place[1] or place[2]) for place in places]  # type: ignore[index]
        if sorted(indexes) == list(range(len(elements))):
            elements = [element for _, element in sorted(zip(indexes, elements))]
    return label, make(element_value for _, element_value in elements)


def _shot_values(shot: Shot, ordered: bool) -> dict[str, Any] | list[Any]:
    rest = iter(shot)
    pairs = [_entry_value(key, value, rest) for key, value in rest]
    if ordered:
        return [value for _, value in pairs]
    values: dict[str, Any] = {}
    for label, value in pairs:
        values.setdefault(label, value)
    return values
