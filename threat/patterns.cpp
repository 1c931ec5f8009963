#include "threat/patterns.h"

#include <algorithm>
#include <vector>

namespace threat {
namespace {

// A window of 9 cells along one line; the centre (position 4) holds the stone being judged.
constexpr int kWindow = 2 * kFrame + 1;
constexpr int kCentre = kFrame;
enum WindowCell : uint8_t { kFree = 0, kMine = 1, kBlocked = 2 };
using Window = std::array<uint8_t, kWindow>;

bool five_through_centre(const Window& w) {
    int run = 1;
    for (int i = kCentre - 1; i >= 0 && w[i] == kMine; --i) ++run;
    for (int i = kCentre + 1; i < kWindow && w[i] == kMine; ++i) ++run;
    return run >= 5;
}

bool has_clear_five_window(const Window& w) {
    for (int start = 0; start + 5 <= kWindow; ++start) {
        if (start > kCentre || start + 4 < kCentre) continue;
        bool clear = true;
        for (int i = start; i < start + 5; ++i) clear = clear && w[i] != kBlocked;
        if (clear) return true;
    }
    return false;
}

int encode(const Window& w) {
    int code = 0;
    for (int i = kWindow - 1; i >= 0; --i) code = code * 3 + w[i];
    return code;
}

class PatternTable {
public:
    PatternTable() {
        by_window_.assign(kMemoSize, kUnknown);
        table_.fill(kDead);
        for (int key = 0; key < kLineKeyCount; ++key) {
            Window w{};
            w[kCentre] = kMine;
            for (int slot = 0; slot < 2 * kFrame; ++slot) {
                const int position = slot < kFrame ? slot : slot + 1;
                w[position] = static_cast<uint8_t>(line_key_digit(key, slot));
            }
            table_[key] = classify(w);
        }
    }
    LinePattern operator[](uint16_t key) const { return table_[key]; }

private:
    static constexpr int kMemoSize = 19683;  // 3^9 windows
    static constexpr uint8_t kUnknown = 255;
    std::vector<uint8_t> by_window_;
    std::array<LinePattern, kLineKeyCount> table_{};

    LinePattern classify(Window w) {
        const int code = encode(w);
        if (by_window_[code] != kUnknown) return static_cast<LinePattern>(by_window_[code]);
        LinePattern result = kDead;
        if (five_through_centre(w)) {
            result = kFive;
        } else {
            int completions = 0;
            LinePattern best_next = kDead;
            for (int i = 0; i < kWindow; ++i) {
                if (w[i] != kFree) continue;
                w[i] = kMine;
                if (five_through_centre(w)) {
                    ++completions;
                } else {
                    best_next = std::max(best_next, classify(w));
                }
                w[i] = kFree;
            }
            if (completions >= 2) {
                result = kOpenFour;
            } else if (completions == 1) {
                result = kFour;
            } else if (best_next == kOpenFour) {
                result = kOpenThree;
            } else if (best_next == kFour) {
                result = kThree;
            } else if (best_next == kOpenThree) {
                result = kOpenTwo;
            } else if (best_next == kThree) {
                result = kTwo;
            } else if (has_clear_five_window(w)) {
                result = kOne;
            }
        }
        by_window_[code] = result;
        return result;
    }
};

}  // namespace

namespace detail {
std::array<LinePattern, kLineKeyCount> line_pattern_table = [] {
    std::array<LinePattern, kLineKeyCount> table{};
    const PatternTable builder;
    for (int key = 0; key < kLineKeyCount; ++key) table[key] = builder[static_cast<uint16_t>(key)];
    return table;
}();
}  // namespace detail

void add_four_line_cells(const Board& board, Color color, int cell, std::array<bool, kCells>& marked,
                         std::vector<int>& cells) {
    if (!marked[cell]) cells.push_back(cell);
    marked[cell] = true;
    for (int d = 0; d < kDirections; ++d) {
        if (cell_line_pattern(board, color, d, cell) < kFour) continue;
        for (int k = -kFrame; k <= kFrame; ++k) {
            const int spot = cell + k * kStep[d];
            if (board.empty(spot) && !marked[spot]) {
                marked[spot] = true;
                cells.push_back(spot);
            }
        }
    }
}

CellThreat cell_threat_blocked(const Board& board, Color color, int index, int blocker) {
    const CellThreat threat = cell_threat(board, color, index);
    for (int d = 0; d < kDirections; ++d) {
        for (int k = -kFrame; k <= kFrame; ++k) {
            if (k == 0 || index + k * kStep[d] != blocker) continue;
            const uint16_t key = board.line_key(color, d, index);
            const int slot = line_key_slot(k);
            const auto blocked =
                static_cast<uint16_t>(key + (kKeyBlocked - line_key_digit(key, slot)) * line_key_weight(slot));
            return threat_of_counts(threat.counts - (uint64_t{1} << (4 * line_pattern(key))) +
                                    (uint64_t{1} << (4 * line_pattern(blocked))));
        }
    }
    return threat;  // not on any of the cell's lines within reach
}

int five_cell_on_lines(const Board& board, Color color, int index) {
    for (int d = 0; d < kDirections; ++d) {
        for (int k = -kFrame; k <= kFrame; ++k) {
            const int cell = index + k * kStep[d];
            if (k == 0 || !board.empty(cell)) continue;
            if (line_pattern(board.line_key(color, d, cell)) == kFive) return cell;
        }
    }
    return -1;
}

}  // namespace threat
