// Budgets of the threat-aware search. Each says where its value comes from.
#pragma once

#include <cstddef>
#include <cstdint>

#include "threat/threat_search.h"

namespace search {

/// Nodes of the continuous-fours search at each new leaf. Measured on the
/// 80 positions of tests/data/tactics, 300 playouts each with the shipped
/// network: 50, 200 and 1000 nodes found 691, 717 and 743 leaf wins in
/// about 11,600 leaf checks, at the same time outside the evaluator (most
/// checks end in a few nodes), so the largest stays.
inline constexpr std::int64_t leaf_vcf_nodes = 1000;

/// Open threes the threat solver tries per attacker node of a threats search.
/// Measured on 60 positions of games lost to the teacher (its win by threats
/// just before and after the engine's move), wins found with 10,000 / 20,000
/// / 300,000 nodes a search: 2 threes 38 / 44 / 51, 3 threes 39 / 51 / 55,
/// 4 threes 29 / 49 / 57, 10 threes 22 / 33 / 60. In play 3 threes did not
/// carry over: against the plain mode at 1 s a move 45-0-20 in 65 games
/// (10 threes: 81-3-18 in 102), against the teacher 103-0-11 in 114 (10
/// threes: 121-0-14 in 135), so the library's width stays.
inline constexpr std::size_t solver_three_moves = threat::kDefaultThreeMoves;

/// Order of the searches that check our moves against the opponent's win
/// (the root's own searches stay depth first). Measured on the 1,960 threats
/// searches of every position of the 60 bench games, both sides attacking:
/// best first by proof numbers found 436 / 486 wins at 5,000 / 20,000 nodes
/// against depth first's 393 / 440, in about the same time at 5,000 nodes;
/// in long searches it runs at half the nodes a second (0.55 against 1.1
/// million at 20,000 nodes), and with it in every threats search the engine
/// scored 174-1-25 against the teacher (200 games) and 74-0-28 against its
/// plain mode (102) at 1 s a move, no gain on depth first's 168-2-30 and
/// 81-3-18, with more time outside the network (0.38, not 0.30).
inline constexpr threat::SearchOrder defence_check_order = threat::SearchOrder::kProofNumber;

/// Root moves, the likeliest by prior, checked against the opponent's win
/// by threats when the root solver's search for it ran out before it
/// settled. Measured on 17 of the engine's 25 losses in 200 games against
/// the teacher at 1 s a move (best-first solver everywhere): in 9 the
/// opponent's win, as if it moved at once, took 14,000 to 39,000 nodes to
/// find (beyond the root's share of the turn), while the move the engine
/// played was refuted in 1,900 to 13,700. With these checks (and the root's
/// own searches depth first again) the engine scored 181-1-18 against the
/// teacher in 200 games (before: 174-1-25) and 74-3-25 against its plain
/// mode in 102, at 1 s a move.
inline constexpr std::size_t likely_moves_checked = 8;

/// The check of the search's current choice against the opponent's win by
/// threats, while the root solver left that win possible: every
/// choice_check_interval counted playouts, the most visited move is checked
/// once it has choice_check_visits visits (a move refuted later needs a
/// quarter of its visits on another before the other is chosen:
/// lost_resistance_ratio); nodes a check, checks a think, and the share of
/// the think in percent that each may take. Given from the losses above (the
/// move played refuted in 1,900 to 13,700 nodes, some in 33,000 to 46,000);
/// measured with them, at 1 s a move: 187-1-12 against the teacher in 200
/// games (without: 181-1-18) and 73-0-29 against the plain mode in 102.
/// All checks of a think share choice_check_total_percent of it (with a
/// clock) or choice_checks_per_think (without one: tools). At first a think
/// had 3 checks: in 7 losses to the teacher replayed at 900 ms, refuted
/// favourites used them up in 3, and the move then played, never checked,
/// fell in 1,400 to 15,000 nodes. The checks that refute end early, so 12%
/// of the think pays for 4 to 12 of them at the cost of the 3 (outside the
/// network in a real think: 0.227 before and after; 16% and 24% with
/// deeper second checks of a persisting choice: 0.31 and 0.34).
inline constexpr std::int64_t choice_check_interval = 20;
inline constexpr std::int32_t choice_check_visits = 32;
inline constexpr std::int64_t choice_check_nodes = 40000;
inline constexpr int choice_checks_per_think = 12;
inline constexpr int choice_check_percent = 4;
inline constexpr int choice_check_total_percent = 12;

/// The cells the threat-aware mode searches first (near_cells.h): within
/// candidate_radius of a stone, and on an empty board within opening_radius
/// of the centre. Given, as in classical gomoku engines: a stone farther
/// than two cells from the others shares no five-cell window with two of
/// them. Measured before: the network alone opened at 0,2 / 9,19 / 0,17 on
/// an empty 20 x 20 board and at 12,14 on 15 x 15 (300 ms a move). With it,
/// at 1 s a move: 185-0-15 against the teacher in 200 games and 76-2-24
/// against the plain mode in 102 (without: 187-1-12 and 73-0-29), no
/// measurable change in strength.
inline constexpr int candidate_radius = 2;
inline constexpr int opening_radius = 1;

/// Smallest prior of an answer to a forced position, so that a defence the
/// network never thought of still gets visits.
inline constexpr float forced_prior_floor = 0.01f;

/// Think time assumed when the front-end gives none (tools at fixed playouts).
inline constexpr std::int32_t default_think_ms = 1000;

/// Moves that stop the opponent's win, found together in one best-first
/// tree (defence_search.cpp), that the root keeps to: the search ends once
/// this many hold. Given: a few options for the network to choose among, at
/// little more cost than one (the search stops once it has them).
inline constexpr std::size_t defences_held_wanted = 3;

/// The root solver's allowance, as shares of the think time in percent and
/// as node caps (the caps bind in tools, which search without a clock).
/// Measured: with shares of 5, 5, 3 (each) and 7 percent and 3,000 nodes a
/// defence, the engine lost 17 of 67 games to its plain mode at 1 s a move;
/// in 16 of them the first sign was an opponent's win by threes that took
/// the solver 5,700 to 970,000 nodes to find, too deep at the 355,000 nodes
/// a second it ran then. Shares of 5, 10, 8 and 15 percent gained nothing
/// measurable over those games. Since the board keeps each cell's pattern
/// counts, the solver runs about 1.2 million nodes a second (orvalis-bench),
/// so the shares below reach two to three times the nodes of the first ones,
/// and the search outside the network stayed under 30% of the time inside it
/// (orvalis-bench --profile tools/bench/data/game_positions.txt: 0.29; 5, 5,
/// 3 and 7 percent 0.34). The checks of the likeliest moves, which spend the
/// defence share in positions where they did not run before, raise it to
/// 0.37 (three runs: 0.369 to 0.376), and with the checks of the choice and
/// the search near the stones it is 0.51. That profile gives each position
/// 400 playouts (about 140 ms of network) against shares of a 900 ms think;
/// thought about as the engine does (--profile-playouts 0: the stop rules
/// end each think, at 900 ms at the latest) it is 0.225 / 0.234 (two runs),
/// the figure a real think shows.
struct root_solver_budget {
    std::int64_t own_vcf_nodes;
    std::int64_t own_vct_nodes;
    std::int64_t opponent_vcf_nodes;
    std::int64_t opponent_vct_nodes;
    std::int64_t defence_nodes_each;
    /// The search of all defences together (defence_search.cpp): nodes and
    /// share of the think, at the root when the opponent's win is found and
    /// after the search's choice is refuted. Measured on the six positions of
    /// 13 losses to the teacher (1 s a move) where the move played lost to a
    /// win by threats that some other move stopped: alone, the moves that
    /// held came out after 9 to 46,000 nodes of the joint tree in four of
    /// them (0-120 ms) and after 200,000 in one. Replayed at 1 s with this
    /// search, the engine played a move that holds in 5 of the 6 (before: 1),
    /// at a 15% and at a 10% share alike; in the real-think profile
    /// (orvalis-bench --profile ... --profile-playouts 0) 10% gives 0.290 of
    /// the network's time outside it and 15% 0.316. Holding also ends the
    /// think sooner (the kept moves share the visits), so the network's own
    /// time falls (14.3 s over the 60 positions, from 19.7 s) while the time
    /// outside it does not rise (4.1 s, from 4.7 s).
    std::int64_t defence_search_nodes;
    int own_vcf_percent;
    int own_vct_percent;
    int opponent_percent;
    int defence_percent;
    int defence_search_percent;
};

/// The ranking of a lost root's moves (lost_root.cpp): nodes of the search
/// for the opponent's win by fours, nodes of each check of a move against it
/// and of all checks together, and the share of the think in percent for all
/// of it. Given: a win by fours is found in a few hundred nodes when there
/// is one, so a refuted move costs little and the caps bind only on the
/// moves that hold. The ranking runs once, when every root move is lost.
struct lost_root_caps {
    std::int64_t attack_nodes;
    std::int64_t defence_nodes_each;
    std::int64_t defence_nodes;
    int percent;
};
inline constexpr lost_root_caps lost_root_budget{20000, 5000, 200000, 5};

inline constexpr root_solver_budget default_root_budget{
    200000, 300000, 100000, 300000, 10000, 300000, 5, 4, 2, 6, 10,
};

}  // namespace search
