// libFuzzer target for the reading core: any bytes, read whole and read in
// chunks cut where the input says, must give the same document and the same
// departures; every successful shot's containers must close within it; bit strings
// must cover every shot; labels and headers must be UTF-8. The checker, on
// the same lexer, must give the same findings whole and chunked, in line
// order. Small limits make the limit paths reachable.
// Build and run: see fuzz/README.md.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <tuple>
#include <vector>

#include "labeled_checker/checker.hpp"
#include "labeled_reader/document_reader.hpp"
#include "labeled_reader/outcomes.hpp"
#include "labeled_reader/utf8.hpp"

namespace {

using namespace brevant;
using namespace brevant::reader;

constexpr Limits small_limits{64, 8, 4, 32, 8};

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "reader invariant broken: %s\n", why);
    std::abort();
}

struct Outcome {
    DocumentReader reader;
    std::optional<ParseError> error;  // the raising mode's first departure
};

// `cuts` picks chunk lengths from 1 to 16; an empty `cuts` feeds everything at once.
void read(Outcome& out, std::string_view text, std::string_view cuts) {
    try {
        std::size_t at = 0, turn = 0;
        while (at < text.size()) {
            std::size_t length = cuts.empty() ? text.size() : 1 + static_cast<unsigned char>(cuts[turn++ % cuts.size()]) % 16;
            length = std::min(length, text.size() - at);
            out.reader.feed(text.substr(at, length));
            at += length;
        }
        out.reader.finish();
    } catch (const ParseError& error) {
        out.error = error;
    }
}

bool same_entries(const Document& a, const Document& b) {
    if (a.entries.size() != b.entries.size() || a.shots.size() != b.shots.size()) return false;
    for (std::size_t i = 0; i < a.entries.size(); ++i)
        if (std::memcmp(&a.entries[i], &b.entries[i], sizeof(Entry)) != 0) return false;
    for (std::size_t i = 0; i < a.shots.size(); ++i)
        if (a.shots[i].entry_count != b.shots[i].entry_count || a.shots[i].exit_code != b.shots[i].exit_code ||
            a.shots[i].bit_count != b.shots[i].bit_count || a.shots[i].line != b.shots[i].line ||
            a.shots[i].same_labels_as_previous != b.shots[i].same_labels_as_previous)
            return false;
    return a.bits == b.bits && a.outcome_text == b.outcome_text && a.headers == b.headers &&
           a.attributes == b.attributes;
}

// Consumes one entry and, for a container, its elements; false if they overrun `end`.
bool walk(const Document& doc, std::size_t& at, std::size_t end) {
    if (at >= end) return false;
    const Entry& entry = doc.entries[at++];
    if (entry.kind() != EntryKind::Container) return true;
    for (std::uint32_t i = 0; i < entry.size; ++i)
        if (!walk(doc, at, end)) return false;
    return true;
}

void check_document(const Document& doc) {
    for (const Column& column : doc.columns)
        if (!is_utf8(column.tag)) fail("a label that is not UTF-8");
    for (const auto& [name, value] : doc.headers)
        if (!is_utf8(name) || !is_utf8(value)) fail("a header that is not UTF-8");
    for (const Shot& shot : doc.shots) {
        std::size_t at = shot.first_entry, end = shot.first_entry + shot.entry_count;
        while (at < end && shot.exit_code == 0)
            if (!walk(doc, at, end)) fail("a container runs past the end of its shot");
    }
    try {
        BitPicker picker;
        Outcomes all = outcomes(doc, picker, {FailedShots::Count, Departures::Raise});
        if (all.of_shot.size() != doc.shots.size()) fail("not one bit string per shot");
        std::uint64_t total = 0;
        for (std::uint64_t count : all.counts) total += count;
        if (total != doc.shots.size()) fail("counts do not add up to the shots");
        std::string buffer, earlier;
        for (std::size_t s = 0; s < doc.shots.size(); ++s)
            if (doc.shots[s].exit_code == 0 && all.text(all.of_shot[s], BitOrder::Record, buffer).size() != doc.shots[s].bit_count)
                fail("a bit string of the wrong length");
        for (std::size_t i = 0; i < all.distinct.size(); ++i)
            for (std::size_t j = 0; j < i; ++j) {
                earlier = all.text(j, BitOrder::Record, buffer);
                if (earlier == all.text(i, BitOrder::Record, buffer)) fail("one outcome counted apart twice");
            }
    } catch (const RequestError&) {
        // Shots that record different labels: allowed, and named.
    }
}

using Found = std::vector<std::tuple<std::uint64_t, std::uint64_t, brevant::checker::Code, std::string>>;

// The findings, taken after every chunk as a caller would; `cuts` as for read().
Found check(std::string_view text, std::string_view cuts, brevant::checker::Schema schema, std::uint64_t per_code) {
    using namespace brevant::checker;
    // 256 bytes of queue memory make findings behind an open container wait on disk.
    Checker checker(Rules{schema, versions[std::size(versions) - 1]}, Options{64, per_code, 4, 256});
    Found found;
    auto take = [&] {
        while (std::optional<Finding> finding = checker.next())
            found.emplace_back(finding->line, finding->column, finding->code, finding->message);
    };
    std::size_t at = 0, turn = 0;
    while (at < text.size()) {
        std::size_t length = cuts.empty() ? text.size() : 1 + static_cast<unsigned char>(cuts[turn++ % cuts.size()]) % 16;
        length = std::min(length, text.size() - at);
        checker.feed(text.substr(at, length));
        take();
        at += length;
    }
    checker.finish();
    take();
    for (std::size_t i = 1; i < found.size(); ++i)
        if (std::get<0>(found[i]) < std::get<0>(found[i - 1])) fail("findings out of line order");
    for (const auto& [line, column, code, message] : found)
        if (line == 0 || column == 0 || message.empty()) fail("a finding without a place or a message");
    if (found.empty() && !text.empty() && text.find("START") == std::string_view::npos &&
        text.find("start") == std::string_view::npos)
        fail("a document without START found conforming");
    return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::size_t cut_bytes = std::min<std::size_t>(data[0] % 8, size - 1);
    std::string_view cuts(reinterpret_cast<const char*>(data) + 1, cut_bytes);
    std::string_view text(reinterpret_cast<const char*>(data) + 1 + cut_bytes, size - 1 - cut_bytes);

    for (Departures departures : {Departures::Collect, Departures::Raise}) {
        Outcome whole{DocumentReader(departures, small_limits), std::nullopt};
        Outcome chunked{DocumentReader(departures, small_limits), std::nullopt};
        read(whole, text, {});
        read(chunked, text, cuts.empty() ? std::string_view("\x01") : cuts);
        if (whole.error.has_value() != chunked.error.has_value()) fail("chunking changed whether reading failed");
        if (whole.error && (whole.error->line != chunked.error->line || whole.error->column != chunked.error->column ||
                            whole.error->message != chunked.error->message))
            fail("chunking changed the first departure");
        if (departures == Departures::Collect && whole.reader.problems().size() != chunked.reader.problems().size())
            fail("chunking changed the departures");
        if (!same_entries(whole.reader.document(), chunked.reader.document())) fail("chunking changed the document");
        check_document(whole.reader.document());
    }
    for (auto schema : {brevant::checker::Schema::Labeled, brevant::checker::Schema::Ordered})
        for (std::uint64_t per_code : {0, 2})
            if (check(text, {}, schema, per_code) != check(text, cuts.empty() ? std::string_view("\x01") : cuts, schema, per_code))
                fail("chunking changed the checker's findings");
    return 0;
}
