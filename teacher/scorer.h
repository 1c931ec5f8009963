// Static move scorer: how much a quiet move builds for the mover and spoils for the opponent,
// from the threat patterns of the cell for both colours. Pure functions; any thread.
#pragma once

#include "teacher/threat_names.h"

#include <vector>

namespace teacher {

struct ScoredMove {
    int index = -1;
    int score = 0;
};

/// Value of the shapes `threat` makes for the side that plays there (0 for nothing useful).
int shape_value(const CellThreat& threat);

/// Attack plus defence value of `color` playing the empty cell `index`.
int move_score(const Board& board, Color color, int index);

/// Empty cells within `radius` (king steps) of any stone; the centre cell on an empty board.
std::vector<int> nearby_cells(const Board& board, int radius = 2);

/// nearby_cells scored for `color` and sorted best first (ties: lower index first).
std::vector<ScoredMove> ranked_moves(const Board& board, Color color);

}  // namespace teacher
