#pragma once
// A read document as Python objects, built in bulk when asked for. Every
// entry of a label shares one key str; bools and small ints are the
// interpreter's shared objects; a bit string is made once per distinct outcome.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "labeled_reader/document.hpp"
#include "labeled_reader/outcomes.hpp"
#include "python/runtime/python.hpp"
#include "python/runtime/ref.hpp"

namespace brevant::py {

class DocumentObjects {
public:
    // Shots [from, to) as lists of ("USER:<raw type>:<tag>", value) tuples,
    // one per record: a container's value is its element count.
    Ref shots(const reader::Document& doc, std::size_t from, std::size_t to);
    // Label to one value per shot, None where a shot lacks it.
    Ref columns(const reader::Document& doc);

private:
    PyObject* key(const reader::Document& doc, std::uint32_t column);
    Ref shot(const reader::Document& doc, const reader::Shot& shot);
    std::vector<Ref> keys_;
    std::uint64_t keys_epoch_ = 0;
};

// The chosen labels (None or an iterable of str) as the picker that decides bits.
reader::BitPicker bit_picker(PyObject* labels);
// "record" or "reversed".
reader::BitOrder bit_order(PyObject* name);

// Bit string to number of shots counted, and one bit string per shot left in.
Ref counts_object(const reader::Outcomes& outcomes, reader::BitOrder order);
Ref memory_object(const reader::Outcomes& outcomes, reader::BitOrder order);
// Where a matrix of bits stands: rows given so far and their width, carried
// from one chunk of a stream to the next.
struct BitRows {
    std::size_t shots = 0;
    std::optional<std::size_t> width;
};

// memory() as one bytearray of 0s and 1s, with its shots and bits, the rows
// continuing `rows`; a ValueError when a bit string's length differs from the
// first's.
Ref bits_object(const reader::Outcomes& outcomes, reader::BitOrder order, BitRows& rows);

Ref exit_codes_object(const reader::Document& doc);
Ref headers_object(const reader::Document& doc);
Ref attributes_object(const reader::Document& doc);
Ref schema_object(const reader::Document& doc);
Ref version_object(const reader::Document& doc);

Ref text_object(std::string_view text);  // strict UTF-8

}  // namespace brevant::py
