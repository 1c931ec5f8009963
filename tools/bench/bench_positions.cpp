#include "tools/bench/bench_positions.h"

namespace bench {

namespace {

// Stones in play order, black first, (row, column).
constexpr int opening_moves[][2] = {{9, 9}, {9, 10}, {10, 10}, {8, 8}, {10, 9}};

// A middle game drawn once from a fixed sequence: 30 stones on the central
// 12 x 12, no five on the board.
play::board_state middle_game() {
    play::board_state board;
    std::uint64_t state = 0x6d6964646c65ULL;
    std::int8_t colour = play::black;
    while (board.stones < 30) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        const int row = 4 + static_cast<int>((state >> 33) % 12);
        const int column = 4 + static_cast<int>((state >> 45) % 12);
        play::board_state next = board;
        play::put_stone(next, colour, play::make_packed_move(row, column));
        if (next.stones == board.stones || next.over) continue;
        board = next;
        colour = static_cast<std::int8_t>(-colour);
    }
    return board;
}

}  // namespace

std::vector<bench_position> fixed_positions() {
    std::vector<bench_position> positions;
    positions.push_back({"empty board", play::board_state{}, play::black});

    play::board_state opening;
    std::int8_t colour = play::black;
    for (const auto& move : opening_moves) {
        play::put_stone(opening, colour, play::make_packed_move(move[0], move[1]));
        colour = static_cast<std::int8_t>(-colour);
    }
    positions.push_back({"opening (5 stones)", opening, colour});

    positions.push_back({"middle game (30 stones)", middle_game(), play::black});
    return positions;
}

}  // namespace bench
