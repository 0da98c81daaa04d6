#pragma once
// The one growing UTF-8 buffer a call writes its text into.

#include <cstddef>
#include <cstring>
#include <string_view>

#include "common/compiler.hpp"

namespace brevant {

class TextBuffer {
public:
    // `front_gap` bytes are kept free before the text so that a header whose
    // content is only known at the end (the METADATA block) can be put in
    // front without moving the text behind it.
    explicit TextBuffer(std::size_t front_gap = 0);
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;
    ~TextBuffer();

    std::size_t size() const noexcept { return size_ - start_; }
    bool empty() const noexcept { return size_ == start_; }
    std::string_view view() const noexcept { return {data_ + start_, size_ - start_}; }

    // Room for `n` more bytes; returns where they go. Commit them with `advance`.
    char* reserve(std::size_t n) {
        if (BREVANT_UNLIKELY(size_ + n > capacity_)) grow(n);
        return data_ + size_;
    }
    void advance(std::size_t n) noexcept { size_ += n; }

    void append(std::string_view s) {
        std::memcpy(reserve(s.size()), s.data(), s.size());
        size_ += s.size();
    }
    void push_back(char c) {
        *reserve(1) = c;
        ++size_;
    }

    // Offsets are relative to the start of the text, as `size()` reports them.
    void truncate(std::size_t text_size) noexcept { size_ = start_ + text_size; }

    // Puts `s` before the current text.
    void prepend(std::string_view s);

private:
    void grow(std::size_t extra);

    char* data_ = nullptr;
    std::size_t start_;
    std::size_t size_;
    std::size_t capacity_ = 0;
};

}  // namespace brevant
