#include "search/tree_stats.h"

#include <vector>

namespace search {

tree_counts count_tree(const tree_node& node) {
    tree_counts counts;
    std::vector<const tree_node*> pending{&node};
    while (!pending.empty()) {
        const tree_node* current = pending.back();
        pending.pop_back();
        ++counts.nodes;
        counts.edges += static_cast<std::int64_t>(current->children.size());
        counts.edge_slots += static_cast<std::int64_t>(current->children.capacity());
        counts.held_evaluations += current->evaluation != nullptr;
        for (const tree_edge& edge : current->children) {
            if (edge.child) pending.push_back(edge.child.get());
        }
    }
    return counts;
}

}  // namespace search
