"""The labeled output formatter; the class lives in the native extension."""

from brevant._native import QirLabeledFormatter

__all__ = ["QirLabeledFormatter"]
