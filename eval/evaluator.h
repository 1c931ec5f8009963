// The search's only view of the neural network.
//
// An evaluation array is 401 floats: 400 move weights in cell index order
// (row * 20 + column), then the value of the position for the side to move on
// the scale of finished games (+1 won, -1 lost, 0 drawn). Weights are passed on
// raw: the search masks occupied cells and normalises.
//
// Thread rules: an evaluator is not safe for concurrent use; its owner (the
// player) makes sure only one thread calls it at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace eval {

inline constexpr int board_cells = 400;
inline constexpr int evaluation_size = board_cells + 1;

/// One position's result, owned by whoever receives it.
using evaluation_array = std::unique_ptr<float[]>;

class Evaluator {
public:
    virtual ~Evaluator() = default;

    /// Evaluates each board (a pointer to its 400 signed cells: +1 black,
    /// -1 white, 0 empty) for the side to move given at the same index in
    /// `sides` (+1 or -1). Returns one array per board, in order; an empty
    /// list for no boards. May throw what the inference library throws.
    virtual std::vector<evaluation_array> Evaluate(std::vector<const std::int8_t*> boards,
                                                   std::vector<std::int8_t> sides) = 0;

    /// The board the manager announced: cells with column >= width or
    /// row >= height are off the board, and an evaluator that can show the
    /// network so does. 20 x 20 until told; sizes are clamped to 1..20.
    virtual void set_board_size(std::int32_t width, std::int32_t height);
};

}  // namespace eval
