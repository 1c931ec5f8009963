// Int8 kernel templates shared by the instruction-set files (see
// int8_kernel_table.h for the layouts). Each includer defines, before
// including this file:
//   QVR_INT8_NAMESPACE   a namespace of its own (the same inline code compiled
//                        with different flags must never be merged by the linker)
//   struct Ops           width (int32 lanes), Acc, zero(), weights(p) (width x 4
//                        bytes), broadcast(p) (4 bytes to every lane),
//                        dot(acc, a, b) (acc + the lane-wise sum of four
//                        unsigned x signed byte products), store(out, acc,
//                        multipliers, bias, residual or null, relu),
//                        quantise16(in, inverse_scale, out)
//   kColumnVectors, row_block(vectors)   the register blocks: vectors of
//                        output channels by cells of one board row, chosen so
//                        the accumulators, the weight vectors and one broadcast
//                        fit in the register file
// and afterwards uses make_int8_table() to build its Int8KernelTable.
//
// No standard-library templates and no inline functions from shared headers
// (SpatialGeometry's members included) are called in here, for the linker
// reason given in simd_kernels.inl.

namespace qvr::QVR_INT8_NAMESPACE {
namespace {

constexpr int W = Ops::width;
constexpr int quantise_step = 16;  // floats per Ops::quantise16 call; counts are multiples of 16

void quantise(const float* source, std::size_t count, float inverse_scale, std::uint8_t* quantised) {
    for (std::size_t i = 0; i < count; i += quantise_step) Ops::quantise16(source + i, inverse_scale, quantised + i);
}

// Where one convolution's operands are: the input cell under tap (0, 0) of
// the block's first cell, the weights of the block's first output channel.
struct ConvArgs {
    const std::uint8_t* input;
    long tap_offsets[conv3x3_taps];  // bytes from a cell to the input under each tap
    int in_channels;
    const std::int8_t* weights;
    long k_bytes;        // out channels x 4
    const float* multipliers;
    const float* bias;
    const float* residual;  // at the block's first output cell, or null
    bool relu;
    int out_stride;      // floats from one cell to the next (out channels)
    float* out;          // the block's first output cell
};

// `Rows` consecutive cells of one board row by `Vectors` vectors of output channels.
template <int Rows, int Vectors>
inline void conv_block(const ConvArgs& c) {
    typename Ops::Acc acc[Rows][Vectors];
#pragma GCC unroll 32
    for (int r = 0; r < Rows; ++r)
#pragma GCC unroll 8
        for (int v = 0; v < Vectors; ++v) acc[r][v] = Ops::zero();
    // One flat loop over (tap, four input channels): with the taps as an outer
    // loop GCC 12 kept the accumulators on the stack (measured: int8 at 0.68x
    // the float32 AVX-512 speed). The packed weights of consecutive steps are
    // consecutive, so only the input pointer jumps, once per tap.
    const std::int8_t* b = c.weights;
    const std::uint8_t* a = c.input + c.tap_offsets[0];
    int k = 0, tap = 0;
    const int steps = conv3x3_taps * c.in_channels / 4;
    for (int step = 0; step < steps; ++step) {
        typename Ops::Acc bv[Vectors];
#pragma GCC unroll 8
        for (int v = 0; v < Vectors; ++v) bv[v] = Ops::weights(b + v * W * 4);
#pragma GCC unroll 32
        for (int r = 0; r < Rows; ++r) {
            const typename Ops::Acc av = Ops::broadcast(a + static_cast<long>(r) * c.in_channels + k);
#pragma GCC unroll 8
            for (int v = 0; v < Vectors; ++v) acc[r][v] = Ops::dot(acc[r][v], av, bv[v]);
        }
        b += c.k_bytes;
        k += 4;
        if (k == c.in_channels && ++tap < conv3x3_taps) {
            k = 0;
            a = c.input + c.tap_offsets[tap];
        }
    }
#pragma GCC unroll 32
    for (int r = 0; r < Rows; ++r)
#pragma GCC unroll 8
        for (int v = 0; v < Vectors; ++v) {
            const long at = static_cast<long>(r) * c.out_stride + v * W;
            Ops::store(c.out + at, acc[r][v], c.multipliers + v * W, c.bias + v * W,
                       c.residual ? c.residual + at : nullptr, c.relu);
        }
}

template <int Vectors, int Rows = row_block(Vectors)>
inline void conv_rest(int cells_left, const ConvArgs& c) {
    if constexpr (Rows > 1) {
        if (cells_left == Rows - 1) {
            conv_block<Rows - 1, Vectors>(c);
            return;
        }
        conv_rest<Vectors, Rows - 1>(cells_left, c);
    }
}

// One board row's cells by `Vectors` vectors of output channels from `column`.
template <int Vectors>
inline void conv_row(ConvArgs c, int cells) {
    constexpr int block = row_block(Vectors);
    int x = 0;
    for (; x + block <= cells; x += block) {
        conv_block<block, Vectors>(c);
        c.input += static_cast<long>(block) * c.in_channels;
        c.out += static_cast<long>(block) * c.out_stride;
        if (c.residual) c.residual += static_cast<long>(block) * c.out_stride;
    }
    if (x < cells) conv_rest<Vectors>(cells - x, c);
}

void conv3x3(const std::uint8_t* quantised, const SpatialGeometry& g, int in_channels, const std::int8_t* weights,
             const float* multipliers, const float* bias, const float* residual, bool relu, int out_channels,
             float* destination) {
    constexpr int block_columns = kColumnVectors * W;
    for (int y = 0; y < g.rows; ++y) {
        const long first_cell = static_cast<long>(y + 1) * g.padded_columns + 1;
        ConvArgs c;
        c.input = quantised + first_cell * in_channels;
        for (int tap = 0; tap < conv3x3_taps; ++tap)
            c.tap_offsets[tap] = ((tap / 3 - 1) * static_cast<long>(g.padded_columns) + tap % 3 - 1) * in_channels;
        c.in_channels = in_channels;
        c.k_bytes = static_cast<long>(out_channels) * 4;
        c.relu = relu;
        c.out_stride = out_channels;
        for (int column = 0; column < out_channels; column += block_columns) {
            c.weights = weights + column * 4;
            c.multipliers = multipliers + column;
            c.bias = bias + column;
            c.out = destination + first_cell * out_channels + column;
            c.residual = residual ? residual + first_cell * out_channels + column : nullptr;
            // Channel counts are multiples of 16, so what is left is whole vectors.
            const int vectors_left = (out_channels - column) / W;
            if (vectors_left >= kColumnVectors) conv_row<kColumnVectors>(c, g.columns);
            else if constexpr (kColumnVectors > 1) {
                if (vectors_left == 1) conv_row<1>(c, g.columns);
                if constexpr (kColumnVectors > 2)
                    if (vectors_left == 2) conv_row<2>(c, g.columns);
                if constexpr (kColumnVectors > 3)
                    if (vectors_left == 3) conv_row<3>(c, g.columns);
            }
        }
    }
}

}  // namespace

Int8KernelTable make_int8_table() {
    Int8KernelTable table;
    table.quantise = quantise;
    table.conv3x3 = conv3x3;
    return table;
}

}  // namespace qvr::QVR_INT8_NAMESPACE
