#include "play/player_son.h"

#include <cstdio>
#include <cstring>

#include "eval/qvr_evaluator.h"
#include "play/board_printer.h"
#include "search/eval_cache.h"
#include "timing/checkpoint_timer.h"

namespace play {
namespace {

bool inside_board(std::int32_t x, std::int32_t y) { return on_board(y, x); }

}  // namespace

std::unique_ptr<eval::Evaluator> make_network_evaluator(const std::string& name, const std::string& model_path) {
    return std::make_unique<eval::QvrEvaluator>(name, model_path);
}

player_son::player_son(const player_settings& settings, const evaluator_factory& make_evaluator)
    : area(search::playing_area::clamped(settings.width, settings.height)), mode(settings.mode) {
    evaluator = make_evaluator(name, settings.model_path);
    evaluator->set_board_size(area.width, area.height);
    board = std::make_unique<board_state>();
    create_search_tree();
}

player_son::~player_son() {
    evaluator.reset();
    board.reset();
    search.reset();
}

void player_son::create_search_tree() {
    search = std::make_unique<search::search_tree>(search::make_root(board_state{}, static_cast<std::int8_t>(tree_colour)),
                                                   evaluator.get(), area.width, area.height, mode);
}

void player_son::plan_think(std::int32_t think_ms, bool threat_aware) {
    const search::search_mode wanted = threat_aware ? search::search_mode::threat_aware : search::search_mode::plain;
    if (search && wanted != mode) {
        // The tree's root is the game's position with the side to move.
        search = std::make_unique<search::search_tree>(search::make_root(*board, to_move), evaluator.get(), area.width,
                                                       area.height, wanted);
    }
    mode = wanted;
    if (search) search->plan_think(think_ms);
}

std::int32_t player_son::game_state() const { return board->over ? board->winner : 2; }

void player_son::place(packed_move m, bool advance_tree) {
    if (advance_tree) search->advance(m);
    put_stone(*board, to_move, m);
    move_record.push_back(m);
    colour_record.push_back(to_move);
    to_move = static_cast<std::int8_t>(-to_move);
}

float player_son::root_win_rate() {
    const auto& root = search->root();
    last_win_rate = root.value_sum / static_cast<float>(root.visits);
    return last_win_rate;
}

std::int32_t player_son::make_move(std::int32_t x, std::int32_t y) {
    if (inside_board(x, y) && board->cells[cell_index(y, x)] == empty) place(make_packed_move(y, x), true);
    return game_state();
}

std::int32_t player_son::replay_and_move(const std::vector<move_xy>& moves, move_xy& reply_move, float& win_rate) {
    for (const move_xy& move : moves) {
        place(make_packed_move(move.y, move.x), true);
        if (board->over) return board->winner;
    }
    std::int32_t x = -1, y = -1;
    play_best_move(x, y, win_rate);
    reply_move.x = static_cast<std::int8_t>(x);
    reply_move.y = static_cast<std::int8_t>(y);
    return 2;
}

std::int32_t player_son::play_best_move(std::int32_t& x, std::int32_t& y, float& win_rate) {
    search->run_playouts(playouts);
    win_rate = root_win_rate();
    const packed_move m = search->choose_and_advance(0.0);
    place(m, false);
    x = packed_column(m);
    y = packed_row(m);
    return game_state();
}

std::int32_t player_son::search_step(std::int32_t step_playouts, std::int32_t& x, std::int32_t& y, float& win_rate,
                                     float& share, std::int32_t& visits) {
    search->run_playouts(step_playouts >= 1 ? step_playouts : playouts);
    win_rate = root_win_rate();
    const packed_move m = search->choose_move(0.0, &share, &visits);
    x = packed_column(m);
    y = packed_row(m);
    return 2;
}

std::int32_t player_son::no_op() { return 2; }

std::int32_t player_son::copy_cells(std::int8_t* cells) {
    std::memcpy(cells, board->cells, sizeof board->cells);
    return 2;
}

std::int32_t player_son::print_board() {
    const std::string picture = board_picture(*board);
    std::fwrite(picture.data(), 1, picture.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    return 2;
}

std::int32_t player_son::print_result() {
    std::printf("%s\n", result_line(*board).c_str());
    std::fflush(stdout);
    return 2;
}

bool player_son::is_over() { return board->over != 0; }

std::int32_t player_son::get_tree_colour() { return tree_colour; }

std::int32_t player_son::set_tree_colour(std::int32_t colour) {
    tree_colour = colour;
    return 0;
}

std::int32_t player_son::side_to_move() { return to_move; }

bool player_son::is_free(std::int32_t x, std::int32_t y) {
    return inside_board(x, y) && board->cells[cell_index(y, x)] == empty;
}

const board_state* player_son::get_board() { return board.get(); }

std::int32_t player_son::set_playouts(std::int32_t count) {
    playouts = count;
    return 0;
}

std::int32_t player_son::cache_hits() { return static_cast<std::int32_t>(search::cache_hits()); }

std::int32_t player_son::new_game(std::int32_t new_playouts) {
    initial_playouts = new_playouts;
    playouts = new_playouts;
    search.reset();
    board.reset();
    move_record.clear();
    colour_record.clear();
    to_move = black;
    create_search_tree();
    board = std::make_unique<board_state>();
    return 0;
}

std::int32_t player_son::release_game() {
    search.reset();
    board.reset();
    move_record.clear();
    colour_record.clear();
    return 0;
}

std::string player_son::timer_report() { return timer_line(timing::profile_timer.totals()); }

}  // namespace play
