#include "labeled_formatter/text_buffer.hpp"

#include <cstdlib>
#include <new>

namespace brevant {

TextBuffer::~TextBuffer() { std::free(data_); }

// realloc rather than new[]: large blocks are moved by remapping pages, so
// growth neither copies the text nor holds it twice.
void TextBuffer::grow(std::size_t extra) {
    std::size_t wanted = size_ + extra;
    if (wanted < size_) throw std::bad_alloc();
    std::size_t capacity = capacity_ < 256 ? 256 : capacity_ + capacity_ / 2;
    if (capacity < wanted) capacity = wanted;
    void* grown = std::realloc(data_, capacity);
    if (!grown) throw std::bad_alloc();
    data_ = static_cast<char*>(grown);
    capacity_ = capacity;
}

void TextBuffer::prepend(std::string_view s) {
    reserve(0);  // the front gap itself may not be allocated yet
    if (s.size() <= start_) {
        start_ -= s.size();
        if (!s.empty()) std::memcpy(data_ + start_, s.data(), s.size());
        return;
    }
    std::size_t text_size = size();
    reserve(s.size() - start_);
    std::memmove(data_ + s.size(), data_ + start_, text_size);
    std::memcpy(data_, s.data(), s.size());
    start_ = 0;
    size_ = s.size() + text_size;
}

}  // namespace brevant
