"""Labeled output written the way a Python user would write it by hand.

It is the yardstick for what the native module saves its users, so it aims to
be plain, idiomatic Python that gives the very same text, not a fast hack.
"""

import logging
import math
from decimal import Decimal

logger = logging.getLogger("brevant.labeled_formatter")

QIR_TYPES = {
    "INT": "INT",
    "UINT": "INT",
    "BOOL": "BOOL",
    "FLOAT": "DOUBLE",
    "RESULT": "RESULT",
    "QIRARRAY": "ARRAY",
    "QIRTUPLE": "TUPLE",
    "RESULT_ARRAY": "RESULT_ARRAY",
}
INT64_MIN, INT64_MAX = -(2**63), 2**63 - 1


def is_scalar(value):
    if isinstance(value, int):  # bool included
        return INT64_MIN <= value <= INT64_MAX
    return isinstance(value, float)


def float_text(x):
    if math.isnan(x):
        return "nan"
    if math.isinf(x):
        return "inf" if x > 0 else "-inf"
    text = repr(x)  # shortest round-trip digits, but may use an exponent
    if "e" in text:
        text = format(Decimal(text), "f")
        if "." not in text:
            text += ".0"
    return text


def scalar_text(value):
    if type(value) is bool:
        return str(value)
    if isinstance(value, int):
        return "%d" % value
    return float_text(value)


def is_valid(value):
    if isinstance(value, list):
        return all(map(is_scalar, value))
    return is_scalar(value)


def bit_text(bit):
    if isinstance(bit, int) and bit in (0, 1):  # True and False included
        return "1" if bit else "0"
    return None


def value_text(qir_type, value):
    """The value field of an OUTPUT record, or None for a malformed value."""
    if qir_type == "BOOL":
        return "true" if value else "false"
    if not is_valid(value):
        return None
    if qir_type == "RESULT_ARRAY":
        if not isinstance(value, list):
            return None
        bits = [bit_text(bit) for bit in value]
        return None if None in bits else "".join(bits)
    if isinstance(value, list):
        return "[" + ", ".join(map(scalar_text, value)) + "]"
    return scalar_text(value)


def shot_lines(shot):
    """OUTPUT lines of a shot's user values, and how many values were malformed."""
    lines, skipped = [], 0
    for entry in shot:
        if entry is None or len(entry) < 2:
            continue
        key, value = entry[0], entry[1]
        if not isinstance(key, str) or not key.startswith("USER:"):
            continue
        raw_type, sep, tag = key[5:].partition(":")
        qir_type = QIR_TYPES.get(raw_type)
        if not sep or qir_type is None:
            continue
        if qir_type == "BOOL" and not is_valid(value):
            continue  # an unusable BOOL is dropped without a warning
        text = value_text(qir_type, value)
        if text is None:
            skipped += 1
        else:
            lines.append(f"OUTPUT\t{qir_type}\t{text}\t{tag}\n")
    return lines, skipped


def qir_labeled_output(results, attributes):
    if len(results) == 0:
        return ""
    metadata = {key: str(value) for key, value in attributes.items()}
    out = ["HEADER\tschema_id\tlabeled\n", "HEADER\tschema_version\t2.1\n"]
    skipped = 0
    for index, shot in enumerate(results):
        out.append("START\n")
        if index == 0:
            out.append("METADATA\tentry_point\n")
            for key, default in (("qir_profiles", "base_profile"),
                                 ("required_num_qubits", "0"),
                                 ("required_num_results", "0")):
                out.append(f"METADATA\t{key}\t{metadata.get(key, default)}\n")
        lines, shot_skipped = shot_lines(shot)
        out += lines
        skipped += shot_skipped
        out.append("END\t0\n")
    for _ in range(skipped):
        logger.warning("Skipping malformed QIR output value")
    return "".join(out)
