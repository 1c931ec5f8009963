// The threat solver's two search orders: the best-first one must settle what the depth-first one
// settles, the same way, and the cut set of defender answers it searches must lose nothing.
#include "threat/patterns.h"
#include "threat/threat_moves.h"
#include "threat/threat_search.h"
#include "tools/tactics/judge.h"
#include "tools/tactics/position_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace threat;

std::vector<tactics::Position> read_file(const std::string& path) {
    std::ifstream in(path);
    std::string error;
    auto read = tactics::read_positions(in, &error);
    EXPECT_TRUE(read) << path << ": " << error;
    return read ? *read : std::vector<tactics::Position>{};
}

// The tactics suite and the positions of real games: every kind of attack, quiet positions too.
std::vector<Board> test_boards() {
    std::vector<Board> boards;
    for (const char* path : {ORVALIS_TEST_DATA "/tactics/positions.txt",
                             ORVALIS_SOURCE_DIR "/tools/bench/data/game_positions.txt"}) {
        for (const tactics::Position& position : read_file(path)) boards.push_back(tactics::board_of(position));
    }
    return boards;
}

bool has_flex_four_cell(const Board& board, Color color) {
    bool found = false;
    for_each_empty_near_stones(board, [&](int index) {
        found = found || cell_threat(board, color, index).makes_flex_four();
    });
    return found;
}

TEST(ThreatSearchOrders, BestFirstAgreesWithDepthFirstWheneverBothFinish) {
    ThreatSolver depth_first;
    ThreatSolver best_first;
    best_first.set_order(SearchOrder::kProofNumber);
    int compared = 0;
    int wins = 0;
    for (Board& board : test_boards()) {
        const uint64_t hash = board.hash();
        const int stones = board.stone_count();
        for (Color attacker : {kBlack, kWhite}) {
            SearchBudget first_budget(10000, SearchBudget::Clock::time_point::max());
            SearchBudget second_budget(10000, SearchBudget::Clock::time_point::max());
            const int expected = depth_first.find_win(board, attacker, ThreatKind::kFoursAndThrees, &first_budget);
            std::vector<int> line;
            const int found =
                best_first.find_win(board, attacker, ThreatKind::kFoursAndThrees, &second_budget, &line);
            ASSERT_EQ(board.hash(), hash);
            ASSERT_EQ(board.stone_count(), stones);
            if (found >= 0) {
                // The line starts with the winning move and alternates over empty cells.
                ASSERT_FALSE(line.empty());
                EXPECT_EQ(line.front(), found);
                for (size_t i = 0; i < line.size(); ++i) {
                    ASSERT_TRUE(board.empty(line[i]));
                    board.place(line[i], i % 2 == 0 ? attacker : other(attacker));
                }
                for (size_t i = 0; i < line.size(); ++i) board.undo();
            }
            if (depth_first.aborted() || best_first.aborted()) continue;
            ++compared;
            wins += found >= 0;
            EXPECT_EQ(found >= 0, expected >= 0) << "attacker " << attacker << " after " << stones << " stones";
        }
    }
    // Most of the questions settle within the budget, and enough of them are wins.
    EXPECT_GT(compared, 150);
    EXPECT_GT(wins, 80);
}

TEST(ThreatSearchOrders, CutAnswersAreExactlyTheStonesThatSpoilTheOpenFour) {
    std::mt19937 rng(7);
    int checked_threes = 0;
    for (Board& board : test_boards()) {
        for (Color attacker : {kBlack, kWhite}) {
            // Open threes of the attacker's, played one at a time, make the open fours to come.
            std::vector<int> threes;
            for_each_empty_near_stones(board, [&](int index) {
                const CellThreat threat = cell_threat(board, attacker, index);
                if (threat.open_threes > 0 && !threat.makes_four()) threes.push_back(index);
            });
            std::shuffle(threes.begin(), threes.end(), rng);
            if (threes.size() > 3) threes.resize(3);
            for (int three : threes) {
                board.place(three, attacker);
                std::vector<int> all;
                std::vector<int> cut;
                const Threatened loose = defender_replies(board, attacker, true, false, all);
                const Threatened tight = defender_replies(board, attacker, true, true, cut);
                // Against a four the one block is forced whatever else stands; the cut is only
                // made against an open four to come.
                if (loose == Threatened::kAnswerable && five_cells(board, attacker).empty()) {
                    ++checked_threes;
                    for (int reply : all) {
                        const bool kept = std::find(cut.begin(), cut.end(), reply) != cut.end();
                        const bool counter_four = cell_threat(board, other(attacker), reply).makes_four();
                        // The cut keeps a stone exactly when, placed, it leaves no open four or
                        // double four to the attacker (a four of the defender's own is always kept).
                        board.place(reply, other(attacker));
                        const bool spoils = !has_flex_four_cell(board, attacker);
                        board.undo();
                        EXPECT_EQ(kept, spoils || counter_four)
                            << "reply " << column_of(reply) << "," << row_of(reply);
                    }
                    EXPECT_EQ(tight == Threatened::kLost, cut.empty());
                }
                board.undo();
            }
        }
    }
    EXPECT_GT(checked_threes, 100);
}

TEST(ThreatPatterns, ABlockerSeenWithoutPlacingItMatchesPlacingIt) {
    std::mt19937 rng(11);
    for (Board& board : test_boards()) {
        std::vector<int> empty;
        for_each_empty_near_stones(board, [&](int index) { empty.push_back(index); });
        for (int trial = 0; trial < 20 && empty.size() > 1; ++trial) {
            const int cell = empty[rng() % empty.size()];
            const int blocker = empty[rng() % empty.size()];
            if (cell == blocker) continue;
            for (Color color : {kBlack, kWhite}) {
                const uint64_t predicted = cell_threat_blocked(board, color, cell, blocker).counts;
                board.place(blocker, other(color));
                const uint64_t actual = board.pattern_counts(color, cell);
                board.undo();
                ASSERT_EQ(predicted, actual) << column_of(cell) << "," << row_of(cell) << " blocked at "
                                             << column_of(blocker) << "," << row_of(blocker);
            }
        }
    }
}

TEST(ThreatSearchOrders, BestFirstStopsCleanlyOnItsBudgetAndDeadline) {
    // A real game's position where black's win by threats needs thousands of nodes.
    Board board;
    const int moves[][2] = {{10, 11}, {12, 11}, {9, 9}, {12, 9}, {12, 12}, {10, 10}, {9, 10}, {11, 12}};
    for (int i = 0; i < 8; ++i) board.place(to_index(moves[i][0], moves[i][1]), i % 2 ? kWhite : kBlack);
    ThreatSolver solver;
    solver.set_order(SearchOrder::kProofNumber);
    const uint64_t hash = board.hash();

    SearchBudget tiny(50, SearchBudget::Clock::time_point::max());
    EXPECT_LT(solver.find_win(board, kBlack, ThreatKind::kFoursAndThrees, &tiny), 0);
    EXPECT_TRUE(solver.aborted());
    EXPECT_EQ(board.hash(), hash);

    SearchBudget late(1'000'000, SearchBudget::Clock::now() - std::chrono::seconds(1));
    EXPECT_LT(solver.find_win(board, kBlack, ThreatKind::kFoursAndThrees, &late), 0);
    EXPECT_TRUE(solver.aborted());
    EXPECT_LE(late.nodes(), 300);  // the clock is read every 256 nodes
    EXPECT_EQ(board.hash(), hash);

    // White's reply 11,12 lost that game to black's win by threats, which the engine's defence
    // check had missed: the best-first order settles it in fewer nodes than the depth-first one.
    SearchBudget best_first(100000, SearchBudget::Clock::time_point::max());
    EXPECT_GE(solver.find_win(board, kBlack, ThreatKind::kFoursAndThrees, &best_first), 0);
    EXPECT_FALSE(solver.aborted());
    ThreatSolver depth_first;
    SearchBudget depth_first_budget(100000, SearchBudget::Clock::time_point::max());
    EXPECT_GE(depth_first.find_win(board, kBlack, ThreatKind::kFoursAndThrees, &depth_first_budget), 0);
    EXPECT_LT(best_first.nodes(), depth_first_budget.nodes());
    EXPECT_EQ(board.hash(), hash);
}

}  // namespace
