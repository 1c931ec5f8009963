// The search for the moves that stop the opponent's forced win. Checking the
// root's moves one at a time spends the same nodes on each: in a position
// where only one or two moves hold, the search's favourites are refuted one
// after another, each after tens of thousands of nodes, and the think ends
// before the move that holds is reached. One best-first tree over all the
// moves spends its nodes where a defence looks cheapest to confirm, so the
// few that hold come out first. When some are found, the root keeps to them:
// the others are held out of the search (not proven lost: an unsearched move
// may hold too, but the search has just seen the likeliest ones fall).
#include <algorithm>

#include "search/search_tree.h"
#include "search/threat_constants.h"

namespace search {

void search_tree::hold_to_defences(const std::vector<int>& candidates, std::int64_t nodes,
                                   threat::SearchBudget::Clock::time_point deadline, int also_kept) {
    threat_context& context = *threat_;
    tree_node& root = *root_;
    if (context.defences_searched) return;
    context.defences_searched = true;
    ++context.defence_searches;

    // Each cell once, and none already proven lost.
    auto proven_lost = [&root](int cell) {
        for (const tree_edge& edge : root.children) {
            if (threat_cell(edge.move) == cell) return edge.child && edge.child->proven > 0;
        }
        return false;
    };
    std::vector<int> cells;
    std::vector<bool> seen(threat::kCells, false);
    for (int cell : candidates) {
        if (cell < 0 || cell >= threat::kCells || seen[cell] || !context.board.empty(cell)) continue;
        seen[cell] = true;
        if (!proven_lost(cell)) cells.push_back(cell);
    }
    if (cells.empty()) return;

    const threat::Color opponent = threat::other(threat_colour(root.to_move));
    threat::SearchBudget allowance(nodes, deadline);
    threat::ProofNumberSearch::Defences found;
    context.defence_solver.find_defences(context.board, opponent, cells, defences_held_wanted, &allowance, found);
    context.solver_nodes += allowance.nodes();

    for (const auto& [cell, opponent_win] : found.refuted) {
        tree_edge& edge = root.edge_for(engine_move(cell), forced_prior_floor);
        if (!edge.created) edge.create_child();
        if (edge.child->proven == 0) prove(*edge.child, 1, engine_move(opponent_win));
    }
    if (found.safe.empty() || root.proven != 0) return;
    for (int cell : found.safe) root.edge_for(engine_move(cell), forced_prior_floor);
    std::vector<int> kept = found.safe;
    kept.push_back(also_kept);
    for (tree_edge& edge : root.children) {
        edge.held_out = std::find(kept.begin(), kept.end(), threat_cell(edge.move)) == kept.end();
    }
    root.holds_out = true;
    context.defences_held += static_cast<std::int64_t>(found.safe.size());
}

}  // namespace search
