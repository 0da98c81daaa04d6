"""Input, output, signals and exit statuses shared by brevant's command-line tools.

A tool calls `run(main)` from its entry point, reads through `open_input` and writes
through `open_output`:

    run(main)                  calls `main()` and returns its exit status; a signal or a
                               reader that went away ends the run as listed below
    open_input(path)           the input's bytes ("-" is standard input), decompressed,
                               as a NamedInput, whose failures to read are InputError
    progress_bar(input, quiet) a progress bar of the bytes read, on a terminal
    open_output(path, inputs)  a UTF-8 text stream with LF line ends to "-" (standard
                               output) or to `path`, written safely whatever is there
    failure_status(...)        says why a run failed, in one line, and gives its status
    Refused                    raised by open_output before anything is created: the
                               path must not be written
    add_input_output(...)      the INPUT and -o OUTPUT arguments of a tool;
    require_input(...)         and its usage error when no input is named on a terminal
    exit_status_help(...)      the "exit status" part of a tool's --help

Every tool exits with the statuses of EXIT_STATUS_HELP: 0 success, 1 an output that
could not be written (and for brevant-check, an input that does not conform), 2 bad
usage or bad input, BROKEN_PIPE when the reader of the output went away, 128 + the
signal's number for SIGINT, SIGTERM and SIGHUP unless the caller ignored it (after
every `open_output` in progress removed its temporary file). A closed standard error is
2 too: nothing can be reported then, and nothing meant for it may reach standard output.
"""

from __future__ import annotations

import argparse
import contextlib
import errno
import os
import signal
import stat
import sys
import tempfile
import threading
from collections.abc import Callable, Iterator, Sequence
from typing import Any, BinaryIO, TextIO

from brevant._lines import decompressed, reading_errors

# What a shell reports for a program killed by SIGPIPE, the usual end of `cmd | head`.
BROKEN_PIPE = 128 + 13
SIGNALS = tuple(getattr(signal, name) for name in ("SIGINT", "SIGTERM", "SIGHUP") if hasattr(signal, name))

EXIT_STATUS_HELP = f"""\
exit status:
  0    {{success}}
  1    {{failure}}the output could not be written
  2    bad usage or bad input, said on standard error, or a closed standard error
  {BROKEN_PIPE}  the reader of the output went away (as in `| head`), as if killed by SIGPIPE
  128+N  stopped by signal N (SIGINT 130, SIGHUP 129, SIGTERM 143)
"""


def exit_status_help(success: str, failure: str = "", writes_files: bool = True) -> str:
    """The one exit-status policy, as a tool's --help states it."""
    kept = "A run that ends with any status but 0 leaves -o FILE as it was.\n" if writes_files else ""
    return EXIT_STATUS_HELP.format(success=success, failure=failure) + kept


class InputError(Exception):
    """Bad input; the message names the place (file, line and column, or shot)."""


def failure_status(prog: str, output: str, exc: Exception) -> int:
    """Says why a run failed, in one line on standard error, and gives its exit status:
    2 for bad input or an output path refused, 1 for an output that cannot be written."""
    if isinstance(exc, BrokenPipeError):
        raise exc  # the reader went away: run() ends such a run quietly
    if isinstance(exc, (InputError, Refused)):
        print(f"{prog}: error: {exc}", file=sys.stderr)
        return 2
    target = "standard output" if output == "-" else repr(output)
    reason = exc.strerror if isinstance(exc, OSError) and exc.strerror else exc
    print(f"{prog}: error: cannot write {target}: {reason}", file=sys.stderr)
    return 1


def add_input_output(parser: argparse.ArgumentParser, input_help: str, task: str, many: bool = False) -> None:
    """The INPUT (or with `many`, INPUT ... as `inputs`) and -o OUTPUT arguments."""
    help = f"{input_help}; '-' or none reads standard input"
    if many:
        parser.add_argument("inputs", nargs="*", default=["-"], metavar="INPUT", help=help)
    else:
        parser.add_argument("input", nargs="?", default="-", help=help)
    parser.add_argument(
        "-o", "--output", default="-",
        help=f"write here instead of standard output; a file is replaced only if the {task} succeeds",
    )


def require_input(parser: argparse.ArgumentParser, inputs: list[str]) -> None:
    """Standard input on a terminal would wait silently: show the usage instead."""
    if "-" in inputs and sys.stdin is not None and sys.stdin.isatty():
        parser.error("no input: name a file, or pipe the input in")


class Refused(Exception):
    """The output path names something that must not be written: a directory, or the input."""


class Interrupted(BaseException):
    """A stop signal arrived; a BaseException so that no `except Exception` swallows it."""

    def __init__(self, signum: int) -> None:
        super().__init__(signum)
        self.signum = signum


# The stop signal that arrived. Python runs a signal's handler wherever the
# main thread is, and an exception raised in a weakref callback or a finaliser
# is printed and dropped; the run stops all the same at the next checkpoint.
signalled: int | None = None


def run(main: Callable[[], int]) -> int:
    global signalled
    if sys.stderr is None:
        return 2
    signalled = None
    on_main_thread = threading.current_thread() is threading.main_thread()
    # A signal the caller ignored stays ignored, as `nohup` and a script's background jobs expect.
    caught = [signum for signum in SIGNALS if signal.getsignal(signum) is not signal.SIG_IGN] if on_main_thread else []
    previous = {signum: signal.signal(signum, interrupt) for signum in caught}
    unraisable_hook = sys.unraisablehook

    def quiet_lost_stop(unraisable: Any) -> None:
        # A dropped stop goes unreported: the next checkpoint raises it again.
        if not isinstance(unraisable.exc_value, Interrupted):
            unraisable_hook(unraisable)

    sys.unraisablehook = quiet_lost_stop
    try:
        status = main()
        return 128 + signalled if signalled is not None else status
    except Interrupted as stop:
        return 128 + stop.signum
    except BrokenPipeError:
        # Whatever is still buffered for the gone reader goes nowhere, so that the
        # interpreter's flush at exit does not fail a second time.
        with contextlib.suppress(OSError):
            os.dup2(os.open(os.devnull, os.O_WRONLY), 1)
        return BROKEN_PIPE
    finally:
        sys.unraisablehook = unraisable_hook
        for signum, handler in previous.items():
            signal.signal(signum, handler)


def interrupt(signum: int, frame: object) -> None:
    global signalled
    # A second signal must not cut short the cleanup that the first one started.
    for other in SIGNALS:
        signal.signal(other, signal.SIG_IGN)
    signalled = signum
    raise Interrupted(signum)


def stop_if_signalled() -> None:
    """Raises the stop of a signal whose exception was dropped on the way."""
    if signalled is not None:
        raise Interrupted(signalled)


def shown(path: str) -> str:
    """An input's name as messages give it; bytes of a file name that are not UTF-8 as \\xNN."""
    return "<stdin>" if path == "-" else os.fsencode(path).decode("utf-8", "backslashreplace")


class NamedInput:
    """An open input read in chunks, whose failure to read is told apart from one to write.

    Compressed input is read decompressed; `raw` is the file as opened.
    """

    def __init__(self, raw: BinaryIO, path: str) -> None:
        self.raw = raw
        self.name = shown(path)
        self.size = regular_file_size(raw)
        with self.reading():
            self.stream: Any = decompressed(raw)  # raw itself, or a GzipFile, BZ2File, LZMAFile ...
        # Told how many more bytes of the input were read: of the file itself, when it can tell.
        self.advance: Callable[[int], object] = lambda count: None
        self.consumed = 0

    def read(self, size: int = -1) -> bytes:
        """Up to `size` bytes: what is there, so that a pipe's lines go on as they arrive."""
        with self.reading():
            return self.counted(self.stream.read1(size) if size > 0 else self.stream.read())

    def readline(self) -> bytes:
        with self.reading():
            return self.counted(self.stream.readline())

    def counted(self, data: bytes) -> bytes:
        now = self.raw.tell() if self.stream is not self.raw and self.size is not None else self.consumed + len(data)
        self.advance(now - self.consumed)
        self.consumed = now
        return data

    @contextlib.contextmanager
    def reading(self) -> Iterator[None]:
        stop_if_signalled()
        try:
            yield
        # Evaluated only on a failure: it names the errors of the decompressors loaded by then.
        except reading_errors() as exc:
            reason = exc.strerror if isinstance(exc, OSError) and exc.strerror else exc
            raise InputError(f"cannot read '{self.name}': {reason}") from None

    def __iter__(self) -> Iterator[bytes]:
        return iter(self.readline, b"")


@contextlib.contextmanager
def progress_bar(source: NamedInput, quiet: bool) -> Iterator[Callable[..., None]]:
    """Shows the bytes read of `source` on standard error, when that is a terminal, the run takes
    over a second and tqdm (the "progress" extra) is installed. Gives how to print a line above it."""
    try:
        from tqdm import tqdm  # only here: importing it costs more than reading a small document
    except ImportError:
        yield write_line
        return
    # disable=None lets tqdm stay silent unless stderr is a terminal; delay keeps short runs quiet.
    with tqdm(total=source.size, unit="B", unit_scale=True, disable=True if quiet else None,
              delay=1.0, desc=source.name, file=sys.stderr) as bar:
        source.advance = bar.update
        if bar.disable:
            yield write_line
            return

        def above(text: str, out: TextIO | None = None) -> None:
            bar.clear()
            write_line(text, out)
            (out or sys.stderr).flush()
            bar.refresh()

        yield above


def write_line(text: str, out: TextIO | None = None) -> None:
    (out or sys.stderr).write(text + "\n")  # sys.stderr as it is now, which a test may have replaced


def regular_file_size(stream: BinaryIO) -> int | None:
    """The byte count a progress bar can show: a regular file's size, else unknown."""
    try:
        found = os.fstat(stream.fileno())
    except (OSError, ValueError):  # a stream without a file descriptor, as under a test runner
        return None
    return found.st_size if stat.S_ISREG(found.st_mode) else None


@contextlib.contextmanager
def open_input(path: str) -> Iterator[NamedInput]:
    try:
        stream = standard_input() if path == "-" else open(path, "rb")
    except OSError as exc:
        source = "standard input" if path == "-" else f"'{shown(path)}'"
        raise InputError(f"cannot read {source}: {exc.strerror}") from None
    if path == "-":
        yield NamedInput(stream, path)
        return
    with stream:
        yield NamedInput(stream, path)


def standard_input() -> BinaryIO:
    if sys.stdin is None:
        raise OSError(errno.EBADF, "it is closed")
    return sys.stdin.buffer


@contextlib.contextmanager
def open_output(path: str, inputs: Sequence[str] = ()) -> Iterator[TextIO]:
    """The `inputs` (paths, "-" for standard input) are refused as output when regular files.

    A regular file (also one reached through symlinks) or a path that does not exist yet
    appears only whole: the text goes to a temporary file beside it, renamed over it when
    the body succeeds. A device, FIFO or socket is written straight through, and a path
    that is the process's own standard output means standard output.
    """
    if path == "-":
        yield from write_standard_output()
        return
    try:
        target = os.stat(path)
    except FileNotFoundError:
        target = None
    if target is not None and stat.S_ISDIR(target.st_mode):
        raise Refused(f"refusing to write {path!r}: it is a directory")
    if target is not None and stat.S_ISREG(target.st_mode):
        if any(same_file(target, sys.stdin if name == "-" else name) for name in inputs):
            raise Refused(f"refusing to write {path!r}: it is the input file")
    if target is not None and same_file(target, sys.stdout):
        yield from write_standard_output()
    elif target is None or stat.S_ISREG(target.st_mode):
        yield from replace_whole(os.path.realpath(path), target)
    else:
        yield from write_through(path, target)


def same_file(target: os.stat_result, other: str | TextIO | None) -> bool:
    """Whether `other`, a path or a standard stream, is the file `target`."""
    if other is None:
        return False
    try:
        found = os.stat(other) if isinstance(other, str) else os.fstat(other.fileno())
    except (OSError, ValueError):  # missing, or a stream without a file descriptor, as under a test runner
        return False
    return os.path.samestat(target, found)


def write_standard_output() -> Iterator[TextIO]:
    if sys.stdout is None:
        raise OSError(errno.EBADF, "it is closed")
    try:
        fd = sys.stdout.fileno()
    except (OSError, ValueError):  # replaced by an object without a file, as by a test runner
        yield sys.stdout
        return
    sys.stdout.flush()
    # A stream of our own: the format is UTF-8 with LF line ends whatever the locale, and an
    # unbuffered sys.stdout (PYTHONUNBUFFERED) drops the rest of a partial write unreported.
    # Closing it flushes, so a reader that went away is noticed here, not at exit.
    with open(fd, "w", encoding="utf-8", newline="", closefd=False) as out:
        yield out


def replace_whole(path: str, old: os.stat_result | None) -> Iterator[TextIO]:
    folder, base = os.path.split(path)
    # A stop signal handled between the file's creation and the `try` below would leave it
    # behind, so stop signals are held until the `try` can remove it.
    held = hold_stop_signals()
    try:
        fd, temp = tempfile.mkstemp(dir=folder, prefix=f".{base}.", suffix=".tmp")
    except BaseException:
        release_stop_signals(held)
        raise
    try:
        with open(fd, "w", encoding="utf-8", newline="") as out:
            release_stop_signals(held)
            yield out
        if old is None:
            os.chmod(temp, 0o666 & ~current_umask())
        else:
            keep_owner(temp, old)
            os.chmod(temp, stat.S_IMODE(old.st_mode))
        stop_if_signalled()
        os.replace(temp, path)
    except BaseException:
        with contextlib.suppress(FileNotFoundError):  # a signal just after the rename
            os.unlink(temp)
        raise
    finally:
        release_stop_signals(held)  # still held when the file could not be opened


def hold_stop_signals() -> set[int | signal.Signals] | None:
    return signal.pthread_sigmask(signal.SIG_BLOCK, SIGNALS) if hasattr(signal, "pthread_sigmask") else None


def release_stop_signals(held: set[int | signal.Signals] | None) -> None:
    if held is not None:
        signal.pthread_sigmask(signal.SIG_SETMASK, held)


def current_umask() -> int:
    umask = os.umask(0)
    os.umask(umask)
    return umask


def keep_owner(temp: str, old: os.stat_result) -> None:
    # Only root may give a file away; anyone else's replacement is their own.
    if hasattr(os, "chown") and (old.st_uid, old.st_gid) != (os.getuid(), os.getgid()):
        with contextlib.suppress(PermissionError):
            os.chown(temp, old.st_uid, old.st_gid)


def write_through(path: str, target: os.stat_result) -> Iterator[TextIO]:
    if stat.S_ISSOCK(target.st_mode):
        import socket

        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as connection:
            connection.connect(path)
            fd = connection.detach()
    else:
        # No O_CREAT: should the node vanish meanwhile, fail rather than make a file.
        fd = os.open(path, os.O_WRONLY)
    with open(fd, "w", encoding="utf-8", newline="") as out:
        yield out
