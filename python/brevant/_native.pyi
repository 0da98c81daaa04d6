import builtins
import typing

__all__ = ["QirLabeledFormatter"]

@typing.final
class QirLabeledFormatter:
    """
    Formatter for QIR Output Spec results.
    """

    val_fns: typing.Final[builtins.tuple]
    def __new__(cls, /) -> QirLabeledFormatter: ...
    def _val_null(self, /, tag: "str", val: typing.Any) -> builtins.bool:
        """
        No null tags or null values allowed (empty strings permitted for tags)
        """
    def _val_tag_type(self, /, tag: "str", _val: typing.Any) -> builtins.bool:
        """
        Tag must be a string
        """
    def validate_tag_and_value(self, /, tag: "str", val: typing.Any) -> builtins.bool:
        """
        Ensure the tag and value are valid values
        """
    def results_header(self, /, qo: typing.Any) -> None:
        """
        Emit results header.
        """
    def first_shot_header(self, /, qo: typing.Any, attributes: "dict[str, str | None]") -> None:
        """
        Emit opening shot boundary header.
        """
    def shot_footer(self, /, qo: typing.Any) -> None:
        """
        Emit closing shot boundary footer.
        """
    def emit(self, /, qo: typing.Any, ftype: "str", tag: "str", val: typing.Any) -> None:
        """
        Emit a value with of the given type and tag.
        """
    def format_value(self, /, type_str: "str", val: typing.Any) -> typing.Any:
        """
        Format the value if required
        """
    def write_shot(self, /, qo: typing.Any, shot: typing.Any) -> None:
        """
        Format the user defined output from shots
        """
    def write_first_shot(self, /, qo: typing.Any, shot: typing.Any, attributes: "dict[str, str | None]") -> None:
        """
        Write the first shot, which includes extra metadata
        """
    def emit_values_in_shot(self, /, qo: typing.Any, shot: typing.Any) -> None:
        """
        Given a shot, check the format and emit each user value
        """
    def qir_labeled_output(self, /, results: typing.Any, attributes: "dict[str, str | None]") -> builtins.str:
        """
        Given a list of results associated with an `n_qubits` job, return
        the results in QIR "Labeled" Output Schema format.
        """
