#pragma once
// The `columns` argument: (key, array) pairs, or (key, packed bits, bit
// count) triples, read through the buffer protocol without a Python object
// per element.

#include <cstddef>
#include <vector>

#include "labeled_formatter/columns.hpp"
#include "python/runtime/python.hpp"
#include "python/runtime/ref.hpp"

namespace brevant::py {

struct ColumnSource {
    Ref key;   // owns the tag's UTF-8 text
    Ref view;  // a memoryview of the array, which pins its memory for the call
};

struct ColumnSet {
    std::vector<ColumnSource> sources;
    std::vector<Column> columns;
    std::size_t shots = 0;
};

// Checks every column (key, element type, dimensions, shot count) before
// anything is written; a bad column raises TypeError or ValueError naming it.
ColumnSet read_columns(PyObject* columns);

// Each column's rows for a run of shots, copied out of its buffer.
class RowCopies {
public:
    explicit RowCopies(const ColumnSet& set);

    // Shots per copy: a few tens of KiB of rows, whatever the columns.
    std::size_t run_length() const;

    void copy(std::size_t first, std::size_t end);
    std::span<const std::byte* const> rows() const { return rows_; }

private:
    const ColumnSet& set_;
    std::vector<bool> strided_;
    Ref gather_;  // numpy.ascontiguousarray, when numpy is loaded and a column is strided
    std::vector<Ref> copies_;
    std::vector<const std::byte*> rows_;
};

}  // namespace brevant::py
