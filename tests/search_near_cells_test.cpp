// The cells the threat-aware mode searches first, and where it opens.
#include <gtest/gtest.h>

#include "search/near_cells.h"
#include "search/search_tree.h"
#include "search_test_support.h"

namespace {

std::vector<std::pair<int, int>> cells_of(const search::cell_set& set) {
    std::vector<std::pair<int, int>> xy;
    for (int cell = 0; cell < play::board_cells; ++cell) {
        if (set.test(static_cast<std::size_t>(cell))) xy.emplace_back(cell % play::board_size, cell / play::board_size);
    }
    return xy;
}

TEST(NearCells, OpeningsAtTheCentreAndNeighbourhoodsClippedToTheArea) {
    play::board_state empty;
    // An empty board: the centre cell and its neighbours, on any size.
    for (int side : {20, 15, 10, 7}) {
        const auto cells = cells_of(search::near_cells(empty, search::playing_area{side, side}, 2, 1));
        ASSERT_EQ(cells.size(), 9u) << side;
        for (auto [x, y] : cells) {
            EXPECT_LE(std::abs(x - side / 2), 1) << side;
            EXPECT_LE(std::abs(y - side / 2), 1) << side;
        }
    }
    // A stone in a 15 x 15 corner: its 5 x 5 square, cut to the board, the
    // stone's own cell included (the caller skips occupied cells).
    play::board_state corner;
    play::put_stone(corner, play::black, play::make_packed_move(14, 13));  // x 13, y 14
    const auto cells = cells_of(search::near_cells(corner, search::playing_area{15, 15}, 2, 1));
    EXPECT_EQ(cells.size(), 4u * 3u);
    for (auto [x, y] : cells) {
        EXPECT_TRUE(x >= 11 && x <= 14 && y >= 12 && y <= 14) << x << "," << y;
    }
}

TEST(NearCells, TheSearchPlaysNearTheStonesUntilEveryNearMoveLoses) {
    search_testing::clear_process_cache();
    search_testing::scripted_evaluator evaluator;
    // The network's favourite is far from the only stone.
    evaluator.weights.fill(0.001f);
    evaluator.weights[play::cell_index(19, 0)] = 100.0f;
    play::board_state board;
    play::put_stone(board, play::white, play::make_packed_move(10, 10));
    search::search_tree tree(search::make_root(board, play::black), &evaluator, 20, 20,
                             search::search_mode::threat_aware);
    tree.run_playouts(50);
    const search::tree_node& root = tree.root();
    EXPECT_EQ(root.children.size(), 24u);
    EXPECT_FALSE(root.complete);
    for (const search::tree_edge& edge : root.children) {
        EXPECT_LE(std::abs(play::packed_row(edge.move) - 10), 2);
        EXPECT_LE(std::abs(play::packed_column(edge.move) - 10), 2);
    }
    float total = 0.0f;
    for (const search::tree_edge& edge : root.children) total += edge.prior;
    EXPECT_NEAR(total, 1.0f, 1e-4f);

    // Every near move proven lost: the far cells join.
    search::tree_node& mutable_root = tree.root();
    for (search::tree_edge& edge : mutable_root.children) {
        if (!edge.created) edge.create_child();
        search::prove(*edge.child, 1);
    }
    EXPECT_EQ(mutable_root.proven, 0);  // not complete: not lost yet
    tree.run_playouts(50);
    EXPECT_TRUE(mutable_root.complete);
    EXPECT_EQ(mutable_root.children.size(), 399u);
}

}  // namespace
