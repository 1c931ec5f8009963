#include "tools/loss-audit/loss_audit.h"

#include <algorithm>
#include <chrono>

namespace loss_audit {
namespace {

// A search that stops on nodes alone would also stop on the clock in a rare pathological case; a
// minute a search keeps an audit finite without making its answers depend on the machine's speed.
constexpr auto kSearchDeadline = std::chrono::seconds(60);
constexpr int kAlternativeRadius = 2;

enum class Verdict { kWins, kHolds, kUnknown };

Verdict threats_search(threat::ThreatSolver& solver, threat::Board& board, threat::Color attacker,
                       std::int64_t nodes) {
    threat::SearchBudget allowance(nodes, threat::SearchBudget::Clock::now() + kSearchDeadline);
    if (solver.find_win(board, attacker, threat::ThreatKind::kFoursAndThrees, &allowance) >= 0) return Verdict::kWins;
    return solver.aborted() ? Verdict::kUnknown : Verdict::kHolds;
}

bool near_a_stone(const threat::Board& board, int x, int y) {
    for (int dy = -kAlternativeRadius; dy <= kAlternativeRadius; ++dy)
        for (int dx = -kAlternativeRadius; dx <= kAlternativeRadius; ++dx)
            if (board.on_board(x + dx, y + dy) && !board.empty(threat::to_index(x + dx, y + dy))) return true;
    return false;
}

// Every move `mover` could have played on `board` (mover to move), each answered by the winner's
// threats search.
Alternatives count_alternatives(threat::Board& board, threat::Color mover, const Budget& budget,
                                threat::ThreatSolver& solver) {
    Alternatives out;
    const threat::Board::Area area = board.area_near_stones(kAlternativeRadius);
    for (int y = area.y0; y <= area.y1; ++y) {
        for (int x = area.x0; x <= area.x1; ++x) {
            const int cell = threat::to_index(x, y);
            if (!board.empty(cell) || !near_a_stone(board, x, y)) continue;
            ++out.tried;
            board.place(cell, mover);
            const Verdict verdict = threats_search(solver, board, threat::other(mover), budget.alternative_nodes);
            board.undo();
            if (verdict == Verdict::kHolds) ++out.held;
            if (verdict == Verdict::kUnknown) ++out.unknown;
        }
    }
    return out;
}

}  // namespace

GameAudit audit_game(int width, int height, const std::vector<int>& moves, int opening_stones,
                     threat::Color loser, const Budget& budget, threat::ThreatSolver& solver) {
    GameAudit audit;
    threat::Board board(width, height);
    const threat::Color winner = threat::other(loser);
    int previous = -1;  // the loser's audited move before the current one
    for (int ply = 0; ply < static_cast<int>(moves.size()); ++ply) {
        const threat::Color mover = board.side_to_move();
        if (mover == loser && ply >= opening_stones) {
            board.place(moves[ply], mover);
            if (threats_search(solver, board, winner, budget.attack_nodes) == Verdict::kWins) {
                audit.lost_at = ply;
                board.undo();
                audit.own_win_missed = threats_search(solver, board, loser, budget.attack_nodes) == Verdict::kWins;
                audit.at_loss = count_alternatives(board, loser, budget, solver);
                if (previous >= 0) {
                    // Back to the loser's move before: the winner's reply and that move come off.
                    for (int undone = ply; undone > previous; --undone) board.undo();
                    audit.at_previous = count_alternatives(board, loser, budget, solver);
                }
                return audit;
            }
            previous = ply;
            continue;
        }
        board.place(moves[ply], mover);
    }
    return audit;
}

}  // namespace loss_audit
