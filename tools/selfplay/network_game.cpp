#include "tools/selfplay/network_game.h"

#include <cmath>
#include <cstdlib>
#include <memory>

#include "play/board_state.h"
#include "search/search_tree.h"

namespace selfplay {
namespace {

// Opening stones lie within this (king steps) of an earlier one, as managers' openings do.
constexpr int opening_link = 2;
constexpr int centre_jitter = 2;

std::unique_ptr<search::search_tree> make_tree(const play::board_state& board, std::int8_t to_move,
                                               const network_player& player, const game_options& options,
                                               std::uint64_t seed_salt) {
    auto tree = std::make_unique<search::search_tree>(search::make_root(board, to_move), &player.evaluator,
                                                      options.width, options.height, options.mode);
    tree->use_root_budget(tool_root_budget);
    tree->root_noise = options.root_noise;
    tree->use_cache(player.cache);
    if (options.search_seed != 0) tree->seed(options.search_seed ^ seed_salt);
    return tree;
}

// Keeps the two trees of a game on different random streams.
constexpr std::uint64_t white_seed_salt = 0x9e3779b97f4a7c15ULL;

/// The first empty cell of the board nearest its centre: the move of a root
/// without edges.
play::packed_move nearest_empty(const play::board_state& board, const game_options& options) {
    int best_row = 0, best_column = 0, best_distance = -1;
    for (int row = 0; row < options.height; ++row) {
        for (int column = 0; column < options.width; ++column) {
            if (board.cells[play::cell_index(row, column)] != play::empty) continue;
            const int dr = 2 * row - (options.height - 1), dc = 2 * column - (options.width - 1);
            if (best_distance < 0 || dr * dr + dc * dc < best_distance) {
                best_row = row, best_column = column, best_distance = dr * dr + dc * dc;
            }
        }
    }
    return play::make_packed_move(best_row, best_column);
}

}  // namespace

std::vector<std::pair<int, int>> random_opening(const game_options& options, std::mt19937_64& rng) {
    std::uniform_int_distribution<int> count(options.min_opening_stones, options.max_opening_stones);
    std::uniform_int_distribution<int> jitter(-centre_jitter, centre_jitter);
    const int stones = count(rng);
    const int centre_row = options.height / 2 + jitter(rng), centre_column = options.width / 2 + jitter(rng);
    std::vector<std::pair<int, int>> placed;
    for (int n = 0; n < stones; ++n) {
        std::vector<std::pair<int, int>> choices;
        for (int row = centre_row - options.opening_radius; row <= centre_row + options.opening_radius; ++row)
            for (int column = centre_column - options.opening_radius; column <= centre_column + options.opening_radius;
                 ++column) {
                if (row < 0 || column < 0 || row >= options.height || column >= options.width) continue;
                bool free = true, linked = placed.empty();
                for (const auto& [r, c] : placed) {
                    free = free && (r != row || c != column);
                    linked = linked || (std::abs(r - row) <= opening_link && std::abs(c - column) <= opening_link);
                }
                if (free && linked) choices.emplace_back(row, column);
            }
        if (choices.empty()) break;
        placed.push_back(choices[std::uniform_int_distribution<std::size_t>(0, choices.size() - 1)(rng)]);
    }
    return placed;
}

bool has_visits_to_sample(const search::tree_node& root) {
    // A root whose moves were all proven lost before a playout reached them
    // has no visits to draw from (the weights are 0 / 0, and the draw fell to
    // the corner, on a stone or not): it is played greedily, the longest
    // resistance, instead.
    float total = 0.0f;
    for (const float weight : search::move_weights(root, 1.0, true)) total += weight;
    return std::isfinite(total) && total > 0.5f;
}

int small_board_side(std::mt19937_64& rng) {
    if (std::uniform_int_distribution<int>(0, 4)(rng) < 3) return 15;
    return std::uniform_int_distribution<int>(10, 19)(rng);
}

game_outcome play_network_game(const network_player& black, const network_player& white,
                               const std::vector<std::pair<int, int>>& opening, const game_options& options,
                               bool record) {
    play::board_state board;
    std::int8_t to_move = play::black;
    for (const auto& [row, column] : opening) {
        play::put_stone(board, to_move, play::make_packed_move(row, column));
        to_move = static_cast<std::int8_t>(-to_move);
    }

    // The networks see the board's edge where it is (the cells past it encoded as outside).
    black.evaluator.set_board_size(options.width, options.height);
    white.evaluator.set_board_size(options.width, options.height);
    const bool shared = &black.evaluator == &white.evaluator && &black.cache == &white.cache;
    auto black_tree = make_tree(board, to_move, black, options, 0);
    auto white_tree = shared ? nullptr : make_tree(board, to_move, white, options, white_seed_salt);
    auto tree_of = [&](std::int8_t colour) { return colour == play::black || shared ? black_tree.get() : white_tree.get(); };

    game_outcome outcome;
    while (!board.over && board.stones < options.width * options.height &&
           (options.max_plies <= 0 || outcome.plies < options.max_plies)) {
        search::search_tree& tree = *tree_of(to_move);
        tree.run_playouts(options.playouts);
        const std::int8_t proven = tree.root().proven;
        const bool sampled = outcome.plies < options.sampled_moves;
        // A certain move (a five to make, a proven win) is played whatever the
        // visits say, and is what the record teaches.
        search::move_distribution shares = search::move_weights(tree.root(), 1.0);
        if (const play::packed_move certain = tree.certain_move(); certain != search::no_move) {
            shares.fill(0.0f);
            shares[play::cell_index(play::packed_row(certain), play::packed_column(certain))] = 1.0f;
        }
        // A root without edges (the network pruned every cell) has no move
        // to draw; play the most central empty cell instead.
        play::packed_move move = 0;
        if (tree.root().children.empty()) {
            move = nearest_empty(board, options);
            tree.advance(move);
        } else {
            move = tree.choose_and_advance(sampled && has_visits_to_sample(tree.root()) ? 1.0 : 0.0);
        }
        if (!shared) tree_of(static_cast<std::int8_t>(-to_move))->advance(move);

        if (record) {
            visit_record entry;
            entry.board = board;
            entry.to_move = to_move;
            entry.move = static_cast<std::uint16_t>(play::cell_index(play::packed_row(move), play::packed_column(move)));
            entry.flags = static_cast<std::uint8_t>((sampled ? flag_sampled : 0) |
                                                    (proven > 0 ? flag_proven_win : 0) |
                                                    (proven < 0 ? flag_proven_loss : 0));
            entry.policy = shares;
            entry.width = static_cast<std::uint8_t>(options.width);
            entry.height = static_cast<std::uint8_t>(options.height);
            outcome.records.push_back(entry);
        }
        play::put_stone(board, to_move, move);
        to_move = static_cast<std::int8_t>(-to_move);
        ++outcome.plies;
    }
    outcome.winner = board.over ? board.winner : 0;
    for (visit_record& entry : outcome.records) {
        if (entry.flags & (flag_proven_win | flag_proven_loss)) {
            entry.value = static_cast<std::int8_t>(entry.flags & flag_proven_win ? 1 : -1);
        } else {
            entry.value =
                static_cast<std::int8_t>(outcome.winner == 0 ? 0 : (outcome.winner == entry.to_move ? 1 : -1));
        }
    }
    return outcome;
}

}  // namespace selfplay
