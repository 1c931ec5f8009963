#include "search/select_edge.h"

#include <cmath>

#include "search/search_constants.h"

namespace search {

tree_edge& select_edge(tree_node& node) {
    // The mix of precisions (prior product in float, the rest in double,
    // score rounded to float) is the engine's rule; it decides near-ties.
    const double root_visits = std::sqrt(static_cast<double>(node.visits));
    tree_edge* best = nullptr;
    float best_score = 0.0f;
    for (tree_edge& edge : node.children) {
        const std::int32_t child_visits = edge.child ? edge.child->visits : 0;
        const double exploration = static_cast<double>(c_puct * edge.prior) * root_visits / (child_visits + 1);
        const float score = static_cast<float>(exploration + edge.q);
        if (best == nullptr || score > best_score) {
            best = &edge;
            best_score = score;
        }
    }
    return *best;
}

}  // namespace search
