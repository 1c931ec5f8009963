// The tree records: children, back-up, expansion, moving the root, freeing.
#include <gtest/gtest.h>

#include <cmath>

#include "search/search_constants.h"
#include "search/search_tree.h"
#include "search/tree_stats.h"
#include "tests/search_test_support.h"

namespace {

using namespace search;
using search_testing::at;
using search_testing::board_with;
using search_testing::scripted_evaluator;

eval::evaluation_array evaluation_of(const std::array<float, 400>& weights, float value) {
    auto array = std::make_unique<float[]>(eval::evaluation_size);
    for (int cell = 0; cell < 400; ++cell) array[cell] = weights[cell];
    array[400] = value;
    return array;
}

eval::evaluation_array uniform_evaluation(float value) {
    std::array<float, 400> weights;
    weights.fill(1.0f);
    return evaluation_of(weights, value);
}

// A root with visits raised as a playout would, evaluated and expanded.
std::unique_ptr<tree_node> expanded_root(const play::board_state& board, std::int8_t to_move,
                                         eval::evaluation_array evaluation, const playing_area& area = {}) {
    auto root = make_root(board, to_move);
    root->visits = 1;
    root->set_evaluation(std::move(evaluation));
    root->expand(area);
    return root;
}

tree_edge& edge_for(tree_node& node, int row, int column) {
    for (tree_edge& edge : node.children) {
        if (edge.move == at(row, column)) return edge;
    }
    ADD_FAILURE() << "no edge at " << row << "," << column;
    return node.children.front();
}

TEST(TreeNode, FreshRootAndChild) {
    const play::board_state board = board_with({{play::black, at(9, 9)}});
    auto root = make_root(board, play::white);
    EXPECT_EQ(root->to_move, -1);
    EXPECT_EQ(root->visits, 0);
    EXPECT_EQ(root->value_sum, 0.0f);
    EXPECT_EQ(root->value, 0.0f);
    EXPECT_FALSE(root->expanded || root->evaluated || root->noised);
    EXPECT_EQ(root->parent_edge, nullptr);
    EXPECT_TRUE(root->children.empty());
    EXPECT_EQ(root->evaluation, nullptr);

    root->set_evaluation(uniform_evaluation(0.0f));
    root->expand();
    tree_edge& edge = edge_for(*root, 9, 10);
    edge.create_child();
    ASSERT_TRUE(edge.created);
    const tree_node& child = *edge.child;
    EXPECT_EQ(child.to_move, 1);
    EXPECT_EQ(child.parent_edge, &edge);
    EXPECT_EQ(edge.parent, root.get());
    EXPECT_EQ(child.board.cells[9 * 20 + 10], -1);
    EXPECT_EQ(child.board.stones, 2);
    EXPECT_EQ(child.board.hash, board.hash ^ play::zobrist_keys[0][9][10]);
    EXPECT_EQ(child.value, 0.0f);
}

TEST(TreeNode, ChildThatCompletesFiveIsLostForItsSideToMove) {
    play::board_state board;
    for (int column = 0; column < 4; ++column) play::put_stone(board, play::black, at(3, column));
    auto root = expanded_root(board, play::black, uniform_evaluation(0.0f));
    tree_edge& winning = edge_for(*root, 3, 4);
    winning.create_child();
    EXPECT_EQ(winning.child->board.over, 1);
    EXPECT_EQ(winning.child->value, -1.0f);
    tree_edge& other = edge_for(*root, 10, 10);
    other.create_child();
    EXPECT_EQ(other.child->board.over, 0);
    EXPECT_EQ(other.child->value, 0.0f);
}

TEST(BackUp, FromRootTouchesOnlyRoot) {
    auto root = make_root(play::board_state{}, play::black);
    root->visits = 1;
    root->value = 0.5f;
    root->back_up();
    EXPECT_EQ(root->value_sum, 0.5f);
    EXPECT_EQ(root->visits, 1);
}

TEST(BackUp, AlternatesSignsAndRefreshesQ) {
    auto root = expanded_root(play::board_state{}, play::black, uniform_evaluation(0.2f));
    EXPECT_FLOAT_EQ(root->value_sum, 0.2f);
    tree_edge& first = root->children[0];
    first.create_child();
    tree_node& child = *first.child;
    ++root->visits;
    ++child.visits;
    child.set_evaluation(uniform_evaluation(0.5f));
    EXPECT_FLOAT_EQ(child.value_sum, 0.5f);
    EXPECT_FLOAT_EQ(first.q, -0.5f);
    EXPECT_FLOAT_EQ(root->value_sum, 0.2f - 0.5f);

    child.expand();
    tree_edge& second = child.children[0];
    second.create_child();
    tree_node& grandchild = *second.child;
    ++root->visits;
    ++child.visits;
    ++grandchild.visits;
    grandchild.set_evaluation(uniform_evaluation(0.25f));
    EXPECT_FLOAT_EQ(grandchild.value_sum, 0.25f);
    EXPECT_FLOAT_EQ(second.q, -0.25f);
    EXPECT_FLOAT_EQ(child.value_sum, 0.5f - 0.25f);
    EXPECT_FLOAT_EQ(first.q, -(0.5f - 0.25f) / 2.0f);
    EXPECT_FLOAT_EQ(root->value_sum, 0.2f - 0.5f + 0.25f);
}

TEST(SetEvaluation, FinishedPositionTakesGameResultNotNetworkValue) {
    play::board_state board;
    for (int column = 0; column < 5; ++column) play::put_stone(board, play::white, at(0, column));
    auto lost = make_root(board, play::black);
    lost->visits = 1;
    lost->set_evaluation(uniform_evaluation(0.9f));
    EXPECT_EQ(lost->value, -1.0f);
    EXPECT_TRUE(lost->evaluated);
    auto won = make_root(board, play::white);
    won->visits = 1;
    won->set_evaluation(uniform_evaluation(0.9f));
    EXPECT_EQ(won->value, 1.0f);
}

TEST(Expand, NormalisesOverEmptyCellsInRowMajorOrder) {
    const play::board_state board = board_with({{play::black, at(0, 1)}, {play::white, at(5, 5)}});
    std::array<float, 400> weights{};
    weights[0] = 2.0f;            // (0, 0)
    weights[1] = 100.0f;          // (0, 1): occupied, ignored
    weights[5 * 20 + 5] = 50.0f;  // occupied, ignored
    weights[7 * 20 + 3] = 6.0f;
    weights[19 * 20 + 19] = 2.0f;
    auto root = expanded_root(board, play::black, evaluation_of(weights, 0.0f));
    ASSERT_EQ(root->children.size(), 3u);
    EXPECT_EQ(root->children[0].move, at(0, 0));
    EXPECT_EQ(root->children[1].move, at(7, 3));
    EXPECT_EQ(root->children[2].move, at(19, 19));
    EXPECT_FLOAT_EQ(root->children[0].prior, 0.2f);
    EXPECT_FLOAT_EQ(root->children[1].prior, 0.6f);
    EXPECT_FLOAT_EQ(root->children[2].prior, 0.2f);
    for (const tree_edge& edge : root->children) {
        EXPECT_FALSE(edge.created || edge.kept);
        EXPECT_EQ(edge.q, 0.0f);
        EXPECT_EQ(edge.parent, root.get());
    }
    EXPECT_TRUE(root->expanded);
    EXPECT_EQ(root->evaluation, nullptr);
}

TEST(Expand, FloorSumZeroAndFinishedPositions) {
    {
        // One cell carries all but a sliver; the sliver is spread thinner
        // than the floor everywhere else.
        std::array<float, 400> weights;
        weights.fill(1e-7f);
        weights[123] = 1.0f;
        auto root = expanded_root(play::board_state{}, play::black, evaluation_of(weights, 0.0f));
        ASSERT_EQ(root->children.size(), 1u);
        EXPECT_EQ(root->children[0].move, at(6, 3));
    }
    {
        // Exactly at the floor passes.
        std::array<float, 400> weights{};
        weights[0] = expansion_floor;
        weights[1] = 1.0f - expansion_floor;
        auto root = expanded_root(play::board_state{}, play::black, evaluation_of(weights, 0.0f));
        EXPECT_EQ(root->children.size(), 2u);
    }
    {
        std::array<float, 400> weights{};
        weights[7] = 5.0f;  // only on an occupied cell: the empty cells sum to 0
        auto root = expanded_root(board_with({{play::black, at(0, 7)}}), play::white, evaluation_of(weights, 0.0f));
        EXPECT_TRUE(root->expanded);
        EXPECT_TRUE(root->children.empty());
    }
    {
        std::array<float, 400> weights;
        weights.fill(NAN);
        auto root = expanded_root(play::board_state{}, play::black, evaluation_of(weights, 0.0f));
        EXPECT_TRUE(root->children.empty());
    }
    {
        play::board_state board;
        for (int row = 0; row < 5; ++row) play::put_stone(board, play::black, at(row, 0));
        auto root = make_root(board, play::white);
        root->expand();
        EXPECT_TRUE(root->expanded);
        EXPECT_TRUE(root->children.empty());
    }
}

TEST(PlayingArea, ExpandKeepsToTheAnnouncedBoard) {
    const playing_area small{15, 10};
    std::array<float, 400> weights{};
    for (int cell = 0; cell < 400; ++cell) weights[cell] = static_cast<float>(cell % 7 + 1);
    auto root = expanded_root(board_with({{play::black, at(2, 2)}}), play::white, evaluation_of(weights, 0.0f), small);
    EXPECT_EQ(root->children.size(), 15u * 10u - 1u);
    float prior_total = 0.0f;
    for (const tree_edge& edge : root->children) {
        EXPECT_LT(play::packed_column(edge.move), 15);
        EXPECT_LT(play::packed_row(edge.move), 10);
        prior_total += edge.prior;
    }
    EXPECT_NEAR(prior_total, 1.0f, 1e-4f);

    auto full = expanded_root(play::board_state{}, play::black, evaluation_of(weights, 0.0f));
    EXPECT_EQ(full->children.size(), 400u);

    EXPECT_EQ(playing_area::clamped(100, 30).width, 20);
    EXPECT_EQ(playing_area::clamped(100, 30).height, 20);
    EXPECT_EQ(playing_area::clamped(0, 7).width, 1);
    EXPECT_EQ(playing_area::clamped(0, 7).height, 7);
}

class AdvanceTest : public ::testing::Test {
protected:
    void SetUp() override { search_testing::clear_process_cache(); }
    scripted_evaluator evaluator;
};

TEST_F(AdvanceTest, MoveAmongEdgesKeepsItsSubtree) {
    // Few candidate moves, so playouts go deeper than one ply.
    evaluator.weights.fill(0.0f);
    evaluator.weights[0] = evaluator.weights[1] = evaluator.weights[2] = 1.0f;
    search_tree tree(make_root(play::board_state{}, play::black), &evaluator);
    tree.run_playouts(30);
    tree_edge* searched = nullptr;
    for (tree_edge& edge : tree.root().children) {
        if (edge.child && edge.child->expanded) searched = &edge;
    }
    ASSERT_NE(searched, nullptr);
    tree_node* kept = searched->child.get();
    const std::int32_t visits = kept->visits;
    const float value_sum = kept->value_sum;
    const std::int64_t subtree_nodes = count_tree(*kept).nodes;
    const play::packed_move move = searched->move;

    tree.advance(move);
    EXPECT_EQ(&tree.root(), kept);
    EXPECT_EQ(tree.root().parent_edge, nullptr);
    EXPECT_EQ(tree.root().visits, visits);
    EXPECT_EQ(tree.root().value_sum, value_sum);
    EXPECT_EQ(count_tree(tree.root()).nodes, subtree_nodes);
    EXPECT_EQ(tree.root().to_move, play::white);
    // Searching on from the kept root works (the old parent is gone).
    tree.run_playouts(10);
    EXPECT_GT(tree.root().visits, visits);
}

TEST_F(AdvanceTest, EdgeWithoutChildGetsOneMadeAndKept) {
    search_tree tree(make_root(play::board_state{}, play::black), &evaluator);
    tree.run_playouts(2);
    const tree_edge& last = tree.root().children.back();
    ASSERT_FALSE(last.created);
    const play::packed_move move = last.move;
    tree.advance(move);
    EXPECT_EQ(tree.root().board.cells[play::cell_index(play::packed_row(move), play::packed_column(move))], 1);
    EXPECT_EQ(tree.root().visits, 0);
    EXPECT_EQ(tree.root().to_move, play::white);
}

TEST_F(AdvanceTest, MoveNotAmongEdgesOrBeforeExpansionStartsFresh) {
    {
        search_tree tree(make_root(play::board_state{}, play::black), &evaluator);
        tree.run_playouts(1);  // evaluated, not expanded
        tree.advance(at(4, 4));
        EXPECT_EQ(tree.root().visits, 0);
        EXPECT_EQ(tree.root().value_sum, 0.0f);
        EXPECT_FALSE(tree.root().evaluated);
        EXPECT_EQ(tree.root().board.cells[4 * 20 + 4], 1);
        EXPECT_EQ(tree.root().to_move, play::white);
    }
    {
        // A network that keeps only (0, 0): any other move is not an edge.
        search_testing::clear_process_cache();
        scripted_evaluator narrow;
        narrow.weights.fill(0.0f);
        narrow.weights[0] = 1.0f;
        search_tree tree(make_root(play::board_state{}, play::black), &narrow);
        tree.run_playouts(5);
        ASSERT_EQ(tree.root().children.size(), 1u);
        tree.advance(at(10, 11));
        EXPECT_EQ(tree.root().visits, 0);
        EXPECT_EQ(tree.root().board.cells[10 * 20 + 11], 1);
        EXPECT_EQ(tree.root().board.stones, 1);
    }
}

TEST_F(AdvanceTest, OccupiedCellLeavesTreeAlone) {
    search_tree tree(make_root(board_with({{play::black, at(3, 3)}}), play::white), &evaluator);
    tree.run_playouts(1);
    const tree_node* before = &tree.root();
    tree.advance(at(3, 3));
    EXPECT_EQ(&tree.root(), before);
    EXPECT_EQ(tree.root().visits, 1);
}

TEST_F(AdvanceTest, OffBoardMoveGivesSameStonesOtherSide) {
    const play::board_state board = board_with({{play::black, at(3, 3)}});
    search_tree tree(make_root(board, play::white), &evaluator);
    tree.run_playouts(5);
    for (const play::packed_move off : {at(20, 0), at(0, -1)}) {
        const std::int8_t side = tree.root().to_move;
        tree.advance(off);
        EXPECT_EQ(tree.root().to_move, -side);
        EXPECT_EQ(tree.root().visits, 0);
        EXPECT_EQ(tree.root().board.hash, board.hash);
        EXPECT_EQ(tree.root().board.stones, 1);
    }
}

TEST_F(AdvanceTest, FreshRootThatEndsTheGameKeepsValueZero) {
    play::board_state board;
    for (int column = 0; column < 4; ++column) play::put_stone(board, play::black, at(8, column));
    search_tree tree(make_root(board, play::black), &evaluator);
    tree.advance(at(8, 4));  // root not expanded: a fresh root
    EXPECT_EQ(tree.root().board.over, 1);
    EXPECT_EQ(tree.root().value, 0.0f);
    tree.run_playouts(3);
    EXPECT_EQ(tree.root().visits, 3);
    EXPECT_EQ(tree.root().value_sum, 0.0f);
    EXPECT_EQ(evaluator.calls, 0);
}

TEST(TreeFreeing, KeptChildOutlivesOldTreeAndDeepChainsFreeIteratively) {
    scripted_evaluator evaluator;
    auto owner = std::make_unique<search_tree>(make_root(play::board_state{}, play::black), &evaluator);
    // set_root with a child taken from the old root, as advance does.
    owner->run_playouts(40);
    tree_edge* edge = nullptr;
    for (tree_edge& candidate : owner->root().children) {
        if (candidate.child) edge = &candidate;
    }
    ASSERT_NE(edge, nullptr);
    const std::int64_t nodes = count_tree(*edge->child).nodes;
    edge->kept = true;
    owner->set_root(std::move(edge->child));
    EXPECT_EQ(count_tree(owner->root()).nodes, nodes);
    EXPECT_EQ(owner->root().parent_edge, nullptr);
    owner.reset();

    // A chain far deeper than any search reaches; a recursive free would
    // exhaust the stack (all the more under the sanitizers).
    constexpr int chain_length = 100000;
    auto root = make_root(play::board_state{}, play::black);
    tree_node* tip = root.get();
    for (int depth = 0; depth < chain_length; ++depth) {
        tree_edge& link = tip->children.emplace_back();
        link.parent = tip;
        link.move = at(depth % 20, (depth / 20) % 20);
        link.child = std::make_unique<tree_node>(play::board_state{}, static_cast<std::int8_t>(-tip->to_move));
        link.created = true;
        link.child->parent_edge = &link;
        tip = link.child.get();
    }
    EXPECT_EQ(count_tree(*root).nodes, chain_length + 1);
    root.reset();
}

}  // namespace
