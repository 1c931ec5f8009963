#include "qvr/int16_weights.h"

#include <algorithm>
#include <cmath>

#include "qvr/int16_kernel_table.h"
#include "qvr/kernel_table.h"

namespace qvr {

Int16WinogradWeights quantise_winograd_weights(const AlignedBuffer& transformed, int in_padded, int out_padded,
                                               Int16Input input) {
    Int16WinogradWeights result;
    result.limit = int16_limit(in_padded);
    const std::size_t per_point = static_cast<std::size_t>(in_padded) * out_padded;
    result.packed.assign(winograd_points * per_point, 0);
    result.scales.assign(static_cast<std::size_t>(winograd_points) * out_padded, 0.0f);
    for (int point = 0; point < winograd_points; ++point) {
        const int limit = input == Int16Input::rounded_rows ? result.limit : integer_weight_limit(point, in_padded);
        const float* u = transformed.data() + point * per_point;  // [in][out]
        std::int16_t* packed = result.packed.data() + point * per_point;
        for (int o = 0; o < out_padded; ++o) {
            float largest = 0.0f;
            for (int i = 0; i < in_padded; ++i) largest = std::max(largest, std::fabs(u[static_cast<std::size_t>(i) * out_padded + o]));
            if (largest == 0.0f) continue;
            const double inverse = limit / static_cast<double>(largest);
            for (int i = 0; i < in_padded; ++i) {
                const double rounded = std::nearbyint(u[static_cast<std::size_t>(i) * out_padded + o] * inverse);
                packed[(static_cast<std::size_t>(i / 2) * out_padded + o) * 2 + i % 2] =
                    static_cast<std::int16_t>(std::clamp<double>(rounded, -limit, limit));
            }
            result.scales[static_cast<std::size_t>(point) * out_padded + o] = largest / static_cast<float>(limit);
        }
    }
    return result;
}

}  // namespace qvr
