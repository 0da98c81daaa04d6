"""The API records the extension exports for stub generators, and the stub made from them."""

import importlib.util
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

import brevant._native as native

REPO_ROOT = Path(__file__).resolve().parent.parent
_spec = importlib.util.spec_from_file_location("generate_stub", REPO_ROOT / "tools" / "generate_stub.py")
generate_stub = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(generate_stub)

CLASS_ID = "2587030234202453218"


def _attr(module, name):
    return {"type": "attribute", "value": {"type": "name", "id": module}, "attr": name}


def _str_constant(text):
    return {"type": "constant", "kind": "str", "value": text}


ANY = _attr("typing", "Any")
BOOL = _attr("builtins", "bool")
BUILTIN_STR = _attr("builtins", "str")
STR = _str_constant("str")
ATTRIBUTES = _str_constant("dict[str, str | None]")
NONE = {"type": "constant", "kind": "none"}

SYMBOLS = {
    5988477475393205572: ("module", "_native"),
    6998409416174244723: ("class", "QirLabeledFormatter"),
    6404678592017576537: ("function", "__new__"),
    17340105860892289241: ("attribute", "val_fns"),
    17433503695534895230: ("function", "_val_null"),
    16244697570635051064: ("function", "_val_tag_type"),
    776435367811913223: ("function", "validate_tag_and_value"),
    10548881081269663725: ("function", "results_header"),
    2417477790047735858: ("function", "first_shot_header"),
    15287398420859818500: ("function", "shot_footer"),
    14480642654457886517: ("function", "emit"),
    9637745682054119517: ("function", "format_value"),
    16201573034674869283: ("function", "write_shot"),
    5583005889328262263: ("function", "write_first_shot"),
    13922185259224266879: ("function", "emit_values_in_shot"),
    1242220387509149517: ("function", "qir_labeled_output"),
}
SYMBOL_OF = {name: f"PYO3_INTROSPECTION_1_{number}" for number, (_, name) in SYMBOLS.items()}

# name: (parameters with annotations, return annotation, doc)
METHODS = {
    "_val_null": (
        [("tag", STR), ("val", ANY)],
        BOOL,
        "No null tags or null values allowed (empty strings permitted for tags)",
    ),
    "_val_tag_type": ([("tag", STR), ("_val", ANY)], BOOL, "Tag must be a string"),
    "validate_tag_and_value": ([("tag", STR), ("val", ANY)], BOOL, "Ensure the tag and value are valid values"),
    "results_header": ([("qo", ANY)], NONE, "Emit results header."),
    "first_shot_header": ([("qo", ANY), ("attributes", ATTRIBUTES)], NONE, "Emit opening shot boundary header."),
    "shot_footer": ([("qo", ANY)], NONE, "Emit closing shot boundary footer."),
    "emit": (
        [("qo", ANY), ("ftype", STR), ("tag", STR), ("val", ANY)],
        NONE,
        "Emit a value with of the given type and tag.",
    ),
    "format_value": ([("type_str", STR), ("val", ANY)], ANY, "Format the value if required"),
    "write_shot": ([("qo", ANY), ("shot", ANY)], NONE, "Format the user defined output from shots"),
    "write_first_shot": (
        [("qo", ANY), ("shot", ANY), ("attributes", ATTRIBUTES)],
        NONE,
        "Write the first shot, which includes extra metadata",
    ),
    "emit_values_in_shot": (
        [("qo", ANY), ("shot", ANY)],
        NONE,
        "Given a shot, check the format and emit each user value",
    ),
    "qir_labeled_output": (
        [("results", ANY), ("attributes", ATTRIBUTES)],
        BUILTIN_STR,
        'Given a list of results associated with an `n_qubits` job, return\nthe results in QIR "Labeled" Output Schema format.',
    ),
}

LITERAL_RECORDS = {
    "_native": '{"id":"5089168780408015941","incomplete":false,"members":["2587030234202453218"],"name":"_native","type":"module"}',
    "QirLabeledFormatter": '{"decorators":[{"type":"attribute","value":{"type":"name","id":"typing"},"attr":"final"}],"doc":"Formatter for QIR Output Spec results.","id":"2587030234202453218","name":"QirLabeledFormatter","type":"class"}',
    "__new__": '{"arguments":{"posonlyargs":[{"name":"cls"}]},"name":"__new__","parent":"2587030234202453218","returns":{"type":"id","id":"2587030234202453218"},"type":"function"}',
    "val_fns": '{"annotation":{"type":"subscript","value":{"type":"attribute","value":{"type":"name","id":"typing"},"attr":"Final"},"slice":{"type":"attribute","value":{"type":"name","id":"builtins"},"attr":"tuple"}},"name":"val_fns","parent":"2587030234202453218","type":"attribute"}',
    "emit": '{"arguments":{"args":[{"annotation":{"type":"attribute","value":{"type":"name","id":"typing"},"attr":"Any"},"name":"qo"},{"annotation":{"type":"constant","kind":"str","value":"str"},"name":"ftype"},{"annotation":{"type":"constant","kind":"str","value":"str"},"name":"tag"},{"annotation":{"type":"attribute","value":{"type":"name","id":"typing"},"attr":"Any"},"name":"val"}],"posonlyargs":[{"name":"self"}]},"doc":"Emit a value with of the given type and tag.","name":"emit","parent":"2587030234202453218","returns":{"type":"constant","kind":"none"},"type":"function"}',
}


def method_record_text(name):
    """The compact JSON of a method record, keys in the order the records use."""
    params, returns, doc = METHODS[name]
    record = {
        "arguments": {
            "args": [{"annotation": annotation, "name": param} for param, annotation in params],
            "posonlyargs": [{"name": "self"}],
        },
        "doc": doc,
        "name": name,
        "parent": CLASS_ID,
        "returns": returns,
        "type": "function",
    }
    return json.dumps(record, separators=(",", ":"), ensure_ascii=False)


@pytest.fixture(scope="module")
def raw_records():
    return generate_stub.read_raw_records(native.__file__)


def record_text(raw_records, name):
    data, _ = raw_records[SYMBOL_OF[name]]
    return data.decode("utf-8")


def test_exactly_the_sixteen_symbols_are_exported(raw_records):
    assert sorted(raw_records) == sorted(SYMBOL_OF.values())


@pytest.mark.parametrize("number", SYMBOLS)
def test_record_is_length_prefixed_json_of_its_kind(raw_records, number):
    data, symbol_size = raw_records[f"PYO3_INTROSPECTION_1_{number}"]
    # A prefix that overstates the length drags trailing bytes into the JSON;
    # one that understates it cuts the object short. Either fails to parse.
    record = json.loads(data.decode("utf-8"))
    assert (record["type"], record["name"]) == SYMBOLS[number]
    assert symbol_size in (0, 4 + len(data))


@pytest.mark.parametrize("name", LITERAL_RECORDS)
def test_record_text_is_exact(raw_records, name):
    assert record_text(raw_records, name) == LITERAL_RECORDS[name]


@pytest.mark.parametrize("name", METHODS)
def test_method_record_text_is_exact(raw_records, name):
    assert record_text(raw_records, name) == method_record_text(name)


def test_method_table_reproduces_the_literal_emit_record():
    assert method_record_text("emit") == LITERAL_RECORDS["emit"]


def test_module_record_lists_only_the_class(raw_records):
    module = json.loads(record_text(raw_records, "_native"))
    cls = json.loads(record_text(raw_records, "QirLabeledFormatter"))
    assert module["members"] == [cls["id"]]


@pytest.mark.parametrize("name", ["__new__", *METHODS])
def test_record_arguments_match_runtime_signature(raw_records, name):
    record = json.loads(record_text(raw_records, name))
    runtime = native.QirLabeledFormatter if name == "__new__" else getattr(native.QirLabeledFormatter, name)
    params = runtime.__text_signature__.strip("()").split(", ")
    params = [p for p in params if p]
    bound = [p.lstrip("$") for p in params if p.startswith("$")]
    free = [p for p in params if not p.startswith("$")]
    arguments = record["arguments"]
    if name == "__new__":
        # The class signature "()" hides the implicit cls.
        assert (bound, free) == ([], [])
        assert arguments == {"posonlyargs": [{"name": "cls"}]}
    else:
        assert [a["name"] for a in arguments["posonlyargs"]] == bound == ["self"]
        assert [a["name"] for a in arguments["args"]] == free
        assert record["doc"] == runtime.__doc__


def test_committed_stub_is_generated_from_the_extension():
    committed = generate_stub.DEFAULT_STUB.read_text(encoding="utf-8")
    assert committed == generate_stub.generate(native.__file__)


def test_committed_stub_agrees_with_the_runtime(tmp_path):
    pytest.importorskip("mypy")
    # The committed stub shadows the installed one; the runtime side is the installed module.
    env = {**os.environ, "MYPYPATH": str(REPO_ROOT / "python"), "MYPY_CACHE_DIR": str(tmp_path)}
    done = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "brevant._native"],
        env=env,
        cwd=tmp_path,
        capture_output=True,
        text=True,
    )
    assert done.returncode == 0, done.stdout + done.stderr


@pytest.mark.parametrize(
    "existing, status",
    [(None, 1), ("import typing\n", 1), ("generated", 0)],
)
def test_check_mode_reports_stale_stub(tmp_path, capsys, existing, status):
    output = tmp_path / "_native.pyi"
    fresh = generate_stub.generate(native.__file__)
    if existing is not None:
        output.write_text(fresh if existing == "generated" else existing, encoding="utf-8")
    assert generate_stub.main(["--check", "--output", str(output), native.__file__]) == status
    diff = capsys.readouterr().out
    assert ("+class QirLabeledFormatter:" in diff) == (status == 1)


def test_write_mode_writes_the_generated_stub(tmp_path):
    output = tmp_path / "_native.pyi"
    assert generate_stub.main(["--output", str(output), native.__file__]) == 0
    assert output.read_text(encoding="utf-8") == generate_stub.generate(native.__file__)


NAMES = {"1": "Owner"}


@pytest.mark.parametrize(
    "expr, text",
    [
        (ANY, "typing.Any"),
        (NONE, "None"),
        (STR, '"str"'),
        (_str_constant('say "hi"\n'), '"say \\"hi\\"\\n"'),
        ({"type": "id", "id": "1"}, "Owner"),
        (
            {"type": "subscript", "value": _attr("typing", "Final"), "slice": _attr("builtins", "tuple")},
            "typing.Final[builtins.tuple]",
        ),
        (
            {"type": "attribute", "value": _attr("collections", "abc"), "attr": "Sequence"},
            "collections.abc.Sequence",
        ),
    ],
)
def test_render_expression(expr, text):
    assert generate_stub.render_expression(expr, NAMES) == text


@pytest.mark.parametrize(
    "doc, lines",
    [
        ("One line.", ['    """', "    One line.", '    """']),
        ("a\n\nb", ['    """', "    a", "", "    b", '    """']),
        ('ends with "quote"', ['    """', '    ends with "quote"', '    """']),
        ('has """ inside', ["    'has \"\"\" inside'"]),
        ("back\\slash", ["    'back\\\\slash'"]),
    ],
)
def test_docstring_lines(doc, lines):
    assert generate_stub._docstring(doc, "    ") == lines
