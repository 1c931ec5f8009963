// One game between network players, each searching with its own tree: the
// engine's search as it plays (plain or threat-aware, on a board of 10 to 20
// cells a side), with root noise and a temperature for the first moves so
// that games differ.
//
// Thread rules: one game at a time per process (the evaluation caches are
// unguarded).
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "eval/evaluator.h"
#include "search/eval_cache.h"
#include "search/search_mode.h"
#include "search/threat_constants.h"
#include "tools/selfplay/visit_records.h"

namespace selfplay {

/// The threat-aware root solver's node caps in the tools, which search
/// without a clock: about the nodes the engine's root solver reaches in a
/// 1 s turn (its shares of a 900 ms think at the 1.2 million solver nodes a
/// second orvalis-bench measures: 54k own fours, 43k own threats, 22k for
/// each of the opponent's searches), so that self-play sees what the engine
/// sees in play. Each defence tried gets 5,000 nodes (the engine: 10,000,
/// but within one shared deadline); the search of all defences together
/// 40,000 (its 15% of the think at about 300,000 expansions a second).
inline constexpr search::root_solver_budget tool_root_budget{50000, 45000, 20000, 20000, 5000, 40000, 0, 0, 0, 0, 0};

struct game_options {
    std::int32_t playouts = 400;      // counted playouts added to the tree before each move
    int sampled_moves = 8;            // moves after the opening drawn at temperature 1
    int min_opening_stones = 0;
    int max_opening_stones = 4;
    int opening_radius = 3;           // opening stones lie this close to a point near the centre
    /// A game still on after this many searched moves ends as a draw (0: no
    /// limit). Self-play of the threat-aware search draws most games that
    /// pass 200 plies only when the board is full, and those games made more
    /// than half of its positions.
    int max_plies = 0;
    bool root_noise = true;
    search::search_mode mode = search::search_mode::plain;
    /// The board: the top-left width x height cells of the 20 x 20 grid.
    int width = 20;
    int height = 20;
    /// Seeds every random choice of the game's searches (move draws, root
    /// noise), so that the game can be played again; 0 keeps the engine's
    /// own seeding.
    std::uint64_t search_seed = 0;
};

/// A player of a network game: its evaluator and the cache its searches use.
/// Two different networks must not share a cache (it is keyed by the
/// position alone); the cache must outlive the game.
struct network_player {
    eval::Evaluator& evaluator;
    search::evaluation_cache& cache;
};

struct game_outcome {
    std::int8_t winner = 0;           // 1 black, -1 white, 0 draw
    int plies = 0;                    // stones the players placed (the opening excluded)
    std::vector<visit_record> records;  // one per searched move, when recording
};

/// Stones of a random compact opening near the board's centre, black first:
/// (row, column) pairs; none when the count drawn is 0.
std::vector<std::pair<int, int>> random_opening(const game_options& options, std::mt19937_64& rng);

/// The side of a smaller board for a game: 15 (the manager's other common
/// size) in 3 of 5 draws, otherwise any of 10 to 19.
int small_board_side(std::mt19937_64& rng);

/// Plays from `opening` to the end. `black` and `white` may be the same
/// player (then one tree serves both sides).
game_outcome play_network_game(const network_player& black, const network_player& white,
                               const std::vector<std::pair<int, int>>& opening, const game_options& options,
                               bool record);

}  // namespace selfplay
