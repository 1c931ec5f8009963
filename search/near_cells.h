// Where the game is played: the cells near the stones.
//
// A move far from every stone takes part in none of the lines the stones
// make, and a network that has seen few early positions gives such cells
// weight they do not deserve (first moves on the edge of an empty board).
// The threat-aware mode searches the cells near the stones first: the moves
// farther away join only when every near move is proven lost.
//
// Pure functions; any thread may call them on its own records.
#pragma once

#include <bitset>

#include "play/board_state.h"
#include "search/playing_area.h"

namespace search {

using cell_set = std::bitset<play::board_cells>;

/// The cells inside `area` within `radius` (rows and columns both) of a
/// stone; on an empty board, those within `opening_radius` of the area's
/// centre cell (column width / 2, row height / 2).
cell_set near_cells(const play::board_state& board, const playing_area& area, int radius, int opening_radius);

}  // namespace search
