#include "protocol/stop_rules.h"

#include <algorithm>
#include <cmath>

namespace protocol {
namespace {

constexpr std::int32_t min_stability_threshold = 1000;
constexpr double threshold_per_second = 0.3 * 200;  // applied as two factors, see below
constexpr double turn_share = 0.9;
constexpr double match_share = 0.1;
constexpr double memory_share = 0.96;
constexpr double ema_keep = 0.9;
constexpr double ema_new = 0.1;
constexpr double good_share = 0.8;
constexpr std::int64_t step_weight = 80;
constexpr float settled_ema = 0.95f;
constexpr std::int64_t ema_visit_factor = 4;

}  // namespace

std::int32_t stability_threshold_for(std::int32_t timeout_turn) {
    // Seconds in single precision, then the factors in double, then cut toward zero.
    static_assert(threshold_per_second == 60.0);
    const float seconds = static_cast<float>(timeout_turn) / 1000.0f;
    const double scaled = static_cast<double>(seconds) * 0.3 * 200.0;
    return std::max(min_stability_threshold, static_cast<std::int32_t>(std::trunc(scaled)));
}

double first_think_handicap(std::int32_t timeout_turn) {
    return std::clamp(timeout_turn * first_think_handicap_turn_share, 0.0, first_think_handicap_ms);
}

std::int32_t planned_think_ms(const think_limits& limits, double handicap_ms) {
    const double by_turn = limits.timeout_turn * turn_share - handicap_ms;
    const double by_match = limits.time_left * match_share - handicap_ms;
    return static_cast<std::int32_t>(std::clamp(std::min(by_turn, by_match), 1.0, 1e9));
}

stop_rules::stop_rules(std::int32_t timeout_turn_at_start, double handicap_ms)
    : stability_threshold_(stability_threshold_for(timeout_turn_at_start)), handicap_ms_(handicap_ms) {}

bool stop_rules::settled(const step_report& report) {
    if (step_ == 0) {
        share_ema_ = report.share;
        return false;
    }
    if (report.x != previous_x_ || report.y != previous_y_) {
        same_count_ = 0;
        good_count_ = 0;
        share_ema_ = 0.0f;
    } else {
        ++same_count_;
        share_ema_ = static_cast<float>(static_cast<double>(share_ema_) * ema_keep +
                                        static_cast<double>(report.share) * ema_new);
        if (static_cast<double>(report.share) >= good_share || report.share >= share_ema_) ++good_count_;
    }
    const std::int64_t threshold = stability_threshold_;
    if (same_count_ * step_weight >= threshold && good_count_ * step_weight >= threshold &&
        report.visits >= threshold)
        return true;
    return share_ema_ > settled_ema && report.visits * ema_visit_factor > threshold;
}

bool stop_rules::after_step(const step_report& report, double elapsed_ms, const think_limits& limits,
                            std::optional<std::uint64_t> resident_bytes) {
    bool stop = settled(report);
    if (elapsed_ms > limits.timeout_turn * turn_share - handicap_ms_)
        stop = true;
    else if (elapsed_ms >= limits.time_left * match_share - handicap_ms_)
        stop = true;
    previous_x_ = report.x;
    previous_y_ = report.y;
    ++step_;
    if (limits.max_memory != 0 && resident_bytes &&
        static_cast<double>(*resident_bytes) > limits.max_memory * memory_share)
        stop = true;
    return stop;
}

}  // namespace protocol
