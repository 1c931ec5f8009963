// The moves a lost root resists with. Once the solver has proven every root
// move lost, the visits say little: the proofs mostly come before the
// playouts, every move has none, and the greedy choice was a draw over the
// whole board - a far move that left the opponent's win by fours in place
// where it had only a slower win by threes after a block. A lost root keeps
// to the moves after which the opponent must still find the longer win: no
// win by fours (or, without one now, no open four or double four next).
#include <algorithm>

#include "search/near_cells.h"
#include "search/search_tree.h"
#include "search/threat_constants.h"
#include "threat/forced_moves.h"

namespace search {

void search_tree::resist_lost_root() {
    threat_context& context = *threat_;
    tree_node& root = *root_;
    if (context.lost_root_ranked || root.board.over || root.proven > 0 || root.children.empty()) return;
    // Held-out moves count too: once the moves kept in are all lost, the
    // choice returns to them, and the root is lost only when they are as well.
    for (const tree_edge& edge : root.children) {
        if (!edge.child || edge.child->proven <= 0) return;
    }
    context.lost_root_ranked = true;

    const threat::Color me = threat_colour(root.to_move);
    const threat::Color opponent = threat::other(me);
    threat::Board& board = context.board;
    const auto deadline = context.share_of_think(lost_root_budget.percent);
    threat::SearchBudget allowance(lost_root_budget.attack_nodes, deadline);
    std::vector<int> line;
    const int vcf = context.solver.find_win(board, opponent, threat::ThreatKind::kFoursOnly, &allowance, &line);
    context.solver_nodes += allowance.nodes();

    std::vector<int> resisting;
    if (vcf < 0) {
        resisting = threat::three_defences(board, me);
    } else {
        // The attack's cells, our fours, then the moves near the stones by prior.
        std::vector<int> candidates = line;
        for (int cell : threat::four_cells(board, me)) candidates.push_back(cell);
        const cell_set near = near_cells(root.board, area_, candidate_radius, opening_radius);
        std::vector<const tree_edge*> edges;
        for (const tree_edge& edge : root.children) {
            const int cell = play::cell_index(play::packed_row(edge.move), play::packed_column(edge.move));
            if (near.test(static_cast<std::size_t>(cell))) edges.push_back(&edge);
        }
        std::stable_sort(edges.begin(), edges.end(),
                         [](const tree_edge* a, const tree_edge* b) { return a->prior > b->prior; });
        for (const tree_edge* edge : edges) candidates.push_back(threat_cell(edge->move));

        // Only the moves a finished check clears resist: one cut short by the
        // budget or the clock proves nothing either way.
        std::int64_t spent = 0;
        std::vector<bool> seen(threat::kCells, false);
        for (int cell : candidates) {
            if (spent >= lost_root_budget.defence_nodes) break;
            if (context.clock && threat::SearchBudget::Clock::now() >= deadline) break;
            if (seen[cell] || !board.empty(cell)) continue;
            seen[cell] = true;
            board.place(cell, me);
            threat::SearchBudget check(lost_root_budget.defence_nodes_each, deadline);
            const int win = context.defence_solver.find_win(board, opponent, threat::ThreatKind::kFoursOnly, &check);
            board.undo();
            spent += check.nodes();
            context.solver_nodes += check.nodes();
            if (win < 0 && !context.defence_solver.aborted()) resisting.push_back(cell);
        }
    }
    for (int cell : resisting) {
        for (tree_edge& edge : root.children) {
            if (threat_cell(edge.move) == cell) edge.resists = true;
        }
    }
}

}  // namespace search
