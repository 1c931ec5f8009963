// Turning the root's visit counts into a move.
#pragma once

#include <array>

#include "play/board_state.h"
#include "search/tree_node.h"

namespace search {

/// Probability per cell (row * 20 + column); 0 for cells without an edge.
using move_distribution = std::array<float, play::board_cells>;

/// The distribution of `node`'s moves at `temperature` (0 or positive).
/// Greedy when the temperature is 0 or its inverse reaches
/// greedy_inverse_temperature: the most visited edges share the mass evenly
/// (a kept child, moved out, counts as 0 visits). Otherwise in proportion to
/// visits^(1/T); when no child has a visit the weights are NaN.
/// With `skip_lost`, edges whose child is proven won for the opponent are
/// left out, unless no other edge has at least 1/lost_resistance_ratio of
/// the visits of the most visited lost one; and while the node holds_out,
/// its held-out edges are left out as long as an edge kept in is not lost.
/// When every edge considered is lost, only those that resist count (if any
/// does), and the greedy choice is the single most visited, by prior on a
/// tie.
move_distribution move_weights(const tree_node& node, double temperature, bool skip_lost = false);

/// The first index at which the running float sum of `weights`, as a double,
/// exceeds `r`; -1 when none does (all-zero or NaN weights).
int draw_index(const move_distribution& weights, double r);

}  // namespace search
