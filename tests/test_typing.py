"""The shipped type stub, as mypy --strict sees it from a user's code."""

import logging
import os
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

mypy_api = pytest.importorskip("mypy.api")

EXAMPLE = Path(__file__).with_name("typing_example.py")
REPO_ROOT = Path(__file__).resolve().parent.parent
README = REPO_ROOT / "README.md"


def mypy(path, cache):
    stdout, stderr, status = mypy_api.run(["--strict", "--cache-dir", str(cache), str(path)])
    return status, stdout + stderr


def test_usage_example_passes_strict_checking(tmp_path):
    status, report = mypy(EXAMPLE, tmp_path / "cache")
    assert status == 0, report


def test_readme_library_examples_pass_strict_checking(tmp_path):
    blocks = re.findall(r"```python\n(.*?)```", README.read_text(encoding="utf-8"), re.DOTALL)
    source = tmp_path / "readme_examples.py"
    source.write_text("".join(blocks))
    status, report = mypy(source, tmp_path / "cache")
    assert blocks and status == 0, report


def test_usage_example_runs_and_both_forms_agree():
    import typing_example

    try:
        streamed, whole = typing_example.main()
    finally:
        logging.getLogger("brevant.labeled_formatter").setLevel(logging.NOTSET)
    assert streamed == whole
    assert whole.startswith("HEADER\tschema_id\tlabeled\n")


# Each line misuses the class; the stub must make mypy reject exactly these lines.
MISUSES = {
    "n: int = f.qir_labeled_output([], {})": "assignment",
    "f.qir_labeled_output([])": "call-arg",
    "f.write_shot(None)": "call-arg",
    "f.emit(None, 1, 'tag', 5)": "arg-type",
    "f.first_shot_header(None, {'k': 1})": "dict-item",
    "f.results_header(None, None)": "call-arg",
    "f.no_such_method()": "attr-defined",
    "ok: str = f.validate_tag_and_value('t', 1)": "assignment",
    "QirLabeledFormatter(1)": "call-arg",
    "class Sub(QirLabeledFormatter): pass": "misc",
}


def test_misuse_is_rejected(tmp_path):
    lines = ["from brevant import QirLabeledFormatter", "f = QirLabeledFormatter()", *MISUSES]
    source = tmp_path / "misuse.py"
    source.write_text("\n".join(lines) + "\n")
    status, report = mypy(source, tmp_path / "cache")
    assert status == 1
    for number, (line, code) in enumerate(MISUSES.items(), start=3):
        errors = [e for e in report.splitlines() if e.startswith(f"{source}:{number}: error:")]
        assert errors and errors[0].endswith(f"[{code}]"), f"{line!r} gave {errors}\n{textwrap.indent(report, '  ')}"


@pytest.mark.parametrize("module", ["brevant._native", "brevant._reader"])
def test_committed_stub_agrees_with_the_runtime(module, tmp_path):
    # The committed stub shadows the installed one; the runtime side is the installed module.
    env = {**os.environ, "MYPYPATH": str(REPO_ROOT / "python"), "MYPY_CACHE_DIR": str(tmp_path)}
    done = subprocess.run([sys.executable, "-m", "mypy.stubtest", module], env=env, cwd=tmp_path,
                          capture_output=True, text=True)  # fmt: skip
    assert done.returncode == 0, done.stdout + done.stderr
