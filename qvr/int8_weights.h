// Load-time preparation of a quantised 3x3 convolution for the int8 kernels
// (int8_kernel_table.h): weights rounded to int8 with one scale per output
// channel and packed four input channels deep, and the factors that turn the
// int32 sums back into float32. Built once per model load; read-only
// afterwards, so any thread may read it.
#pragma once

#include <cstdint>
#include <vector>

namespace qvr {

struct Int8ConvWeights {
    std::vector<std::int8_t> packed;  // [9][in_padded / 4][out_padded][4]
    std::vector<float> multipliers;   // [out_padded]
    float inverse_input_scale = 0.0f;
};

/// `weights` [out][in][3][3] as in the file; `input_scale` the layer's
/// calibrated scale (finite, positive). A weight scale is the largest
/// magnitude over the channel's weights / int8_weight_limit, so each output
/// channel uses the whole int8 range (an all-zero channel gets scale 1).
Int8ConvWeights quantise_conv_weights(const std::vector<float>& weights, int in_channels, int out_channels,
                                      int in_padded, int out_padded, float input_scale);

}  // namespace qvr
