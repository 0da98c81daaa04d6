#pragma once
// Texts computed at compile time (docstrings, API records) and frozen into
// static storage.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace brevant::py {

template <std::size_t N>
struct StaticText {
    std::array<char, N + 1> chars{};  // NUL-terminated for the C API
    constexpr const char* c_str() const { return chars.data(); }
    constexpr std::string_view view() const { return {chars.data(), N}; }
};

// `make` is a constant expression returning a std::string.
template <auto make>
consteval auto freeze_text() {
    constexpr std::size_t size = make().size();
    StaticText<size> out;
    std::string text = make();
    for (std::size_t i = 0; i < size; ++i) out.chars[i] = text[i];
    return out;
}

// The same without the terminating NUL, for data whose size is its length.
template <auto make>
consteval auto freeze_bytes() {
    constexpr std::size_t size = make().size();
    std::array<char, size> out{};
    std::string text = make();
    for (std::size_t i = 0; i < size; ++i) out[i] = text[i];
    return out;
}

}  // namespace brevant::py
