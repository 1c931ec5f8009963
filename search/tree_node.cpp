#include "search/tree_node.h"

#include <cmath>
#include <utility>

#include "search/search_constants.h"

namespace search {

float game_result_value(const play::board_state& board, std::int8_t to_move) {
    if (board.winner == to_move) return 1.0f;
    if (board.winner == -to_move) return -1.0f;
    return 0.0f;
}

std::unique_ptr<tree_node> make_root(const play::board_state& board, std::int8_t to_move) {
    return std::make_unique<tree_node>(board, to_move);
}

tree_node::tree_node(const play::board_state& position, std::int8_t side_to_move)
    : board(position), to_move(side_to_move) {}

tree_node::~tree_node() {
    // Detach the children first and free them from an explicit stack: each
    // node popped hands its own children to the stack before it is destroyed,
    // so no destructor below this one finds anything left to recurse into.
    std::vector<std::unique_ptr<tree_node>> pending;
    for (tree_edge& edge : children) {
        if (edge.child) pending.push_back(std::move(edge.child));
    }
    while (!pending.empty()) {
        std::unique_ptr<tree_node> node = std::move(pending.back());
        pending.pop_back();
        for (tree_edge& edge : node->children) {
            if (edge.child) pending.push_back(std::move(edge.child));
        }
    }
}

void tree_edge::create_child() {
    child = std::make_unique<tree_node>(parent->board, static_cast<std::int8_t>(-parent->to_move));
    child->parent_edge = this;
    play::put_stone(child->board, parent->to_move, move);
    if (child->board.over) child->value = game_result_value(child->board, child->to_move);
    created = true;
}

void tree_node::set_evaluation(eval::evaluation_array array) {
    evaluation = std::move(array);
    value = board.over ? game_result_value(board, to_move) : evaluation[eval::board_cells];
    back_up();
    evaluated = true;
}

void tree_node::back_up() {
    const float leaf_value = value;
    tree_node* node = this;
    while (true) {
        node->value_sum += node->to_move == to_move ? leaf_value : -leaf_value;
        tree_edge* edge = node->parent_edge;
        if (edge == nullptr) return;
        const float mean = node->value_sum / static_cast<float>(node->visits);
        edge->q = edge->parent->to_move != node->to_move ? -mean : mean;
        node = edge->parent;
    }
}

void tree_node::expand(const playing_area& area) {
    if (board.over) {
        expanded = true;
        return;
    }
    if (expanded) return;
    const float* weights = evaluation.get();
    float weight_sum = 0.0f;
    for (int row = 0; row < play::board_size; ++row) {
        for (int column = 0; column < play::board_size; ++column) {
            const int index = play::cell_index(row, column);
            if (board.cells[index] == play::empty && area.contains(row, column)) weight_sum += weights[index];
        }
    }
    // A zero or NaN sum (a network that gives no weight to any empty cell)
    // leaves the node without edges; later playouts end here.
    if (weight_sum == 0.0f || std::isnan(weight_sum)) {
        evaluation.reset();
        expanded = true;
        return;
    }
    // Shares first, then count, so the vector holds exactly its edges: most
    // positions keep far fewer edges than empty cells, and edges are most of
    // the tree's memory.
    float shares[play::board_cells];
    std::size_t edge_count = 0;
    for (int row = 0; row < play::board_size; ++row) {
        for (int column = 0; column < play::board_size; ++column) {
            const int index = play::cell_index(row, column);
            const bool candidate = board.cells[index] == play::empty && area.contains(row, column);
            shares[index] = candidate ? weights[index] / weight_sum : -1.0f;
            edge_count += shares[index] >= expansion_floor;
        }
    }
    children.reserve(edge_count);
    for (int index = 0; index < play::board_cells; ++index) {
        if (!(shares[index] >= expansion_floor)) continue;
        tree_edge& edge = children.emplace_back();
        edge.prior = shares[index];
        edge.parent = this;
        edge.move = play::make_packed_move(index / play::board_size, index % play::board_size);
    }
    evaluation.reset();
    expanded = true;
}

void tree_node::relink_children() {
    for (tree_edge& edge : children) {
        if (edge.child) edge.child->parent_edge = &edge;
    }
}

}  // namespace search
