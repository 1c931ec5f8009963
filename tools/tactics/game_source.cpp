#include "tools/tactics/game_source.h"

#include "teacher/scorer.h"
#include "tools/tactics/judge.h"

namespace tactics {
namespace {

// A compact opening: the first stone within this many cells of the centre, the others within
// this many of the first, as human openings usually are.
constexpr int kOpeningSpread = 2;
constexpr int kOpeningRadius = 3;
constexpr int kMinOpeningStones = 2;
constexpr int kMaxOpeningStones = 6;

}  // namespace

std::vector<int> GameSource::play(const GameOptions& options) {
    threat::Board board(options.side, options.side);
    std::vector<int> moves;
    auto place = [&](int index) {
        board.place(index, board.side_to_move());
        moves.push_back(index);
    };

    const int cx = options.side / 2 - kOpeningSpread + below(2 * kOpeningSpread + 1);
    const int cy = options.side / 2 - kOpeningSpread + below(2 * kOpeningSpread + 1);
    place(threat::to_index(cx, cy));
    const int opening = kMinOpeningStones + below(kMaxOpeningStones - kMinOpeningStones + 1);
    while (static_cast<int>(moves.size()) < opening) {
        const int x = cx - kOpeningRadius + below(2 * kOpeningRadius + 1);
        const int y = cy - kOpeningRadius + below(2 * kOpeningRadius + 1);
        if (board.on_board(x, y) && board.empty(threat::to_index(x, y))) place(threat::to_index(x, y));
    }

    teacher::ThinkLimits limits;
    limits.max_nodes = options.teacher_nodes;
    while (static_cast<int>(moves.size()) < options.max_plies && !has_five(board)) {
        const threat::Color me = board.side_to_move();
        int move = -1;
        if (below(100) < options.teacher_percent) {
            move = teacher_.choose(board, me, limits).index;
        } else {
            const std::vector<teacher::ScoredMove> ranked = teacher::ranked_moves(board, me);
            if (!ranked.empty()) {
                const int choices = std::min<int>(options.slip_choices, static_cast<int>(ranked.size()));
                move = ranked[below(choices)].index;
            }
        }
        if (move < 0) break;  // the board is full
        place(move);
    }
    return moves;
}

}  // namespace tactics
