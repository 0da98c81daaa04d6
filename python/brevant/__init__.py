"""Fast QIR "Labeled" output (schema 2.1) formatting for quantum results."""

from brevant.checker import Finding, check_labeled
from brevant.labeled_formatter import QirLabeledFormatter

__all__ = ["Finding", "QirLabeledFormatter", "__version__", "check_labeled"]
__version__ = "0.1.0"
