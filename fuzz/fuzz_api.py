"""atheris target: result sets, shots and attributes built from the fuzzer's
bytes go through the formatter and through the plain-Python model in
tests/model.py; the texts, the number of `write` calls, the number of warnings
and any exception raised must agree.

    python fuzz/fuzz_api.py -max_total_time=180 /tmp/fuzz-api-corpus

The model is instrumented, so the fuzzer is guided by which of its branches
an input reaches; the formatter's own branches mirror them.
"""

import logging
import os
import struct
import sys

import atheris

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
with atheris.instrument_imports():
    import model

# Subclasses whose overrides the formatter must not consult.
from shared import FloatSub, IntSub, ListSub, StrSub

from brevant import QirLabeledFormatter

RAW_TYPES = [*model.QIR_TYPES, "DOUBLE", "ARRAY", "TUPLE", "int", "Float", "", "BOOL ", "RESULT:ARRAY"]
KEY_PREFIXES = ["USER:", "USER:", "USER:", "user:", "USER", "OTHER:", ""]
ATTRIBUTE_KEYS = ["qir_profiles", "required_num_qubits", "required_num_results", "QIR_PROFILES", "other"]
INT_EDGES = [0, 1, -1, 2, model.INT64_MIN, model.INT64_MAX, model.INT64_MIN - 1, model.INT64_MAX + 1, 2**64]


def text(fdp, max_chars=6):
    # Any code point, surrogates included: those have no UTF-8 form.
    return fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, max_chars))


def double(fdp):
    return struct.unpack("<d", fdp.ConsumeBytes(8).ljust(8, b"\0"))[0]


def scalar(fdp):
    kind = fdp.ConsumeIntInRange(0, 5)
    if kind == 0:
        return fdp.ConsumeBool()
    if kind == 1:
        return fdp.PickValueInList(INT_EDGES)
    if kind == 2:
        return fdp.ConsumeInt(fdp.ConsumeIntInRange(1, 10))  # up to 80 bits
    if kind == 3:
        return double(fdp)
    if kind == 4:
        return IntSub(fdp.PickValueInList(INT_EDGES))
    return FloatSub(double(fdp))


def value(fdp, depth=0):
    kind = fdp.ConsumeIntInRange(0, 9)
    if kind <= 3:
        return scalar(fdp)
    if kind <= 7 and depth < 2:
        items = [value(fdp, depth + 1) if fdp.ConsumeIntInRange(0, 7) == 0 else scalar(fdp)
                 for _ in range(fdp.ConsumeIntInRange(0, 5))]
        return (list, list, ListSub, tuple)[kind - 4](items)
    return fdp.PickValueInList([None, "1", b"1", 1j, {}, set()])


def raw_type(fdp):
    return fdp.PickValueInList(RAW_TYPES) if fdp.ConsumeIntInRange(0, 5) else text(fdp)


def key(fdp):
    separator = "" if fdp.ConsumeIntInRange(0, 7) == 7 else ":"
    k = fdp.PickValueInList(KEY_PREFIXES) + raw_type(fdp) + separator + text(fdp)
    return StrSub(k) if fdp.ConsumeIntInRange(0, 9) == 9 else k


def item(fdp):
    kind = fdp.ConsumeIntInRange(0, 9)
    if kind == 0:
        return None
    if kind == 1:
        return (key(fdp),)  # too short to hold a value
    if kind == 2:
        return [key(fdp), value(fdp), "extra"]
    if kind == 3:
        return (fdp.PickValueInList([None, 5, b"USER:INT:t"]), value(fdp))  # key not a str
    return (key(fdp), value(fdp))


def shot(fdp):
    items = [item(fdp) for _ in range(fdp.ConsumeIntInRange(0, 6))]
    return tuple(items) if fdp.ConsumeIntInRange(0, 4) == 0 else items


def attributes(fdp):
    attrs = {}
    for _ in range(fdp.ConsumeIntInRange(0, 4)):
        k = fdp.PickValueInList(ATTRIBUTE_KEYS) if fdp.ConsumeBool() else text(fdp)
        attrs[k] = fdp.PickValueInList([text(fdp), None, 3, 2.5, True]) if fdp.ConsumeBool() else text(fdp)
    if fdp.ConsumeIntInRange(0, 15) == 15:
        attrs[fdp.PickValueInList([1, None, b"k"])] = "v"  # key not a str
    return attrs


class Recorder:
    def __init__(self):
        self.writes = []

    def write(self, s):
        self.writes.append(s)


class Counter(logging.Handler):
    def __init__(self):
        super().__init__(logging.DEBUG)
        self.count = 0

    def emit(self, record):
        assert record.getMessage() == "Skipping malformed QIR output value", record.getMessage()
        self.count += 1


WARNINGS = Counter()
LOGGER = logging.getLogger("brevant.labeled_formatter")
LOGGER.addHandler(WARNINGS)
LOGGER.setLevel(logging.DEBUG)
LOGGER.propagate = False
FORMATTER = QirLabeledFormatter()


def outcome(run):
    """What a call gave, or the type and text of the exception it raised."""
    try:
        return run()
    except Exception as error:  # the model and the formatter must fail alike
        return ("raised", type(error), str(error))


def native(method, *args):
    """Like the model's answer: (what reached the caller, warnings logged)."""

    def run():
        WARNINGS.count = 0
        if method == "qir_labeled_output":
            return FORMATTER.qir_labeled_output(*args), WARNINGS.count
        qo = Recorder()
        getattr(FORMATTER, method)(qo, *args)
        return qo.writes, WARNINGS.count

    return outcome(run)


def check(method, *args):
    expected = outcome(lambda: getattr(model, method)(*args))
    got = native(method, *args)
    if expected != got:
        raise AssertionError(f"{method}{args!r}:\n  model:     {expected!r}\n  formatter: {got!r}")


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    results = [shot(fdp) for _ in range(fdp.ConsumeIntInRange(0, 4))]
    check("qir_labeled_output", results, attributes(fdp))
    for s in results[:2]:
        check("write_shot", s)
    # emit takes any object as its type and tag; only a str names a type.
    odd = [None, 5, StrSub("INT")]
    ftype = fdp.PickValueInList(odd) if fdp.ConsumeIntInRange(0, 9) == 9 else raw_type(fdp)
    tag = fdp.PickValueInList(odd) if fdp.ConsumeIntInRange(0, 9) == 9 else text(fdp)
    check("emit", ftype, tag, value(fdp))


if __name__ == "__main__":
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()
