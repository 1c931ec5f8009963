// Kernel templates shared by the instruction-set files. Each includer defines,
// before including this file:
//   QVR_SIMD_NAMESPACE   a namespace of its own (the same inline code compiled
//                        with different flags must never be merged by the linker)
//   struct Vec           width, zero, load, store, broadcast, add, sub, mul,
//                        fmadd(a, b, c) = a * b + c, max, reduce_add
//   kPrefetchLocality    __builtin_prefetch locality for streaming weights
//   kColumnVectors, row_block(vectors)   the register blocks of the matrix
//                        product: vectors of output channels by rows (tiles);
//                        chosen so the accumulators, the weight vectors and one
//                        broadcast fit in the register file.
// and afterwards uses make_table() to build its KernelTable.
//
// No standard-library templates and no inline functions from shared headers
// (SpatialGeometry's members included) are called in here, for the same
// linker reason: an out-of-line copy built for AVX-512 must never be picked
// for code that runs on any CPU.

namespace qvr::QVR_SIMD_NAMESPACE {
namespace {

constexpr int W = Vec::width;

// ---- Winograd input transform: V = B^T d B ---------------------------------
//
// B^T = | 4  0 -5  0  1  0 |
//       | 0 -4 -4  1  1  0 |
//       | 0  4 -4 -1  1  0 |
//       | 0 -2 -1  2  1  0 |
//       | 0  2 -1 -2  1  0 |
//       | 0  4  0 -5  0  1 |
inline void input_1d(const Vec d[6], Vec r[6]) {
    const Vec four = Vec::broadcast(4.0f), five = Vec::broadcast(5.0f), two = Vec::broadcast(2.0f);
    const Vec d4_minus_d2 = Vec::sub(d[4], d[2]);
    const Vec d3_minus_d1 = Vec::sub(d[3], d[1]);
    const Vec d4_minus_4d2 = Vec::sub(d[4], Vec::mul(four, d[2]));
    r[0] = Vec::sub(Vec::fmadd(four, d[0], d[4]), Vec::mul(five, d[2]));
    r[1] = Vec::sub(Vec::add(d4_minus_4d2, d[3]), Vec::mul(four, d[1]));
    r[2] = Vec::sub(Vec::fmadd(four, d[1], d4_minus_4d2), d[3]);
    r[3] = Vec::fmadd(two, d3_minus_d1, d4_minus_d2);
    r[4] = Vec::sub(d4_minus_d2, Vec::mul(two, d3_minus_d1));
    r[5] = Vec::sub(Vec::fmadd(four, d[1], d[5]), Vec::mul(five, d[3]));
}

// The tile at (ty, tx): point e of channel c goes to out[e * point_stride + c].
inline void input_tile(const float* source, const SpatialGeometry& g, int channels, int ty, int tx, float* out,
                       long point_stride) {
    const long row_stride = static_cast<long>(g.padded_columns) * channels;
    const float* window = source + (ty * winograd_tile) * row_stride + (tx * winograd_tile) * long{channels};
    for (int c = 0; c < channels; c += W) {
        Vec t[6][6];
        for (int x = 0; x < 6; ++x) {
            Vec column[6], r[6];
            for (int y = 0; y < 6; ++y) column[y] = Vec::load(window + y * row_stride + x * long{channels} + c);
            input_1d(column, r);
            for (int y = 0; y < 6; ++y) t[y][x] = r[y];
        }
        for (int y = 0; y < 6; ++y) {
            Vec r[6];
            input_1d(t[y], r);
            for (int x = 0; x < 6; ++x) Vec::store(out + (y * 6 + x) * point_stride + c, r[x]);
        }
    }
}

void winograd_input(const float* source, const SpatialGeometry& g, int channels, float* transformed) {
    const int tiles = g.tiles_y * g.tiles_x;
    const long point_stride = static_cast<long>(tiles) * channels;
    for (int ty = 0; ty < g.tiles_y; ++ty)
        for (int tx = 0; tx < g.tiles_x; ++tx)
            input_tile(source, g, channels, ty, tx, transformed + static_cast<long>(ty * g.tiles_x + tx) * channels,
                       point_stride);
}

void winograd_input_tile(const float* source, const SpatialGeometry& g, int channels, int tile, float* transformed) {
    input_tile(source, g, channels, tile / g.tiles_x, tile % g.tiles_x, transformed, channels);
}

// ---- The 36 matrix products --------------------------------------------------

// The next point's weights are usually not in cache (a network's transformed
// weights are several times the L2), so each block of the product prefetches
// one cache line of them per step of k: the weights stream in while this
// point computes instead of stalling the next one. Measured here on AVX-512,
// 6 blocks x 64 channels: the product went from 63 to ~40 us per convolution.
constexpr int floats_per_line = 16;

// C[rows][columns] = A[rows][k] x B[k][columns], `Rows` x `Vectors` register
// block; prefetches k_count lines from `prefetch` (null: none).
template <int Rows, int Vectors>
inline void multiply_block(const float* a, int a_stride, const float* b, int b_stride, int k_count, float* c,
                           int c_stride, const float* prefetch) {
    Vec acc[Rows][Vectors];
#pragma GCC unroll 16
    for (int r = 0; r < Rows; ++r)
#pragma GCC unroll 8
        for (int v = 0; v < Vectors; ++v) acc[r][v] = Vec::zero();
    for (int k = 0; k < k_count; ++k) {
        if (prefetch) __builtin_prefetch(prefetch + k * floats_per_line, 0, kPrefetchLocality);
        Vec bv[Vectors];
#pragma GCC unroll 8
        for (int v = 0; v < Vectors; ++v) bv[v] = Vec::load(b + static_cast<long>(k) * b_stride + v * W);
#pragma GCC unroll 16
        for (int r = 0; r < Rows; ++r) {
            const Vec av = Vec::broadcast(a[static_cast<long>(r) * a_stride + k]);
#pragma GCC unroll 8
            for (int v = 0; v < Vectors; ++v) acc[r][v] = Vec::fmadd(av, bv[v], acc[r][v]);
        }
    }
#pragma GCC unroll 16
    for (int r = 0; r < Rows; ++r)
#pragma GCC unroll 8
        for (int v = 0; v < Vectors; ++v) Vec::store(c + static_cast<long>(r) * c_stride + v * W, acc[r][v]);
}

// Hands out the lines of the region to prefetch, k_count at a time.
struct PrefetchCursor {
    const float* next;
    const float* end;

    const float* take(int lines) {
        if (next >= end) return nullptr;
        const float* start = next;
        next += static_cast<long>(lines) * floats_per_line;
        return start;
    }
};

template <int Vectors, int Rows = row_block(Vectors)>
inline void multiply_rest(int rows_left, const float* a, int a_stride, const float* b, int b_stride, int k_count,
                          float* c, int c_stride, PrefetchCursor& prefetch) {
    if constexpr (Rows > 1) {
        if (rows_left == Rows - 1) {
            multiply_block<Rows - 1, Vectors>(a, a_stride, b, b_stride, k_count, c, c_stride, prefetch.take(k_count));
            return;
        }
        multiply_rest<Vectors, Rows - 1>(rows_left, a, a_stride, b, b_stride, k_count, c, c_stride, prefetch);
    }
}

template <int Vectors>
inline void multiply_columns(const float* a, const float* b, int rows, int k_count, int columns, float* c,
                             PrefetchCursor& prefetch) {
    constexpr int block_rows = row_block(Vectors);
    int r = 0;
    for (; r + block_rows <= rows; r += block_rows)
        multiply_block<block_rows, Vectors>(a + static_cast<long>(r) * k_count, k_count, b, columns, k_count,
                                           c + static_cast<long>(r) * columns, columns, prefetch.take(k_count));
    if (r < rows)
        multiply_rest<Vectors>(rows - r, a + static_cast<long>(r) * k_count, k_count, b, columns, k_count,
                               c + static_cast<long>(r) * columns, columns, prefetch);
}

void winograd_multiply(const float* transformed, const float* weights, int tiles, int in_channels, int out_channels,
                       float* products) {
    constexpr int block_columns = kColumnVectors * W;
    const long weights_per_point = static_cast<long>(in_channels) * out_channels;
    for (int point = 0; point < winograd_points; ++point) {
        const float* a = transformed + static_cast<long>(point) * tiles * in_channels;
        const float* b = weights + point * weights_per_point;
        float* c = products + static_cast<long>(point) * tiles * out_channels;
        PrefetchCursor prefetch{b + weights_per_point, point + 1 < winograd_points ? b + 2 * weights_per_point : b};
        int column = 0;
        for (; column + block_columns <= out_channels; column += block_columns)
            multiply_columns<kColumnVectors>(a, b + column, tiles, in_channels, out_channels, c + column, prefetch);
        // Channel counts are multiples of 16, so what is left is whole vectors,
        // fewer than a block: one narrower pass (taller, to keep the registers busy).
        const int vectors_left = (out_channels - column) / W;
        if constexpr (kColumnVectors > 3)
            if (vectors_left == 3)
                multiply_columns<3>(a, b + column, tiles, in_channels, out_channels, c + column, prefetch);
        if constexpr (kColumnVectors > 2)
            if (vectors_left == 2)
                multiply_columns<2>(a, b + column, tiles, in_channels, out_channels, c + column, prefetch);
        if constexpr (kColumnVectors > 1)
            if (vectors_left == 1)
                multiply_columns<1>(a, b + column, tiles, in_channels, out_channels, c + column, prefetch);
    }
}

// ---- Winograd output transform: Y = A^T m A ----------------------------------
//
// A^T = | 1  1  1  1  1  0 |
//       | 0  1 -1  2 -2  0 |
//       | 0  1  1  4  4  0 |
//       | 0  1 -1  8 -8  1 |
inline void output_1d(const Vec m[6], Vec o[4]) {
    const Vec two = Vec::broadcast(2.0f), four = Vec::broadcast(4.0f), eight = Vec::broadcast(8.0f);
    const Vec sum12 = Vec::add(m[1], m[2]), diff12 = Vec::sub(m[1], m[2]);
    const Vec sum34 = Vec::add(m[3], m[4]), diff34 = Vec::sub(m[3], m[4]);
    o[0] = Vec::add(Vec::add(m[0], sum12), sum34);
    o[1] = Vec::fmadd(two, diff34, diff12);
    o[2] = Vec::fmadd(four, sum34, sum12);
    o[3] = Vec::add(Vec::fmadd(eight, diff34, diff12), m[5]);
}

// Bias, residual and ReLU are template switches so the inner loop carries no
// tests; a tile that lies wholly inside the plane needs no bounds checks either.
template <bool Residual, bool Relu>
void output_tiles(const float* products, const float* bias, const float* residual, const SpatialGeometry& g,
                  int channels, float* destination) {
    const int tiles = g.tiles_y * g.tiles_x;
    const long point_stride = static_cast<long>(tiles) * channels;
    const long row_stride = static_cast<long>(g.padded_columns) * channels;
    const Vec zero = Vec::zero();
    for (int ty = 0; ty < g.tiles_y; ++ty) {
        const int y0 = ty * winograd_tile;
        const int rows_inside = g.rows - y0 < winograd_tile ? g.rows - y0 : winograd_tile;
        for (int tx = 0; tx < g.tiles_x; ++tx) {
            const int tile = ty * g.tiles_x + tx;
            const int x0 = tx * winograd_tile;
            const int columns_inside = g.columns - x0 < winograd_tile ? g.columns - x0 : winograd_tile;
            const long corner = (y0 + 1) * row_stride + (x0 + 1) * long{channels};
            const float* in = products + static_cast<long>(tile) * channels;
            for (int c = 0; c < channels; c += W) {
                Vec t[4][6];
                for (int x = 0; x < 6; ++x) {
                    Vec column[6], o[4];
                    for (int y = 0; y < 6; ++y) column[y] = Vec::load(in + (y * 6 + x) * point_stride + c);
                    output_1d(column, o);
                    for (int y = 0; y < 4; ++y) t[y][x] = o[y];
                }
                const Vec b = Vec::load(bias + c);
                for (int y = 0; y < rows_inside; ++y) {
                    Vec o[4];
                    output_1d(t[y], o);
                    const long row = corner + y * row_stride + c;
                    for (int x = 0; x < columns_inside; ++x) {
                        const long at = row + x * long{channels};
                        Vec value = Vec::add(o[x], b);
                        if constexpr (Residual) value = Vec::add(value, Vec::load(residual + at));
                        if constexpr (Relu) value = Vec::max(value, zero);
                        Vec::store(destination + at, value);
                    }
                }
            }
        }
    }
}

void winograd_output(const float* products, const float* bias, const float* residual, bool relu,
                     const SpatialGeometry& g, int channels, float* destination) {
    if (residual) {
        if (relu) output_tiles<true, true>(products, bias, residual, g, channels, destination);
        else output_tiles<true, false>(products, bias, residual, g, channels, destination);
    } else {
        if (relu) output_tiles<false, true>(products, bias, residual, g, channels, destination);
        else output_tiles<false, false>(products, bias, residual, g, channels, destination);
    }
}

// ---- Heads -------------------------------------------------------------------

inline float dot(const float* a, const float* b, int count) {
    Vec acc0 = Vec::zero(), acc1 = Vec::zero();
    int i = 0;
    for (; i + 2 * W <= count; i += 2 * W) {
        acc0 = Vec::fmadd(Vec::load(a + i), Vec::load(b + i), acc0);
        acc1 = Vec::fmadd(Vec::load(a + i + W), Vec::load(b + i + W), acc1);
    }
    for (; i < count; i += W) acc0 = Vec::fmadd(Vec::load(a + i), Vec::load(b + i), acc0);
    return Vec::reduce_add(Vec::add(acc0, acc1));
}

void conv1x1_planar(const float* source, const SpatialGeometry& g, int in_channels, const float* weights,
                    const float* bias, int out_channels, bool relu, float* destination) {
    const int cells = g.rows * g.columns;
    for (int y = 0; y < g.rows; ++y) {
        for (int x = 0; x < g.columns; ++x) {
            const float* in = source + (static_cast<long>(y + 1) * g.padded_columns + x + 1) * in_channels;
            for (int o = 0; o < out_channels; ++o) {
                float value = bias[o] + dot(in, weights + static_cast<long>(o) * in_channels, in_channels);
                if (relu && value < 0.0f) value = 0.0f;
                destination[static_cast<long>(o) * cells + y * g.columns + x] = value;
            }
        }
    }
}

void dense(const float* in, int in_padded, const float* weights, const float* bias, int out_features, bool relu,
           float* out) {
    for (int o = 0; o < out_features; ++o) {
        float value = bias[o] + dot(in, weights + static_cast<long>(o) * in_padded, in_padded);
        if (relu && value < 0.0f) value = 0.0f;
        out[o] = value;
    }
}

}  // namespace

KernelTable make_table() {
    KernelTable table;
    table.winograd_input = winograd_input;
    table.winograd_input_tile = winograd_input_tile;
    table.winograd_multiply = winograd_multiply;
    table.winograd_output = winograd_output;
    table.conv1x1_planar = conv1x1_planar;
    table.dense = dense;
    return table;
}

}  // namespace qvr::QVR_SIMD_NAMESPACE
