// What a player is told when it is created.
#pragma once

#include <cstdint>
#include <string>

#include "search/search_mode.h"

namespace play {

struct player_settings {
    /// Model file the player's evaluator loads.
    std::string model_path;
    /// The board the manager announced. The player's own board is always
    /// 20 x 20; the search keeps its moves inside this playing area.
    std::int32_t width = 20;
    std::int32_t height = 20;
    /// How the player searches until told otherwise (plan_think).
    search::search_mode mode = search::search_mode::threat_aware;
};

}  // namespace play
