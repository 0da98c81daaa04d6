from typing import Any, Callable, Iterable

def format_columns(columns: Iterable[tuple[Any, ...]], attributes: dict[str, Any] | None = None) -> str: ...
def write_columns(
    write: Callable[[Any], object],
    columns: Iterable[tuple[Any, ...]],
    attributes: dict[str, Any] | None = None,
    binary: bool = False,
) -> None: ...
