"""The brevant-labeled converter, run as users run it: in a child process."""

import bz2
import concurrent.futures
import contextlib
import fcntl
import gzip
import importlib.util
import io
import json
import lzma
import os
import pty
import shutil
import signal
import socket
import stat
import struct
import subprocess
import sys
import termios
import time
from collections import Counter
from pathlib import Path

import pytest

import brevant
from test_document import WORKED_EXAMPLE_TEXT

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
WORKED_PATH = EXAMPLES / "worked_example.json"
WORKED_JSON = WORKED_PATH.read_bytes()
MODULE = [sys.executable, "-m", "brevant"]
WORKED = WORKED_EXAMPLE_TEXT.encode()
READ = [Path(sys.executable).with_name("brevant-read")]
CHECK = [Path(sys.executable).with_name("brevant-check")]
MEASUREMENTS = EXAMPLES / "measurements.txt"
LIST_VALUE = "list-value: ARRAY value '[3, 4]' is a list; a container is an ARRAY or TUPLE record followed by its element records"


def console_script():
    beside = Path(sys.executable).with_name("brevant-labeled")
    found = str(beside) if beside.exists() else shutil.which("brevant-labeled")
    return [found] if found else None


RUNNERS = [
    pytest.param(MODULE, id="python-m"),
    pytest.param(
        console_script(),
        id="console-script",
        marks=pytest.mark.skipif(console_script() is None, reason="brevant-labeled is not installed"),
    ),
]


def run(*args, stdin=b"", runner=MODULE, cwd=None, env=None):
    return subprocess.run(
        [*runner, *map(str, args)], input=stdin, capture_output=True, timeout=120, cwd=cwd, env=env
    )


def write_jsonl(path, shots):
    path.write_text("".join(json.dumps(shot) + "\n" for shot in shots), encoding="utf-8")
    return path


def stderr_lines(proc):
    return proc.stderr.decode().splitlines()


@pytest.mark.parametrize("runner", RUNNERS)
def test_worked_example_prints_the_18_line_document(runner, tmp_path):
    proc = run(EXAMPLES / "worked_example.json", runner=runner, cwd=tmp_path)
    assert (proc.returncode, proc.stderr) == (0, b"")
    assert proc.stdout == WORKED_EXAMPLE_TEXT.encode()


@pytest.mark.parametrize(
    "args, stdin",
    [
        pytest.param([], None, id="no-argument"),
        pytest.param(["-"], None, id="dash"),
        pytest.param(["-o", "-"], None, id="dash-output"),
    ],
)
def test_standard_input_and_output(args, stdin, tmp_path):
    doc = (EXAMPLES / "worked_example.json").read_bytes()
    proc = run(*args, stdin=doc, cwd=tmp_path)
    assert proc.returncode == 0
    assert proc.stdout == WORKED_EXAMPLE_TEXT.encode()


def worked_example_shots():
    return json.loads((EXAMPLES / "worked_example.json").read_text())["shots"]


def measurement_shots():
    with open(EXAMPLES / "measurements.jsonl", encoding="utf-8") as lines:
        return [json.loads(line) for line in lines]


SHOT_SETS = {
    "worked-example": worked_example_shots(),
    "no-shots": [],
    "one-empty-shot": [[]],
    "malformed-values": [
        [["USER:INT:a", None], ["USER:RESULT_ARRAY:b", [2]], ["USER:FLOAT:c", 0.1]],
        [["USER:BOOL:d", None], ["USER:INT:big", 2**63], ["USER:RESULT_ARRAY:e", [1, 0, True]]],
    ],
    "odd-tags-and-types": [
        [["USER:INT:é\tx", 1], ["USER:DOUBLE:a", 1.5], ["USER:UINT:", -3], ["USER:INT:a:b", [1, 2.5]]],
        [["SYS:INT:x", 1], ["USER:INT", 2], ["USER:FLOAT:f", 1e20], ["USER:BOOL:g", []]],
    ],
    "dropped-entries": [[None, ["USER:INT:short"], "USER:INT:a", ["USER:INT:c", 7, "extra"]]],
    "measurements": measurement_shots(),
}


@pytest.mark.parametrize("shots", SHOT_SETS.values(), ids=SHOT_SETS.keys())
def test_json_lines_stream_matches_the_one_call_form(shots, tmp_path, formatter, warning_log):
    attributes = {"required_num_qubits": "3", "qir_profiles": "adaptive_profile"}
    expected = formatter.qir_labeled_output(shots, attributes)
    count = warning_log.count
    summary = [f"brevant-labeled: skipped {count} malformed value{'' if count == 1 else 's'}"] if count else []
    flags = [f"--attribute={key}={value}" for key, value in attributes.items()]

    (tmp_path / "shots.json").write_text(json.dumps(shots))
    for path in tmp_path / "shots.json", write_jsonl(tmp_path / "shots.jsonl", shots):
        proc = run(path, *flags)
        assert proc.returncode == 0, path.name
        assert proc.stdout.decode() == expected, path.name
        assert stderr_lines(proc) == summary, path.name


@pytest.mark.parametrize(
    "name, args, from_stdin",
    [
        pytest.param("shots.ndjson", [], False, id="ndjson-suffix"),
        pytest.param("SHOTS.JSONL", [], False, id="suffix-in-capitals"),
        pytest.param("shots.txt", ["--jsonl"], False, id="flag-on-any-name"),
        pytest.param("shots.json", ["--jsonl"], False, id="flag-beats-json-suffix"),
        pytest.param("shots.txt", ["--jsonl", "-"], True, id="stdin-with-flag"),
    ],
)
def test_json_lines_detection(name, args, from_stdin, tmp_path):
    path = write_jsonl(tmp_path / name, worked_example_shots())
    flags = ["-a", "required_num_qubits=2", "-a", "required_num_results=2"]
    proc = run(*args, *flags, stdin=path.read_bytes()) if from_stdin else run(*args, *flags, path)
    assert (proc.returncode, proc.stderr) == (0, b"")
    assert proc.stdout == WORKED_EXAMPLE_TEXT.encode()


def metadata(text):
    """The (key, value) fields of the METADATA entries after the entry point marker."""
    return [tuple(line.split("\t")[1:]) for line in text.splitlines() if line.startswith("METADATA\t")][1:]


DEFAULTS = ("qir_profiles", "base_profile"), ("required_num_qubits", "0"), ("required_num_results", "0")


@pytest.mark.parametrize(
    "doc_attributes, flags, from_document, from_jsonl",
    [
        pytest.param(
            {"required_num_qubits": "2"},
            ["-a", "required_num_qubits=5"],
            [("qir_profiles", "base_profile"), ("required_num_qubits", "5"), ("required_num_results", "0")],
            [("qir_profiles", "base_profile"), ("required_num_qubits", "5"), ("required_num_results", "0")],
            id="flag-overrides-document",
        ),
        pytest.param(
            {"required_num_results": 4, "qir_profiles": None},
            ["-a", "required_num_qubits=1"],
            [("qir_profiles", ""), ("required_num_qubits", "1"), ("required_num_results", "4")],
            [("qir_profiles", "base_profile"), ("required_num_qubits", "1"), ("required_num_results", "0")],
            id="document-kept-where-not-overridden",
        ),
        pytest.param(
            {"qir_profiles": "x"},
            ["-a", "qir_profiles=a=b", "--attribute", "required_num_results=", "-a", "qir_profiles=c=d"],
            [("qir_profiles", "c=d"), ("required_num_qubits", "0"), ("required_num_results", "")],
            [("qir_profiles", "c=d"), ("required_num_qubits", "0"), ("required_num_results", "")],
            id="last-flag-wins-value-keeps-equals-and-may-be-empty",
        ),
        pytest.param(
            {"required_num_qubits": "2"},
            ["-a", "Required_num_qubits=9", "-a", "extra=1"],
            [("qir_profiles", "base_profile"), ("required_num_qubits", "2"), ("required_num_results", "0")],
            list(DEFAULTS),
            id="other-keys-change-nothing",
        ),
        pytest.param({}, [], list(DEFAULTS), list(DEFAULTS), id="none-at-all"),
        pytest.param({"required_num_qubits": 2.5, "required_num_results": -7}, [], [DEFAULTS[0], ("required_num_qubits", "2.5"), ("required_num_results", "-7")], list(DEFAULTS), id="numbers-as-json-text"),
    ],
)
def test_attribute_flags(doc_attributes, flags, from_document, from_jsonl, tmp_path):
    shots = [[["USER:INT:a", 1]]]
    document = tmp_path / "in.json"
    document.write_text(json.dumps({"shots": shots, "attributes": doc_attributes}))
    # JSON Lines has nowhere to carry attributes: the flags are all there is.
    for path, expected in [(document, from_document), (write_jsonl(tmp_path / "in.jsonl", shots), from_jsonl)]:
        proc = run(path, *flags)
        assert proc.returncode == 0, proc.stderr
        assert metadata(proc.stdout.decode()) == expected, path.name


@pytest.mark.parametrize(
    "shots, count, every_value",
    [
        pytest.param([[["USER:INT:a", None]]], 1, True, id="one"),
        pytest.param(
            [[["USER:INT:a", None], ["USER:INT:b", 2]], [["USER:RESULT_ARRAY:c", [3]], ["USER:FLOAT:d", "x"]]],
            3,
            False,
            id="spread-over-shots",
        ),
        pytest.param([[["USER:BOOL:a", None], ["USER:INT:b", 2]]], 0, False, id="bool-none-is-dropped-silently"),
    ],
)
@pytest.mark.parametrize("verbose", [False, True], ids=["summary", "verbose"])
@pytest.mark.parametrize("suffix", [".json", ".jsonl"])
def test_skipped_values_are_summarised(shots, count, every_value, verbose, suffix, tmp_path):
    path = tmp_path / f"in{suffix}"
    if suffix == ".json":
        path.write_text(json.dumps(shots))
    else:
        write_jsonl(path, shots)
    proc = run(path, *(["--verbose"] if verbose else []))
    assert proc.returncode == 0
    lines = stderr_lines(proc)
    warnings = [line for line in lines if line.endswith("Skipping malformed QIR output value")]
    assert len(warnings) == (count if verbose else 0)
    summary = [line for line in lines if line not in warnings]
    expected = f"brevant-labeled: skipped {count} malformed value{'' if count == 1 else 's'}"
    if every_value:
        expected += "; every value was skipped: a value must be a number, a boolean or a flat list of them"
        expected += " (numpy values: convert with .tolist() or int(x) before writing them out)"
    assert summary == ([expected] if count else [])


def without_tqdm(folder):
    """An environment in which `import tqdm` fails, as where the "progress" extra is not installed."""
    (folder / "tqdm.py").write_text("raise ImportError('tqdm is not installed')\n")
    return {**os.environ, "PYTHONPATH": os.pathsep.join([str(folder), os.environ.get("PYTHONPATH", "")])}


@pytest.mark.parametrize(
    "suffix, place, hide_tqdm", [(".jsonl", ":3", False), (".jsonl", ":3", True), (".json", ": [2]", False)]
)
def test_verbose_warnings_name_the_place_and_tag(suffix, place, hide_tqdm, tmp_path):
    shots = [[], [["USER:INT:a", 1]], [["USER:INT:a", 1], ["USER:INT:b\t", None]]]
    path = tmp_path / f"in{suffix}"
    path.write_text(json.dumps(shots)) if suffix == ".json" else write_jsonl(path, shots)
    proc = run(path, "-v", env=without_tqdm(tmp_path) if hide_tqdm else None)
    assert stderr_lines(proc) == [
        f"brevant-labeled: warning: {path}{place}: tag 'b\\t': Skipping malformed QIR output value",
        "brevant-labeled: skipped 1 malformed value",
    ]


PROGRESS_RUNS = {
    # (command, first and last part of the input, a line the terminal must show; None: no bar)
    "converter-warning-above-the-bar": (
        [*MODULE, "--jsonl", "-v"], b"[]\n", b'[["USER:INT:a", null]]\n',
        "brevant-labeled: warning: <stdin>:2: tag 'a': Skipping malformed QIR output value",
    ),
    "read": (["{read}"], WORKED[:40], WORKED[40:], ""),
    "read-counts": (["{read}", "--counts"], WORKED[:40], WORKED[40:], ""),
    "check-finding-above-the-bar": (["{check}"], WORKED[:40], WORKED[40:], f"<stdin>:11:14: {LIST_VALUE}"),
    "read-quiet": (["{read}", "-q"], WORKED[:40], WORKED[40:], None),
}


@pytest.mark.parametrize("command, first, rest, line", PROGRESS_RUNS.values(), ids=PROGRESS_RUNS.keys())
def test_progress_bar_on_a_terminal(command, first, rest, line):
    controller, terminal = pty.openpty()
    fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))  # a new one is 0 columns wide
    command = [str(arg).format(read=READ[0], check=CHECK[0]) for arg in command]
    # Findings go to the terminal too, above the bar; other output is not looked at.
    stdout = terminal if line and line.startswith("<stdin>") else subprocess.DEVNULL
    with subprocess.Popen(command, stdin=subprocess.PIPE, stdout=stdout, stderr=terminal) as child:
        child.stdin.write(first)
        child.stdin.flush()
        while fcntl.ioctl(child.stdin, termios.FIONREAD, b"\0\0\0\0") != bytes(4):
            time.sleep(0.05)  # until the child, started under any load, has taken the first part
        time.sleep(1.5)  # the bar shows once a run has taken a second
        child.stdin.write(rest)
        child.stdin.close()
    os.close(terminal)
    shown = b""
    with contextlib.suppress(OSError):  # EIO once the other end is closed
        while chunk := os.read(controller, 65536):
            shown += chunk
    pieces = shown.decode().replace("\r", "\n").splitlines()
    assert any(piece.startswith("<stdin>: ") for piece in pieces) == (line is not None), shown
    if line:
        assert line in pieces, shown


BAD_INPUTS = [
    # (file name, content, where the message must point, what it must say)
    ("in.json", '{"shots": [[["USER:INT:a", 1]],\n  [1,,]]}', "{path}:2:6:", "invalid JSON"),
    ("in.json", "", "{path}:1:1:", "invalid JSON"),
    ("in.json", b"[[\xff]]", "{path}:", "UTF-8"),
    ("in.json", '"shots"', "{path}:", '"shots"'),
    ("in.json", '{"attributes": {}}', "{path}:", '"shots"'),
    ("in.json", '{"shots": {}}', "{path}: shots:", "list"),
    ("in.json", '{"shots": [[], 5]}', "{path}: shots[1]:", "a number"),
    ("in.json", '[[], [], {"a": 1}]', "{path}: [2]:", "an object"),
    ("in.json", '{"shots": [[]], "attributes": [1]}', "{path}: attributes:", "object"),
    ("in.json", '{"shots": [[]], "attributes": "x"}', "{path}: attributes:", "object"),
    ("in.json", '{"shots": [[["USER:INT:a", null]], [["USER:INT:a", 1], 5]]}', "{path}: shots[1]:", "len"),
    ("in.json", '[[], [{"k": 1, "l": 2}]]', "{path}: [1]:", "[label, value] list, not an object"),
    ("in.jsonl", '[{"USER:INT:a": 1}]\n', "{path}:1:", "[label, value] list, not an object"),
    ("in.json", '[["USER:INT:a", 1]]\n[["USER:INT:b", 2]]\n', "{path}:2:1:", "use --jsonl"),
    ("in.json", '[["USER:INT:a", 1], ["USER:INT:b", 2]]', "{path}: [0]:", "use --jsonl"),
    ("in.json", '{"shots": [], "attributes": {"qir_profiles": true}}', "{path}: attributes: qir_profiles:", "a boolean"),
    ("in.json", '{"shots": [], "attributes": {"k": {}}}', "{path}: attributes: k:", "an object"),
    ("in.json", '{"shots": [[]], "attributes": {"qir_profiles": "\\udc80"}}', "{path}: attributes:", "encode"),
    ("in.json", "[" * 100_000, "{path}:", "JSON"),
    ("in.jsonl", '[["USER:INT:a", 1]]\n[["USER:INT:a", 1]\n', "{path}:2:19:", "invalid JSON"),
    ("in.jsonl", '[]\n\n{"shots": []}\n', "{path}:3:", "an object"),
    ("in.jsonl", '[]\n"x"\n', "{path}:2:", "a string"),
    ("in.jsonl", "[]\r\n[[\"USER:INT:a\", 1], 7]\r\n", "{path}:2:", "len"),
    ("in.jsonl", b'[]\n[["USER:INT:a", "\xe9"]]\n', "{path}:2:", "UTF-8"),
    # A line end in a tag or an attribute would forge the records after it.
    ("in.json", '[[], [["USER:RESULT:x\\nOUTPUT\\tRESULT\\t1\\tfake", 1]]]', "{path}: [1]: tag 'x\\nOUTPUT\\tRESULT\\t1\\tfake' holds a line end", "(--raw-tags writes it as it is)"),
    ("in.jsonl", '[]\n[["USER:RESULT:r", 0], ["USER:INT:x\\u000dEND\\t0", 1]]\n', "{path}:2: tag 'x\\rEND\\t0' holds a line end", "record of its own"),
    ("in.json", '{"shots": [], "attributes": {"qir_profiles": "a\\nb"}}', "{path}: attributes: qir_profiles: the value holds a line end", "--raw-tags"),
    ("in.json", gzip.compress(b"[[]]")[:12], "cannot read '{path}': ", "Compressed file ended"),
    ("in.jsonl", lzma.compress(b"[]\n")[:-9] + bytes(9), "cannot read '{path}': ", "Corrupt input data"),
]


@pytest.mark.parametrize(
    "name, content, place, says", BAD_INPUTS, ids=[f"{n}-{i}" for i, (n, *_) in enumerate(BAD_INPUTS)]
)
def test_bad_input_is_one_line_naming_the_place(name, content, place, says, tmp_path):
    path = tmp_path / name
    path.write_bytes(content if isinstance(content, bytes) else content.encode())
    proc = run(path)
    (line,) = stderr_lines(proc)
    assert proc.returncode == 2
    assert line.startswith("brevant-labeled: error: " + place.format(path=path)), line
    assert says in line


LONG = "1" + "0" * 5000  # more digits than int() converts
UNREAD = "brevant-labeled: warning: attributes not read: {} (the attributes read are qir_profiles, required_num_qubits, required_num_results)"
ODD_BUT_READABLE = [
    # (file name, content, flags, a line of the output, standard error)
    ("in.jsonl", b'\xef\xbb\xbf[["USER:INT:a", 1]]\n', [], "OUTPUT\tINT\t1\ta", []),
    ("in.json", f'[[["USER:INT:a", 1], ["USER:INT:b", -{LONG}]]]', [], "OUTPUT\tINT\t1\ta", ["brevant-labeled: skipped 1 malformed value"]),
    ("in.jsonl", f'[["USER:INT:a", 1], ["USER:INT:b", {LONG}]]\n', [], "OUTPUT\tINT\t1\ta", ["brevant-labeled: skipped 1 malformed value"]),
    ("in.json", f'{{"shots": [[]], "attributes": {{"required_num_qubits": {LONG}, "x": ""}}}}', [], f"METADATA\trequired_num_qubits\t{LONG}", [UNREAD.format("'x'")]),
    ("in.jsonl", "[]\n", ["-a", "required_num_qbits=3", "-a", "b=1"], "START", [UNREAD.format("'required_num_qbits', 'b'")]),
    ("in.jsonl", '[["USER:INT:x\\\\n", 1]]\n', [], "OUTPUT\tINT\t1\tx\\n", []),  # a backslash and an n
    ("in.json", '[[["USER:INT:x\\nEND\\t0", 1]]]', ["--raw-tags"], "OUTPUT\tINT\t1\tx", []),
    ("in.jsonl", "[]\n", ["--raw-tags", "-a", "qir_profiles=a\rb"], "METADATA\tqir_profiles\ta", []),
]


@pytest.mark.parametrize("name, content, flags, line, errors", ODD_BUT_READABLE, ids=range(len(ODD_BUT_READABLE)))
def test_odd_but_readable_input(name, content, flags, line, errors, tmp_path):
    path = tmp_path / name
    path.write_bytes(content if isinstance(content, bytes) else content.encode())
    proc = run(path, *flags)
    assert (proc.returncode, stderr_lines(proc)) == (0, errors)
    assert line in proc.stdout.decode().splitlines()


@pytest.mark.parametrize(
    "args",
    [
        pytest.param(["{tmp}/missing.json"], id="missing-file"),
        pytest.param(["{tmp}"], id="directory"),
        pytest.param(["--jsonl", "{tmp}/missing.txt"], id="missing-jsonl-file"),
        # Opens, then fails to read (EIO): still the input's fault, not the output's.
        pytest.param(["/proc/self/mem"], id="read-fails"),
        pytest.param(["--jsonl", "/proc/self/mem"], id="read-fails-jsonl"),
    ],
)
def test_unreadable_input(args, tmp_path):
    args = [arg.format(tmp=tmp_path) for arg in args]
    proc = run(*args)
    (line,) = stderr_lines(proc)
    assert proc.returncode == 2
    assert line.startswith(f"brevant-labeled: error: cannot read '{os.path.dirname(args[-1])}"), line


def test_stdin_is_named_in_errors():
    proc = run("--jsonl", stdin=b"[]\n[1,\n")
    assert (proc.returncode, stderr_lines(proc)) == (2, ["brevant-labeled: error: <stdin>:2:4: invalid JSON: Expecting value"])


OLD_BYTES = b"an earlier result that must survive\n"


@pytest.mark.parametrize(
    "name, content",
    [
        pytest.param("in.json", '{"shots": [[], 5]}', id="bad-shot-in-document"),
        pytest.param("in.json", "{", id="invalid-document"),
        pytest.param("in.jsonl", '[["USER:INT:a", 1]]\n' * 50 + "[oops]\n", id="fails-after-streaming-shots"),
        pytest.param("in.jsonl", '[["USER:INT:a", 1]]\n[5]\n', id="unreadable-entry-in-stream"),
        pytest.param("in.jsonl", '[["USER:INT:a", 1]]\n[["USER:INT:a\\n", 1]]\n', id="forged-tag-in-stream"),
        pytest.param("missing.json", None, id="missing-input"),
    ],
)
def test_existing_output_survives_a_failed_run(name, content, tmp_path):
    if content is not None:
        (tmp_path / name).write_text(content)
    out = tmp_path / "out" / "result.txt"
    out.parent.mkdir()
    out.write_bytes(OLD_BYTES)
    proc = run(tmp_path / name, "-o", out)
    assert proc.returncode == 2
    assert out.read_bytes() == OLD_BYTES
    assert os.listdir(out.parent) == ["result.txt"]


@pytest.mark.parametrize("existing_mode", [None, 0o640])
def test_output_file_is_replaced_whole_keeping_its_permissions(existing_mode, tmp_path):
    out = tmp_path / "result.txt"
    if existing_mode is not None:
        out.write_bytes(OLD_BYTES * 100)
        out.chmod(existing_mode)
    proc = run(EXAMPLES / "worked_example.json", "-o", out)
    assert (proc.returncode, proc.stdout, proc.stderr) == (0, b"", b"")
    assert out.read_bytes() == WORKED_EXAMPLE_TEXT.encode()
    assert os.listdir(tmp_path) == ["result.txt"]
    mode = stat.S_IMODE(out.stat().st_mode)
    if existing_mode is None:
        umask = os.umask(0)
        os.umask(umask)
        assert mode == 0o666 & ~umask
    else:
        assert mode == existing_mode


def test_unwritable_output_fails_without_a_traceback(tmp_path):
    proc = run(EXAMPLES / "worked_example.json", "-o", tmp_path / "no-such-dir" / "out.txt")
    (line,) = stderr_lines(proc)
    assert proc.returncode == 1
    assert line.startswith("brevant-labeled: error: cannot write"), line


def symlink(tmp):
    (tmp / "real.txt").write_bytes(OLD_BYTES)
    (tmp / "link.txt").symlink_to("real.txt")
    return tmp / "link.txt", lambda: (tmp / "link.txt").is_symlink() and (tmp / "real.txt").read_bytes()


def fifo(tmp):
    os.mkfifo(tmp / "fifo")
    reader = os.open(tmp / "fifo", os.O_RDONLY | os.O_NONBLOCK)  # no waiting for the writer: the text fits in the pipe
    return tmp / "fifo", lambda: stat.S_ISFIFO((tmp / "fifo").lstat().st_mode) and os.read(reader, 65536)


def unix_socket(tmp):
    server = socket.socket(socket.AF_UNIX)
    server.bind(str(tmp / "socket"))
    server.listen(1)
    server.settimeout(60)
    accepted = concurrent.futures.ThreadPoolExecutor(1).submit(server.accept)
    return tmp / "socket", lambda: accepted.result()[0].makefile("rb").read()


def device(name, minor):
    def make(tmp):
        path = Path("/dev", name)
        if os.geteuid() == 0:  # a wrong converter run by root would replace the system's node: use our own
            path = tmp / name
            os.mknod(path, 0o666 | stat.S_IFCHR, os.makedev(1, minor))
        return path, lambda: stat.S_ISCHR(path.lstat().st_mode)

    return make


OUTPUT_TARGETS = {
    # name: (make the target and a look at it afterwards, exit status, standard error, that look)
    "symlink-target-replaced": (symlink, 0, [], WORKED),
    "fifo-written-through": (fifo, 0, [], WORKED),
    "socket-written-through": (unix_socket, 0, [], WORKED),
    "dev-null-kept": (device("null", 3), 0, [], True),
    "dev-full-kept": (device("full", 7), 1, ["cannot write '{path}': No space left on device"], True),
    "directory": (lambda tmp: (tmp, tmp.is_dir), 2, ["refusing to write '{path}': it is a directory"], True),
    "the-input": (lambda tmp: (tmp / "in.json", (tmp / "in.json").read_bytes), 2, ["refusing to write '{path}': it is the input file"], WORKED_JSON),
}


@pytest.mark.parametrize("make, status, errors, found", OUTPUT_TARGETS.values(), ids=OUTPUT_TARGETS.keys())
def test_output_targets(make, status, errors, found, tmp_path):
    (tmp_path / "in.json").write_bytes(WORKED_JSON)
    target, look = make(tmp_path)
    proc = run(tmp_path / "in.json", "-o", target)
    assert (proc.returncode, stderr_lines(proc)) == (status, ["brevant-labeled: error: " + e.format(path=target) for e in errors])
    assert look() == found


def test_output_to_dev_stdout_is_standard_output():
    proc = run(EXAMPLES / "worked_example.json", "-o", "/dev/stdout")
    assert (proc.returncode, proc.stdout, proc.stderr) == (0, WORKED, b"")


@pytest.mark.parametrize("signum", [signal.SIGTERM, signal.SIGHUP, signal.SIGINT], ids=lambda s: s.name)
@pytest.mark.parametrize(
    "flags, pieces",
    [
        (["--jsonl"], [b'[["USER:INT:a", 1]]\n', b'[["USER:INT:a", 2]]\n']),
        ([], [b'[[["USER:INT:a", 1]]', b', [["USER:INT:a", 2]]]']),
    ],
    ids=["jsonl", "document"],
)
@pytest.mark.parametrize("ignored", [False, True], ids=["caught", "ignored-as-by-nohup"])
def test_a_stop_signal_leaves_the_output_as_it_was(signum, flags, pieces, ignored, tmp_path):
    (tmp_path / "out.txt").write_bytes(OLD_BYTES)
    # A signal ignored by the caller stays ignored across exec, as nohup and `trap "" HUP` leave it.
    shell = ["sh", "-c", f'trap "" {signum.name.removeprefix("SIG")}; exec "$@"', "sh"] if ignored else []
    command = [*shell, *MODULE, *flags, "-o", tmp_path / "out.txt"]
    with subprocess.Popen(command, stdin=subprocess.PIPE, stderr=subprocess.PIPE) as child:
        child.stdin.write(pieces[0])
        child.stdin.flush()
        for _ in range(3000):  # until the temporary file is there
            if len(os.listdir(tmp_path)) > 1:
                break
            time.sleep(0.02)
        child.send_signal(signum)
        if ignored:
            time.sleep(0.2)  # time enough for a wrongly caught signal to stop the run
            child.stdin.write(pieces[1])
        errors = child.communicate(timeout=60)[1]
    if ignored:
        assert (child.returncode, errors, os.listdir(tmp_path)) == (0, b"", ["out.txt"])
        assert (tmp_path / "out.txt").read_text().count("OUTPUT\tINT") == 2
        return
    assert (child.returncode, errors, os.listdir(tmp_path)) == (128 + signum, b"", ["out.txt"])
    assert (tmp_path / "out.txt").read_bytes() == OLD_BYTES


def test_a_stop_signal_whose_exception_python_dropped_still_stops_the_run(tmp_path, capsys):
    # Python runs a handler wherever the main thread is: an exception it raises in a
    # weakref callback is printed and dropped, and the run went on to replace the output.
    import weakref

    from brevant import _cli_io

    (tmp_path / "out.txt").write_bytes(OLD_BYTES)

    class Held:
        pass

    def main():
        with _cli_io.open_output(str(tmp_path / "out.txt")) as out:
            out.write("new text\n")
            held = Held()
            watch = weakref.ref(held, lambda _: _cli_io.interrupt(signal.SIGTERM, None))
            del held
            assert watch() is None
        return 0

    assert _cli_io.run(main) == 128 + signal.SIGTERM
    assert (tmp_path / "out.txt").read_bytes() == OLD_BYTES
    assert os.listdir(tmp_path) == ["out.txt"]
    assert capsys.readouterr().err == ""


INTERRUPTED_READ = """
import sys, time
from brevant._reader import Reader
shot = b"START\\n" + b"OUTPUT\\tDOUBLE\\t0.123456789012345\\tenergy\\n" * 50 + b"END\\t0\\n"
data = shot * 60_000  # 120 MB: seconds of reading in one call
print("reading", flush=True)
try:
    Reader(keep=False).feed(data)
except KeyboardInterrupt:
    print(time.time(), flush=True)
"""


def test_ctrl_c_stops_a_one_call_read():
    with subprocess.Popen([sys.executable, "-c", INTERRUPTED_READ], stdout=subprocess.PIPE) as child:
        assert child.stdout.readline() == b"reading\n"
        time.sleep(0.2)
        sent = time.time()
        child.send_signal(signal.SIGINT)
        caught = child.stdout.read()
    assert child.returncode == 0 and caught, "the read ended before the signal, or did not stop for it"
    assert float(caught) - sent < 0.5


def child_streams(kind):
    """A closed standard stream (by number), or a pipe whose reader went away, for a child."""
    if kind != "no-reader":
        return {"preexec_fn": lambda: os.close(kind)}
    reader, writer = os.pipe()
    os.close(reader)
    return {"stdout": writer}




@pytest.mark.parametrize(
    "kind, command, status, errors",
    [
        pytest.param(0, MODULE, 2, ["brevant-labeled: error: cannot read standard input: it is closed"], id="stdin-closed"),
        pytest.param(1, [*MODULE, WORKED_PATH], 1, ["brevant-labeled: error: cannot write standard output: it is closed"], id="stdout-closed"),
        pytest.param(2, [*MODULE, WORKED_PATH, "-a", "unread=1"], 2, [], id="stderr-closed"),
        pytest.param("no-reader", [*MODULE, WORKED_PATH], 141, [], id="no-reader-document"),
        pytest.param("no-reader", [*MODULE, EXAMPLES / "measurements.jsonl"], 141, [], id="no-reader-jsonl"),
        pytest.param(0, READ, 2, ["brevant-read: error: cannot read standard input: it is closed"], id="read-stdin-closed"),
        pytest.param(1, [*READ, "--counts", MEASUREMENTS], 1, ["brevant-read: error: cannot write standard output: it is closed"], id="read-stdout-closed"),
        pytest.param("no-reader", [*READ, MEASUREMENTS], 141, [], id="read-no-reader"),
        pytest.param(1, [*CHECK, MEASUREMENTS], 1, ["brevant-check: error: cannot write standard output: it is closed"], id="check-stdout-closed"),
        pytest.param(1, [*CHECK, "-q", MEASUREMENTS], 0, [], id="check-quiet-needs-no-stdout"),
        pytest.param("no-reader", [*CHECK, WORKED_PATH], 141, [], id="check-no-reader"),
    ],
)
def test_standard_streams(kind, command, status, errors):
    streams = {"stdin": subprocess.DEVNULL, "stdout": subprocess.PIPE, **child_streams(kind)}
    proc = subprocess.run(command, stderr=subprocess.PIPE, timeout=60, **streams)
    assert (proc.returncode, stderr_lines(proc)) == (status, errors)
    assert not proc.stdout  # least of all a message meant for standard error




@pytest.mark.parametrize(
    "inputs, status, out, errors",
    [
        pytest.param(
            [os.fsdecode(b"bad\xffname.txt"), "missing.txt", "worked.txt"], 2,
            [f"bad\\xffname.txt:11:14: {LIST_VALUE}", f"worked.txt:11:14: {LIST_VALUE}"],
            ["brevant-check: error: cannot read 'missing.txt': No such file or directory"],
            id="each-input-reported-also-after-a-name-not-utf8",
        ),
        pytest.param(
            ["/dev/zero"], 2,
            ["/dev/zero:1:1: line-too-long: line of 16777217 characters, longer than 16777216; not checked",
             "/dev/zero:1:1: header-missing: expected HEADER schema_version 2.1 here",
             "/dev/zero:1:1: no-shots: document holds no complete shot"],
            ["brevant-check: error: /dev/zero: a line longer than 16777216 bytes; the rest is not checked"],
            id="endless-line",
        ),
    ],
)
def test_check_reports_each_input(inputs, status, out, errors, tmp_path):
    for name in "worked.txt", os.fsdecode(b"bad\xffname.txt"):
        (tmp_path / name).write_bytes(WORKED)
    proc = subprocess.run([*CHECK, *inputs], capture_output=True, cwd=tmp_path, timeout=60)
    assert (proc.returncode, proc.stdout.decode().splitlines(), stderr_lines(proc)) == (status, out, errors)


@pytest.mark.parametrize("compress", [gzip.compress, bz2.compress, lzma.compress], ids=["gzip", "bzip2", "xz"])
def test_compressed_input_reads_as_the_plain_one(compress, tmp_path, monkeypatch):
    plain = MEASUREMENTS.read_bytes()
    packed = tmp_path / "measurements.txt.z"
    packed.write_bytes(compress(plain))
    expected = brevant.read_labeled(plain)
    assert brevant.read_labeled(packed.read_bytes()).shots() == expected.shots()
    assert brevant.check_labeled(packed) == brevant.check_labeled(plain)
    monkeypatch.setattr("brevant._lines.CHUNK_CHARS", 1000)  # streaming: many chunks, split anywhere
    assert list(brevant.iter_shots(packed)) == expected.shots()
    assert brevant.count_labeled(io.BytesIO(packed.read_bytes())) == expected.counts()
    for command, stdin in [([*READ, "--memory", packed], None), ([*READ, "--memory"], packed.read_bytes())]:
        proc = subprocess.run(command, input=stdin, capture_output=True, timeout=60)
        assert (proc.returncode, proc.stdout.decode().split()) == (0, expected.memory())
    assert subprocess.run([*CHECK, packed], timeout=60).returncode == 0
    for name, text in [("shots.jsonl", EXAMPLES / "measurements.jsonl"), ("shots.json", WORKED_PATH)]:
        (tmp_path / name).write_bytes(compress(text.read_bytes()))
        assert run(tmp_path / name).stdout == run(text).stdout


@pytest.mark.skipif(importlib.util.find_spec("compression") is not None, reason="zstd may be read here")
def test_zstd_without_the_module_is_named():
    zstd_frame = b"\x28\xb5\x2f\xfd" + bytes(10)
    with pytest.raises(ValueError, match=r"zstd-compressed, which Python 3\.\d+ cannot read \(compression\.zstd comes with 3\.14\)"):
        brevant.read_labeled(zstd_frame)
    proc = subprocess.run(READ, input=zstd_frame, capture_output=True, timeout=60)
    assert (proc.returncode, stderr_lines(proc)[0][:42]) == (2, "brevant-read: error: cannot read '<stdin>'")


def test_read_back_and_written_again_is_the_same_document():
    written = run(EXAMPLES / "measurements.jsonl").stdout
    shots = subprocess.run([*READ, MEASUREMENTS], capture_output=True, check=True, timeout=60).stdout
    assert run("--jsonl", stdin=shots).stdout == written == MEASUREMENTS.read_bytes()


def test_counts_of_several_files_are_the_sum_of_each(tmp_path):
    (tmp_path / "a.txt").write_bytes(MEASUREMENTS.read_bytes())
    first_shots = (EXAMPLES / "measurements.jsonl").read_bytes().splitlines(keepends=True)[:40]
    (tmp_path / "b.txt.gz").write_bytes(gzip.compress(run("--jsonl", stdin=b"".join(first_shots)).stdout))
    paths = [tmp_path / "a.txt", tmp_path / "b.txt.gz", tmp_path / "a.txt"]
    each = [Counter(brevant.read_labeled(path.read_bytes()).counts(["r1", "r0"])) for path in paths]
    expected = dict(each[0] + each[1] + each[2])
    assert brevant.count_labeled(paths, ["r1", "r0"]) == expected
    for jobs in "1", "2":
        proc = subprocess.run([*READ, "--counts", "--labels", "r1,r0", "-j", jobs, *paths], capture_output=True, timeout=120)
        assert (proc.returncode, json.loads(proc.stdout), proc.stderr) == (0, expected, b""), jobs
    folder = subprocess.run([sys.executable, EXAMPLES / "count_folder.py", tmp_path, "--labels", "r1,r0", "--pattern", "*.txt*"], capture_output=True, check=True, timeout=120)
    assert json.loads(folder.stdout) == dict(each[0] + each[1])


@pytest.mark.parametrize(
    "counts, top, width, lines",
    [
        ({"b": 1000, "a": 1000, "c": 1}, 3, 24, ["a  ##########  1000   50.0%", "b  ##########  1000   50.0%", "c  #              1    0.0%"]),
        ({"01": 1, "00": 3, "11": 6}, 1, 30, ["11        ##########  6   60.0%", "2 others  #######     4   40.0%"]),
        ({}, 5, 80, []),
    ],
    ids=["ties-by-outcome-a-bar-for-any-shot-and-10-wide-at-least", "top-and-the-rest", "no-shots"],
)
def test_histogram(counts, top, width, lines):
    from brevant._histogram import histogram

    assert histogram(counts, top, width) == lines


def test_histogram_from_the_command_line_fills_the_terminal():
    command = [*READ, "--counts", "--histogram", "--top", "2", "--labels", "r0,r1,r2", MEASUREMENTS]
    proc = subprocess.run(command, capture_output=True, timeout=60, env={**os.environ, "COLUMNS": "50"})
    assert (proc.returncode, proc.stderr) == (0, b"")
    assert proc.stdout.decode().splitlines() == [
        "111       ###########################  188   47.0%",
        "000       #########################    177   44.2%",
        "6 others  #####                         35    8.8%",
    ]


@pytest.mark.parametrize(
    "command, error",
    [
        ([*READ, "--counts", "-j", "2", MEASUREMENTS, "{bad}"], "brevant-read: error: {bad}:2:1: "),
        ([*READ, "--counts", "-j", "0", MEASUREMENTS], "brevant-read: error: argument -j/--jobs: expected a whole number of at least 1, got '0'"),
        ([sys.executable, EXAMPLES / "count_folder.py", EXAMPLES, "--labels", "r0,r0"], "count_folder.py: error: --labels names a label more than once"),
    ],
)
def test_many_files_errors_end_in_one_line(command, error, tmp_path):
    bad = tmp_path / "bad.txt"
    bad.write_text("START\nNOT A RECORD\n")
    proc = subprocess.run([str(arg).format(bad=bad) for arg in command], capture_output=True, timeout=120)
    assert (proc.returncode, proc.stdout) == (2, b"")
    assert stderr_lines(proc)[-1].startswith(error.format(bad=bad)) and b"Traceback" not in proc.stderr


@pytest.mark.parametrize("name, command", [("brevant-labeled", MODULE), ("brevant-read", READ), ("brevant-check", CHECK)])
def test_no_input_on_a_terminal_shows_the_usage(name, command):
    proc = subprocess.run(command, stdin=pty.openpty()[1], capture_output=True, timeout=60)
    lines = stderr_lines(proc)
    assert (proc.returncode, lines[0].split()[:3], lines[-1]) == (
        2, ["usage:", name, "[-h]"], f"{name}: error: no input: name a file, or pipe the input in"
    )


@pytest.mark.parametrize(
    "flag, value, says",
    [
        ("-a", "required_num_qubits", "KEY=VALUE"),
        ("--attribute", "required_num_qubits", "KEY=VALUE"),
        ("-a", "qir_profiles=a\nb", "--attribute: qir_profiles: the value holds a line end"),
    ],
)
def test_bad_attribute_flags(flag, value, says):
    proc = run(EXAMPLES / "worked_example.json", flag, value)
    assert proc.returncode == 2
    assert says in proc.stderr.decode()
    assert proc.stdout == b""


@pytest.mark.parametrize("name, command", [("brevant-labeled", MODULE), ("brevant-read", READ), ("brevant-check", CHECK)])
def test_version_and_the_one_exit_status_policy(name, command):
    version = run("--version", runner=command)
    assert (version.returncode, version.stdout.decode()) == (0, f"{name} {brevant.__version__}\n")
    statuses = run("--help", runner=command).stdout.decode()
    assert "  1    " in statuses and statuses.index("the output could not be written") < statuses.index("  2    bad usage")


def test_help_explains_input_detection_with_an_example():
    proc = run("--help")
    text = proc.stdout.decode()
    assert proc.returncode == 0
    assert ".jsonl" in text and "--jsonl" in text
    assert "example:" in text and "brevant-labeled examples/worked_example.json" in text


def test_output_is_utf8_with_bare_line_feeds_whatever_the_locale(tmp_path):
    path = write_jsonl(tmp_path / "in.jsonl", [[["USER:INT:é", 1]]])
    env = {**os.environ, "PYTHONIOENCODING": "latin-1", "LC_ALL": "C"}
    proc = subprocess.run([*MODULE, path], capture_output=True, env=env, timeout=60)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.endswith("OUTPUT\tINT\t1\té\nEND\t0\n".encode())
    assert b"\r" not in proc.stdout
