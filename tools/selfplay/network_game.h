// One game between network players, each searching with its own tree: the
// engine's search as it plays, with root noise and a temperature for the
// first moves so that games differ.
//
// Thread rules: one game at a time per process (the evaluation cache is
// process-wide and unguarded).
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "eval/evaluator.h"
#include "tools/selfplay/visit_records.h"

namespace selfplay {

struct game_options {
    std::int32_t playouts = 400;      // counted playouts added to the tree before each move
    int sampled_moves = 8;            // moves after the opening drawn at temperature 1
    int min_opening_stones = 0;
    int max_opening_stones = 4;
    int opening_radius = 3;           // opening stones lie this close to a point near the centre
    bool root_noise = true;
};

struct game_outcome {
    std::int8_t winner = 0;           // 1 black, -1 white, 0 draw
    int plies = 0;                    // stones the players placed (the opening excluded)
    std::vector<visit_record> records;  // one per searched move, when recording
};

/// Stones of a random compact opening, black first: (row, column) pairs.
std::vector<std::pair<int, int>> random_opening(const game_options& options, std::mt19937_64& rng);

/// Plays from `opening` to the end. `black` and `white` may be the same
/// evaluator (then one tree serves both sides).
game_outcome play_network_game(eval::Evaluator& black, eval::Evaluator& white,
                               const std::vector<std::pair<int, int>>& opening, const game_options& options,
                               bool record);

}  // namespace selfplay
