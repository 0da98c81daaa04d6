"""Everyday use of the formatter, written as a typed application would write it."""

import io
import logging
from typing import Any

from brevant import QirLabeledFormatter

Shot = list[tuple[str, Any]]

SHOTS: list[Shot] = [
    [("USER:RESULT:r0", 0), ("USER:RESULT:r1", 1), ("USER:FLOAT:energy", -1.5)],
    [("USER:RESULT:r0", 1), ("USER:RESULT:r1", 1), ("USER:RESULT_ARRAY:bits", [True, False])],
]
ATTRIBUTES: dict[str, str | None] = {"required_num_qubits": "2", "required_num_results": "2"}


def stream(shots: list[Shot], attributes: dict[str, str | None], out: io.TextIOBase) -> None:
    formatter = QirLabeledFormatter()
    formatter.results_header(out)
    formatter.write_first_shot(out, shots[0], attributes)
    for shot in shots[1:]:
        formatter.write_shot(out, shot)


def piece_by_piece(shots: list[Shot], out: io.TextIOBase) -> None:
    formatter = QirLabeledFormatter()
    formatter.results_header(out)
    formatter.first_shot_header(out, {"qir_profiles": None})
    formatter.emit_values_in_shot(out, shots[0])
    formatter.emit(out, "INT", "extra", 7)
    formatter.shot_footer(out)


def checks(formatter: QirLabeledFormatter) -> bool:
    """A present value under a string tag passes; a None value does not."""
    by_table = all(check(formatter, "energy", -1.5) for check in QirLabeledFormatter.val_fns)
    valid = formatter.validate_tag_and_value("energy", -1.5) and formatter._val_tag_type("t", None)
    return by_table and valid and not formatter._val_null("energy", None)


def document(shots: list[Shot]) -> str:
    bits: Any = QirLabeledFormatter().format_value("RESULT_ARRAY", [1, 0])
    assert bits == "10"
    return QirLabeledFormatter().qir_labeled_output(shots, ATTRIBUTES)


def main() -> tuple[str, str]:
    """Both forms of the same result set; the warnings of malformed values stay silent."""
    logging.getLogger("brevant.labeled_formatter").setLevel(logging.ERROR)
    out = io.StringIO()
    stream(SHOTS, ATTRIBUTES, out)
    piece_by_piece(SHOTS, io.StringIO())
    assert checks(QirLabeledFormatter())
    return out.getvalue(), document(SHOTS)
