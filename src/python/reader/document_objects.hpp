#pragma once
// A read document as Python objects, built in bulk when asked for. Every
// entry of a label shares one key str; bools and small ints are the
// interpreter's shared objects; a bit string is made once per distinct outcome.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "labeled_reader/document.hpp"
#include "python/runtime/python.hpp"
#include "python/runtime/ref.hpp"

namespace brevant::py {

class DocumentObjects {
public:
    // Shots [from, to) as lists of ("USER:<raw type>:<tag>", value) tuples.
    Ref shots(const reader::Document& doc, std::size_t from, std::size_t to);
    // Label to one value per shot, None where a shot lacks it.
    Ref columns(const reader::Document& doc);

private:
    PyObject* key(const reader::Document& doc, std::uint32_t column);
    Ref value(const reader::Document& doc, std::size_t& entry);
    std::vector<Ref> keys_;
};

// `labels` is None or an iterable of str.
Ref counts_object(const reader::Document& doc, PyObject* labels);
Ref memory_object(const reader::Document& doc, PyObject* labels);

Ref exit_codes_object(const reader::Document& doc);
Ref headers_object(const reader::Document& doc);
Ref attributes_object(const reader::Document& doc);
Ref schema_object(const reader::Document& doc);
Ref version_object(const reader::Document& doc);

Ref text_object(std::string_view text);  // strict UTF-8

}  // namespace brevant::py
