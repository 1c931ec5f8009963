// Transforms 3x3 convolution weights for Winograd F(4x4, 3x3): U = G g G^T,
// done once at load time in double precision.
#pragma once

#include <cstdint>
#include <vector>

#include "qvr/aligned_buffer.h"

namespace qvr {

/// `weights` [out][in][3][3] -> [36][in_padded][out_padded], zero in the
/// padding rows and columns.
AlignedBuffer winograd_transform_weights(const std::vector<float>& weights, int in_channels, int out_channels,
                                         int in_padded, int out_padded);

}  // namespace qvr
