"""Reference-leak hunt under a debug interpreter, in the manner of CPython's
own `regrtest -R`: every case of tests/test_leaks.py is called in rounds of N
calls after a warm-up, and the growth per round of two counters is printed.

- `sys.gettotalrefcount()` (debug interpreters only) catches a reference taken
  and never released, also one to an object that stays alive anyway (None,
  an interned string, the caller's own argument).  It sees the extension's
  own increments only when the extension is compiled with Py_DEBUG, so that
  the stable-ABI Py_INCREF/Py_DECREF become calls of _Py_IncRef/_Py_DecRef;
  this script builds it so.  (Debian's python3.11d headers are symlinks whose
  "pyconfig.h" include resolves to the release configuration, hence the
  explicit -DPy_DEBUG.)
- `sys.getallocatedblocks()` catches leaked objects and leaked interpreter
  allocations whatever the build, but not an extra reference to an object
  that lives on anyway.

Run from the repository root:

    python3 tools/refleak.py            # sets up /tmp/refleak-venv, then hunts
    python3 tools/refleak.py --rounds 5 --calls 200

Without a debug interpreter it creates a venv with `python3.11-dbg` (Debian:
`apt-get install python3.11-dbg python3.11-venv`), installs this tree into it
and re-runs itself there, then also runs tests/test_leaks.py and
tests/test_hostile.py under that interpreter.  Exit status 1 when any case
grows in every round.
"""

import argparse
import contextlib
import os
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
VENV = os.environ.get("REFLEAK_VENV", "/tmp/refleak-venv")


def set_up_debug_venv(debug_python):
    python = os.path.join(VENV, "bin", "python")
    if not os.path.exists(python):
        subprocess.run([debug_python, "-m", "venv", VENV], check=True)
        subprocess.run([python, "-m", "pip", "install", "-q", "pytest", "hypothesis"], check=True)
    subprocess.run(
        [
            python, "-m", "pip", "install", "-q", "--force-reinstall", "--no-deps",
            "--config-settings=build-dir=" + VENV + "-build",
            "--config-settings=cmake.define.CMAKE_CXX_FLAGS=-DPy_DEBUG",
            ROOT,
        ],
        check=True,
    )
    return python


def hunt(rounds, calls):
    sys.path.insert(0, os.path.join(ROOT, "tests"))
    import test_leaks

    # What the measuring itself adds per round (its mark: a tuple of two ints).
    own = test_leaks.leak_figures(lambda: None, rounds, calls)[-1]
    print(f"growth per round of {calls} calls, net of the measuring's own {own[0]:+d} blocks, {own[1]:+d} refs")
    print(f"{'case':45} {'blocks':22} total refs")
    failed = []
    with open(os.devnull, "w") as devnull, test_leaks.QuietLog():
        for name in test_leaks.CASES:
            # Panics print their reports; keep them off the table.
            saved_fd = os.dup(2)
            os.dup2(devnull.fileno(), 2)
            try:
                with contextlib.redirect_stderr(devnull):
                    call, tracked = test_leaks.make_call(name)
                    counts = [sys.getrefcount(obj) for obj in tracked]
                    figures = test_leaks.leak_figures(call, rounds, calls)
            finally:
                os.dup2(saved_fd, 2)
                os.close(saved_fd)
            figures = [(b - own[0], r - own[1]) for b, r in figures]
            moved = [sys.getrefcount(obj) for obj in tracked] != counts
            bad = moved or test_leaks.leaked(figures, calls)
            blocks = " ".join(f"{b:+d}" for b, _ in figures)
            refs = " ".join(f"{r:+d}" for _, r in figures)
            print(f"{name:45} {blocks:22} {refs}{'   LEAK' if bad else ''}")
            if bad:
                failed.append(name)
    print(f"{len(test_leaks.CASES)} cases, {rounds} rounds of {calls} calls: "
          f"{len(failed)} leaking" + (": " + ", ".join(failed) if failed else ""))
    return not failed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--calls", type=int, default=100)
    options = parser.parse_args()

    if not hasattr(sys, "gettotalrefcount"):
        debug_python = shutil.which("python3.11-dbg")
        if not debug_python:
            sys.exit("no debug interpreter: apt-get install python3.11-dbg python3.11-venv")
        python = set_up_debug_venv(debug_python)
        argv = [python, os.path.abspath(__file__), "--rounds", str(options.rounds), "--calls", str(options.calls)]
        hunted = subprocess.run(argv, cwd=ROOT).returncode == 0
        tests = [python, "-m", "pytest", "-q", "-p", "no:cacheprovider",
                 "tests/test_leaks.py", "tests/test_hostile.py"]
        tested = subprocess.run(tests, cwd=ROOT).returncode == 0
        sys.exit(0 if hunted and tested else 1)
    sys.exit(0 if hunt(options.rounds, options.calls) else 1)


if __name__ == "__main__":
    main()
