#include "play/gomoku_player.h"

#include <cstdio>

namespace play {

gomoku_player::~gomoku_player() {
    std::fputs("father delete...\n", stdout);
    std::fflush(stdout);
}

void gomoku_player::plan_think(std::int32_t, bool) {}

}  // namespace play
