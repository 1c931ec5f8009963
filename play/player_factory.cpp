#include "play/player_factory.h"

#include "play/player_son.h"

namespace play {

std::unique_ptr<gomoku_player> create_engine_player(const player_settings& settings) {
    return std::make_unique<player_son>(settings);
}

}  // namespace play
