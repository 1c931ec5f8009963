// The records of the search tree: a node per position reached, an edge per
// move considered out of it.
//
// Ownership: a node owns its edges (one contiguous vector, in creation order)
// and each edge owns its child. When a child becomes the new root, the tree
// moves the child's ownership out of the edge (and marks the edge `kept`)
// before the old tree is freed. Freeing a subtree walks it with an explicit
// stack, so a deep tree cannot overflow the call stack.
//
// Pointers between records are non-owning links: `tree_edge::parent` is never
// null; `tree_node::parent_edge` is null only at a root. Nodes never move once
// made (they are reached through unique_ptr); edges move only when their
// node's vector grows, after which the node re-links its children.
//
// Values are from the point of view of the side to move at the node they
// belong to (+1 won, -1 lost, 0 drawn); an edge's `q` is from the point of
// view of the player making the move.
//
// Proofs (the threat-aware search only): `proven` is +1 when the side to move
// has a forced win from the node, -1 when it has a forced loss, 0 when not
// known. A proof is exact, whatever the statistics say: a node with a child
// proven lost is won, a `complete` node whose every child is proven won is
// lost. The plain search keeps every proof at 0 apart from finished games.
//
// Thread rules: none; the tree belongs to one search_tree, used by one thread
// at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "eval/evaluator.h"
#include "play/board_state.h"
#include "search/playing_area.h"

namespace search {

struct tree_node;

/// Off the board: a move that is not there.
inline constexpr play::packed_move no_move = play::make_packed_move(-1, -1);

struct tree_edge {
    /// `child` has been made (it may since have been moved out, see `kept`).
    bool created = false;
    /// The child was made the root of the tree and no longer belongs here.
    bool kept = false;
    /// Left out of the search and the choice while its parent holds_out:
    /// not among the moves found to stop the opponent's forced win.
    bool held_out = false;
    /// In a root whose every move is proven lost: one of the moves after
    /// which the opponent must still find its longer win (lost_root.cpp).
    bool resists = false;
    float prior = 0.0f;
    /// Mean value of the child for the mover; refreshed only by back-ups.
    float q = 0.0f;
    tree_node* parent = nullptr;
    std::unique_ptr<tree_node> child;
    play::packed_move move = 0;

    /// Makes the child: the parent's board with `move` played for the
    /// parent's side to move. A finished position gets its result as value.
    /// Precondition: `created` is false.
    void create_child();
};

struct tree_node {
    play::board_state board;
    /// Playouts that passed through; raised on the way down, before the
    /// playout's value is known.
    std::int32_t visits = 0;
    /// +1 or -1: the colour that moves next here.
    std::int8_t to_move = 0;
    float value_sum = 0.0f;
    /// The evaluator's value or the game result; 0 until set.
    float value = 0.0f;
    bool expanded = false;
    bool evaluated = false;
    bool noised = false;
    /// +1 proven won, -1 proven lost for `to_move`, 0 unknown (see above).
    std::int8_t proven = 0;
    /// The edges hold every move that is not known to lose (a forced
    /// position's answers, or every empty cell), so that when all of them are
    /// proven lost, so is the node.
    bool complete = false;
    /// Some edges are held_out (the root only, defence_search.cpp): the
    /// playouts and the choice keep to the others while one of them is not
    /// proven lost.
    bool holds_out = false;
    /// A winning move of a node proven won; no_move otherwise.
    play::packed_move proof_move = no_move;
    tree_edge* parent_edge = nullptr;
    std::vector<tree_edge> children;
    /// Held from set_evaluation until expand, then freed.
    eval::evaluation_array evaluation;

    tree_node(const play::board_state& position, std::int8_t side_to_move);
    tree_node(const tree_node&) = delete;
    tree_node& operator=(const tree_node&) = delete;
    /// Frees the whole subtree below (not a child already moved out).
    ~tree_node();

    /// Stores an evaluation (taking ownership), sets `value` (the game result
    /// if the position is over, else the array's last element), backs it up
    /// and marks the node evaluated.
    void set_evaluation(eval::evaluation_array array);

    /// Adds `value` to every node's value_sum up to the root (negated for the
    /// other side) and refreshes the `q` of every edge on the way.
    void back_up();

    /// Turns the evaluation into edges: one per empty cell inside `area`
    /// whose weight, divided by the sum of weights over those cells, is at
    /// least expansion_floor, in row-major order. A finished position gets no
    /// edges. Frees the evaluation. Precondition: evaluated or over.
    void expand(const playing_area& area = {});

    /// Like expand, but with one edge for each of `cells` (cell indices of
    /// empty cells, in any order; repeats are ignored), in row-major order.
    /// Each edge's prior is its share of the weights over those cells, at
    /// least `floor`; uniform when their weights sum to nothing. Marks the
    /// node complete: the caller knows every other move loses.
    void expand_cells(const std::vector<int>& cells, float floor);

    /// Adds an edge with prior 0 for every empty cell inside `area` that has
    /// none yet, and marks the node complete.
    void add_remaining_edges(const playing_area& area);

    /// The edge for (row, column), added with `prior` when missing (which
    /// may move the edge vector: children are re-linked).
    tree_edge& edge_for(play::packed_move move, float prior);

    /// Mixes Dirichlet noise (concentration alpha, share epsilon) into the
    /// priors and adds edges for pruned empty cells inside `area` whose noise
    /// share reaches expansion_floor; marks the node noised. The gamma source
    /// is process-wide: its shape is fixed by the first call in the process.
    void add_root_noise(float alpha, float epsilon, const playing_area& area = {});

    /// The mixing step of add_root_noise with given draws: one per empty
    /// cell inside `area`, in row-major order. The cells without an edge take
    /// the first draws, the existing edges the rest in their order.
    void mix_root_noise(const std::vector<float>& draws, float epsilon, const playing_area& area = {});

    /// Sets every child's parent_edge after the edge vector has moved.
    void relink_children();
};

/// Marks `node` proven (+1 won, -1 lost for its side to move) with that
/// value, and carries the proof up: a parent with a child proven lost is
/// proven won; a complete parent whose children are all created and proven
/// won is proven lost. Stops at the first parent that does not change.
void prove(tree_node& node, std::int8_t result, play::packed_move winning_move = no_move);

/// The value of a finished position for `to_move`: +1 won, -1 lost, 0 draw.
float game_result_value(const play::board_state& board, std::int8_t to_move);

/// A fresh root: the board, `to_move`, zero statistics, no links.
std::unique_ptr<tree_node> make_root(const play::board_state& board, std::int8_t to_move);

}  // namespace search
