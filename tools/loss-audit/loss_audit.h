// Where a lost game was lost to threats: the first of the loser's moves after which the winner has a
// forced win by threats, and how many other moves there (and at the loser's move before) would
// have held. Ownership: the caller owns the solver and passes it in; one thread per solver.
#pragma once

#include <cstdint>
#include <vector>

#include "threat/board.h"
#include "threat/threat_search.h"

namespace loss_audit {

/// Nodes of each threats search. Given: the attack search gets more than the engine's root solver
/// spends in a think (300,000), each alternative a little less, so that the audit sees past what the
/// engine could see in play and still audits a game in seconds.
struct Budget {
    std::int64_t attack_nodes = 1000000;
    std::int64_t alternative_nodes = 300000;
};

/// Moves tried instead of the one played: every empty cell within two cells of a stone.
struct Alternatives {
    int tried = 0;
    int held = 0;     // the winner's threats search proved it has no win
    int unknown = 0;  // the search ran out of nodes
};

struct GameAudit {
    /// Index into the moves of the loser's move after which the winner wins by threats; -1 when no
    /// such move was found (the loss came from threats deeper than the budget, or none).
    int lost_at = -1;
    /// Whether the loser had a forced win by threats of its own where it played that move.
    bool own_win_missed = false;
    Alternatives at_loss;      // instead of the move at lost_at
    Alternatives at_previous;  // instead of the loser's move before it (tried 0: none in the game)
};

/// Audits one game: `moves` are padded indices, black first, the first `opening_stones` of them
/// fixed by the match (never audited); `loser` is the colour whose moves are audited.
GameAudit audit_game(int width, int height, const std::vector<int>& moves, int opening_stones,
                     threat::Color loser, const Budget& budget, threat::ThreatSolver& solver);

}  // namespace loss_audit
