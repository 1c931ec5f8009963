// QvrEvaluator over small models built in-process: the input encoding, the
// positional reading of the outputs, raw copying and the timer laps.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "eval/qvr_evaluator.h"
#include "qvr/errors.h"
#include "qvr/model_builder.h"
#include "qvr/model_file.h"
#include "timing/checkpoint_timer.h"
#include "temp_file.h"

namespace {

constexpr int kCells = 400;
constexpr float kOwnCode = 1.0f, kOpponentCode = 10.0f, kEmptyCode = 100.0f;
constexpr float kCodeBias = -50.0f;        // makes some weights negative: they must pass through raw
constexpr float kOpponentCountWeight = 1000.0f;
constexpr float kValueBias = -3.0f;        // puts the value outside [-1, 1]

// Output 0 ("zz_weights", listed first) = per cell: plane0 * 1 + plane1 * 10 +
// plane2 * 100 - 50, so each cell says which plane held its 1.0. Output 1
// ("aa_value") = own stones + 1000 * opponent stones - 3. A second input that
// no layer reads checks that only the first input is fed.
std::string encoding_model_path() {
    qvr::ModelBuilder builder;
    const auto planes = builder.input("planes", qvr::TShape{3, 20, 20});
    builder.input("unused", qvr::TShape{7});
    const auto codes = builder.flatten(builder.conv2d(planes, 3, 1, 1, {kOwnCode, kOpponentCode, kEmptyCode}, {kCodeBias}));
    std::vector<float> count_weights(3 * kCells, 0.0f);
    for (int k = 0; k < kCells; ++k) {
        count_weights[k] = 1.0f;
        count_weights[kCells + k] = kOpponentCountWeight;
    }
    const auto value = builder.dense(builder.flatten(planes), 3 * kCells, 1, count_weights, {kValueBias});
    builder.output("zz_weights", codes);
    builder.output("aa_value", value);
    const std::string path = temp_file("eval_encoding.qvm");
    qvr::write_model_file(builder.build(), path);
    return path;
}

float code(float plane_code) { return plane_code + kCodeBias; }

TEST(EvalQvrEvaluator, EncodesFromTheSideToMove) {
    eval::QvrEvaluator evaluator("orvalis", encoding_model_path());
    std::vector<std::int8_t> empty(kCells, 0);
    std::vector<std::int8_t> one_black(kCells, 0);
    const int k = 7 * 20 + 13;
    one_black[k] = 1;
    std::vector<std::int8_t> odd(kCells, 0);
    odd[0] = 5;    // not a colour: counts as empty
    odd[1] = -1;

    auto results = evaluator.Evaluate({empty.data(), one_black.data(), one_black.data(), odd.data()}, {1, -1, 1, 1});
    ASSERT_EQ(results.size(), 4u);
    for (int cell = 0; cell < kCells; ++cell) ASSERT_EQ(results[0][cell], code(kEmptyCode));
    EXPECT_EQ(results[0][400], kValueBias);

    EXPECT_EQ(results[1][k], code(kOpponentCode));  // white to move: the black stone is the opponent's
    EXPECT_EQ(results[1][k + 1], code(kEmptyCode));
    EXPECT_EQ(results[1][400], kOpponentCountWeight + kValueBias);

    EXPECT_EQ(results[2][k], code(kOwnCode));  // black to move: its own stone
    EXPECT_EQ(results[2][400], 1.0f + kValueBias);

    EXPECT_EQ(results[3][0], code(kEmptyCode));
    EXPECT_EQ(results[3][1], code(kOpponentCode));
}

TEST(EvalQvrEvaluator, CellsOffASmallBoardAreZeroInEveryPlane) {
    eval::QvrEvaluator evaluator("orvalis", encoding_model_path());
    std::vector<std::int8_t> board(kCells, 0);
    board[3 * 20 + 4] = 1;
    board[14 * 20 + 14] = -1;
    const auto on_twenty = evaluator.Evaluate({board.data()}, {1});
    evaluator.set_board_size(15, 15);
    const auto on_fifteen = evaluator.Evaluate({board.data()}, {1});
    for (int cell = 0; cell < kCells; ++cell) {
        const bool off = cell % 20 >= 15 || cell / 20 >= 15;
        ASSERT_EQ(on_fifteen[0][cell], off ? code(0.0f) : on_twenty[0][cell]) << cell;
    }
    EXPECT_EQ(on_fifteen[0][3 * 20 + 4], code(kOwnCode));
    EXPECT_EQ(on_fifteen[0][14 * 20 + 14], code(kOpponentCode));
    // A rectangle: 20 columns, 8 rows.
    evaluator.set_board_size(20, 8);
    const auto wide = evaluator.Evaluate({board.data()}, {1});
    EXPECT_EQ(wide[0][7 * 20 + 19], code(kEmptyCode));
    EXPECT_EQ(wide[0][8 * 20 + 0], code(0.0f));
    EXPECT_EQ(wide[0][14 * 20 + 14], code(0.0f));
    // Back to 20 x 20 (and sizes past it), byte for byte the first encoding.
    evaluator.set_board_size(25, 20);
    const auto again = evaluator.Evaluate({board.data()}, {1});
    for (int cell = 0; cell <= kCells; ++cell) ASSERT_EQ(again[0][cell], on_twenty[0][cell]);
}

// With two positions the second one's block starts at float 1200 and its
// results come from floats 400..799 of output 0 and float 1 of output 1,
// whatever the outputs are named.
TEST(EvalQvrEvaluator, BatchesKeepPositionsApart) {
    eval::QvrEvaluator evaluator("orvalis", encoding_model_path());
    std::vector<std::int8_t> first(kCells, 0), second(kCells, 0);
    first[0] = -1;
    second[399] = -1;
    second[398] = -1;
    auto results = evaluator.Evaluate({first.data(), second.data()}, {-1, 1});
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0][0], code(kOwnCode));
    EXPECT_EQ(results[0][399], code(kEmptyCode));
    EXPECT_EQ(results[0][400], 1.0f + kValueBias);
    EXPECT_EQ(results[1][0], code(kEmptyCode));
    EXPECT_EQ(results[1][399], code(kOpponentCode));
    EXPECT_EQ(results[1][400], 2 * kOpponentCountWeight + kValueBias);
}

TEST(EvalQvrEvaluator, LapsItsCheckpoints) {
    const auto& totals = timing::profile_timer.totals();
    auto total = [&](std::int32_t id) { return totals.count(id) ? totals.at(id) : -1.0; };
    const std::string path = encoding_model_path();

    const double evaluation_before = total(1);
    eval::QvrEvaluator evaluator("orvalis", path);
    for (std::int32_t id : {3, 4, 5}) EXPECT_EQ(totals.count(id), 1u) << id;
    EXPECT_EQ(total(1), evaluation_before);  // construction laps nothing else

    // An empty batch laps only checkpoint 0 and returns nothing.
    EXPECT_TRUE(evaluator.Evaluate({}, {}).empty());
    EXPECT_EQ(totals.count(0), 1u);
    EXPECT_EQ(total(1), evaluation_before);

    std::vector<std::int8_t> board(kCells, 0);
    evaluator.Evaluate({board.data()}, {1});
    EXPECT_GE(total(1), 0.0);
    EXPECT_NE(total(1), evaluation_before);
    EXPECT_EQ(totals.count(2), 0u);
}

TEST(EvalQvrEvaluator, LoadFailuresReachTheCaller) {
    EXPECT_THROW(eval::QvrEvaluator("orvalis", temp_file("eval_missing.qvm")), qvr::ModelFileUnreadable);
    const std::string garbage = temp_file("eval_garbage.qvm");
    {
        std::FILE* file = std::fopen(garbage.c_str(), "wb");
        std::fputs("not a model", file);
        std::fclose(file);
    }
    EXPECT_THROW(eval::QvrEvaluator("orvalis", garbage), qvr::BadModelMagic);
}

// Models that load but do not fit the board are refused, never read past.
TEST(EvalQvrEvaluator, ModelsThatDoNotFitTheBoardAreRefused) {
    {
        qvr::ModelBuilder builder;
        const auto planes = builder.input("planes", qvr::TShape{3, 10, 10});
        builder.output("a", builder.flatten(planes));
        builder.output("b", builder.flatten(planes));
        const std::string path = temp_file("eval_small_board.qvm");
        qvr::write_model_file(builder.build(), path);
        EXPECT_THROW(eval::QvrEvaluator("orvalis", path), eval::ModelMismatch);
    }
    {
        qvr::ModelBuilder builder;
        const auto planes = builder.input("planes", qvr::TShape{3, 20, 20});
        builder.output("only", builder.flatten(planes));
        const std::string path = temp_file("eval_one_output.qvm");
        qvr::write_model_file(builder.build(), path);
        eval::QvrEvaluator evaluator("orvalis", path);
        std::vector<std::int8_t> board(kCells, 0);
        EXPECT_THROW(evaluator.Evaluate({board.data()}, {1}), eval::ModelMismatch);
    }
    {
        qvr::ModelBuilder builder;
        const auto planes = builder.input("planes", qvr::TShape{3, 20, 20});
        const auto small = builder.flatten(builder.conv2d(planes, 3, 1, 1, {1, 1, 1}, {0}));
        builder.output("too_small", builder.dense(small, 400, 399, std::vector<float>(400 * 399, 0.0f),
                                                  std::vector<float>(399, 0.0f)));
        builder.output("value", small);
        const std::string path = temp_file("eval_small_output.qvm");
        qvr::write_model_file(builder.build(), path);
        eval::QvrEvaluator evaluator("orvalis", path);
        std::vector<std::int8_t> board(kCells, 0);
        EXPECT_THROW(evaluator.Evaluate({board.data()}, {1}), eval::ModelMismatch);
    }
}

}  // namespace

namespace {

// The shipped file stays small enough to ship and has the engine's blobs.
TEST(EvalQvrEvaluator, ShippedModelHasTheEnginesShape) {
    const std::string path = std::string(ORVALIS_SOURCE_DIR) + "/models/474/474_ncnn.qvm";
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    ASSERT_TRUE(file);
    EXPECT_LE(static_cast<long>(file.tellg()), 8l * 1024 * 1024);
    const qvr::ModelGraph graph = qvr::read_model_file(path);
    ASSERT_EQ(graph.inputs.size(), 1u);
    EXPECT_EQ(graph.inputs[0].shape, (qvr::TShape{3, 20, 20}));
    ASSERT_EQ(graph.outputs.size(), 2u);
    EXPECT_EQ(graph.outputs[0].shape, (qvr::TShape{400}));
    EXPECT_EQ(graph.outputs[1].shape, (qvr::TShape{1}));
}

// The network the engine ships loads and gives a move distribution and a value
// in range for an empty and a one-stone board.
TEST(EvalQvrEvaluator, ShippedModelGivesDistributionsAndValues) {
    eval::QvrEvaluator evaluator("orvalis", std::string(ORVALIS_SOURCE_DIR) + "/models/474/474_ncnn.qvm");
    std::vector<std::int8_t> empty(kCells, 0), one(kCells, 0);
    one[210] = 1;
    auto results = evaluator.Evaluate({empty.data(), one.data()}, {1, -1});
    ASSERT_EQ(results.size(), 2u);
    for (const auto& result : results) {
        double total = 0.0;
        for (int cell = 0; cell < kCells; ++cell) {
            EXPECT_GE(result[cell], 0.0f);
            total += result[cell];
        }
        EXPECT_NEAR(total, 1.0, 1e-4);
        EXPECT_GE(result[400], -1.0f);
        EXPECT_LE(result[400], 1.0f);
    }
}

}  // namespace
