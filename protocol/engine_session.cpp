#include "protocol/engine_session.h"

#include <algorithm>
#include <exception>

#include "platform/process.h"
#include "protocol/stop_rules.h"
#include "timing/checkpoint_timer.h"

namespace protocol {

engine_session::engine_session(reply_channel& replies, player_factory factory, folder_lookup executable_folder)
    : replies_(replies),
      factory_(std::move(factory)),
      executable_folder_(std::move(executable_folder)),
      worker_([this] { think_and_reply(); }) {}

void engine_session::engine_start() {
    if (board_width > max_board_size || board_height > max_board_size) {
        clear_game_size();
        replies_.reply("ERROR Maximal board size is %d", max_board_size);
        return;
    }
    release_player();
    model_path = platform::join_path(executable_folder_(), model_relative_path);
    if (create_player()) replies_.reply("OK");
}

bool engine_session::create_player() {
    timing::profile_timer.reset();
    try {
        current_player = factory_(play::player_settings{model_path, board_width, board_height});
        return true;
    } catch (const std::exception& error) {
        current_player.reset();
        clear_game_size();
        const std::string reason = error.what();
        if (reason.find(model_path) != std::string::npos)
            replies_.reply("ERROR cannot load the model: %s", reason.c_str());
        else
            replies_.reply("ERROR cannot load the model %s: %s", model_path.c_str(), reason.c_str());
        return false;
    }
}

void engine_session::release_player() { current_player.reset(); }

void engine_session::think_and_reply() {
    if (!current_player) {
        replies_.reply("ERROR no game is running: the engine has no model loaded");
        return;
    }
    // The turn's clock runs from here: returning memory below may take tens
    // of ms on a large, fragmented heap, and that time is the turn's too.
    timing::CheckpointTimer clock;
    // Under a memory limit, the part of the tree that the last two moves cut
    // off must leave the process before the memory stop reads the resident
    // size; otherwise that size stays at the largest tree ever held and every
    // later think would end after its first step.
    if (max_memory != 0) platform::return_freed_memory();
    const double handicap_ms = first_think ? first_think_handicap(timeout_turn) : 0.0;
    first_think = false;
    stop_rules rules(timeout_turn, handicap_ms);
    // The root solver's shares are of the turn itself: the first think's
    // handicap would leave it nothing, and a forced win or defence found
    // then is worth the few tenths of the turn it may take.
    // The think's own deadlines (the root solver's shares, the end of the
    // checks of its choice) count from now, so the time the memory took is
    // taken off what is planned.
    const auto spent_ms = static_cast<std::int32_t>(clock.elapsed_seconds() * 1000.0);
    current_player->plan_think(
        std::max(1, planned_think_ms(think_limits{timeout_turn, time_left, max_memory}, 0.0) - spent_ms), threat_search);

    std::int32_t x = -1, y = -1;
    bool searched = false;
    try {
        for (int step = 0;; ++step) {
            float win_rate = 0.0f;
            step_report report;
            current_player->search_step(playouts_per_step, report.x, report.y, win_rate, report.share,
                                        report.visits);
            x = report.x;
            y = report.y;
            searched = true;
            const double elapsed_ms = clock.elapsed_seconds() * 1000.0;
            const think_limits limits{timeout_turn, time_left, max_memory};
            const auto resident = limits.max_memory != 0 ? platform::resident_memory_bytes() : std::nullopt;
            if (rules.after_step(report, elapsed_ms, limits, resident)) break;
            if (step + 1 >= max_think_steps) break;
        }
    } catch (const std::exception& error) {
        replies_.reply("ERROR search failed: %s", error.what());
        const bool usable = searched && on_board(x, y) && manager_board[x][y] == empty_cell;
        if (!usable && !fallback_move(x, y)) {
            x = 0;
            y = 0;
        }
    }

    if (on_board(x, y) && manager_board[x][y] == empty_cell) {
        manager_board[x][y] = own_stone;
        current_player->make_move(x, y);
    } else {
        replies_.reply("ERROR my move [%d,%d]", x, y);
    }
    replies_.reply("%d,%d", x, y);
}

bool engine_session::fallback_move(std::int32_t& x, std::int32_t& y) const {
    const std::int32_t width = board_width, height = board_height;
    std::int64_t best_distance = -1;
    for (std::int32_t cx = 0; cx < width; ++cx)
        for (std::int32_t cy = 0; cy < height; ++cy) {
            if (manager_board[cx][cy] != empty_cell) continue;
            const std::int64_t dx = 2 * cx - (width - 1), dy = 2 * cy - (height - 1);
            const std::int64_t distance = dx * dx + dy * dy;
            if (best_distance < 0 || distance < best_distance) {
                best_distance = distance;
                x = cx;
                y = cy;
            }
        }
    return best_distance >= 0;
}

}  // namespace protocol
