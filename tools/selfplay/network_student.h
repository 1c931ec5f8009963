// A network's raw policy as the teacher's student: the move the network would play without
// search (its highest-weighted empty cell). `orvalis-selfplay teach` lets it play some of the
// moves of teacher self-play, so the training data reaches the positions the network's own
// slips lead to, labelled by the teacher.
//
// Ownership and threads: owns its evaluator; one thread at a time, like the evaluator.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "eval/evaluator.h"
#include "teacher/threat_names.h"

namespace selfplay {

class network_student {
public:
    explicit network_student(std::unique_ptr<eval::Evaluator> evaluator);

    /// The network's choice for `to_move` on `board` (a teacher board of at most 20 x 20), as a
    /// teacher cell index; -1 when the board has no empty cell.
    int choose(const teacher::Board& board, teacher::Color to_move);

private:
    std::unique_ptr<eval::Evaluator> evaluator;
    std::array<std::int8_t, eval::board_cells> cells{};
};

}  // namespace selfplay
