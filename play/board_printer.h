// Human-readable text about a game: the board picture, the result line and
// the profile timer's totals. None of it is part of the manager protocol.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "play/board_state.h"

namespace play {

/// "step<stones>", then 20 framed rows labelled 20 (top) to 1, the last stone
/// framed as [#] or [O], and the column letters A to T; every line ends with
/// a newline.
std::string board_picture(const board_state& board);

/// "Game is not over yet." or "Game over! Result: " and BLACK "#" WINS,
/// WHITE "O" WINS or DRAW (no line end).
std::string result_line(const board_state& board);

/// "CP<id>=<seconds>" per checkpoint in ascending id, joined by ", ";
/// empty for no checkpoints.
std::string timer_line(const std::map<std::int32_t, double>& totals);

}  // namespace play
