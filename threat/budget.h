// A search's allowance of nodes and wall-clock time. Owned by the caller of a search and passed
// down by pointer; one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <limits>

namespace threat {

class SearchBudget {
public:
    using Clock = std::chrono::steady_clock;

    /// No limit at all.
    SearchBudget() = default;
    SearchBudget(int64_t max_nodes, Clock::time_point deadline)
        : max_nodes_(max_nodes), deadline_(deadline) {}

    /// Counts one node; false once the nodes or the time are used up (and from then on).
    bool spend() {
        ++nodes_;
        if (nodes_ > max_nodes_) exhausted_ = true;
        // Reading the clock costs more than a node's work; look at it every so often.
        if ((nodes_ & kClockCheckMask) == 0 && Clock::now() >= deadline_) exhausted_ = true;
        return !exhausted_;
    }
    bool exhausted() const { return exhausted_; }
    int64_t nodes() const { return nodes_; }
    Clock::time_point deadline() const { return deadline_; }
    bool past_deadline() const { return Clock::now() >= deadline_; }

private:
    static constexpr int64_t kClockCheckMask = 255;
    int64_t max_nodes_ = std::numeric_limits<int64_t>::max();
    Clock::time_point deadline_ = Clock::time_point::max();
    int64_t nodes_ = 0;
    bool exhausted_ = false;
};

}  // namespace threat
