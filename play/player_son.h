// The engine's player: one game on its own 20 x 20 board, searched by a tree
// kept between steps and between moves.
//
// Ownership: owns its evaluator (for its whole life, across new_game), its
// board and its search tree (replaced by new_game, released by
// release_game); the tree borrows the evaluator. The evaluation cache and the
// profile timer belong to the process.
//
// Thread rules: as gomoku_player — one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "eval/evaluator.h"
#include "play/board_state.h"
#include "play/gomoku_player.h"
#include "play/player_settings.h"
#include "search/search_tree.h"

namespace play {

/// Makes the player's evaluator from the engine name and the model path.
using evaluator_factory =
    std::function<std::unique_ptr<eval::Evaluator>(const std::string& name, const std::string& model_path)>;

/// The network evaluator the engine ships with (loads the model file).
std::unique_ptr<eval::Evaluator> make_network_evaluator(const std::string& name, const std::string& model_path);

class player_son final : public gomoku_player {
public:
    /// Builds the evaluator (which may throw: what was built is released and
    /// the exception passes on), an empty board and a tree over it, searching
    /// inside the settings' playing area.
    explicit player_son(const player_settings& settings, const evaluator_factory& make_evaluator = make_network_evaluator);
    ~player_son() override;

    std::int32_t make_move(std::int32_t x, std::int32_t y) override;
    std::int32_t replay_and_move(const std::vector<move_xy>& moves, move_xy& reply_move, float& win_rate) override;
    std::int32_t play_best_move(std::int32_t& x, std::int32_t& y, float& win_rate) override;
    std::int32_t search_step(std::int32_t playouts, std::int32_t& x, std::int32_t& y, float& win_rate,
                             float& share, std::int32_t& visits) override;
    std::int32_t no_op() override;
    std::int32_t copy_cells(std::int8_t* cells) override;
    std::int32_t print_board() override;
    std::int32_t print_result() override;
    bool is_over() override;
    std::int32_t get_tree_colour() override;
    std::int32_t set_tree_colour(std::int32_t colour) override;
    std::int32_t side_to_move() override;
    bool is_free(std::int32_t x, std::int32_t y) override;
    const board_state* get_board() override;
    std::int32_t set_playouts(std::int32_t count) override;
    std::int32_t cache_hits() override;
    std::int32_t new_game(std::int32_t playouts) override;
    std::int32_t release_game() override;
    std::string timer_report() override;
    /// Switching the mode starts a fresh tree on the current position.
    void plan_think(std::int32_t think_ms, bool threat_aware) override;

    /// The search, for tools that drive it directly (self-play). Null after
    /// release_game().
    search::search_tree* tree() { return search.get(); }

private:
    /// A tree over an empty board whose root's side to move is tree_colour.
    void create_search_tree();
    /// Places m for to_move on the board (advancing the tree first when
    /// asked), records it and passes the turn.
    void place(packed_move m, bool advance_tree);
    /// The root's value_sum / visits, kept in last_win_rate.
    float root_win_rate();
    std::int32_t game_state() const;

    static constexpr std::int32_t default_playouts = 100000;

    std::int32_t initial_playouts = default_playouts;
    std::int32_t tree_colour = white;
    std::int32_t playouts = default_playouts;
    float last_win_rate = 0.0f;
    std::unique_ptr<eval::Evaluator> evaluator;
    std::unique_ptr<board_state> board;
    std::unique_ptr<search::search_tree> search;
    std::vector<packed_move> move_record;
    std::vector<std::int8_t> colour_record;
    std::int8_t to_move = black;
    const char* name = "orvalis";
    /// The announced board: the search chooses only cells inside it.
    search::playing_area area;
    search::search_mode mode;
};

}  // namespace play
