#include "tools/bench/think_profile.h"

#include <chrono>
#include <cstdio>
#include <fstream>

#include "protocol/stop_rules.h"
#include "search/eval_cache.h"
#include "search/search_tree.h"
#include "timing/checkpoint_timer.h"
#include "tools/tactics/position_file.h"

namespace bench {
namespace {

// The think routine's step size: playouts per search_step.
constexpr std::int32_t playouts_per_step = 20;
// The engine's checkpoints: the time between evaluations, and the evaluations.
constexpr std::int32_t outside_checkpoint = 0;
constexpr std::int32_t inside_checkpoint = 1;

double total_of(std::int32_t checkpoint) {
    const auto& totals = timing::profile_timer.totals();
    const auto found = totals.find(checkpoint);
    return found == totals.end() ? 0.0 : found->second;
}

play::board_state board_of(const tactics::Position& position, std::int8_t& to_move) {
    play::board_state board;
    to_move = play::black;
    for (const tactics::Point& point : position.moves) {
        play::put_stone(board, to_move, play::make_packed_move(point.y, point.x));
        to_move = static_cast<std::int8_t>(-to_move);
    }
    return board;
}

}  // namespace

bool profile_thinks(eval::Evaluator* evaluator, const std::string& path, std::int32_t playouts, std::int32_t think_ms) {
    std::ifstream in(path);
    std::string error;
    const auto positions = in ? tactics::read_positions(in, &error) : std::nullopt;
    if (!positions) {
        std::fprintf(stderr, "orvalis-bench: cannot read %s %s\n", path.c_str(), error.c_str());
        return false;
    }
    if (playouts > 0) {
        std::printf("\nthink profile: %zu positions of %s, %d playouts each, root solver on %d ms\n",
                    positions->size(), path.c_str(), playouts, think_ms);
    } else {
        std::printf("\nthink profile: %zu positions of %s, each a think of the engine's (stop rules, %d ms)\n",
                    positions->size(), path.c_str(), think_ms);
    }
    std::printf("%-8s %12s %12s %8s\n", "mode", "outside s", "inside s", "ratio");
    for (search::search_mode mode : {search::search_mode::plain, search::search_mode::threat_aware}) {
        search::eval_cache.clear();
        timing::profile_timer.lap(-1);
        const double outside_before = total_of(outside_checkpoint), inside_before = total_of(inside_checkpoint);
        for (const tactics::Position& position : *positions) {
            std::int8_t to_move = play::black;
            const play::board_state board = board_of(position, to_move);
            search::search_tree tree(search::make_root(board, to_move), evaluator, position.width, position.height,
                                     mode);
            tree.plan_think(think_ms);
            if (playouts > 0) {
                for (std::int32_t done = 0; done < playouts; done += playouts_per_step)
                    tree.run_playouts(playouts_per_step);
            } else {
                // The engine's think: steps until its stop rules end it, under
                // the turn time that plans think_ms.
                const protocol::think_limits limits{think_ms * 10 / 9};
                protocol::stop_rules rules(limits.timeout_turn, 0.0);
                const auto start = std::chrono::steady_clock::now();
                for (int step = 0; step < protocol::max_think_steps; ++step) {
                    tree.run_playouts(protocol::playouts_per_step);
                    protocol::step_report report;
                    const play::packed_move move = tree.choose_move(0.0, &report.share, &report.visits);
                    report.x = play::packed_column(move);
                    report.y = play::packed_row(move);
                    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
                    if (rules.after_step(report, elapsed.count(), limits, std::nullopt)) break;
                }
            }
        }
        // The work after the last evaluation belongs to the search too.
        timing::profile_timer.lap(outside_checkpoint);
        const double outside = total_of(outside_checkpoint) - outside_before;
        const double inside = total_of(inside_checkpoint) - inside_before;
        std::printf("%-8s %12.3f %12.3f %8.3f\n", std::string(search::mode_name(mode)).c_str(), outside, inside,
                    outside / inside);
    }
    return true;
}

}  // namespace bench
