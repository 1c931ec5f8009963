// Positions for the threat library's tests, drawn as rows of text.
#pragma once

#include <string>
#include <vector>

#include "threat/board.h"

namespace threat_test {

/// Builds a board from rows of text: 'X' black, 'O' white, anything else empty; row 0 is y = 0.
inline threat::Board board_from(const std::vector<std::string>& rows, int side = 20) {
    threat::Board board(side, side);
    for (int y = 0; y < static_cast<int>(rows.size()); ++y) {
        for (int x = 0; x < static_cast<int>(rows[y].size()); ++x) {
            if (rows[y][x] == 'X') board.place(threat::to_index(x, y), threat::kBlack);
            if (rows[y][x] == 'O') board.place(threat::to_index(x, y), threat::kWhite);
        }
    }
    return board;
}

}  // namespace threat_test
