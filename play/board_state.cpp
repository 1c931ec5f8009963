#include "play/board_state.h"

namespace play {

namespace {

// The first four keys of plane 0 (row 0, columns 0..3) are fixed by the
// engine's hash; the rest come from splitmix64 with a fixed seed, which is
// well mixed and needs no table in the source.
constexpr std::uint64_t fixed_first_keys[] = {
    0x216eb9db61c847b5ULL, 0x42aef2f604c98e93ULL, 0xc30ba4760d5e0271ULL, 0xae655e33bdebc0e7ULL};
constexpr std::uint64_t zobrist_seed = 0x4f72766131697321ULL;

constexpr std::uint64_t splitmix64(std::uint64_t& state) {
    state += 0x9e3779b97f4a7c15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

constexpr std::uint64_t swap_halves(std::uint64_t key) { return (key << 32) | (key >> 32); }

constexpr zobrist_table make_zobrist_keys() {
    zobrist_table keys{};
    std::uint64_t state = zobrist_seed;
    for (int row = 0; row < board_size; ++row) {
        for (int column = 0; column < board_size; ++column) {
            const int index = cell_index(row, column);
            const std::uint64_t key = index < 4 ? fixed_first_keys[index] : splitmix64(state);
            keys[0][row][column] = key;
            keys[1][row][column] = swap_halves(key);
        }
    }
    return keys;
}

// The four lines through a stone, each as one step direction (row, column);
// the opposite direction is its negation. Order: anti-diagonal, row, column,
// diagonal.
constexpr int line_steps[4][2] = {{1, -1}, {0, 1}, {1, 0}, {1, 1}};

int count_direction(const board_state& board, int row, int column, int row_step, int column_step,
                    std::int8_t colour) {
    int count = 0;
    for (int k = 1; k < winning_line; ++k) {
        const int r = row + k * row_step;
        const int c = column + k * column_step;
        if (!on_board(r, c) || board.cells[cell_index(r, c)] != colour) break;
        ++count;
    }
    return count;
}

}  // namespace

constexpr zobrist_table zobrist_keys = make_zobrist_keys();

void put_stone(board_state& board, std::int8_t colour, packed_move move) {
    const std::int32_t row = packed_row(move);
    const std::int32_t column = packed_column(move);
    if (!on_board(row, column)) return;
    std::int8_t& cell = board.cells[cell_index(row, column)];
    if (cell != empty) return;
    cell = colour;
    ++board.stones;
    board.last_row = row;
    board.last_col = column;
    board.hash ^= zobrist_keys[(colour + 1) / 2][row][column];
    check_five(board);
}

void check_five(board_state& board) {
    const int row = board.last_row;
    const int column = board.last_col;
    const std::int8_t colour = board.cells[cell_index(row, column)];
    int longest = 0;
    for (const auto& step : line_steps) {
        const int count = 1 + count_direction(board, row, column, step[0], step[1], colour) +
                          count_direction(board, row, column, -step[0], -step[1], colour);
        if (count > longest) longest = count;
    }
    if (longest >= winning_line) {
        board.over = 1;
        board.winner = colour;
    } else if (board.stones == board_cells) {
        board.over = 1;
        board.winner = 0;
    } else {
        board.over = 0;
        board.winner = 0;
    }
}

}  // namespace play
