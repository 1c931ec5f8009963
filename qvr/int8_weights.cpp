#include "qvr/int8_weights.h"

#include <algorithm>
#include <cmath>

#include "qvr/int8_kernel_table.h"

namespace qvr {

Int8ConvWeights quantise_conv_weights(const std::vector<float>& weights, int in_channels, int out_channels,
                                      int in_padded, int out_padded, float input_scale) {
    Int8ConvWeights result;
    result.packed.assign(static_cast<std::size_t>(conv3x3_taps) * in_padded * out_padded, 0);
    result.multipliers.assign(out_padded, 0.0f);
    result.inverse_input_scale = 1.0f / input_scale;
    const std::size_t per_channel = static_cast<std::size_t>(in_channels) * conv3x3_taps;
    for (int o = 0; o < out_channels; ++o) {
        const float* w = weights.data() + o * per_channel;  // [in][3][3]
        float largest = 0.0f;
        for (std::size_t i = 0; i < per_channel; ++i) largest = std::max(largest, std::abs(w[i]));
        const float scale = largest > 0.0f ? largest / int8_weight_limit : 1.0f;
        for (int i = 0; i < in_channels; ++i)
            for (int tap = 0; tap < conv3x3_taps; ++tap) {
                const float q = std::nearbyint(w[i * conv3x3_taps + tap] / scale);
                const std::size_t at =
                    ((static_cast<std::size_t>(tap) * (in_padded / 4) + i / 4) * out_padded + o) * 4 + i % 4;
                result.packed[at] = static_cast<std::int8_t>(std::clamp(q, -float(int8_weight_limit), float(int8_weight_limit)));
            }
        result.multipliers[o] = input_scale * scale;
    }
    return result;
}

}  // namespace qvr
