// The check of the search's choice: while the root solver left the
// opponent's win by threats possible (found, or out of budget before it
// settled), the move the search would now play is checked against that win
// with a larger budget than the root's checks of every move could give each.
// The root solver's check of all moves is wide and shallow; the losses it
// misses are mostly to wins found within tens of thousands of nodes after
// the one move actually played, so that move gets them. Every move the
// search turns to is checked, within a share of the think for all checks
// together: in a threatened position the refuted favourites hand their
// visits on, one after another, and the move that ends up played is often
// the fourth or fifth the search preferred.
#include <algorithm>

#include "search/search_tree.h"
#include "search/threat_constants.h"
#include "threat/budget.h"
#include "threat/forced_moves.h"

namespace search {

void search_tree::check_choice() {
    threat_context& context = *threat_;
    tree_node& root = *root_;
    if (!context.opponent_may_win || root.proven != 0 || root.board.over) return;
    // Tools search without a clock: the count of checks alone bounds them,
    // so that their games replay the same on any machine.
    if (context.choices_checked.size() >= static_cast<std::size_t>(choice_checks_per_think)) return;
    using clock_type = threat::SearchBudget::Clock;
    if (context.clock &&
        (clock_type::now() >= context.think_end ||
         context.choice_check_time * 100 >= std::chrono::milliseconds(context.think_ms) * choice_check_total_percent))
        return;

    // The most visited move not proven either way: the one the think would play.
    tree_edge* choice = nullptr;
    for (tree_edge& edge : root.children) {
        if (!edge.child || edge.child->proven != 0 || (root.holds_out && edge.held_out)) continue;
        if (choice == nullptr || edge.child->visits > choice->child->visits) choice = &edge;
    }
    if (choice == nullptr || choice->child->visits < choice_check_visits) return;
    const int cell = threat_cell(choice->move);
    if (std::find(context.choices_checked.begin(), context.choices_checked.end(), cell) !=
        context.choices_checked.end())
        return;
    context.choices_checked.push_back(cell);

    const auto started = clock_type::now();
    const auto deadline = context.clock ? std::min(context.think_end, context.share_of_think(choice_check_percent))
                                        : clock_type::time_point::max();
    const threat::Color me = threat_colour(root.to_move);
    std::vector<std::pair<int, int>> refuted;
    threat::threat_defences(context.board, me, context.defence_solver, threat::ThreatKind::kFoursAndThrees, {cell},
                            choice_check_nodes, deadline, &refuted);
    context.choice_check_time += clock_type::now() - started;
    if (refuted.empty()) return;
    prove(*choice->child, 1, engine_move(refuted.front().second));
    ++context.choice_refuted;
    // The opponent's threats bite: the moves the search turns to next are
    // searched together for the ones that hold, the most visited first.
    if (context.defences_searched || root.proven != 0) return;
    std::vector<const tree_edge*> open;
    for (const tree_edge& edge : root.children) {
        if (!edge.child || edge.child->proven == 0) open.push_back(&edge);
    }
    std::stable_sort(open.begin(), open.end(), [](const tree_edge* a, const tree_edge* b) {
        const std::int32_t va = a->child ? a->child->visits : 0, vb = b->child ? b->child->visits : 0;
        return va != vb ? va > vb : a->prior > b->prior;
    });
    std::vector<int> candidates;
    for (const tree_edge* edge : open) candidates.push_back(threat_cell(edge->move));
    const auto search_deadline = context.clock
        ? std::min(context.think_end, context.share_of_think(context.budget.defence_search_percent))
        : clock_type::time_point::max();
    hold_to_defences(candidates, context.budget.defence_search_nodes, search_deadline);
}

}  // namespace search
