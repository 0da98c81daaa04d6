#pragma once
// Cuts a byte stream, fed in chunks split anywhere, into lines ended by LF,
// CR or CRLF. A line never ends in its terminator; the last line of the
// stream may have none.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "schema/records.hpp"

namespace brevant::reader {

// Sink: void line(std::string_view text, std::uint64_t number);
//       void overlong(std::uint64_t number);  // once, as soon as the line outgrows the bound
// and, if it wants the whole length of such a line,
//       void overlong_ended(std::uint64_t number, std::uint64_t length);
class LineSplitter {
public:
    explicit LineSplitter(std::size_t max_line_bytes) : max_line_bytes_(max_line_bytes) {}

    template <class Sink>
    void feed(std::string_view chunk, Sink& sink) {
        const char* p = chunk.data();
        const char* end = p + chunk.size();
        if (after_cr_ && p != end) {
            after_cr_ = false;
            if (*p == line_feed) ++p;
        }
        // Lines mostly end in LF; CR is looked for once per chunk and again
        // only after each one found.
        const char* next_cr = find(p, end, carriage_return);
        while (p != end) {
            const char* eol = find(p, end, line_feed);
            if (next_cr < eol) {
                eol = next_cr;
                next_cr = nullptr;
            }
            if (eol == end) {
                keep_partial(std::string_view(p, static_cast<std::size_t>(end - p)), sink);
                return;
            }
            std::string_view piece(p, static_cast<std::size_t>(eol - p));
            if (skipping_) {
                skipped_ += piece.size();
                end_skip(sink);
            } else if (carry_.empty()) {
                if (piece.size() > max_line_bytes_) {
                    sink.overlong(number_ + 1);
                    skipped_ = piece.size();
                    end_skip(sink);
                } else {
                    sink.line(piece, number_ + 1);
                }
            } else {
                keep_partial(piece, sink);
                if (skipping_) {
                    end_skip(sink);
                } else {
                    sink.line(carry_, number_ + 1);
                }
                carry_.clear();
            }
            ++number_;
            p = eol + 1;
            if (!next_cr) {
                if (p == end) {
                    after_cr_ = true;
                } else if (*p == line_feed) {
                    ++p;
                }
                next_cr = find(p, end, carriage_return);
            }
        }
    }

    // The end of the stream: a last line without a terminator is still a line.
    template <class Sink>
    void finish(Sink& sink) {
        if (!carry_.empty() && !skipping_) {
            ++number_;
            sink.line(carry_, number_);
        } else if (skipping_) {
            end_skip(sink);
            ++number_;
        }
        carry_.clear();
    }


private:
    static const char* find(const char* p, const char* end, char c) noexcept {
        const void* found = std::memchr(p, c, static_cast<std::size_t>(end - p));
        return found ? static_cast<const char*>(found) : end;
    }

    template <class Sink>
    void keep_partial(std::string_view piece, Sink& sink) {
        if (skipping_) {
            skipped_ += piece.size();
            return;
        }
        if (piece.size() > max_line_bytes_ - carry_.size()) {
            skipped_ = carry_.size() + piece.size();
            carry_.clear();
            carry_.shrink_to_fit();
            skipping_ = true;
            sink.overlong(number_ + 1);
            return;
        }
        carry_.append(piece);
    }

    template <class Sink>
    void end_skip(Sink& sink) {
        skipping_ = false;
        if constexpr (requires { sink.overlong_ended(number_, skipped_); }) sink.overlong_ended(number_ + 1, skipped_);
    }

    std::size_t max_line_bytes_;
    std::string carry_;
    std::uint64_t number_ = 0;  // lines ended so far
    bool after_cr_ = false;
    bool skipping_ = false;  // inside an overlong line, already reported
    std::uint64_t skipped_ = 0;  // the overlong line's length so far
};

}  // namespace brevant::reader
