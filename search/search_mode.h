// The two ways the engine searches.
//
// plain: the prior-guided tree search alone; the network judges every leaf.
// threat_aware: the same tree, with the threat library beside it. Expansion
//   keeps only the moves a threat leaves (our five, the block of a five, the
//   answers to an open three), proven wins and losses back up exactly, new
//   leaves look for a short win by continuous fours, and each new root is
//   searched for forced wins of both sides before the playouts start.
// Both play the five when one is there to make.
#pragma once

#include <optional>
#include <string_view>

namespace search {

enum class search_mode { plain, threat_aware };

/// "plain" or "threat" (the name an INFO setting uses).
constexpr std::string_view mode_name(search_mode mode) { return mode == search_mode::plain ? "plain" : "threat"; }

/// The mode named `name` ("plain" or "threat"), or nothing.
constexpr std::optional<search_mode> mode_named(std::string_view name) {
    if (name == "plain") return search_mode::plain;
    if (name == "threat") return search_mode::threat_aware;
    return std::nullopt;
}

}  // namespace search
