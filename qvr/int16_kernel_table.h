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
};

const Int16KernelTable& int16_generic_kernel_table();
// Built on x86-64 only; call only when cpu_supports() says the CPU has them.
const Int16KernelTable& int16_avx2_kernel_table();
const Int16KernelTable& int16_avxvnni_kernel_table();
const Int16KernelTable& int16_avx512_kernel_table();

}  // namespace qvr
