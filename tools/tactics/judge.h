// The rules that decide a tactics position's answers, with the threat solver as the judge. The
// generator uses them to compute the answers it writes; the suite's test uses them to check the
// file against the solver of the day.
//
// Ownership and threads: a Judge owns a threat solver; one thread per Judge. Its methods change
// the board while they work and restore it before returning.
#pragma once

#include "threat/board.h"
#include "threat/threat_search.h"
#include "tools/tactics/position_file.h"

#include <cstdint>
#include <vector>

namespace tactics {

/// The position's stones on a threat board of its size, played in the file's order.
/// Precondition: every stone on the board, no cell twice, both sides in [5, 20].
threat::Board board_of(const Position& position);
threat::Color side_to_move(const Position& position);

/// True when some line holds five or more stones of one colour.
bool has_five(const threat::Board& board);

inline Point point_of(int index) { return {threat::column_of(index), threat::row_of(index)}; }
inline int index_of(const Point& p) { return threat::to_index(p.x, p.y); }

enum class Verdict { kYes, kNo, kUnknown };

class Judge {
public:
    /// `nodes_per_check`: the solver's node budget for each question it is asked; a question
    /// that runs out of it is answered kUnknown, never guessed.
    explicit Judge(int64_t nodes_per_check) : nodes_per_check_(nodes_per_check) {}

    /// Does `attacker`, to move, win by continuous fours? (Not counting a five already there.)
    Verdict has_vcf(threat::Board& board, threat::Color attacker);

    /// The fewest attacker moves before the five with which a fresh solver, deepening one move
    /// at a time, finds a win by fours: 1 for an open four at once. 0 when there is none, -1 when
    /// the budget ran out. A fresh solver, because remembered wins would shorten the count.
    int shortest_vcf(threat::Board& board, threat::Color attacker);

    /// For a side to move that has no five and faces no four: does its move at `index` keep a
    /// win by fours? Yes for an open four or two fours; for one four, yes when after the forced
    /// block the side still wins by fours; no for any move that is not a four.
    Verdict keeps_vcf(threat::Board& board, threat::Color mover, int index);

    /// Does `mover`'s move at `index` leave the opponent without a win by fours? A four of the
    /// mover's counts when, after the opponent's forced block, the mover still has a move that
    /// defends (looking through at most `counter_fours` fours of the mover in a row).
    Verdict defends(threat::Board& board, threat::Color mover, int index, int counter_fours = kCounterFours);

    /// Counter-fours followed in a row when judging a defence; a deeper chain of them is
    /// answered kUnknown (and the generator drops the position).
    static constexpr int kCounterFours = 3;

private:
    int64_t nodes_per_check_;
    threat::ThreatSolver solver_;

    /// kYes (a win found), kNo (none within the solver's depth), kUnknown (budget out).
    Verdict solve(threat::Board& board, threat::Color attacker, std::vector<int>* line, int max_depth = -1);
    /// With `mover` to move (no four of its own standing), can it stop the opponent's fours?
    Verdict has_defence(threat::Board& board, threat::Color mover, int counter_fours);
};

}  // namespace tactics
