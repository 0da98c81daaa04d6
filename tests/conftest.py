import logging

import pytest

from shared import LOGGER_NAME, WarningLog, Recorder


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
