// Training records: one position seen from the side to move, the teacher's move and the game's
// result. The byte layout is documented in training/DATA.md and read by training/data.py; the
// two must change together (kRecordVersion).
//
// Plain functions over values; any thread, one writer per file.
#pragma once

#include "teacher/threat_names.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace teacher {

inline constexpr int kRecordSide = 20;  // boards are stored as 20 x 20 whatever the game's size
// A file's games are all on one square board of this side (its header says which), stored in the
// grid's top-left corner; training reads 10 to 20.
inline constexpr int kMinRecordBoardSide = 10;
inline constexpr int kRecordCells = kRecordSide * kRecordSide;
inline constexpr int kPlaneBytes = kRecordCells / 8;
inline constexpr uint32_t kRecordVersion = 1;
inline constexpr size_t kHeaderBytes = 32;
inline constexpr size_t kRecordBytes = 2 * kPlaneBytes + 8;
inline constexpr char kFileMagic[8] = {'O', 'R', 'V', 'D', 'A', 'T', 'A', '1'};

/// Flags of a record.
enum RecordFlag : uint8_t {
    kFlagSampled = 1,    // the game went on with a sampled move, not the teacher's
    kFlagProvenWin = 2,  // the teacher found a forced win for the side to move
    kFlagDefence = 4,    // the teacher was answering an opponent's forced win
    kFlagStudent = 8,    // the game went on with the student's move, not the teacher's
};

struct PositionRecord {
    std::array<uint8_t, kPlaneBytes> own{};       // bit k: a stone of the side to move on cell k
    std::array<uint8_t, kPlaneBytes> opponent{};  // bit k: an opponent stone on cell k
    uint16_t move = 0;   // the teacher's move, cell row * 20 + column
    uint16_t ply = 0;    // stones on the board
    uint16_t game = 0;   // game number within its file
    int8_t value = 0;    // final result for the side to move: 1 won, 0 drawn, -1 lost
    uint8_t flags = 0;
};

/// Cell index (row * 20 + column) of a board cell given by its padded index.
inline int record_cell(int padded_index) { return row_of(padded_index) * kRecordSide + column_of(padded_index); }

/// The stones of `board` seen from `to_move`.
PositionRecord encode_position(const Board& board, Color to_move);

/// The header of a file whose games are played on a board_side x board_side board.
std::array<uint8_t, kHeaderBytes> file_header(int board_side = kRecordSide);
std::array<uint8_t, kRecordBytes> serialize(const PositionRecord& record);
PositionRecord deserialize(const uint8_t* bytes);

/// Reads a whole record file of games on a board_side board; false when it is missing or its
/// header is wrong (another side included). A torn last record (a write cut short) is ignored.
bool read_record_file(const std::string& path, std::vector<PositionRecord>* records,
                      int board_side = kRecordSide);
/// Writes header and records to `path`, replacing it.
bool write_record_file(const std::string& path, const std::vector<PositionRecord>& records,
                       int board_side = kRecordSide);

}  // namespace teacher
