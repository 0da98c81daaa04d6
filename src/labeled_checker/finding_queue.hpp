#pragma once
// Findings waiting to be handed out, oldest first, and the placeholders of
// containers whose count is still open (see Checker). Past a fixed amount of
// memory the older entries wait in an unnamed temporary file, so that a
// container left open over millions of bad lines costs disk, not memory.

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>

#include "labeled_checker/finding.hpp"

namespace brevant::checker {

struct Entry {
    Finding finding;
    std::uint64_t container = 0;  // a placeholder for this container; 0 for a finding
};

class FindingQueue {
public:
    explicit FindingQueue(std::size_t memory_bytes) : memory_bytes_(memory_bytes) {}
    ~FindingQueue();
    FindingQueue(const FindingQueue&) = delete;
    FindingQueue& operator=(const FindingQueue&) = delete;

    bool empty() const noexcept { return head_.empty() && unread_ == 0 && tail_.empty(); }
    void push(Entry entry);
    Entry pop();
    // Forgets the newest entry when it is this container's placeholder.
    bool drop_placeholder(std::uint64_t container) noexcept;

private:
    void spill();
    void load();
    std::string read_file(std::uint64_t at, std::size_t size);

    std::size_t memory_bytes_;
    std::deque<Entry> head_;  // the oldest entries, read back from the file
    std::deque<Entry> tail_;  // the newest entries, the last always among them
    std::size_t tail_bytes_ = 0;
    std::FILE* file_ = nullptr;
    std::uint64_t read_at_ = 0, written_ = 0;  // file offsets
    std::uint64_t unread_ = 0;                 // entries in the file not read back yet
};

}  // namespace brevant::checker
