// The int8 convolution path: its kernels against the plain C++ yardstick and
// at the ends of the byte ranges, whole quantised networks against the
// float32 reference, and the model file's version 2 (input scales) with every
// kind of damage refused on load.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "qvr/errors.h"
#include "qvr/int8_kernel_table.h"
#include "qvr/int8_weights.h"
#include "qvr/model_base.h"
#include "qvr/model_file.h"
#include "qvr/random_network.h"
#include "qvr_expect_refused.h"
#include "temp_file.h"

namespace {

using namespace qvr;

std::vector<const Int8KernelTable*> int8_tables() {
    std::vector<const Int8KernelTable*> tables{&int8_generic_kernel_table()};
#if defined(__x86_64__)
    if (cpu_supports(KernelPath::int8_avxvnni)) tables.push_back(&int8_avxvnni_kernel_table());
    if (cpu_supports(KernelPath::int8_avx512)) tables.push_back(&int8_avx512_kernel_table());
#endif
    return tables;
}

std::vector<KernelPath> int8_paths() {
    std::vector<KernelPath> paths;
    for (KernelPath path : supported_kernel_paths(true))
        if (is_int8(path)) paths.push_back(path);
    return paths;
}

// Every 3x3 convolution but the first gets an input scale: what the exporter
// writes for the engine's networks (the first stays float32).
ModelGraph quantised_network(const ResidualNetworkShape& shape, std::uint32_t seed, float scale) {
    ModelGraph graph = random_residual_network(shape, seed);
    bool first = true;
    for (Layer& layer : graph.layers) {
        if (layer.kind != LayerKind::Conv2D || layer.kernel != 3) continue;
        if (!first) layer.input_scale = scale;
        first = false;
    }
    return graph;
}

// ---- kernels -----------------------------------------------------------------

struct ConvCase {
    int rows, columns, in_channels, out_channels;  // true counts; padded to 16 here
};

struct ConvOperands {
    SpatialGeometry geometry;
    int in_padded, out_padded;
    std::vector<std::uint8_t> input;
    Int8ConvWeights weights;
    std::vector<float> bias, residual;
};

int padded(int channels) { return (channels + channel_multiple - 1) / channel_multiple * channel_multiple; }

ConvOperands random_operands(const ConvCase& c, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, int8_input_limit);
    std::normal_distribution<float> normal(0.0f, 1.0f);
    ConvOperands op;
    op.geometry = SpatialGeometry::for_plane(c.rows, c.columns);
    op.in_padded = padded(c.in_channels);
    op.out_padded = padded(c.out_channels);
    op.input.assign(static_cast<std::size_t>(op.geometry.positions()) * op.in_padded, 0);
    for (int y = 0; y < c.rows; ++y)
        for (int x = 0; x < c.columns; ++x)
            for (int i = 0; i < c.in_channels; ++i)
                op.input[((y + 1) * op.geometry.padded_columns + x + 1) * op.in_padded + i] =
                    static_cast<std::uint8_t>(byte(random));
    std::vector<float> weights(static_cast<std::size_t>(c.out_channels) * c.in_channels * 9);
    for (float& w : weights) w = normal(random);
    op.weights = quantise_conv_weights(weights, c.in_channels, c.out_channels, op.in_padded, op.out_padded, 0.01f);
    op.bias.assign(op.out_padded, 0.0f);
    for (int o = 0; o < c.out_channels; ++o) op.bias[o] = normal(random);
    op.residual.assign(static_cast<std::size_t>(op.geometry.positions()) * op.out_padded, 0.0f);
    for (float& r : op.residual) r = normal(random);
    return op;
}

std::vector<float> convolve(const Int8KernelTable& table, const ConvOperands& op, bool residual, bool relu) {
    std::vector<float> out(static_cast<std::size_t>(op.geometry.positions()) * op.out_padded, -7.0f);
    table.conv3x3(op.input.data(), op.geometry, op.in_padded, op.weights.packed.data(), op.weights.multipliers.data(),
                  op.bias.data(), residual ? op.residual.data() : nullptr, relu, op.out_padded, out.data());
    return out;
}

// Odd and even channel counts (padded to 1 to 5 vectors of 16), whole and
// partial register blocks along a row, with and without residual and ReLU.
// The sums are exact in every table; the float32 step after them may round
// differently (fused or separate multiply-add), by far less than 1e-5.
TEST(QvrInt8Kernels, EveryTableMatchesThePlainOne) {
    const ConvCase cases[] = {{20, 20, 48, 48}, {20, 20, 5, 21}, {7, 3, 33, 80}, {4, 11, 64, 17}, {1, 1, 16, 64}};
    for (const ConvCase& c : cases)
        for (int variant = 0; variant < 4; ++variant) {
            const bool residual = variant & 1, relu = variant & 2;
            SCOPED_TRACE(testing::Message() << c.rows << "x" << c.columns << " " << c.in_channels << "->"
                                            << c.out_channels << " residual " << residual << " relu " << relu);
            const ConvOperands op = random_operands(c, 5u + variant);
            const std::vector<float> expected = convolve(int8_generic_kernel_table(), op, residual, relu);
            for (const Int8KernelTable* table : int8_tables()) {
                const std::vector<float> got = convolve(*table, op, residual, relu);
                float worst = 0.0f;
                for (std::size_t i = 0; i < got.size(); ++i)
                    worst = std::max(worst, std::abs(got[i] - expected[i]) / (1.0f + std::abs(expected[i])));
                EXPECT_LE(worst, 1e-5f);
                // The border is never written.
                EXPECT_EQ(got[0], -7.0f);
            }
        }
}

// The extremes: every input 255 against every weight +127 or -127 sums to
// +-255 x 127 x 9 x 48 = +-13,990,320 (exact in float32), with nothing
// saturating on the way.
TEST(QvrInt8Kernels, ExtremeBytesSumExactly) {
    const ConvCase c{3, 3, 48, 48};
    for (float sign : {1.0f, -1.0f}) {
        ConvOperands op = random_operands(c, 1);
        std::fill(op.input.begin(), op.input.end(), std::uint8_t{0});
        const int centre = (2 * op.geometry.padded_columns + 2) * op.in_padded;  // cell (1, 1): all 9 taps inside
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x)
                std::memset(&op.input[((y + 1) * op.geometry.padded_columns + x + 1) * op.in_padded], 255, 48);
        const std::vector<float> weights(48 * 48 * 9, sign);
        op.weights = quantise_conv_weights(weights, 48, 48, 48, 48, 1.0f);
        std::fill(op.weights.multipliers.begin(), op.weights.multipliers.end(), 1.0f);
        std::fill(op.bias.begin(), op.bias.end(), 0.0f);
        for (const Int8KernelTable* table : int8_tables()) {
            const std::vector<float> out = convolve(*table, op, false, false);
            for (int o = 0; o < 48; ++o) EXPECT_EQ(out[centre / op.in_padded * op.out_padded + o], sign * 13990320.0f);
        }
    }
}

// Inputs above the calibrated range clamp to 255, negatives (which the
// calibration never saw) to 0, and halves round to even.
TEST(QvrInt8Kernels, QuantisingClampsAndRoundsToEven) {
    std::vector<float> in(32, 0.0f);
    const float values[] = {-1000.0f, -0.2f, 0.0f, 0.5f, 1.5f, 2.5f, 254.49f, 254.5f, 255.0f, 255.6f, 1e30f, 3.49f};
    const std::uint8_t expected[] = {0, 0, 0, 0, 2, 2, 254, 254, 255, 255, 255, 3};
    std::copy(std::begin(values), std::end(values), in.begin());
    for (const Int8KernelTable* table : int8_tables()) {
        std::vector<std::uint8_t> out(32, 99);
        table->quantise(in.data(), in.size(), 1.0f, out.data());
        for (std::size_t i = 0; i < std::size(expected); ++i) EXPECT_EQ(out[i], expected[i]) << "value " << values[i];
        EXPECT_EQ(out[31], 0);
    }
}

// ---- whole networks ----------------------------------------------------------

std::vector<float> infer(const std::string& file, KernelPath path, const std::vector<float>& input, std::uint64_t batch,
                         const TShape& sample) {
    ModelBase model("test", "");
    model.LoadModelFromFile(file, std::string("kernels=") + kernel_path_name(path));
    EXPECT_EQ(model.kernel_path(), path);
    std::vector<std::uint64_t> extents{batch};
    extents.insert(extents.end(), sample.extents().begin(), sample.extents().end());
    std::vector<TBlob> outputs;
    model.InferBatch({TBlob(Float32, "input", TShape(extents), input.data())}, outputs);
    std::vector<float> all;
    for (const TBlob& blob : outputs) {
        const auto* data = static_cast<const float*>(blob.__Data());
        all.insert(all.end(), data, data + blob.shape().element_count());
    }
    return all;
}

// Odd and even channel counts: every int8 path gives the plain path's
// outputs, and those stay near float32. The bound is loose on purpose: these
// random networks are not calibrated (one step of 1/32 for every layer), and
// training/check_qvm.py holds the engine to the exporter's model of the int8
// arithmetic far more tightly; a misplaced tap or channel shows here too.
TEST(QvrInt8Network, PathsAgreeAndStayNearFloat32) {
    const ResidualNetworkShape shapes[] = {{2, 16, 3, 20, 20, 2, 8}, {1, 21, 3, 9, 7, 2, 8}, {1, 48, 3, 20, 20, 2, 8}};
    for (const ResidualNetworkShape& shape : shapes) {
        SCOPED_TRACE(testing::Message() << shape.blocks << "x" << shape.channels);
        const ModelGraph graph = quantised_network(shape, 3, 1.0f / 32);
        const std::string file = temp_file("qvr_int8_network.qvm");
        write_model_file(graph, file);
        const TShape sample = graph.inputs[0].shape;
        std::mt19937 random(4);
        std::bernoulli_distribution stone(0.4);
        std::vector<float> input(2 * sample.element_count());
        for (float& value : input) value = stone(random) ? 1.0f : 0.0f;
        const std::vector<float> exact = infer(file, KernelPath::reference, input, 2, sample);
        const std::vector<float> plain = infer(file, KernelPath::int8_generic, input, 2, sample);
        float worst_vs_float = 0.0f;
        for (std::size_t i = 0; i < exact.size(); ++i) worst_vs_float = std::max(worst_vs_float, std::abs(plain[i] - exact[i]));
        EXPECT_LE(worst_vs_float, 0.15f);
        for (KernelPath path : int8_paths()) {
            const std::vector<float> got = infer(file, path, input, 2, sample);
            float worst = 0.0f;
            for (std::size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::abs(got[i] - plain[i]));
            EXPECT_LE(worst, 1e-5f) << kernel_path_name(path);
        }
    }
}

TEST(QvrInt8Network, PathChoiceFollowsTheFile) {
    ResidualNetworkShape shape{1, 16, 3, 5, 5, 2, 4};
    const std::string quantised = temp_file("qvr_int8_choice_q.qvm");
    const std::string plain = temp_file("qvr_int8_choice_f.qvm");
    write_model_file(quantised_network(shape, 1, 0.01f), quantised);
    write_model_file(random_residual_network(shape, 1), plain);
    ModelBase model("test", "");
    model.LoadModelFromFile(plain, "");
    EXPECT_EQ(model.kernel_path(), resolve_kernel_path(KernelPath::automatic));
    EXPECT_FALSE(is_int8(model.kernel_path()));
    model.LoadModelFromFile(quantised, "");
    EXPECT_EQ(model.kernel_path(), cpu_supports(KernelPath::int8_avx512) ? KernelPath::int8_avx512
                                                                         : resolve_kernel_path(KernelPath::automatic));
    for (KernelPath path : int8_paths()) EXPECT_THROW(model.LoadModelFromFile(plain, std::string("kernels=") + kernel_path_name(path)), BadOption);
}

// ---- the file ----------------------------------------------------------------

const std::string kPath = "int8.qvm";

ModelGraph small_quantised() { return quantised_network({1, 4, 3, 5, 6, 2, 3}, 7, 0.125f); }

template <typename Error>
void expect_refused(const std::string& bytes, const std::string& fragment) {
    expect_load_refused<Error>(bytes, kPath, fragment);
}

// The section ends the file: scheme, count, then (layer, scale) pairs, so the
// last scale is the file's last 4 bytes.
std::string with_last_scale(float scale) {
    std::string bytes = serialize_model(small_quantised());
    std::memcpy(bytes.data() + bytes.size() - 4, &scale, 4);
    return bytes;
}

TEST(QvrInt8File, RoundTripKeepsTheScalesAndFloatFilesStayVersionOne) {
    const ModelGraph graph = small_quantised();
    const std::string bytes = serialize_model(graph);
    std::uint32_t version;
    std::memcpy(&version, bytes.data() + 8, 4);
    EXPECT_EQ(version, quantised_model_format_version);
    const ModelGraph back = parse_model(bytes, kPath);
    ASSERT_EQ(back.layers.size(), graph.layers.size());
    for (std::size_t i = 0; i < graph.layers.size(); ++i) EXPECT_EQ(back.layers[i].input_scale, graph.layers[i].input_scale);
    EXPECT_TRUE(back.quantised());

    ModelGraph plain = graph;
    for (Layer& layer : plain.layers) layer.input_scale = 0.0f;
    const std::string plain_bytes = serialize_model(plain);
    std::memcpy(&version, plain_bytes.data() + 8, 4);
    EXPECT_EQ(version, model_format_version);
    EXPECT_EQ(plain_bytes.size() + 8 + 8 * 2, bytes.size());  // scheme, count, two (layer, scale) entries
}

TEST(QvrInt8File, DamagedScalesAreRefused) {
    const std::string bytes = serialize_model(small_quantised());
    for (std::size_t cut : {1u, 4u, 7u, 12u, 20u})
        expect_refused<TruncatedModel>(bytes.substr(0, bytes.size() - cut), "file ends inside");
    expect_refused<NonFiniteWeights>(with_last_scale(std::numeric_limits<float>::quiet_NaN()), "non-finite input scale");
    expect_refused<NonFiniteWeights>(with_last_scale(std::numeric_limits<float>::infinity()), "non-finite input scale");
    expect_refused<InconsistentModel>(with_last_scale(0.0f), "input scale 0");
    expect_refused<InconsistentModel>(with_last_scale(-0.5f), "outside [2^-64, 2^64]");
    expect_refused<InconsistentModel>(with_last_scale(1e-30f), "outside [2^-64, 2^64]");
    expect_refused<InconsistentModel>(with_last_scale(1e30f), "outside [2^-64, 2^64]");
    expect_refused<TrailingModelBytes>(bytes + "x", "follow the end");
}

TEST(QvrInt8File, SectionMustNameRealThreeByThreeConvolutionsInOrder) {
    const ModelGraph graph = small_quantised();
    const std::string bytes = serialize_model(graph);
    const std::size_t section = bytes.size() - 8 - 8 * 2;  // scheme, count, two entries
    auto patched = [&](std::size_t offset, std::uint32_t value) {
        std::string damaged = bytes;
        std::memcpy(damaged.data() + section + offset, &value, 4);
        return damaged;
    };
    expect_refused<InconsistentModel>(patched(0, 2), "unknown quantisation scheme 2");
    expect_refused<InconsistentModel>(patched(4, 0), "quantised layer count 0");
    expect_refused<InconsistentModel>(patched(4, 1000), "quantised layer count 1000");
    std::uint32_t first_layer, second_layer;
    std::memcpy(&first_layer, bytes.data() + section + 8, 4);
    std::memcpy(&second_layer, bytes.data() + section + 16, 4);
    expect_refused<InconsistentModel>(patched(16, first_layer), "out of order");
    expect_refused<InconsistentModel>(patched(16, 100000), "does not exist");
    // Layer 1 is the stem's ReLU.
    expect_refused<InconsistentModel>(patched(8, 1), "only 3x3 convolutions carry an input scale");
    // A version 1 file that carries the section has bytes after its end.
    std::string version_one = bytes;
    const std::uint32_t one = 1;
    std::memcpy(version_one.data() + 8, &one, 4);
    expect_refused<TrailingModelBytes>(version_one, "follow the end");
}

}  // namespace
