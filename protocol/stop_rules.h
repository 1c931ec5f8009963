// When a think ends: the rules tested after every search step.
//
// A think stops when its best move has settled (reported again and again with
// a good share of the root's visits), when the time limits run out, when the
// process nears its memory limit, or after max_think_steps steps.
#pragma once

#include <cstdint>
#include <optional>

namespace protocol {

inline constexpr int playouts_per_step = 20;
inline constexpr int max_think_steps = 5000;
/// The first think of the process pays for loading and warming up.
inline constexpr double first_think_handicap_ms = 1200.0;
/// The part of the turn the handicap may take at most: under a short turn the
/// whole handicap would leave the first move of every game (a fresh process
/// per game is how managers and judges play) a single step - measured: 12 to
/// 40 ms of a 1000 ms turn in 200 of 200 match games. The model is loaded at
/// START, on the match clock, so the first think's own extra cost is its
/// warm-up alone.
inline constexpr double first_think_handicap_turn_share = 0.1;

/// The limits as the manager set them, read afresh at every step.
struct think_limits {
    std::int32_t timeout_turn = 30000;   // ms per move
    std::int32_t time_left = 1000000000; // ms left in the match
    std::int32_t max_memory = 0;         // bytes; 0 = no limit
};

/// What one search step reported.
struct step_report {
    std::int32_t x = 0;
    std::int32_t y = 0;
    float share = 0.0f;        // the move's part of the root's visits
    std::int32_t visits = 0;   // the move's visit count
};

/// The first think's handicap under a turn of `timeout_turn` ms:
/// first_think_handicap_ms, or a tenth of the turn when that is less (then
/// 1200 ms from a 12 s turn up, so the default 30 s turn keeps all of it).
double first_think_handicap(std::int32_t timeout_turn);

/// The longest a think under `limits` may last before the time rules stop
/// it, in whole ms (at least 1).
std::int32_t planned_think_ms(const think_limits& limits, double handicap_ms);

/// `stability_threshold` for a think that starts under `timeout_turn`:
/// 60 per second of the turn time, at least 1000.
std::int32_t stability_threshold_for(std::int32_t timeout_turn);

/// Per-think state of the stop tests. Used by the worker thread only.
class stop_rules {
public:
    stop_rules(std::int32_t timeout_turn_at_start, double handicap_ms);

    /// Feeds one finished step; true when the think should end now.
    /// `resident_bytes` is empty when the process's memory is unknown, in
    /// which case the memory limit cannot stop the think.
    bool after_step(const step_report& report, double elapsed_ms, const think_limits& limits,
                    std::optional<std::uint64_t> resident_bytes);

    std::int32_t stability_threshold() const { return stability_threshold_; }

private:
    bool settled(const step_report& report);

    std::int32_t stability_threshold_;
    double handicap_ms_;
    int step_ = 0;
    std::int32_t previous_x_ = 0;
    std::int32_t previous_y_ = 0;
    std::int32_t same_count_ = 0;
    std::int32_t good_count_ = 0;
    float share_ema_ = 0.0f;
};

}  // namespace protocol
