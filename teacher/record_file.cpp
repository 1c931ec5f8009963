#include "teacher/record_file.h"

#include <cstring>
#include <memory>

namespace teacher {
namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

void put_u16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value & 0xff);
    at[1] = static_cast<uint8_t>(value >> 8);
}
void put_u32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>((value >> (8 * i)) & 0xff);
}
uint16_t get_u16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }

}  // namespace

PositionRecord encode_position(const Board& board, Color to_move) {
    PositionRecord record;
    const Cell own = to_move == kBlack ? Cell::kBlackStone : Cell::kWhiteStone;
    for (int y = 0; y < board.height(); ++y) {
        for (int x = 0; x < board.width(); ++x) {
            const Cell cell = board.at(to_index(x, y));
            if (cell == Cell::kEmpty) continue;
            const int k = y * kRecordSide + x;
            auto& plane = cell == own ? record.own : record.opponent;
            plane[k >> 3] = static_cast<uint8_t>(plane[k >> 3] | (1u << (k & 7)));
        }
    }
    record.ply = static_cast<uint16_t>(board.stone_count());
    return record;
}

std::array<uint8_t, kHeaderBytes> file_header(int board_side) {
    std::array<uint8_t, kHeaderBytes> header{};
    std::memcpy(header.data(), kFileMagic, sizeof kFileMagic);
    put_u32(header.data() + 8, kRecordVersion);
    put_u32(header.data() + 12, static_cast<uint32_t>(kRecordBytes));
    put_u32(header.data() + 16, static_cast<uint32_t>(board_side));
    return header;
}

std::array<uint8_t, kRecordBytes> serialize(const PositionRecord& record) {
    std::array<uint8_t, kRecordBytes> bytes{};
    std::memcpy(bytes.data(), record.own.data(), kPlaneBytes);
    std::memcpy(bytes.data() + kPlaneBytes, record.opponent.data(), kPlaneBytes);
    uint8_t* tail = bytes.data() + 2 * kPlaneBytes;
    put_u16(tail, record.move);
    put_u16(tail + 2, record.ply);
    put_u16(tail + 4, record.game);
    tail[6] = static_cast<uint8_t>(record.value);
    tail[7] = record.flags;
    return bytes;
}

PositionRecord deserialize(const uint8_t* bytes) {
    PositionRecord record;
    std::memcpy(record.own.data(), bytes, kPlaneBytes);
    std::memcpy(record.opponent.data(), bytes + kPlaneBytes, kPlaneBytes);
    const uint8_t* tail = bytes + 2 * kPlaneBytes;
    record.move = get_u16(tail);
    record.ply = get_u16(tail + 2);
    record.game = get_u16(tail + 4);
    record.value = static_cast<int8_t>(tail[6]);
    record.flags = tail[7];
    return record;
}

bool read_record_file(const std::string& path, std::vector<PositionRecord>* records, int board_side) {
    records->clear();
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) return false;
    std::array<uint8_t, kHeaderBytes> header{};
    if (std::fread(header.data(), 1, header.size(), file.get()) != header.size()) return false;
    if (header != file_header(board_side)) return false;
    std::array<uint8_t, kRecordBytes> bytes{};
    while (std::fread(bytes.data(), 1, bytes.size(), file.get()) == bytes.size()) {
        records->push_back(deserialize(bytes.data()));
    }
    return true;
}

bool write_record_file(const std::string& path, const std::vector<PositionRecord>& records,
                       int board_side) {
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) return false;
    const auto header = file_header(board_side);
    bool ok = std::fwrite(header.data(), 1, header.size(), file.get()) == header.size();
    for (const PositionRecord& record : records) {
        const auto bytes = serialize(record);
        ok = ok && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    }
    return ok && std::fflush(file.get()) == 0;
}

}  // namespace teacher
