import logging

import pytest

LOGGER_NAME = "brevant.labeled_formatter"
WARNING_TEXT = "Skipping malformed QIR output value"


class Recorder:
    """An output object that remembers every text handed to `write`."""

    def __init__(self):
        self.writes = []

    def write(self, text):
        self.writes.append(text)

    @property
    def text(self):
        return "".join(self.writes)


class WarningLog(logging.Handler):
    """Collects the formatter's log records; `count` is how many were emitted."""

    def __init__(self):
        super().__init__(level=logging.DEBUG)
        self.records = []

    def emit(self, record):
        self.records.append(record)

    @property
    def count(self):
        return len(self.records)


@pytest.fixture
def qo():
    return Recorder()


@pytest.fixture
def warning_log():
    """Every record under the formatter's logger, whatever the root configuration."""
    logger = logging.getLogger(LOGGER_NAME)
    handler = WarningLog()
    logger.addHandler(handler)
    old_level = logger.level
    logger.setLevel(logging.DEBUG)
    try:
        yield handler
    finally:
        logger.removeHandler(handler)
        logger.setLevel(old_level)


@pytest.fixture
def formatter():
    from brevant import QirLabeledFormatter

    return QirLabeledFormatter()
