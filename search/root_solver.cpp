// The root solver of the threat-aware mode: before the first playout on a
// new root, the threat solver looks for our forced win (by fours, then by
// threats) and for the opponent's; against the opponent's, every root move
// is tried and those the solver refutes are proven lost, so only the moves
// that stop the attack stay in play.
#include <algorithm>

#include "search/search_tree.h"
#include "search/threat_constants.h"
#include "threat/budget.h"
#include "threat/forced_moves.h"

namespace search {

void search_tree::ensure_root_expanded() {
    tree_node& root = *root_;
    if (root.expanded || root.board.over) return;
    if (!root.evaluated) {
        bool counted = false;
        eval::evaluation_array array = fetch_evaluation(root, counted);
        if (root.proven == 0) {
            ++root.visits;
            root.set_evaluation(std::move(array));
        } else {
            root.evaluation = std::move(array);
            root.evaluated = true;
        }
    }
    expand_threat(root);
}

void search_tree::prepare_root() {
    threat_context& context = *threat_;
    if (context.root_prepared) return;
    context.root_prepared = true;
    tree_node& root = *root_;
    if (root.board.over) return;
    ensure_root_expanded();
    // A root proven won without a move to play (the refutation that proved
    // it kept no winning move) is solved again for the move, and searched as
    // unproven when the solver does not find one: a proof is no use to the
    // player without its move.
    const bool move_unknown = root.proven > 0 && certain_move() == no_move;
    if (root.proven > 0 && !move_unknown) return;

    const root_solver_budget& budget = context.budget;
    const threat::Color me = threat_colour(root.to_move);
    const threat::Color opponent = threat::other(me);
    threat::Board& board = context.board;
    threat::ThreatSolver& solver = context.solver;
    auto solve = [&](threat::Color attacker, threat::ThreatKind kind, std::int64_t nodes, int percent,
                     std::vector<int>* line) {
        threat::SearchBudget allowance(nodes, context.share_of_think(percent));
        const int win = solver.find_win(board, attacker, kind, &allowance, line);
        context.solver_nodes += allowance.nodes();
        return win;
    };

    // 1. Our own forced win ends the think: the root is proven won.
    if (root.proven == 0 || move_unknown) {
        int win = solve(me, threat::ThreatKind::kFoursOnly, budget.own_vcf_nodes, budget.own_vcf_percent, nullptr);
        if (win < 0) {
            win = solve(me, threat::ThreatKind::kFoursAndThrees, budget.own_vct_nodes, budget.own_vct_percent, nullptr);
        }
        if (win >= 0) {
            prove(root, 1, engine_move(win));
            return;
        }
        if (move_unknown) {
            root.proven = 0;
            root.value = 0.0f;
        }
    }

    // 2. The opponent's forced win, as if it moved now: by fours, else by threats.
    std::vector<int> line;
    threat::ThreatKind kind = threat::ThreatKind::kFoursOnly;
    int threat_move = solve(opponent, kind, budget.opponent_vcf_nodes, budget.opponent_percent, &line);
    bool unsettled = solver.aborted();
    if (threat_move < 0) {
        kind = threat::ThreatKind::kFoursAndThrees;
        threat_move = solve(opponent, kind, budget.opponent_vct_nodes, budget.opponent_percent, &line);
        unsettled = unsettled || solver.aborted();
    }
    context.opponent_may_win = threat_move >= 0 || unsettled;

    // The root moves by prior: if the clock runs out, the likeliest are tried.
    std::vector<int> by_prior;
    {
        std::vector<const tree_edge*> edges;
        for (const tree_edge& edge : root.children) edges.push_back(&edge);
        std::stable_sort(edges.begin(), edges.end(),
                         [](const tree_edge* a, const tree_edge* b) { return a->prior > b->prior; });
        for (const tree_edge* edge : edges) by_prior.push_back(threat_cell(edge->move));
    }
    std::vector<std::pair<int, int>> refuted;
    auto prove_refuted = [&] {
        for (const auto& [cell, opponent_win] : refuted) {
            tree_edge& edge = root.edge_for(engine_move(cell), forced_prior_floor);
            if (!edge.created) edge.create_child();
            prove(*edge.child, 1, engine_move(opponent_win));
        }
    };
    if (threat_move < 0) {
        // 2b. The search ran out before it settled: the opponent may have a win
        //     too deep to find from here, yet after one of our moves it is a
        //     few thousand nodes shallower. The moves we are likely to play
        //     are checked against it; the refuted ones are proven lost.
        if (!unsettled) return;
        if (by_prior.size() > likely_moves_checked) by_prior.resize(likely_moves_checked);
        threat::threat_defences(board, me, context.defence_solver, threat::ThreatKind::kFoursAndThrees, by_prior,
                                budget.defence_nodes_each, context.share_of_think(budget.defence_percent), &refuted);
        prove_refuted();
        return;
    }

    // 3. The cells of the attack, our fours and every root move are searched
    //    together as answers (defence_search.cpp): the refuted ones are
    //    proven lost, and the root keeps to those found to hold. The attack's
    //    own cells come in as moves even where the network gave them nothing.
    for (int cell : line) {
        if (board.empty(cell)) root.edge_for(engine_move(cell), forced_prior_floor);
    }
    std::vector<int> candidates = line;
    for (int cell : threat::four_cells(board, me)) candidates.push_back(cell);
    candidates.insert(candidates.end(), by_prior.begin(), by_prior.end());
    // The network's favourite stays in play unless refuted: a defence that is
    // only dear to confirm is often the best one.
    hold_to_defences(candidates, budget.defence_search_nodes, context.share_of_think(budget.defence_search_percent),
                     by_prior.empty() ? -1 : by_prior.front());
}

}  // namespace search
