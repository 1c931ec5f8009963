// The evaluator that runs the shipped network through the qvr inference library.
//
// Ownership: owns its qvr::ModelBase, created and loaded once in the
// constructor and deleted first in the destructor. Each evaluation array it
// returns belongs to the caller.
//
// Thread rules: not safe for concurrent use, and it laps the process-wide
// timing::profile_timer (checkpoints 3, 4, 5 while constructing; 0 and 1
// around each evaluation), so only the thread that currently owns the player
// may construct, use or destroy it.
//
// Failures: qvr exceptions (a missing or damaged model file, inputs the model
// refuses) pass through to the caller uncaught. A model that loads but does
// not fit the board (first input not (3, 20, 20), fewer than two outputs, or
// outputs too small for 400 weights and a value per position) is refused with
// ModelMismatch rather than read out of bounds.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "eval/evaluator.h"
#include "qvr/model_base.h"
#include "qvr/shape.h"

namespace eval {

class ModelMismatch : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class QvrEvaluator : public Evaluator {
public:
    /// Loads the model at `model_path`; `name` is handed to the model object.
    /// `kernels` forces the inference path by name ("generic", "int16-avx2", ...);
    /// empty lets the library pick the fastest one. Tools force a path so that a
    /// seeded run plays the same games on every CPU.
    QvrEvaluator(const std::string& name, const std::string& model_path, const std::string& kernels = "");
    ~QvrEvaluator() override;

    QvrEvaluator(const QvrEvaluator&) = delete;
    QvrEvaluator& operator=(const QvrEvaluator&) = delete;

    /// Encodes each board from the side to move (plane 0 own stones, 1 the
    /// opponent's, 2 empty cells), runs the whole batch in one InferBatch call,
    /// and returns output 0's 400 weights and output 1's value per position,
    /// copied raw.
    std::vector<evaluation_array> Evaluate(std::vector<const std::int8_t*> boards,
                                           std::vector<std::int8_t> sides) override;

    /// Cells off the announced board get all three planes 0.0: what the
    /// network sees past the edge of a 20 x 20 board (the convolutions' zero
    /// padding), so a 15 x 15 board has its real edge. 20 x 20 is encoded
    /// exactly as before.
    void set_board_size(std::int32_t width, std::int32_t height) override;

private:
    std::unique_ptr<qvr::ModelBase> model;
    std::string name;
    std::string model_path;
    std::int32_t gpu_id = 0;
    std::vector<std::string> input_names;
    std::vector<std::string> output_names;
    qvr::TShape input_shape;
    std::int32_t board_width = 20;
    std::int32_t board_height = 20;
};

}  // namespace eval
