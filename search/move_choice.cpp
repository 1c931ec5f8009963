#include "search/move_choice.h"

#include <algorithm>
#include <cmath>

#include "search/search_constants.h"

namespace search {

namespace {

std::int32_t child_visits(const tree_edge& edge) { return edge.child ? edge.child->visits : 0; }

bool lost_edge(const tree_edge& edge) { return edge.child && edge.child->proven > 0; }

int edge_cell(const tree_edge& edge) {
    return play::cell_index(play::packed_row(edge.move), play::packed_column(edge.move));
}

}  // namespace

move_distribution move_weights(const tree_node& node, double temperature, bool skip_lost) {
    move_distribution weights{};
    // Proven losses are left out only while another move has been searched
    // about as much: in a lost position the search proves the natural moves
    // lost one by one and then tries the rest, and a move it has barely
    // looked at is no better a bet than the loss that took longest to prove
    // (the longest resistance found).
    // Moves held out stay out while a move kept in is not proven lost.
    bool hold = false;
    if (skip_lost && node.holds_out) {
        for (const tree_edge& edge : node.children) hold = hold || (!edge.held_out && !lost_edge(edge));
    }
    // Every move lost: the ones marked to resist longest (lost_root.cpp), and
    // the greedy choice among them goes by prior where the visits tie (they
    // mostly have none: the proofs came before the playouts).
    bool lost = false, resisting = false;
    if (skip_lost) {
        std::int32_t best_open = 0, best_lost = 0;
        bool any_open = false;
        for (const tree_edge& edge : node.children) {
            if (hold && edge.held_out) continue;
            std::int32_t& best = lost_edge(edge) ? best_lost : best_open;
            best = std::max(best, child_visits(edge));
            any_open = any_open || !lost_edge(edge);
            resisting = resisting || edge.resists;
        }
        lost = !any_open && !node.children.empty();
        resisting = lost && resisting;
        skip_lost = best_open > 0 && static_cast<std::int64_t>(best_open) * lost_resistance_ratio >= best_lost;
    }
    auto counted = [skip_lost, hold, resisting](const tree_edge& edge) {
        return !(hold && edge.held_out) && (!skip_lost || !lost_edge(edge)) && (!resisting || edge.resists);
    };
    if (lost && (temperature == 0.0 || 1.0 / temperature >= greedy_inverse_temperature)) {
        const tree_edge* best = nullptr;
        for (const tree_edge& edge : node.children) {
            if (!counted(edge)) continue;
            if (best == nullptr || child_visits(edge) > child_visits(*best) ||
                (child_visits(edge) == child_visits(*best) && edge.prior > best->prior))
                best = &edge;
        }
        if (best != nullptr) weights[edge_cell(*best)] = 1.0f;
        return weights;
    }
    if (temperature == 0.0 || 1.0 / temperature >= greedy_inverse_temperature) {
        std::int32_t most_visits = 0;
        for (const tree_edge& edge : node.children) {
            if (counted(edge) && child_visits(edge) > most_visits) most_visits = child_visits(edge);
        }
        int tied = 0;
        for (const tree_edge& edge : node.children) tied += counted(edge) && child_visits(edge) == most_visits;
        for (const tree_edge& edge : node.children) {
            if (counted(edge) && child_visits(edge) == most_visits)
                weights[edge_cell(edge)] = 1.0f / static_cast<float>(tied);
        }
        return weights;
    }
    const double exponent = 1.0 / temperature;
    std::array<double, play::board_cells> powered{};
    double total = 0.0;
    for (const tree_edge& edge : node.children) {
        if (!counted(edge)) continue;
        const double x = std::pow(static_cast<double>(child_visits(edge)), exponent);
        powered[edge_cell(edge)] = x;
        total += x;
    }
    for (int cell = 0; cell < play::board_cells; ++cell) weights[cell] = static_cast<float>(powered[cell] / total);
    return weights;
}

int draw_index(const move_distribution& weights, double r) {
    float running = 0.0f;
    for (int cell = 0; cell < play::board_cells; ++cell) {
        running += weights[cell];
        if (static_cast<double>(running) > r) return cell;
    }
    return -1;
}

}  // namespace search
