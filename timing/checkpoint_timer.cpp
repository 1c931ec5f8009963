#include "timing/checkpoint_timer.h"

#include <chrono>

namespace timing {

CheckpointTimer profile_timer;

CheckpointTimer::CheckpointTimer() : reference_ns_(now_ns()) {}

std::int64_t CheckpointTimer::now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void CheckpointTimer::reset() { reference_ns_ = now_ns(); }

double CheckpointTimer::elapsed_seconds() const {
    return static_cast<double>(now_ns() - reference_ns_) / 1e9;
}

double CheckpointTimer::lap(std::int32_t id) {
    const double elapsed = static_cast<double>(now_ns() - reference_ns_) / 1e9;
    if (id >= 0) totals_[id] += elapsed;
    reference_ns_ = now_ns();
    return elapsed;
}

}  // namespace timing
