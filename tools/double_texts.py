"""Compares two builds of the extension on the text they give a fixed set of
doubles and on the doubles they read back from it, for instance the usual
build and one configured with BREVANT_PORTABLE_DOUBLES: each interpreter runs
this file to write "<bits in hex> <record> <bits read back>" lines, and the
first lines that differ are shown. A build that does not read back the very
double it wrote fails on its own.

    python tools/double_texts.py PYTHON_A PYTHON_B [COUNT]

The set (fixed seeds): COUNT random bit patterns, COUNT random doubles from
1e-33 to 2e16 (where the two paths lay the digits out differently), the
powers of 10 and of 2
over the whole range with their neighbours a few units in the last place
away, the bounds of the formatter's layouts, the subnormals at both ends,
integers near 2**53 and short decimals; each with both signs.
"""

import itertools
import math
import random
import struct
import subprocess
import sys
from array import array

SEED = 20260421
NEIGHBOURS = 3
MANTISSA_AND_SIGN = (1 << 63) | ((1 << 52) - 1)


def around(x):
    """x and the doubles up to NEIGHBOURS units in the last place either side."""
    below = above = x
    yield x
    for _ in range(NEIGHBOURS):
        below = math.nextafter(below, -math.inf)
        above = math.nextafter(above, math.inf)
        yield below
        yield above


def structured():
    for k in range(-325, 309):
        yield from around(float(f"1e{k}"))
    for k in range(-1074, 1024):
        yield from around(math.ldexp(1.0, k))
    for bound in (1e-30, 1e-4, 1e15, 1e16, 2.0**53, 2.0**63, sys.float_info.max):
        yield from around(bound)
    for bits in range(1, 4096):  # the smallest subnormals
        yield struct.unpack("<d", struct.pack("<Q", bits))[0]
    for bits in range(2**52 - 4096, 2**52 + 4096):  # the largest, and past the smallest normal
        yield struct.unpack("<d", struct.pack("<Q", bits))[0]
    for n in range(2**53 - 2048, 2**53 + 2048):
        yield float(n)
    short = random.Random(SEED + 1)
    for _ in range(100_000):
        yield round(short.uniform(0, 10.0 ** short.randint(-20, 20)), short.randint(0, 18))
    yield from (0.0, math.inf, math.nan)


def doubles(count):
    draw = random.Random(SEED)
    values = array("d", draw.randbytes(8 * count))
    # Random significands and signs with the exponents from 2**-110 to 2**53.
    exponents = [(1023 + draw.randint(-110, 53)) << 52 for _ in range(count)]
    mixed = array("Q", draw.randbytes(8 * count))
    for i, exponent in enumerate(exponents):
        mixed[i] = mixed[i] & MANTISSA_AND_SIGN | exponent
    values.frombytes(mixed.tobytes())
    values.extend(structured())
    values.extend([-x for x in values])
    return values


class Records:
    """The output object the formatter writes to: the records, one a double."""

    def __init__(self):
        self.records = []

    def write(self, record):
        self.records.append(record)


def write_texts(count):
    from brevant import QirLabeledFormatter, read_labeled

    values = doubles(count)
    out = Records()
    formatter = QirLabeledFormatter()
    for x in values:
        formatter.emit(out, "FLOAT", "t", x)
    shots = "".join(f"START\n{record}END\t0\n" for record in out.records)
    read = read_labeled("HEADER\tschema_id\tlabeled\nHEADER\tschema_version\t2.1\n" + shots).columns()["t"]
    wrong = 0
    for bits, record, back in zip(array("Q", values.tobytes()), out.records, array("d", read), strict=True):
        back_bits = struct.unpack("<Q", struct.pack("<d", back))[0]
        wrong += back_bits != bits and not math.isnan(back)
        sys.stdout.write(f"{bits:016x} {record.rstrip()} {back_bits:016x}\n")
    if wrong:
        sys.exit(f"{wrong} doubles read back as another double")


def compare(pythons, count):
    runs = [
        subprocess.Popen([python, __file__, "--write", str(count)], stdout=subprocess.PIPE, text=True)
        for python in pythons
    ]
    lines = differences = 0
    for lines, (a, b) in enumerate(itertools.zip_longest(*(run.stdout for run in runs)), 1):
        if a != b:
            differences += 1
            if differences <= 10:
                print(f"{pythons[0]}: {a!r}\n{pythons[1]}: {b!r}")
    if any(run.wait() for run in runs):
        sys.exit("a build failed to write its texts")
    if differences:
        sys.exit(f"{differences} of {lines} doubles differ")
    print(f"{lines} doubles: the same text and the same double read back from both builds")


if __name__ == "__main__":
    if sys.argv[1] == "--write":
        write_texts(int(sys.argv[2]))
    else:
        compare(sys.argv[1:3], int(sys.argv[3]) if len(sys.argv) > 3 else 500_000)
