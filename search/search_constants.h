// Constants of the search. They are the engine's settings, not tuned here:
// the network was trained to be searched with exactly these.
#pragma once

#include <cstdint>

namespace search {

/// Weight of the prior term in select_edge.
inline constexpr float c_puct = 3.0f;
/// Smallest normalised prior for which expand (and root noise) creates an edge.
inline constexpr float expansion_floor = 0.0001f;
/// Dirichlet concentration of root noise.
inline constexpr float root_noise_concentration = 0.04f;
/// Share of the root priors that root noise replaces.
inline constexpr float root_noise_weight = 0.25f;
/// At or above this inverse temperature, move choice is greedy.
inline constexpr double greedy_inverse_temperature = 100.0;
/// A move not proven lost is preferred to a proven loss only when it has at
/// least 1/4 of that loss's visits. Given, not tuned: it keeps a barely
/// searched move from replacing the best resistance in a lost position (a
/// loss seen in play: a quiet move far from the fight, the only one not yet
/// proven lost, was reported with share 1 after 141 ms while the blocks,
/// proven lost, had been searched far more; the opponent then won by fours).
inline constexpr std::int64_t lost_resistance_ratio = 4;
/// Visits reported with a certain move (a five, a proven win): far past the
/// think's stability threshold (60 a second of turn time, at least 1000), so
/// that the think stops at its next test.
inline constexpr std::int32_t certain_visits = 1 << 24;

}  // namespace search
