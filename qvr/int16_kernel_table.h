// The Winograd products in 16-bit integers, one table per instruction set
// (int16_kernels.inl compiled per ISA, like the float32 kernels).
//
// Only the 36 matrix products of a Winograd convolution change; the input and
// output transforms stay float32 (kernel_table.h). The transformed input is
// rounded to int16 with one scale per row (a point and tile: its channels),
// taken from that row's largest magnitude at run time, so no calibration is
// needed and a row of small values keeps its precision. The transformed
// weights are rounded with one scale per point and output channel at load
// time (int16_weights.h). Why 16 bits and not 8: the transforms multiply
// rounding errors, and 8 bits in this domain kept the top policy move of the
// shipped network in 63% of positions (qvr/README.md).
//
// Both operands stay within int16_limit(in_channels), so a whole dot product
// fits an int32 exactly: in_channels x limit^2 <= 2^31 - 1. One vpmaddwd or
// vpdpwssd does twice the multiply-adds of a float32 FMA of the same width.
//
// Layouts:
//   quantised input   [36][tiles][in channels] int16, row_scales [36][tiles]
//   weights           [36][in channels / 2][out channels][2] int16: two
//                     consecutive input channels per output channel, the
//                     operand of vpmaddwd / vpdpwssd
//   weight_scales     [36][out channels] float
// Channel counts are multiples of channel_multiple (kernel_table.h).
//
// The int16i paths go further: the input itself is rounded to integers with
// one scale per tensor, and the input transform (B^T has integer entries) is
// done exactly in int16, with twice the lanes of float32 and no rounding pass
// after it. Every transformed value must then fit int16 whatever the input, so
// the input gets at most integer_input_limit() levels. Their weights have one
// scale per output channel, shared by the 36 points, so the output transform
// (A^T is integer too) runs on the int32 sums before any conversion: 16
// conversions a tile and channel instead of 36, and no scaling in the
// products. The sums wrap freely: all of it is exact modulo 2^32, and the
// weights get only as many levels as keep every output itself within int32
// (int16_weights.cpp), so the wrapped result is the true one.
//
// Kernels are pure functions of their arguments: safe on any thread.
#pragma once

#include <cmath>
#include <cstdint>

#include "qvr/kernel_table.h"

namespace qvr {

/// The largest magnitude of either operand for `in_channels`-long dot
/// products: floor(sqrt((2^31 - 1) / in_channels)), at most 32767 (48
/// channels: 6,688, about 12.7 bits).
inline int int16_limit(int in_channels) {
    const double limit = std::floor(std::sqrt(2147483647.0 / (in_channels > 0 ? in_channels : 1)));
    return limit > 32767.0 ? 32767 : static_cast<int>(limit);
}

/// B^T of F(4x4, 3x3), as simd_kernels.inl applies it.
inline constexpr int winograd_input_matrix[winograd_window][winograd_window] = {
    {4, 0, -5, 0, 1, 0}, {0, -4, -4, 1, 1, 0}, {0, 4, -4, -1, 1, 0},
    {0, -2, -1, 2, 1, 0}, {0, 2, -1, -2, 1, 0}, {0, 4, 0, -5, 0, 1}};

/// How many times the largest input magnitude the transformed value at
/// `point` (row x 6 + column of the 6x6 result) can reach: the sum of its
/// coefficients' magnitudes for inputs of either sign; for nonnegative inputs
/// (after a ReLU) the larger of the positive and the negative coefficients'
/// sums.
constexpr int integer_transform_gain(int point, bool nonnegative) {
    int positive = 0, negative = 0;
    for (int a = 0; a < winograd_window; ++a)
        for (int b = 0; b < winograd_window; ++b) {
            const int c = winograd_input_matrix[point / winograd_window][a] * winograd_input_matrix[point % winograd_window][b];
            (c > 0 ? positive : negative) += c > 0 ? c : -c;
        }
    return nonnegative ? (positive > negative ? positive : negative) : positive + negative;
}

/// The largest rounded input magnitude whose transform fits int16 at every
/// point for nonnegative inputs (gain 68 at the widest point): 481.
constexpr int integer_nonnegative_limit() {
    int largest = 0;
    for (int point = 0; point < winograd_points; ++point)
        if (integer_transform_gain(point, true) > largest) largest = integer_transform_gain(point, true);
    return 32767 / largest;
}

/// The largest transformed magnitude at `point`. Sized for nonnegative
/// inputs, which every convolution after a ReLU (and on 0/1 planes) gets, so
/// that their weights keep the most levels.
constexpr int integer_transformed_bound(int point) {
    return integer_transform_gain(point, true) * integer_nonnegative_limit();
}

/// The largest rounded input magnitude for inputs of `nonnegative` sign or
/// of either sign: the largest whose transform stays within every point's
/// bound above (481 and 240).
constexpr int integer_input_limit(bool nonnegative) {
    if (nonnegative) return integer_nonnegative_limit();
    int limit = 32767;
    for (int point = 0; point < winograd_points; ++point) {
        const int fits = integer_transformed_bound(point) / integer_transform_gain(point, false);
        if (fits < limit) limit = fits;
    }
    return limit;
}

/// A^T of F(4x4, 3x3), as the output transforms apply it.
inline constexpr int winograd_output_matrix[winograd_tile][winograd_window] = {
    {1, 1, 1, 1, 1, 0}, {0, 1, -1, 2, -2, 0}, {0, 1, 1, 4, 4, 0}, {0, 1, -1, 8, -8, 1}};

struct Int16KernelTable {
    /// Each of `rows` rows of `channels` floats (back to back in `source`) ->
    /// round-to-nearest-even(x x limit / m), m the row's largest magnitude,
    /// at quantised + row x quantised_stride; row_scales[row x scale_stride]
    /// = m / limit (a row of zeros: all 0, scale 0). The runner quantises
    /// one tile's 36 rows at a time, as the input transform makes them.
    void (*quantise_rows)(const float* source, int rows, int channels, int limit, std::int16_t* quantised,
                          long quantised_stride, float* row_scales, long scale_stride);

    /// For each of the 36 points e, tile t, output channel o:
    /// products[e][t][o] = float(sum over k of quantised[e][t][k] x w[e][k][o])
    ///                     x (row_scales[e][t] x weight_scales[e][o]).
    void (*multiply)(const std::int16_t* quantised, const float* row_scales, const std::int16_t* weights,
                     const float* weight_scales, int tiles, int in_channels, int out_channels, float* products);

    // ---- the integer input transform (int16i paths) ----

    /// The smallest and the largest of `count` floats (a multiple of 16).
    void (*range)(const float* source, long count, float* lowest, float* highest);

    /// rounded[i] = round-to-nearest-even(source[i] x factor) for `count`
    /// floats (a multiple of 16), saturated to int16 (a NaN gives -32768).
    void (*round_tensor)(const float* source, long count, float factor, std::int16_t* rounded);

    /// Spatial int16 `source` (the layout of kernel_table.h) -> V = B^T d B
    /// for every tile, [36][tiles][channels], in wrapping int16 arithmetic:
    /// exact for inputs within integer_input_limit().
    void (*input_tiles)(const std::int16_t* source, const SpatialGeometry& geometry, int channels,
                        std::int16_t* transformed);

    /// sums[t][e][o] = sum over k of transformed[e][t][k] x w[e][k][o] in
    /// wrapping int32 (weights laid out as for multiply). Tile by tile, so
    /// that the output transform reads each tile's 36 points from one place.
    void (*multiply_sums)(const std::int16_t* transformed, const std::int16_t* weights, int tiles, int in_channels,
                          int out_channels, std::int32_t* sums);

    /// What winograd_output does (kernel_table.h) for int32 sums: Y = A^T s A
    /// per tile and channel in wrapping int32, then Y x scales[o] + bias[o]
    /// (one fused multiply-add), + residual, then ReLU if asked. With ReLU,
    /// *largest gets the largest value written (0 if none is above), so the
    /// next convolution need not read the tensor again for its range.
    void (*output_sums)(const std::int32_t* sums, const float* scales, const float* bias, const float* residual,
                        bool relu, const SpatialGeometry& geometry, int channels, float* destination, float* largest);
};

const Int16KernelTable& int16_generic_kernel_table();
// Built on x86-64 only; call only when cpu_supports() says the CPU has them.
const Int16KernelTable& int16_avx2_kernel_table();
const Int16KernelTable& int16_avxvnni_kernel_table();
const Int16KernelTable& int16_avx512_kernel_table();

}  // namespace qvr
