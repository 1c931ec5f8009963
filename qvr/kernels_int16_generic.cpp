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

void range(const float* source, long count, float* lowest, float* highest) {
    float low = source[0], high = source[0];
    for (long i = 1; i < count; ++i) {
        low = std::min(low, source[i]);
        high = std::max(high, source[i]);
    }
    *lowest = low;
    *highest = high;
}

void round_tensor(const float* source, long count, float factor, std::int16_t* rounded) {
    for (long i = 0; i < count; ++i) {
        float value = std::nearbyint(source[i] * factor);
        // A NaN becomes -32768, as the SIMD conversions and packs make it.
        if (!(value >= -32768.0f)) value = -32768.0f;
        if (value > 32767.0f) value = 32767.0f;
        rounded[i] = static_cast<std::int16_t>(value);
    }
}

// B^T applied to six values, in wrapping 16-bit arithmetic (exact whenever
// the true result fits, whatever the steps pass through).
void input_1d(const std::uint16_t d[6], std::uint16_t r[6]) {
    const auto wrap = [](unsigned value) { return static_cast<std::uint16_t>(value); };
    r[0] = wrap(4u * d[0] - 5u * d[2] + d[4]);
    r[1] = wrap(d[3] + d[4] - 4u * d[1] - 4u * d[2]);
    r[2] = wrap(4u * d[1] - 4u * d[2] - d[3] + d[4]);
    r[3] = wrap(2u * d[3] - 2u * d[1] - d[2] + d[4]);
    r[4] = wrap(2u * d[1] - 2u * d[3] - d[2] + d[4]);
    r[5] = wrap(4u * d[1] - 5u * d[3] + d[5]);
}

void input_tiles(const std::int16_t* source, const SpatialGeometry& g, int channels, std::int16_t* transformed) {
    const int tiles = g.tiles_y * g.tiles_x;
    const long row_stride = static_cast<long>(g.padded_columns) * channels;
    for (int tile = 0; tile < tiles; ++tile) {
        const std::int16_t* window = source + (tile / g.tiles_x) * winograd_tile * row_stride +
                                     static_cast<long>(tile % g.tiles_x) * winograd_tile * channels;
        for (int c = 0; c < channels; ++c) {
            std::uint16_t t[6][6];
            for (int x = 0; x < 6; ++x) {
                std::uint16_t column[6], r[6];
                for (int y = 0; y < 6; ++y) column[y] = static_cast<std::uint16_t>(window[y * row_stride + x * channels + c]);
                input_1d(column, r);
                for (int y = 0; y < 6; ++y) t[y][x] = r[y];
            }
            for (int y = 0; y < 6; ++y) {
                std::uint16_t r[6];
                input_1d(t[y], r);
                for (int x = 0; x < 6; ++x)
                    transformed[(static_cast<long>(y * 6 + x) * tiles + tile) * channels + c] = static_cast<std::int16_t>(r[x]);
            }
        }
    }
}

// Unsigned arithmetic wraps as the SIMD sums do.
void multiply_sums(const std::int16_t* transformed, const std::int16_t* weights, int tiles, int in_channels,
                   int out_channels, std::int32_t* sums) {
    const long weights_per_point = static_cast<long>(in_channels) * out_channels;
    for (int point = 0; point < winograd_points; ++point) {
        const std::int16_t* w = weights + point * weights_per_point;
        for (int tile = 0; tile < tiles; ++tile) {
            const std::int16_t* a = transformed + (static_cast<long>(point) * tiles + tile) * in_channels;
            const long row = static_cast<long>(tile) * winograd_points + point;
            for (int o = 0; o < out_channels; ++o) {
                std::uint32_t sum = 0;
                for (int k = 0; k < in_channels; ++k)
                    sum += static_cast<std::uint32_t>(std::int32_t{a[k]} *
                                                      w[static_cast<long>(k / 2) * out_channels * 2 + o * 2 + k % 2]);
                sums[row * out_channels + o] = static_cast<std::int32_t>(sum);
            }
        }
    }
}

// A^T applied to six values, wrapping.
void output_1d(const std::uint32_t m[6], std::uint32_t o[4]) {
    o[0] = m[0] + m[1] + m[2] + m[3] + m[4];
    o[1] = m[1] - m[2] + 2u * (m[3] - m[4]);
    o[2] = m[1] + m[2] + 4u * (m[3] + m[4]);
    o[3] = m[1] - m[2] + 8u * (m[3] - m[4]) + m[5];
}

void output_sums(const std::int32_t* sums, const float* scales, const float* bias, const float* residual, bool relu,
                 const SpatialGeometry& g, int channels, float* destination, float* largest) {
    float highest = 0.0f;
    const int tiles = g.tiles_y * g.tiles_x;
    const long row_stride = static_cast<long>(g.padded_columns) * channels;
    for (int tile = 0; tile < tiles; ++tile) {
        const int y0 = tile / g.tiles_x * winograd_tile, x0 = tile % g.tiles_x * winograd_tile;
        for (int c = 0; c < channels; ++c) {
            std::uint32_t t[4][6];
            for (int x = 0; x < 6; ++x) {
                std::uint32_t column[6], o[4];
                for (int y = 0; y < 6; ++y)
                    column[y] = static_cast<std::uint32_t>(sums[(tile * long{winograd_points} + y * 6 + x) * channels + c]);
                output_1d(column, o);
                for (int y = 0; y < 4; ++y) t[y][x] = o[y];
            }
            for (int y = 0; y < winograd_tile && y0 + y < g.rows; ++y) {
                std::uint32_t o[4];
                output_1d(t[y], o);
                for (int x = 0; x < winograd_tile && x0 + x < g.columns; ++x) {
                    const long at = (y0 + y + 1) * row_stride + (x0 + x + 1) * long{channels} + c;
                    // Fused, as the SIMD tables do it, so that they agree bit for bit.
                    float value = std::fma(static_cast<float>(static_cast<std::int32_t>(o[x])), scales[c], bias[c]);
                    if (residual) value += residual[at];
                    if (relu) value = value > 0.0f ? value : 0.0f;  // a NaN to 0, as vmaxps does
                    highest = std::max(highest, value);
                    destination[at] = value;
                }
            }
        }
    }
    if (relu) *largest = highest;
}

}  // namespace

const Int16KernelTable& int16_generic_kernel_table() {
    static const Int16KernelTable table{quantise_rows, multiply,      range,      round_tensor,
                                        input_tiles,   multiply_sums, output_sums};
    return table;
}

}  // namespace qvr
