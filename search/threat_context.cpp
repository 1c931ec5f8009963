#include "search/threat_context.h"

#include <algorithm>
#include <chrono>

#include "search/threat_constants.h"
#include "search/tree_node.h"

namespace search {
namespace {

// The threat board needs room for a five; a playing area below 5 cells a
// side (which the front-end never announces) is searched on a board of 5.
int threat_side(std::int32_t side) { return std::clamp<int>(side, 5, threat::kMaxSide); }

}  // namespace

std::vector<int> engine_cells(const std::vector<int>& threat_cells) {
    std::vector<int> cells;
    cells.reserve(threat_cells.size());
    for (int index : threat_cells) cells.push_back(play::cell_index(threat::row_of(index), threat::column_of(index)));
    return cells;
}

play::packed_move five_move(const play::board_state& board, std::int8_t colour, const playing_area& area) {
    static constexpr int steps[4][2] = {{0, 1}, {1, 0}, {1, 1}, {1, -1}};
    auto run = [&](int row, int column, int row_step, int column_step) {
        int count = 0;
        for (int k = 1; k < play::winning_line; ++k) {
            const int r = row + k * row_step, c = column + k * column_step;
            if (!area.contains(r, c) || board.cells[play::cell_index(r, c)] != colour) break;
            ++count;
        }
        return count;
    };
    for (int row = 0; row < area.height; ++row) {
        for (int column = 0; column < area.width; ++column) {
            if (board.cells[play::cell_index(row, column)] != play::empty) continue;
            for (const auto& step : steps) {
                if (1 + run(row, column, step[0], step[1]) + run(row, column, -step[0], -step[1]) >= play::winning_line)
                    return play::make_packed_move(row, column);
            }
        }
    }
    return no_move;
}

threat_context::threat_context(const playing_area& area)
    : board(threat_side(area.width), threat_side(area.height)),
      think_ms(default_think_ms),
      side_width_(threat_side(area.width)),
      side_height_(threat_side(area.height)) {
    solver.set_three_moves(solver_three_moves);
    defence_solver.set_three_moves(solver_three_moves);
    defence_solver.set_order(defence_check_order);
}

void threat_context::reset_to(const play::board_state& position) {
    board = threat::Board(side_width_, side_height_);
    for (int row = 0; row < side_height_; ++row) {
        for (int column = 0; column < side_width_; ++column) {
            const std::int8_t stone = position.cells[play::cell_index(row, column)];
            if (stone != play::empty) board.place(threat::to_index(column, row), threat_colour(stone));
        }
    }
    placed_ = 0;
    root_prepared = false;
    opponent_may_win = false;
    defences_searched = false;
    lost_root_ranked = false;
    choices_checked.clear();
    choice_check_time = {};
    playouts_on_root = 0;
}

threat::SearchBudget::Clock::time_point threat_context::share_of_think(int percent) const {
    using clock_type = threat::SearchBudget::Clock;
    if (!clock) return clock_type::time_point::max();
    const auto micros = static_cast<std::int64_t>(think_ms) * 10 * percent;
    return clock_type::now() + std::chrono::microseconds(std::max<std::int64_t>(micros, 0));
}

void threat_context::place(play::packed_move move, std::int8_t colour) {
    board.place(threat_cell(move), threat_colour(colour));
    ++placed_;
}

void threat_context::undo_playout() {
    for (; placed_ > 0; --placed_) board.undo();
}

}  // namespace search
