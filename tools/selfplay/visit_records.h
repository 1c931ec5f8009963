// Training records of network self-play: a position from the side to move,
// the root's visit distribution, the move played, the game's result (or the
// search's proof) and the board's size.
//
// Same file framing as the teacher's records (magic ORVDATA1, 32-byte
// header), version 3: the version-2 record (visit distribution appended)
// followed by the board's width and height, so that one file may hold games
// of several sizes. The layout is documented in training/DATA.md and read by
// training/data.py.
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

inline constexpr std::uint32_t visit_record_version = 3;
inline constexpr std::size_t header_bytes = 32;
inline constexpr int plane_bytes = play::board_cells / 8;
/// Stones (2 x 50), move, ply, game, value, flags (8), 400 uint16 shares,
/// then the board's width and height (1 byte each).
inline constexpr std::size_t visit_record_bytes = 2 * plane_bytes + 8 + 2 * play::board_cells + 2;
/// Version 2 (20 x 20 only, no size bytes): still recognised, so that a run
/// directory of that version is never overwritten.
inline constexpr std::uint32_t visit_record_version_2 = 2;
inline constexpr std::size_t visit_record_bytes_2 = visit_record_bytes - 2;
/// Shares are stored as share * policy_scale, rounded.
inline constexpr double policy_scale = 65535.0;

struct visit_record {
    play::board_state board;        // the position (colours as on the game board)
    std::int8_t to_move = play::black;
    std::uint16_t move = 0;         // the move played, cell row * 20 + column
    std::uint16_t game = 0;         // game number within its file
    std::int8_t value = 0;          // result for the side to move: 1, 0, -1 (the proof's where proven)
    std::uint8_t flags = 0;         // flag_* below
    search::move_distribution policy{};  // the root's visit shares
    std::uint8_t width = play::board_size;   // the board: cells with row < height and
    std::uint8_t height = play::board_size;  // column < width of the 20 x 20 grid
};

/// The move was drawn at temperature above 0.
inline constexpr std::uint8_t flag_sampled = 1;
/// The search proved the position won, or lost, for the side to move; the
/// value is the proof's rather than the game's.
inline constexpr std::uint8_t flag_proven_win = 2;
inline constexpr std::uint8_t flag_proven_loss = 4;

/// The header of a version-3 file, or of a version-2 one when asked.
std::array<std::uint8_t, header_bytes> visit_file_header(std::uint32_t version = visit_record_version);
std::vector<std::uint8_t> serialize(const visit_record& record);

/// Number of whole records in a file with a valid version-3 (or version-2)
/// header; -1 when the file is missing or its header is not ours.
long count_visit_records(const std::string& path);

}  // namespace selfplay
