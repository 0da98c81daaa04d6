#pragma once
// A method as data: its name, parameters, annotations and documentation. Each
// module keeps a table of these; the argument binding, the docstrings (and the
// formatter's exported API records) are derived from it.

#include <cstddef>
#include <span>
#include <string_view>

namespace brevant::py {

// The declared annotations; documentation only, never checked.
enum class Annotation { TypingAny, StrText, AttributesText, None, BuiltinsBool, BuiltinsStr };

struct Param {
    std::string_view name;
    Annotation annotation = Annotation::TypingAny;
    // The default as the signature shows it; a parameter with one may be left
    // out, and its body then receives a null argument.
    std::string_view default_text = {};

    constexpr bool required() const { return default_text.empty(); }
};

// Whether a method's parameters can also be passed by keyword.
enum class Passing { PositionalOrKeyword, PositionalOnly };

struct MethodInfo {
    std::string_view name;
    std::span<const Param> params;
    Annotation returns;
    std::string_view doc;
    Passing passing = Passing::PositionalOrKeyword;
};

inline constexpr std::size_t max_params = 4;

}  // namespace brevant::py
