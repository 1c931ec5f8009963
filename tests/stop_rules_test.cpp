// When a think ends: stability, time, memory.
#include "protocol/stop_rules.h"

#include <gtest/gtest.h>

namespace {

using protocol::step_report;
using protocol::stop_rules;
using protocol::think_limits;

TEST(StopRules, StabilityThresholdScalesWithTurnTimeAboveAFloor) {
    EXPECT_EQ(protocol::stability_threshold_for(30000), 1800);
    EXPECT_EQ(protocol::stability_threshold_for(20000), 1200);
    EXPECT_EQ(protocol::stability_threshold_for(15000), 1000);
    EXPECT_EQ(protocol::stability_threshold_for(0), 1000);
    EXPECT_EQ(protocol::stability_threshold_for(-50000), 1000);
    // Seconds are formed in single precision: 2147483.75 s, not 2147483.647 s.
    EXPECT_EQ(protocol::stability_threshold_for(2147483647), 128849025);
}

// Feeds the same move with a good share until the rules stop; returns the step.
int steps_until_settled(stop_rules& rules, const step_report& report, const think_limits& limits) {
    for (int step = 0; step < 100; ++step)
        if (rules.after_step(report, 0.0, limits, std::nullopt)) return step;
    return -1;
}

TEST(StopRules, ASettledMoveEndsTheThinkAfterTwentyFourSteps) {
    const think_limits limits;  // timeout_turn 30000: threshold 1800
    stop_rules rules(limits.timeout_turn, 0.0);
    // A share of 0.5 never lifts the smoothed share above 0.95, so only the
    // run of 23 repeats (23 * 80 >= 1800) can stop it.
    EXPECT_EQ(steps_until_settled(rules, {3, 4, 0.5f, 1800}, limits), 23);

    stop_rules too_few_visits(limits.timeout_turn, 0.0);
    EXPECT_EQ(steps_until_settled(too_few_visits, {3, 4, 0.5f, 1799}, limits), -1);
}

TEST(StopRules, AChangedMoveStartsTheCountsAgain) {
    const think_limits limits;
    stop_rules rules(limits.timeout_turn, 0.0);
    for (int step = 0; step < 20; ++step) ASSERT_FALSE(rules.after_step({3, 4, 0.5f, 5000}, 0.0, limits, std::nullopt));
    ASSERT_FALSE(rules.after_step({5, 5, 0.5f, 5000}, 0.0, limits, std::nullopt));
    int more = 0;
    while (!rules.after_step({5, 5, 0.5f, 5000}, 0.0, limits, std::nullopt)) ++more;
    EXPECT_EQ(more, 22);  // 23 repeats of the new move from scratch
}

TEST(StopRules, AnOverwhelmingShareStopsEarly) {
    const think_limits limits;
    stop_rules rules(limits.timeout_turn, 0.0);
    EXPECT_FALSE(rules.after_step({1, 1, 1.0f, 451}, 0.0, limits, std::nullopt));
    // Smoothed share 1.0 > 0.95 and 451 * 4 > 1800.
    EXPECT_TRUE(rules.after_step({1, 1, 1.0f, 451}, 0.0, limits, std::nullopt));
    stop_rules few_visits(limits.timeout_turn, 0.0);
    few_visits.after_step({1, 1, 1.0f, 450}, 0.0, limits, std::nullopt);
    EXPECT_FALSE(few_visits.after_step({1, 1, 1.0f, 450}, 0.0, limits, std::nullopt));
}

TEST(StopRules, TimeLimitsWithAndWithoutTheFirstThinkHandicap) {
    think_limits limits;
    stop_rules later(limits.timeout_turn, 0.0);
    EXPECT_FALSE(later.after_step({0, 0, 0.1f, 1}, 26999.0, limits, std::nullopt));
    EXPECT_TRUE(later.after_step({1, 0, 0.1f, 1}, 27000.5, limits, std::nullopt));
    stop_rules first(limits.timeout_turn, protocol::first_think_handicap(limits.timeout_turn));
    EXPECT_FALSE(first.after_step({0, 0, 0.1f, 1}, 25799.0, limits, std::nullopt));
    EXPECT_TRUE(first.after_step({1, 0, 0.1f, 1}, 25800.5, limits, std::nullopt));

    // A short turn keeps most of its first think: 1 s leaves 800 ms, where
    // the whole handicap would have stopped it after its first step.
    think_limits short_turn;
    short_turn.timeout_turn = 1000;
    stop_rules first_short(short_turn.timeout_turn, protocol::first_think_handicap(short_turn.timeout_turn));
    EXPECT_FALSE(first_short.after_step({0, 0, 0.1f, 1}, 799.0, short_turn, std::nullopt));
    EXPECT_TRUE(first_short.after_step({1, 0, 0.1f, 1}, 800.5, short_turn, std::nullopt));
    EXPECT_EQ(protocol::planned_think_ms(short_turn, protocol::first_think_handicap(short_turn.timeout_turn)), 800);
    EXPECT_EQ(protocol::first_think_handicap(12000), protocol::first_think_handicap_ms);
    EXPECT_EQ(protocol::first_think_handicap(0), 0.0);

    limits.time_left = 20000;  // a tenth: 2000 ms, reached at equality
    stop_rules match(limits.timeout_turn, 0.0);
    EXPECT_FALSE(match.after_step({0, 0, 0.1f, 1}, 1999.0, limits, std::nullopt));
    EXPECT_TRUE(match.after_step({1, 0, 0.1f, 1}, 2000.0, limits, std::nullopt));

    limits = think_limits{};
    limits.timeout_turn = 0;
    stop_rules no_time(limits.timeout_turn, 0.0);
    EXPECT_TRUE(no_time.after_step({0, 0, 0.1f, 1}, 0.001, limits, std::nullopt));
}

TEST(StopRules, MemoryLimitAppliesOnlyWhenSetAndKnown) {
    think_limits limits;
    stop_rules rules(limits.timeout_turn, 0.0);
    EXPECT_FALSE(rules.after_step({0, 0, 0.1f, 1}, 0.0, limits, 10'000'000'000ull));
    limits.max_memory = 100'000'000;
    EXPECT_FALSE(rules.after_step({1, 0, 0.1f, 1}, 0.0, limits, 96'000'000ull));
    EXPECT_FALSE(rules.after_step({2, 0, 0.1f, 1}, 0.0, limits, std::nullopt));
    EXPECT_TRUE(rules.after_step({3, 0, 0.1f, 1}, 0.0, limits, 96'000'001ull));
}

}  // namespace
