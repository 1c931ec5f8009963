// The rule by which a playout walks down the tree (prior-weighted upper
// confidence bound).
#pragma once

#include "search/tree_node.h"

namespace search {

/// The edge of `node` with the highest score q + c_puct * prior * sqrt(V) /
/// (n + 1), where V is the node's visits (already raised for this playout)
/// and n the child's visits (0 without a child). Ties go to the edge created
/// first. Precondition: the node has at least one edge.
tree_edge& select_edge(tree_node& node);

/// select_edge over the edges whose child is not proven won for the opponent
/// (the mover's proven losses); null when every edge is such a loss. While
/// the node holds_out, its held-out edges are passed over too, as long as
/// another is left; after that the hold ends.
tree_edge* select_unproven_edge(tree_node& node);

}  // namespace search
