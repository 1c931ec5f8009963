// The evaluation cache: hits, inserts, and which entries trim removes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "search/eval_cache.h"
#include "search/search_tree.h"
#include "search_test_support.h"

namespace {

using search::evaluation_cache;

std::vector<float> array_of(float fill) { return std::vector<float>(eval::evaluation_size, fill); }

// Fills `cache` with keys 1..count, each hit `counts(key)` times.
template <typename Counts>
void fill(evaluation_cache& cache, std::uint64_t count, Counts counts) {
    const std::vector<float> array = array_of(0.5f);
    for (std::uint64_t key = 1; key <= count; ++key) {
        cache.insert(key, array.data());
        for (std::uint32_t hit = 0; hit < counts(key); ++hit) cache.hit(key);
    }
}

TEST(EvalCache, HitCopiesAndCountsInsertKeepsFirst) {
    evaluation_cache cache(4);
    std::vector<float> first = array_of(0.25f);
    first[400] = -0.5f;
    cache.insert(77, first.data());
    EXPECT_EQ(cache.hit(78), nullptr);
    EXPECT_EQ(cache.total_hits(), 0u);

    eval::evaluation_array copy = cache.hit(77);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy[0], 0.25f);
    EXPECT_EQ(copy[400], -0.5f);
    copy[0] = 9.0f;  // the caller's copy is its own
    EXPECT_EQ(cache.hit(77)[0], 0.25f);
    EXPECT_EQ(cache.hit_count(77), 2u);
    EXPECT_EQ(cache.total_hits(), 2u);

    cache.insert(77, array_of(0.75f).data());  // present: not replaced, count kept
    EXPECT_EQ(cache.hit(77)[0], 0.25f);
    EXPECT_EQ(cache.hit_count(77), 3u);

    cache.clear();
    EXPECT_EQ(cache.size(), 0u);
    EXPECT_EQ(cache.total_hits(), 3u);
}

TEST(EvalCacheTrim, AtOrBelowCapacityKeepsEverything) {
    evaluation_cache cache(10);
    cache.trim();
    fill(cache, 10, [](std::uint64_t key) { return static_cast<std::uint32_t>(key % 3); });
    cache.trim();
    EXPECT_EQ(cache.size(), 10u);
}

TEST(EvalCacheTrim, RemovesOnlyEntriesAtOrBelowThreshold) {
    constexpr std::uint64_t capacity = 50;
    {
        // Six entries at 0, the rest higher: five of the six go.
        evaluation_cache cache(capacity);
        fill(cache, capacity + 5, [](std::uint64_t key) { return key <= 6 ? 0u : 2u; });
        cache.trim();
        EXPECT_EQ(cache.size(), capacity);
        int zero_left = 0;
        for (std::uint64_t key = 1; key <= 6; ++key) zero_left += cache.contains(key);
        EXPECT_EQ(zero_left, 1);
        for (std::uint64_t key = 7; key <= capacity + 5; ++key) EXPECT_TRUE(cache.contains(key)) << key;
    }
    {
        // Counts 0,0,0,0,0,7 and above 7 for the rest: the threshold is 7, so
        // five of those six go, in table order -- possibly the 7.
        evaluation_cache cache(capacity);
        fill(cache, capacity + 5, [](std::uint64_t key) { return key <= 5 ? 0u : key == 6 ? 7u : 8u; });
        cache.trim();
        EXPECT_EQ(cache.size(), capacity);
        int low_left = 0;
        for (std::uint64_t key = 1; key <= 6; ++key) low_left += cache.contains(key);
        EXPECT_EQ(low_left, 1);
        for (std::uint64_t key = 7; key <= capacity + 5; ++key) EXPECT_TRUE(cache.contains(key)) << key;
    }
    {
        evaluation_cache cache(capacity);
        fill(cache, capacity + 5, [](std::uint64_t) { return 1u; });
        cache.trim();
        EXPECT_EQ(cache.size(), capacity);
    }
}

TEST(EvalCacheTrim, MatchesTheSortedThresholdOnRandomCounts) {
    std::mt19937 engine(12345);
    for (int round = 0; round < 20; ++round) {
        const std::uint64_t capacity = 200;
        const std::uint64_t count = capacity + 1 + engine() % 150;
        std::vector<std::uint32_t> counts(count + 1);
        for (auto& c : counts) c = engine() % 6;
        evaluation_cache cache(capacity);
        fill(cache, count, [&](std::uint64_t key) { return counts[key]; });
        std::vector<std::uint32_t> sorted(counts.begin() + 1, counts.end());
        std::sort(sorted.begin(), sorted.end());
        const std::uint32_t threshold = sorted[count - capacity];
        cache.trim();
        ASSERT_EQ(cache.size(), capacity);
        for (std::uint64_t key = 1; key <= count; ++key) {
            if (!cache.contains(key)) {
                EXPECT_LE(counts[key], threshold);
            } else {
                EXPECT_EQ(cache.hit_count(key), counts[key]);
            }
            if (counts[key] > threshold) {
                EXPECT_TRUE(cache.contains(key));
            }
        }
    }
}

TEST(EvalCacheTrim, ProcessCacheHoldsTenThousand) {
    EXPECT_EQ(search::eval_cache.capacity(), 10000u);
    evaluation_cache cache;
    fill(cache, search::cache_capacity + 5, [](std::uint64_t key) { return key % 2 == 0 ? 1u : 0u; });
    cache.trim();
    EXPECT_EQ(cache.size(), search::cache_capacity);
    cache.trim();
    EXPECT_EQ(cache.size(), search::cache_capacity);
}

TEST(EvalCacheOwners, TwoNetworksWithTheirOwnCachesNeverSeeEachOthersValues) {
    search_testing::clear_process_cache();
    search_testing::scripted_evaluator first, second;
    first.value = 0.5f;
    second.value = -0.25f;
    evaluation_cache first_cache, second_cache;
    const play::board_state board = search_testing::board_with({{play::black, search_testing::at(9, 9)}});
    search::search_tree a(search::make_root(board, play::white), &first);
    a.use_cache(first_cache);
    a.run_playouts(50);
    // The second network searches the same positions after the first: every
    // leaf is its own evaluation, none is the first's.
    search::search_tree b(search::make_root(board, play::white), &second);
    b.use_cache(second_cache);
    b.run_playouts(50);
    EXPECT_EQ(second.calls, 50);
    EXPECT_EQ(second_cache.total_hits(), first_cache.total_hits());
    EXPECT_EQ(second_cache.size(), first_cache.size());
    EXPECT_FLOAT_EQ(b.root().value, -0.25f);
    EXPECT_EQ(search::eval_cache.size(), 0u);  // the process's cache was never used
    // A shared cache would have served the first network's values.
    search::search_tree shared(search::make_root(board, play::white), &second);
    shared.use_cache(first_cache);
    shared.run_playouts(10);
    EXPECT_FLOAT_EQ(shared.root().value, 0.5f);
}

TEST(EvalCacheOwners, ASmallerBoardKeepsItsOwnEntries) {
    // The network sees a small board's edge, so the same stones evaluate
    // differently there: the entries must not be shared.
    search_testing::clear_process_cache();
    search_testing::scripted_evaluator evaluator;
    const play::board_state board = search_testing::board_with({{play::black, search_testing::at(5, 5)}});
    search::search_tree large(search::make_root(board, play::white), &evaluator);
    large.run_playouts(1);
    search::search_tree small(search::make_root(board, play::white), &evaluator, 15, 15);
    small.run_playouts(1);
    EXPECT_EQ(evaluator.calls, 2);
    EXPECT_EQ(search::eval_cache.size(), 2u);
    // Another 15 x 15 tree finds its root where the first one left it.
    const std::uint32_t hits = search::eval_cache.total_hits();
    search::search_tree small_again(search::make_root(board, play::white), &evaluator, 15, 15);
    small_again.run_playouts(1);
    EXPECT_EQ(search::eval_cache.total_hits(), hits + 1);
}

TEST(EvalCacheOwners, SeededTreesDrawTheSameNoiseAndMoves) {
    search_testing::scripted_evaluator evaluator;
    const play::board_state board = search_testing::board_with({{play::black, search_testing::at(9, 9)}});
    auto priors_and_move = [&](std::uint64_t seed) {
        evaluation_cache cache;
        search::search_tree tree(search::make_root(board, play::white), &evaluator);
        tree.use_cache(cache);
        tree.root_noise = true;
        tree.seed(seed);
        tree.run_playouts(30);
        std::vector<float> priors;
        for (const search::tree_edge& edge : tree.root().children) priors.push_back(edge.prior);
        return std::make_pair(priors, tree.choose_and_advance(1.0));
    };
    EXPECT_EQ(priors_and_move(7), priors_and_move(7));
    EXPECT_NE(priors_and_move(7).first, priors_and_move(8).first);
}

}  // namespace
