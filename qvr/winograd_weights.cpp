#include "qvr/winograd_weights.h"

#include "qvr/kernel_table.h"

namespace qvr {

namespace {

// G of F(4x4, 3x3) with interpolation points 0, 1, -1, 2, -2 and infinity;
// it matches the B^T and A^T used by the kernels (simd_kernels.inl).
constexpr double G[winograd_window][3] = {
    {1.0 / 4, 0.0, 0.0},
    {-1.0 / 6, -1.0 / 6, -1.0 / 6},
    {-1.0 / 6, 1.0 / 6, -1.0 / 6},
    {1.0 / 24, 1.0 / 12, 1.0 / 6},
    {1.0 / 24, -1.0 / 12, 1.0 / 6},
    {0.0, 0.0, 1.0},
};

}  // namespace

AlignedBuffer winograd_transform_weights(const std::vector<float>& weights, int in_channels, int out_channels,
                                         int in_padded, int out_padded) {
    AlignedBuffer transformed(static_cast<std::size_t>(winograd_points) * in_padded * out_padded);
    for (int o = 0; o < out_channels; ++o) {
        for (int i = 0; i < in_channels; ++i) {
            const float* g = weights.data() + (static_cast<std::size_t>(o) * in_channels + i) * 9;
            double g_gt[3][winograd_window];  // g G^T
            for (int a = 0; a < 3; ++a)
                for (int col = 0; col < winograd_window; ++col)
                    g_gt[a][col] = g[a * 3 + 0] * G[col][0] + g[a * 3 + 1] * G[col][1] + g[a * 3 + 2] * G[col][2];
            for (int row = 0; row < winograd_window; ++row)
                for (int col = 0; col < winograd_window; ++col) {
                    const double value = G[row][0] * g_gt[0][col] + G[row][1] * g_gt[1][col] + G[row][2] * g_gt[2][col];
                    const std::size_t point = static_cast<std::size_t>(row) * winograd_window + col;
                    transformed.data()[(point * in_padded + i) * out_padded + o] = static_cast<float>(value);
                }
        }
    }
    return transformed;
}

}  // namespace qvr
