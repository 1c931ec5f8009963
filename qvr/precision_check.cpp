#include "qvr/precision_check.h"

#include <cmath>
#include <cstdint>

namespace qvr {

namespace {

constexpr std::size_t check_inputs = 8;

// Bits of a fixed 64-bit mixer (splitmix64): the same inputs on every
// platform and standard library.
std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

}  // namespace

bool low_precision_agrees(const ModelGraph& graph, Runner& low, Runner& exact) {
    std::vector<std::vector<float>> inputs;
    std::vector<const float*> input_data;
    std::uint64_t counter = 0;
    for (const NamedTensor& input : graph.inputs) {
        std::vector<float> values(check_inputs * input.shape.element_count());
        // About one cell in three set, as on a board in mid-game.
        for (float& value : values) value = mix(counter++) % 3 == 0 ? 1.0f : 0.0f;
        inputs.push_back(std::move(values));
        input_data.push_back(inputs.back().data());
    }
    std::vector<std::vector<float>> low_out, exact_out;
    std::vector<float*> low_data, exact_data;
    for (const NamedTensor& output : graph.outputs) {
        low_out.emplace_back(check_inputs * output.shape.element_count());
        exact_out.emplace_back(check_inputs * output.shape.element_count());
    }
    for (std::size_t o = 0; o < graph.outputs.size(); ++o) {
        low_data.push_back(low_out[o].data());
        exact_data.push_back(exact_out[o].data());
    }
    low.run(check_inputs, input_data, low_data);
    exact.run(check_inputs, input_data, exact_data);
    for (std::size_t o = 0; o < low_out.size(); ++o)
        for (std::size_t i = 0; i < low_out[o].size(); ++i)
            // Written so that a NaN on either side fails.
            if (!(std::fabs(low_out[o][i] - exact_out[o][i]) <= precision_check_tolerance)) return false;
    return true;
}

}  // namespace qvr
