// Every fast path against the reference interpreter: residual networks of
// several sizes (whole and partial Winograd tiles, channel counts that fill
// and that do not fill the SIMD registers), graphs that defeat the fusions,
// and batches that must not leak state from one sample to the next.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "qvr/model_base.h"
#include "qvr/model_builder.h"
#include "qvr/model_file.h"
#include "qvr/random_network.h"
#include "temp_file.h"

namespace {

using namespace qvr;

// Float32 Winograd against direct convolution over a dozen layers: the
// difference is rounding, a few 1e-6 on values of order one.
constexpr float kTolerance = 1e-4f;

std::vector<KernelPath> fast_paths() {
    std::vector<KernelPath> paths;
    for (KernelPath path : supported_kernel_paths())
        if (path != KernelPath::reference && !is_low_precision(path)) paths.push_back(path);
    return paths;
}

std::vector<float> random_input(std::size_t count, unsigned seed, bool one_hot_like) {
    std::mt19937 random(seed);
    std::normal_distribution<float> normal(0.0f, 1.0f);
    std::bernoulli_distribution stone(0.4);
    std::vector<float> values(count);
    for (float& value : values) value = one_hot_like ? (stone(random) ? 1.0f : 0.0f) : normal(random);
    return values;
}

// Runs `graph` on `batch` samples and returns every output, concatenated.
std::vector<float> run(const ModelGraph& graph, KernelPath path, const std::vector<float>& input, std::uint64_t batch) {
    const std::string file = temp_file(std::string("qvr_kernels_") + kernel_path_name(path) + ".qvm");
    write_model_file(graph, file);
    ModelBase model("test", "");
    model.LoadModelFromFile(file, std::string("gpu_id=0,kernels=") + kernel_path_name(path));
    EXPECT_EQ(model.kernel_path(), path);
    std::vector<std::uint64_t> extents{batch};
    const TShape sample = graph.inputs[0].shape;
    extents.insert(extents.end(), sample.extents().begin(), sample.extents().end());
    std::vector<TBlob> outputs;
    model.InferBatch({TBlob(Float32, graph.inputs[0].name, TShape(extents), input.data())}, outputs);
    std::vector<float> all;
    for (const TBlob& blob : outputs) {
        const auto* data = static_cast<const float*>(blob.__Data());
        all.insert(all.end(), data, data + blob.shape().element_count());
    }
    return all;
}

void expect_paths_match_reference(const ModelGraph& graph, std::uint64_t batch, bool one_hot_like) {
    const std::vector<float> input = random_input(batch * graph.inputs[0].shape.element_count(), 99, one_hot_like);
    const std::vector<float> expected = run(graph, KernelPath::reference, input, batch);
    for (KernelPath path : fast_paths()) {
        SCOPED_TRACE(kernel_path_name(path));
        const std::vector<float> got = run(graph, path, input, batch);
        ASSERT_EQ(got.size(), expected.size());
        float worst = 0.0f;
        for (std::size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::abs(got[i] - expected[i]));
        EXPECT_LE(worst, kTolerance);
    }
}

struct NetworkCase {
    std::uint32_t blocks, channels, planes, rows, columns;
};

TEST(QvrKernels, ResidualNetworksMatchTheReference) {
    const NetworkCase cases[] = {
        {1, 16, 3, 20, 20},  // the engine's geometry, one register of channels
        {2, 64, 3, 20, 20},  // the shipped width
        {1, 48, 3, 20, 20},  // less than one 64-channel register block
        {1, 24, 3, 20, 20},  // padded channels
        {2, 32, 5, 7, 9},    // partial tiles on both axes, odd input planes
        {1, 16, 1, 1, 1},    // a single cell
    };
    for (const NetworkCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.blocks) + "x" + std::to_string(c.channels) + " on " + std::to_string(c.rows) +
                     "x" + std::to_string(c.columns));
        ResidualNetworkShape shape;
        shape.blocks = c.blocks;
        shape.channels = c.channels;
        shape.input_planes = c.planes;
        shape.rows = c.rows;
        shape.columns = c.columns;
        shape.value_hidden = 20;
        expect_paths_match_reference(random_residual_network(shape, c.channels + c.rows), 2, true);
    }
}

// Tensors read twice, a conv output that is also a model output, a spatial
// 1x1 convolution with a residual, tanh and relu on spatial tensors, spatial
// outputs and a flatten of the raw input: all outside the fused patterns.
TEST(QvrKernels, UnfusedGraphsMatchTheReference) {
    std::mt19937 random(5);
    std::normal_distribution<float> normal(0.0f, 0.3f);
    auto weights = [&](std::size_t count) {
        std::vector<float> values(count);
        for (float& value : values) value = normal(random);
        return values;
    };
    ModelBuilder builder;
    const auto in = builder.input("in", TShape{5, 6, 7});
    const auto a = builder.conv2d(in, 5, 8, 3, weights(8 * 5 * 9), weights(8));
    const auto b = builder.relu(a);
    const auto c = builder.conv2d(b, 8, 8, 1, weights(64), weights(8));
    const auto d = builder.add(c, a);
    const auto e = builder.tanh(d);
    const auto f = builder.relu(builder.conv2d(e, 8, 3, 3, weights(3 * 8 * 9), weights(3)));
    const auto flat_input = builder.flatten(in);
    const auto dense = builder.dense(flat_input, 210, 4, weights(840), weights(4));
    builder.output("spatial", e);
    builder.output("conv_output", a);
    builder.output("late", f);
    builder.output("softmax", builder.softmax(dense));
    builder.output("flat_relu", builder.relu(builder.flatten(f)));
    expect_paths_match_reference(builder.build(), 3, false);
}

// Samples of a batch must not see each other: the batch equals the samples
// run one by one, on every path.
TEST(QvrKernels, BatchesEqualSingleSamples) {
    ResidualNetworkShape shape;
    shape.blocks = 1;
    shape.channels = 16;
    const ModelGraph graph = random_residual_network(shape, 8);
    const std::size_t sample_size = graph.inputs[0].shape.element_count();
    const std::vector<float> batch = random_input(3 * sample_size, 4, true);
    for (KernelPath path : supported_kernel_paths()) {
        SCOPED_TRACE(kernel_path_name(path));
        const std::vector<float> together = run(graph, path, batch, 3);
        for (std::size_t i = 0; i < 3; ++i) {
            const std::vector<float> one(batch.begin() + i * sample_size, batch.begin() + (i + 1) * sample_size);
            const std::vector<float> alone = run(graph, path, one, 1);
            // Outputs are policy (3 x 400) then value (3 x 1).
            for (std::size_t k = 0; k < 400; ++k) ASSERT_EQ(alone[k], together[i * 400 + k]);
            ASSERT_EQ(alone[400], together[3 * 400 + i]);
        }
    }
}

TEST(QvrKernels, AutomaticPicksTheFastestSupportedPath) {
    const KernelPath automatic = resolve_kernel_path(KernelPath::automatic);
    EXPECT_TRUE(cpu_supports(automatic));
    EXPECT_FALSE(is_int8(automatic));  // a float32 file never runs in int8
    // VNNI makes the int16 products the fastest; without it AVX-512 float32
    // is. The int16i paths are never chosen on their own.
    EXPECT_FALSE(is_integer_transform(automatic));
    if (cpu_supports(KernelPath::int16_avx512)) {
        EXPECT_EQ(automatic, KernelPath::int16_avx512);
    } else if (cpu_supports(KernelPath::avx512)) {
        EXPECT_EQ(automatic, KernelPath::avx512);
    } else if (cpu_supports(KernelPath::int16_avxvnni)) {
        EXPECT_EQ(automatic, KernelPath::int16_avxvnni);
    }
    EXPECT_EQ(float32_counterpart(KernelPath::int16i_avx512), KernelPath::avx512);
    EXPECT_EQ(float32_counterpart(KernelPath::int16i_avxvnni), KernelPath::avx2);
    EXPECT_EQ(float32_counterpart(KernelPath::int16_avx512), KernelPath::avx512);
    EXPECT_EQ(float32_counterpart(KernelPath::int16_avx2), KernelPath::avx2);
    EXPECT_EQ(float32_counterpart(KernelPath::int16_avxvnni), KernelPath::avx2);
    EXPECT_EQ(resolve_kernel_path(KernelPath::avx2), KernelPath::avx2);
    for (const char* name : {"auto", "reference", "generic", "avx2", "avx512", "int16-generic", "int16-avx2",
                             "int16-avxvnni", "int16-avx512", "int16i-generic", "int16i-avx2", "int16i-avxvnni",
                             "int16i-avx512"})
        EXPECT_STREQ(kernel_path_name(*parse_kernel_path(name)), name);
    EXPECT_FALSE(parse_kernel_path("sse").has_value());
}

}  // namespace
