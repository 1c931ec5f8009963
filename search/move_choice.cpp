#include "search/move_choice.h"

#include <cmath>

#include "search/search_constants.h"

namespace search {

namespace {

std::int32_t child_visits(const tree_edge& edge) { return edge.child ? edge.child->visits : 0; }

int edge_cell(const tree_edge& edge) {
    return play::cell_index(play::packed_row(edge.move), play::packed_column(edge.move));
}

}  // namespace

move_distribution move_weights(const tree_node& node, double temperature) {
    move_distribution weights{};
    if (temperature == 0.0 || 1.0 / temperature >= greedy_inverse_temperature) {
        std::int32_t most_visits = 0;
        for (const tree_edge& edge : node.children) {
            if (child_visits(edge) > most_visits) most_visits = child_visits(edge);
        }
        int tied = 0;
        for (const tree_edge& edge : node.children) tied += child_visits(edge) == most_visits;
        for (const tree_edge& edge : node.children) {
            if (child_visits(edge) == most_visits) weights[edge_cell(edge)] = 1.0f / static_cast<float>(tied);
        }
        return weights;
    }
    const double exponent = 1.0 / temperature;
    std::array<double, play::board_cells> powered{};
    double total = 0.0;
    for (const tree_edge& edge : node.children) {
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
