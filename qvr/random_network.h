// Randomly initialised residual networks of the shape the game engines use,
// for benchmarks and for checking the fast kernels against the reference:
//
//   input (planes, rows, columns)
//   -> 3x3 conv + ReLU -> `blocks` x [3x3 conv + ReLU, 3x3 conv, + skip, ReLU]
//   policy: 1x1 conv to 1 channel -> flatten -> softmax      (output 0)
//   value:  1x1 conv to value_channels + ReLU -> flatten
//           -> dense value_hidden + ReLU -> dense 1 -> tanh   (output 1)
//
// Weights are He-scaled normals so activations stay of order one through the
// trunk, which keeps float comparisons between paths meaningful.
#pragma once

#include <cstdint>

#include "qvr/model_graph.h"

namespace qvr {

struct ResidualNetworkShape {
    std::uint32_t blocks = 6;
    std::uint32_t channels = 64;
    std::uint32_t input_planes = 3;
    std::uint32_t rows = 20;
    std::uint32_t columns = 20;
    std::uint32_t value_channels = 2;
    std::uint32_t value_hidden = 64;
};

ModelGraph random_residual_network(const ResidualNetworkShape& shape, std::uint32_t seed);

}  // namespace qvr
