"""Fixed texts and helper classes that several test files use. Nothing here
imports brevant, so the model may use it as well."""

import logging

LOGGER_NAME = "brevant.labeled_formatter"
WARNING_TEXT = "Skipping malformed QIR output value"

RESULTS_HEADER = "HEADER\tschema_id\tlabeled\nHEADER\tschema_version\t2.1\n"
SHOT_START = "START\n"
SHOT_END = "END\t0\n"


def first_shot_header(profiles="base_profile", qubits="0", results="0"):
    """The first shot's header, with the defaults of a job without attributes."""
    return (
        "START\n"
        "METADATA\tentry_point\n"
        f"METADATA\tqir_profiles\t{profiles}\n"
        f"METADATA\trequired_num_qubits\t{qubits}\n"
        f"METADATA\trequired_num_results\t{results}\n"
    )


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


class Boom(Exception):
    """Raised by test doubles, so that only the test's own failure matches."""


# Subclasses whose Python-level hooks all lie: the formatter must read what the
# object stores, never what these hooks answer.


class IntSub(int):
    def __index__(self):
        return 42

    __int__ = __index__

    def __float__(self):
        return 42.0

    def __repr__(self):
        return "IntSub!"

    __str__ = __repr__


class FloatSub(float):
    def __float__(self):
        return 42.0

    def __repr__(self):
        return "FloatSub!"

    __str__ = __repr__


class ListSub(list):
    def __iter__(self):
        return iter([2, None, "x"])

    def __len__(self):
        return 0

    def __getitem__(self, index):
        return None


class StrSub(str):
    def __str__(self):
        return "StrSub!"
