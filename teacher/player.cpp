#include "teacher/player.h"

#include <algorithm>
#include <unordered_set>

namespace teacher {
namespace {

using Clock = SearchBudget::Clock;

// Shares (in tenths) of the move's node and time allowance. The own attacks come first because
// they end the game; the checks of candidate moves against the opponent's attacks share the rest.
constexpr int64_t kShareDen = 20;
constexpr int64_t kOwnFoursShare = 3;
constexpr int64_t kOwnThreatsShare = 3;
constexpr int64_t kOpponentThreatShare = 2;
constexpr int64_t kChecksShare = kShareDen - kOwnFoursShare - kOwnThreatsShare - kOpponentThreatShare;
// How many quiet moves (best-scored first) are checked against the opponent's attacks, and how
// many safe ones are kept for self-play to sample from.
constexpr size_t kQuietCandidates = 12;
constexpr size_t kSafeMovesWanted = 5;
// Best-scored moves tried as defences besides the cells of the threat and our own fours.
constexpr size_t kDefenceCandidates = 16;

Clock::time_point part_of(Clock::time_point deadline, int64_t num, int64_t den) {
    if (deadline == Clock::time_point::max()) return deadline;
    const Clock::time_point now = Clock::now();
    if (deadline <= now) return now;
    return now + (deadline - now) * num / den;
}

int64_t share_of(int64_t nodes, int64_t num) { return std::max<int64_t>(1, nodes * num / kShareDen); }

}  // namespace

std::vector<int> Teacher::survivors(Board& board, Color me, const std::vector<int>& candidates,
                                    const ThinkLimits& limits) {
    const Color opponent = other(me);
    std::vector<int> alive = candidates;
    const int64_t nodes_per_check = share_of(limits.max_nodes, kChecksShare) /
                                        static_cast<int64_t>(std::max<size_t>(1, candidates.size())) + 1;
    // Level 0 looks for wins by fours only (cheap, full length); level d > 0 for wins by fours
    // and threes of up to d attacker moves. A win found is a proof, so a candidate dropped stays
    // dropped; a level cut short by the deadline keeps the candidates it did not reach.
    for (int depth = 0; depth <= kMaxVctDepth && alive.size() > 1; depth += (depth == 0 ? 3 : 2)) {
        std::vector<int> next;
        bool cut_short = false;
        for (int move : alive) {
            if (cut_short || Clock::now() >= limits.deadline) {
                cut_short = true;
                next.push_back(move);
                continue;
            }
            board.place(move, me);
            SearchBudget budget(nodes_per_check, limits.deadline);
            const ThreatKind kind = depth == 0 ? ThreatKind::kFoursOnly : ThreatKind::kFoursAndThrees;
            const int max_depth = depth == 0 ? kMaxVcfDepth : depth;
            const bool lost = solver_.find_win(board, opponent, kind, &budget, nullptr, max_depth) >= 0;
            board.undo();
            if (!lost) next.push_back(move);
        }
        if (next.empty()) break;  // all lose at this length: keep those that lasted this long
        alive = std::move(next);
        if (cut_short) break;
    }
    return alive;
}

MoveChoice Teacher::choose(Board& board, Color me, const ThinkLimits& limits) {
    const Color opponent = other(me);
    MoveChoice choice;

    // 1. Finish a five, or stop the opponent's.
    if (const auto fives = five_cells(board, me); !fives.empty()) {
        choice.index = fives.front();
        choice.reason = MoveReason::kFive;
        return choice;
    }
    if (const auto fives = five_cells(board, opponent); !fives.empty()) {
        choice.index = fives.front();
        choice.reason = MoveReason::kBlockFive;
        return choice;
    }

    // 2. A win by continuous fours.
    SearchBudget fours_budget(share_of(limits.max_nodes, kOwnFoursShare),
                              part_of(limits.deadline, kOwnFoursShare, kShareDen));
    if (const int win = solver_.find_win(board, me, ThreatKind::kFoursOnly, &fours_budget); win >= 0) {
        choice.index = win;
        choice.reason = MoveReason::kWinByFours;
        return choice;
    }

    const std::vector<ScoredMove> ranked = ranked_moves(board, me);

    // 3. The opponent threatens to win by fours (an open three is the shortest such threat).
    std::vector<int> threat_line;
    SearchBudget threat_budget(share_of(limits.max_nodes, kOpponentThreatShare),
                               part_of(limits.deadline, kOpponentThreatShare, kShareDen));
    const bool fours_threat =
        solver_.find_win(board, opponent, ThreatKind::kFoursOnly, &threat_budget, &threat_line) >= 0;

    // 4. Unless we must defend against fours, a win by fours and threes.
    if (!fours_threat) {
        SearchBudget threats_budget(share_of(limits.max_nodes, kOwnThreatsShare),
                                    part_of(limits.deadline, kOwnThreatsShare, kShareDen));
        const int win = solver_.find_win(board, me, ThreatKind::kFoursAndThrees, &threats_budget);
        if (win >= 0) {
            choice.index = win;
            choice.reason = MoveReason::kWinByFours;
            return choice;
        }
        SearchBudget second_budget(share_of(limits.max_nodes, kOpponentThreatShare),
                                   part_of(limits.deadline, kOpponentThreatShare, kShareDen));
        solver_.find_win(board, opponent, ThreatKind::kFoursAndThrees, &second_budget, &threat_line);
    }

    // 5. Candidates: defences when the opponent has a forced win, else the best-scored moves;
    //    keep those after which the opponent shows no forced win for the longest.
    std::vector<int> candidates;
    if (!threat_line.empty()) {
        candidates = defence_candidates(board, me, ranked, threat_line);
    } else {
        for (size_t i = 0; i < ranked.size() && i < kQuietCandidates; ++i) candidates.push_back(ranked[i].index);
    }
    const std::vector<int> kept = survivors(board, me, candidates, limits);
    choice.index = kept.empty() ? ranked.front().index : kept.front();
    choice.reason = threat_line.empty() ? MoveReason::kQuiet : MoveReason::kDefence;
    if (threat_line.empty()) {
        for (const ScoredMove& move : ranked) {
            if (choice.safe_moves.size() >= kSafeMovesWanted) break;
            if (std::find(kept.begin(), kept.end(), move.index) != kept.end()) choice.safe_moves.push_back(move);
        }
    }
    return choice;
}

std::vector<int> Teacher::defence_candidates(const Board& board, Color me, const std::vector<ScoredMove>& ranked,
                                             const std::vector<int>& threat_line) const {
    // The cells of the threat itself, every four of ours (it gains a tempo and may break the
    // attack), and the best-scored moves, in order of their score.
    std::unordered_set<int> wanted(threat_line.begin(), threat_line.end());
    for (const ScoredMove& move : ranked) {
        if (cell_threat(board, me, move.index).makes_four()) wanted.insert(move.index);
    }
    std::vector<int> candidates;
    for (size_t i = 0; i < ranked.size(); ++i) {
        if (i < kDefenceCandidates || wanted.count(ranked[i].index)) candidates.push_back(ranked[i].index);
    }
    for (int cell : threat_line) {
        if (board.empty(cell) && std::find(candidates.begin(), candidates.end(), cell) == candidates.end()) {
            candidates.push_back(cell);
        }
    }
    return candidates;
}

}  // namespace teacher
