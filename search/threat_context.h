// The threat library's view of the search: a line board that follows the
// playout from the root down, and the solvers with their tables.
//
// Ownership: one per search_tree in the threat-aware mode, owned by the tree.
// Thread rules: the tree's (one thread at a time).
#pragma once

#include <cstdint>
#include <vector>

#include "play/board_state.h"
#include "search/playing_area.h"
#include "search/threat_constants.h"
#include "search/tree_node.h"
#include "threat/board.h"
#include "threat/budget.h"
#include "threat/threat_search.h"

namespace search {

/// The threat board's colour for an engine colour (+1 black, -1 white).
constexpr threat::Color threat_colour(std::int8_t colour) { return colour > 0 ? threat::kBlack : threat::kWhite; }
/// The threat board's cell for an engine move, and back.
constexpr int threat_cell(play::packed_move move) {
    return threat::to_index(play::packed_column(move), play::packed_row(move));
}
/// The threat library answers -1 for "no cell" (a refutation whose winning
/// move was not recovered, say): that is no_move, never a cell off the board.
constexpr play::packed_move engine_move(int threat_index) {
    if (threat_index < 0) return no_move;
    return play::make_packed_move(threat::row_of(threat_index), threat::column_of(threat_index));
}
/// Engine cell indices (row * 20 + column) of threat board cells.
std::vector<int> engine_cells(const std::vector<int>& threat_cells);

/// The engine's move that makes five for `colour` on `board` inside `area`,
/// or no_move when there is none. Scans every cell: for the
/// root only.
play::packed_move five_move(const play::board_state& board, std::int8_t colour, const playing_area& area);

struct threat_context {
    explicit threat_context(const playing_area& area);

    /// Sets the board to `position` (between playouts: the root's).
    void reset_to(const play::board_state& position);
    /// `percent` of the think time from now: a deadline for a part of the
    /// think; none without a clock.
    threat::SearchBudget::Clock::time_point share_of_think(int percent) const;

    /// Plays a playout's step; undo_playout takes back every such step.
    void place(play::packed_move move, std::int8_t colour);
    void undo_playout();

    threat::Board board;
    /// The root's and the leaves' searches for wins.
    threat::ThreatSolver solver;
    /// The checks of our moves against the opponent's win (threat_constants.h:
    /// defence_check_order).
    threat::ThreatSolver defence_solver;
    /// The root solver has run on the current root.
    bool root_prepared = false;
    /// The root solver found the opponent's win by threats, or ran out
    /// before it settled: the move about to be played is worth a check.
    bool opponent_may_win = false;
    /// The search for the moves that stop the opponent's win (defence_search.cpp)
    /// has run on the current root.
    bool defences_searched = false;
    /// The moves of a lost root have been ranked (lost_root.cpp).
    bool lost_root_ranked = false;
    /// Cells of the current root already checked as the search's choice
    /// (choice_check.cpp), in the order of their checks.
    std::vector<int> choices_checked;
    /// The time those checks took.
    threat::SearchBudget::Clock::duration choice_check_time{};
    /// Counted playouts since the root was set.
    std::int64_t playouts_on_root = 0;
    /// Think time the root solver takes its shares of, in ms.
    std::int32_t think_ms;
    /// When the think planned by the last plan_think ends: no check of the
    /// search's choice runs past it.
    threat::SearchBudget::Clock::time_point think_end = threat::SearchBudget::Clock::time_point::max();
    /// The root solver's node caps and shares of think_ms.
    root_solver_budget budget = default_root_budget;
    /// False: the node caps alone bound the root solver, so that a tool's
    /// game replays the same whatever the machine's speed.
    bool clock = true;

    // Counters for the bench tool and the tests.
    std::int64_t leaf_checks = 0;
    std::int64_t leaf_wins = 0;
    std::int64_t choice_refuted = 0;
    std::int64_t defence_searches = 0;
    std::int64_t defences_held = 0;
    std::int64_t solver_nodes = 0;

private:
    int side_width_;
    int side_height_;
    int placed_ = 0;
};

}  // namespace search
