#include "threat/board.h"
#include "threat/patterns.h"
#include "threat/forced_moves.h"
#include "threat/threat_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/threat_test_support.h"

namespace {

using namespace threat;
using threat_test::board_from;

LinePattern row_pattern(const Board& board, Color color, int x, int y) {
    return cell_line_pattern(board, color, 0, to_index(x, y));
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
    EXPECT_EQ(cell_line_pattern(cross, kBlack, 0, to_index(4, 4)), kFour);
    EXPECT_EQ(cell_line_pattern(cross, kBlack, 1, to_index(4, 4)), kOpenThree);
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

// A recount from the stones alone, by the rules of the game rather than the
// tables: the line through `index` read off the board (walls past the edges),
// then the shape judged by trying every continuation.
LinePattern slow_pattern(const Board& board, Color color, int direction, int index) {
    enum { free_cell, own, blocked };
    int line[9];
    for (int k = -4; k <= 4; ++k) {
        const int cell = index + k * kStep[direction];
        const Cell at = board.at(cell);
        const Cell mine = color == kBlack ? Cell::kBlackStone : Cell::kWhiteStone;
        line[k + 4] = k == 0 ? own : at == Cell::kEmpty ? free_cell : at == mine ? own : blocked;
    }
    auto five_through_centre = [](const int* l) {
        int run = 1;
        for (int i = 3; i >= 0 && l[i] == own; --i) ++run;
        for (int i = 5; i < 9 && l[i] == own; ++i) ++run;
        return run >= 5;
    };
    // Longest continuation: how many more own stones (0..) reach five, and how many cells do.
    struct shape {
        static LinePattern judge(int* l, bool (*five)(const int*)) {
            if (five(l)) return kFive;
            int completions = 0;
            LinePattern best = kDead;
            for (int i = 0; i < 9; ++i) {
                if (l[i] != free_cell) continue;
                l[i] = own;
                if (five(l)) ++completions;
                else best = std::max(best, judge(l, five));
                l[i] = free_cell;
            }
            if (completions >= 2) return kOpenFour;
            if (completions == 1) return kFour;
            if (best == kOpenFour) return kOpenThree;
            if (best == kFour) return kThree;
            if (best == kOpenThree) return kOpenTwo;
            if (best == kThree) return kTwo;
            for (int start = 0; start <= 4; ++start) {
                bool clear = true;
                for (int i = start; i < start + 5; ++i) clear = clear && l[i] != blocked;
                if (clear) return kOne;
            }
            return kDead;
        }
    };
    return shape::judge(line, +five_through_centre);
}

TEST(ThreatPatterns, IncrementalCodesMatchASlowRecountAfterRandomPlayAndUndo) {
    // Square and narrow boards put many cells on edges and in corners; dense
    // play makes overlines and every shape.
    const int sides[][2] = {{20, 20}, {15, 15}, {7, 9}, {5, 5}};
    std::mt19937 rng(2024);
    for (const auto& side : sides) {
        for (int game = 0; game < 3; ++game) {
            Board board(side[0], side[1]);
            std::vector<int> cells = board.empty_cells();
            std::shuffle(cells.begin(), cells.end(), rng);
            const int stones = static_cast<int>(cells.size()) * (game + 1) / 4;
            for (int i = 0; i < stones; ++i) {
                // Runs of one colour now and then, so that long lines form.
                board.place(cells[i], (i / (1 + game)) % 2 == 0 ? kBlack : kWhite);
                if (i % 7 == 6) {
                    board.undo();
                    board.place(cells[i], kBlack);
                }
            }
            for (int undone = 0; undone < stones / 3; ++undone) board.undo();
            for (int index : board.empty_cells()) {
                for (Color color : {kBlack, kWhite}) {
                    uint64_t recounted = 0;
                    for (int d = 0; d < kDirections; ++d) {
                        const LinePattern slow = slow_pattern(board, color, d, index);
                        ASSERT_EQ(line_pattern(board.line_key(color, d, index)), slow)
                            << side[0] << "x" << side[1] << " cell " << column_of(index) << "," << row_of(index)
                            << " direction " << d << " colour " << color;
                        recounted += uint64_t{1} << (4 * slow);
                    }
                    // The per-cell sums the searches read are kept up to date apart from the keys.
                    ASSERT_EQ(board.pattern_counts(color, index), recounted)
                        << side[0] << "x" << side[1] << " cell " << column_of(index) << "," << row_of(index);
                }
            }
            // The threat cells the searches visit are exactly the empty cells whose recount
            // reaches an open three: none missed, no stone or wall among them.
            for (Color color : {kBlack, kWhite}) {
                std::vector<int> expected;
                for (int index : board.empty_cells()) {
                    if (board.pattern_counts(color, index) & at_least(kOpenThree)) expected.push_back(index);
                }
                std::vector<int> visited;
                for_each_threat_cell(board, color, [&](int index) { visited.push_back(index); });
                ASSERT_EQ(visited, expected) << side[0] << "x" << side[1] << " colour " << color;
            }
        }
    }
}

TEST(ThreatSolver, CounterFourOfTheDefenderDecidesAFoursWin) {
    // Black's only four is (6,5). White's block at (7,5) is forced.
    const std::vector<std::string> base = {"",
                                           "",
                                           ".........X",
                                           "........X.",
                                           "",
                                           "..OXXX....",
                                           "",
                                           "",
                                           "",
                                           ""};
    ThreatSolver solver;
    // Without more, black's block-free follow-up (7,4) is an open four.
    Board plain = board_from(base);
    EXPECT_EQ(solver.find_win(plain, kBlack, ThreatKind::kFoursOnly, nullptr), to_index(6, 5));

    // White's block makes a four down column 7 whose five cell is (7,4): black must block
    // there, and that block is black's open four, so the win stands.
    std::vector<std::string> helped = base;
    helped[6] = ".......O";
    helped[7] = ".......O";
    helped[8] = ".......O";
    helped[9] = ".......X";
    Board board = board_from(helped);
    std::vector<int> line;
    ASSERT_EQ(solver.find_win(board, kBlack, ThreatKind::kFoursOnly, nullptr, &line), to_index(6, 5));
    ASSERT_GE(line.size(), 3u);
    EXPECT_EQ(line[1], to_index(7, 5));
    EXPECT_EQ(line[2], to_index(7, 4));

    // White's block makes a diagonal four whose five cell (6,4) is no four for black:
    // after black's forced block white moves freely, so there is no win by fours.
    std::vector<std::string> spoiled = base;
    spoiled[6] = "........O";
    spoiled[7] = ".........O";
    spoiled[8] = "..........O";
    spoiled[9] = "...........X";
    Board spoiled_board = board_from(spoiled);
    EXPECT_LT(solver.find_win(spoiled_board, kBlack, ThreatKind::kFoursOnly, nullptr), 0);

    // A white four already on the board must be blocked first; the block is no four,
    // so black's attack never starts.
    Board facing_five = board_from(base);
    facing_five.place(to_index(13, 14), kBlack);
    for (int x = 14; x < 18; ++x) facing_five.place(to_index(x, 14), kWhite);
    EXPECT_LT(solver.find_win(facing_five, kBlack, ThreatKind::kFoursOnly, nullptr), 0);
    EXPECT_EQ(five_cells(facing_five, kWhite), std::vector<int>{to_index(18, 14)});
}

std::vector<int> sorted_cells(std::vector<std::pair<int, int>> points) {
    std::vector<int> cells;
    for (const auto& [x, y] : points) cells.push_back(to_index(x, y));
    std::sort(cells.begin(), cells.end());
    return cells;
}

TEST(ThreatForcedMoves, FivesBlocksAndTheAnswersToAnOpenThree) {
    // Our five comes before anything the opponent has.
    Board win = board_from({"", "", "..XXXX", "", "OOOO"});
    ForcedMoves forced = forced_moves(win, kBlack);
    EXPECT_EQ(forced.kind, Forcing::kWinNow);
    EXPECT_EQ(forced.cells, sorted_cells({{1, 2}, {6, 2}}));

    Board block = board_from({"", "", "..XX", "", "XOOOO"});
    forced = forced_moves(block, kBlack);
    EXPECT_EQ(forced.kind, Forcing::kBlockFive);
    EXPECT_EQ(forced.cells, sorted_cells({{5, 4}}));

    Board two_fives = board_from({"", "", "..XX", "", ".OOOO"});
    EXPECT_EQ(forced_moves(two_fives, kBlack).kind, Forcing::kLost);

    // A straight open three: only the two cells beside it stop the open four
    // (a stone one further out leaves the other side open).
    Board three = board_from({"", "", "", "", "", ".....OOO...."});
    forced = forced_moves(three, kBlack);
    EXPECT_EQ(forced.kind, Forcing::kDefendThree);
    EXPECT_EQ(forced.cells, sorted_cells({{4, 5}, {8, 5}}));

    // A broken three: its gap and both far ends stop it. Our own fours stay too,
    // and no other cell does.
    Board broken = board_from({"", "", "", "", "", ".....OO.O....", "", "", "", "", ".OXXX"});
    forced = forced_moves(broken, kBlack);
    EXPECT_EQ(forced.kind, Forcing::kDefendThree);
    EXPECT_EQ(forced.cells, sorted_cells({{4, 5}, {7, 5}, {9, 5}, {5, 10}, {6, 10}}));
    for (int cell : forced.cells) EXPECT_TRUE(broken.empty(cell));
    EXPECT_EQ(broken.stone_count(), 7);  // restored

    // Two open threes far apart: no one stone stops both, and we have no four.
    Board double_three = board_from({"", "", "", "", "", ".....OOO....", "", "", "", "", "", "", "..........O",
                                     "..........O", "..........O"});
    forced = forced_moves(double_three, kBlack);
    EXPECT_EQ(forced.kind, Forcing::kLost);
    EXPECT_TRUE(forced.cells.empty());

    // Nothing forced in a quiet position.
    Board quiet = board_from({"", "", "....X", "....O", "...X"});
    EXPECT_EQ(forced_moves(quiet, kWhite).kind, Forcing::kNone);
}

TEST(ThreatForcedMoves, DefencesAgainstAWinByFoursAreTheMovesTheSolverCannotBreak) {
    // White threatens (4,4): a four on row 4 and an open three on column 4.
    Board board = board_from({"..........",
                              "..........",
                              "....O.....",
                              "....O.....",
                              "XOOO......",
                              "..........",
                              ".........."});
    ThreatSolver solver;
    std::vector<int> candidates = board.empty_cells();
    std::vector<std::pair<int, int>> lost;
    const std::vector<int> answers =
        threat_defences(board, kBlack, solver, ThreatKind::kFoursOnly, candidates, 100000,
                        SearchBudget::Clock::time_point::max(), &lost);
    // Taking the key cell, or blocking the row or the column's open ends, stops it.
    EXPECT_NE(std::find(answers.begin(), answers.end(), to_index(4, 4)), answers.end());
    EXPECT_NE(std::find(answers.begin(), answers.end(), to_index(4, 1)), answers.end());
    EXPECT_EQ(std::find(answers.begin(), answers.end(), to_index(15, 15)), answers.end());
    EXPECT_EQ(answers.size() + lost.size(), candidates.size());
    for (const auto& [move, reply] : lost) {
        board.place(move, kBlack);
        EXPECT_GE(solver.find_win(board, kWhite, ThreatKind::kFoursOnly, nullptr), 0);
        board.undo();
        EXPECT_TRUE(board.empty(reply) || reply == move);
    }
}

}  // namespace
