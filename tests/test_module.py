"""The extension module, its class object and the class's method table."""

import re
import subprocess
import sys
import weakref

import pytest

import brevant
import brevant._native as native
import brevant.labeled_formatter
from brevant._native import QirLabeledFormatter

METHODS = [
    ("_val_null", "($self, tag, val)", "No null tags or null values allowed (empty strings permitted for tags)"),
    ("_val_tag_type", "($self, tag, _val)", "Tag must be a string"),
    ("validate_tag_and_value", "($self, tag, val)", "Ensure the tag and value are valid values"),
    ("results_header", "($self, qo)", "Emit results header."),
    ("first_shot_header", "($self, qo, attributes)", "Emit opening shot boundary header."),
    ("shot_footer", "($self, qo)", "Emit closing shot boundary footer."),
    ("emit", "($self, qo, ftype, tag, val)", "Emit a value with of the given type and tag."),
    ("format_value", "($self, type_str, val)", "Format the value if required"),
    ("write_shot", "($self, qo, shot)", "Format the user defined output from shots"),
    ("write_first_shot", "($self, qo, shot, attributes)", "Write the first shot, which includes extra metadata"),
    ("emit_values_in_shot", "($self, qo, shot)", "Given a shot, check the format and emit each user value"),
    (
        "qir_labeled_output",
        "($self, results, attributes)",
        'Given a list of results associated with an `n_qubits` job, return\nthe results in QIR "Labeled" Output Schema format.',
    ),
]
METHOD_NAMES = [name for name, _, _ in METHODS]

def test_module_doc_and_all():
    assert native.__doc__ == ""
    assert type(native.__all__) is list
    assert native.__all__ == ["QirLabeledFormatter"]
    assert native.QirLabeledFormatter is QirLabeledFormatter


@pytest.mark.parametrize(
    "attribute, expected",
    [
        ("__module__", "brevant.labeled_formatter"),
        ("__name__", "QirLabeledFormatter"),
        ("__qualname__", "QirLabeledFormatter"),
        ("__doc__", "Formatter for QIR Output Spec results."),
        ("__text_signature__", "()"),
        ("__itemsize__", 0),
        ("__dictoffset__", 0),
        ("__weakrefoffset__", 0),
        ("__bases__", (object,)),
    ],
)
def test_class_attribute(attribute, expected):
    assert getattr(QirLabeledFormatter, attribute) == expected


def test_class_repr():
    assert repr(QirLabeledFormatter) == "<class 'brevant.labeled_formatter.QirLabeledFormatter'>"


@pytest.mark.parametrize("name, signature, doc", METHODS)
def test_method_signature_and_doc(name, signature, doc):
    method = vars(QirLabeledFormatter)[name]
    assert type(method).__name__ == "method_descriptor"
    assert method.__text_signature__ == signature
    assert method.__doc__ == doc


def test_class_defines_nothing_beyond_its_methods_and_val_fns():
    # No __init__, __repr__, comparison or pickling hooks of its own.
    assert set(vars(QirLabeledFormatter)) == {"__new__", "__doc__", "__module__", "val_fns", *METHOD_NAMES}
    assert [name for name in vars(QirLabeledFormatter) if name in METHOD_NAMES] == METHOD_NAMES


def test_val_fns_holds_the_two_validators_in_order():
    val_fns = QirLabeledFormatter.val_fns
    assert type(val_fns) is tuple and len(val_fns) == 2
    assert val_fns[0] is vars(QirLabeledFormatter)["_val_tag_type"]
    assert val_fns[1] is vars(QirLabeledFormatter)["_val_null"]
    assert val_fns[1](QirLabeledFormatter(), "t", None) is False
    assert val_fns[0](QirLabeledFormatter(), 1, "v") is False


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((1,), {}, "QirLabeledFormatter.__new__() takes 0 positional arguments but 1 was given"),
        ((1, 2), {}, "QirLabeledFormatter.__new__() takes 0 positional arguments but 2 were given"),
        ((1, 2, 3), {"x": 1}, "QirLabeledFormatter.__new__() takes 0 positional arguments but 3 were given"),
        ((), {"x": 1}, "QirLabeledFormatter.__new__() got an unexpected keyword argument 'x'"),
        ((), {"b": 1, "a": 2}, "QirLabeledFormatter.__new__() got an unexpected keyword argument 'b'"),
    ],
)
def test_constructor_rejects_arguments(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        QirLabeledFormatter(*args, **kwargs)
    assert str(info.value) == message


def test_instances_are_distinct_plain_objects():
    first, second = QirLabeledFormatter(), QirLabeledFormatter()
    assert type(first) is QirLabeledFormatter
    assert first is not second and first != second
    assert re.fullmatch(r"<brevant\.labeled_formatter\.QirLabeledFormatter object at 0x[0-9a-fA-F]+>", repr(first))


def test_cannot_be_subclassed():
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Sub", (QirLabeledFormatter,), {})


def test_instance_takes_no_attributes():
    formatter = QirLabeledFormatter()
    with pytest.raises(AttributeError):
        formatter.x = 1
    assert not hasattr(formatter, "__dict__")


def test_instance_cannot_be_weakly_referenced():
    with pytest.raises(TypeError):
        weakref.ref(QirLabeledFormatter())


def test_package_reexports_the_one_class():
    assert brevant.labeled_formatter.QirLabeledFormatter is QirLabeledFormatter
    assert brevant.QirLabeledFormatter is QirLabeledFormatter


REIMPORT = """
import importlib, sys
import brevant._native as first
cls, first_all = first.QirLabeledFormatter, first.__all__
del sys.modules["brevant._native"]
second = importlib.import_module("brevant._native")
assert second is not first, "a new module object"
assert second.QirLabeledFormatter is cls, "the same class object"
assert second.__all__ == ["QirLabeledFormatter"], second.__all__
assert second.__all__ is not first_all
assert first.__all__ == ["QirLabeledFormatter"], first.__all__
print("ok")
"""


def test_reimport_reuses_the_class_with_a_fresh_all():
    done = subprocess.run([sys.executable, "-c", REIMPORT], capture_output=True, text=True)
    assert done.stderr == ""
    assert done.stdout == "ok\n"
