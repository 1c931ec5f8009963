// Threat patterns of freestyle gomoku (five or more in a row wins).
//
// A line pattern says what one stone placed on an empty cell makes along one direction, judged
// from the cell's 8 neighbours on that line (Board::line_key). Every five that contains the cell
// lies inside that window, so the window decides the pattern exactly:
//   kFive       the stone completes five or more;
//   kOpenFour   afterwards two different cells would complete five (a straight four, or two
//               fours on one line) - the opponent cannot stop both;
//   kFour       afterwards exactly one cell completes five;
//   kOpenThree  one more stone on this line can make an open four;
//   kThree      one more stone can make a four, but no open four;
//   kOpenTwo / kTwo   the same one step further down;
//   kOne        a five through the cell is still possible on this line;
//   kDead       no five through the cell fits on this line.
// The table is built once by brute force over all 3^8 windows and is read-only afterwards, so
// any thread may use it.
#pragma once

#include "threat/board.h"

#include <array>
#include <cstdint>
#include <vector>

namespace threat {

enum LinePattern : uint8_t {
    kDead,
    kOne,
    kTwo,
    kOpenTwo,
    kThree,
    kOpenThree,
    kFour,
    kOpenFour,
    kFive,
    kLinePatternCount
};

namespace detail {
// Filled once before main() by patterns.cpp; nothing reads it during static
// initialisation. Read-only afterwards.
extern std::array<LinePattern, kLineKeyCount> line_pattern_table;
}  // namespace detail

/// What a stone on an empty cell makes along one line, from that line's key (see board.h).
inline LinePattern line_pattern(uint16_t line_key) { return detail::line_pattern_table[line_key]; }

/// What the four line patterns of one cell add up to for one colour.
struct CellThreat {
    uint64_t counts = 0;  // Board::pattern_counts
    int fives = 0;
    int open_fours = 0;
    int fours = 0;       // fours that are not open
    int open_threes = 0;
    int threes = 0;
    int open_twos = 0;

    /// How many of the four lines make pattern `p`.
    int count(LinePattern p) const { return static_cast<int>((counts >> (4 * p)) & 15); }
    bool makes_five() const { return fives > 0; }
    /// Any four, open or not: the opponent must answer at once.
    bool makes_four() const { return open_fours + fours > 0; }
    /// Wins by force unless the opponent already has a four: an open four or two fours.
    bool makes_flex_four() const { return open_fours > 0 || fours >= 2; }
    bool makes_four_three() const { return fours == 1 && open_fours == 0 && open_threes > 0; }
    bool makes_double_three() const { return open_threes >= 2; }
};

/// The counts' bits of the patterns from `p` upwards: a cell whose counts miss this mask makes
/// nothing of that strength on any line, so scans skip it with one test.
inline constexpr uint64_t at_least(LinePattern p) { return ~uint64_t{0} << (4 * p); }

/// The four line patterns' sum from Board::pattern_counts.
inline CellThreat threat_of_counts(uint64_t counts) {
    CellThreat threat;
    threat.counts = counts;
    threat.fives = threat.count(kFive);
    threat.open_fours = threat.count(kOpenFour);
    threat.fours = threat.count(kFour);
    threat.open_threes = threat.count(kOpenThree);
    threat.threes = threat.count(kThree);
    threat.open_twos = threat.count(kOpenTwo);
    return threat;
}

/// Patterns for `color` placing a stone on the empty cell `index`.
inline CellThreat cell_threat(const Board& board, Color color, int index) {
    return threat_of_counts(board.pattern_counts(color, index));
}

/// cell_threat of the empty cell `index` as it would be with a stone of the other colour on the
/// empty cell `blocker` (not `index`): a stone changes only the one line through both cells, so no
/// stone need be placed.
CellThreat cell_threat_blocked(const Board& board, Color color, int index, int blocker);

/// The pattern `color` makes on the empty cell `index` along one direction.
inline LinePattern cell_line_pattern(const Board& board, Color color, int direction, int index) {
    return line_pattern(board.line_key(color, direction, index));
}

/// True when `color` can complete five at once somewhere near `index`'s lines (cheap check of
/// the four line windows through index); used to find the cell that answers a four.
/// Returns the cell, or -1 when there is none.
int five_cell_on_lines(const Board& board, Color color, int index);

/// Appends `cell` and then every empty cell within four steps of it on the lines where `color`
/// makes a four or more there, each once (as `marked` records): the only cells where a stone can
/// spoil that four. Used to answer an open four or double four to come.
void add_four_line_cells(const Board& board, Color color, int cell, std::array<bool, kCells>& marked,
                         std::vector<int>& cells);

}  // namespace threat
