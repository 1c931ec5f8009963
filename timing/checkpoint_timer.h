// Stopwatch that splits running time into sections named by checkpoint ids.
//
// `lap(id)` closes the section that began at the previous lap (or reset) and
// credits its length to `id`; the next section starts right after the
// bookkeeping, so the bookkeeping itself is charged to nobody.
//
// Thread rules: no lock. The process-wide `profile_timer` is lapped by the
// evaluator on whichever thread uses the player; the front-end guarantees that
// only one thread uses the player at a time.
#pragma once

#include <cstdint>
#include <map>

namespace timing {

class CheckpointTimer {
public:
    CheckpointTimer();

    /// Restart the current section; the totals are kept.
    void reset();

    /// Seconds since the reference time; changes nothing.
    double elapsed_seconds() const;

    /// Ends the current section. A non-negative `id` gets the section's length
    /// added to its total; a negative id only restarts the section.
    /// Returns the section's length in seconds.
    double lap(std::int32_t id);

    /// Accumulated seconds per checkpoint id, in ascending id order.
    const std::map<std::int32_t, double>& totals() const { return totals_; }

private:
    static std::int64_t now_ns();

    std::int64_t reference_ns_;
    std::map<std::int32_t, double> totals_;
};

/// Process-wide profile of where the engine's time goes. Checkpoints in use:
///   3 start of evaluator construction, 4 model object created, 5 model loaded,
///   0 work between evaluations (the search's own), 1 one evaluation.
/// Lives until the process ends; the process exits without static teardown
/// (see platform/process.h), so a running think may lap it to the end.
extern CheckpointTimer profile_timer;

}  // namespace timing
