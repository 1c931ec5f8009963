#include "search/tree_node.h"

#include <algorithm>
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
    if (child->board.over) {
        child->value = game_result_value(child->board, child->to_move);
        child->proven = static_cast<std::int8_t>(child->value);
    }
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

void tree_node::expand_cells(const std::vector<int>& cells, float floor) {
    std::vector<bool> wanted(play::board_cells, false);
    for (int cell : cells) {
        if (cell >= 0 && cell < play::board_cells && board.cells[cell] == play::empty) wanted[cell] = true;
    }
    const float* weights = evaluation.get();
    float weight_sum = 0.0f;
    std::size_t edge_count = 0;
    for (int cell = 0; cell < play::board_cells; ++cell) {
        if (!wanted[cell]) continue;
        ++edge_count;
        if (weights != nullptr && weights[cell] > 0.0f) weight_sum += weights[cell];
    }
    const bool uniform = !(weight_sum > 0.0f) || std::isinf(weight_sum);
    children.clear();
    children.reserve(edge_count);
    for (int cell = 0; cell < play::board_cells; ++cell) {
        if (!wanted[cell]) continue;
        const float share = uniform ? 1.0f / static_cast<float>(edge_count)
                                    : std::max(weights[cell], 0.0f) / weight_sum;
        tree_edge& edge = children.emplace_back();
        edge.prior = std::max(share, floor);
        edge.parent = this;
        edge.move = play::make_packed_move(cell / play::board_size, cell % play::board_size);
    }
    evaluation.reset();
    expanded = true;
    complete = true;
}

void tree_node::add_remaining_edges(const playing_area& area) {
    std::vector<bool> has_edge(play::board_cells, false);
    for (const tree_edge& edge : children) {
        has_edge[play::cell_index(play::packed_row(edge.move), play::packed_column(edge.move))] = true;
    }
    for (int row = 0; row < play::board_size; ++row) {
        for (int column = 0; column < play::board_size; ++column) {
            const int cell = play::cell_index(row, column);
            if (has_edge[cell] || board.cells[cell] != play::empty || !area.contains(row, column)) continue;
            tree_edge& edge = children.emplace_back();
            edge.parent = this;
            edge.move = play::make_packed_move(row, column);
        }
    }
    relink_children();
    complete = true;
}

tree_edge& tree_node::edge_for(play::packed_move move, float prior) {
    for (tree_edge& edge : children) {
        if (edge.move == move) return edge;
    }
    tree_edge& edge = children.emplace_back();
    edge.prior = prior;
    edge.parent = this;
    edge.move = move;
    relink_children();
    return children.back();
}

void prove(tree_node& node, std::int8_t result, play::packed_move winning_move) {
    node.proven = result;
    node.value = static_cast<float>(result);
    if (result > 0 && winning_move != no_move) node.proof_move = winning_move;
    tree_node* child = &node;
    while (child->parent_edge != nullptr) {
        tree_edge& edge = *child->parent_edge;
        tree_node& parent = *edge.parent;
        if (parent.proven != 0) return;
        if (child->proven < 0) {
            parent.proven = 1;
            parent.value = 1.0f;
            parent.proof_move = edge.move;
        } else if (child->proven > 0 && parent.complete) {
            for (const tree_edge& sibling : parent.children) {
                if (!sibling.child || sibling.child->proven <= 0) return;
            }
            parent.proven = -1;
            parent.value = -1.0f;
        } else {
            return;
        }
        child = &parent;
    }
}

void tree_node::relink_children() {
    for (tree_edge& edge : children) {
        if (edge.child) edge.child->parent_edge = &edge;
    }
}

}  // namespace search
