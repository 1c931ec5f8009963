// Proof-number search of a threat win: the best-first order of the threat solver.
//
// The depth-first order (threat_search.cpp) spends its nodes evenly over every threat of the
// attacker, so a win whose first threes allow many answers costs it tens of thousands of nodes.
// Proof-number search keeps the tree in memory and always expands the leaf that most cheaply
// proves or disproves the root (Allis's proof and disproof numbers: the fewest leaves that must be
// won, or refuted, to settle a node), so it follows fours first, narrow threats next, and spends
// little on an attack that the defender has many ways to meet. The moves are the depth-first
// order's (threat_moves.h), except that the defender's answers to an open four to come are only
// those that spoil it, and the results are the same: within the same depth, a win found by one is
// a win for the other.
//
// Ownership and threads: owned by a ThreatSolver, which calls it from its own thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "threat/board.h"
#include "threat/budget.h"
#include "threat/threat_moves.h"

namespace threat {

class ProofNumberSearch {
public:
    ProofNumberSearch();
    ~ProofNumberSearch();

    /// As ThreatSolver::find_win; `budget` counts one node per leaf expanded.
    int find_win(Board& board, Color attacker, bool with_threes, std::size_t three_moves, SearchBudget& budget,
                 std::vector<int>* line, int max_depth);
    bool aborted() const { return aborted_; }

    /// The defender's moves among `candidates` (empty cells, no repeats), searched together
    /// under one root where the defender moves: `safe` gets those after which the attacker
    /// has no win (within `max_depth`), `refuted` those after which it has, with its winning
    /// answer. Best first, the search spends its nodes on the defences that look cheapest to
    /// hold; it ends once `safe_wanted` are found, every candidate is settled, or the budget
    /// is spent (the rest are in neither list).
    struct Defences {
        std::vector<int> safe;
        std::vector<std::pair<int, int>> refuted;
    };
    void find_defences(Board& board, Color attacker, bool with_threes, std::size_t three_moves,
                       const std::vector<int>& candidates, std::size_t safe_wanted, SearchBudget& budget,
                       int max_depth, Defences& out);

private:
    struct Node {
        uint32_t proof = 1;
        uint32_t disproof = 1;
        uint32_t first_child = 0;
        uint16_t child_count = 0;
        int16_t move = -1;
    };
    struct Entry;
    struct FreeTable {
        void operator()(Entry* table) const;
    };

    std::vector<Node> nodes_;
    std::unique_ptr<Entry[], FreeTable> table_;  // settled positions, kept from search to search
    std::vector<int> replies_;
    AttackerMoves found_;  // scratch of expand(), kept for its capacity
    bool aborted_ = false;
    bool with_threes_ = false;
    std::size_t three_moves_ = 0;
    uint64_t salt_ = 0;

    uint64_t key(uint64_t hash, bool attacker_to_move) const;
    /// Creates the children of the leaf `at` (the board is at its position) and sets its numbers.
    void expand(uint32_t at, Board& board, Color attacker, bool attacker_to_move, int depth);
    void add_child(Board& board, Color mover, int move, bool child_attacker_to_move, int child_depth,
                   uint32_t proof);
    /// The numbers of an expanded node from its children's.
    void update(Node& node, bool attacker_to_move) const;
    void remember(uint64_t key, int depth, const Node& node);
    void prepare(Color attacker, bool with_threes, std::size_t three_moves);
    /// Expands the most proving leaf under the root, with the root's side to move given, until
    /// the root settles or the budget is spent; `stop_after` is called after each expansion
    /// whose numbers changed all the way up to the root, and ends the search when it returns true.
    template <class StopAfter>
    void run(Board& board, Color attacker, bool root_attacker_to_move, int max_depth, SearchBudget& budget,
             StopAfter stop_after);
};

}  // namespace threat
