// Load-time preparation of a Winograd convolution for the int16 products
// (int16_kernel_table.h): the transformed weights rounded to int16 with one
// scale per point and output channel, packed two input channels deep. Built
// once per model load; read-only afterwards, so any thread may read it.
#pragma once

#include <cstdint>
#include <vector>

#include "qvr/aligned_buffer.h"

namespace qvr {

struct Int16WinogradWeights {
    std::vector<std::int16_t> packed;  // [36][in_padded / 2][out_padded][2]
    std::vector<float> scales;         // [36][out_padded]
    int limit = 0;                     // int16_limit(in_padded): both operands stay within it
};

/// Which input the weights will meet: rows rounded at run time, or the
/// integer input transform's values (int16_kernel_table.h).
enum class Int16Input { rounded_rows, integer_transform };

/// `transformed` [36][in_padded][out_padded] as winograd_transform_weights
/// makes it; in_padded even. A scale is the largest magnitude over the
/// point's and channel's weights / limit, so each uses the whole range (an
/// all-zero one gets scale 0 and zero weights). The limit is
/// int16_limit(in_padded) for rounded rows, integer_weight_limit(point,
/// in_padded) for the integer transform.
Int16WinogradWeights quantise_winograd_weights(const AlignedBuffer& transformed, int in_padded, int out_padded,
                                               Int16Input input = Int16Input::rounded_rows);

}  // namespace qvr
