"""Threads sharing one formatter while `qo.write`, a logging handler and the
shots' own Python code give up the interpreter lock: every thread must get
exactly its own texts, each call's text in one `write`."""

import collections
import logging
import sys
import threading
import time

import pytest

import model
from shared import LOGGER_NAME

THREADS = 4
SHOTS = 1000


class YieldingSink:
    def __init__(self, order=None):
        self.writes = []
        self.order = [] if order is None else order

    def write(self, text):
        time.sleep(0)
        self.writes.append(text)
        self.order.append(self)


class YieldingItem:
    """A pair read through Python code that lets other threads run."""

    def __init__(self, key, value):
        self.pair = (key, value)

    def __len__(self):
        time.sleep(0)
        return 2

    def __getitem__(self, index):
        time.sleep(0)
        return self.pair[index]


class WarningsPerThread(logging.Handler):
    def __init__(self):
        super().__init__()
        self.counts = collections.Counter()

    def emit(self, record):
        time.sleep(0)
        self.counts[record.threadName] += 1


def thread_shots(n):
    """Shots whose tags name the thread, so a stray record shows up; every
    seventh shot has a malformed value, every fifth a pair read slowly."""
    shots = []
    for i in range(SHOTS):
        shot = [(f"USER:INT:t{n}", i), (f"USER:FLOAT:t{n}", i / 4)]
        if i % 7 == 0:
            shot.append((f"USER:INT:bad{n}", None))
        if i % 5 == 0:
            shot.append(YieldingItem(f"USER:RESULT_ARRAY:r{n}", [i & 1, 1]))
        shots.append(shot)
    return shots


def format_all(formatter, shots, attributes, sink):
    """The result set streamed piece by piece, then once more in one call."""
    formatter.results_header(sink)
    formatter.write_first_shot(sink, shots[0], attributes)
    for shot in shots[1:]:
        formatter.write_shot(sink, shot)
    sink.write(formatter.qir_labeled_output(shots, attributes))


@pytest.fixture
def warnings_per_thread():
    logger = logging.getLogger(LOGGER_NAME)
    handler = WarningsPerThread()
    saved = logger.handlers, logger.propagate, logger.level
    logger.handlers, logger.propagate = [handler], False
    logger.setLevel(logging.WARNING)
    old_interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    try:
        yield handler.counts
    finally:
        sys.setswitchinterval(old_interval)
        logger.handlers, logger.propagate = saved[:2]
        logger.setLevel(saved[2])


def test_threads_sharing_one_formatter_get_their_own_texts(formatter, warnings_per_thread):
    data = [(thread_shots(n), {"qir_profiles": f"profile{n}"}) for n in range(THREADS)]
    malformed = sum(1 for i in range(SHOTS) if i % 7 == 0)

    expected = []
    for shots, attributes in data:
        sink = YieldingSink()
        format_all(formatter, shots, attributes, sink)
        expected.append(sink.writes)
    # The one-call text is the streamed pieces put together, and what the model makes.
    plain = [[tuple(item.pair) if isinstance(item, YieldingItem) else item for item in shot] for shot in data[0][0]]
    assert expected[0][-1] == "".join(expected[0][:-1]) == model.qir_labeled_output(plain, data[0][1])[0]
    assert warnings_per_thread["MainThread"] == 2 * malformed * THREADS
    warnings_per_thread.clear()

    order = []
    sinks = [YieldingSink(order) for _ in range(THREADS)]
    errors = []
    start = threading.Barrier(THREADS)

    def run(n):
        try:
            start.wait()
            format_all(formatter, *data[n], sinks[n])
        except BaseException as error:  # reported below, not lost in the thread
            errors.append(error)

    threads = [threading.Thread(target=run, args=(n,), name=f"worker{n}") for n in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()

    assert errors == []
    # The threads really ran side by side, not one after another.
    switches = sum(1 for a, b in zip(order, order[1:]) if a is not b)
    assert switches >= THREADS  # how often depends on the scheduler; that they did, does not
    for n in range(THREADS):
        assert sinks[n].writes == expected[n]
        assert warnings_per_thread[f"worker{n}"] == 2 * malformed
