// Games that the tactics generator draws its positions from: the teacher's moves mixed with
// plausible slips (a random pick among the teacher's best-scored quiet moves), so that forced
// wins are left on the board for either side, as in real play between unequal players.
//
// Threads: one thread per GameSource (it owns a Teacher). Deterministic for a given seed.
#pragma once

#include "teacher/player.h"

#include <cstdint>
#include <random>
#include <vector>

namespace tactics {

struct GameOptions {
    int side = 20;
    /// Percent of the moves after the opening that the teacher chooses; the rest are slips.
    int teacher_percent = 70;
    /// The teacher's node allowance a move: small, so that it too misses some long attacks.
    int64_t teacher_nodes = 4000;
    /// A slip is a random pick among this many best-scored moves.
    int slip_choices = 6;
    int max_plies = 120;
};

class GameSource {
public:
    explicit GameSource(uint64_t seed) : rng_(seed) {}

    /// One game's moves as board indices, black first, ending at the first five or at
    /// max_plies. The last move may make five.
    std::vector<int> play(const GameOptions& options);

    /// A number in [0, n); the generator's other random choices come from here too, so one seed
    /// fixes the whole run.
    int below(int n) { return static_cast<int>(rng_() % static_cast<uint64_t>(n)); }

private:
    std::mt19937_64 rng_;  // fully specified by the standard: the same games everywhere
    teacher::Teacher teacher_;
};

}  // namespace tactics
