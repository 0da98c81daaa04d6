"""Values in the JSON Lines form of shots. Standard JSON has no non-finite
doubles: each is written as a string, the text the formatter writes for it
(Python's own repr), and read back from it."""

from __future__ import annotations

import math
import re
from typing import Any

NON_FINITE = {repr(double): double for double in (math.nan, math.inf, -math.inf)}
# A line holding one of those strings, found before the line is parsed.
NON_FINITE_TEXT = re.compile(b'"(?:' + b"|".join(re.escape(text.encode()) for text in NON_FINITE) + b')"')


def json_value(value: Any) -> Any:
    """A value as standard JSON holds it: a non-finite double as its string."""
    if isinstance(value, list):
        return [json_value(item) for item in value]
    if isinstance(value, float) and not math.isfinite(value):
        return repr(value)
    return value
