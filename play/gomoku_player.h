// The interface through which the front-end drives the engine.
//
// A player holds one game on its own 20 x 20 board: stones are placed in the
// order of play, whoever plays them, coloured black, white, black, ... by order
// of acceptance; searches are made for whichever side is to move. x is the
// column and y the row, both 0..19; placing operations ignore anything else.
//
// Game state codes returned by placing operations: 2 the game goes on,
// 1 black has five, -1 white has five, 0 draw (full board, no five).
//
// Thread rules: not safe for concurrent use. The front-end calls it from the
// main thread (stones, creation, destruction) and from the worker thread (a
// think), never from both at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace play {

struct board_state;

/// A move in a replayed list: column first, then row.
struct move_xy {
    std::int8_t x = 0;
    std::int8_t y = 0;
};

class gomoku_player {
public:
    /// Writes the line "father delete..." to standard output (with a flush):
    /// every destruction of a player leaves this one line in the protocol stream.
    virtual ~gomoku_player();

    /// Places a stone of the side to move at (x, y) if it is on the board and
    /// empty; otherwise changes nothing. Returns the game state code.
    virtual std::int32_t make_move(std::int32_t x, std::int32_t y) = 0;
    /// Plays a trusted list of legal moves, then searches and plays a reply.
    /// Returns the winner at once if a listed move ends the game, else 2.
    virtual std::int32_t replay_and_move(const std::vector<move_xy>& moves, move_xy& reply_move,
                                         float& win_rate) = 0;
    /// Searches with the configured playout count and plays the best move.
    virtual std::int32_t play_best_move(std::int32_t& x, std::int32_t& y, float& win_rate) = 0;
    /// Adds `playouts` playouts (the configured count when below 1) to the
    /// kept tree and reports the move it would play now, without playing it:
    /// its share of the root's visits and its visit count. Returns 2.
    virtual std::int32_t search_step(std::int32_t playouts, std::int32_t& x, std::int32_t& y,
                                     float& win_rate, float& share, std::int32_t& visits) = 0;
    /// Holds its place in the interface; returns 2.
    virtual std::int32_t no_op() = 0;
    /// Copies the 400 cells, cell index order. Returns 2.
    virtual std::int32_t copy_cells(std::int8_t* cells) = 0;
    /// Writes the board picture to standard output. Returns 2.
    virtual std::int32_t print_board() = 0;
    /// Writes the result line to standard output. Returns 2.
    virtual std::int32_t print_result() = 0;
    virtual bool is_over() = 0;
    virtual std::int32_t get_tree_colour() = 0;
    /// Colour label of the side to move at the root of trees made later. Returns 0.
    virtual std::int32_t set_tree_colour(std::int32_t colour) = 0;
    /// 1 black, -1 white.
    virtual std::int32_t side_to_move() = 0;
    virtual bool is_free(std::int32_t x, std::int32_t y) = 0;
    /// Read access; the player keeps ownership. Null after release_game().
    virtual const board_state* get_board() = 0;
    /// Returns 0.
    virtual std::int32_t set_playouts(std::int32_t count) = 0;
    /// Process-wide count of evaluation cache hits.
    virtual std::int32_t cache_hits() = 0;
    /// Fresh board and tree; keeps the evaluator. Returns 0.
    virtual std::int32_t new_game(std::int32_t playouts) = 0;
    /// Releases board and tree; only new_game() or destruction may follow. Returns 0.
    virtual std::int32_t release_game() = 0;
    /// The profile timer's totals as one line, e.g. "CP0=1.25, CP1=0.5".
    virtual std::string timer_report() = 0;
    /// Before a think: the time it may take (ms) and whether it searches
    /// with the threat solver. A player that cannot use them ignores them.
    virtual void plan_think(std::int32_t think_ms, bool threat_aware);
};

}  // namespace play
