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
using reader::Entry;
using reader::EntryKind;

Ref bit_object(char bit) { return created(PyLong_FromLong(bit == '1')); }

// The labels a caller selected, as UTF-8 views into their str objects, which
// `keep` holds alive.
std::vector<std::string_view> label_views(PyObject* labels, std::vector<Ref>& keep) {
    std::vector<std::string_view> views;
    Ref iterator = checked(PyObject_GetIter(labels));
    while (Ref label = Ref::steal(PyIter_Next(iterator.get()))) {
        if (!PyUnicode_Check(label.get())) throw_type_mismatch(label.get(), "str");
        std::optional<std::string_view> text = utf8_text(label.get());
        if (!text) throw_fetched();
        views.push_back(*text);
        keep.push_back(std::move(label));
    }
    if (PyErr_Occurred()) throw_fetched();
    return views;
}

reader::Outcomes selected_outcomes(const Document& doc, PyObject* labels) {
    std::vector<Ref> keep;
    std::vector<std::string_view> views;
    bool selected = labels && labels != Py_None;
    if (selected) views = label_views(labels, keep);
    try {
        return reader::outcomes(doc, selected ? &views : nullptr);
    } catch (const reader::ParseError& error) {
        throw_parse_error(error);
    }
}

std::vector<Ref> outcome_texts(const reader::Outcomes& outcomes) {
    std::vector<Ref> texts;
    texts.reserve(outcomes.distinct.size());
    char buffer[reader::packed_bits_max];
    for (std::size_t i = 0; i < outcomes.distinct.size(); ++i) texts.push_back(text_object(outcomes.text(i, buffer)));
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

Ref DocumentObjects::value(const Document& doc, std::size_t& entry) {
    const Entry& e = doc.entries[entry++];
    switch (e.kind()) {
        case EntryKind::Bool:
        case EntryKind::Int:
        case EntryKind::Float: return scalar_object(e.scalar());
        case EntryKind::List: {
            Ref list = created(PyList_New(e.size));
            for (std::uint32_t i = 0; i < e.size; ++i)
                PyList_SetItem(list.get(), i, scalar_object(doc.list_items[e.offset + i]).release());
            return list;
        }
        case EntryKind::Bits: {
            Ref list = created(PyList_New(e.size));
            for (std::uint32_t i = 0; i < e.size; ++i)
                PyList_SetItem(list.get(), i, bit_object(doc.bits[e.offset + i]).release());
            return list;
        }
        case EntryKind::Container: {
            // The reader accepted the shot, so all `size` elements follow.
            Ref list = created(PyList_New(e.size));
            for (std::uint32_t i = 0; i < e.size; ++i) PyList_SetItem(list.get(), i, value(doc, entry).release());
            return list;
        }
    }
    throw InternalFailure{"unknown entry kind"};
}

Ref DocumentObjects::shots(const Document& doc, std::size_t from, std::size_t to) {
    Ref list = created(PyList_New(static_cast<Py_ssize_t>(to - from)));
    for (std::size_t s = from; s < to; ++s) {
        const reader::Shot& shot = doc.shots[s];
        Ref entries = created(PyList_New(0));
        std::size_t end = shot.first_entry + shot.entry_count;
        for (std::size_t e = shot.first_entry; e < end;) {
            PyObject* k = key(doc, doc.entries[e].column);
            Ref v = value(doc, e);
            Ref pair = created(PyTuple_New(2));
            PyTuple_SetItem(pair.get(), 0, Ref::borrow(k).release());
            PyTuple_SetItem(pair.get(), 1, v.release());
            if (PyList_Append(entries.get(), pair.get()) < 0) throw_fetched();
        }
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(s - from), entries.release());
    }
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
        const reader::Shot& shot = doc.shots[s];
        std::size_t end = shot.first_entry + shot.entry_count;
        std::size_t position = 0;
        for (std::size_t e = shot.first_entry; e < end; ++position) {
            const reader::Column& column = doc.columns[doc.entries[e].column];
            PyObject* list;
            if (column.tagged) {
                PyObject*& cached = column_list[doc.entries[e].column];
                if (!cached) cached = list_named(column.tag);
                list = cached;
            } else {
                // Records without labels are named by their place in the shot.
                list = list_named(std::to_string(position));
            }
            Ref v = value(doc, e);
            if (PyList_GetItem(list, s) == Py_None) {  // a label repeated in a shot keeps its first value
                if (PyList_SetItem(list, s, v.release()) < 0) throw_fetched();
            }
        }
    }
    return result;
}

Ref counts_object(const Document& doc, PyObject* labels) {
    reader::Outcomes outcomes = selected_outcomes(doc, labels);
    std::vector<Ref> texts = outcome_texts(outcomes);
    Ref result = created(PyDict_New());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        Ref count = created(PyLong_FromUnsignedLongLong(outcomes.counts[i]));
        set_item(result.get(), texts[i].get(), count.get());
    }
    return result;
}

Ref memory_object(const Document& doc, PyObject* labels) {
    reader::Outcomes outcomes = selected_outcomes(doc, labels);
    std::vector<Ref> texts = outcome_texts(outcomes);
    Ref result = created(PyList_New(static_cast<Py_ssize_t>(outcomes.of_shot.size())));
    for (std::size_t s = 0; s < outcomes.of_shot.size(); ++s)
        PyList_SetItem(result.get(), static_cast<Py_ssize_t>(s), Ref::borrow(texts[outcomes.of_shot[s]].get()).release());
    return result;
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
