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
    std::vector<float> scales;         // rounded rows: [36][out_padded]; integer transform: [out_padded]
    int limit = 0;                     // int16_limit(in_padded): rounded rows and their weights stay within it
};

/// Which input the weights will meet: rows rounded at run time, or the
/// integer input transform's values (int16_kernel_table.h).
enum class Int16Input { rounded_rows, integer_transform };

/// `transformed` [36][in_padded][out_padded] as winograd_transform_weights
/// makes it; in_padded even. For rounded rows, one scale per point and output
/// channel: its largest magnitude / int16_limit(in_padded), so each uses the
/// whole range. For the integer transform, one scale per output channel over
/// all 36 points, with the most levels (at most 32767) that keep every output
/// of the convolution within int32 for any input within
/// integer_input_limit(), found from the exact linear map from a tile's
/// integer inputs to its outputs. An all-zero channel gets scale 0 and zero
/// weights.
Int16WinogradWeights quantise_winograd_weights(const AlignedBuffer& transformed, int in_padded, int out_padded,
                                               Int16Input input = Int16Input::rounded_rows);

/// The largest magnitude an output of output channel `o` can reach, in units
/// of the integer weights times the integer inputs, with every input within
/// integer_input_limit(true): max over the 16 outputs of a tile of the sum of
/// |coefficient| x limit over the tile's 6 x 6 x in_padded inputs. For tests.
double integer_output_bound(const Int16WinogradWeights& weights, int in_padded, int out_padded, int o);

}  // namespace qvr
