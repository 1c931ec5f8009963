// The front-end's state and its glue to the player: engine start, player
// lifecycle, and the think routine the worker runs.
//
// Ownership: the session owns the one player (`current_player`) and the
// worker thread. Thread rules: everything here is for the main thread, after
// await_idle(), except think_and_reply() (the worker, between a request and
// think_done) and the atomic limits and board size (any thread).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "play/gomoku_player.h"
#include "play/player_settings.h"
#include "protocol/reply_channel.h"
#include "protocol/think_worker.h"

namespace protocol {

/// Side of `manager_board`, the largest board whose stones the front-end can
/// record.
inline constexpr std::int32_t manager_board_size = 100;
/// Largest width and height a game may have: the player's board is 20 x 20,
/// so stones beyond it could not be shown to the engine.
inline constexpr std::int32_t max_board_size = 20;
inline constexpr std::int32_t min_board_size = 5;
/// Where the shipped network lies, relative to the executable's folder.
inline constexpr const char* model_relative_path = "models/474/474_ncnn.qvm";

/// Cell codes of `manager_board`.
enum cell_code : std::int32_t { empty_cell = 0, own_stone = 1, opponent_stone = 2, winning_mark = 3 };

/// Makes the player for a game. Replaceable so tests can drive the front-end
/// with a double; may throw (for instance when the model cannot be loaded).
using player_factory = std::function<std::unique_ptr<play::gomoku_player>(const play::player_settings&)>;

/// Supplies the folder of the running executable.
using folder_lookup = std::function<std::string()>;

class engine_session {
public:
    engine_session(reply_channel& replies, player_factory factory, folder_lookup executable_folder);

    /// Starts a game on the size already in `board_width` / `board_height`:
    /// refuses sizes above max_board_size, else replaces the player and
    /// replies "OK" (or one "ERROR ..." line when no player can be made).
    void engine_start();
    /// Makes a new player from `model_path`. On failure: replies one
    /// "ERROR ..." line naming the model, leaves no game, returns false.
    bool create_player();
    /// Destroys the player, if any (its destructor writes "father delete...").
    void release_player();

    /// One think on the worker thread, ending with the move line. Under a
    /// memory limit (max_memory not 0) it first returns freed memory to the
    /// system, then stops as soon as the resident size passes 0.96 x the limit
    /// (stop_rules), so the process stays below the limit between moves.
    void think_and_reply();

    void request_think() { worker_.request_think(); }
    void await_idle() { worker_.await_idle(); }

    bool on_board(std::int32_t x, std::int32_t y) const {
        return x >= 0 && y >= 0 && x < board_width.load() && y < board_height.load();
    }
    /// Marks that no game is running.
    void clear_game_size() {
        board_width = 0;
        board_height = 0;
    }

    reply_channel& replies() { return replies_; }

    // The front-end state. Board size and limits are shared with the worker
    // (and set without waiting), hence atomic.
    std::atomic<std::int32_t> board_width{0};
    std::atomic<std::int32_t> board_height{0};
    std::int32_t manager_board[manager_board_size][manager_board_size] = {};  // [x][y]
    std::atomic<std::int32_t> timeout_turn{30000};
    std::atomic<std::int32_t> time_left{1000000000};
    std::atomic<std::int32_t> max_memory{0};
    /// INFO search_mode: the threat solver beside the tree (default) or not.
    std::atomic<bool> threat_search{true};
    std::unique_ptr<play::gomoku_player> current_player;
    std::string model_path;
    /// The first think of the process ends earlier (first_think_handicap).
    bool first_think = true;

private:
    /// The engine's move after a failed search: the empty cell nearest the
    /// centre, so that a fault never costs the game by itself.
    bool fallback_move(std::int32_t& x, std::int32_t& y) const;

    reply_channel& replies_;
    player_factory factory_;
    folder_lookup executable_folder_;
    think_worker worker_;  // last: its thread uses the members above
};

}  // namespace protocol
