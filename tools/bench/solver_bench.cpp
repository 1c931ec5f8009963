#include "tools/bench/solver_bench.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "search/threat_context.h"
#include "threat/budget.h"
#include "threat/forced_moves.h"
#include "threat/threat_search.h"
#include "tools/bench/bench_positions.h"

namespace bench {
namespace {

using clock_type = std::chrono::steady_clock;

// Node cap of each timed search: enough for a deep threat search to use it
// up on a busy position, small enough that the bench stays short.
constexpr long long solver_node_cap = 300000;
// Repetitions of the cheap leaf check, for a time per call above clock noise.
constexpr int leaf_check_repetitions = 2000;

struct named_board {
    std::string name;
    threat::Board board;
};

threat::Board from_rows(const std::vector<std::string>& rows) {
    threat::Board board;
    for (int y = 0; y < static_cast<int>(rows.size()); ++y) {
        for (int x = 0; x < static_cast<int>(rows[y].size()); ++x) {
            if (rows[y][x] == 'X') board.place(threat::to_index(x, y), threat::kBlack);
            if (rows[y][x] == 'O') board.place(threat::to_index(x, y), threat::kWhite);
        }
    }
    return board;
}

std::vector<named_board> solver_positions() {
    std::vector<named_board> boards;
    for (const bench_position& position : fixed_positions()) {
        named_board named{position.name, threat::Board()};
        for (int cell = 0; cell < play::board_cells; ++cell) {
            const std::int8_t stone = position.board.cells[cell];
            if (stone != play::empty) {
                named.board.place(threat::to_index(cell % play::board_size, cell / play::board_size),
                                  search::threat_colour(stone));
            }
        }
        boards.push_back(std::move(named));
    }
    // Black to move wins by fours through a long chain of broken threes.
    boards.push_back({"fours chain", from_rows({
                                         "",
                                         "",
                                         "",
                                         "",
                                         "",
                                         "......X.X.X.......",
                                         ".......O.O........",
                                         "......X.X.........",
                                         ".......OO.O.......",
                                         "......X.X.X.......",
                                         "........O.........",
                                     })});
    boards.push_back({"crowded fight", from_rows({
                                           "",
                                           "",
                                           "",
                                           "",
                                           "",
                                           ".......O..........",
                                           "......XOX.........",
                                           ".....OXXXO........",
                                           "......XOOX.O......",
                                           ".....O.XO.X.......",
                                           "......X...O.......",
                                       })});
    return boards;
}

}  // namespace

void time_solver() {
    std::printf("\nthreat solver (cap %lld nodes a search)\n%-20s %-7s %-6s %10s %9s %12s %8s\n", solver_node_cap,
                "position", "side", "kind", "nodes", "seconds", "nodes/s", "win at");
    threat::ThreatSolver solver;
    long long total_nodes = 0;
    double total_seconds = 0.0;
    double leaf_seconds = 0.0;
    int leaf_calls = 0;
    for (named_board& named : solver_positions()) {
        for (threat::Color attacker : {threat::kBlack, threat::kWhite}) {
            for (threat::ThreatKind kind : {threat::ThreatKind::kFoursOnly, threat::ThreatKind::kFoursAndThrees}) {
                threat::SearchBudget budget(solver_node_cap, threat::SearchBudget::Clock::time_point::max());
                const auto start = clock_type::now();
                const int win = solver.find_win(named.board, attacker, kind, &budget);
                const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
                total_nodes += budget.nodes();
                total_seconds += seconds;
                std::printf("%-20s %-7s %-6s %10lld %9.4f %12.0f %8s\n", named.name.c_str(),
                            attacker == threat::kBlack ? "black" : "white",
                            kind == threat::ThreatKind::kFoursOnly ? "fours" : "threes",
                            static_cast<long long>(budget.nodes()), seconds, budget.nodes() / seconds,
                            win < 0 ? "-"
                                    : (std::to_string(threat::column_of(win)) + "," + std::to_string(threat::row_of(win)))
                                          .c_str());
            }
        }
        // What each new leaf and expansion pays: the forced-move analysis.
        const auto start = clock_type::now();
        for (int i = 0; i < leaf_check_repetitions; ++i) threat::forced_moves(named.board, threat::kBlack);
        leaf_seconds += std::chrono::duration<double>(clock_type::now() - start).count();
        leaf_calls += leaf_check_repetitions;
    }
    std::printf("solver: %lld nodes in %.3f s, %.0f nodes/s; forced-move analysis %.2f us a call\n", total_nodes,
                total_seconds, total_nodes / total_seconds, 1e6 * leaf_seconds / leaf_calls);
}

}  // namespace bench
