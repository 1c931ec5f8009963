// Training records of network self-play: a position from the side to move,
// the root's visit distribution, the move played and the game's result.
//
// Same file framing as the teacher's records (magic ORVDATA1, 32-byte
// header), version 2, with the visit distribution appended to each record.
// The layout is documented in training/DATA.md and read by training/data.py.
//
// Plain functions over values; any thread, one writer per file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "play/board_state.h"
#include "search/move_choice.h"

namespace selfplay {

inline constexpr std::uint32_t visit_record_version = 2;
inline constexpr std::size_t header_bytes = 32;
inline constexpr int plane_bytes = play::board_cells / 8;
/// Stones (2 x 50), move, ply, game, value, flags (8), then 400 uint16 shares.
inline constexpr std::size_t visit_record_bytes = 2 * plane_bytes + 8 + 2 * play::board_cells;
/// Shares are stored as share * policy_scale, rounded.
inline constexpr double policy_scale = 65535.0;

struct visit_record {
    play::board_state board;        // the position (colours as on the game board)
    std::int8_t to_move = play::black;
    std::uint16_t move = 0;         // the move played, cell row * 20 + column
    std::uint16_t game = 0;         // game number within its file
    std::int8_t value = 0;          // final result for the side to move: 1, 0, -1
    std::uint8_t flags = 0;         // 1: the move was drawn at temperature above 0
    search::move_distribution policy{};  // the root's visit shares
};

inline constexpr std::uint8_t flag_sampled = 1;

std::array<std::uint8_t, header_bytes> visit_file_header();
std::vector<std::uint8_t> serialize(const visit_record& record);

/// Number of whole records in a file with a valid version-2 header; -1 when
/// the file is missing or its header is not ours.
long count_visit_records(const std::string& path);

}  // namespace selfplay
