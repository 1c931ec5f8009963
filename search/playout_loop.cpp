// The playout loop: descent by select_edge, expansion of evaluated leaves,
// evaluation of new leaves (cache first), back-up of the value.
#include <utility>

#include "search/eval_cache.h"
#include "search/search_constants.h"
#include "search/search_tree.h"
#include "search/select_edge.h"
#include "search/threat_constants.h"

namespace search {

void search_tree::run_playouts(std::int32_t n) {
    std::int32_t counted = 0;
    if (threat_ && n > 0) prepare_root();
    while (counted < n) {
        if (!threat_) {
            counted += run_one_playout();
        } else if (run_threat_playout()) {
            ++counted;
            if (++threat_->playouts_on_root % choice_check_interval == 0) check_choice();
        }
    }
    if (threat_) resist_lost_root();
    cache_->trim();
}

bool search_tree::run_one_playout() {
    // 1. Visits are raised on the way down, before the value is known, so
    //    every q refreshed by the back-up already counts this playout.
    tree_node* node = root_.get();
    ++node->visits;
    if (node->board.over) {
        node->back_up();
        return true;
    }
    while (true) {
        // 2. A leaf without an evaluation gets one and the playout ends; one
        //    that has an evaluation becomes edges and the descent goes on.
        if (!node->expanded) {
            if (!node->evaluated) return evaluate_leaf(*node);
            node->expand(area_);
        }
        // 3. Root noise, once per root.
        if (node == root_.get() && root_noise && !node->noised) {
            noise_root(*node);
        }
        // 4. No edges (a network that pruned every cell, or a full area): the
        //    visits stay raised but nothing is backed up.
        if (node->children.empty()) return true;
        // 5. Descend; a finished position backs up its result without the
        //    evaluator.
        tree_edge& edge = select_edge(*node);
        if (!edge.created) edge.create_child();
        node = edge.child.get();
        ++node->visits;
        if (node->board.over) {
            node->back_up();
            return true;
        }
    }
}

bool search_tree::evaluate_leaf(tree_node& leaf) {
    bool counted = false;
    leaf.set_evaluation(fetch_evaluation(leaf, counted));
    return counted;
}

eval::evaluation_array search_tree::fetch_evaluation(const tree_node& node, bool& counted) {
    const std::uint64_t key = node.board.hash ^ cache_salt_;
    if (eval::evaluation_array cached = cache_->hit(key)) {
        counted = false;
        return cached;
    }
    std::vector<eval::evaluation_array> results = evaluator_->Evaluate({node.board.cells}, {node.to_move});
    cache_->insert(key, results.front().get());
    counted = true;
    return std::move(results.front());
}

}  // namespace search
