// Wins in one built by hand: both sides have a four, and ours ends at the edge or in a corner of
// the board, where a search that judges cells by their surroundings is most easily fooled.
#pragma once

#include "tools/tactics/position_file.h"

#include <vector>

namespace tactics {

/// The hand-made win-in-one positions, answers filled in by hand (the suite's test checks them
/// against the solver like every other position).
std::vector<Position> hand_made_wins();

}  // namespace tactics
