#include "python/reader/document_objects.hpp"

#include <string>

#include "labeled_reader/dialect.hpp"
#include "labeled_reader/outcomes.hpp"
#include "labeled_reader/record.hpp"
#include "python/runtime/errors.hpp"
#include "python/reader/parse_error_type.hpp"
#include "python/runtime/utf8.hpp"

namespace brevant::py {
namespace {

using reader::Document;
using reader::OutputEntry;

Ref bit_object(char bit) { return created(PyLong_FromLong(bit == '1')); }

std::vector<Ref> outcome_texts(const reader::Outcomes& outcomes, reader::BitOrder order) {
    std::vector<Ref> texts;
    texts.reserve(outcomes.distinct.size());
    std::string buffer;
    for (std::size_t i = 0; i < outcomes.distinct.size(); ++i)
        texts.push_back(text_object(outcomes.text(i, order, buffer)));
    return texts;
}

void set_item(PyObject* dict, PyObject* key, PyObject* value) {
    if (PyDict_SetItem(dict, key, value) < 0) throw_fetched();
}

}  // namespace

Ref text_object(std::string_view text) {
    return checked(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
}

namespace {

Ref scalar_object(const Scalar& scalar) {
    switch (scalar.kind) {
        case Scalar::Kind::Bool: return Ref::borrow(scalar.boolean ? Py_True : Py_False);
        case Scalar::Kind::Int: return created(PyLong_FromLongLong(scalar.integer));
        case Scalar::Kind::Float: return created(PyFloat_FromDouble(scalar.real));
    }
    throw InternalFailure{"unknown scalar kind"};
}

}  // namespace

PyObject* DocumentObjects::key(const Document& doc, std::uint32_t column) {
    if (keys_epoch_ != doc.columns_epoch) {  // the reader renumbered its labels
        keys_.clear();
        keys_epoch_ = doc.columns_epoch;
    }
    if (keys_.size() < doc.columns.size()) keys_.resize(doc.columns.size());
    Ref& slot = keys_[column];
    if (!slot) {
        const reader::Column& c = doc.columns[column];
        std::string text(user_key_prefix);
        text += raw_name(c.type);
        text += ':';
        text += c.tag;
        slot = text_object(text);  // the reader let only UTF-8 labels in
    }
    return slot.get();
}

namespace {

Ref value_object(const OutputEntry& entry) {
    switch (entry.kind) {
        case OutputEntry::Kind::Scalar: return scalar_object(entry.scalar);
        case OutputEntry::Kind::BigInt: {
            std::string digits(entry.text);  // PyLong_FromString reads up to a NUL
            return checked(PyLong_FromString(digits.c_str(), nullptr, 10));
        }
        case OutputEntry::Kind::List: {
            Ref list = created(PyList_New(static_cast<Py_ssize_t>(entry.items.size())));
            for (std::size_t i = 0; i < entry.items.size(); ++i)
                PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), scalar_object(entry.items[i]).release());
            return list;
        }
        case OutputEntry::Kind::Bits: {
            Ref list = created(PyList_New(static_cast<Py_ssize_t>(entry.text.size())));
            for (std::size_t i = 0; i < entry.text.size(); ++i)
                PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), bit_object(entry.text[i]).release());
            return list;
        }
        case OutputEntry::Kind::Container: return created(PyLong_FromUnsignedLong(entry.count));
    }
    throw InternalFailure{"unknown entry kind"};
}

}  // namespace

Ref DocumentObjects::shot(const Document& doc, const reader::Shot& shot) {
    reader::ShotCursor cursor(doc, shot);
    Ref entries = created(PyList_New(static_cast<Py_ssize_t>(cursor.remaining())));
    for (Py_ssize_t i = 0; !cursor.done(); ++i) {
        OutputEntry entry = cursor.next();
        PyObject* k = key(doc, entry.column);
        Ref v = value_object(entry);
        Ref pair = created(PyTuple_New(2));
        PyTuple_SetItem(pair.get(), 0, Ref::borrow(k).release());
        PyTuple_SetItem(pair.get(), 1, v.release());
        PyList_SetItem(entries.get(), i, pair.release());
    }
    return entries;
}

Ref DocumentObjects::shots(const Document& doc, std::size_t from, std::size_t to) {
    Ref list = created(PyList_New(static_cast<Py_ssize_t>(to - from)));
    for (std::size_t s = from; s < to; ++s)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(s - from), shot(doc, doc.shots[s]).release());
    return list;
}

Ref DocumentObjects::columns(const Document& doc) {
    Py_ssize_t shot_count = static_cast<Py_ssize_t>(doc.shots.size());
    Ref result = created(PyDict_New());
    std::vector<PyObject*> column_list(doc.columns.size(), nullptr);  // borrowed from `result`
    auto list_named = [&](std::string_view name) {
        Ref text = text_object(name);
        PyObject* list = PyDict_GetItemWithError(result.get(), text.get());
        if (list) return list;
        if (PyErr_Occurred()) throw_fetched();
        Ref fresh = created(PyList_New(shot_count));
        for (Py_ssize_t i = 0; i < shot_count; ++i) PyList_SetItem(fresh.get(), i, Ref::borrow(Py_None).release());
        set_item(result.get(), text.get(), fresh.get());
        return fresh.get();
    };
    for (Py_ssize_t s = 0; s < shot_count; ++s) {
        std::size_t position = 0;
        for (reader::ShotCursor cursor(doc, doc.shots[s]); !cursor.done(); ++position) {
            OutputEntry entry = cursor.next();
            const reader::Column& column = doc.columns[entry.column];
            PyObject* list;
            if (column.tagged && !column.tag.empty()) {
                PyObject*& cached = column_list[entry.column];
                if (!cached) cached = list_named(column.tag);
                list = cached;
            } else {
                // Records without a label (or with an empty one) are named by their place in the shot.
                list = list_named(std::to_string(position));
            }
            if (PyList_GetItem(list, s) == Py_None) {  // a label repeated in a shot keeps its first value
                if (PyList_SetItem(list, s, value_object(entry).release()) < 0) throw_fetched();
            }
        }
    }
    return result;
}

reader::BitPicker bit_picker(PyObject* labels) {
    if (labels == Py_None) return reader::BitPicker();
    std::vector<std::string> chosen;
    Ref iterator = checked(PyObject_GetIter(labels));
    while (Ref label = Ref::steal(PyIter_Next(iterator.get()))) {
        if (!PyUnicode_Check(label.get())) throw_type_mismatch(label.get(), "str");
        std::optional<std::string_view> text = utf8_text(label.get());
        if (!text) throw_fetched();
        chosen.emplace_back(*text);
    }
    if (PyErr_Occurred()) throw_fetched();
    return reader::BitPicker(std::move(chosen), true);
}

reader::BitOrder bit_order(PyObject* name) {
    std::optional<std::string_view> text = PyUnicode_Check(name) ? utf8_text(name) : std::nullopt;
    if (PyErr_Occurred()) throw_fetched();
    if (text == "record") return reader::BitOrder::Record;
    if (text == "reversed") return reader::BitOrder::Reversed;
    PyErr_Format(PyExc_ValueError, "bit_order must be 'record' or 'reversed', not %R", name);
    throw PythonError{};
}

Ref counts_object(const reader::Outcomes& outcomes, reader::BitOrder order) {
    std::vector<Ref> texts = outcome_texts(outcomes, order);
    Ref result = created(PyDict_New());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (outcomes.counts[i] == 0) continue;  // given by failed shots only
        Ref count = created(PyLong_FromUnsignedLongLong(outcomes.counts[i]));
        set_item(result.get(), texts[i].get(), count.get());
    }
    return result;
}

Ref memory_object(const reader::Outcomes& outcomes, reader::BitOrder order) {
    std::vector<Ref> texts = outcome_texts(outcomes, order);
    Ref result = created(PyList_New(0));
    for (std::uint32_t index : outcomes.of_shot)
        if (index != reader::Outcomes::left_out && PyList_Append(result.get(), texts[index].get()) < 0) throw_fetched();
    return result;
}

Ref bits_object(const reader::Outcomes& outcomes, reader::BitOrder order, BitRows& rows) {
    std::string bits, buffer;
    std::size_t shots = 0;
    for (std::uint32_t index : outcomes.of_shot) {
        if (index == reader::Outcomes::left_out) continue;
        const std::string_view text = outcomes.text(index, order, buffer);
        if (!rows.width) rows.width = text.size();
        const std::size_t width = *rows.width;
        if (text.size() != width) {
            PyErr_Format(PyExc_ValueError, "shot %zu has %zu bits where the first has %zu: the bits make no matrix",
                         rows.shots, text.size(), width);
            throw PythonError{};
        }
        if (shots == 0) bits.resize(outcomes.of_shot.size() * width);
        char* row = bits.data() + shots * width;
        for (std::size_t j = 0; j < width; ++j) row[j] = static_cast<char>(text[j] - '0');
        ++shots;
        ++rows.shots;
    }
    const std::size_t width = rows.width.value_or(0);
    Ref data = created(PyByteArray_FromStringAndSize(bits.data(), static_cast<Py_ssize_t>(shots * width)));
    return checked(Py_BuildValue("(Onn)", data.get(), static_cast<Py_ssize_t>(shots), static_cast<Py_ssize_t>(width)));
}

Ref exit_codes_object(const Document& doc) {
    Ref result = created(PyList_New(static_cast<Py_ssize_t>(doc.shots.size())));
    for (std::size_t s = 0; s < doc.shots.size(); ++s)
        PyList_SetItem(result.get(), static_cast<Py_ssize_t>(s), created(PyLong_FromLongLong(doc.shots[s].exit_code)).release());
    return result;
}

Ref headers_object(const Document& doc) {
    Ref result = created(PyDict_New());
    for (const auto& [name, value] : doc.headers) set_item(result.get(), text_object(name).get(), text_object(value).get());
    return result;
}

Ref attributes_object(const Document& doc) {
    Ref result = created(PyDict_New());
    for (const auto& [name, value] : doc.attributes)
        set_item(result.get(), text_object(name).get(), value ? text_object(*value).get() : Py_None);
    return result;
}

Ref schema_object(const Document& doc) { return text_object(reader::document_schema(doc)); }

Ref version_object(const Document& doc) {
    std::optional<std::string_view> version = reader::document_version(doc);
    return version ? text_object(*version) : Ref::borrow(Py_None);
}

}  // namespace brevant::py
