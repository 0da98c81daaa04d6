#pragma once
// Findings waiting to be handed out, oldest first, and the placeholders of
// containers whose count is still open (see Checker).

#include <cstdint>
#include <deque>

#include "labeled_checker/finding.hpp"

namespace brevant::checker {

struct Entry {
    Finding finding;
    std::uint64_t container = 0;  // a placeholder for this container; 0 for a finding
};

class FindingQueue {
public:
    bool empty() const noexcept { return entries_.empty(); }
    void push(Entry entry) { entries_.push_back(std::move(entry)); }
    Entry pop() {
        Entry entry = std::move(entries_.front());
        entries_.pop_front();
        return entry;
    }
    // Forgets the newest entry when it is this container's placeholder.
    void drop_placeholder(std::uint64_t container) noexcept {
        if (!entries_.empty() && entries_.back().container == container) entries_.pop_back();
    }
    // The newest entry when it is this container's placeholder.
    Entry* placeholder_at_back(std::uint64_t container) noexcept {
        return !entries_.empty() && entries_.back().container == container ? &entries_.back() : nullptr;
    }

private:
    std::deque<Entry> entries_;
};

}  // namespace brevant::checker
