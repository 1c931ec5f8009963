// The int8 convolution kernels, one table per instruction set (int8_kernels.inl
// compiled per ISA, like the float32 kernels of kernel_table.h).
//
// A quantised 3x3 convolution runs directly, without Winograd: the Winograd
// transforms multiply rounding errors (measured on the shipped network: int8
// in the F(4x4, 3x3) domain kept the top policy move in 63% of positions,
// direct int8 in 97%; qvr/README.md). Its input is rounded to unsigned bytes
// with one scale per layer (calibrated, from the model file), its weights to
// signed bytes with one scale per output channel (derived at load time); the
// sums are exact in int32 and turn back into float32 with bias, residual and
// ReLU. Layouts:
//   quantised input   the spatial layout of kernel_table.h with bytes for
//                     floats: clamp(round(x / scale), 0, 255), zero border
//   packed weights    [9 taps][in channels / 4][out channels][4] int8, taps
//                     row-major (dy, dx) from (-1, -1): four consecutive
//                     input channels per output channel, vpdpbusd's operand
//   multipliers       [out channels] float: input scale x weight scale
// Channel counts are multiples of channel_multiple (kernel_table.h).
//
// Kernels are pure functions of their arguments: safe on any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvr/kernel_table.h"

namespace qvr {

/// Largest quantised input (unsigned byte) and largest weight magnitude.
inline constexpr int int8_input_limit = 255;
inline constexpr int int8_weight_limit = 127;
inline constexpr int conv3x3_taps = 9;

struct Int8KernelTable {
    /// `count` floats (a multiple of 16) -> clamp(round-to-nearest-even(x x inverse_scale), 0, int8_input_limit).
    void (*quantise)(const float* source, std::size_t count, float inverse_scale, std::uint8_t* quantised);

    /// destination cell (y, x) inside rows x columns, channel o:
    /// sum over taps and input channels of quantised x weights, x multipliers[o],
    /// + bias[o], + residual (same layout as destination; may be null), then
    /// ReLU if asked. Border cells of destination are left alone.
    void (*conv3x3)(const std::uint8_t* quantised, const SpatialGeometry& geometry, int in_channels,
                    const std::int8_t* weights, const float* multipliers, const float* bias, const float* residual,
                    bool relu, int out_channels, float* destination);
};

const Int8KernelTable& int8_generic_kernel_table();
// Built on x86-64 only; call only when cpu_supports() says the CPU has them.
const Int8KernelTable& int8_avx512_kernel_table();
const Int8KernelTable& int8_avxvnni_kernel_table();

}  // namespace qvr
