#include "qvr/random_network.h"

#include <cmath>
#include <random>

#include "qvr/model_builder.h"

namespace qvr {

namespace {

// Bias spread: small next to the He-scaled weights, non-zero so that the bias
// paths of every kernel are exercised.
constexpr float bias_stddev = 0.1f;

class RandomWeights {
public:
    explicit RandomWeights(std::uint32_t seed) : engine_(seed) {}

    std::vector<float> he(std::size_t count, std::size_t fan_in) {
        std::normal_distribution<float> normal(0.0f, std::sqrt(2.0f / static_cast<float>(fan_in)));
        std::vector<float> values(count);
        for (float& value : values) value = normal(engine_);
        return values;
    }

    std::vector<float> bias(std::size_t count) {
        std::normal_distribution<float> normal(0.0f, bias_stddev);
        std::vector<float> values(count);
        for (float& value : values) value = normal(engine_);
        return values;
    }

private:
    std::mt19937 engine_;
};

}  // namespace

ModelGraph random_residual_network(const ResidualNetworkShape& shape, std::uint32_t seed) {
    RandomWeights random(seed);
    ModelBuilder builder;
    const std::uint32_t channels = shape.channels;
    const std::uint32_t cells = shape.rows * shape.columns;
    auto conv = [&](std::uint32_t source, std::uint32_t in, std::uint32_t out, std::uint32_t kernel) {
        return builder.conv2d(source, in, out, kernel, random.he(std::size_t{out} * in * kernel * kernel, in * kernel * kernel),
                              random.bias(out));
    };

    const std::uint32_t input = builder.input("input", TShape{shape.input_planes, shape.rows, shape.columns});
    std::uint32_t trunk = builder.relu(conv(input, shape.input_planes, channels, 3));
    for (std::uint32_t block = 0; block < shape.blocks; ++block) {
        const std::uint32_t middle = builder.relu(conv(trunk, channels, channels, 3));
        trunk = builder.relu(builder.add(conv(middle, channels, channels, 3), trunk));
    }

    const std::uint32_t policy = builder.softmax(builder.flatten(conv(trunk, channels, 1, 1)));
    const std::uint32_t value_planes = builder.flatten(builder.relu(conv(trunk, channels, shape.value_channels, 1)));
    const std::uint32_t value_features = shape.value_channels * cells;
    const std::uint32_t hidden = builder.relu(builder.dense(value_planes, value_features, shape.value_hidden,
                                                            random.he(std::size_t{shape.value_hidden} * value_features, value_features),
                                                            random.bias(shape.value_hidden)));
    const std::uint32_t value = builder.tanh(
        builder.dense(hidden, shape.value_hidden, 1, random.he(shape.value_hidden, shape.value_hidden), random.bias(1)));
    builder.output("policy", policy);
    builder.output("value", value);
    return builder.build();
}

}  // namespace qvr
