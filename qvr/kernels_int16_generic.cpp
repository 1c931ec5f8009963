// The Winograd products in int16, plain C++: any CPU, and the yardstick the
// SIMD versions are tested against (their sums are exact, so they must agree
// bit for bit).
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "qvr/int16_kernel_table.h"

namespace qvr {

namespace {

void quantise_rows(const float* source, int rows, int channels, int limit, std::int16_t* quantised,
                   long quantised_stride, float* row_scales, long scale_stride) {
    for (int row = 0; row < rows; ++row) {
        const float* in = source + static_cast<long>(row) * channels;
        std::int16_t* out = quantised + row * quantised_stride;
        float& row_scale = row_scales[row * scale_stride];
        float largest = 0.0f;
        for (int c = 0; c < channels; ++c) largest = std::max(largest, std::fabs(in[c]));
        if (largest == 0.0f) {
            std::fill(out, out + channels, std::int16_t{0});
            row_scale = 0.0f;
            continue;
        }
        const float inverse = static_cast<float>(limit) / largest;
        for (int c = 0; c < channels; ++c) {
            float rounded = std::nearbyint(in[c] * inverse);
            // Written so that a NaN (from an overflowing network) becomes
            // -limit, as the SIMD clamps make it, instead of an undefined cast.
            if (!(rounded >= static_cast<float>(-limit))) rounded = static_cast<float>(-limit);
            if (rounded > static_cast<float>(limit)) rounded = static_cast<float>(limit);
            out[c] = static_cast<std::int16_t>(rounded);
        }
        row_scale = largest / static_cast<float>(limit);
    }
}

void multiply(const std::int16_t* quantised, const float* row_scales, const std::int16_t* weights,
              const float* weight_scales, int tiles, int in_channels, int out_channels, float* products) {
    const long weights_per_point = static_cast<long>(in_channels) * out_channels;
    for (int point = 0; point < winograd_points; ++point) {
        const std::int16_t* w = weights + point * weights_per_point;
        for (int tile = 0; tile < tiles; ++tile) {
            const long row = static_cast<long>(point) * tiles + tile;
            const std::int16_t* a = quantised + row * in_channels;
            float* c = products + row * out_channels;
            for (int o = 0; o < out_channels; ++o) {
                std::int32_t sum = 0;
                for (int k = 0; k < in_channels; ++k)
                    sum += std::int32_t{a[k]} * w[static_cast<long>(k / 2) * out_channels * 2 + o * 2 + k % 2];
                c[o] = static_cast<float>(sum) * (row_scales[row] * weight_scales[point * out_channels + o]);
            }
        }
    }
}

}  // namespace

const Int16KernelTable& int16_generic_kernel_table() {
    static const Int16KernelTable table{quantise_rows, multiply};
    return table;
}

}  // namespace qvr
