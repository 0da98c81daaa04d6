"""A slow, plain-Python reference for what QirLabeledFormatter produces.

Every streaming method here takes the native method's arguments minus `qo`
and returns ``(writes, warnings)``: the texts the formatter hands to
``qo.write`` and the number of warning records it logs.  `qir_labeled_output`
returns ``(document, warnings)``.  Python exceptions raised while reading the
caller's objects propagate, as they do from the formatter.

Values are modelled with plain Python objects: a scalar is an exact `bool`,
`int` or `float`, a list of scalars is a `list`, and anything the formatter
cannot represent is `INVALID`.  This module must not import brevant: it is the
independent side of the differential tests.
"""

import math

from shared import RESULTS_HEADER, SHOT_END, SHOT_START

INT64_MIN = -(2**63)
INT64_MAX = 2**63 - 1

# The caller's raw type names and the QIR type each one is written as.
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

METADATA_DEFAULTS = (
    ("qir_profiles", "base_profile"),
    ("required_num_qubits", "0"),
    ("required_num_results", "0"),
)


class _Marker:
    def __init__(self, name):
        self.name = name

    def __repr__(self):
        return self.name


INVALID = _Marker("INVALID")
UNCHANGED = _Marker("UNCHANGED")


# --- classification -------------------------------------------------------


def classify_scalar(obj):
    """The exact bool/int/float an object stands for, or None."""
    # bool first: it is an int subclass but renders differently.
    if type(obj) is bool:
        return obj
    if isinstance(obj, int):
        # int.__int__ reads the stored value; a subclass's __int__ is never run.
        value = int.__int__(obj)
        return value if INT64_MIN <= value <= INT64_MAX else None
    if isinstance(obj, float):
        return float.__float__(obj)
    return None


def classify_value(obj):
    scalar = classify_scalar(obj)
    if scalar is not None:
        return scalar
    if isinstance(obj, list):
        # The list's storage, not whatever a subclass's __iter__ yields.
        items = []
        for i in range(list.__len__(obj)):
            item = classify_scalar(list.__getitem__(obj, i))
            if item is None:
                return INVALID
            items.append(item)
        return items
    return INVALID


# --- rendering ------------------------------------------------------------


def float_text(x):
    """Shortest round-trip digits of a double, laid out without an exponent."""
    if math.isnan(x):
        return "nan"
    if math.isinf(x):
        return "inf" if x > 0 else "-inf"
    shortest = float.__repr__(x)  # e.g. "-1.5e-07", "1e+16", "0.001", "-0.0"
    sign = "-" if shortest.startswith("-") else ""
    mantissa, _, exponent = shortest.lstrip("-").partition("e")
    whole, _, fraction = mantissa.partition(".")
    digits = whole + fraction
    # The value is 0.<digits> * 10**point.
    point = len(whole) + int(exponent or 0)
    stripped = digits.lstrip("0")
    point -= len(digits) - len(stripped)
    digits = stripped.rstrip("0")
    if not digits:
        return sign + "0.0"
    if point <= 0:
        return sign + "0." + "0" * -point + digits
    if point >= len(digits):
        return sign + digits + "0" * (point - len(digits)) + ".0"
    return sign + digits[:point] + "." + digits[point:]


def scalar_text(scalar):
    if type(scalar) is float:
        return float_text(scalar)
    return repr(scalar)  # "True"/"False" and plain decimal ints


def value_text(value):
    if value is INVALID:
        return None
    if type(value) is list:
        return "[" + ", ".join(scalar_text(item) for item in value) + "]"
    return scalar_text(value)


def bit_text(items):
    bits = []
    for item in items:
        if type(item) is bool:
            bits.append("1" if item else "0")
        elif type(item) is int and item in (0, 1):
            bits.append(str(item))
        else:
            return None
    return "".join(bits)


def is_truthy(value):
    if value is INVALID:
        return False
    if type(value) is list:
        return len(value) > 0
    return value != 0  # NaN compares unequal to 0, so it is truthy


def special_text(type_text, value):
    """The text a QIR type forces on a value, None if it cannot, or UNCHANGED."""
    if type_text == "BOOL":
        return "true" if is_truthy(value) else "false"
    if type_text == "RESULT_ARRAY":
        return bit_text(value) if type(value) is list else None
    return UNCHANGED


def record_value_text(qir_type, value):
    text = special_text(qir_type, value)
    return value_text(value) if text is UNCHANGED else text


# --- emission -------------------------------------------------------------


def utf8_text(obj):
    """The text of a str (or subclass) that has a UTF-8 form, else None."""
    if not isinstance(obj, str):
        return None
    try:
        obj.encode("utf-8")
    except UnicodeEncodeError:
        return None
    return str.__str__(obj)


class Buffer:
    def __init__(self):
        self.text = ""
        self.skipped = 0


def emit_value(buf, raw_type, tag, value):
    qir_type = QIR_TYPES.get(raw_type)
    if qir_type is None:
        return
    text = record_value_text(qir_type, value)
    if text is None:
        buf.skipped += 1
        return
    # Only BOOL gives an invalid value a text; such a value is still not written.
    if tag is None or value is INVALID:
        return
    buf.text += f"OUTPUT\t{qir_type}\t{text}\t{tag}\n"


def emit_shot_values(buf, entries):
    for key, value in entries:
        if not key.startswith("USER:"):
            continue
        raw_type, colon, tag = key[len("USER:") :].partition(":")
        if colon:
            emit_value(buf, raw_type, tag, value)


def parse_shot(shot):
    """The shot's (key, classified value) entries; protocol errors propagate."""
    entries = []
    for item in shot:
        if item is None or len(item) < 2:
            continue
        key = utf8_text(item[0])
        if key is None:
            continue
        entries.append((key, classify_value(item[1])))
    return entries


# --- attributes -----------------------------------------------------------


def type_mismatch(obj, expected):
    if obj is None:
        return TypeError(f"'None' is not an instance of '{expected}'")
    return TypeError(f"'{type(obj).__qualname__}' object is not an instance of '{expected}'")


def convert_attributes(attributes):
    if not isinstance(attributes, dict):
        raise type_mismatch(attributes, "dict")
    converted = {}
    for key, value in dict.items(attributes):
        if not isinstance(key, str):
            raise type_mismatch(key, "str")
        key.encode("utf-8")
        text = str(value)
        text.encode("utf-8")
        converted[str.__str__(key)] = str.__str__(text)
    return converted


def first_shot_header_text(attribute_map):
    text = SHOT_START + "METADATA\tentry_point\n"
    for key, default in METADATA_DEFAULTS:
        text += f"METADATA\t{key}\t{attribute_map.get(key, default)}\n"
    return text


# --- the formatter's methods ------------------------------------------------


def _delivered(text, skipped):
    return ([text] if text else []), skipped


def emit(ftype, tag, val):
    buf = Buffer()
    emit_value(buf, utf8_text(ftype) or "", utf8_text(tag), classify_value(val))
    return _delivered(buf.text, buf.skipped)


def emit_values_in_shot(shot):
    entries = parse_shot(shot)
    buf = Buffer()
    emit_shot_values(buf, entries)
    return _delivered(buf.text, buf.skipped)


def results_header():
    return _delivered(RESULTS_HEADER, 0)


def first_shot_header(attributes):
    return _delivered(first_shot_header_text(convert_attributes(attributes)), 0)


def shot_footer():
    return _delivered(SHOT_END, 0)


def write_shot(shot):
    entries = parse_shot(shot)
    buf = Buffer()
    buf.text = SHOT_START
    emit_shot_values(buf, entries)
    buf.text += SHOT_END
    return _delivered(buf.text, buf.skipped)


def write_first_shot(shot, attributes):
    entries = parse_shot(shot)
    buf = Buffer()
    buf.text = first_shot_header_text(convert_attributes(attributes))
    emit_shot_values(buf, entries)
    buf.text += SHOT_END
    return _delivered(buf.text, buf.skipped)


def qir_labeled_output(results, attributes):
    if len(results) == 0:
        return "", 0
    shots = [parse_shot(shot) for shot in results]
    attribute_map = convert_attributes(attributes)
    buf = Buffer()
    for index, entries in enumerate(shots):
        if index == 0:
            buf.text += RESULTS_HEADER + first_shot_header_text(attribute_map)
        else:
            buf.text += SHOT_START
        emit_shot_values(buf, entries)
        buf.text += SHOT_END
    return buf.text, buf.skipped


def format_value(type_str, val):
    """The native method's result: a str, None, or `val` itself."""
    if not isinstance(type_str, str):
        raise type_mismatch(type_str, "str")
    type_str.encode("utf-8")
    text = special_text(str.__str__(type_str), classify_value(val))
    return val if text is UNCHANGED else text
