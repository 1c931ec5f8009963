// The engine's own player, behind the interface the front-end knows.
#pragma once

#include <memory>

#include "play/gomoku_player.h"
#include "play/player_settings.h"

namespace play {

/// Creates the engine's player: loads the model at `settings.model_path`
/// (throws a descriptive exception when it cannot) and searches inside the
/// announced board.
std::unique_ptr<gomoku_player> create_engine_player(const player_settings& settings);

}  // namespace play
