// Dirichlet noise at the root, so that repeated searches of one position
// explore differently. Off unless a search_tree's root_noise flag is set.
#include <algorithm>
#include <ctime>
#include <random>

#include "search/search_constants.h"
#include "search/tree_node.h"

namespace search {

namespace {

// One gamma source for the whole process, made at the first noise call with
// that call's concentration and seeded from the calendar time.
struct noise_source {
    std::mt19937 engine;
    std::gamma_distribution<float> gamma;

    explicit noise_source(float alpha)
        : engine(static_cast<std::uint32_t>(std::time(nullptr))), gamma(alpha, 1.0f) {}
    float draw() { return gamma(engine); }
};

noise_source& process_noise_source(float alpha) {
    static noise_source source(alpha);
    return source;
}

}  // namespace

void tree_node::add_root_noise(float alpha, float epsilon, const playing_area& area) {
    noise_source& source = process_noise_source(alpha);
    std::vector<float> draws;
    draws.reserve(play::board_cells);
    for (int row = 0; row < play::board_size; ++row) {
        for (int column = 0; column < play::board_size; ++column) {
            if (board.cells[play::cell_index(row, column)] == play::empty && area.contains(row, column)) {
                draws.push_back(source.draw());
            }
        }
    }
    mix_root_noise(draws, epsilon, area);
}

void tree_node::mix_root_noise(const std::vector<float>& draws, float epsilon, const playing_area& area) {
    bool has_edge[play::board_cells] = {};
    for (const tree_edge& edge : children) {
        has_edge[play::cell_index(play::packed_row(edge.move), play::packed_column(edge.move))] = true;
    }
    std::vector<play::packed_move> candidates;
    float draw_total = 0.0f;
    std::size_t next_draw = 0;
    for (int row = 0; row < play::board_size; ++row) {
        for (int column = 0; column < play::board_size; ++column) {
            if (board.cells[play::cell_index(row, column)] != play::empty || !area.contains(row, column)) continue;
            if (next_draw < draws.size()) draw_total += draws[next_draw++];
            if (!has_edge[play::cell_index(row, column)]) candidates.push_back(play::make_packed_move(row, column));
        }
    }

    // Every edge stands on an empty cell in the area, so the draws cover them
    // all; the bounds only guard a root grafted from a tree with a larger area.
    const std::size_t candidate_count = std::min(candidates.size(), draws.size());
    for (std::size_t k = 0; k < children.size() && candidate_count + k < draws.size(); ++k) {
        tree_edge& edge = children[k];
        edge.prior = (1.0f - epsilon) * edge.prior + epsilon * (draws[candidate_count + k] / draw_total);
    }

    const std::size_t old_capacity = children.capacity();
    for (std::size_t t = 0; t < candidate_count; ++t) {
        const float share = draws[t] / draw_total * epsilon;
        if (share < expansion_floor) continue;
        tree_edge& edge = children.emplace_back();
        edge.prior = share;
        edge.parent = this;
        edge.move = candidates[t];
    }
    // A kept child made root may already have children whose parent_edge
    // points into the old vector.
    if (children.capacity() != old_capacity) relink_children();
    noised = true;
}

}  // namespace search
