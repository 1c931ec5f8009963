#include "qvr/model_builder.h"

#include <utility>

#include "qvr/errors.h"

namespace qvr {

std::uint32_t ModelBuilder::input(const std::string& name, TShape shape) {
    if (!graph_.layers.empty()) throw UsageError("model builder: inputs must come before layers");
    const auto id = static_cast<std::uint32_t>(graph_.inputs.size());
    graph_.inputs.push_back({name, id, std::move(shape)});
    return id;
}

std::uint32_t ModelBuilder::conv2d(std::uint32_t source, std::uint32_t in_channels, std::uint32_t out_channels,
                                   std::uint32_t kernel, std::vector<float> weights, std::vector<float> bias) {
    Layer layer;
    layer.kind = LayerKind::Conv2D;
    layer.inputs = {source};
    layer.in_size = in_channels;
    layer.out_size = out_channels;
    layer.kernel = kernel;
    layer.weights = std::move(weights);
    layer.bias = std::move(bias);
    return push(std::move(layer));
}

std::uint32_t ModelBuilder::dense(std::uint32_t source, std::uint32_t in_features, std::uint32_t out_features,
                                  std::vector<float> weights, std::vector<float> bias) {
    Layer layer;
    layer.kind = LayerKind::Dense;
    layer.inputs = {source};
    layer.in_size = in_features;
    layer.out_size = out_features;
    layer.weights = std::move(weights);
    layer.bias = std::move(bias);
    return push(std::move(layer));
}

void ModelBuilder::output(const std::string& name, std::uint32_t tensor) { graph_.outputs.push_back({name, tensor, {}}); }

ModelGraph ModelBuilder::build() const {
    ModelGraph graph = graph_;
    const std::vector<TShape> shapes = infer_tensor_shapes(graph, "<built in memory>");
    for (NamedTensor& output : graph.outputs)
        if (output.tensor < shapes.size()) output.shape = shapes[output.tensor];
    check_graph(graph, "<built in memory>");
    return graph;
}

std::uint32_t ModelBuilder::simple(LayerKind kind, std::vector<std::uint32_t> inputs) {
    Layer layer;
    layer.kind = kind;
    layer.inputs = std::move(inputs);
    return push(std::move(layer));
}

std::uint32_t ModelBuilder::push(Layer layer) {
    graph_.layers.push_back(std::move(layer));
    return graph_.tensor_count() - 1;
}

}  // namespace qvr
