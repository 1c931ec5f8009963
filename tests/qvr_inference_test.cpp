// ModelBase end to end on the reference path: layer arithmetic checked by
// hand, the input guards of InferBatch, option parsing and blob lifetimes.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "qvr/model_base.h"
#include "qvr/model_builder.h"
#include "qvr/model_file.h"
#include "qvr/random_network.h"
#include "temp_file.h"

namespace {

using namespace qvr;

std::string save(const ModelGraph& graph, const std::string& file) {
    const std::string path = temp_file(file);
    write_model_file(graph, path);
    return path;
}

std::unique_ptr<ModelBase> load(const ModelGraph& graph, const std::string& file,
                                const std::string& options = "gpu_id=0,kernels=reference") {
    auto model = std::make_unique<ModelBase>("test", "");
    model->LoadModelFromFile(save(graph, file), options);
    return model;
}

std::vector<float> run_one(ModelBase& model, const std::vector<float>& input, TShape shape, std::size_t output = 0) {
    std::vector<TBlob> outputs;
    model.InferBatch({TBlob(Float32, model.ListInputBlobNames()[0], std::move(shape), input.data())}, outputs);
    const TBlob& blob = outputs.at(output);
    const auto* data = static_cast<const float*>(blob.__Data());
    return std::vector<float>(data, data + blob.shape().element_count());
}

// A 3x3 all-ones kernel counts each cell's in-board neighbourhood: the zero
// padding shows at the corners (4 cells) and edges (6).
TEST(QvrInference, Conv3x3PadsWithZeros) {
    ModelBuilder builder;
    const auto in = builder.input("in", TShape{1, 3, 4});
    builder.output("out", builder.conv2d(in, 1, 1, 3, std::vector<float>(9, 1.0f), {0.5f}));
    auto model = load(builder.build(), "conv3.qvm");
    const auto out = run_one(*model, std::vector<float>(12, 1.0f), TShape{1, 1, 3, 4});
    const std::vector<float> expected{4.5f, 6.5f, 6.5f, 4.5f, 6.5f, 9.5f, 9.5f, 6.5f, 4.5f, 6.5f, 6.5f, 4.5f};
    EXPECT_EQ(out, expected);
}

// Kernel orientation: weight [ky][kx] multiplies the input at (y+ky-1, x+kx-1),
// cross-correlation as in PyTorch.
TEST(QvrInference, Conv3x3IsCrossCorrelation) {
    ModelBuilder builder;
    const auto in = builder.input("in", TShape{1, 3, 3});
    std::vector<float> weights(9, 0.0f);
    weights[0 * 3 + 2] = 1.0f;  // top right tap
    builder.output("out", builder.conv2d(in, 1, 1, 3, weights, {0.0f}));
    auto model = load(builder.build(), "orient.qvm");
    std::vector<float> input(9, 0.0f);
    input[0 * 3 + 2] = 7.0f;  // top right cell: seen by the output to its lower left
    const auto out = run_one(*model, input, TShape{1, 1, 3, 3});
    EXPECT_EQ(out[1 * 3 + 1], 7.0f);
    EXPECT_EQ(out[0 * 3 + 1], 0.0f);
}

TEST(QvrInference, DenseHeadsAndFlattenOrder) {
    ModelBuilder builder;
    const auto in = builder.input("in", TShape{2, 1, 2});  // channel-major: c0 (a b), c1 (c d)
    // 1x1 conv mixing channels: out0 = c0 + 10 c1, out1 = -c0.
    const auto mixed = builder.conv2d(in, 2, 2, 1, {1.0f, 10.0f, -1.0f, 0.0f}, {0.0f, 0.0f});
    const auto flat = builder.flatten(builder.relu(mixed));
    const auto dense = builder.dense(flat, 4, 2, {1, 0, 0, 0, 0, 1, 0, 0}, {0.0f, 1.0f});
    builder.output("flat", flat);
    builder.output("softmax", builder.softmax(dense));
    builder.output("tanh", builder.tanh(dense));
    auto model = load(builder.build(), "heads.qvm");
    const std::vector<float> input{1.0f, -2.0f, 3.0f, 4.0f};
    std::vector<TBlob> outputs;
    model->InferBatch({TBlob(Float32, "in", TShape{1, 2, 1, 2}, input.data())}, outputs);
    ASSERT_EQ(outputs.size(), 3u);
    const auto* flat_out = static_cast<const float*>(outputs[0].__Data());
    // Channel 0 then channel 1; ReLU clears -c0 where c0 > 0.
    EXPECT_FLOAT_EQ(flat_out[0], 31.0f);
    EXPECT_FLOAT_EQ(flat_out[1], 38.0f);
    EXPECT_FLOAT_EQ(flat_out[2], 0.0f);
    EXPECT_FLOAT_EQ(flat_out[3], 2.0f);
    const auto* softmax = static_cast<const float*>(outputs[1].__Data());
    const double e0 = std::exp(31.0), e1 = std::exp(39.0);
    EXPECT_NEAR(softmax[0], e0 / (e0 + e1), 1e-6);
    EXPECT_NEAR(softmax[1], e1 / (e0 + e1), 1e-6);
    const auto* tanh_out = static_cast<const float*>(outputs[2].__Data());
    EXPECT_FLOAT_EQ(tanh_out[0], std::tanh(31.0f));
    EXPECT_EQ(outputs[2].shape(), (TShape{1, 2}));
    EXPECT_EQ(outputs[1].name(), "softmax");
}

ModelGraph tiny_network() {
    ResidualNetworkShape shape;
    shape.blocks = 1;
    shape.channels = 8;
    shape.rows = 6;
    shape.columns = 6;
    shape.value_hidden = 4;
    return random_residual_network(shape, 3);
}

std::vector<float> random_planes(std::size_t count, unsigned seed) {
    std::vector<float> values(count);
    unsigned state = seed;
    for (float& value : values) {
        state = state * 1664525u + 1013904223u;
        value = static_cast<float>((state >> 8) % 3 == 0);
    }
    return values;
}

TEST(QvrInference, BatchEqualsSingleSamplesAndOutputsOutliveTheModel) {
    auto model = load(tiny_network(), "tiny.qvm");
    EXPECT_EQ(model->ListInputBlobNames(), (std::vector<std::string>{"input"}));
    EXPECT_EQ(model->ListOutputBlobNames(), (std::vector<std::string>{"policy", "value"}));
    EXPECT_EQ(model->GetInputBlobShape("input"), (TShape{3, 6, 6}));
    const std::vector<float> batch = random_planes(3 * 108, 5);
    std::vector<TBlob> outputs;
    model->InferBatch({TBlob(Float32, "input", TShape{3, 3, 6, 6}, batch.data())}, outputs);
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_EQ(outputs[0].shape(), (TShape{3, 36}));
    EXPECT_EQ(outputs[1].shape(), (TShape{3, 1}));
    const TBlob policy_copy = outputs[0];
    const TBlob value_copy = outputs[1];
    outputs.clear();
    for (std::size_t i = 0; i < 3; ++i) {
        const std::vector<float> one(batch.begin() + i * 108, batch.begin() + (i + 1) * 108);
        const auto policy = run_one(*model, one, TShape{1, 3, 6, 6}, 0);
        const auto value = run_one(*model, one, TShape{1, 3, 6, 6}, 1);
        const auto* batch_policy = static_cast<const float*>(policy_copy.__Data()) + i * 36;
        for (std::size_t k = 0; k < 36; ++k) EXPECT_EQ(policy[k], batch_policy[k]);
        EXPECT_EQ(value[0], static_cast<const float*>(value_copy.__Data())[i]);
    }
    const float first_value = static_cast<const float*>(value_copy.__Data())[0];
    model.reset();
    EXPECT_EQ(static_cast<const float*>(value_copy.__Data())[0], first_value);
}

TEST(QvrInference, WrongInputsAreRefused) {
    auto model = load(tiny_network(), "guards.qvm");
    const std::vector<float> data(2 * 108, 0.0f);
    std::vector<TBlob> outputs;
    auto refused = [&](std::vector<TBlob> inputs) { EXPECT_THROW(model->InferBatch(inputs, outputs), UsageError); };
    refused({});
    refused({TBlob(Float32, "other", TShape{1, 3, 6, 6}, data.data())});
    refused({TBlob(Int32, "input", TShape{1, 3, 6, 6}, data.data())});
    refused({TBlob(Float32, "input", TShape{3, 6, 6}, data.data())});
    refused({TBlob(Float32, "input", TShape{1, 3, 6, 7}, data.data())});
    refused({TBlob(Float32, "input", TShape{1, 4, 6, 6}, data.data())});
    refused({TBlob(Float32, "input", TShape{1, 3, 6, 6}, nullptr)});
    refused({TBlob(Float32, "input", TShape{1, 3, 6, 6}, data.data()),
             TBlob(Float32, "input", TShape{1, 3, 6, 6}, data.data())});
    EXPECT_THROW(model->GetInputBlobShape("policy"), UsageError);
    model->InferBatch({TBlob(Float32, "input", TShape{2, 3, 6, 6}, data.data())}, outputs);
    EXPECT_EQ(outputs.size(), 2u);
}

TEST(QvrInference, UnloadedModelAndBadOptions) {
    ModelBase model("test", "");
    EXPECT_EQ(model.name(), "test");
    EXPECT_THROW(model.ListInputBlobNames(), UsageError);
    std::vector<TBlob> outputs;
    EXPECT_THROW(model.InferBatch({}, outputs), UsageError);
    const std::string path = save(tiny_network(), "options.qvm");
    EXPECT_THROW(model.LoadModelFromFile(path, "gpu_id=x"), BadOption);
    EXPECT_THROW(model.LoadModelFromFile(path, "threads=4"), BadOption);
    EXPECT_THROW(model.LoadModelFromFile(path, "kernels=fastest"), BadOption);
    EXPECT_THROW(model.LoadModelFromFile(path, "gpu_id"), BadOption);
    model.LoadModelFromFile(path, "gpu_id=0");
    EXPECT_NE(model.kernel_path(), KernelPath::automatic);
    model.LoadModelFromFile(path, "gpu_id=0; kernels=reference");
    EXPECT_EQ(model.kernel_path(), KernelPath::reference);
}

TEST(QvrInference, FailedLoadKeepsThePreviousModel) {
    ModelBase model("test", "");
    model.LoadModelFromFile(save(tiny_network(), "keep.qvm"), "gpu_id=0");
    EXPECT_THROW(model.LoadModelFromFile(temp_file("qvr_missing.qvm"), "gpu_id=0"), ModelFileUnreadable);
    EXPECT_EQ(model.GetInputBlobShape("input"), (TShape{3, 6, 6}));
}

TEST(QvrInference, InputsThatNothingReadsMayBeLeftOut) {
    ModelBuilder builder;
    const auto used = builder.input("used", TShape{2});
    builder.input("ignored", TShape{5});
    builder.output("out", builder.relu(used));
    auto model = load(builder.build(), "two_inputs.qvm");
    EXPECT_EQ(model->ListInputBlobNames(), (std::vector<std::string>{"used", "ignored"}));
    const std::vector<float> data{-1.0f, 2.0f};
    EXPECT_EQ(run_one(*model, data, TShape{1, 2}), (std::vector<float>{0.0f, 2.0f}));
    std::vector<TBlob> outputs;
    EXPECT_THROW(model->InferBatch({TBlob(Float32, "ignored", TShape{1, 5}, data.data())}, outputs), UsageError);
}

TEST(QvrShape, ValueSemantics) {
    TShape shape{2, 3, 4};
    EXPECT_EQ(shape.element_count(), 24u);
    shape[1] = 5;
    EXPECT_EQ(shape[1], 5u);
    TShape copy(shape);
    TShape moved;
    EXPECT_TRUE(moved.empty());
    EXPECT_EQ(moved.element_count(), 1u);
    moved = std::move(copy);
    EXPECT_EQ(moved, shape);
    EXPECT_EQ(moved.to_string(), "(2, 5, 4)");
}

}  // namespace
