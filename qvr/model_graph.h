// The in-memory form of a model file: named inputs, a sequence of layers and
// named outputs. Tensors are numbered in order of creation: the model inputs
// first (0 .. inputs.size()-1), then one tensor per layer, so layer i writes
// tensor inputs.size() + i and reads only tensors numbered below that.
//
// Shapes are per sample (no batch extent). Spatial tensors are (channels,
// rows, columns); weights use the same order as PyTorch:
//   convolution [out][in][k][k] with zero "same" padding, stride 1;
//   dense       [out][in].
// Batch-norm is folded into convolution weights and bias before export.
//
// Plain data; check_graph() says whether a graph is well formed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qvr/shape.h"

namespace qvr {

enum class LayerKind : std::uint32_t {
    Conv2D = 1,
    ReLU = 2,
    Add = 3,
    Flatten = 4,
    Dense = 5,
    Softmax = 6,  // over the elements of a flat (rank 1) tensor
    Tanh = 7,
};

const char* layer_kind_name(LayerKind kind);

struct Layer {
    LayerKind kind = LayerKind::ReLU;
    std::vector<std::uint32_t> inputs;  // tensor ids
    // Conv2D: in/out channels and kernel size (1 or 3). Dense: in/out features.
    std::uint32_t in_size = 0;
    std::uint32_t out_size = 0;
    std::uint32_t kernel = 0;
    std::vector<float> weights;
    std::vector<float> bias;
    // A 3x3 Conv2D of a quantised model (file version 2): the calibrated size
    // of one step of its int8 input (qvr/int8_kernel_table.h). 0 for a layer
    // that stays float32.
    float input_scale = 0.0f;
};

/// Input scales lie in [2^-64, 2^64]: far wider than any activation's range,
/// and narrow enough that a scale, its inverse and its products with the
/// weight scales stay normal, finite float32 numbers.
inline constexpr float min_input_scale = 0x1p-64f;
inline constexpr float max_input_scale = 0x1p64f;

struct NamedTensor {
    std::string name;
    std::uint32_t tensor = 0;  // tensor id (for inputs: its position)
    TShape shape;              // per sample
};

struct ModelGraph {
    std::vector<NamedTensor> inputs;
    std::vector<Layer> layers;
    std::vector<NamedTensor> outputs;

    std::uint32_t tensor_count() const {
        return static_cast<std::uint32_t>(inputs.size() + layers.size());
    }
    /// Whether some layer carries an input scale (a quantised model).
    bool quantised() const;
};

/// Number of inputs each layer kind reads.
std::uint32_t layer_arity(LayerKind kind);

/// Validates inputs and layers (not the outputs) and returns the per-sample
/// shape of every tensor. Throws InconsistentModel / NonFiniteWeights.
std::vector<TShape> infer_tensor_shapes(const ModelGraph& graph, const std::string& path);

/// Validates the whole graph and returns the per-sample shape of every tensor.
/// Throws InconsistentModel / NonFiniteWeights naming `path`.
std::vector<TShape> check_graph(const ModelGraph& graph, const std::string& path);

}  // namespace qvr
