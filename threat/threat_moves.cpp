#include "threat/threat_moves.h"

#include <algorithm>
#include <array>

#include "threat/patterns.h"

namespace threat {
namespace {

// A list of distinct empty cells, at most one entry per cell.
class CellList {
public:
    void push_back(int cell) { cells_[size_++] = cell; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const int* begin() const { return cells_.data(); }
    const int* end() const { return cells_.data() + size_; }

private:
    std::array<int, kCells> cells_;  // left uninitialised: only the first size_ are read
    std::size_t size_ = 0;
};

// Highest priority first, ties in scan order. An insertion sort: the lists are short (a few dozen
// at most) and std::stable_sort would take a heap buffer at every node.
void sort_by_priority(std::vector<ThreatMove>& moves) {
    for (std::size_t i = 1; i < moves.size(); ++i) {
        const ThreatMove move = moves[i];
        std::size_t j = i;
        for (; j > 0 && moves[j - 1].priority < move.priority; --j) moves[j] = moves[j - 1];
        moves[j] = move;
    }
}

}  // namespace

void attacker_moves(const Board& board, Color attacker, bool with_threes, std::size_t three_moves,
                    AttackerMoves& moves) {
    // Cleared, not replaced: a caller that keeps one AttackerMoves per depth keeps its capacity.
    moves.five = -1;
    moves.defender_five = -1;
    moves.defender_five_count = 0;
    moves.fours.clear();
    moves.threes.clear();
    const Color defender = other(attacker);
    const uint64_t wanted = at_least(with_threes ? kOpenThree : kFour);
    for_each_threat_cell_of_either(board, [&](int index) {
        if (moves.five >= 0) return;
        const uint64_t defender_counts = board.pattern_counts(defender, index);
        if ((board.pattern_counts(attacker, index) & wanted) == 0 && (defender_counts & at_least(kFive)) == 0) {
            return;  // nothing of either side's that this node looks at
        }
        if (defender_counts & at_least(kFive)) {
            moves.defender_five = index;
            ++moves.defender_five_count;
        }
        const CellThreat threat = cell_threat(board, attacker, index);
        if (threat.makes_five()) {
            moves.five = index;
            return;
        }
        int priority = 10 * threat.open_threes + threat.threes + threat.open_twos;
        if (threat.makes_flex_four()) priority += kFlexFourPriority;
        if (threat.makes_four_three()) priority += 1000;
        if (threat.makes_double_three()) priority += 500;
        if (threat.makes_four()) {
            moves.fours.push_back({index, priority});
        } else if (with_threes && threat.open_threes > 0) {
            moves.threes.push_back({index, priority});
        }
    });
    sort_by_priority(moves.fours);
    sort_by_priority(moves.threes);
    if (moves.threes.size() > three_moves) moves.threes.resize(three_moves);
}

Threatened defender_replies(const Board& board, Color attacker, bool with_threes, bool tight,
                            std::vector<int>& replies) {
    replies.clear();
    const Color defender = other(attacker);
    // On the stack: this runs at every defender node, where heap lists cost more than the scan.
    CellList fives;
    CellList flex;
    CellList defender_fours;
    for_each_threat_cell_of_either(board, [&](int index) {
        if (((board.pattern_counts(attacker, index) | board.pattern_counts(defender, index)) & at_least(kFour)) == 0) {
            return;  // no five, four or open four of either side here
        }
        const CellThreat threat = cell_threat(board, attacker, index);
        if (threat.makes_five()) {
            fives.push_back(index);
        } else if (threat.makes_flex_four()) {
            flex.push_back(index);
        }
        if (with_threes && cell_threat(board, defender, index).makes_four()) defender_fours.push_back(index);
    });

    if (fives.size() >= 2) return Threatened::kLost;
    if (fives.size() == 1) {
        replies.assign(fives.begin(), fives.end());
        return Threatened::kAnswerable;
    }
    if (!with_threes || flex.empty()) return Threatened::kNothing;

    // Any stone on the lines of an open-four cell, within reach of its five, may spoil it; so may
    // any four of ours, which the attacker must answer first.
    std::array<bool, kCells> marked{};
    for (int cell : flex) add_four_line_cells(board, attacker, cell, marked, replies);
    if (tight) {
        // A stone that leaves one of those cells an open four (or double four) loses to it at once.
        std::array<bool, kCells> is_defender_four{};
        for (int index : defender_fours) is_defender_four[index] = true;
        std::erase_if(replies, [&](int reply) {
            if (is_defender_four[reply]) return false;
            return std::any_of(flex.begin(), flex.end(), [&](int cell) {
                return cell != reply && cell_threat_blocked(board, attacker, cell, reply).makes_flex_four();
            });
        });
    }
    for (int index : defender_fours) {
        if (!marked[index]) replies.push_back(index);
    }
    if (replies.empty()) return Threatened::kLost;
    return Threatened::kAnswerable;
}

}  // namespace threat
