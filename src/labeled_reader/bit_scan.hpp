#pragma once
// A quick path from labeled text straight to rows of bits, for the common
// document: brevant's own headers, then shots of RESULT records only, every
// shot recording the first shot's labels in the first shot's order, each
// ending "END 0". After the first shot every record's whole line is
// predicted but for its bit, so a record is one compare, with no search for
// its line end; other lines are found with memchr. Nothing else is kept.
//
// On such a document the bits are those the reader's label rules give (the
// labels' places are their places in the first shot, which every shot
// repeats). Anything else (another record type, another order, a failed
// shot, CR line ends, text outside printable ASCII) stops the scan, and the
// caller reads the document the general way, which decides every other case.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace brevant::reader {

class BitScan {
public:
    // `chosen`: the labels to take, in their order, or empty for all of them
    // when `choose` is false. `reversed`: the first bit rightmost.
    BitScan(std::vector<std::string> chosen, bool choose, bool reversed);

    // False once the text has left the quick path's form; then it stays false.
    bool feed(std::string_view chunk);
    // The end of the text: false unless it ended after a whole shot.
    bool finish();

    bool stopped() const noexcept { return stopped_; }
    std::size_t width() const noexcept { return width_; }
    // Rows completed and not yet taken: width() bytes of 0 and 1 each.
    std::size_t rows_ready() const noexcept { return shots_ready_; }
    // Hands out the first `rows` ready rows.
    std::string take(std::size_t rows);

private:
    enum class State : std::uint8_t { SchemaId, SchemaVersion, FirstStart, FirstShot, Start, Shot };

    void line(std::string_view text);
    void first_shot_line(std::string_view text);
    void end_first_shot();
    void end_shot();

    std::string carry_;  // a line split between chunks
    State state_ = State::SchemaId;
    bool stopped_ = false;
    bool choose_;
    bool reversed_;
    std::vector<std::string> chosen_;
    std::vector<std::string> labels_;  // the first shot's, in its order
    std::vector<std::string> records_;  // each label's whole record line, its bit as '0'
    std::unordered_set<std::string> seen_;
    std::vector<std::size_t> picks_;  // where each bit of a row comes from in the shot's bits
    std::size_t width_ = 0;
    std::size_t next_ = 0;  // the record expected next in the current shot
    std::string shot_;      // the current shot's bits, in record order
    std::string bits_;      // completed rows
    std::size_t shots_ready_ = 0;
};

}  // namespace brevant::reader
