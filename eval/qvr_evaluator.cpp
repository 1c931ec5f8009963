#include "eval/qvr_evaluator.h"

#include <algorithm>
#include <utility>

#include "qvr/blob.h"
#include "timing/checkpoint_timer.h"

namespace eval {

namespace {

// Checkpoints of timing::profile_timer that the evaluator laps.
constexpr std::int32_t checkpoint_between_evaluations = 0;
constexpr std::int32_t checkpoint_evaluation = 1;
constexpr std::int32_t checkpoint_evaluator_start = 3;
constexpr std::int32_t checkpoint_model_created = 4;
constexpr std::int32_t checkpoint_model_loaded = 5;

constexpr int input_planes = 3;
constexpr int board_rows = 20;
constexpr int board_columns = 20;
constexpr int floats_per_position = input_planes * board_cells;
constexpr int own_plane = 0;
constexpr int opponent_plane = 1;
constexpr int empty_plane = 2;

// One position as three planes seen from the side to move; every float is
// written, any cell on the board that is neither side's stone counts as
// empty, and a cell off the board (column >= width or row >= height) is 0.0
// in every plane.
void encode_position(const std::int8_t* board, std::int8_t side, std::int32_t width, std::int32_t height,
                     float* planes) {
    for (int cell = 0; cell < board_cells; ++cell) {
        const bool on_board = cell % board_columns < width && cell / board_columns < height;
        const std::int8_t stone = board[cell];
        const bool own = on_board && stone == side;
        const bool opponent = on_board && stone == -side;
        planes[own_plane * board_cells + cell] = own ? 1.0f : 0.0f;
        planes[opponent_plane * board_cells + cell] = opponent ? 1.0f : 0.0f;
        planes[empty_plane * board_cells + cell] = (!on_board || own || opponent) ? 0.0f : 1.0f;
    }
}

}  // namespace

QvrEvaluator::QvrEvaluator(const std::string& name_arg, const std::string& model_path_arg,
                           const std::string& kernels) {
    timing::profile_timer.lap(checkpoint_evaluator_start);
    model = std::make_unique<qvr::ModelBase>(name_arg, std::string());
    timing::profile_timer.lap(checkpoint_model_created);
    gpu_id = 0;
    name = name_arg;
    model_path = model_path_arg;
    std::string options = "gpu_id=" + std::to_string(gpu_id);
    if (!kernels.empty()) options += ",kernels=" + kernels;
    model->LoadModelFromFile(model_path, options);
    timing::profile_timer.lap(checkpoint_model_loaded);
    input_names = model->ListInputBlobNames();
    output_names = model->ListOutputBlobNames();
    input_shape = model->GetInputBlobShape(input_names[0]);
    if (input_shape != qvr::TShape{input_planes, board_rows, board_columns})
        throw ModelMismatch("model file '" + model_path + "': first input '" + input_names[0] + "' has shape " +
                            input_shape.to_string() + ", the board needs (3, 20, 20)");
}

QvrEvaluator::~QvrEvaluator() {
    // The model goes first, before the names and shape it was queried for.
    model.reset();
}

std::vector<evaluation_array> QvrEvaluator::Evaluate(std::vector<const std::int8_t*> boards,
                                                     std::vector<std::int8_t> sides) {
    timing::profile_timer.lap(checkpoint_between_evaluations);
    const std::size_t count = boards.size();
    if (count == 0) return {};

    auto batch = std::make_unique<float[]>(count * floats_per_position);
    for (std::size_t i = 0; i < count; ++i) {
        float scratch[floats_per_position];
        encode_position(boards[i], sides[i], board_width, board_height, scratch);
        std::copy(scratch, scratch + floats_per_position, batch.get() + i * floats_per_position);
    }

    const qvr::TShape shape{count, input_shape[0], input_shape[1], input_shape[2]};
    const qvr::TBlob input(qvr::Float32, input_names[0], shape, batch.get());
    const std::vector<qvr::TBlob> inputs{input};
    std::vector<qvr::TBlob> outputs;
    model->InferBatch(inputs, outputs);

    if (outputs.size() < 2 || outputs[0].shape().element_count() < count * board_cells ||
        outputs[1].shape().element_count() < count || outputs[0].type() != qvr::Float32 ||
        outputs[1].type() != qvr::Float32)
        throw ModelMismatch("model file '" + model_path + "': outputs do not hold 400 weights and a value per position");
    const qvr::TBlob weights_blob = outputs[0];
    const qvr::TBlob values_blob = outputs[1];
    const auto* weights = static_cast<const float*>(weights_blob.__Data());
    const auto* values = static_cast<const float*>(values_blob.__Data());

    std::vector<evaluation_array> results;
    results.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        auto result = std::make_unique_for_overwrite<float[]>(evaluation_size);
        std::copy(weights + i * board_cells, weights + (i + 1) * board_cells, result.get());
        result[board_cells] = values[i];
        results.push_back(std::move(result));
    }
    timing::profile_timer.lap(checkpoint_evaluation);
    return results;
}

void QvrEvaluator::set_board_size(std::int32_t width, std::int32_t height) {
    board_width = std::clamp<std::int32_t>(width, 1, board_columns);
    board_height = std::clamp<std::int32_t>(height, 1, board_rows);
}

}  // namespace eval
