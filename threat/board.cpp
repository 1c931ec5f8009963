#include "threat/board.h"

#include "threat/patterns.h"

#include <algorithm>
#include <random>
#include <stdexcept>

namespace threat {

static_assert(kThreatCountsMask == at_least(kOpenThree));

namespace {

void assign_cell(CellSet& cells, int index, bool in) {
    const auto word = static_cast<unsigned>(index) / 64;
    const uint64_t bit = uint64_t{1} << (static_cast<unsigned>(index) % 64);
    cells[word] = (cells[word] & ~bit) | (in ? bit : 0);
}

struct ZobristTable {
    std::array<std::array<uint64_t, kCells>, 2> keys{};
    ZobristTable() {
        std::mt19937_64 rng(0x6f7276616c6973ULL);  // fixed seed: hashes are reproducible run to run
        for (auto& per_color : keys) {
            for (auto& key : per_color) key = rng();
        }
    }
};

const ZobristTable& zobrist() {
    static const ZobristTable table;
    return table;
}

}  // namespace

uint64_t stone_hash(int index, Color color) { return zobrist().keys[color][index]; }

Board::Board(int width, int height) : width_(width), height_(height) {
    if (width < 5 || height < 5 || width > kMaxSide || height > kMaxSide) {
        throw std::invalid_argument("board sides must lie in [5, 20]");
    }
    history_.reserve(static_cast<size_t>(width * height));
    boxes_.reserve(static_cast<size_t>(width * height));
    for (int index = 0; index < kCells; ++index) {
        const int x = column_of(index);
        const int y = row_of(index);
        cells_[index] = on_board(x, y) ? Cell::kEmpty : Cell::kWall;
    }
    // Every key starts all empty; the walls then change their neighbours' keys and counts.
    const uint64_t open_counts = uint64_t{kDirections} << (4 * line_pattern(0));
    for (auto& per_color : counts_) per_color.fill(open_counts);
    for (int index = 0; index < kCells; ++index) {
        if (cells_[index] == Cell::kWall) add_to_neighbour_keys(index, 1, kKeyBlocked, kKeyBlocked);
    }
}

void Board::add_to_neighbour_keys(int index, int sign, int code_for_black, int code_for_white) {
    // A neighbour's key changes by the same amount along every direction; worked out once here,
    // because this loop is most of the cost of a stone placed or taken back in the searches.
    std::array<int, 2 * kFrame> black_delta{};
    std::array<int, 2 * kFrame> white_delta{};
    for (int slot = 0; slot < 2 * kFrame; ++slot) {
        black_delta[slot] = sign * code_for_black * line_key_weight(slot);
        white_delta[slot] = sign * code_for_white * line_key_weight(slot);
    }
    for (int d = 0; d < kDirections; ++d) {
        for (int k = -kFrame; k <= kFrame; ++k) {
            if (k == 0) continue;
            const int centre = index - k * kStep[d];
            if (centre < 0 || centre >= kCells) continue;
            const int slot = line_key_slot(k);
            auto& black_key = keys_[kBlack][d][centre];
            auto& white_key = keys_[kWhite][d][centre];
            const uint16_t old_black = black_key;
            const uint16_t old_white = white_key;
            black_key = static_cast<uint16_t>(black_key + black_delta[slot]);
            white_key = static_cast<uint16_t>(white_key + white_delta[slot]);
            // Only empty cells' counts are read; a stone's cell is recounted when undo() frees it.
            // Subtract first: the old pattern was counted, so no nibble borrows.
            if (cells_[centre] != Cell::kEmpty) continue;
            const uint64_t black_counts = counts_[kBlack][centre] - (uint64_t{1} << (4 * line_pattern(old_black))) +
                                          (uint64_t{1} << (4 * line_pattern(black_key)));
            const uint64_t white_counts = counts_[kWhite][centre] - (uint64_t{1} << (4 * line_pattern(old_white))) +
                                          (uint64_t{1} << (4 * line_pattern(white_key)));
            counts_[kBlack][centre] = black_counts;
            counts_[kWhite][centre] = white_counts;
            assign_cell(threat_cells_[kBlack], centre, (black_counts & kThreatCountsMask) != 0);
            assign_cell(threat_cells_[kWhite], centre, (white_counts & kThreatCountsMask) != 0);
        }
    }
}

void Board::update_threat_bits(int index) {
    const bool is_empty = cells_[index] == Cell::kEmpty;
    for (Color c : {kBlack, kWhite}) {
        assign_cell(threat_cells_[c], index, is_empty && (counts_[c][index] & kThreatCountsMask) != 0);
    }
}

void Board::place(int index, Color color) {
    cells_[index] = color == kBlack ? Cell::kBlackStone : Cell::kWhiteStone;
    update_threat_bits(index);
    if (color == kBlack) {
        add_to_neighbour_keys(index, 1, kKeyOwn, kKeyBlocked);
    } else {
        add_to_neighbour_keys(index, 1, kKeyBlocked, kKeyOwn);
    }
    hash_ ^= stone_hash(index, color);
    const int x = column_of(index);
    const int y = row_of(index);
    if (boxes_.empty()) {
        boxes_.push_back({x, y, x, y});
    } else {
        const Area& last = boxes_.back();
        boxes_.push_back({std::min(last.x0, x), std::min(last.y0, y), std::max(last.x1, x), std::max(last.y1, y)});
    }
    history_.push_back(index);
}

Board::Area Board::area_near_stones(int margin) const {
    if (boxes_.empty()) return {0, 0, width_ - 1, height_ - 1};
    const Area& box = boxes_.back();
    return {std::max(0, box.x0 - margin), std::max(0, box.y0 - margin), std::min(width_ - 1, box.x1 + margin),
            std::min(height_ - 1, box.y1 + margin)};
}

void Board::undo() {
    const int index = history_.back();
    history_.pop_back();
    boxes_.pop_back();
    const Color color = cells_[index] == Cell::kBlackStone ? kBlack : kWhite;
    cells_[index] = Cell::kEmpty;
    if (color == kBlack) {
        add_to_neighbour_keys(index, -1, kKeyOwn, kKeyBlocked);
    } else {
        add_to_neighbour_keys(index, -1, kKeyBlocked, kKeyOwn);
    }
    // The cell's own keys did not change while it held the stone, but its counts were not kept.
    for (Color c : {kBlack, kWhite}) {
        uint64_t counts = 0;
        for (int d = 0; d < kDirections; ++d) counts += uint64_t{1} << (4 * line_pattern(keys_[c][d][index]));
        counts_[c][index] = counts;
    }
    update_threat_bits(index);
    hash_ ^= stone_hash(index, color);
}

std::vector<int> Board::empty_cells() const {
    std::vector<int> cells;
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            if (empty(to_index(x, y))) cells.push_back(to_index(x, y));
        }
    }
    return cells;
}

}  // namespace threat
