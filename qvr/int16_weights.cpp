#include "qvr/int16_weights.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "qvr/int16_kernel_table.h"
#include "qvr/kernel_table.h"

namespace qvr {

namespace {

std::int16_t& packed_at(std::vector<std::int16_t>& packed, int point, int in_padded, int out_padded, int i, int o) {
    const std::size_t per_point = static_cast<std::size_t>(in_padded) * out_padded;
    return packed[point * per_point + (static_cast<std::size_t>(i / 2) * out_padded + o) * 2 + i % 2];
}

// One dimension of the map from a tile's inputs through its transformed
// points to its outputs: map[k][r x 6 + a] = A^T[r][k] x B^T[k][a] (output r,
// point k, input a).
constexpr int map_width = winograd_tile * winograd_window;
using OneDimensionMap = std::array<std::array<float, map_width>, winograd_window>;

OneDimensionMap one_dimension_map() {
    OneDimensionMap map{};
    for (int k = 0; k < winograd_window; ++k)
        for (int r = 0; r < winograd_tile; ++r)
            for (int a = 0; a < winograd_window; ++a)
                map[k][r * winograd_window + a] = static_cast<float>(winograd_output_matrix[r][k] * winograd_input_matrix[k][a]);
    return map;
}

// For one output channel: the largest over the 16 outputs of the sum over
// inputs of |coefficient|, weights w[c][36] (c < in_padded). Separable: the
// coefficient of input (c, a, b) in output (r, s) is the sum over k, l of
// map[k][(r, a)] map[l][(s, b)] w[c][6k + l]. Dense loops of fixed length, so
// that they vectorise; in float for speed, its rounding (relative 2^-24 a
// step, a few thousand steps) covered by the caller's margin.
double output_bound(int in_padded, const std::vector<float>& w) {
    static const OneDimensionMap map = one_dimension_map();
    float total[winograd_tile][map_width] = {};  // [r][(s, b)], summed over c and a
    for (int c = 0; c < in_padded; ++c) {
        const float* wc = w.data() + static_cast<std::size_t>(c) * winograd_points;
        bool any = false;
        for (int e = 0; e < winograd_points; ++e) any = any || wc[e] != 0.0f;
        if (!any) continue;
        float inner[winograd_window][map_width] = {};  // [k][(s, b)]
        for (int k = 0; k < winograd_window; ++k)
            for (int l = 0; l < winograd_window; ++l) {
                const float weight = wc[k * winograd_window + l];
                for (int j = 0; j < map_width; ++j) inner[k][j] += weight * map[l][j];
            }
        for (int i = 0; i < map_width; ++i) {  // (r, a)
            float coefficient[map_width] = {};
            for (int k = 0; k < winograd_window; ++k) {
                const float m = map[k][i];
                for (int j = 0; j < map_width; ++j) coefficient[j] += m * inner[k][j];
            }
            float* row = total[i / winograd_window];
            for (int j = 0; j < map_width; ++j) row[j] += std::fabs(coefficient[j]);
        }
    }
    float largest = 0.0f;
    for (int r = 0; r < winograd_tile; ++r)
        for (int s = 0; s < winograd_tile; ++s) {
            float sum = 0.0f;
            for (int b = 0; b < winograd_window; ++b) sum += total[r][s * winograd_window + b];
            largest = std::max(largest, sum);
        }
    return static_cast<double>(largest) * integer_input_limit(true);
}

void quantise_channel_per_point(const AlignedBuffer& transformed, int in_padded, int out_padded, int o,
                                Int16WinogradWeights& result) {
    const std::size_t per_point = static_cast<std::size_t>(in_padded) * out_padded;
    for (int point = 0; point < winograd_points; ++point) {
        const float* u = transformed.data() + point * per_point;  // [in][out]
        float largest = 0.0f;
        for (int i = 0; i < in_padded; ++i) largest = std::max(largest, std::fabs(u[static_cast<std::size_t>(i) * out_padded + o]));
        if (largest == 0.0f) continue;
        const double inverse = result.limit / static_cast<double>(largest);
        for (int i = 0; i < in_padded; ++i) {
            const double rounded = std::nearbyint(u[static_cast<std::size_t>(i) * out_padded + o] * inverse);
            packed_at(result.packed, point, in_padded, out_padded, i, o) =
                static_cast<std::int16_t>(std::clamp<double>(rounded, -result.limit, result.limit));
        }
        result.scales[static_cast<std::size_t>(point) * out_padded + o] = largest / static_cast<float>(result.limit);
    }
}

// One scale over the channel's 36 points: start at 32767 levels for its
// largest magnitude and shrink in proportion while an output could leave
// int32 (the bound is nearly linear in the levels; the loop takes up rounding).
void quantise_channel_shared(const AlignedBuffer& transformed, int in_padded, int out_padded, int o,
                             Int16WinogradWeights& result) {
    const std::size_t per_point = static_cast<std::size_t>(in_padded) * out_padded;
    auto u = [&](int point, int i) { return transformed.data()[point * per_point + static_cast<std::size_t>(i) * out_padded + o]; };
    float largest = 0.0f;
    for (int point = 0; point < winograd_points; ++point)
        for (int i = 0; i < in_padded; ++i) largest = std::max(largest, std::fabs(u(point, i)));
    if (largest == 0.0f) return;
    constexpr double int32_largest = 2147483647.0;
    int levels = 32767;
    for (;;) {
        const double inverse = levels / static_cast<double>(largest);
        for (int point = 0; point < winograd_points; ++point)
            for (int i = 0; i < in_padded; ++i)
                packed_at(result.packed, point, in_padded, out_padded, i, o) = static_cast<std::int16_t>(
                    std::clamp<double>(std::nearbyint(u(point, i) * inverse), -levels, levels));
        // 0.1% over the float sums' worst rounding.
        const double bound = integer_output_bound(result, in_padded, out_padded, o) * 1.001;
        if (bound <= int32_largest || levels == 1) break;
        levels = std::max(1, std::min(levels - 1, static_cast<int>(levels * (int32_largest / bound))));
    }
    result.scales[o] = largest / static_cast<float>(levels);
}

}  // namespace

double integer_output_bound(const Int16WinogradWeights& weights, int in_padded, int out_padded, int o) {
    const std::size_t per_point = static_cast<std::size_t>(in_padded) * out_padded;
    std::vector<float> w(static_cast<std::size_t>(in_padded) * winograd_points);
    for (int point = 0; point < winograd_points; ++point)
        for (int c = 0; c < in_padded; ++c)
            w[static_cast<std::size_t>(c) * winograd_points + point] =
                weights.packed[point * per_point + (static_cast<std::size_t>(c / 2) * out_padded + o) * 2 + c % 2];
    return output_bound(in_padded, w);
}

Int16WinogradWeights quantise_winograd_weights(const AlignedBuffer& transformed, int in_padded, int out_padded,
                                               Int16Input input) {
    Int16WinogradWeights result;
    result.limit = int16_limit(in_padded);
    const std::size_t per_point = static_cast<std::size_t>(in_padded) * out_padded;
    result.packed.assign(winograd_points * per_point, 0);
    const bool shared = input == Int16Input::integer_transform;
    result.scales.assign(static_cast<std::size_t>(shared ? 1 : winograd_points) * out_padded, 0.0f);
    for (int o = 0; o < out_padded; ++o) {
        if (shared) quantise_channel_shared(transformed, in_padded, out_padded, o, result);
        else quantise_channel_per_point(transformed, in_padded, out_padded, o, result);
    }
    return result;
}

}  // namespace qvr
