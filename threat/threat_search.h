// Threat-space search for forced wins.
//
// VCF (victory by continuous fours): the attacker plays only fours, so every defender reply is
// forced. VCT (victory by continuous threats) also lets the attacker play open threes; the
// defender then may answer anywhere that spoils the coming open four, or with a four of its own.
// Both are AND-OR searches: an attacker node is won when one threat wins against every defence.
// A defender four must be blocked at once; the attack goes on from there only if the attacker
// still has a threat standing after the block.
//
// Ownership and threads: a ThreatSolver owns its table of solved positions and borrows the
// budget; use one solver per thread.
#pragma once

#include "threat/board.h"
#include "threat/budget.h"
#include "threat/proof_number_search.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace threat {

/// Longest attack searched, in attacker moves. Fours are cheap (one reply each), so VCF goes
/// deep; threes multiply the replies, so VCT stays short.
inline constexpr int kMaxVcfDepth = 24;
inline constexpr int kMaxVctDepth = 12;

enum class ThreatKind { kFoursOnly, kFoursAndThrees };

/// The order in which a search visits the threats: depth first with iterative deepening (the
/// default), or best first by proof numbers (proof_number_search.h), which settles most wins and
/// refutations in far fewer nodes and keeps its tree in memory (up to 16 MiB).
enum class SearchOrder { kDepthFirst, kProofNumber };


/// Open threes tried per attacker node unless set otherwise: the best few carry nearly every
/// real attack (the teacher searches this wide).
inline constexpr size_t kDefaultThreeMoves = 10;

class ThreatSolver {
public:
    ThreatSolver();
    ~ThreatSolver();

    /// Looks for a forced win of `attacker`, who is to move on `board`. Returns the first move, or
    /// -1 when none was found (within the budget: see aborted()). When `line` is not null it
    /// receives the cells of one line of the proof (attacker and defender alternating), useful
    /// as defence candidates. The board is restored before returning. `budget` may be null.
    int find_win(Board& board, Color attacker, ThreatKind kind, SearchBudget* budget,
                 std::vector<int>* line = nullptr, int max_depth = -1);

    /// Open threes tried per attacker node of a threats search, the most promising first (at
    /// least 1; kDefaultThreeMoves until set). Threes multiply the defender's replies: a narrow
    /// search finds most wins in far fewer nodes and misses a few that a wide one finds.
    void set_three_moves(size_t count) { three_moves_ = count < 1 ? 1 : count; }

    /// How threats searches (kFoursAndThrees) are ordered; fours-only searches stay depth first.
    void set_order(SearchOrder order);

    /// Which of the defender's `candidates` stop the attacker's win by threats, all searched in one
    /// best-first tree whatever the order set (ProofNumberSearch::find_defences). The solver's
    /// table is not used; `aborted()` says whether the budget ran out.
    void find_defences(Board& board, Color attacker, const std::vector<int>& candidates, size_t safe_wanted,
                       SearchBudget* budget, ProofNumberSearch::Defences& out);

    /// True when the last find_win ran out of budget before finishing.
    bool aborted() const { return aborted_; }

private:
    struct Entry;
    std::unique_ptr<Entry[]> table_;  // direct-mapped: solved attacker and defender nodes (depth first)
    SearchBudget* budget_ = nullptr;
    bool aborted_ = false;
    ThreatKind kind_ = ThreatKind::kFoursOnly;
    size_t three_moves_ = kDefaultThreeMoves;
    std::vector<int>* line_ = nullptr;
    std::unique_ptr<ProofNumberSearch> proof_numbers_;  // set when threats searches go best first
    // Move lists of the depth-first search, one per ply below the root, kept for their capacity;
    // a deque so that a deeper ply's growth leaves the shallower plies' lists in place.
    struct PlyScratch {
        AttackerMoves found;
        std::vector<ThreatMove> moves;
        std::vector<int> replies;
    };
    std::deque<PlyScratch> scratch_;
    size_t ply_ = 0;
    PlyScratch& enter_ply();

    bool attacker_node(Board& board, Color attacker, int depth);
    bool defender_node(Board& board, Color attacker, int depth);
    uint64_t threes_salt() const;
    /// 1 won (with *move the winning threat for attacker nodes), 0 refuted, -1 unknown.
    int lookup(uint64_t key, int depth, int* move) const;
    void store(uint64_t key, int depth, bool won, int move);
};

/// Every empty cell where `color` completes five at once.
std::vector<int> five_cells(const Board& board, Color color);

/// Every empty cell where `color` makes an open four or two fours at once.
std::vector<int> flex_four_cells(const Board& board, Color color);

}  // namespace threat
