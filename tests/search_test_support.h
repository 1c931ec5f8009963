// A stand-in for the network in search tests: known weights and values, and
// a record of what it was asked.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "eval/evaluator.h"
#include "play/board_state.h"
#include "search/eval_cache.h"

namespace search_testing {

class scripted_evaluator : public eval::Evaluator {
public:
    /// Weights given to every position (uniform unless set).
    std::array<float, eval::board_cells> weights{};
    /// Value given to every position, unless `value_of` is set.
    float value = 0.0f;
    /// Optional: the value for a position (its cells and side to move).
    std::function<float(const std::int8_t* cells, std::int8_t side)> value_of;

    int calls = 0;
    std::vector<std::int8_t> sides_seen;
    /// The board size the evaluator was told.
    std::int32_t width = 20;
    std::int32_t height = 20;

    void set_board_size(std::int32_t new_width, std::int32_t new_height) override {
        width = new_width;
        height = new_height;
    }

    scripted_evaluator() { weights.fill(1.0f); }

    std::vector<eval::evaluation_array> Evaluate(std::vector<const std::int8_t*> boards,
                                                 std::vector<std::int8_t> sides) override {
        std::vector<eval::evaluation_array> results;
        for (std::size_t i = 0; i < boards.size(); ++i) {
            ++calls;
            sides_seen.push_back(sides[i]);
            auto array = std::make_unique<float[]>(eval::evaluation_size);
            for (int cell = 0; cell < eval::board_cells; ++cell) array[cell] = weights[cell];
            array[eval::board_cells] = value_of ? value_of(boards[i], sides[i]) : value;
            results.push_back(std::move(array));
        }
        return results;
    }
};

inline play::packed_move at(int row, int column) { return play::make_packed_move(row, column); }

inline play::board_state board_with(std::initializer_list<std::pair<std::int8_t, play::packed_move>> stones) {
    play::board_state board;
    for (const auto& [colour, move] : stones) play::put_stone(board, colour, move);
    return board;
}

/// Search tests start from a cold process-wide cache.
inline void clear_process_cache() { search::eval_cache.clear(); }

}  // namespace search_testing
