#include "tools/tactics/judge.h"

#include "threat/budget.h"
#include "threat/patterns.h"

#include <memory>

namespace tactics {

using threat::Board;
using threat::Color;

Board board_of(const Position& position) {
    Board board(position.width, position.height);
    for (size_t i = 0; i < position.moves.size(); ++i) {
        board.place(index_of(position.moves[i]), i % 2 == 0 ? threat::kBlack : threat::kWhite);
    }
    return board;
}

Color side_to_move(const Position& position) {
    return position.black_to_move() ? threat::kBlack : threat::kWhite;
}

bool has_five(const Board& board) {
    for (int y = 0; y < board.height(); ++y) {
        for (int x = 0; x < board.width(); ++x) {
            const threat::Cell stone = board.at(threat::to_index(x, y));
            if (stone != threat::Cell::kBlackStone && stone != threat::Cell::kWhiteStone) continue;
            for (int step : threat::kStep) {
                // Count from the first stone of each run only; wall cells end every run.
                const int start = threat::to_index(x, y);
                if (board.at(start - step) == stone) continue;
                int run = 0;
                for (int i = start; board.at(i) == stone; i += step) ++run;
                if (run >= 5) return true;
            }
        }
    }
    return false;
}

Verdict Judge::solve(Board& board, Color attacker, std::vector<int>* line, int max_depth) {
    threat::SearchBudget budget(nodes_per_check_, threat::SearchBudget::Clock::time_point::max());
    const int move = solver_.find_win(board, attacker, threat::ThreatKind::kFoursOnly, &budget, line, max_depth);
    if (move >= 0) return Verdict::kYes;
    return solver_.aborted() ? Verdict::kUnknown : Verdict::kNo;
}

Verdict Judge::has_vcf(Board& board, Color attacker) { return solve(board, attacker, nullptr); }

int Judge::shortest_vcf(Board& board, Color attacker) {
    const Verdict any = solve(board, attacker, nullptr);
    if (any != Verdict::kYes) return any == Verdict::kNo ? 0 : -1;
    auto fresh = std::make_unique<threat::ThreatSolver>();
    for (int depth = 1; depth <= threat::kMaxVcfDepth; ++depth) {
        threat::SearchBudget budget(nodes_per_check_, threat::SearchBudget::Clock::time_point::max());
        if (fresh->find_win(board, attacker, threat::ThreatKind::kFoursOnly, &budget, nullptr, depth) >= 0) {
            return depth;
        }
        if (fresh->aborted()) return -1;
    }
    return -1;  // the full-depth search found one; the deepening should have too
}

Verdict Judge::keeps_vcf(Board& board, Color mover, int index) {
    if (!threat::cell_threat(board, mover, index).makes_four()) return Verdict::kNo;
    board.place(index, mover);
    const std::vector<int> fives = threat::five_cells(board, mover);
    Verdict verdict = Verdict::kYes;  // two fives: the opponent, with no four, cannot stop both
    if (fives.size() == 1) {
        board.place(fives.front(), threat::other(mover));
        verdict = solve(board, mover, nullptr);
        board.undo();
    }
    board.undo();
    return verdict;
}

Verdict Judge::defends(Board& board, Color mover, int index, int counter_fours) {
    const Color opponent = threat::other(mover);
    if (threat::cell_threat(board, mover, index).makes_five()) return Verdict::kYes;
    board.place(index, mover);
    Verdict verdict;
    const std::vector<int> own_fives = threat::five_cells(board, mover);
    if (!threat::five_cells(board, opponent).empty()) {
        verdict = Verdict::kNo;  // the opponent's four still stands: it makes five
    } else if (own_fives.size() >= 2) {
        verdict = Verdict::kYes;
    } else if (own_fives.size() == 1) {
        // A four: the block is forced, and then it is our move again against the same threats.
        if (counter_fours == 0) {
            verdict = Verdict::kUnknown;
        } else {
            board.place(own_fives.front(), opponent);
            verdict = has_defence(board, mover, counter_fours - 1);
            board.undo();
        }
    } else {
        const Verdict opponent_wins = solve(board, opponent, nullptr);
        verdict = opponent_wins == Verdict::kUnknown ? Verdict::kUnknown
                  : opponent_wins == Verdict::kYes   ? Verdict::kNo
                                                     : Verdict::kYes;
    }
    board.undo();
    return verdict;
}

Verdict Judge::has_defence(Board& board, Color mover, int counter_fours) {
    const Color opponent = threat::other(mover);
    if (!threat::five_cells(board, mover).empty()) return Verdict::kYes;
    const std::vector<int> opponent_fives = threat::five_cells(board, opponent);
    if (opponent_fives.size() >= 2) return Verdict::kNo;
    if (opponent_fives.size() == 1) return defends(board, mover, opponent_fives.front(), counter_fours);
    std::vector<int> line;
    const Verdict threatened = solve(board, opponent, &line);
    if (threatened != Verdict::kYes) return threatened == Verdict::kNo ? Verdict::kYes : Verdict::kUnknown;
    // The cells of the threat's line defend most often: try them first, then every other cell.
    bool unknown = false;
    std::vector<bool> tried(threat::kCells, false);
    auto try_cell = [&](int cell) {
        if (tried[cell] || !board.empty(cell)) return false;
        tried[cell] = true;
        const Verdict v = defends(board, mover, cell, counter_fours);
        unknown = unknown || v == Verdict::kUnknown;
        return v == Verdict::kYes;
    };
    for (int cell : line) {
        if (try_cell(cell)) return Verdict::kYes;
    }
    for (int cell : board.empty_cells()) {
        if (try_cell(cell)) return Verdict::kYes;
    }
    return unknown ? Verdict::kUnknown : Verdict::kNo;
}

}  // namespace tactics
