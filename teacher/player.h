// The teacher's move choice: win at once, stop a five, win by continuous fours, stop the
// opponent's continuous fours, win by continuous threats (fours and open threes), stop the
// opponent's, and otherwise play the best-scored quiet move that leaves the opponent no forced
// win by fours or threats.
//
// Ownership and threads: a Teacher owns its VCF solver (with its tables); one thread per Teacher.
// choose() changes the board while it thinks and restores it before returning.
#pragma once

#include "teacher/threat_names.h"
#include "teacher/scorer.h"

#include <cstdint>
#include <vector>

namespace teacher {

struct ThinkLimits {
    int64_t max_nodes = 200000;
    SearchBudget::Clock::time_point deadline = SearchBudget::Clock::time_point::max();
};

enum class MoveReason { kFive, kBlockFive, kWinByFours, kDefence, kQuiet };

struct MoveChoice {
    int index = -1;
    MoveReason reason = MoveReason::kQuiet;
    /// The quiet moves that were found safe, best first (empty unless the reason is kQuiet);
    /// self-play samples its opening moves from these.
    std::vector<ScoredMove> safe_moves;
};

class Teacher {
public:
    /// Picks a move for `me` on `board` (at least one empty cell). The board is left unchanged.
    MoveChoice choose(Board& board, Color me, const ThinkLimits& limits);

private:
    ThreatSolver solver_;

    /// Defence candidates against an opponent's forced win shown by `threat_line`.
    std::vector<int> defence_candidates(const Board& board, Color me, const std::vector<ScoredMove>& ranked,
                                        const std::vector<int>& threat_line) const;
    /// The candidates (kept in their order) after which the opponent was not shown a forced win:
    /// first by fours, then by threats of growing length, until the deadline. If every candidate
    /// loses at some length, those that lasted longest are kept.
    std::vector<int> survivors(Board& board, Color me, const std::vector<int>& candidates,
                               const ThinkLimits& limits);
};

}  // namespace teacher
