// A network game as self-play plays it: every move it records is a legal one.
#include "tools/selfplay/network_game.h"

#include <gtest/gtest.h>

#include "play/board_state.h"
#include "search_test_support.h"

namespace {

// Black to move on 10 x 10 against white's open four on row 5: both blocks are
// proven lost before any playout reaches them, while the moves are still drawn
// at temperature 1. The draw had no visits to follow and fell to the corner,
// where black already has a stone.
TEST(NetworkGame, ALostPositionDrawnAtTemperatureStillPlaysALegalMove) {
    search_testing::scripted_evaluator evaluator;
    search::evaluation_cache cache;
    const selfplay::network_player player{evaluator, cache};
    selfplay::game_options options;
    options.mode = search::search_mode::threat_aware;
    options.width = options.height = 10;
    options.playouts = 50;
    options.sampled_moves = 100;
    options.root_noise = false;
    options.search_seed = 7;
    const std::vector<std::pair<int, int>> opening{{0, 0}, {5, 2}, {9, 9}, {5, 3}, {9, 7}, {5, 4}, {0, 9}, {5, 5}};

    const selfplay::game_outcome outcome = selfplay::play_network_game(player, player, opening, options, true);
    ASSERT_FALSE(outcome.records.empty());
    const selfplay::visit_record& first = outcome.records.front();
    const int row = first.move / play::board_size, column = first.move % play::board_size;
    EXPECT_EQ(first.board.cells[first.move], play::empty) << row << "," << column;
    EXPECT_TRUE(row == 5 && (column == 1 || column == 6)) << row << "," << column;
    EXPECT_EQ(outcome.winner, play::white);
    EXPECT_EQ(outcome.plies, 2);
    for (const selfplay::visit_record& record : outcome.records) {
        EXPECT_LT(record.move, play::board_cells);
        EXPECT_EQ(record.board.cells[record.move], play::empty);
    }
}

}  // namespace
