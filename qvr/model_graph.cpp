#include "qvr/model_graph.h"

#include <cmath>
#include <set>

#include "qvr/errors.h"
#include "qvr/limits.h"

namespace qvr {

const char* layer_kind_name(LayerKind kind) {
    switch (kind) {
        case LayerKind::Conv2D: return "conv2d";
        case LayerKind::ReLU: return "relu";
        case LayerKind::Add: return "add";
        case LayerKind::Flatten: return "flatten";
        case LayerKind::Dense: return "dense";
        case LayerKind::Softmax: return "softmax";
        case LayerKind::Tanh: return "tanh";
    }
    return "unknown";
}

bool ModelGraph::quantised() const {
    for (const Layer& layer : layers)
        if (layer.input_scale != 0.0f) return true;
    return false;
}

std::uint32_t layer_arity(LayerKind kind) { return kind == LayerKind::Add ? 2 : 1; }

namespace {

void check_blob_shape(const NamedTensor& blob, const std::string& what, const std::string& path) {
    if (blob.name.empty() || blob.name.size() > limits::max_name_bytes)
        throw InconsistentModel(path, what + " has an empty or overlong name");
    if (blob.shape.empty() || blob.shape.size() > limits::max_rank)
        throw InconsistentModel(path, what + " '" + blob.name + "' has rank " +
                                          std::to_string(blob.shape.size()) + ", expected 1 to " +
                                          std::to_string(limits::max_rank));
    for (std::uint64_t extent : blob.shape.extents())
        if (extent == 0 || extent > limits::max_extent)
            throw InconsistentModel(path, what + " '" + blob.name + "' has extent " + std::to_string(extent) +
                                              " out of range");
    if (blob.shape.element_count() > limits::max_tensor_elements)
        throw InconsistentModel(path, what + " '" + blob.name + "' is too large");
}

void check_finite(const std::vector<float>& values, std::size_t layer_index, const std::string& path) {
    for (float value : values)
        if (!std::isfinite(value))
            throw NonFiniteWeights(path, "layer " + std::to_string(layer_index) + " holds a non-finite weight");
}

// A layer without a scale holds exactly 0; the file cannot say 0 (its reader
// refuses it), so any other value here came from a file and must be usable.
void check_input_scale(const Layer& layer, std::size_t index, const std::string& path) {
    if (layer.input_scale == 0.0f) return;
    const std::string where = "layer " + std::to_string(index) + " (" + layer_kind_name(layer.kind) + ")";
    if (layer.kind != LayerKind::Conv2D || layer.kernel != 3)
        throw InconsistentModel(path, where + ": only 3x3 convolutions carry an input scale");
    if (!std::isfinite(layer.input_scale)) throw NonFiniteWeights(path, where + " has a non-finite input scale");
    if (!(layer.input_scale >= min_input_scale && layer.input_scale <= max_input_scale))
        throw InconsistentModel(path, where + " has input scale " + std::to_string(layer.input_scale) +
                                          " outside [2^-64, 2^64]");
}

TShape infer_layer_shape(const Layer& layer, const std::vector<TShape>& shapes, std::size_t index,
                         const std::string& path) {
    const std::string where = "layer " + std::to_string(index) + " (" + layer_kind_name(layer.kind) + ")";
    const TShape& in = shapes[layer.inputs[0]];
    auto fail = [&](const std::string& problem) { throw InconsistentModel(path, where + ": " + problem); };
    switch (layer.kind) {
        case LayerKind::Conv2D: {
            if (layer.kernel != 1 && layer.kernel != 3) fail("kernel size must be 1 or 3");
            if (layer.in_size == 0 || layer.in_size > limits::max_channels || layer.out_size == 0 ||
                layer.out_size > limits::max_channels)
                fail("channel count out of range");
            if (in.size() != 3 || in[0] != layer.in_size)
                fail("expects (" + std::to_string(layer.in_size) + ", rows, columns), got " + in.to_string());
            const std::uint64_t taps = std::uint64_t{layer.kernel} * layer.kernel;
            if (layer.weights.size() != std::uint64_t{layer.out_size} * layer.in_size * taps ||
                layer.bias.size() != layer.out_size)
                fail("weight count does not match its channels");
            TShape out{layer.out_size, in[1], in[2]};
            if (out.element_count() > limits::max_tensor_elements) fail("output too large");
            return out;
        }
        case LayerKind::Dense:
            if (layer.in_size == 0 || layer.in_size > limits::max_features || layer.out_size == 0 ||
                layer.out_size > limits::max_features)
                fail("feature count out of range");
            if (in.size() != 1 || in[0] != layer.in_size)
                fail("expects (" + std::to_string(layer.in_size) + "), got " + in.to_string());
            if (layer.weights.size() != std::uint64_t{layer.out_size} * layer.in_size ||
                layer.bias.size() != layer.out_size)
                fail("weight count does not match its features");
            return TShape{layer.out_size};
        case LayerKind::Add:
            if (shapes[layer.inputs[1]] != in)
                fail("adds " + in.to_string() + " to " + shapes[layer.inputs[1]].to_string());
            return in;
        case LayerKind::Flatten:
            return TShape{in.element_count()};
        case LayerKind::Softmax:
            if (in.size() != 1) fail("needs a flat input, got " + in.to_string());
            return in;
        case LayerKind::ReLU:
        case LayerKind::Tanh:
            return in;
    }
    fail("unknown layer kind");
    return {};
}

}  // namespace

std::vector<TShape> infer_tensor_shapes(const ModelGraph& graph, const std::string& path) {
    if (graph.inputs.empty() || graph.inputs.size() > limits::max_blobs)
        throw InconsistentModel(path, "needs 1 to " + std::to_string(limits::max_blobs) + " inputs");
    if (graph.layers.size() > limits::max_layers) throw InconsistentModel(path, "too many layers");

    std::vector<TShape> shapes;
    shapes.reserve(graph.tensor_count());
    std::set<std::string> names;
    for (std::size_t i = 0; i < graph.inputs.size(); ++i) {
        const NamedTensor& input = graph.inputs[i];
        check_blob_shape(input, "input", path);
        if (input.tensor != i) throw InconsistentModel(path, "input '" + input.name + "' is misnumbered");
        if (!names.insert(input.name).second)
            throw InconsistentModel(path, "blob name '" + input.name + "' is used twice");
        shapes.push_back(input.shape);
    }
    for (std::size_t i = 0; i < graph.layers.size(); ++i) {
        const Layer& layer = graph.layers[i];
        const std::size_t own_id = graph.inputs.size() + i;
        if (layer.inputs.size() != layer_arity(layer.kind))
            throw InconsistentModel(path, "layer " + std::to_string(i) + " (" + layer_kind_name(layer.kind) +
                                              ") has the wrong number of inputs");
        for (std::uint32_t source : layer.inputs)
            if (source >= own_id)
                throw InconsistentModel(path, "layer " + std::to_string(i) + " reads tensor " +
                                                  std::to_string(source) + ", which is not computed before it");
        shapes.push_back(infer_layer_shape(layer, shapes, i, path));
        check_finite(layer.weights, i, path);
        check_finite(layer.bias, i, path);
        check_input_scale(layer, i, path);
    }
    return shapes;
}

std::vector<TShape> check_graph(const ModelGraph& graph, const std::string& path) {
    std::vector<TShape> shapes = infer_tensor_shapes(graph, path);
    if (graph.outputs.empty() || graph.outputs.size() > limits::max_blobs)
        throw InconsistentModel(path, "needs 1 to " + std::to_string(limits::max_blobs) + " outputs");
    std::set<std::string> names;
    for (const NamedTensor& input : graph.inputs) names.insert(input.name);
    for (const NamedTensor& output : graph.outputs) {
        if (output.name.empty() || output.name.size() > limits::max_name_bytes)
            throw InconsistentModel(path, "output has an empty or overlong name");
        if (!names.insert(output.name).second)
            throw InconsistentModel(path, "blob name '" + output.name + "' is used twice");
        if (output.tensor >= shapes.size())
            throw InconsistentModel(path, "output '" + output.name + "' names tensor " +
                                              std::to_string(output.tensor) + ", which does not exist");
        if (output.shape != shapes[output.tensor])
            throw InconsistentModel(path, "output '" + output.name + "' is declared " + output.shape.to_string() +
                                              " but computes " + shapes[output.tensor].to_string());
    }
    return shapes;
}

}  // namespace qvr
