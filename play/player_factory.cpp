#include "play/player_factory.h"

#include <stdexcept>

namespace play {

std::unique_ptr<gomoku_player> create_engine_player(const player_settings& settings) {
    throw std::runtime_error(settings.model_path + ": the engine's player is not available in this build");
}

}  // namespace play
