// Move choice from visit counts, and root noise.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "search/move_choice.h"
#include "search/search_constants.h"
#include "search/search_tree.h"
#include "tests/search_test_support.h"

namespace {

using namespace search;
using search_testing::at;
using search_testing::scripted_evaluator;

// A root with one edge per (cell, child visits) pair, in the order given.
std::unique_ptr<tree_node> root_with_visits(const std::vector<std::pair<play::packed_move, std::int32_t>>& edges) {
    auto root = make_root(play::board_state{}, play::black);
    root->expanded = true;
    root->evaluated = true;
    root->children.reserve(edges.size());
    std::int32_t total = 0;
    for (const auto& [move, visits] : edges) {
        tree_edge& edge = root->children.emplace_back();
        edge.parent = root.get();
        edge.move = move;
        edge.prior = 1.0f / static_cast<float>(edges.size());
        if (visits > 0) {
            edge.create_child();
            edge.child->visits = visits;
            total += visits;
        }
    }
    root->visits = total + 1;
    return root;
}

int cell_of(play::packed_move move) { return play::cell_index(play::packed_row(move), play::packed_column(move)); }

TEST(MoveWeights, GreedyAndProportional) {
    auto root = root_with_visits({{at(1, 1), 5}, {at(2, 2), 9}, {at(3, 3), 0}, {at(4, 4), 2}});
    for (const double greedy : {0.0, 0.01, 0.005}) {
        const move_distribution weights = move_weights(*root, greedy);
        EXPECT_EQ(weights[cell_of(at(2, 2))], 1.0f) << greedy;
        float total = 0.0f;
        for (float w : weights) total += w;
        EXPECT_EQ(total, 1.0f);
    }
    const move_distribution proportional = move_weights(*root, 1.0);
    EXPECT_FLOAT_EQ(proportional[cell_of(at(1, 1))], 5.0f / 16.0f);
    EXPECT_FLOAT_EQ(proportional[cell_of(at(2, 2))], 9.0f / 16.0f);
    EXPECT_EQ(proportional[cell_of(at(3, 3))], 0.0f);
    EXPECT_FLOAT_EQ(proportional[cell_of(at(4, 4))], 2.0f / 16.0f);
    // Temperature 0.5 squares the visits.
    const move_distribution sharper = move_weights(*root, 0.5);
    EXPECT_FLOAT_EQ(sharper[cell_of(at(2, 2))], 81.0f / (25.0f + 81.0f + 4.0f));
    // Just above the greedy bound the weights are still proportional.
    const move_distribution almost = move_weights(*root, 1.0 / 99.0);
    EXPECT_GT(almost[cell_of(at(1, 1))], 0.0f);
}

TEST(MoveWeights, TiesNoVisitsAndNoEdges) {
    auto tied = root_with_visits({{at(0, 5), 4}, {at(6, 0), 7}, {at(9, 9), 7}, {at(19, 0), 7}});
    const move_distribution weights = move_weights(*tied, 0.0);
    EXPECT_EQ(weights[cell_of(at(0, 5))], 0.0f);
    for (const play::packed_move move : {at(6, 0), at(9, 9), at(19, 0)}) {
        EXPECT_FLOAT_EQ(weights[cell_of(move)], 1.0f / 3.0f);
    }

    auto unvisited = root_with_visits({{at(2, 0), 0}, {at(3, 0), 0}});
    EXPECT_FLOAT_EQ(move_weights(*unvisited, 0.0)[cell_of(at(2, 0))], 0.5f);
    EXPECT_TRUE(std::isnan(move_weights(*unvisited, 1.0)[cell_of(at(2, 0))]));
    EXPECT_EQ(draw_index(move_weights(*unvisited, 1.0), 0.3), -1);

    auto bare = root_with_visits({});
    const move_distribution none = move_weights(*bare, 0.0);
    for (float w : none) EXPECT_EQ(w, 0.0f);
    EXPECT_EQ(draw_index(none, 0.0), -1);
}

TEST(DrawIndex, FirstRunningSumAboveR) {
    move_distribution weights{};
    weights[3] = 0.25f;
    weights[10] = 0.5f;
    weights[399] = 0.25f;
    EXPECT_EQ(draw_index(weights, 0.0), 3);
    EXPECT_EQ(draw_index(weights, 0.2499), 3);
    EXPECT_EQ(draw_index(weights, 0.25), 10);  // strictly greater
    EXPECT_EQ(draw_index(weights, 0.74), 10);
    EXPECT_EQ(draw_index(weights, 0.75), 399);
    EXPECT_EQ(draw_index(weights, 0.999999), 399);
}

class ChooseTest : public ::testing::Test {
protected:
    void SetUp() override { search_testing::clear_process_cache(); }
    search_tree tree_with(std::unique_ptr<tree_node> root) { return search_tree(std::move(root), &evaluator); }
    scripted_evaluator evaluator;
};

TEST_F(ChooseTest, GreedySingleBestReportsShareAndVisits) {
    search_tree tree = tree_with(root_with_visits({{at(1, 1), 5}, {at(2, 2), 9}, {at(4, 4), 2}}));
    for (int trial = 0; trial < 50; ++trial) {
        float share = -1.0f;
        std::int32_t visits = -1;
        EXPECT_EQ(tree.choose_move(0.0, &share, &visits), at(2, 2));
        EXPECT_FLOAT_EQ(share, 9.0f / 16.0f);
        EXPECT_EQ(visits, 9);
    }
    EXPECT_EQ(tree.root().visits, 17);  // the tree is unchanged
}

TEST_F(ChooseTest, GreedyTiesAreBrokenAtRandomAmongTheTiedOnly) {
    search_tree tree = tree_with(root_with_visits({{at(0, 5), 4}, {at(6, 0), 7}, {at(9, 9), 7}, {at(19, 0), 7}}));
    std::map<play::packed_move, int> seen;
    // With 300 draws, missing one of three equally likely moves has a
    // probability near 3 * (2/3)^300: never in practice.
    for (int trial = 0; trial < 300; ++trial) ++seen[tree.choose_move(0.0, nullptr, nullptr)];
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen.count(at(0, 5)), 0u);
    for (const auto& [move, count] : seen) EXPECT_GT(count, 0) << move;
}

TEST_F(ChooseTest, TemperatureOneFollowsVisits) {
    search_tree tree = tree_with(root_with_visits({{at(1, 1), 1}, {at(2, 2), 3}, {at(3, 3), 0}}));
    std::map<play::packed_move, int> seen;
    constexpr int trials = 4000;
    for (int trial = 0; trial < trials; ++trial) ++seen[tree.choose_move(1.0, nullptr, nullptr)];
    EXPECT_EQ(seen.count(at(3, 3)), 0u);
    // Expected 1000 and 3000; the bounds are more than seven standard deviations wide.
    EXPECT_GT(seen[at(1, 1)], 800);
    EXPECT_LT(seen[at(1, 1)], 1200);
    EXPECT_EQ(seen[at(1, 1)] + seen[at(2, 2)], trials);
}

TEST_F(ChooseTest, RootWithoutEdgesGivesCornerWithNothingReported) {
    search_tree tree = tree_with(root_with_visits({}));
    float share = -1.0f;
    std::int32_t visits = -1;
    EXPECT_EQ(tree.choose_move(0.0, &share, &visits), at(0, 0));
    EXPECT_EQ(share, 0.0f);
    EXPECT_EQ(visits, 0);
}

TEST_F(ChooseTest, ChooseAndAdvanceMovesTheRootToTheChoice) {
    search_tree tree = tree_with(root_with_visits({{at(1, 1), 5}, {at(2, 2), 9}}));
    const tree_node* best_child = tree.root().children[1].child.get();
    EXPECT_EQ(tree.choose_and_advance(0.0), at(2, 2));
    EXPECT_EQ(&tree.root(), best_child);
    EXPECT_EQ(tree.root().visits, 9);
    EXPECT_EQ(tree.root().parent_edge, nullptr);
}

// The root after expansion of a network that kept only one cell.
std::unique_ptr<tree_node> pruned_root(int kept_cell, const play::board_state& board = {}) {
    auto root = make_root(board, play::black);
    root->visits = 1;
    auto array = std::make_unique<float[]>(eval::evaluation_size);
    for (int cell = 0; cell < eval::evaluation_size; ++cell) array[cell] = 0.0f;
    array[kept_cell] = 1.0f;
    root->set_evaluation(std::move(array));
    root->expand();
    return root;
}

TEST(RootNoise, KnownDrawsMixPriorsAndAddEdges) {
    auto root = pruned_root(play::cell_index(10, 10));
    ASSERT_EQ(root->children.size(), 1u);
    // 400 empty cells: 399 candidates take the first 399 draws, the one edge
    // the last. Draws: 1.0 for every fourth candidate, a sliver for the rest.
    std::vector<float> draws(400);
    float total = 0.0f;
    for (int k = 0; k < 399; ++k) draws[k] = k % 4 == 0 ? 1.0f : 1e-6f;
    draws[399] = 2.0f;
    for (float d : draws) total += d;
    root->mix_root_noise(draws, root_noise_weight);

    EXPECT_TRUE(root->noised);
    EXPECT_FLOAT_EQ(root->children[0].prior, 0.75f * 1.0f + 0.25f * (2.0f / total));
    ASSERT_EQ(root->children.size(), 1u + 100u);
    // New edges in the order the cells were collected (row-major, skipping
    // the old edge's cell), each with prior = epsilon * draw / total.
    std::vector<play::packed_move> candidates;
    for (int cell = 0; cell < 400; ++cell) {
        if (cell != play::cell_index(10, 10)) candidates.push_back(at(cell / 20, cell % 20));
    }
    for (std::size_t t = 0; t < 100; ++t) {
        const tree_edge& edge = root->children[1 + t];
        EXPECT_EQ(edge.move, candidates[4 * t]);
        EXPECT_FLOAT_EQ(edge.prior, 1.0f / total * 0.25f);
        EXPECT_FALSE(edge.created || edge.kept);
        EXPECT_EQ(edge.q, 0.0f);
        EXPECT_EQ(edge.parent, root.get());
    }
}

TEST(RootNoise, GammaDrawsCoverEveryEmptyCellOnce) {
    const play::board_state board = search_testing::board_with({{play::white, at(0, 0)}, {play::black, at(10, 10)}});
    auto root = pruned_root(play::cell_index(5, 5), board);
    root->add_root_noise(root_noise_concentration, root_noise_weight);
    EXPECT_TRUE(root->noised);
    float prior_total = 0.0f;
    for (const tree_edge& edge : root->children) {
        const int cell = cell_of(edge.move);
        EXPECT_EQ(board.cells[cell], 0);
        prior_total += edge.prior;
    }
    // The old prior keeps 0.75; the noise adds at most 0.25 in all.
    EXPECT_GE(root->children[0].prior, 0.75f);
    EXPECT_LE(prior_total, 1.0f + 1e-5f);
}

TEST(RootNoise, KeptRootWithChildrenStaysLinkedAndInsideTheArea) {
    scripted_evaluator evaluator;
    search_testing::clear_process_cache();
    evaluator.weights.fill(0.0f);
    evaluator.weights[play::cell_index(2, 3)] = 1.0f;
    evaluator.weights[play::cell_index(3, 2)] = 1.0f;
    search_tree tree(make_root(play::board_state{}, play::black), &evaluator, 9, 9);
    tree.run_playouts(20);
    // Advance into a child that already has its own searched children, then
    // switch noise on: new edges must not leave those children dangling.
    tree.advance(at(2, 3));
    ASSERT_FALSE(tree.root().noised);
    ASSERT_FALSE(tree.root().children.empty());
    tree.root_noise = true;
    tree.run_playouts(20);
    EXPECT_TRUE(tree.root().noised);
    for (const tree_edge& edge : tree.root().children) {
        EXPECT_LT(play::packed_row(edge.move), 9);
        EXPECT_LT(play::packed_column(edge.move), 9);
        EXPECT_EQ(edge.parent, &tree.root());
        if (edge.child) {
            EXPECT_EQ(edge.child->parent_edge, &edge);
        }
    }
}

TEST(RootNoise, KnownDrawsStayInsideThePlayingArea) {
    auto root = pruned_root(play::cell_index(1, 1));
    const playing_area area{3, 2};
    std::vector<float> draws(6, 1.0f);  // six cells in a 3 x 2 area, all empty
    root->mix_root_noise(draws, 0.25f, area);
    ASSERT_EQ(root->children.size(), 6u);
    for (const tree_edge& edge : root->children) {
        EXPECT_TRUE(area.contains(play::packed_row(edge.move), play::packed_column(edge.move)));
    }
    EXPECT_FLOAT_EQ(root->children[0].prior, 0.75f + 0.25f / 6.0f);
    EXPECT_FLOAT_EQ(root->children[1].prior, 0.25f / 6.0f);
}

}  // namespace
