#include "protocol/number_scan.h"

#include <limits>

namespace protocol {
namespace {

void skip_blanks(std::string_view& text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
}

bool take(std::string_view& text, char expected) {
    if (text.empty() || text.front() != expected) return false;
    text.remove_prefix(1);
    return true;
}

// Optional sign, then digits; nothing when there is no digit. Saturating.
std::optional<std::int32_t> read_signed_digits(std::string_view& text) {
    std::string_view rest = text;
    bool negative = false;
    if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    if (rest.empty() || rest.front() < '0' || rest.front() > '9') return std::nullopt;
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    while (!rest.empty() && rest.front() >= '0' && rest.front() <= '9') {
        magnitude = magnitude * 10 + (rest.front() - '0');
        if (magnitude > limit) magnitude = limit;
        rest.remove_prefix(1);
    }
    text = rest;
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

}  // namespace

std::optional<std::int32_t> scan_int(std::string_view& text) {
    skip_blanks(text);
    return read_signed_digits(text);
}

std::optional<coordinates> scan_coordinates(std::string_view text) {
    const auto x = scan_int(text);
    if (!x || !take(text, ',')) return std::nullopt;
    const auto y = scan_int(text);
    if (!y) return std::nullopt;
    return coordinates{*x, *y};
}

std::optional<coordinates> scan_size_pair(std::string_view text) {
    const auto width = scan_int(text);
    if (!width) return std::nullopt;
    skip_blanks(text);
    if (!take(text, ',')) return std::nullopt;
    const auto height = scan_int(text);
    if (!height) return std::nullopt;
    return coordinates{*width, *height};
}

std::optional<board_stone> scan_board_stone(std::string_view text) {
    const auto x = scan_int(text);
    if (!x || !take(text, ',')) return std::nullopt;
    const auto y = scan_int(text);
    if (!y || !take(text, ',')) return std::nullopt;
    const auto who = scan_int(text);
    if (!who) return std::nullopt;
    return board_stone{*x, *y, *who};
}

std::int32_t parse_info_integer(std::string_view text) {
    skip_blanks(text);
    return read_signed_digits(text).value_or(0);
}

}  // namespace protocol
