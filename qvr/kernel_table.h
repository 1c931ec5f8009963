// The hot loops of the fast runner, one table per instruction set. The
// generic, AVX2 and AVX-512 tables come from the same templates
// (simd_kernels.inl) compiled with different vector types and flags.
//
// Layouts the kernels share:
//   spatial tensor  rows x columns with a border: padded_rows x padded_columns
//                   positions, channels contiguous per position, channel count
//                   a multiple of `channel_multiple`; the border, the cells past
//                   rows/columns and the padding channels are always zero.
//                   Cell (y, x) is position (y + 1) * padded_columns + x + 1.
//   Winograd F(4x4, 3x3): 4x4 output tiles read 6x6 input windows; a transformed
//                   tensor is [36][tiles][channels], the transformed weights
//                   [36][in channels][out channels].
//
// Kernels are pure functions of their arguments: safe on any thread.
#pragma once

namespace qvr {

/// Channel counts of spatial tensors are rounded up to this (the AVX-512 width).
inline constexpr int channel_multiple = 16;
/// Output tile side, and the input window side, of Winograd F(4x4, 3x3).
inline constexpr int winograd_tile = 4;
inline constexpr int winograd_window = 6;
inline constexpr int winograd_points = winograd_window * winograd_window;

struct SpatialGeometry {
    int rows = 0;
    int columns = 0;
    int tiles_y = 0;
    int tiles_x = 0;
    int padded_rows = 0;
    int padded_columns = 0;

    static SpatialGeometry for_plane(int rows, int columns) {
        SpatialGeometry geometry;
        geometry.rows = rows;
        geometry.columns = columns;
        geometry.tiles_y = (rows + winograd_tile - 1) / winograd_tile;
        geometry.tiles_x = (columns + winograd_tile - 1) / winograd_tile;
        geometry.padded_rows = geometry.tiles_y * winograd_tile + 2;
        geometry.padded_columns = geometry.tiles_x * winograd_tile + 2;
        return geometry;
    }
    int tiles() const { return tiles_y * tiles_x; }
    int positions() const { return padded_rows * padded_columns; }
};

struct KernelTable {
    /// Spatial `source` (channels) -> transformed [36][tiles][channels].
    void (*winograd_input)(const float* source, const SpatialGeometry& geometry, int channels, float* transformed);

    /// The same for one tile (tile_y x tiles_x + tile_x): -> [36][channels].
    void (*winograd_input_tile)(const float* source, const SpatialGeometry& geometry, int channels, int tile,
                                float* transformed);

    /// products[e] = transformed[e] x weights[e] for each of the 36 points:
    /// [tiles x in] x [in x out] -> [tiles x out].
    void (*winograd_multiply)(const float* transformed, const float* weights, int tiles, int in_channels,
                              int out_channels, float* products);

    /// Transformed products -> spatial `destination` (channels): output
    /// transform, + bias, + residual (spatial, may be null), then ReLU if asked.
    /// Writes only the cells inside rows x columns.
    void (*winograd_output)(const float* products, const float* bias, const float* residual, bool relu,
                            const SpatialGeometry& geometry, int channels, float* destination);

    /// 1x1 convolution from spatial `source` to planes laid out [out][rows][columns]
    /// (the order a flatten produces): weights [out][in_channels], in_channels
    /// a multiple of channel_multiple with zero padding.
    void (*conv1x1_planar)(const float* source, const SpatialGeometry& geometry, int in_channels,
                           const float* weights, const float* bias, int out_channels, bool relu, float* destination);

    /// out[o] = bias[o] + weights[o] . in (+ ReLU): weights [out][in_padded],
    /// in_padded a multiple of channel_multiple, zero padded in both operands.
    void (*dense)(const float* in, int in_padded, const float* weights, const float* bias, int out_features,
                  bool relu, float* out);
};

const KernelTable& generic_kernel_table();
// Built on x86-64 only; call only when cpu_supports() says the CPU has them.
const KernelTable& avx2_kernel_table();
const KernelTable& avx512_kernel_table();

}  // namespace qvr
