#include "tools/selfplay/visit_records.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>

namespace selfplay {
namespace {

constexpr char file_magic[8] = {'O', 'R', 'V', 'D', 'A', 'T', 'A', '1'};

void put_u16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value & 0xff);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void put_u32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::array<std::uint8_t, header_bytes> visit_file_header(std::uint32_t version) {
    std::array<std::uint8_t, header_bytes> header{};
    std::memcpy(header.data(), file_magic, sizeof file_magic);
    put_u32(header.data() + 8, version);
    put_u32(header.data() + 12, static_cast<std::uint32_t>(version == visit_record_version_2 ? visit_record_bytes_2
                                                                                             : visit_record_bytes));
    put_u32(header.data() + 16, play::board_size);
    return header;
}

std::vector<std::uint8_t> serialize(const visit_record& record) {
    std::vector<std::uint8_t> bytes(visit_record_bytes, 0);
    for (int cell = 0; cell < play::board_cells; ++cell) {
        const std::int8_t stone = record.board.cells[cell];
        if (stone == 0) continue;
        const int plane = stone == record.to_move ? 0 : 1;
        bytes[plane * plane_bytes + cell / 8] |= static_cast<std::uint8_t>(1u << (cell % 8));
    }
    std::uint8_t* tail = bytes.data() + 2 * plane_bytes;
    put_u16(tail, record.move);
    put_u16(tail + 2, static_cast<std::uint16_t>(record.board.stones));
    put_u16(tail + 4, record.game);
    tail[6] = static_cast<std::uint8_t>(record.value);
    tail[7] = record.flags;
    std::uint8_t* shares = tail + 8;
    for (int cell = 0; cell < play::board_cells; ++cell) {
        const double share = std::isfinite(record.policy[cell]) ? std::clamp(double{record.policy[cell]}, 0.0, 1.0) : 0.0;
        put_u16(shares + 2 * cell, static_cast<std::uint16_t>(std::lround(share * policy_scale)));
    }
    bytes[visit_record_bytes - 2] = record.width;
    bytes[visit_record_bytes - 1] = record.height;
    return bytes;
}

long count_visit_records(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return -1;
    const auto size = static_cast<long>(in.tellg());
    if (size < static_cast<long>(header_bytes)) return -1;
    in.seekg(0);
    std::array<std::uint8_t, header_bytes> header{};
    in.read(reinterpret_cast<char*>(header.data()), header_bytes);
    std::size_t record_bytes = visit_record_bytes;
    if (header == visit_file_header(visit_record_version_2)) {
        record_bytes = visit_record_bytes_2;
    } else if (header != visit_file_header()) {
        return -1;
    }
    return (size - static_cast<long>(header_bytes)) / static_cast<long>(record_bytes);
}

}  // namespace selfplay
