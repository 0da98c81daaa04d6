"""The API records the extension exports for stub generators, and the committed
stub they keep in step: the stub (python/brevant/_native.pyi) is written by
hand; this file checks it against the records, and the records against the
runtime (tests/test_typing.py checks the stub against the runtime)."""

import ast
import ctypes
import json
import shutil
import subprocess
from pathlib import Path

import pytest

import brevant._native as native

REPO_ROOT = Path(__file__).resolve().parent.parent
STUB = REPO_ROOT / "python" / "brevant" / "_native.pyi"

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
METHOD_NAMES = [name for kind, name in SYMBOLS.values() if kind == "function" and name != "__new__"]
SYMBOL_OF = {name: f"PYO3_INTROSPECTION_1_{number}" for number, (_, name) in SYMBOLS.items()}

LITERAL_RECORDS = {
    "_native": '{"id":"5089168780408015941","incomplete":false,"members":["2587030234202453218"],"name":"_native","type":"module"}',
    "QirLabeledFormatter": '{"decorators":[{"type":"attribute","value":{"type":"name","id":"typing"},"attr":"final"}],"doc":"Formatter for QIR Output Spec results.","id":"2587030234202453218","name":"QirLabeledFormatter","type":"class"}',
    "__new__": '{"arguments":{"posonlyargs":[{"name":"cls"}]},"name":"__new__","parent":"2587030234202453218","returns":{"type":"id","id":"2587030234202453218"},"type":"function"}',
    "val_fns": '{"annotation":{"type":"subscript","value":{"type":"attribute","value":{"type":"name","id":"typing"},"attr":"Final"},"slice":{"type":"attribute","value":{"type":"name","id":"builtins"},"attr":"tuple"}},"name":"val_fns","parent":"2587030234202453218","type":"attribute"}',
    "emit": '{"arguments":{"args":[{"annotation":{"type":"attribute","value":{"type":"name","id":"typing"},"attr":"Any"},"name":"qo"},{"annotation":{"type":"constant","kind":"str","value":"str"},"name":"ftype"},{"annotation":{"type":"constant","kind":"str","value":"str"},"name":"tag"},{"annotation":{"type":"attribute","value":{"type":"name","id":"typing"},"attr":"Any"},"name":"val"}],"posonlyargs":[{"name":"self"}]},"doc":"Emit a value with of the given type and tag.","name":"emit","parent":"2587030234202453218","returns":{"type":"constant","kind":"none"},"type":"function"}',
}


def exported_record_sizes():
    """Symbol name -> declared size of every record symbol the extension exports."""
    if shutil.which("nm") is None:
        pytest.skip("needs nm to list the exported symbols")
    listing = subprocess.run(
        ["nm", "-D", "-S", "--defined-only", native.__file__], capture_output=True, text=True, check=True
    ).stdout
    fields = [line.split() for line in listing.splitlines()]
    return {f[-1]: int(f[1], 16) for f in fields if len(f) == 4 and f[-1].startswith("PYO3_INTROSPECTION_1_")}


def read_record(library, symbol):
    """A record as stored: a 4-byte little-endian length, then that many bytes of JSON."""
    length = ctypes.c_uint32.in_dll(library, symbol)
    return ctypes.string_at(ctypes.addressof(length) + 4, length.value)


@pytest.fixture(scope="module")
def raw_records():
    """Symbol name -> (JSON bytes as stored, the symbol's declared size)."""
    library = ctypes.CDLL(native.__file__)
    return {symbol: (read_record(library, symbol), size) for symbol, size in exported_record_sizes().items()}


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


@pytest.mark.parametrize("name", ["__new__", *METHOD_NAMES])
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


def render(expr, names_by_id):
    """A record's annotation expression as the stub spells it (ast.unparse's spelling)."""
    kind = expr["type"]
    if kind == "name":
        return expr["id"]
    if kind == "attribute":
        return f"{render(expr['value'], names_by_id)}.{expr['attr']}"
    if kind == "subscript":
        return f"{render(expr['value'], names_by_id)}[{render(expr['slice'], names_by_id)}]"
    if kind == "id":
        return names_by_id[expr["id"]]
    return repr(None if expr["kind"] == "none" else expr["value"])


def stub_declaration(node):
    """What the stub declares for one class member, in the records' terms."""
    if isinstance(node, ast.AnnAssign):
        return {"annotation": ast.unparse(node.annotation)}
    arguments = node.args
    declared = {
        "posonlyargs": [a.arg for a in arguments.posonlyargs],
        "args": [(a.arg, ast.unparse(a.annotation)) for a in arguments.args],
        "returns": ast.unparse(node.returns),
    }
    if ast.get_docstring(node, clean=False) is not None:
        declared["doc"] = ast.get_docstring(node)
    return declared


def record_declaration(record, names_by_id):
    if record["type"] == "attribute":
        return {"annotation": render(record["annotation"], names_by_id)}
    arguments = record["arguments"]
    declared = {
        "posonlyargs": [a["name"] for a in arguments["posonlyargs"]],
        "args": [(a["name"], render(a["annotation"], names_by_id)) for a in arguments.get("args", [])],
        "returns": render(record["returns"], names_by_id),
    }
    if "doc" in record:
        declared["doc"] = record["doc"]
    return declared


@pytest.fixture(scope="module")
def stub_and_records(raw_records):
    records = [json.loads(data) for data, _ in raw_records.values()]
    names_by_id = {r["id"]: r["name"] for r in records if "id" in r}
    return ast.parse(STUB.read_text(encoding="utf-8")), records, names_by_id


def test_stub_declares_the_module_and_class_records(stub_and_records):
    tree, records, names_by_id = stub_and_records
    (module,) = [r for r in records if r["type"] == "module"]
    (cls,) = [r for r in records if r["type"] == "class"]
    (exports,) = [n for n in tree.body if isinstance(n, ast.Assign) and ast.unparse(n.targets[0]) == "__all__"]
    assert ast.literal_eval(exports.value) == [names_by_id[i] for i in module["members"]]
    (stub_class,) = [n for n in tree.body if isinstance(n, ast.ClassDef)]
    assert stub_class.name == cls["name"]
    assert [ast.unparse(d) for d in stub_class.decorator_list] == [render(d, names_by_id) for d in cls["decorators"]]
    assert ast.get_docstring(stub_class) == cls["doc"]


def test_stub_declares_each_member_as_its_record_does(stub_and_records):
    tree, records, names_by_id = stub_and_records
    (stub_class,) = [n for n in tree.body if isinstance(n, ast.ClassDef)]
    in_stub = {
        (n.target.id if isinstance(n, ast.AnnAssign) else n.name): stub_declaration(n)
        for n in stub_class.body
        if isinstance(n, (ast.AnnAssign, ast.FunctionDef))
    }
    in_records = {r["name"]: record_declaration(r, names_by_id) for r in records if "parent" in r}
    assert in_stub == in_records
