// The threat library's board: up to 20 x 20 cells inside a frame of wall cells, with the line
// neighbourhood of every cell kept up to date as stones come and go, so that the threat patterns
// of a cell are one table look-up per direction (see patterns.h).
//
// Ownership and threads: a Board is a plain value owned by whoever plays on it; it is not safe to
// share one Board between threads, but separate Boards are independent.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <vector>

namespace threat {

/// Largest board side; the manager's 20 x 20 and 15 x 15 both fit.
inline constexpr int kMaxSide = 20;
/// Wall cells around the board: a line window reaches four cells either side of its centre.
inline constexpr int kFrame = 4;
inline constexpr int kStride = kMaxSide + 2 * kFrame;
inline constexpr int kCells = kStride * kStride;
inline constexpr int kDirections = 4;
/// Padded-index step of the four line directions: along a row, down a column, the two diagonals.
inline constexpr std::array<int, kDirections> kStep = {1, kStride, kStride + 1, kStride - 1};

/// Layout of a line key (Board::line_key): a base-3 number with one digit per neighbour, the
/// neighbour at offset k (k in -4..-1, 1..4) from the centre in digit line_key_slot(k), coded as
/// below as the key's colour sees it. Base 3, not two bits a neighbour, so that the pattern table
/// has 3^8 entries (6.5 KB, which stays in the first-level cache beside the board) and a stone
/// changes its neighbours' keys by one addition each.
inline constexpr int kKeyEmpty = 0;
inline constexpr int kKeyOwn = 1;
inline constexpr int kKeyBlocked = 2;  // the other colour's stone, or a wall
inline constexpr int kLineKeyCount = 6561;  // 3^8
inline constexpr int line_key_slot(int k) { return k < 0 ? k + kFrame : k + kFrame - 1; }
/// The weight of digit `slot` of a line key: 3^slot.
inline constexpr int line_key_weight(int slot) { return slot == 0 ? 1 : 3 * line_key_weight(slot - 1); }
/// The digit of a line key for the neighbour at `slot`.
inline constexpr int line_key_digit(int key, int slot) { return key / line_key_weight(slot) % 3; }

/// One bit per padded cell index.
inline constexpr int kCellWords = (kCells + 63) / 64;
using CellSet = std::array<uint64_t, kCellWords>;
/// The bits of Board::pattern_counts from the open three upwards (patterns.h: at_least(kOpenThree)).
inline constexpr uint64_t kThreatCountsMask = ~uint64_t{0} << (4 * 5);

enum Color : int8_t { kBlack = 0, kWhite = 1 };
inline constexpr Color other(Color c) { return c == kBlack ? kWhite : kBlack; }

enum class Cell : uint8_t { kEmpty, kBlackStone, kWhiteStone, kWall };

/// Padded index of the cell at (x = column, y = row); valid only for cells on the board.
inline constexpr int to_index(int x, int y) { return (y + kFrame) * kStride + (x + kFrame); }
inline constexpr int column_of(int index) { return index % kStride - kFrame; }
inline constexpr int row_of(int index) { return index / kStride - kFrame; }

class Board {
public:
    /// An empty width x height board; both sides must lie in [5, kMaxSide].
    Board(int width = kMaxSide, int height = kMaxSide);

    int width() const { return width_; }
    int height() const { return height_; }
    bool on_board(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
    Cell at(int index) const { return cells_[index]; }
    bool empty(int index) const { return cells_[index] == Cell::kEmpty; }
    int stone_count() const { return static_cast<int>(history_.size()); }
    /// The side whose turn it is when the colours have alternated from black.
    Color side_to_move() const { return stone_count() % 2 == 0 ? kBlack : kWhite; }
    const std::vector<int>& history() const { return history_; }
    uint64_t hash() const { return hash_; }

    /// The empty cells where a stone of `color` would make an open three or more on some line, one
    /// bit a cell by padded index (bit i%64 of word i/64). Kept with the counts, because the
    /// threat searches look only at such cells and a position has a few dozen of them among the
    /// hundreds near the stones.
    const CellSet& threat_cells(Color color) const { return threat_cells_[color]; }

    /// The 8 neighbours of `index` along `direction`, as `color` sees them, one base-3 digit each.
    uint16_t line_key(Color color, int direction, int index) const {
        return keys_[color][direction][index];
    }

    /// How many of the cell's four lines make each line pattern for `color`: four bits per
    /// pattern, pattern p at bits 4p (patterns.h reads them). Kept up to date by place() and
    /// undo() for the empty cells whose lines a stone touches, because the threat searches read
    /// every cell near the stones at every node, far more often than stones come and go.
    /// Meaningful for empty cells only.
    uint64_t pattern_counts(Color color, int index) const { return counts_[color][index]; }

    /// Places a stone of `color` on an empty board cell. Precondition: empty(index).
    void place(int index, Color color);
    /// Removes the most recently placed stone.
    void undo();

    /// Every empty cell of the board, row by row.
    std::vector<int> empty_cells() const;

    /// The cells within `margin` of the stones' bounding box, clipped to the board, as inclusive
    /// column and row ranges; the whole board when there are no stones. Threats of either side
    /// lie within kFrame of some stone, so scans for them need look no further.
    struct Area {
        int x0, y0, x1, y1;
    };
    Area area_near_stones(int margin = kFrame) const;

private:
    int width_;
    int height_;
    std::array<Cell, kCells> cells_{};
    // keys_[color][direction][cell]: the cell's line neighbourhood for that colour.
    std::array<std::array<std::array<uint16_t, kCells>, kDirections>, 2> keys_{};
    std::array<std::array<uint64_t, kCells>, 2> counts_{};
    std::array<CellSet, 2> threat_cells_{};
    std::vector<int> history_;
    std::vector<Area> boxes_;  // bounding box of the stones after each placement
    uint64_t hash_ = 0;

    /// Adds `sign` times the codes to the keys of the cell's neighbours (a stone placed: +1 with
    /// its codes; taken back: -1 with the same codes) and keeps their counts.
    void add_to_neighbour_keys(int index, int sign, int code_for_black, int code_for_white);
    /// Sets the cell's threat_cells bits from its counts (an empty cell) or clears them (a stone).
    void update_threat_bits(int index);
};

/// Zobrist key of a stone; the board hash is the xor over all its stones.
uint64_t stone_hash(int index, Color color);

/// Calls visit(index) for each empty cell near the stones (Board::area_near_stones), row by row:
/// every cell where a threat of either side can be.
template <typename Visit>
void for_each_empty_near_stones(const Board& board, Visit visit) {
    const Board::Area area = board.area_near_stones();
    for (int y = area.y0; y <= area.y1; ++y) {
        for (int x = area.x0; x <= area.x1; ++x) {
            const int index = to_index(x, y);
            if (board.empty(index)) visit(index);
        }
    }
}

/// Calls visit(index) for each cell of `cells` in increasing index order, which is row by row
/// like for_each_empty_near_stones.
template <typename Visit>
void for_each_cell_in(const CellSet& cells, Visit visit) {
    for (int word = 0; word < kCellWords; ++word) {
        for (uint64_t bits = cells[word]; bits != 0; bits &= bits - 1) {
            visit(word * 64 + std::countr_zero(bits));
        }
    }
}

/// Calls visit(index), row by row, for each empty cell where a stone of `color` makes an open
/// three or more: every cell where a scan for that colour's threes, fours or fives can find one,
/// in the order for_each_empty_near_stones would give them.
template <typename Visit>
void for_each_threat_cell(const Board& board, Color color, Visit visit) {
    for_each_cell_in(board.threat_cells(color), visit);
}

/// As for_each_threat_cell, for the cells where either colour makes an open three or more.
template <typename Visit>
void for_each_threat_cell_of_either(const Board& board, Visit visit) {
    CellSet either;
    for (int word = 0; word < kCellWords; ++word) {
        either[word] = board.threat_cells(kBlack)[word] | board.threat_cells(kWhite)[word];
    }
    for_each_cell_in(either, visit);
}

}  // namespace threat
