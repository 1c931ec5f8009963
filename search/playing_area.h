// The part of the 20 x 20 board on which the search may place stones.
//
// The manager may announce a board smaller than 20 x 20; the engine's board
// stays 20 x 20, so without this limit the search could choose a cell that
// the manager's board does not have, and the engine would forfeit. Edges are
// created only for cells with column < width and row < height.
#pragma once

#include <algorithm>
#include <cstdint>

#include "play/board_state.h"

namespace search {

struct playing_area {
    std::int32_t width = play::board_size;
    std::int32_t height = play::board_size;

    /// Sizes above 20 mean the whole board (the engine's board is never
    /// larger); sizes below 1 are raised to 1.
    static constexpr playing_area clamped(std::int32_t width, std::int32_t height) {
        return {std::clamp(width, 1, play::board_size), std::clamp(height, 1, play::board_size)};
    }
    constexpr bool contains(std::int32_t row, std::int32_t column) const {
        return row >= 0 && column >= 0 && row < height && column < width;
    }
};

}  // namespace search
