// The tactics suite's file (tests/data/tactics/positions.txt) against the threat solver: every
// position legal and of its kind, every stored answer right and none missing, the generator's
// quotas met, and a few positions whose answers were also worked out by hand.
#include "threat/patterns.h"
#include "tools/tactics/judge.h"
#include "tools/tactics/position_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

namespace tactics {
// Names in gtest's failure messages.
void PrintTo(Verdict v, std::ostream* os) {
    *os << (v == Verdict::kYes ? "yes" : v == Verdict::kNo ? "no" : "unknown");
}
}  // namespace tactics

namespace {

using namespace tactics;
using threat::Board;
using threat::Color;

// The generator's budget for each solver question (tools/tactics/main.cpp): an answer it
// settled must settle again within it.
constexpr int64_t kNodesPerCheck = 2'000'000;

const std::vector<Position>& suite() {
    static const std::vector<Position> positions = [] {
        std::ifstream in(ORVALIS_TEST_DATA "/tactics/positions.txt");
        std::string error;
        auto read = read_positions(in, &error);
        EXPECT_TRUE(read) << error;
        return read ? *read : std::vector<Position>{};
    }();
    return positions;
}

std::vector<int> answer_cells(const Position& p) {
    std::vector<int> cells;
    for (const Point& a : p.answers) cells.push_back(index_of(a));
    return cells;
}

bool contains(const std::vector<int>& cells, int cell) {
    return std::find(cells.begin(), cells.end(), cell) != cells.end();
}

TEST(TacticsSuite, QuotasOfEveryKindAndLength) {
    std::map<Category, int> count;
    std::map<Category, int> small_boards;
    int five_or_more = 0;
    int seven_or_more = 0;
    for (const Position& p : suite()) {
        ++count[p.category];
        if (p.width == 15) ++small_boards[p.category];
        five_or_more += p.proof_length >= 5;
        seven_or_more += p.proof_length >= 7;
    }
    EXPECT_GE(suite().size(), 60u);
    EXPECT_GE(count[Category::kVcf], 25);
    EXPECT_GE(count[Category::kWinInOne], 10);
    EXPECT_GE(count[Category::kDefendVcf], 15);
    EXPECT_GE(count[Category::kDefendThree], 15);
    EXPECT_GE(five_or_more, 8);
    EXPECT_GE(seven_or_more, 4);
    for (auto [category, n] : count) EXPECT_GE(small_boards[category], 2) << category_name(category);
}

TEST(TacticsSuite, PositionsAreLegalAndOfTheirKind) {
    for (const Position& p : suite()) {
        SCOPED_TRACE(p.id);
        ASSERT_TRUE(p.width == 15 || p.width == 20);
        ASSERT_EQ(p.width, p.height);
        std::vector<bool> used(threat::kCells, false);
        for (const Point& s : p.moves) {
            ASSERT_TRUE(s.x >= 0 && s.y >= 0 && s.x < p.width && s.y < p.height) << s.x << "," << s.y;
            ASSERT_FALSE(used[index_of(s)]) << "two stones on " << s.x << "," << s.y;
            used[index_of(s)] = true;
        }
        Board board = board_of(p);
        EXPECT_FALSE(has_five(board));
        ASSERT_FALSE(p.answers.empty());
        for (const Point& a : p.answers) {
            EXPECT_TRUE(board.on_board(a.x, a.y) && board.empty(index_of(a))) << a.x << "," << a.y;
        }
        // Wins in one face the opponent's four; every other kind has no four on the board.
        const Color me = side_to_move(p);
        const bool my_four = !threat::five_cells(board, me).empty();
        const bool their_four = !threat::five_cells(board, threat::other(me)).empty();
        EXPECT_EQ(my_four, p.category == Category::kWinInOne);
        EXPECT_EQ(their_four, p.category == Category::kWinInOne);
        EXPECT_EQ(p.proof_length > 0, p.category == Category::kVcf);
    }
}

TEST(TacticsSuite, WinInOneAnswersAreExactlyTheFives) {
    for (const Position& p : suite()) {
        if (p.category != Category::kWinInOne) continue;
        SCOPED_TRACE(p.id);
        Board board = board_of(p);
        std::vector<int> fives = threat::five_cells(board, side_to_move(p));
        std::sort(fives.begin(), fives.end());
        EXPECT_EQ(fives, answer_cells(p));
    }
}

TEST(TacticsSuite, VcfAnswersAreExactlyTheFoursThatKeepTheWin) {
    Judge judge(kNodesPerCheck);
    for (const Position& p : suite()) {
        if (p.category != Category::kVcf) continue;
        SCOPED_TRACE(p.id);
        Board board = board_of(p);
        const Color me = side_to_move(p);
        EXPECT_EQ(judge.shortest_vcf(board, me), p.proof_length);
        const std::vector<int> answers = answer_cells(p);
        // Only fours can keep a win by fours, so the other cells need no solver.
        for (int cell : board.empty_cells()) {
            if (!threat::cell_threat(board, me, cell).makes_four()) {
                EXPECT_FALSE(contains(answers, cell));
                continue;
            }
            const Verdict v = judge.keeps_vcf(board, me, cell);
            EXPECT_EQ(v, contains(answers, cell) ? Verdict::kYes : Verdict::kNo)
                << threat::column_of(cell) << "," << threat::row_of(cell);
        }
    }
}

// A defence test is real only if some move next to the stones fails (a far one always does).
bool near_stones(const Board& board, int cell) {
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            const int x = threat::column_of(cell) + dx;
            const int y = threat::row_of(cell) + dy;
            if (board.on_board(x, y) && !board.empty(threat::to_index(x, y))) return true;
        }
    }
    return false;
}

TEST(TacticsSuite, DefenceAnswersAreExactlyTheMovesThatStopTheFours) {
    Judge judge(kNodesPerCheck);
    for (const Position& p : suite()) {
        if (p.category != Category::kDefendVcf && p.category != Category::kDefendThree) continue;
        SCOPED_TRACE(p.id);
        Board board = board_of(p);
        const Color me = side_to_move(p);
        const Color opponent = threat::other(me);
        EXPECT_EQ(judge.has_vcf(board, me), Verdict::kNo);
        EXPECT_EQ(judge.has_vcf(board, opponent), Verdict::kYes);
        EXPECT_EQ(threat::flex_four_cells(board, opponent).empty(), p.category == Category::kDefendVcf);
        const std::vector<int> answers = answer_cells(p);
        for (int cell : answers) EXPECT_EQ(judge.defends(board, me, cell), Verdict::kYes);
        int failing = 0;
        for (int cell : board.empty_cells()) {
            if (contains(answers, cell)) continue;
            EXPECT_EQ(judge.defends(board, me, cell), Verdict::kNo)
                << threat::column_of(cell) << "," << threat::row_of(cell);
            failing += near_stones(board, cell);
        }
        EXPECT_GT(failing, 0) << "no near move fails: not a test";
    }
}

// Positions whose answers were also found by hand (tools/tactics/README.md says how), drawn as
// the part of the board that holds every stone: 'X' black, 'O' white, '*' the answers.
struct HandChecked {
    const char* id;
    int x0;
    int y0;
    std::vector<std::string> rows;
};

const std::vector<HandChecked>& hand_checked() {
    static const std::vector<HandChecked> positions = {
        // White's diagonal 13,10 12,11 11,12 is open at both ends: either end makes an open four;
        // 9,14 would make only a closed four, and no other white line holds three stones.
        {"vcf-01", 9, 6, {".O....",
                          ".X....",
                          ".O....",
                          "XOXX.*",
                          ".OXOO.",
                          "OXXOXX",
                          "..O...",
                          ".*.X.."}},
        // Black's column 11 (rows 8, 9, 11) with row 10 empty: 11,10 makes an open four (rows 7
        // and 12 free); 11,7 or 11,12 make closed fours that a block ends.
        {"vcf-02", 9, 8, {"..XO",
                          "O.X.",
                          "..*.",
                          "XOX.",
                          "....",
                          "..O."}},
        // Our four on the left edge, theirs above it: both ends of ours make five.
        {"win-in-one-01", 0, 0, {"O", "O", "O", "O", ".", ".", ".", ".", "*", "X", "X", "X", "X", "*"}},
        // Black threatens 12,8 (a four on row 8 and an open three on the diagonal 10,6 11,7 12,8),
        // then an open four at 9,5 or 13,9. White stops it on row 8 (11,8, 12,8) or at the
        // diagonal's near ends (9,5, 13,9); the far ends 8,4 and 14,10 leave black an open four,
        // and white has no line of three to counter with.
        {"defend-vcf-05", 6, 4, {".....X..",
                                 "O..*OX..",
                                 ".XOXXOO.",
                                 "..XOOX..",
                                 "..OXX**X",
                                 "..OX...*",
                                 ".....O..",
                                 ".O...X.."}},
        // Black's open three on row 8 with two free cells beyond each end: only the ends next to
        // it stop the open four; white has two stones in a line at most.
        {"defend-three-18", 6, 5, {"....O",
                                   ".....",
                                   ".....",
                                   "*XXX*",
                                   "..O..",
                                   ".X.OO",
                                   "X...."}},
    };
    return positions;
}

TEST(TacticsSuite, HandCheckedPositionsMatchTheFile) {
    for (const HandChecked& hand : hand_checked()) {
        SCOPED_TRACE(hand.id);
        const auto p = std::find_if(suite().begin(), suite().end(), [&](const Position& q) { return q.id == hand.id; });
        ASSERT_NE(p, suite().end());
        const std::vector<std::string> drawing = draw(*p);
        size_t drawn_stones = 0;
        for (size_t dy = 0; dy < hand.rows.size(); ++dy) {
            const std::string file_row = drawing[hand.y0 + dy].substr(hand.x0, hand.rows[dy].size());
            EXPECT_EQ(file_row, hand.rows[dy]) << "row " << hand.y0 + dy;
            drawn_stones += std::count_if(file_row.begin(), file_row.end(), [](char c) { return c == 'X' || c == 'O'; });
        }
        EXPECT_EQ(drawn_stones, p->moves.size()) << "stones outside the drawn part";
    }
}

// The reader refuses a file whose words disagree with its stones, naming the line.
TEST(TacticsFile, RoundTripsAndRefusesInconsistentBlocks) {
    Position p;
    p.id = "sample";
    p.category = Category::kDefendThree;
    p.width = p.height = 15;
    p.moves = {{7, 7}, {7, 8}, {8, 7}, {8, 8}, {9, 7}};
    p.answers = {{6, 7}, {10, 7}};
    std::ostringstream out;
    write_position(out, p);
    std::string error;
    {
        std::istringstream in(out.str());
        const auto read = read_positions(in, &error);
        ASSERT_TRUE(read) << error;
        ASSERT_EQ(read->size(), 1u);
        EXPECT_EQ(read->front().moves, p.moves);
        EXPECT_EQ(read->front().answers, p.answers);
        EXPECT_EQ(read->front().category, p.category);
    }
    auto refused = [&](const std::string& from, const std::string& to) {
        std::string text = out.str();
        text.replace(text.find(from), from.size(), to);
        std::istringstream in(text);
        error.clear();
        return !read_positions(in, &error) && !error.empty();
    };
    EXPECT_TRUE(refused("to-move white", "to-move black"));     // five stones: white moves
    EXPECT_TRUE(refused(" 7 | . . . . . . * X X X *", " 7 | . . . . . . . X X X *"));  // drawing
    EXPECT_TRUE(refused("answers 6,7", "answers 6;7"));
    EXPECT_TRUE(refused("end", "moves 1,1"));  // block never ends
}

}  // namespace
