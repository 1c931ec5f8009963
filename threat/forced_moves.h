// What a position forces on the side to move, and the cells that answer a threat.
//
// Before any search, the patterns alone decide three cases exactly:
//   - our own five is on the board: we win at once;
//   - the opponent has a five to make: we block it (two of them cannot be blocked: lost);
//   - the opponent can make an open four or a double four next (an open three, or two fours
//     to come): every move that neither spoils all those cells nor makes a four of ours loses
//     to that four at once, so only the spoiling moves and our fours stay.
// Against a longer forced win (continuous fours or threats), the answers are the moves after
// which the solver no longer finds the opponent's win; vcf_defences tests the candidates.
//
// Pure functions of the board (which they change while they work and restore). Any thread may
// call them on a board of its own.
#pragma once

#include <vector>

#include "threat/board.h"
#include "threat/budget.h"
#include "threat/threat_search.h"

namespace threat {

enum class Forcing {
    kNone,         // nothing forced: every move stays
    kWinNow,       // cells: our fives
    kBlockFive,    // cells: the one cell that stops the opponent's five
    kDefendThree,  // cells: the moves that stop the opponent's open four or double four, and our fours
    kLost,         // cells: the best tries (blocks of two fives, or nothing when any move loses)
};

struct ForcedMoves {
    Forcing kind = Forcing::kNone;
    std::vector<int> cells;
};

/// The forced case for `me`, to move on `board`. The board is left as it was.
ForcedMoves forced_moves(Board& board, Color me);

/// Every empty cell where `color` makes a four or an open four (not a five).
std::vector<int> four_cells(const Board& board, Color color);

/// The moves of `me` after which `opponent` has no cell making an open four or a double four,
/// plus `me`'s fours. Empty when the opponent has no such cell to begin with.
std::vector<int> three_defences(Board& board, Color me);

/// Of `candidates` (empty cells; repeats and occupied cells are skipped), the moves of `me`
/// after which the solver finds no win for the opponent of `kind` within `nodes_each` nodes
/// (and the deadline). A move whose check ran out of budget counts as a defence, and so does
/// every move left once the deadline has passed, unsearched. `lost`, when not null, receives each
/// refuted move followed by the opponent's winning answer.
std::vector<int> threat_defences(Board& board, Color me, ThreatSolver& solver, ThreatKind kind,
                                 const std::vector<int>& candidates, long long nodes_each,
                                 SearchBudget::Clock::time_point deadline,
                                 std::vector<std::pair<int, int>>* lost = nullptr);

}  // namespace threat
