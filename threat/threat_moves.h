// The moves of a threat search, shared by its two search orders (threat_search.h): the attacker's
// threats at a node and the defender's answers to a threat.
//
// Pure functions of the board; any thread may call them on a board of its own.
#pragma once

#include <cstddef>
#include <vector>

#include "threat/board.h"

namespace threat {

struct ThreatMove {
    int index;
    int priority;
};

/// Priority of a threat that wins by itself: an open four or two fours.
inline constexpr int kFlexFourPriority = 100000;

/// What the attacker, to move, may do.
struct AttackerMoves {
    int five = -1;                 // a cell completing our five: won at once
    int defender_five = -1;        // a cell where the defender completes five
    int defender_five_count = 0;   // must be blocked; two cannot be
    std::vector<ThreatMove> fours;   // most promising first
    std::vector<ThreatMove> threes;  // open threes, most promising first, at most `three_moves`
};

/// One pass over the cells near the stones. Threes are looked for only when `with_threes`.
/// The scan stops at the first five of ours, so the other fields are then incomplete.
void attacker_moves(const Board& board, Color attacker, bool with_threes, std::size_t three_moves,
                    AttackerMoves& moves);

/// How the defender, to move, stands against the attacker's last threat.
enum class Threatened {
    kNothing,     // no five or (with threes) open four to come: the attack has stalled
    kLost,        // two fives to come: no answer
    kAnswerable,  // `replies` holds the answers to try
};

/// The defender's answers: the one block of a five to come; with threes, against an open four to
/// come, every cell on the lines where it would stand (with `tight`, only those that leave the
/// attacker no open four or double four) and each four of the defender's own.
Threatened defender_replies(const Board& board, Color attacker, bool with_threes, bool tight,
                            std::vector<int>& replies);

}  // namespace threat
