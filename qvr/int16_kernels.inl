// The int16 Winograd product template shared by the SIMD files. Each includer
// defines, before including this file:
//   QVR_INT16_NAMESPACE  a namespace of its own (see simd_kernels.inl: the
//                        same inline code built with other flags must never
//                        be merged by the linker)
//   struct Ops           width (int32 lanes), Acc, zero, weights (2 x width
//                        int16), pair (one input pair broadcast), dot(acc, a,
//                        b) = acc + pairwise products, store(out, acc, scale
//                        vector), scales(row scale, weight scales),
//                        largest_magnitude(floats, count), quantise(floats,
//                        count, inverse, limit, int16s); kRowBatch, and where
//                        it is above 1, quantise_batch(rows, count, limit,
//                        int16s, stride, row scales, stride): quantise_rows' work for
//                        kRowBatch consecutive rows, with the same results
//                        range(floats, count, lowest, highest),
//                        round_tensor(floats, count, factor, int16s), and
//                        Wide, Narrow: int16 vectors (V, width, load, store,
//                        add, sub, shl<bits>) for the integer input transform,
//                        Narrow 16 lanes (the channel multiple), Wide as many
//                        as the ISA has
//   row_block(vectors), kColumnVectors   the register blocks, as in
//                        simd_kernels.inl
// and afterwards uses make_int16_table().
//
// No standard-library templates in here, for the same linker reason.

namespace qvr::QVR_INT16_NAMESPACE {
namespace {

constexpr int W = Ops::width;
// int16 per 64-byte cache line.
constexpr int int16_per_line = 32;

void quantise_row(const float* in, int channels, float largest, int limit, std::int16_t* out, float* row_scale) {
    if (largest == 0.0f) {
        for (int c = 0; c < channels; ++c) out[c] = 0;
        *row_scale = 0.0f;
        return;
    }
    Ops::quantise(in, channels, static_cast<float>(limit) / largest, limit, out);
    *row_scale = largest / static_cast<float>(limit);
}

// A template only so that `if constexpr` drops what Ops lacks.
template <typename O = Ops>
void quantise_rows(const float* source, int rows, int channels, int limit, std::int16_t* quantised,
                   long quantised_stride, float* row_scales, long scale_stride) {
    int row = 0;
    // One row at a time, each row ends in a horizontal reduction and narrows
    // a vector at a time; Ops may do kRowBatch rows at once (measured on
    // AVX-512: the quantisation took 18% of an evaluation one row at a time).
    if constexpr (O::kRowBatch > 1) {
        for (; row + O::kRowBatch <= rows; row += O::kRowBatch)
            O::quantise_batch(source + static_cast<long>(row) * channels, channels, limit, quantised + row * quantised_stride,
                              quantised_stride, row_scales + row * scale_stride, scale_stride);
    }
    for (; row < rows; ++row) {
        const float* in = source + static_cast<long>(row) * channels;
        quantise_row(in, channels, Ops::largest_magnitude(in, channels), limit, quantised + row * quantised_stride,
                     row_scales + row * scale_stride);
    }
}

// C[Rows][Vectors x W] for rows of A (int16, k_count deep) times the packed
// weights B ([k_count / 2][b_columns][2]); prefetches k_count / 2 lines.
template <int Rows, int Vectors>
inline void multiply_block(const std::int16_t* a, int k_count, const std::int16_t* b, int b_columns,
                           const float* row_scales, const float* weight_scales, float* c, int c_stride,
                           const std::int16_t* prefetch) {
    typename Ops::Acc acc[Rows][Vectors];
#pragma GCC unroll 16
    for (int r = 0; r < Rows; ++r)
#pragma GCC unroll 8
        for (int v = 0; v < Vectors; ++v) acc[r][v] = Ops::zero();
    for (int k = 0; k < k_count; k += 2) {
        if (prefetch) __builtin_prefetch(prefetch + (k / 2) * int16_per_line, 0, 2);
        typename Ops::Acc bv[Vectors];
#pragma GCC unroll 8
        for (int v = 0; v < Vectors; ++v) bv[v] = Ops::weights(b + static_cast<long>(k) * b_columns + 2 * v * W);
#pragma GCC unroll 16
        for (int r = 0; r < Rows; ++r) {
            const typename Ops::Acc av = Ops::pair(a + static_cast<long>(r) * k_count + k);
#pragma GCC unroll 8
            for (int v = 0; v < Vectors; ++v) acc[r][v] = Ops::dot(acc[r][v], av, bv[v]);
        }
    }
#pragma GCC unroll 16
    for (int r = 0; r < Rows; ++r)
#pragma GCC unroll 8
        for (int v = 0; v < Vectors; ++v)
            Ops::store(c + static_cast<long>(r) * c_stride + v * W, acc[r][v],
                       Ops::scales(row_scales[r], weight_scales + v * W));
}

struct PrefetchCursor {
    const std::int16_t* next;
    const std::int16_t* end;

    const std::int16_t* take(int lines) {
        if (next >= end) return nullptr;
        const std::int16_t* start = next;
        next += static_cast<long>(lines) * int16_per_line;
        return start;
    }
};

template <int Vectors, int Rows = row_block(Vectors)>
inline void multiply_rest(int rows_left, const std::int16_t* a, int k_count, const std::int16_t* b, int b_columns,
                          const float* row_scales, const float* weight_scales, float* c, int c_stride,
                          PrefetchCursor& prefetch) {
    if constexpr (Rows > 1) {
        if (rows_left == Rows - 1) {
            multiply_block<Rows - 1, Vectors>(a, k_count, b, b_columns, row_scales, weight_scales, c, c_stride,
                                              prefetch.take(k_count / 2));
            return;
        }
        multiply_rest<Vectors, Rows - 1>(rows_left, a, k_count, b, b_columns, row_scales, weight_scales, c, c_stride,
                                         prefetch);
    }
}

template <int Vectors>
inline void multiply_columns(const std::int16_t* a, const std::int16_t* b, const float* row_scales,
                             const float* weight_scales, int rows, int k_count, int columns, float* c,
                             PrefetchCursor& prefetch) {
    constexpr int block_rows = row_block(Vectors);
    int r = 0;
    for (; r + block_rows <= rows; r += block_rows)
        multiply_block<block_rows, Vectors>(a + static_cast<long>(r) * k_count, k_count, b, columns, row_scales + r,
                                            weight_scales, c + static_cast<long>(r) * columns, columns,
                                            prefetch.take(k_count / 2));
    if (r < rows)
        multiply_rest<Vectors>(rows - r, a + static_cast<long>(r) * k_count, k_count, b, columns, row_scales + r,
                               weight_scales, c + static_cast<long>(r) * columns, columns, prefetch);
}

void multiply(const std::int16_t* quantised, const float* row_scales, const std::int16_t* weights,
              const float* weight_scales, int tiles, int in_channels, int out_channels, float* products) {
    constexpr int block_columns = kColumnVectors * W;
    const long weights_per_point = static_cast<long>(in_channels) * out_channels;
    for (int point = 0; point < winograd_points; ++point) {
        const std::int16_t* a = quantised + static_cast<long>(point) * tiles * in_channels;
        const float* scales = row_scales + static_cast<long>(point) * tiles;
        const std::int16_t* b = weights + point * weights_per_point;
        const float* w_scales = weight_scales + static_cast<long>(point) * out_channels;
        float* c = products + static_cast<long>(point) * tiles * out_channels;
        PrefetchCursor prefetch{b + weights_per_point, point + 1 < winograd_points ? b + 2 * weights_per_point : b};
        int column = 0;
        for (; column + block_columns <= out_channels; column += block_columns)
            multiply_columns<kColumnVectors>(a, b + 2 * column, scales, w_scales + column, tiles, in_channels,
                                             out_channels, c + column, prefetch);
        // Channel counts are multiples of 16: what is left is whole vectors.
        const int vectors_left = (out_channels - column) / W;
        if constexpr (kColumnVectors > 3)
            if (vectors_left == 3)
                multiply_columns<3>(a, b + 2 * column, scales, w_scales + column, tiles, in_channels, out_channels,
                                    c + column, prefetch);
        if constexpr (kColumnVectors > 2)
            if (vectors_left == 2)
                multiply_columns<2>(a, b + 2 * column, scales, w_scales + column, tiles, in_channels, out_channels,
                                    c + column, prefetch);
        if constexpr (kColumnVectors > 1)
            if (vectors_left == 1)
                multiply_columns<1>(a, b + 2 * column, scales, w_scales + column, tiles, in_channels, out_channels,
                                    c + column, prefetch);
    }
}

// ---- The integer input transform ------------------------------------------

// B^T applied to six vectors (the float32 input_1d of simd_kernels.inl with
// shifts for the multiplications); int16 lanes wrap, so the result is exact
// whenever it fits, whatever the steps pass through.
template <typename I>
inline void input_1d_int(const typename I::V d[6], typename I::V r[6]) {
    using V = typename I::V;
    const V d3_minus_d1 = I::sub(d[3], d[1]);
    const V d4_minus_d2 = I::sub(d[4], d[2]);
    r[0] = I::add(I::sub(I::template shl<2>(I::sub(d[0], d[2])), d[2]), d[4]);
    r[1] = I::sub(I::add(d[3], d[4]), I::template shl<2>(I::add(d[1], d[2])));
    r[2] = I::add(I::template shl<2>(I::sub(d[1], d[2])), I::sub(d[4], d[3]));
    r[3] = I::add(I::template shl<1>(d3_minus_d1), d4_minus_d2);
    r[4] = I::sub(d4_minus_d2, I::template shl<1>(d3_minus_d1));
    r[5] = I::add(I::sub(I::template shl<2>(I::sub(d[1], d[3])), d[3]), d[5]);
}

// I::width channels from c of the window at `window`: point e to out[e x point_stride + c].
template <typename I>
inline void input_tile_int(const std::int16_t* window, long row_stride, int channels, int c, std::int16_t* out,
                           long point_stride) {
    typename I::V t[6][6];
    for (int x = 0; x < 6; ++x) {
        typename I::V column[6], r[6];
        for (int y = 0; y < 6; ++y) column[y] = I::load(window + y * row_stride + x * long{channels} + c);
        input_1d_int<I>(column, r);
        for (int y = 0; y < 6; ++y) t[y][x] = r[y];
    }
    for (int y = 0; y < 6; ++y) {
        typename I::V r[6];
        input_1d_int<I>(t[y], r);
        for (int x = 0; x < 6; ++x) I::store(out + (y * 6 + x) * point_stride + c, r[x]);
    }
}

void input_tiles(const std::int16_t* source, const SpatialGeometry& g, int channels, std::int16_t* transformed) {
    const int tiles = g.tiles_y * g.tiles_x;
    const long row_stride = static_cast<long>(g.padded_columns) * channels;
    const long point_stride = static_cast<long>(tiles) * channels;
    for (int tile = 0; tile < tiles; ++tile) {
        const std::int16_t* window = source + (tile / g.tiles_x) * winograd_tile * row_stride +
                                     static_cast<long>(tile % g.tiles_x) * winograd_tile * channels;
        std::int16_t* out = transformed + static_cast<long>(tile) * channels;
        int c = 0;
        for (; c + Ops::Wide::width <= channels; c += Ops::Wide::width)
            input_tile_int<typename Ops::Wide>(window, row_stride, channels, c, out, point_stride);
        // Channel counts are multiples of 16, the narrow width.
        for (; c < channels; c += Ops::Narrow::width)
            input_tile_int<typename Ops::Narrow>(window, row_stride, channels, c, out, point_stride);
    }
}

}  // namespace

Int16KernelTable make_int16_table() {
    Int16KernelTable table;
    table.quantise_rows = quantise_rows<>;
    table.multiply = multiply;
    table.range = Ops::range;
    table.round_tensor = Ops::round_tensor;
    table.input_tiles = input_tiles;
    return table;
}

}  // namespace qvr::QVR_INT16_NAMESPACE
