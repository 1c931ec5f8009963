#include "timing/checkpoint_timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

using timing::CheckpointTimer;

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

TEST(CheckpointTimer, LapsAccumulatePerIdAndNegativeIdsOnlyRestart) {
    CheckpointTimer timer;
    sleep_ms(30);
    const double first = timer.lap(0);
    sleep_ms(10);
    const double restart = timer.lap(-1);
    sleep_ms(20);
    const double second = timer.lap(0);

    EXPECT_GE(first, 0.030);
    EXPECT_GE(restart, 0.010);
    EXPECT_GE(second, 0.020);
    ASSERT_EQ(timer.totals().size(), 1u);
    // The restarted section is credited to nobody: the total is exactly the two laps of id 0.
    EXPECT_DOUBLE_EQ(timer.totals().at(0), first + second);
}

TEST(CheckpointTimer, ResetKeepsTotalsAndRestartsTheSection) {
    CheckpointTimer timer;
    timer.lap(5);
    sleep_ms(30);
    timer.reset();
    const double after_reset = timer.lap(3);
    EXPECT_LT(after_reset, 0.025);
    EXPECT_EQ(timer.totals().count(5), 1u);
    EXPECT_GE(timer.elapsed_seconds(), 0.0);
}

TEST(CheckpointTimer, TotalsIterateInAscendingId) {
    CheckpointTimer timer;
    for (int id : {5, 0, 3}) timer.lap(id);
    std::vector<int> order;
    for (const auto& [id, seconds] : timer.totals()) order.push_back(id);
    EXPECT_EQ(order, (std::vector<int>{0, 3, 5}));
}

}  // namespace
