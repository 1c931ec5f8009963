// The int16 Winograd product template shared by the SIMD files. Each includer
// defines, before including this file:
//   QVR_INT16_NAMESPACE  a namespace of its own (see simd_kernels.inl: the
//                        same inline code built with other flags must never
//                        be merged by the linker)
//   struct Ops           width (int32 lanes), Acc, zero, weights (2 x width
//                        int16), pair (one input pair broadcast), dot(acc, a,
//                        b) = acc + pairwise products (dot_sums the same, for
//                        the int32 sums), store(out, acc, scale
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
//                        store_sums(int32s, acc); Sums: int32 vectors I
//                        (width, load, add, sub, shl<bits>) and float
//                        vectors F (loadf, storef, addf, maxf, zero,
//                        reduce_max) with
//                        scale(i, scale, bias) = float(i) x scale + bias fused
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

// One step of a block's sums, by what the block writes (Ops may need the two
// written differently for the compiler's register allocation).
inline typename Ops::Acc dot_step(const float*, typename Ops::Acc acc, typename Ops::Acc a, typename Ops::Acc b) {
    return Ops::dot(acc, a, b);
}
inline typename Ops::Acc dot_step(const std::int32_t*, typename Ops::Acc acc, typename Ops::Acc a,
                                  typename Ops::Acc b) {
    return Ops::dot_sums(acc, a, b);
}

// A block's sums out: scaled floats, or the int32 sums themselves.
inline void put(float* c, typename Ops::Acc acc, const float* row_scale, const float* weight_scales) {
    Ops::store(c, acc, Ops::scales(*row_scale, weight_scales));
}
inline void put(std::int32_t* c, typename Ops::Acc acc, const float*, const float*) { Ops::store_sums(c, acc); }

// C[Rows][Vectors x W] for rows of A (int16, k_count deep) times the packed
// weights B ([k_count / 2][b_columns][2]); prefetches k_count / 2 lines.
// C is float (scaled by row and weight scales) or int32 (the sums; no scales).
template <int Rows, int Vectors, typename C>
inline void multiply_block(const std::int16_t* a, int k_count, const std::int16_t* b, int b_columns,
                           const float* row_scales, const float* weight_scales, C* c, int c_stride,
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
            for (int v = 0; v < Vectors; ++v) acc[r][v] = dot_step(c, acc[r][v], av, bv[v]);
        }
    }
#pragma GCC unroll 16
    for (int r = 0; r < Rows; ++r)
#pragma GCC unroll 8
        for (int v = 0; v < Vectors; ++v)
            put(c + static_cast<long>(r) * c_stride + v * W, acc[r][v], row_scales + r, weight_scales + v * W);
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

template <int Vectors, typename C, int Rows = row_block(Vectors)>
inline void multiply_rest(int rows_left, const std::int16_t* a, int k_count, const std::int16_t* b, int b_columns,
                          const float* row_scales, const float* weight_scales, C* c, int c_stride,
                          PrefetchCursor& prefetch) {
    if constexpr (Rows > 1) {
        if (rows_left == Rows - 1) {
            multiply_block<Rows - 1, Vectors>(a, k_count, b, b_columns, row_scales, weight_scales, c, c_stride,
                                              prefetch.take(k_count / 2));
            return;
        }
        multiply_rest<Vectors, C, Rows - 1>(rows_left, a, k_count, b, b_columns, row_scales, weight_scales, c,
                                            c_stride, prefetch);
    }
}

// Row scales advance with the rows; without them (int32 sums) they stay null.
inline const float* advance(const float* scales, long by) { return scales ? scales + by : nullptr; }

template <int Vectors, typename C>
inline void multiply_columns(const std::int16_t* a, const std::int16_t* b, const float* row_scales,
                             const float* weight_scales, int rows, int k_count, int columns, C* c, int c_stride,
                             PrefetchCursor& prefetch) {
    constexpr int block_rows = row_block(Vectors);
    int r = 0;
    for (; r + block_rows <= rows; r += block_rows)
        multiply_block<block_rows, Vectors>(a + static_cast<long>(r) * k_count, k_count, b, columns,
                                            advance(row_scales, r), weight_scales, c + static_cast<long>(r) * c_stride,
                                            c_stride, prefetch.take(k_count / 2));
    if (r < rows)
        multiply_rest<Vectors>(rows - r, a + static_cast<long>(r) * k_count, k_count, b, columns,
                               advance(row_scales, r), weight_scales, c + static_cast<long>(r) * c_stride, c_stride,
                               prefetch);
}

// Out: [36][tiles][out channels], or with `tile_major` [tiles][36][out channels].
template <typename C>
void multiply_points(const std::int16_t* quantised, const float* row_scales, const std::int16_t* weights,
                     const float* weight_scales, int tiles, int in_channels, int out_channels, C* products,
                     bool tile_major) {
    constexpr int block_columns = kColumnVectors * W;
    const long weights_per_point = static_cast<long>(in_channels) * out_channels;
    for (int point = 0; point < winograd_points; ++point) {
        const std::int16_t* a = quantised + static_cast<long>(point) * tiles * in_channels;
        const float* scales = advance(row_scales, static_cast<long>(point) * tiles);
        const std::int16_t* b = weights + point * weights_per_point;
        const float* w_scales = weight_scales ? weight_scales + static_cast<long>(point) * out_channels : nullptr;
        C* c = products + static_cast<long>(point) * (tile_major ? 1 : tiles) * out_channels;
        const int c_stride = tile_major ? winograd_points * out_channels : out_channels;
        PrefetchCursor prefetch{b + weights_per_point, point + 1 < winograd_points ? b + 2 * weights_per_point : b};
        int column = 0;
        for (; column + block_columns <= out_channels; column += block_columns)
            multiply_columns<kColumnVectors>(a, b + 2 * column, scales, w_scales + column, tiles, in_channels,
                                             out_channels, c + column, c_stride, prefetch);
        // Channel counts are multiples of 16: what is left is whole vectors.
        const int vectors_left = (out_channels - column) / W;
        if constexpr (kColumnVectors > 3)
            if (vectors_left == 3)
                multiply_columns<3>(a, b + 2 * column, scales, w_scales + column, tiles, in_channels, out_channels,
                                    c + column, c_stride, prefetch);
        if constexpr (kColumnVectors > 2)
            if (vectors_left == 2)
                multiply_columns<2>(a, b + 2 * column, scales, w_scales + column, tiles, in_channels, out_channels,
                                    c + column, c_stride, prefetch);
        if constexpr (kColumnVectors > 1)
            if (vectors_left == 1)
                multiply_columns<1>(a, b + 2 * column, scales, w_scales + column, tiles, in_channels, out_channels,
                                    c + column, c_stride, prefetch);
    }
}

void multiply(const std::int16_t* quantised, const float* row_scales, const std::int16_t* weights,
              const float* weight_scales, int tiles, int in_channels, int out_channels, float* products) {
    multiply_points(quantised, row_scales, weights, weight_scales, tiles, in_channels, out_channels, products, false);
}

void multiply_sums(const std::int16_t* transformed, const std::int16_t* weights, int tiles, int in_channels,
                   int out_channels, std::int32_t* sums) {
    multiply_points(transformed, static_cast<const float*>(nullptr), weights, static_cast<const float*>(nullptr),
                    tiles, in_channels, out_channels, sums, true);
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

// ---- The integer output transform -----------------------------------------

// A^T applied to six int32 vectors in wrapping arithmetic (shifts for the
// multiplications): exact modulo 2^32, as the sums are.
inline void output_1d_int(const typename Ops::Sums::I m[6], typename Ops::Sums::I o[4]) {
    using S = typename Ops::Sums;
    const typename S::I sum12 = S::add(m[1], m[2]), diff12 = S::sub(m[1], m[2]);
    const typename S::I sum34 = S::add(m[3], m[4]), diff34 = S::sub(m[3], m[4]);
    o[0] = S::add(S::add(m[0], sum12), sum34);
    o[1] = S::add(diff12, S::template shl<1>(diff34));
    o[2] = S::add(sum12, S::template shl<2>(sum34));
    o[3] = S::add(S::add(diff12, S::template shl<3>(diff34)), m[5]);
}

// The loop of the float32 output transform (simd_kernels.inl), on int32 sums.
template <bool Residual, bool Relu>
void output_sums_tiles(const std::int32_t* sums, const float* scales, const float* bias, const float* residual,
                       const SpatialGeometry& g, int channels, float* destination, float* largest) {
    using S = typename Ops::Sums;
    typename S::F highest = S::zero();
    const long point_stride = channels;
    const long row_stride = static_cast<long>(g.padded_columns) * channels;
    const typename S::F zero = S::zero();
    for (int ty = 0; ty < g.tiles_y; ++ty) {
        const int y0 = ty * winograd_tile;
        const int rows_inside = g.rows - y0 < winograd_tile ? g.rows - y0 : winograd_tile;
        for (int tx = 0; tx < g.tiles_x; ++tx) {
            const int tile = ty * g.tiles_x + tx;
            const int x0 = tx * winograd_tile;
            const int columns_inside = g.columns - x0 < winograd_tile ? g.columns - x0 : winograd_tile;
            const long corner = (y0 + 1) * row_stride + (x0 + 1) * long{channels};
            const std::int32_t* in = sums + static_cast<long>(tile) * winograd_points * channels;
            for (int c = 0; c < channels; c += S::width) {
                // A^T along each row of points, folded into the outputs over
                // the rows as they come (the sums and differences of
                // output_1d_int across rows): 16 outputs, two rows and one
                // row's loads are live at once, where the column-first
                // order's 4 x 6 intermediate spilled (measured: 5% of an
                // evaluation on AVX-512).
                const std::int32_t* at_c = in + c;
                auto row = [&](int y, typename S::I u[4]) {
                    typename S::I m[6];
                    for (int x = 0; x < 6; ++x) m[x] = S::load(at_c + (y * 6 + x) * point_stride);
                    output_1d_int(m, u);
                };
                typename S::I o[4][4], first[4], second[4];
                row(0, o[0]);
                row(1, first);
                row(2, second);
                for (int x = 0; x < 4; ++x) {
                    const typename S::I sum = S::add(first[x], second[x]), difference = S::sub(first[x], second[x]);
                    o[0][x] = S::add(o[0][x], sum);
                    o[1][x] = difference;
                    o[2][x] = sum;
                    o[3][x] = difference;
                }
                row(3, first);
                row(4, second);
                for (int x = 0; x < 4; ++x) {
                    const typename S::I sum = S::add(first[x], second[x]), difference = S::sub(first[x], second[x]);
                    o[0][x] = S::add(o[0][x], sum);
                    o[1][x] = S::add(o[1][x], S::template shl<1>(difference));
                    o[2][x] = S::add(o[2][x], S::template shl<2>(sum));
                    o[3][x] = S::add(o[3][x], S::template shl<3>(difference));
                }
                row(5, first);
                for (int x = 0; x < 4; ++x) o[3][x] = S::add(o[3][x], first[x]);
                const typename S::F scale = S::loadf(scales + c), b = S::loadf(bias + c);
                for (int y = 0; y < rows_inside; ++y) {
                    const long row = corner + y * row_stride + c;
                    for (int x = 0; x < columns_inside; ++x) {
                        const long at = row + x * long{channels};
                        typename S::F value = S::scale(o[y][x], scale, b);
                        if constexpr (Residual) value = S::addf(value, S::loadf(residual + at));
                        if constexpr (Relu) {
                            value = S::maxf(value, zero);
                            highest = S::maxf(highest, value);
                        }
                        S::storef(destination + at, value);
                    }
                }
            }
        }
    }
    if constexpr (Relu) *largest = S::reduce_max(highest);
}

void output_sums(const std::int32_t* sums, const float* scales, const float* bias, const float* residual, bool relu,
                 const SpatialGeometry& g, int channels, float* destination, float* largest) {
    if (residual) {
        if (relu) output_sums_tiles<true, true>(sums, scales, bias, residual, g, channels, destination, largest);
        else output_sums_tiles<true, false>(sums, scales, bias, residual, g, channels, destination, largest);
    } else {
        if (relu) output_sums_tiles<false, true>(sums, scales, bias, residual, g, channels, destination, largest);
        else output_sums_tiles<false, false>(sums, scales, bias, residual, g, channels, destination, largest);
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
    table.multiply_sums = multiply_sums;
    table.output_sums = output_sums;
    return table;
}

}  // namespace qvr::QVR_INT16_NAMESPACE
