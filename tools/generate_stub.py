"""Generate python/brevant/_native.pyi from the API records built into the extension.

The extension exports one data symbol per module, class, attribute and method
(`PYO3_INTROSPECTION_1_<n>`), each pointing at a 4-byte little-endian length
followed by that many bytes of JSON. Generating the stub from those records
keeps the binary the single source of truth for names, annotations and docs.

    python tools/generate_stub.py [--check] [--output PATH] [EXTENSION.so]
"""

from __future__ import annotations

import argparse
import difflib
import importlib.util
import json
import struct
import sys
from pathlib import Path
from types import ModuleType
from typing import Any

from elftools.elf.elffile import ELFFile
from elftools.elf.sections import SymbolTableSection

SYMBOL_PREFIX = "PYO3_INTROSPECTION_1_"
REPO_ROOT = Path(__file__).resolve().parent.parent
DEFAULT_STUB = REPO_ROOT / "python" / "brevant" / "_native.pyi"
INDENT = "    "

Record = dict[str, Any]


def _file_offset(elf: ELFFile, address: int) -> int:
    for segment in elf.iter_segments():
        header = segment.header
        if header.p_type == "PT_LOAD" and header.p_vaddr <= address < header.p_vaddr + header.p_filesz:
            return address - header.p_vaddr + header.p_offset
    raise ValueError(f"address {address:#x} is not backed by file data")


def read_raw_records(path: str | Path) -> dict[str, tuple[bytes, int]]:
    """Symbol name -> (JSON bytes as stored, the symbol's declared size)."""
    records = {}
    with open(path, "rb") as stream:
        elf = ELFFile(stream)
        dynsym = elf.get_section_by_name(".dynsym")
        if not isinstance(dynsym, SymbolTableSection):
            raise ValueError(f"{path}: no dynamic symbol table")
        for symbol in dynsym.iter_symbols():
            if not symbol.name.startswith(SYMBOL_PREFIX) or symbol["st_shndx"] == "SHN_UNDEF":
                continue
            stream.seek(_file_offset(elf, symbol["st_value"]))
            (length,) = struct.unpack("<I", stream.read(4))
            records[symbol.name] = (stream.read(length), symbol["st_size"])
    return records


def read_records(path: str | Path) -> list[Record]:
    return [json.loads(raw) for raw, _ in read_raw_records(path).values()]


def load_extension(path: str | Path) -> ModuleType:
    """A fresh module object for the extension at `path`, leaving sys.modules alone."""
    spec = importlib.util.spec_from_file_location("brevant._native", path)
    if spec is None or spec.loader is None:
        raise ImportError(f"cannot load an extension from {path}")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def render_expression(expr: Record, names_by_id: dict[str, str]) -> str:
    kind = expr["type"]
    if kind == "name":
        return expr["id"]
    if kind == "attribute":
        return f"{render_expression(expr['value'], names_by_id)}.{expr['attr']}"
    if kind == "subscript":
        value = render_expression(expr["value"], names_by_id)
        return f"{value}[{render_expression(expr['slice'], names_by_id)}]"
    if kind == "id":
        return names_by_id[expr["id"]]
    if kind == "constant":
        if expr["kind"] == "none":
            return "None"
        if expr["kind"] == "str":
            # Double quotes, as stub readers expect string annotations to look.
            return json.dumps(expr["value"], ensure_ascii=False)
    raise ValueError(f"unsupported expression {expr!r}")


def _imported_modules(expr: Any) -> set[str]:
    """Every bare name in an expression tree; in these records those are module names."""
    if isinstance(expr, list):
        return set().union(*map(_imported_modules, expr))
    if not isinstance(expr, dict):
        return set()
    found = {expr["id"]} if expr.get("type") == "name" else set()
    return found.union(*map(_imported_modules, expr.values()))


def _docstring(doc: str, indent: str) -> list[str]:
    if '"""' in doc or "\\" in doc:
        return [indent + repr(doc)]
    lines = [indent + line if line else "" for line in doc.split("\n")]
    return [indent + '"""', *lines, indent + '"""']


def _render_function(record: Record, indent: str, names_by_id: dict[str, str]) -> list[str]:
    arguments = record["arguments"]
    params = [arg["name"] for arg in arguments.get("posonlyargs", [])]
    if params:
        params.append("/")
    for arg in arguments.get("args", []):
        annotation = arg.get("annotation")
        suffix = f": {render_expression(annotation, names_by_id)}" if annotation else ""
        params.append(arg["name"] + suffix)
    head = f"{indent}def {record['name']}({', '.join(params)})"
    if "returns" in record:
        head += f" -> {render_expression(record['returns'], names_by_id)}"
    if "doc" not in record:
        return [head + ": ..."]
    return [head + ":", *_docstring(record["doc"], indent + INDENT)]


def _render_class(record: Record, members: list[Record], names_by_id: dict[str, str]) -> list[str]:
    lines = [f"@{render_expression(d, names_by_id)}" for d in record.get("decorators", [])]
    lines.append(f"class {record['name']}:")
    body: list[str] = []
    if "doc" in record:
        body += [*_docstring(record["doc"], INDENT), ""]
    for member in members:
        if member["type"] == "attribute":
            body.append(f"{INDENT}{member['name']}: {render_expression(member['annotation'], names_by_id)}")
        else:
            body += _render_function(member, INDENT, names_by_id)
    return lines + (body or [INDENT + "..."])


def render_stub(records: list[Record], member_order: dict[str, list[str]]) -> str:
    """The stub text for the module record and everything it reaches.

    The records carry no ordering of their own; `member_order` gives, per class
    name, the names in the order the class defines them (attributes still come
    before methods, as stub readers expect declarations first).
    """
    (module,) = [r for r in records if r["type"] == "module"]
    names_by_id = {r["id"]: r["name"] for r in records if "id" in r}
    classes = {r["id"]: r for r in records if r["type"] == "class"}

    blocks = []
    for member_id in module["members"]:
        cls = classes[member_id]
        order = member_order[cls["name"]]
        members = sorted(
            (r for r in records if r.get("parent") == member_id),
            key=lambda r: (r["type"] != "attribute", order.index(r["name"])),
        )
        blocks.append(_render_class(cls, members, names_by_id))

    imports = [f"import {name}" for name in sorted(_imported_modules(records))]
    # The module's execution lists every member it adds in __all__.
    exports = [f"__all__ = {json.dumps([names_by_id[i] for i in module['members']])}"]
    sections = [imports, exports, *blocks]
    return "\n\n".join("\n".join(section) for section in sections if section) + "\n"


def generate(path: str | Path) -> str:
    records = read_records(path)
    module = load_extension(path)
    order = {
        r["name"]: list(vars(getattr(module, r["name"])))
        for r in records
        if r["type"] == "class"
    }
    return render_stub(records, order)


def _default_extension() -> str:
    import brevant._native

    return brevant._native.__file__


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("extension", nargs="?", help="built _native*.so (default: the importable one)")
    parser.add_argument("--output", type=Path, default=DEFAULT_STUB)
    parser.add_argument("--check", action="store_true", help="fail with a diff if the stub is stale")
    args = parser.parse_args(argv)

    text = generate(args.extension or _default_extension())
    if not args.check:
        args.output.write_text(text, encoding="utf-8")
        return 0
    current = args.output.read_text(encoding="utf-8") if args.output.exists() else ""
    if current == text:
        return 0
    sys.stdout.writelines(
        difflib.unified_diff(
            current.splitlines(keepends=True),
            text.splitlines(keepends=True),
            f"{args.output} (committed)",
            f"{args.output} (generated)",
        )
    )
    return 1


if __name__ == "__main__":
    sys.exit(main())
