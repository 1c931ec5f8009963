// The bench's fixed positions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "play/board_state.h"

namespace bench {

struct bench_position {
    std::string name;
    play::board_state board;
    std::int8_t to_move;
};

/// Empty board, a five-stone opening, a 30-stone middle game; the same in
/// every run.
std::vector<bench_position> fixed_positions();

}  // namespace bench
