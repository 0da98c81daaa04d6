"""Fast QIR "Labeled" output (schema 2.1) formatting for quantum results."""

from brevant.checker import Finding, check_labeled
from brevant._reader import PanicException
from brevant.arrays import iter_bits
from brevant.columns import format_columns, write_columns
from brevant.labeled_formatter import QirLabeledFormatter
from brevant.reader import LabeledParseError, LabeledReader, LabeledResult, count_labeled, iter_shots, read_labeled

__all__ = [
    "Finding",
    "LabeledParseError",
    "LabeledReader",
    "LabeledResult",
    "PanicException",
    "QirLabeledFormatter",
    "__version__",
    "check_labeled",
    "count_labeled",
    "format_columns",
    "iter_bits",
    "iter_shots",
    "read_labeled",
    "write_columns",
]
__version__ = "0.2.0"
