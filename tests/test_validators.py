"""The tag and value predicates and `val_fns`."""

import pytest

from brevant import QirLabeledFormatter

from shared import StrSub


class Falsy:
    def __bool__(self):
        return False

    def __eq__(self, other):
        return other is None

    __hash__ = object.__hash__


# (tag, val, _val_null, _val_tag_type, validate_tag_and_value)
TRUTH_TABLE = [
    ("a", 1, True, True, True),
    ("", 1, True, True, True),
    ("a", None, False, True, False),
    (None, 1, False, False, False),
    (None, None, False, False, False),
    (5, 1, True, False, False),
    (b"a", 1, True, False, False),
    (StrSub("a"), 1, True, True, True),
    (StrSub(""), None, False, True, False),
    ("\ud800", 1, True, False, False),
    ("a\udfffb", None, False, False, False),
    # Present means "not the None object", whatever the value's truth or equality.
    ("", 0, True, True, True),
    ("t", False, True, True, True),
    ("t", [], True, True, True),
    ("t", "", True, True, True),
    ("t", Falsy(), True, True, True),
    ("\u00e9\U0001f600", (), True, True, True),
    (1, 1, True, False, False),
    (["a"], 1, True, False, False),
    (Falsy(), 1, True, False, False),
]


@pytest.mark.parametrize(("tag", "val", "null", "tag_type", "valid"), TRUTH_TABLE)
def test_truth_table(formatter, tag, val, null, tag_type, valid):
    assert formatter._val_null(tag, val) is null
    assert formatter._val_tag_type(tag, val) is tag_type
    assert formatter.validate_tag_and_value(tag, val) is valid
    # Nothing may be left pending after a failed conversion: the next call is normal.
    assert formatter._val_tag_type("ok", None) is True


@pytest.mark.parametrize(("tag", "val", "null", "tag_type", "valid"), TRUTH_TABLE)
def test_val_fns_conjunction_matches_validate(formatter, tag, val, null, tag_type, valid):
    combined = all(fn(formatter, tag, val) for fn in QirLabeledFormatter.val_fns)
    assert combined == formatter.validate_tag_and_value(tag, val) == valid


def test_tag_type_ignores_the_value(formatter):
    assert formatter._val_tag_type("t", None) is True
    assert formatter._val_tag_type(tag="t", _val=object()) is True
    assert formatter._val_null(tag="t", val=1) is True
    assert formatter.validate_tag_and_value(val=None, tag="t") is False

