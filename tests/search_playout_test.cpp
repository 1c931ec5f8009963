// The playout loop: counting, the order of evaluation and expansion, the
// selection rule, finished positions and the cache's part in it.
#include <gtest/gtest.h>

#include <cmath>

#include "search/eval_cache.h"
#include "search/search_constants.h"
#include "search/search_tree.h"
#include "search/select_edge.h"
#include "search/tree_stats.h"
#include "tests/search_test_support.h"

namespace {

using namespace search;
using search_testing::at;
using search_testing::board_with;
using search_testing::scripted_evaluator;

class PlayoutTest : public ::testing::Test {
protected:
    void SetUp() override { search_testing::clear_process_cache(); }

    search_tree tree_over(const play::board_state& board, std::int8_t to_move = play::black) {
        return search_tree(make_root(board, to_move), &evaluator);
    }

    scripted_evaluator evaluator;
};

TEST_F(PlayoutTest, NoPlayoutsOnlyTrimsTheCache) {
    std::array<float, eval::evaluation_size> array{};
    for (std::uint64_t key = 1; key <= cache_capacity + 3; ++key) eval_cache.insert(key, array.data());
    search_tree tree = tree_over(play::board_state{});
    tree.run_playouts(0);
    EXPECT_EQ(eval_cache.size(), cache_capacity);
    tree.run_playouts(-4);
    EXPECT_EQ(tree.root().visits, 0);
    EXPECT_FALSE(tree.root().evaluated);
    EXPECT_EQ(evaluator.calls, 0);
}

TEST_F(PlayoutTest, FirstPlayoutEvaluatesRootSecondExpandsAndEvaluatesBestPrior) {
    evaluator.value = 0.3f;
    evaluator.weights.fill(1.0f);
    evaluator.weights[5 * 20 + 7] = 4.0f;
    evaluator.weights[12 * 20 + 2] = 4.0f;  // ties with (5, 7): the earlier cell wins
    search_tree tree = tree_over(play::board_state{});

    tree.run_playouts(1);
    EXPECT_EQ(tree.root().visits, 1);
    EXPECT_FLOAT_EQ(tree.root().value_sum, 0.3f);
    EXPECT_TRUE(tree.root().evaluated);
    EXPECT_FALSE(tree.root().expanded);
    EXPECT_TRUE(tree.root().children.empty());
    EXPECT_EQ(evaluator.calls, 1);
    EXPECT_EQ(evaluator.sides_seen.back(), play::black);

    tree.run_playouts(1);
    EXPECT_EQ(tree.root().visits, 2);
    EXPECT_TRUE(tree.root().expanded);
    EXPECT_EQ(evaluator.calls, 2);
    EXPECT_EQ(evaluator.sides_seen.back(), play::white);
    int created = 0;
    for (const tree_edge& edge : tree.root().children) {
        if (!edge.created) continue;
        ++created;
        EXPECT_EQ(edge.move, at(5, 7));
        EXPECT_EQ(edge.child->visits, 1);
        EXPECT_FLOAT_EQ(edge.q, -0.3f);
    }
    EXPECT_EQ(created, 1);
    EXPECT_FLOAT_EQ(tree.root().value_sum, 0.3f - 0.3f);
}

TEST_F(PlayoutTest, VisitsAndValuesStayConsistentOverManyPlayouts) {
    // Values that depend on the position, so the statistics differ per node.
    evaluator.value_of = [](const std::int8_t* cells, std::int8_t side) {
        int score = 0;
        for (int cell = 0; cell < 400; ++cell) score += cells[cell] * ((cell * 37) % 11 - 5);
        return std::tanh(0.1f * static_cast<float>(score * side));
    };
    for (int cell = 0; cell < 400; ++cell) evaluator.weights[cell] = static_cast<float>((cell * 13) % 17 + 1);
    search_tree tree = tree_over(board_with({{play::black, at(9, 9)}, {play::white, at(9, 10)}}));
    tree.run_playouts(300);

    // Without cache hits or dead ends, every playout is one evaluation and
    // one visit of the root.
    EXPECT_EQ(evaluator.calls, 300);
    EXPECT_EQ(tree.root().visits, 300);
    // Each node's visits are its own evaluation plus its children's visits,
    // and every edge's q is minus its child's mean.
    std::vector<const tree_node*> pending{&tree.root()};
    while (!pending.empty()) {
        const tree_node* node = pending.back();
        pending.pop_back();
        std::int32_t below = 0;
        for (const tree_edge& edge : node->children) {
            if (!edge.child) continue;
            below += edge.child->visits;
            EXPECT_FLOAT_EQ(edge.q, -edge.child->value_sum / static_cast<float>(edge.child->visits));
            EXPECT_EQ(edge.child->to_move, -node->to_move);
            pending.push_back(edge.child.get());
        }
        EXPECT_EQ(node->visits, below + (node->evaluated ? 1 : 0));
    }
}

TEST_F(PlayoutTest, RootWhoseGameIsOverBacksUpItsResultEachPlayout) {
    play::board_state board;
    for (int row = 0; row < 4; ++row) play::put_stone(board, play::white, at(row, 6));
    // A kept child carries the game result; a fresh root made by advance keeps 0.
    search_tree tree = tree_over(board, play::white);
    tree.run_playouts(2);
    tree.advance(at(4, 6));
    ASSERT_EQ(tree.root().board.over, 1);
    ASSERT_EQ(tree.root().value, -1.0f);
    const std::int32_t visits = tree.root().visits;
    const float value_sum = tree.root().value_sum;
    const int calls = evaluator.calls;
    tree.run_playouts(4);
    EXPECT_EQ(tree.root().visits, visits + 4);
    EXPECT_FLOAT_EQ(tree.root().value_sum, value_sum - 4.0f);
    EXPECT_EQ(evaluator.calls, calls);
}

TEST_F(PlayoutTest, WinningEdgeScoresPlusOneWithoutTheEvaluator) {
    play::board_state board;
    for (int column = 10; column < 14; ++column) play::put_stone(board, play::black, at(0, column));
    evaluator.weights.fill(0.0f);
    evaluator.weights[0 * 20 + 14] = 1.0f;  // the winning cell
    evaluator.weights[7 * 20 + 7] = 1.0f;
    search_tree tree = tree_over(board, play::black);
    tree.run_playouts(2);
    const tree_edge& winning = tree.root().children[0];
    ASSERT_EQ(winning.move, at(0, 14));
    ASSERT_TRUE(winning.created);
    EXPECT_EQ(winning.q, 1.0f);
    EXPECT_EQ(evaluator.calls, 1);

    const std::int32_t child_visits = winning.child->visits;
    tree.run_playouts(10);
    const std::int32_t more = winning.child->visits - child_visits;
    EXPECT_GT(more, 0);
    EXPECT_FLOAT_EQ(winning.child->value_sum, -static_cast<float>(winning.child->visits));
    EXPECT_EQ(winning.q, 1.0f);
}

TEST_F(PlayoutTest, LeafWithoutEdgesEndsPlayoutsWithoutBackUp) {
    evaluator.weights.fill(0.0f);  // no weight anywhere: the root gets no edges
    evaluator.value = 0.5f;
    search_tree tree = tree_over(play::board_state{});
    tree.run_playouts(5);
    EXPECT_EQ(tree.root().visits, 5);
    EXPECT_TRUE(tree.root().expanded);
    EXPECT_TRUE(tree.root().children.empty());
    EXPECT_FLOAT_EQ(tree.root().value_sum, 0.5f);
    EXPECT_EQ(evaluator.calls, 1);
}

TEST_F(PlayoutTest, OnlyOnePriorAboveTheFloorMakesOneEdge) {
    evaluator.weights.fill(1e-8f);
    evaluator.weights[42] = 1.0f;
    search_tree tree = tree_over(play::board_state{});
    tree.run_playouts(3);
    ASSERT_EQ(tree.root().children.size(), 1u);
    EXPECT_EQ(tree.root().children[0].move, at(2, 2));
}

TEST_F(PlayoutTest, CacheHitsAreNotCountedButVisitTheRoot) {
    const play::board_state board = board_with({{play::black, at(4, 4)}});
    {
        search_tree earlier = tree_over(board, play::white);
        earlier.run_playouts(1);
    }
    const std::uint32_t hits_before = cache_hits();
    // A later game (a new tree) over the same stones: the root is served from
    // the cache, whatever the side to move.
    search_tree tree = tree_over(board, play::black);
    tree.run_playouts(1);
    EXPECT_EQ(cache_hits(), hits_before + 1);
    EXPECT_EQ(eval_cache.hit_count(board.hash), 1u);
    EXPECT_EQ(evaluator.calls, 2);  // the earlier root, then one child here
    EXPECT_EQ(tree.root().visits, 2);
    EXPECT_TRUE(tree.root().expanded);
}

TEST_F(PlayoutTest, TranspositionsShareOneCacheEntry) {
    const play::board_state first =
        board_with({{play::black, at(0, 0)}, {play::white, at(5, 5)}, {play::black, at(0, 1)}});
    const play::board_state second =
        board_with({{play::black, at(0, 1)}, {play::white, at(5, 5)}, {play::black, at(0, 0)}});
    ASSERT_EQ(first.hash, second.hash);
    search_tree a = tree_over(first, play::white);
    a.run_playouts(1);
    search_tree b = tree_over(second, play::white);
    b.run_playouts(1);
    EXPECT_EQ(evaluator.calls, 2);  // a's root, then b's first child (b's root was a hit)
    EXPECT_EQ(eval_cache.hit_count(first.hash), 1u);
    EXPECT_EQ(b.root().visits, 2);
}

TEST(SelectEdge, ScoresPriorsVisitsAndQAndBreaksTiesFirst) {
    tree_node node(play::board_state{}, play::black);
    node.expanded = true;
    auto add_edge = [&](float prior, float q, std::int32_t child_visits) {
        tree_edge& edge = node.children.emplace_back();
        edge.prior = prior;
        edge.q = q;
        edge.parent = &node;
        edge.move = at(0, static_cast<int>(node.children.size()) - 1);
        if (child_visits > 0) {
            edge.create_child();
            edge.child->visits = child_visits;
        }
    };
    node.visits = 16;
    add_edge(0.5f, 0.0f, 3);  // 3*0.5*4/4 = 1.5
    add_edge(0.25f, 0.0f, 0); // 3*0.25*4/1 = 3.0
    add_edge(0.25f, 0.0f, 0); // ties the one before
    EXPECT_EQ(&select_edge(node), &node.children[1]);
    node.children[0].q = 1.6f;  // 3.1 beats 3.0
    EXPECT_EQ(&select_edge(node), &node.children[0]);
    node.children[0].q = 1.5f;  // 3.0 ties: the first edge keeps it
    EXPECT_EQ(&select_edge(node), &node.children[0]);
    node.children[2].q = 0.01f;
    EXPECT_EQ(&select_edge(node), &node.children[2]);
}

TEST_F(PlayoutTest, PlayingAreaHoldsThroughoutTheSearchAndTheChoice) {
    evaluator.value_of = [](const std::int8_t* cells, std::int8_t side) {
        int score = 0;
        for (int cell = 0; cell < 400; ++cell) score += cells[cell] * (cell % 9 - 4);
        return std::tanh(0.2f * static_cast<float>(score * side));
    };
    // The network likes the far corner best, outside the announced 7 x 5 board.
    for (int cell = 0; cell < 400; ++cell) evaluator.weights[cell] = static_cast<float>(cell + 1);
    search_tree tree(make_root(play::board_state{}, play::black), &evaluator, /*width=*/7, /*height=*/5);
    tree.root_noise = true;
    tree.run_playouts(200);
    std::vector<const tree_node*> pending{&tree.root()};
    std::size_t edges = 0;
    while (!pending.empty()) {
        const tree_node* node = pending.back();
        pending.pop_back();
        for (const tree_edge& edge : node->children) {
            ++edges;
            EXPECT_LT(play::packed_column(edge.move), 7);
            EXPECT_LT(play::packed_row(edge.move), 5);
            if (edge.child) pending.push_back(edge.child.get());
        }
    }
    EXPECT_GT(edges, 35u);
    for (int trial = 0; trial < 20; ++trial) {
        const play::packed_move move = tree.choose_move(0.0, nullptr, nullptr);
        EXPECT_LT(play::packed_column(move), 7);
        EXPECT_LT(play::packed_row(move), 5);
    }
}

}  // namespace
