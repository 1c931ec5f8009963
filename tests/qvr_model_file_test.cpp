// The model file reader: round trips, and every kind of damaged file refused
// with its own exception type and a message that names the file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <string>

#include "qvr/errors.h"
#include "qvr/model_builder.h"
#include "qvr/model_file.h"
#include "qvr/random_network.h"
#include "qvr_expect_refused.h"
#include "temp_file.h"

namespace {

using namespace qvr;

const std::string kPath = "test.qvm";

// A small network with every layer kind.
ModelGraph small_network() {
    ResidualNetworkShape shape;
    shape.blocks = 1;
    shape.channels = 4;
    shape.rows = 5;
    shape.columns = 6;
    shape.value_hidden = 3;
    return random_residual_network(shape, 7);
}

template <typename Error>
void expect_refused(const std::string& bytes, const std::string& fragment) {
    expect_load_refused<Error>(bytes, kPath, fragment);
}

template <typename Error>
void expect_graph_refused(const ModelGraph& graph, const std::string& fragment) {
    expect_refused<Error>(serialize_model_unchecked(graph), fragment);
}

TEST(QvrModelFile, RoundTripKeepsEverything) {
    const ModelGraph graph = small_network();
    const ModelGraph back = parse_model(serialize_model(graph), kPath);
    ASSERT_EQ(back.inputs.size(), 1u);
    EXPECT_EQ(back.inputs[0].name, "input");
    EXPECT_EQ(back.inputs[0].shape, (TShape{3, 5, 6}));
    ASSERT_EQ(back.layers.size(), graph.layers.size());
    for (std::size_t i = 0; i < graph.layers.size(); ++i) {
        EXPECT_EQ(back.layers[i].kind, graph.layers[i].kind);
        EXPECT_EQ(back.layers[i].inputs, graph.layers[i].inputs);
        EXPECT_EQ(back.layers[i].kernel, graph.layers[i].kernel);
        EXPECT_EQ(back.layers[i].weights, graph.layers[i].weights);
        EXPECT_EQ(back.layers[i].bias, graph.layers[i].bias);
    }
    ASSERT_EQ(back.outputs.size(), 2u);
    EXPECT_EQ(back.outputs[0].name, "policy");
    EXPECT_EQ(back.outputs[0].shape, (TShape{30}));
    EXPECT_EQ(back.outputs[1].shape, (TShape{1}));
}

TEST(QvrModelFile, MissingFileIsUnreadable) {
    const std::string path = temp_file("qvr_no_such_model.qvm");
    try {
        read_model_file(path);
        FAIL();
    } catch (const ModelFileUnreadable& error) {
        EXPECT_NE(std::string(error.what()).find(path), std::string::npos);
    }
}

TEST(QvrModelFile, WrittenFileReadsBack) {
    const std::string path = temp_file("qvr_written.qvm");
    write_model_file(small_network(), path);
    EXPECT_EQ(read_model_file(path).layers.size(), small_network().layers.size());
}

TEST(QvrModelFile, HeaderProblemsHaveTheirOwnErrors) {
    const std::string good = serialize_model(small_network());

    std::string wrong_magic = good;
    wrong_magic[0] = 'X';
    expect_refused<BadModelMagic>(wrong_magic, "magic");
    expect_refused<BadModelMagic>("", "magic");
    expect_refused<BadModelMagic>("QVR", "magic");

    std::string future = good;
    const std::uint32_t version = quantised_model_format_version + 1;
    std::memcpy(future.data() + sizeof model_magic, &version, sizeof version);
    expect_refused<UnsupportedModelVersion>(future, "version 3");

    expect_refused<TrailingModelBytes>(good + "x", "1 bytes follow");
}

TEST(QvrModelFile, EveryTruncationIsReportedAsSuch) {
    const std::string good = serialize_model(small_network());
    for (std::size_t length = sizeof model_magic; length < good.size(); ++length) {
        SCOPED_TRACE(length);
        EXPECT_THROW(parse_model(good.substr(0, length), kPath), TruncatedModel);
    }
}

TEST(QvrModelFile, ShapesThatDoNotFitAreInconsistent) {
    const ModelGraph good = small_network();
    // Layer 0 is the first convolution, layer 4 the block's second convolution
    // (conv, relu, conv, relu, conv, add, relu, ...).
    {
        ModelGraph graph = good;
        graph.layers[0].in_size = 4;
        graph.layers[0].weights.resize(graph.layers[0].weights.size() / 3 * 4);
        expect_graph_refused<InconsistentModel>(graph, "expects (4, rows, columns), got (3, 5, 6)");
    }
    {
        ModelGraph graph = good;
        graph.layers[0].kernel = 2;
        expect_graph_refused<InconsistentModel>(graph, "kernel size");
    }
    {
        ModelGraph graph = good;
        graph.outputs[0].shape = TShape{31};
        expect_graph_refused<InconsistentModel>(graph, "declared (31) but computes (30)");
    }
    {
        ModelGraph graph = good;
        graph.outputs[1].tensor = 1000;
        expect_graph_refused<InconsistentModel>(graph, "does not exist");
    }
    {
        ModelGraph graph = good;
        graph.layers[1].inputs = {5};
        expect_graph_refused<InconsistentModel>(graph, "not computed before it");
    }
    {
        ModelGraph graph = good;
        graph.outputs[1].name = "input";
        expect_graph_refused<InconsistentModel>(graph, "used twice");
    }
    {
        ModelGraph graph = good;
        graph.inputs[0].shape = TShape{3, 0, 6};
        expect_graph_refused<InconsistentModel>(graph, "extent 0");
    }
    {
        ModelGraph graph = good;
        graph.layers[1].kind = static_cast<LayerKind>(99);
        expect_graph_refused<InconsistentModel>(graph, "unknown kind 99");
    }
    {
        // Softmax over a spatial tensor: the format only defines it on flat ones.
        ModelBuilder builder;
        builder.output("out", builder.softmax(builder.input("in", TShape{1, 2, 2})));
        ModelGraph graph;
        graph.inputs = {{"in", 0, TShape{1, 2, 2}}};
        Layer softmax;
        softmax.kind = LayerKind::Softmax;
        softmax.inputs = {0};
        graph.layers = {softmax};
        graph.outputs = {{"out", 1, TShape{1, 2, 2}}};
        expect_graph_refused<InconsistentModel>(graph, "needs a flat input");
        EXPECT_THROW(builder.build(), InconsistentModel);
    }
    {
        ModelBuilder builder;
        const auto a = builder.input("a", TShape{2});
        const auto b = builder.input("b", TShape{3});
        builder.output("sum", builder.add(a, b));
        EXPECT_THROW(builder.build(), InconsistentModel);
    }
}

TEST(QvrModelFile, NonFiniteWeightsAreRefused) {
    const ModelGraph good = small_network();
    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                      -std::numeric_limits<float>::infinity()}) {
        ModelGraph conv_weight = good;
        conv_weight.layers[2].weights[5] = bad;
        expect_graph_refused<NonFiniteWeights>(conv_weight, "layer 2");
        ModelGraph dense_bias = good;
        const std::size_t last_dense = dense_bias.layers.size() - 2;  // the network ends dense, tanh
        ASSERT_EQ(dense_bias.layers[last_dense].kind, LayerKind::Dense);
        dense_bias.layers[last_dense].bias[0] = bad;
        expect_graph_refused<NonFiniteWeights>(dense_bias, "non-finite");
    }
}

TEST(QvrModelFile, HugeCountsAreRefusedBeforeAllocating) {
    const ModelGraph good = small_network();
    ModelGraph graph = good;
    graph.layers[0].in_size = 4000;
    graph.layers[0].out_size = 4000;
    graph.layers[0].weights.clear();
    graph.layers[0].bias.clear();
    const std::string bytes = serialize_model_unchecked(graph);
    EXPECT_THROW(parse_model(bytes, kPath), ModelLoadError);
}

// Random damage must end in a typed error or a valid model, never a crash
// (the sanitizer builds watch this one).
TEST(QvrModelFile, RandomDamageNeverCrashes) {
    const std::string good = serialize_model(small_network());
    std::mt19937 random(11);
    std::uniform_int_distribution<std::size_t> position(0, good.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int trial = 0; trial < 2000; ++trial) {
        std::string damaged = good;
        const int flips = 1 + trial % 4;
        for (int flip = 0; flip < flips; ++flip) damaged[position(random)] = static_cast<char>(byte(random));
        try {
            parse_model(damaged, kPath);
        } catch (const ModelLoadError&) {
        }
    }
}

}  // namespace
