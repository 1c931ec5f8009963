#include "tools/selfplay/network_student.h"

#include <utility>
#include <vector>

namespace selfplay {

namespace {
constexpr int network_side = 20;  // the network sees a 20 x 20 board; smaller boards sit in its corner
}

network_student::network_student(std::unique_ptr<eval::Evaluator> evaluator) : evaluator(std::move(evaluator)) {}

int network_student::choose(const teacher::Board& board, teacher::Color to_move) {
    cells.fill(0);
    for (int y = 0; y < board.height(); ++y) {
        for (int x = 0; x < board.width(); ++x) {
            const teacher::Cell cell = board.at(teacher::to_index(x, y));
            if (cell == teacher::Cell::kBlackStone) cells[y * network_side + x] = 1;
            if (cell == teacher::Cell::kWhiteStone) cells[y * network_side + x] = -1;
        }
    }
    const std::int8_t side = to_move == teacher::kBlack ? 1 : -1;
    // The network sees past a smaller board's edge what it sees past a 20 x 20 one (the engine's
    // encoding); a run's boards all have one size, so this is a no-op after the first call.
    evaluator->set_board_size(board.width(), board.height());
    const auto results = evaluator->Evaluate({cells.data()}, {side});
    int best = -1;
    float best_weight = 0.0f;
    for (int y = 0; y < board.height(); ++y) {
        for (int x = 0; x < board.width(); ++x) {
            if (!board.empty(teacher::to_index(x, y))) continue;
            const float weight = results.front()[y * network_side + x];
            if (best < 0 || weight > best_weight) {
                best = teacher::to_index(x, y);
                best_weight = weight;
            }
        }
    }
    return best;
}

}  // namespace selfplay
