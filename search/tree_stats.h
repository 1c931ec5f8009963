// Counting a tree's records, for the bench tool and the tests.
#pragma once

#include <cstdint>

#include "search/tree_node.h"

namespace search {

struct tree_counts {
    std::int64_t nodes = 0;
    std::int64_t edges = 0;
    /// Sum of the edge vectors' capacities (edges allocated, used or not).
    std::int64_t edge_slots = 0;
    /// Nodes still holding their evaluation array (evaluated leaves).
    std::int64_t held_evaluations = 0;
};

/// Counts the subtree below `node`, itself included (iteratively).
tree_counts count_tree(const tree_node& node);

}  // namespace search
