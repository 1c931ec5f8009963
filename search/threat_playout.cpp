// The playout of the threat-aware mode: the plain playout's descent, with
// the threat board following it, forced positions expanded to their answers,
// short wins by fours found at new leaves, and proofs that end playouts and
// back up exactly.
#include <utility>

#include "search/eval_cache.h"
#include "search/near_cells.h"
#include "search/search_constants.h"
#include "search/search_tree.h"
#include "search/select_edge.h"
#include "search/threat_constants.h"
#include "threat/budget.h"
#include "threat/forced_moves.h"

namespace search {
namespace {

// Takes back, whatever way the playout ends, the stones it put on the threat board.
class playout_stones {
public:
    explicit playout_stones(threat_context& context) : context_(context) {}
    ~playout_stones() { context_.undo_playout(); }
    playout_stones(const playout_stones&) = delete;
    playout_stones& operator=(const playout_stones&) = delete;

private:
    threat_context& context_;
};

// A node proven by the playout that reached it: its value goes up the path.
bool end_on_proof(tree_node& node, std::int8_t result, play::packed_move winning_move = no_move) {
    prove(node, result, winning_move);
    node.back_up();
    return true;
}

}  // namespace

bool search_tree::run_threat_playout() {
    threat_context& context = *threat_;
    playout_stones taken_back(context);
    tree_node* node = root_.get();
    ++node->visits;
    while (true) {
        // 1. Finished games and proven nodes end the playout with their exact value.
        if (node->board.over || node->proven != 0) {
            if (node->proven != 0) prove(*node, node->proven, node->proof_move);
            node->back_up();
            return true;
        }
        // 2. A new leaf is judged (by a proof or the network); an evaluated
        //    one becomes the edges its position allows.
        if (!node->expanded) {
            if (!node->evaluated) return evaluate_threat_leaf(*node);
            expand_threat(*node);
            if (node->proven != 0) {
                node->back_up();
                return true;
            }
        }
        if (node == root_.get() && root_noise && !node->noised) {
            noise_root(*node);
        }
        if (node->children.empty()) return true;
        // 3. Descend past the moves proven to lose. When all the edges lose,
        //    the rest of the moves are added, and only when they too are
        //    gone (or there are none) is the node lost.
        tree_edge* edge = select_unproven_edge(*node);
        if (edge == nullptr && !node->complete) {
            node->add_remaining_edges(area_);
            edge = select_unproven_edge(*node);
        }
        if (edge == nullptr) return end_on_proof(*node, -1);
        if (!edge->created) edge->create_child();
        context.place(edge->move, node->to_move);
        node = edge->child.get();
        ++node->visits;
    }
}

bool search_tree::evaluate_threat_leaf(tree_node& leaf) {
    threat_context& context = *threat_;
    const threat::Color me = threat_colour(leaf.to_move);
    if (const std::vector<int> fives = threat::five_cells(context.board, me); !fives.empty()) {
        return end_on_proof(leaf, 1, engine_move(fives.front()));
    }
    if (threat::five_cells(context.board, threat::other(me)).size() >= 2) return end_on_proof(leaf, -1);
    ++context.leaf_checks;
    threat::SearchBudget budget(leaf_vcf_nodes, threat::SearchBudget::Clock::time_point::max());
    const int win = context.solver.find_win(context.board, me, threat::ThreatKind::kFoursOnly, &budget);
    context.solver_nodes += budget.nodes();
    if (win >= 0) {
        ++context.leaf_wins;
        return end_on_proof(leaf, 1, engine_move(win));
    }
    return evaluate_leaf(leaf);
}

void search_tree::expand_threat(tree_node& node) {
    threat_context& context = *threat_;
    const threat::ForcedMoves forced = threat::forced_moves(context.board, threat_colour(node.to_move));
    switch (forced.kind) {
        case threat::Forcing::kWinNow:
            node.expand_cells(engine_cells(forced.cells), forced_prior_floor);
            prove(node, 1, engine_move(forced.cells.front()));
            return;
        case threat::Forcing::kBlockFive:
        case threat::Forcing::kDefendThree:
            node.expand_cells(engine_cells(forced.cells), forced_prior_floor);
            return;
        case threat::Forcing::kLost:
            if (forced.cells.empty()) {
                node.expand(area_);
            } else {
                node.expand_cells(engine_cells(forced.cells), forced_prior_floor);
            }
            prove(node, -1);
            return;
        case threat::Forcing::kNone:
            break;
    }
    // Nothing forced: the cells near the stones, each with its share of the
    // network's weight over them; the rest only if all of these lose.
    const cell_set near = near_cells(node.board, area_, candidate_radius, opening_radius);
    std::vector<int> cells;
    std::size_t empty_cells = 0;
    for (int row = 0; row < area_.height; ++row) {
        for (int column = 0; column < area_.width; ++column) {
            const int cell = play::cell_index(row, column);
            if (node.board.cells[cell] != play::empty) continue;
            ++empty_cells;
            if (near.test(static_cast<std::size_t>(cell))) cells.push_back(cell);
        }
    }
    if (cells.empty()) {
        // Every cell near a stone is taken: the whole area.
        node.expand(area_);
        node.complete = node.children.size() == empty_cells;
        return;
    }
    node.expand_cells(cells, 0.0f);
    node.complete = cells.size() == empty_cells;
}

}  // namespace search
