// Number parsing with the manager protocol's (scanf-like) rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace protocol {

struct coordinates {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

/// One "%d": skips white space, an optional sign, at least one digit.
/// Advances `text` past the number. Values beyond the 32-bit range saturate.
std::optional<std::int32_t> scan_int(std::string_view& text);

/// "x,y": the comma must follow the first number directly; white space may
/// follow the comma. Text after the second number is ignored.
std::optional<coordinates> scan_coordinates(std::string_view text);

/// "w ,h": like scan_coordinates, but white space may also precede the comma.
std::optional<coordinates> scan_size_pair(std::string_view text);

/// "x,y,who" of a BOARD stone line.
struct board_stone {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t who = 0;
};
std::optional<board_stone> scan_board_stone(std::string_view text);

/// Value of a numeric INFO key: optional white space, optional sign, digits
/// up to the first non-digit; 0 when there are none. Saturates at the 32-bit
/// range's ends.
std::int32_t parse_info_integer(std::string_view text);

/// True for the characters scanf treats as white space.
inline bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace protocol
