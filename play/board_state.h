// The game board: a flat 20 x 20 record, the packing of moves, the placing of
// stones and the five-in-a-row rule.
//
// A board_state is a plain value with no pointers inside; the search copies it
// whole into every tree node, and the evaluator reads its cells through a
// pointer to the record (cells come first). Only put_stone and check_five
// write a board after it is created.
//
// Thread rules: none of its own. A board belongs to whoever holds it (the
// player, or one tree node); the functions here touch only the board passed in.
#pragma once

#include <array>
#include <cstdint>
#include <type_traits>

namespace play {

inline constexpr int board_size = 20;
inline constexpr int board_cells = board_size * board_size;
/// Stones in a line that win; a longer line (overline) wins as well.
inline constexpr int winning_line = 5;

inline constexpr std::int8_t black = 1;
inline constexpr std::int8_t white = -1;
inline constexpr std::int8_t empty = 0;

struct board_state {
    /// Colours in cell index order (row * 20 + column): 1 black, -1 white, 0 empty.
    std::int8_t cells[board_cells] = {};
    /// 1 once the last stone placed ended the game (five or a full board).
    std::uint8_t over = 0;
    /// While over: the colour that made five, or 0 for a draw. 0 otherwise.
    std::int8_t winner = 0;
    /// Zobrist hash of the stones, updated by one exclusive-or per stone.
    std::uint64_t hash = 0;
    std::int32_t stones = 0;
    /// The last stone placed; both -1 on an empty board.
    std::int32_t last_row = -1;
    std::int32_t last_col = -1;
};

static_assert(std::is_trivially_copyable_v<board_state>);
static_assert(std::is_standard_layout_v<board_state>);

/// Row in the low 32 bits, column in the high 32 bits, both signed:
/// column * 2^32 + row for non-negative coordinates.
using packed_move = std::int64_t;

constexpr packed_move make_packed_move(std::int32_t row, std::int32_t column) {
    return static_cast<packed_move>((static_cast<std::uint64_t>(static_cast<std::uint32_t>(column)) << 32) |
                                    static_cast<std::uint32_t>(row));
}
constexpr std::int32_t packed_row(packed_move move) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(move)));
}
constexpr std::int32_t packed_column(packed_move move) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(move) >> 32));
}
constexpr int cell_index(std::int32_t row, std::int32_t column) { return row * board_size + column; }
/// True when row and column are both 0..19 (tested as unsigned, so negatives fail).
constexpr bool on_board(std::int32_t row, std::int32_t column) {
    return static_cast<std::uint32_t>(row) < board_size && static_cast<std::uint32_t>(column) < board_size;
}

/// Keys indexed [plane][row][column]; the plane of colour c is (c + 1) / 2
/// (0 white, 1 black). A plane-1 key is the plane-0 key of the same cell with
/// its 32-bit halves exchanged. Fixed for the life of the program.
using zobrist_table = std::array<std::array<std::array<std::uint64_t, board_size>, board_size>, 2>;
extern const zobrist_table zobrist_keys;

/// Places a stone of `colour` at `move`, updating count, last move, hash and
/// the game result. Silently ignores a move off the board or onto a stone.
void put_stone(board_state& board, std::int8_t colour, packed_move move);

/// Recomputes `over` and `winner` from the last stone placed alone: five or
/// more in a line through it wins; otherwise a full board is a draw. A board
/// whose game had ended is not frozen: a later stone recomputes both.
/// Precondition: at least one stone has been placed (put_stone calls it).
void check_five(board_state& board);

}  // namespace play
