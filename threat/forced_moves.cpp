#include "threat/forced_moves.h"

#include <algorithm>
#include <array>

#include "threat/patterns.h"

namespace threat {
namespace {

bool has_flex_four_cell(const Board& board, Color color) {
    bool found = false;
    for_each_threat_cell(board, color, [&](int index) {
        if (!found && cell_threat(board, color, index).makes_flex_four()) found = true;
    });
    return found;
}

}  // namespace

std::vector<int> four_cells(const Board& board, Color color) {
    std::vector<int> cells;
    for_each_threat_cell(board, color, [&](int index) {
        const CellThreat threat = cell_threat(board, color, index);
        if (!threat.makes_five() && threat.makes_four()) cells.push_back(index);
    });
    return cells;
}

std::vector<int> three_defences(Board& board, Color me) {
    const Color opponent = other(me);
    const std::vector<int> flex = flex_four_cells(board, opponent);
    if (flex.empty()) return {};
    // A stone changes a cell's pattern on a line only from inside that line's window, so every
    // move that spoils all the flex cells lies on the four-making lines of each of them; the
    // union of those windows holds every candidate, and each is then tried.
    std::array<bool, kCells> marked{};
    std::vector<int> candidates;
    for (int cell : flex) add_four_line_cells(board, opponent, cell, marked, candidates);
    std::vector<int> defences;
    for (int cell : candidates) {
        if (cell_threat(board, me, cell).makes_four()) continue;  // added with the fours below
        board.place(cell, me);
        const bool stops = !has_flex_four_cell(board, opponent);
        board.undo();
        if (stops) defences.push_back(cell);
    }
    for (int cell : four_cells(board, me)) defences.push_back(cell);
    std::sort(defences.begin(), defences.end());
    return defences;
}

ForcedMoves forced_moves(Board& board, Color me) {
    ForcedMoves forced;
    if (std::vector<int> fives = five_cells(board, me); !fives.empty()) {
        forced.kind = Forcing::kWinNow;
        forced.cells = std::move(fives);
        return forced;
    }
    const Color opponent = other(me);
    if (std::vector<int> blocks = five_cells(board, opponent); !blocks.empty()) {
        forced.kind = blocks.size() == 1 ? Forcing::kBlockFive : Forcing::kLost;
        forced.cells = std::move(blocks);
        return forced;
    }
    if (!has_flex_four_cell(board, opponent)) return forced;
    forced.cells = three_defences(board, me);
    forced.kind = forced.cells.empty() ? Forcing::kLost : Forcing::kDefendThree;
    return forced;
}

std::vector<int> threat_defences(Board& board, Color me, ThreatSolver& solver, ThreatKind kind,
                                 const std::vector<int>& candidates, long long nodes_each,
                                 SearchBudget::Clock::time_point deadline,
                                 std::vector<std::pair<int, int>>* lost) {
    const Color opponent = other(me);
    std::array<bool, kCells> seen{};
    std::vector<int> defences;
    const bool timed = deadline != SearchBudget::Clock::time_point::max();
    bool out_of_time = false;
    for (int cell : candidates) {
        if (cell < 0 || cell >= kCells || seen[cell] || !board.empty(cell)) continue;
        seen[cell] = true;
        // A search started past the deadline would still spend the nodes the budget
        // runs before it first reads the clock; at the root that is a hundred moves' worth.
        out_of_time = out_of_time || (timed && SearchBudget::Clock::now() >= deadline);
        if (out_of_time) {
            defences.push_back(cell);
            continue;
        }
        board.place(cell, me);
        SearchBudget budget(nodes_each, deadline);
        const int win = solver.find_win(board, opponent, kind, &budget);
        board.undo();
        if (win < 0) {
            defences.push_back(cell);
        } else if (lost) {
            lost->emplace_back(cell, win);
        }
    }
    return defences;
}

}  // namespace threat
