#include "search/select_edge.h"

#include <cmath>

#include "search/search_constants.h"

namespace search {

namespace {

template <bool skip_lost, bool skip_held_out = false>
tree_edge* best_edge(tree_node& node) {
    // The mix of precisions (prior product in float, the rest in double,
    // score rounded to float) is the engine's rule; it decides near-ties.
    const double root_visits = std::sqrt(static_cast<double>(node.visits));
    tree_edge* best = nullptr;
    float best_score = 0.0f;
    for (tree_edge& edge : node.children) {
        if (skip_lost && edge.child && edge.child->proven > 0) continue;
        if (skip_held_out && edge.held_out) continue;
        const std::int32_t child_visits = edge.child ? edge.child->visits : 0;
        const double exploration = static_cast<double>(c_puct * edge.prior) * root_visits / (child_visits + 1);
        const float score = static_cast<float>(exploration + edge.q);
        if (best == nullptr || score > best_score) {
            best = &edge;
            best_score = score;
        }
    }
    return best;
}

}  // namespace

tree_edge& select_edge(tree_node& node) { return *best_edge<false>(node); }

tree_edge* select_unproven_edge(tree_node& node) {
    if (node.holds_out) {
        if (tree_edge* edge = best_edge<true, true>(node)) return edge;
        // Every move kept in is proven lost after all: the hold ends.
        node.holds_out = false;
    }
    return best_edge<true>(node);
}

}  // namespace search
