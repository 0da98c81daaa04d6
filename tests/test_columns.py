"""Columns of arrays against the formatter on the same values, and the
buffers a caller can hand over."""

import gc
import io
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp
from shared import Recorder

from brevant import LabeledParseError, QirLabeledFormatter, format_columns, iter_bits, read_labeled, write_columns

BYTE_DTYPES = [np.bool_, np.uint8, np.int8]
INT_DTYPES = [np.int8, np.uint8, np.int16, np.uint16, np.int32, np.uint32, np.int64, np.uint64]
# raw type -> dtypes it takes; "PACKED" is a RESULT_ARRAY given as packed bits.
COLUMN_DTYPES = {
    "RESULT": BYTE_DTYPES,
    "BOOL": BYTE_DTYPES,
    "INT": INT_DTYPES,
    "UINT": INT_DTYPES,
    "FLOAT": [np.float64, np.float32],
    "RESULT_ARRAY": BYTE_DTYPES,
    "PACKED": [np.uint8],
}


def formatter_value(raw_type, value):
    """The Python value the formatter is given for one shot's element."""
    if raw_type == "RESULT":  # a bit; anything else is malformed (None is)
        return int(value) if value in (0, 1) else None
    return value


def formatter_shots(columns):
    """The columns as the formatter's shots: the values numpy's tolist() gives."""
    shots = []
    for column in columns:
        key, array = column[:2]
        raw_type = key.split(":")[1]
        if len(column) == 3:
            array = np.unpackbits(array, axis=1, count=column[2]).reshape(len(array), column[2])
        values = [formatter_value(raw_type, value) for value in array.tolist()]
        shots = shots or [[] for _ in values]
        for shot, value in zip(shots, values):
            shot.append((key, value))
    return shots


@st.composite
def column_sets(draw):
    shots = draw(st.integers(0, 4))
    columns = []
    for index in range(draw(st.integers(1, 6))):
        # Runs of RESULT and BOOL columns are written a few records at a time: draw them often.
        raw_type = draw(st.sampled_from(["RESULT", "BOOL", *sorted(COLUMN_DTYPES)]))
        dtype = draw(st.sampled_from(COLUMN_DTYPES[raw_type]))
        width = draw(st.integers(0, 10))
        stored = {"RESULT_ARRAY": (shots, width), "PACKED": (shots, (width + 7) // 8)}.get(raw_type, shots)
        if raw_type in ("RESULT", "RESULT_ARRAY") and dtype is not np.bool_ and draw(st.booleans()):
            array = draw(hnp.arrays(dtype, stored, elements=st.integers(0, 1)))  # mostly valid bits
        elif dtype is np.bool_ and draw(st.booleans()):  # bools whose bytes are not all 0 or 1
            array = draw(hnp.arrays(np.uint8, stored, elements=st.integers(0, 3))).view(np.bool_)
        else:
            array = draw(hnp.arrays(dtype, stored))
        if draw(st.booleans()):  # a strided, read-only view of the same values
            array = np.repeat(array, 2, axis=0)[::2]
            array.flags.writeable = False
        tag = draw(st.sampled_from(["r", "", "a:b", "é", "t\tab", "long" * 10])) + str(index)
        if raw_type == "PACKED":
            columns.append((f"USER:RESULT_ARRAY:{tag}", array, width))
        else:
            columns.append((f"USER:{raw_type}:{tag}", array))
    return columns


ATTRIBUTES = st.sampled_from([None, {}, {"required_num_qubits": 3, "qir_profiles": None}])


@settings(deadline=None, max_examples=300, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(column_sets(), ATTRIBUTES)
def test_columns_write_what_the_formatter_writes(warning_log, columns, attributes):
    warning_log.records.clear()
    expected = QirLabeledFormatter().qir_labeled_output(formatter_shots(columns), attributes or {})
    warnings = warning_log.count
    assert format_columns(columns, attributes) == expected
    assert warning_log.count == 2 * warnings
    text, binary = io.StringIO(), io.BytesIO()
    write_columns(text, columns, attributes)
    write_columns(binary, columns, attributes)
    assert text.getvalue() == expected
    assert binary.getvalue() == expected.encode()


def test_integer_limits_and_special_doubles():
    columns = [
        ("USER:INT:i", np.array([-(2**63), 2**63 - 1], np.int64)),
        ("USER:UINT:u", np.array([2**63 - 1, 2**63], np.uint64)),
        ("USER:FLOAT:d", np.array([-0.0, 5e-324], np.float64)),
        ("USER:FLOAT:f", np.array([np.nan, 0.1], np.float32)),
        ("USER:RESULT:r", np.array([True, False])),
    ]
    assert format_columns(columns).split("END\t0\n")[1] == (
        "START\nOUTPUT\tINT\t9223372036854775807\ti\n"  # 2**63 under UINT is skipped
        "OUTPUT\tDOUBLE\t0." + "0" * 323 + "5\td\nOUTPUT\tDOUBLE\t0.10000000149011612\tf\n"
        "OUTPUT\tRESULT\t0\tr\n"
    )


def test_buffers_without_numpy():
    import array

    columns = [("USER:INT:a", array.array("q", [1, -2])), ("USER:RESULT:r", b"\x01\x00"),
               ("USER:FLOAT:x", memoryview(array.array("d", [0.5, 2.0])))]  # fmt: skip
    shots = [[("USER:INT:a", 1), ("USER:RESULT:r", 1), ("USER:FLOAT:x", 0.5)],
             [("USER:INT:a", -2), ("USER:RESULT:r", 0), ("USER:FLOAT:x", 2.0)]]  # fmt: skip
    assert format_columns(columns, {}) == QirLabeledFormatter().qir_labeled_output(shots, {})


BITS = np.zeros((3, 4), np.uint8)
BAD_COLUMNS = [
    ([("USER:RESULT:r", np.zeros(3))], TypeError, "column 'USER:RESULT:r': takes bool, uint8 or int8 elements"),
    ([("USER:FLOAT:x", np.zeros(3, np.float16))], TypeError, "column 'USER:FLOAT:x': unsupported element type"),
    ([("USER:INT:i", np.zeros(3, ">i4"))], TypeError, "column 'USER:INT:i': unsupported element type"),
    ([("USER:INT:i", [1, 2])], TypeError, "column 'USER:INT:i': the array does not support the buffer protocol"),
    ([("USER:INT:i", BITS)], ValueError, "column 'USER:INT:i': expected one value per shot (1-D)"),
    ([("USER:RESULT_ARRAY:m", BITS[0])], ValueError, "column 'USER:RESULT_ARRAY:m': RESULT_ARRAY takes a (shots, bits)"),
    ([("USER:RESULT_ARRAY:m", BITS, 9)], ValueError, "column 'USER:RESULT_ARRAY:m': a packed row holds"),
    ([("USER:INT:i", BITS[:, 0], 4)], TypeError, "column 'USER:INT:i': only RESULT_ARRAY takes packed bits"),
    ([("USER:QIRARRAY:q", BITS)], TypeError, "column 'USER:QIRARRAY:q': is not a column type"),
    ([("USER:DOUBLE:d", BITS[0])], ValueError, "column 'USER:DOUBLE:d': the key is not"),
    ([(5, BITS[0])], TypeError, "column 5: the key must be a str"),
    ([("USER:INT:i",)], TypeError, "column 0: expected a (key, array) or (key, packed bits, bit count) tuple"),
    ([("USER:INT:a", BITS[0]), ("USER:INT:b", BITS[1:, 0])], ValueError,
     "column 'USER:INT:b': 2 shots, where the first column has 4"),  # fmt: skip
    ([("USER:INT:a", BITS[:, 0]), ("USER:RESULT:r", np.zeros(3))], TypeError, "column 'USER:RESULT:r': takes"),
]


@pytest.mark.parametrize("columns, error, message", BAD_COLUMNS)
def test_bad_columns_fail_by_name_before_any_write(columns, error, message):
    out = Recorder()
    with pytest.raises(error) as raised:
        write_columns(out, columns)
    assert str(raised.value).startswith(message)
    assert out.writes == []


def test_huge_declared_shape_fails_before_allocating():
    huge = np.lib.stride_tricks.as_strided(np.zeros(1, np.uint8), shape=(2**62,), strides=(0,))
    with pytest.raises(OverflowError, match="longer than a str can be"):
        format_columns([("USER:RESULT:r", huge)])


def test_buffer_cannot_change_size_while_written():
    column = bytearray(b"\x01\x00" * 400_000)
    resized = []

    class Resizing:
        def write(self, text):
            try:
                column.clear()
            except BufferError as error:
                resized.append(error)

    write_columns(Resizing(), [("USER:RESULT:r", column)])
    assert len(resized) > 1 and len(column) == 800_000


def test_pieces_are_bounded_and_warnings_come_first(warning_log, tmp_path):
    bits = np.tile(np.array([1, 2], np.uint8), 100_000)  # every second value is malformed
    seen = []

    class Out:
        def write(self, piece):
            seen.append((len(piece), warning_log.count, type(piece)))

    write_columns(Out(), [("USER:RESULT:r", bits)])
    assert len(seen) > 2 and max(size for size, _, _ in seen) < (1 << 20) + 100
    assert 0 < seen[0][1] < seen[1][1] and seen[-1][1] == 100_000 == warning_log.count
    assert all(kind is str for _, _, kind in seen)
    with open(tmp_path / "out.txt", "wb") as file:
        write_columns(file, [("USER:RESULT:r", bits[:4])])
    assert (tmp_path / "out.txt").read_text() == format_columns([("USER:RESULT:r", bits[:4])])


def test_stub_agrees_with_the_runtime(tmp_path):
    env = {**os.environ, "MYPYPATH": str(Path(__file__).resolve().parent.parent / "python"),
           "MYPY_CACHE_DIR": str(tmp_path)}  # fmt: skip
    done = subprocess.run([sys.executable, "-m", "mypy.stubtest", "brevant._columns"],
                          env=env, cwd=tmp_path, capture_output=True, text=True)  # fmt: skip
    assert done.returncode == 0, done.stdout + done.stderr


# --- reading back into arrays -------------------------------------------------


@st.composite
def bit_documents(draw):
    """A document of RESULT bit columns (and other values between them), and
    the bit matrix memory() gives for it."""
    shots = draw(st.integers(1, 5))
    columns, bit_columns = [], []
    for index in range(draw(st.integers(1, 5))):
        kind = draw(st.sampled_from(["RESULT", "RESULT_ARRAY", "FLOAT", "BOOL"]))
        if kind == "FLOAT":
            columns.append((f"USER:FLOAT:x{index}", draw(hnp.arrays(np.float64, shots))))
            continue
        if kind == "BOOL":
            columns.append((f"USER:BOOL:k{index}", draw(hnp.arrays(np.bool_, shots))))
            continue
        shape = shots if kind == "RESULT" else (shots, draw(st.integers(1, 3)))
        bits = draw(hnp.arrays(draw(st.sampled_from(BYTE_DTYPES)), shape, elements=st.integers(0, 1)))
        columns.append((f"USER:{kind}:r{index}", bits))
        bit_columns.append(bits.reshape(shots, -1).astype(np.uint8))
    matrix = np.hstack(bit_columns) if bit_columns else np.zeros((shots, 0), np.uint8)
    return format_columns(columns), matrix, columns


# Edits that take a document off the quick scan's path, or make it invalid:
# the scan must then give what the general reader gives, or fail as it does.
EDITS = [
    lambda text: text,
    lambda text: text.replace("\n", "\r\n"),
    lambda text: text.replace("END\t0\n", "END\t1\n", 2),
    lambda text: text.replace("HEADER\tschema_version\t2.1\n", ""),
    lambda text: text[: len(text) // 2],
    lambda text: text.replace("OUTPUT\tRESULT\t1", "OUTPUT\tRESULT\t2", 1),
    lambda text: text.replace("START\n", "START\nMETADATA\tk\tv\n", 2),
    lambda text: text + "START\nOUTPUT\tRESULT\t1\tz\nEND\t0\n",
    lambda text: text.replace("\tr1\n", "\tr0\n"),
    lambda text: text.replace("\tr1\n", "\t\u00e9\n"),
]


class Trickle(io.BytesIO):
    """A file that hands out a few bytes a read."""

    def read(self, size=-1):
        return super().read(7)


class Pipe:
    """A file that can only be read, a few bytes at a time, as a pipe can."""

    def __init__(self, data):
        self.read = Trickle(data).read


def bits_or_error(read):
    try:
        return read()
    except (ValueError, TypeError) as error:
        return type(error)


@settings(deadline=None, max_examples=200)
@given(bit_documents(), st.integers(0, len(EDITS) - 1), st.sampled_from(["record", "reversed"]),
       st.sampled_from([None, ["r0"], ["r1", "r0"]]), st.integers(1, 4))  # fmt: skip
def test_scan_gives_the_readers_bits(document, edit, bit_order, labels, shots):
    text = EDITS[edit](document[0])
    expected = bits_or_error(lambda: read_labeled(text).bits(labels, bit_order=bit_order))
    for source in (text, text.encode(), io.StringIO(text), Trickle(text.encode()), Pipe(text.encode())):
        scanned = bits_or_error(lambda: list(iter_bits(source, labels, shots=shots, bit_order=bit_order)))
        if isinstance(expected, type):
            # Read a chunk at a time, a document with two faults may show the other first.
            assert scanned is expected or {scanned, expected} == {ValueError, LabeledParseError}
        else:
            assert all(len(chunk) <= shots for chunk in scanned)
            np.testing.assert_array_equal(np.concatenate(scanned) if scanned else expected[:0], expected)


@settings(deadline=None, max_examples=100)
@given(bit_documents())
def test_round_trip_through_text(document):
    text, matrix, columns = document
    result = read_labeled(text)
    np.testing.assert_array_equal(result.bits(), matrix)
    np.testing.assert_array_equal(result.bits(packed=True), np.packbits(matrix, axis=1))
    np.testing.assert_array_equal(result.bits(bit_order="reversed"), matrix[:, ::-1])
    arrays = result.arrays()
    for key, array in columns:
        if array.ndim == 1:
            label = key.split(":")[2]
            np.testing.assert_array_equal(arrays[label], array.astype(arrays[label].dtype))
            assert arrays[label].dtype == {"RESULT": np.uint8, "BOOL": np.bool_, "FLOAT": np.float64}[key.split(":")[1]]


def test_arrays_need_fill_for_a_missing_label():
    # "b" first appears in the last shot, which must still give its type.
    text = format_columns([("USER:INT:a", np.array([1, 2]))]) + "START\nOUTPUT\tDOUBLE\t2.5\tb\nEND\t0\n"
    result = read_labeled(text)
    with pytest.raises(ValueError, match="label 'a' is missing from some shots"):
        result.arrays()
    arrays = result.arrays(fill=-1)
    np.testing.assert_array_equal(arrays["a"], [1, 2, -1])
    np.testing.assert_array_equal(arrays["b"], [-1.0, -1.0, 2.5])
    assert arrays["b"].dtype == np.float64


def test_arrays_say_what_to_install_without_numpy(monkeypatch):
    result = read_labeled(format_columns([("USER:RESULT:a", b"\x01")]))
    monkeypatch.setitem(sys.modules, "numpy", None)
    for call in (result.bits, result.arrays, lambda: next(iter_bits("", shots=1))):
        with pytest.raises(ImportError, match="pip install numpy"):
            call()


@pytest.mark.parametrize("enabled", [True, False])
def test_collector_state_survives_bulk_calls_that_fail(enabled):
    result = read_labeled(format_columns([("USER:RESULT:a", b"\x01\x00")]))
    was = gc.isenabled()
    (gc.enable if enabled else gc.disable)()
    try:
        for call in (lambda: result.memory(["missing"]), lambda: result.bits(["missing"]), result.shots,
                     result.values, result.columns):  # fmt: skip
            try:
                call()
            except ValueError:
                pass
            assert gc.isenabled() is enabled
    finally:
        (gc.enable if was else gc.disable)()


# --- the command line ---------------------------------------------------------


def test_command_line_round_trip_through_numpy_files(tmp_path, capsys):
    from brevant.cli import main as labeled
    from brevant.read_cli import main as read

    matrix = np.array([[0, 1, 1], [1, 0, 1]], np.uint8)
    np.save(tmp_path / "m.npy", matrix)
    np.savez(tmp_path / "c.npz", **{"USER:RESULT:a": matrix[:, 0], "USER:FLOAT:x": np.array([0.5, 2.0])})
    text = tmp_path / "m.txt"
    assert labeled([str(tmp_path / "m.npy"), "--labels", "a,b,c", "-o", str(text)]) == 0
    assert read([str(text), "--npy", str(tmp_path / "out.npy"), "--labels", "c,a"]) == 0
    np.testing.assert_array_equal(np.load(tmp_path / "out.npy"), matrix[:, [2, 0]])
    assert labeled([str(tmp_path / "m.npy"), "--result-array", "q", "-o", str(text)]) == 0
    assert text.read_text().count("OUTPUT\tRESULT_ARRAY\t101\tq\n") == 1
    assert labeled([str(tmp_path / "c.npz"), "-a", "required_num_qubits=2", "-o", str(text)]) == 0
    assert text.read_text() == format_columns([("USER:RESULT:a", matrix[:, 0]), ("USER:FLOAT:x", np.array([0.5, 2.0]))],
                                              {"required_num_qubits": "2"})  # fmt: skip


@pytest.mark.parametrize("argv, message", [
    (["m.npy"], "m.npy: a .npy file is a (shots, bits) matrix read with --labels r0,r1,... or --result-array NAME"),
    (["m.npy", "--labels", "a"], "m.npy: --labels names 1 columns, the matrix has 3"),
    (["c.npz", "--labels", "a"], "c.npz: --labels and --result-array read a .npy bit matrix, not a .npz file"),
    (["f.npy", "--labels", "a"], "f.npy: column 'USER:RESULT:a': takes bool, uint8 or int8 elements"),
])  # fmt: skip
def test_command_line_refuses_numpy_files_it_cannot_write(tmp_path, monkeypatch, capsys, argv, message):
    from brevant.cli import main as labeled

    monkeypatch.chdir(tmp_path)
    np.save("m.npy", np.zeros((2, 3), np.uint8))
    np.save("f.npy", np.zeros((2, 1)))
    np.savez("c.npz", a=np.zeros(2))
    assert labeled(argv) == 2
    assert capsys.readouterr().err == f"brevant-labeled: error: {message}\n"


def test_command_line_numpy_options_need_numpy(tmp_path, monkeypatch, capsys):
    from brevant.cli import main as labeled
    from brevant.read_cli import main as read

    np.save(tmp_path / "m.npy", np.zeros((2, 3), np.uint8))
    monkeypatch.setitem(sys.modules, "numpy", None)
    assert labeled([str(tmp_path / "m.npy"), "--labels", "a,b,c"]) == 2
    assert read(["--npy", str(tmp_path / "o.npy"), os.devnull]) == 2
    assert capsys.readouterr().err.count("numpy: pip install numpy\n") == 2


def test_import_needs_only_the_standard_library():
    code = ("import sys, brevant; print(sorted(name for name in {m.split('.')[0] for m in sys.modules}"
            " - set(sys.stdlib_module_names) - {'brevant', 'pyo3_runtime', '__main__'}"
            " if not name.startswith('_distutils')))")  # fmt: skip
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert done.stdout == "[]\n"
