"""Labeled output read the way a Python user would read it by hand: split the
lines, split the tabs, convert the values.

It is the yardstick for the native reader, so it is plain, idiomatic Python
that gives the native reader's shots for the benchmark's documents.
"""

from collections import Counter

RAW_TYPES = {
    "RESULT": "RESULT",
    "INT": "INT",
    "BOOL": "BOOL",
    "DOUBLE": "FLOAT",
    "RESULT_ARRAY": "RESULT_ARRAY",
    "ARRAY": "QIRARRAY",
    "TUPLE": "QIRTUPLE",
}


def scalar(text):
    if text in ("True", "False"):
        return text == "True"
    try:
        return int(text)
    except ValueError:
        return float(text)


def value(qir_type, text):
    if qir_type == "BOOL":
        return text == "true"
    if qir_type == "RESULT_ARRAY":
        return [int(bit) for bit in text]
    if text.startswith("["):
        return [scalar(item) for item in text[1:-1].split(", ")] if text != "[]" else []
    return scalar(text)


def read_shots(text):
    """Every shot as a list of ("USER:<raw type>:<label>", value) pairs."""
    shots = []
    shot = []
    for line in text.splitlines():
        fields = line.split("\t")
        kind = fields[0]
        if kind == "OUTPUT":
            qir_type = fields[1]
            shot.append((f"USER:{RAW_TYPES[qir_type]}:{fields[3]}", value(qir_type, fields[2])))
        elif kind == "START":
            shot = []
        elif kind == "END":
            shots.append(shot)
    return shots


def bit_string(shot):
    """RESULT values and RESULT_ARRAY bits in record order."""
    return "".join(
        "".join(map(str, v)) if key.startswith("USER:RESULT_ARRAY:") else str(v)
        for key, v in shot
        if key.startswith(("USER:RESULT:", "USER:RESULT_ARRAY:"))
    )


def counts(text):
    """Bit string to number of shots."""
    return Counter(bit_string(shot) for shot in read_shots(text))
