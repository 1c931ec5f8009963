#include "threat/board.h"
#include "threat/patterns.h"
#include "threat/threat_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/threat_test_support.h"

namespace {

using namespace threat;
using threat_test::board_from;

LinePattern row_pattern(const Board& board, Color color, int x, int y) {
    return cell_threat(board, color, to_index(x, y)).lines[0];
}

TEST(ThreatPatterns, RowShapesFromFiveDownToDead) {
    //                        0123456789
    const Board board = board_from({"..........",
                                    "..XXXX....",   // a stone at 1 or 6 makes five
                                    "...XXX....",   // 2 or 6 makes an open four
                                    "..OXXX....",   // 6 makes a four blocked on one side
                                    "...X.XX...",   // 4 fills a broken open three's gap: open four
                                    "...XX.....",   // 5 makes an open three
                                    "XXXX.X....",   // 4 makes six in a row: five in freestyle
                                    "O.XX.O....",   // 4: only four free cells between the O stones
                                    "XXX......."}); // 3: a four against the wall, only 4 completes
    EXPECT_EQ(row_pattern(board, kBlack, 1, 1), kFive);
    EXPECT_EQ(row_pattern(board, kBlack, 6, 1), kFive);
    EXPECT_EQ(row_pattern(board, kBlack, 6, 2), kOpenFour);
    EXPECT_EQ(row_pattern(board, kBlack, 2, 2), kOpenFour);
    EXPECT_EQ(row_pattern(board, kBlack, 6, 3), kFour);
    EXPECT_EQ(row_pattern(board, kBlack, 4, 4), kOpenFour);
    EXPECT_EQ(row_pattern(board, kBlack, 5, 5), kOpenThree);
    EXPECT_EQ(row_pattern(board, kBlack, 4, 6), kFive);
    EXPECT_EQ(row_pattern(board, kBlack, 4, 7), kDead);  // O.XXX O spans only 4 free cells
    EXPECT_EQ(row_pattern(board, kBlack, 3, 8), kFour);  // XXXX at the wall: only cell 4 completes
    // The same stones seen by the other colour are only obstacles.
    EXPECT_EQ(row_pattern(board, kWhite, 6, 1), kOne);
}

TEST(ThreatPatterns, WallsBlockLikeStonesAndCombinationsAreCounted) {
    // Against the left edge ".XXX" is a closed shape: one side is the wall.
    const Board edge = board_from({"", "XXX....", "", ""});
    EXPECT_EQ(row_pattern(edge, kBlack, 3, 1), kFour);

    // A cell that makes a four on the row and an open three on the column.
    const Board cross = board_from({"....O.....",
                                    "..........",
                                    "....X.....",
                                    "....X.....",
                                    "OXXX......",
                                    "..........",
                                    ".........."});
    const CellThreat threat = cell_threat(cross, kBlack, to_index(4, 4));
    EXPECT_EQ(threat.lines[0], kFour);
    EXPECT_EQ(threat.lines[1], kOpenThree);
    EXPECT_TRUE(threat.makes_four_three());
    EXPECT_FALSE(threat.makes_flex_four());
}

TEST(ThreatBoard, UndoRestoresKeysAndHashExactly) {
    Board board(15, 15);
    const Board fresh(15, 15);
    std::mt19937 rng(7);
    std::vector<int> cells = board.empty_cells();
    std::shuffle(cells.begin(), cells.end(), rng);
    for (int i = 0; i < 60; ++i) board.place(cells[i], i % 2 == 0 ? kBlack : kWhite);
    EXPECT_NE(board.hash(), fresh.hash());
    for (int i = 0; i < 60; ++i) board.undo();
    EXPECT_EQ(board.hash(), fresh.hash());
    for (int index = 0; index < kCells; ++index) {
        for (int d = 0; d < kDirections; ++d) {
            ASSERT_EQ(board.line_key(kBlack, d, index), fresh.line_key(kBlack, d, index));
            ASSERT_EQ(board.line_key(kWhite, d, index), fresh.line_key(kWhite, d, index));
        }
    }
}

TEST(ThreatSolver, FindsFourThreeWinAndNothingInAQuietPosition) {
    // Black plays (4,4): a four on row 4 and an open three on column 4, then wins.
    Board board = board_from({"..........",
                              "..........",
                              "....X.....",
                              "....X.....",
                              "OXXX......",
                              "..........",
                              ".........."});
    ThreatSolver solver;
    std::vector<int> line;
    const int win = solver.find_win(board, kBlack, ThreatKind::kFoursOnly, nullptr, &line);
    ASSERT_GE(win, 0);
    EXPECT_EQ(win, to_index(4, 4));
    EXPECT_GE(line.size(), 3u);
    EXPECT_EQ(board.stone_count(), 6);  // restored

    Board quiet = board_from({"", "", "....X", "....O", "...X"});
    EXPECT_LT(solver.find_win(quiet, kBlack, ThreatKind::kFoursOnly, nullptr), 0);
    EXPECT_LT(solver.find_win(quiet, kBlack, ThreatKind::kFoursAndThrees, nullptr), 0);
}

TEST(ThreatSolver, DoubleOpenThreeIsAThreatWinButNotAFoursWin) {
    const Board base = board_from({"..........",
                                   "..........",
                                   "......X...",
                                   "......X...",
                                   "...XX.....",
                                   "..........",
                                   "O.........",
                                   "........O."});
    Board board = base;
    ThreatSolver solver;
    EXPECT_LT(solver.find_win(board, kBlack, ThreatKind::kFoursOnly, nullptr), 0);
    const int win = solver.find_win(board, kBlack, ThreatKind::kFoursAndThrees, nullptr);
    EXPECT_EQ(win, to_index(6, 4));
    // A defender four must be answered first: with a white four on the board black cannot
    // start its attack, and the solver must not claim one.
    Board answered = base;
    for (int x = 10; x < 14; ++x) answered.place(to_index(x, 10), kWhite);
    EXPECT_LT(solver.find_win(answered, kBlack, ThreatKind::kFoursAndThrees, nullptr), 0);
}

}  // namespace
