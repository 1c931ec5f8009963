#include "search/near_cells.h"

#include <algorithm>

namespace search {

cell_set near_cells(const play::board_state& board, const playing_area& area, int radius, int opening_radius) {
    cell_set near;
    auto mark_around = [&](int row, int column, int reach) {
        for (int r = std::max(0, row - reach); r <= std::min(area.height - 1, row + reach); ++r) {
            for (int c = std::max(0, column - reach); c <= std::min(area.width - 1, column + reach); ++c) {
                near.set(static_cast<std::size_t>(play::cell_index(r, c)));
            }
        }
    };
    bool any_stone = false;
    for (int row = 0; row < play::board_size; ++row) {
        for (int column = 0; column < play::board_size; ++column) {
            if (board.cells[play::cell_index(row, column)] == play::empty) continue;
            any_stone = true;
            mark_around(row, column, radius);
        }
    }
    if (!any_stone) mark_around(area.height / 2, area.width / 2, opening_radius);
    return near;
}

}  // namespace search
