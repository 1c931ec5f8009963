#include "teacher/scorer.h"

#include <algorithm>

namespace teacher {
namespace {

// Per-line values, hand-set in the usual gomoku order: each level is worth a few of the level
// below, an open shape about four times its closed one. Checked only by matches, not tuned.
constexpr std::array<int, kLinePatternCount> kLineValue = {
    /*kDead*/ 0, /*kOne*/ 1, /*kTwo*/ 5, /*kOpenTwo*/ 20, /*kThree*/ 25,
    /*kOpenThree*/ 120, /*kFour*/ 140, /*kOpenFour*/ 5000, /*kFive*/ 100000};

// Combinations that win by force in two or three moves unless the opponent has fours of its own.
constexpr int kFlexFourBonus = 5000;
constexpr int kFourThreeBonus = 2500;
constexpr int kDoubleThreeBonus = 1200;
// A four plus a closed three, or two open twos and more: strong but stoppable.
constexpr int kFourWithTwosBonus = 100;
constexpr int kDoubleOpenTwoBonus = 40;

// Blocking is worth a little less than building the same shape: the mover keeps the initiative.
constexpr int kDefenceNumerator = 5;
constexpr int kDefenceDenominator = 5;

}  // namespace

int shape_value(const CellThreat& threat) {
    int value = 0;
    for (int p = kDead; p < kLinePatternCount; ++p) value += threat.count(static_cast<LinePattern>(p)) * kLineValue[p];
    if (threat.makes_five()) return value;
    if (threat.makes_flex_four()) {
        value += kFlexFourBonus;
    } else if (threat.makes_four_three()) {
        value += kFourThreeBonus;
    } else if (threat.makes_double_three()) {
        value += kDoubleThreeBonus;
    } else if (threat.makes_four() && threat.threes + threat.open_twos > 0) {
        value += kFourWithTwosBonus;
    } else if (threat.open_threes + threat.open_twos >= 2) {
        value += kDoubleOpenTwoBonus;
    }
    return value;
}

int move_score(const Board& board, Color color, int index) {
    const int attack = shape_value(cell_threat(board, color, index));
    const int defence = shape_value(cell_threat(board, other(color), index));
    return attack + defence * kDefenceNumerator / kDefenceDenominator;
}

std::vector<int> nearby_cells(const Board& board, int radius) {
    std::vector<int> cells;
    if (board.stone_count() == 0) {
        cells.push_back(to_index(board.width() / 2, board.height() / 2));
        return cells;
    }
    std::array<bool, kCells> marked{};
    for (int stone : board.history()) {
        const int x0 = column_of(stone);
        const int y0 = row_of(stone);
        for (int dy = -radius; dy <= radius; ++dy) {
            for (int dx = -radius; dx <= radius; ++dx) {
                const int x = x0 + dx;
                const int y = y0 + dy;
                if (!board.on_board(x, y)) continue;
                const int index = to_index(x, y);
                if (board.empty(index) && !marked[index]) {
                    marked[index] = true;
                    cells.push_back(index);
                }
            }
        }
    }
    std::sort(cells.begin(), cells.end());
    return cells;
}

std::vector<ScoredMove> ranked_moves(const Board& board, Color color) {
    std::vector<ScoredMove> moves;
    for (int index : nearby_cells(board)) moves.push_back({index, move_score(board, color, index)});
    std::stable_sort(moves.begin(), moves.end(),
                     [](const ScoredMove& a, const ScoredMove& b) { return a.score > b.score; });
    return moves;
}

}  // namespace teacher
