// The player: placing stones, searching, game lifecycle, text outputs.
#include "play/player_son.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "play/board_printer.h"
#include "search_test_support.h"

namespace {

using play::player_son;
using search_testing::scripted_evaluator;

struct made_player {
    std::unique_ptr<player_son> player;
    scripted_evaluator* evaluator;  // owned by the player
};

made_player make_player(std::int32_t width = 20, std::int32_t height = 20) {
    scripted_evaluator* seen = nullptr;
    auto player = std::make_unique<player_son>(
        play::player_settings{"unused.qvm", width, height}, [&](const std::string&, const std::string&) {
            auto evaluator = std::make_unique<scripted_evaluator>();
            seen = evaluator.get();
            return evaluator;
        });
    return {std::move(player), seen};
}

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Player, StonesAreColouredByOrderAndIllegalOnesChangeNothing) {
    auto [player, evaluator] = make_player();
    EXPECT_EQ(player->make_move(7, 7), 2);
    EXPECT_EQ(player->side_to_move(), -1);
    EXPECT_EQ(player->get_board()->cells[7 * 20 + 7], play::black);
    EXPECT_EQ(player->make_move(7, 8), 2);
    EXPECT_EQ(player->get_board()->cells[8 * 20 + 7], play::white);

    const play::board_state before = *player->get_board();
    const std::int32_t root_stones = player->tree()->root().board.stones;
    for (auto [x, y] : {std::pair{20, 0}, {0, -1}, {-5, 3}, {7, 7}}) EXPECT_EQ(player->make_move(x, y), 2);
    EXPECT_EQ(std::memcmp(&before, player->get_board(), sizeof before), 0);
    EXPECT_EQ(player->side_to_move(), 1);
    EXPECT_EQ(player->tree()->root().board.stones, root_stones);
    EXPECT_FALSE(player->is_free(7, 7));
    EXPECT_FALSE(player->is_free(20, 1));
    EXPECT_TRUE(player->is_free(0, 0));
    EXPECT_EQ(evaluator->calls, 0);
}

TEST(Player, FivesAndFullBoardsReportTheGameState) {
    auto [player, evaluator] = make_player();
    // Black on row 0, white on row 1; black's fifth stone wins.
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(player->make_move(i, 0), 2);
        EXPECT_EQ(player->make_move(i, 1), 2);
    }
    EXPECT_EQ(player->make_move(4, 0), 1);
    EXPECT_TRUE(player->is_over());
    // The player does not freeze a finished game: white's next stone makes no
    // five and clears the result.
    EXPECT_EQ(player->make_move(10, 10), 2);
    EXPECT_FALSE(player->is_over());
    EXPECT_EQ(player->make_move(11, 11), 2);
    EXPECT_EQ(player->make_move(4, 1), -1);

    // A full board without a five: colour (column / 2 + row) % 2 has no line
    // longer than two; play its black and white cells alternately.
    player->new_game(100);
    std::vector<std::pair<int, int>> blacks, whites;
    for (int row = 0; row < 20; ++row)
        for (int column = 0; column < 20; ++column)
            ((column / 2 + row) % 2 ? whites : blacks).emplace_back(column, row);
    for (std::size_t i = 0; i < blacks.size(); ++i) {
        EXPECT_EQ(player->make_move(blacks[i].first, blacks[i].second), 2);
        const std::int32_t state = player->make_move(whites[i].first, whites[i].second);
        EXPECT_EQ(state, i + 1 == blacks.size() ? 0 : 2);
    }
    EXPECT_EQ(player->get_board()->stones, 400);
}

TEST(Player, ReplayStopsAtAFiveWithoutSearching) {
    auto [player, evaluator] = make_player();
    std::vector<play::move_xy> moves;
    for (int i = 0; i < 5; ++i) {
        moves.push_back({static_cast<std::int8_t>(i), 0});
        moves.push_back({static_cast<std::int8_t>(i), 1});
    }
    play::move_xy reply{-7, -7};
    float win_rate = 42.0f;
    EXPECT_EQ(player->replay_and_move(moves, reply, win_rate), 1);
    EXPECT_EQ(player->get_board()->stones, 9);  // white's fifth was not played
    EXPECT_EQ(reply.x, -7);
    EXPECT_EQ(win_rate, 42.0f);
    EXPECT_EQ(evaluator->calls, 0);
}

TEST(Player, ReplayThenRepliesWithASearchedMove) {
    auto [player, evaluator] = make_player();
    player->set_playouts(50);
    evaluator->weights.fill(0.0f);
    evaluator->weights[4 * 20 + 5] = 1.0f;  // row 4, column 5: near the stone
    play::move_xy reply{-1, -1};
    float win_rate = 0.0f;
    EXPECT_EQ(player->replay_and_move({{3, 3}}, reply, win_rate), 2);
    EXPECT_EQ(reply.x, 5);
    EXPECT_EQ(reply.y, 4);
    EXPECT_EQ(player->get_board()->stones, 2);
    EXPECT_EQ(player->side_to_move(), 1);
}

TEST(Player, SearchStepsGrowOneTreeAndChangeNoBoard) {
    search_testing::clear_process_cache();
    auto [player, evaluator] = make_player();
    player->make_move(9, 9);
    const play::board_state before = *player->get_board();
    std::int32_t x = -1, y = -1, visits = -1;
    float win_rate = 0, share = -1;
    player->search_step(20, x, y, win_rate, share, visits);
    const std::int32_t after_first = player->tree()->root().visits;
    player->search_step(20, x, y, win_rate, share, visits);
    EXPECT_GE(player->tree()->root().visits, after_first + 20);
    EXPECT_EQ(std::memcmp(&before, player->get_board(), sizeof before), 0);
    EXPECT_EQ(player->side_to_move(), -1);
    EXPECT_TRUE(player->is_free(x, y));
    EXPECT_GT(visits, 0);
    EXPECT_GT(share, 0.0f);
    EXPECT_LE(share, 1.0f);

    // A count below 1 runs the configured playouts.
    player->set_playouts(200);
    const int calls = evaluator->calls;
    player->search_step(0, x, y, win_rate, share, visits);
    EXPECT_GE(evaluator->calls - calls, 200);
}

TEST(Player, SearchStaysInsideASmallBoard) {
    auto [player, evaluator] = make_player(15, 15);
    evaluator->weights.fill(0.001f);
    evaluator->weights[19 * 20 + 19] = 1.0f;  // the network wants a cell the manager has not got
    std::int32_t x = -1, y = -1, visits = 0;
    float win_rate = 0, share = 0;
    for (int step = 0; step < 10; ++step) {
        player->search_step(20, x, y, win_rate, share, visits);
        EXPECT_LT(x, 15);
        EXPECT_LT(y, 15);
    }
    player->set_playouts(40);
    EXPECT_EQ(player->play_best_move(x, y, win_rate), 2);
    EXPECT_LT(x, 15);
    EXPECT_LT(y, 15);
}

TEST(Player, TheEvaluatorIsToldTheAnnouncedBoard) {
    made_player small = make_player(15, 12);
    EXPECT_EQ(small.evaluator->width, 15);
    EXPECT_EQ(small.evaluator->height, 12);
    made_player large = make_player();
    EXPECT_EQ(large.evaluator->width, 20);
}

TEST(Player, ThinkPlanSwitchesTheSearchModeOnTheGamesPosition) {
    made_player made = make_player();
    player_son& player = *made.player;
    ASSERT_EQ(player.tree()->mode(), search::search_mode::threat_aware);
    player.make_move(3, 3);
    player.make_move(4, 4);
    player.plan_think(500, false);
    ASSERT_EQ(player.tree()->mode(), search::search_mode::plain);
    // The fresh tree stands on the game's position with its side to move.
    EXPECT_EQ(std::memcmp(player.tree()->root().board.cells, player.get_board()->cells, play::board_cells), 0);
    EXPECT_EQ(player.tree()->root().to_move, player.side_to_move());
    std::int32_t x = -1, y = -1, visits = 0;
    float win_rate = 0.0f, share = 0.0f;
    player.search_step(20, x, y, win_rate, share, visits);
    EXPECT_TRUE(player.is_free(x, y));
    // The same mode again keeps the tree and what it has searched.
    const std::int32_t searched = player.tree()->root().visits;
    player.plan_think(500, false);
    EXPECT_EQ(player.tree()->root().visits, searched);
    player.plan_think(500, true);
    EXPECT_EQ(player.tree()->mode(), search::search_mode::threat_aware);
    EXPECT_EQ(player.make_move(x, y), 2);
}

TEST(Player, NewGameStartsAfreshButKeepsTheCacheCounter) {
    search_testing::clear_process_cache();
    auto [player, evaluator] = make_player();
    player->set_playouts(30);
    std::int32_t x, y;
    float win_rate;
    player->play_best_move(x, y, win_rate);
    const std::int32_t hits = player->cache_hits();
    EXPECT_EQ(player->new_game(10), 0);
    EXPECT_EQ(player->get_board()->stones, 0);
    EXPECT_EQ(player->side_to_move(), 1);
    EXPECT_EQ(player->tree()->root().visits, 0);
    // The empty board was evaluated in the first game: the cache serves it.
    std::int32_t visits;
    float share;
    player->search_step(1, x, y, win_rate, share, visits);
    EXPECT_GT(player->cache_hits(), hits);

    EXPECT_EQ(player->release_game(), 0);
    EXPECT_EQ(player->get_board(), nullptr);
    EXPECT_EQ(player->tree(), nullptr);
}

TEST(Player, EveryDestructionWritesOneFatherDeleteLine) {
    testing::internal::CaptureStdout();
    make_player();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "father delete...\n");

    // A player whose evaluator cannot be made releases what it built, still
    // writes the line once, and passes the error on.
    testing::internal::CaptureStdout();
    EXPECT_THROW(player_son(play::player_settings{},
                            [](const std::string&, const std::string&) -> std::unique_ptr<eval::Evaluator> {
                                throw std::runtime_error("no model");
                            }),
                 std::runtime_error);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "father delete...\n");
}

TEST(PlayerText, BoardPictureMatchesTheExpectedFile) {
    play::board_state board;
    EXPECT_EQ(play::board_picture(board), read_file(ORVALIS_TEST_DATA "/pictures/empty.txt"));
    play::put_stone(board, play::black, play::make_packed_move(0, 0));
    play::put_stone(board, play::white, play::make_packed_move(0, 1));
    play::put_stone(board, play::black, play::make_packed_move(19, 19));
    EXPECT_EQ(play::board_picture(board), read_file(ORVALIS_TEST_DATA "/pictures/corner_last.txt"));
}

TEST(PlayerText, ResultAndTimerLines) {
    play::board_state board;
    EXPECT_EQ(play::result_line(board), "Game is not over yet.");
    board.over = 1;
    board.winner = play::black;
    EXPECT_EQ(play::result_line(board), "Game over! Result: BLACK \"#\" WINS");
    board.winner = play::white;
    EXPECT_EQ(play::result_line(board), "Game over! Result: WHITE \"O\" WINS");
    board.winner = 0;
    EXPECT_EQ(play::result_line(board), "Game over! Result: DRAW");

    EXPECT_EQ(play::timer_line({}), "");
    EXPECT_EQ(play::timer_line({{3, 2.0}}), "CP3=2");
    EXPECT_EQ(play::timer_line({{1, 0.5}, {0, 1.25}, {3, 1.5e-05}}), "CP0=1.25, CP1=0.5, CP3=1.5e-05");
}

}  // namespace
