// The search: a tree kept between search steps and between moves, grown by
// playouts, and the choice of the move to play from it.
//
// Ownership: the tree owns its root (and through it every node); the
// evaluator is borrowed from the player and must outlive the tree. Results of
// the evaluator go through the process-wide eval_cache, or through a cache
// the caller lends (use_cache), which must outlive the tree.
//
// Thread rules: not safe for concurrent use. The player calls it from one
// thread at a time (the front-end's main thread for advance, its worker
// thread for searches); no lock is taken.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <random>

#include "eval/evaluator.h"
#include "play/board_state.h"
#include "search/eval_cache.h"
#include "search/playing_area.h"
#include "search/search_mode.h"
#include "search/threat_context.h"
#include "search/tree_node.h"

namespace search {

class search_tree {
public:
    /// Takes the root and borrows `evaluator` (not null). The playing area
    /// (each side at most 20) limits the cells the search may choose: the
    /// announced board when the manager's board is smaller than 20 x 20.
    search_tree(std::unique_ptr<tree_node> root, eval::Evaluator* evaluator,
                std::int32_t area_width = play::board_size, std::int32_t area_height = play::board_size,
                search_mode mode = search_mode::plain);
    search_tree(const search_tree&) = delete;
    search_tree& operator=(const search_tree&) = delete;

    /// One search step: playouts until `n` are counted (evaluations served by
    /// the cache are not counted), then trims the cache. n < 1 only trims.
    /// In the threat-aware mode the first step on a new root runs the root
    /// solver first; playouts that end on a proven node count.
    /// Exceptions of the evaluator or of allocation pass through.
    void run_playouts(std::int32_t n);

    /// The time the coming think may take, in ms: the root solver takes its
    /// shares of it. Without a call, default_think_ms.
    void plan_think(std::int32_t think_ms);

    /// The root solver searches to `caps` alone, with no clock (threat-aware
    /// mode; nothing in the plain mode): a tool's games then replay the same
    /// on any machine, and their cost is set by the caps.
    void use_root_budget(const root_solver_budget& caps);

    /// Evaluations go through `cache` from now on instead of the process-wide
    /// one: a cache is keyed by the position alone, so two networks searching
    /// in one process must not share one.
    void use_cache(evaluation_cache& cache) { cache_ = &cache; }

    /// Draws every random choice of this tree (choose_and_advance and root
    /// noise) from engines seeded with `seed`, so that a tool's game can be
    /// played again. Without it the engine's seeding stands (the calendar
    /// time; root noise from a process-wide source).
    void seed(std::uint64_t seed);

    /// Moves the root to the position after `move`, just played on the game
    /// board for the root's side to move. Keeps the child's subtree when the
    /// move is one of the root's edges; ignores a move onto a stone; otherwise
    /// starts a fresh root (value 0, even when the move ends the game).
    void advance(play::packed_move move);

    /// Frees the current tree (a child moved out of it survives) and installs
    /// `new_root` as the root.
    void set_root(std::unique_ptr<tree_node> new_root);

    /// The move `temperature` picks from the root's visits (0: the most
    /// visited, ties at random), drawn with a freshly seeded engine; the tree
    /// is unchanged. A certain move (certain_move) comes first, reported with
    /// share 1 and certain_visits; in the threat-aware mode moves proven lost
    /// are left out while any other is there. `share` gets the move's share of the children's visits
    /// and `visits` its child's visit count (both 0 when the root has no
    /// edges, in which case the move is (0, 0) and must not be played blindly).
    /// Either pointer may be null.
    play::packed_move choose_move(double temperature, float* share, std::int32_t* visits);

    /// Like choose_move but drawn with the tree's own engine, and the root is
    /// then advanced to the chosen move.
    play::packed_move choose_and_advance(double temperature);

    /// A move that wins by force from the root: the five to make in either
    /// mode, and in the threat-aware mode a proven winning move. (-1, -1)
    /// when there is none.
    play::packed_move certain_move() const;

    const tree_node& root() const { return *root_; }
    search_mode mode() const { return mode_; }
    /// Counters of the threat-aware mode; null in the plain mode.
    const threat_context* threats() const { return threat_.get(); }
    tree_node& root() { return *root_; }
    const playing_area& area() const { return area_; }

    /// Mix Dirichlet noise into each new root's priors. Off unless set.
    bool root_noise = false;

private:
    /// Counts a playout or not: false when the leaf was served by the cache.
    bool run_one_playout();
    /// Evaluates a leaf through the cache or the evaluator. Returns true when
    /// the evaluator was called (the playout counts).
    bool evaluate_leaf(tree_node& leaf);
    /// The network's (or the cache's) array for a position; the node is not
    /// changed. `counted` tells whether the evaluator was called.
    eval::evaluation_array fetch_evaluation(const tree_node& node, bool& counted);

    // The threat-aware mode (threat_playout.cpp, root_solver.cpp). The threat
    // board is at the root's position between playouts and follows the
    // playout's node while it descends.
    bool run_threat_playout();
    bool evaluate_threat_leaf(tree_node& leaf);
    void expand_threat(tree_node& node);
    void prepare_root();
    /// After a step: the move the search would play, checked against the
    /// opponent's win by threats (choice_check.cpp).
    void check_choice();
    /// Searches which of `candidates` (threat board cells) stop the
    /// opponent's win by threats, all in one best-first tree within `nodes`
    /// and `deadline`: the refuted ones are proven lost, and when some are
    /// found to hold, the root keeps to them and to `also_kept` (a cell, or
    /// -1) unless it is refuted (defence_search.cpp). Once per root.
    void hold_to_defences(const std::vector<int>& candidates, std::int64_t nodes,
                          threat::SearchBudget::Clock::time_point deadline, int also_kept = -1);
    void ensure_root_expanded();
    /// Once every root move is proven lost, marks the ones that resist
    /// longest (lost_root.cpp). Once per root.
    void resist_lost_root();

    /// Root noise for the node, from the tree's own source once seeded.
    void noise_root(tree_node& node);

    search_mode mode_;
    evaluation_cache* cache_ = &eval_cache;
    /// Mixed into the cache key on boards smaller than 20 x 20, whose
    /// evaluations differ (the network sees their edge): 0 on 20 x 20.
    std::uint64_t cache_salt_;
    std::optional<std::mt19937> noise_engine_;
    std::unique_ptr<threat_context> threat_;
    std::unique_ptr<tree_node> root_;
    eval::Evaluator* evaluator_;
    playing_area area_;
    std::mt19937 rng_;
    std::uniform_real_distribution<double> unit_{0.0, 1.0};
};

}  // namespace search
