#include "labeled_checker/finding_queue.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace brevant::checker {
namespace {

// An entry in the file: line, column, container, message length, code, message.
constexpr std::size_t fixed_bytes = 3 * sizeof(std::uint64_t) + sizeof(std::uint32_t) + 1;

std::size_t cost(const Entry& entry) noexcept { return sizeof(Entry) + entry.finding.message.size(); }

template <class T>
void put(std::string& out, T value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <class T>
T get(const char*& in) {
    T value;
    std::memcpy(&value, in, sizeof value);
    in += sizeof value;
    return value;
}

[[noreturn]] void file_failed() { throw std::runtime_error("the checker's temporary file failed"); }

}  // namespace

FindingQueue::~FindingQueue() {
    if (file_) std::fclose(file_);
}

void FindingQueue::push(Entry entry) {
    if (tail_bytes_ > memory_bytes_) spill();
    tail_bytes_ += cost(entry);
    tail_.push_back(std::move(entry));
}

bool FindingQueue::drop_placeholder(std::uint64_t container) noexcept {
    if (tail_.empty() || tail_.back().container != container) return false;
    tail_bytes_ -= cost(tail_.back());
    tail_.pop_back();
    return true;
}

Entry FindingQueue::pop() {
    if (head_.empty() && unread_) load();
    std::deque<Entry>& from = head_.empty() ? tail_ : head_;
    Entry entry = std::move(from.front());
    from.pop_front();
    if (&from == &tail_) tail_bytes_ -= cost(entry);
    return entry;
}

// Everything in memory but the newest entry goes to the end of the file.
void FindingQueue::spill() {
    if (!file_ && !(file_ = std::tmpfile())) return;  // no temporary file: memory it is
    std::string bytes;
    while (tail_.size() > 1) {
        const Entry& entry = tail_.front();
        put(bytes, entry.finding.line);
        put(bytes, entry.finding.column);
        put(bytes, entry.container);
        put(bytes, static_cast<std::uint32_t>(entry.finding.message.size()));
        put(bytes, static_cast<std::uint8_t>(entry.finding.code));
        bytes += entry.finding.message;
        tail_bytes_ -= cost(entry);
        tail_.pop_front();
        ++unread_;
    }
    if (std::fseek(file_, static_cast<long>(written_), SEEK_SET) != 0 ||
        std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
        file_failed();
    written_ += bytes.size();
}

// `size` bytes of the file from `at`.
std::string FindingQueue::read_file(std::uint64_t at, std::size_t size) {
    std::string bytes(size, '\0');
    if (std::fseek(file_, static_cast<long>(at), SEEK_SET) != 0 || std::fread(bytes.data(), 1, size, file_) != size)
        file_failed();
    return bytes;
}

// The next entries from the file: about as many bytes as memory may hold, and
// the next entry whole however long its message.
void FindingQueue::load() {
    const std::uint64_t left = written_ - read_at_;
    std::string bytes = read_file(read_at_, static_cast<std::size_t>(std::min<std::uint64_t>(
                                                std::max<std::uint64_t>(memory_bytes_, fixed_bytes), left)));
    if (bytes.size() >= fixed_bytes) {
        std::uint32_t length;
        std::memcpy(&length, bytes.data() + 3 * sizeof(std::uint64_t), sizeof length);
        if (fixed_bytes + length > bytes.size()) bytes = read_file(read_at_, fixed_bytes + length);
    }
    const char* in = bytes.data();
    const char* end = in + bytes.size();
    while (unread_ && static_cast<std::size_t>(end - in) >= fixed_bytes) {
        const char* start = in;
        Entry entry;
        entry.finding.line = get<std::uint64_t>(in);
        entry.finding.column = get<std::uint64_t>(in);
        entry.container = get<std::uint64_t>(in);
        auto length = get<std::uint32_t>(in);
        entry.finding.code = static_cast<Code>(get<std::uint8_t>(in));
        if (static_cast<std::size_t>(end - in) < length) {
            in = start;  // read again with the next load
            break;
        }
        entry.finding.message.assign(in, length);
        in += length;
        head_.push_back(std::move(entry));
        --unread_;
    }
    if (in == bytes.data()) file_failed();  // the file ends within an entry
    read_at_ += static_cast<std::uint64_t>(in - bytes.data());
    if (!unread_) read_at_ = written_ = 0;  // the file is empty again: start it over
}

}  // namespace brevant::checker
