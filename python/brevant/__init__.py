"""Fast QIR "Labeled" output (schema 2.1) formatting for quantum results."""

from brevant.labeled_formatter import QirLabeledFormatter

__all__ = ["QirLabeledFormatter", "__version__"]
__version__ = "0.1.0"
