// Builds a ModelGraph layer by layer, for tests and tools that make small
// models in-process. Each call returns the id of the tensor it creates.
//
// Not thread-safe; one builder per thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qvr/model_graph.h"

namespace qvr {

class ModelBuilder {
public:
    /// Inputs must all be added before the first layer.
    std::uint32_t input(const std::string& name, TShape shape);

    /// weights [out][in][kernel][kernel], bias [out].
    std::uint32_t conv2d(std::uint32_t source, std::uint32_t in_channels, std::uint32_t out_channels,
                         std::uint32_t kernel, std::vector<float> weights, std::vector<float> bias);
    /// weights [out][in], bias [out].
    std::uint32_t dense(std::uint32_t source, std::uint32_t in_features, std::uint32_t out_features,
                        std::vector<float> weights, std::vector<float> bias);
    std::uint32_t relu(std::uint32_t source) { return simple(LayerKind::ReLU, {source}); }
    std::uint32_t add(std::uint32_t a, std::uint32_t b) { return simple(LayerKind::Add, {a, b}); }
    std::uint32_t flatten(std::uint32_t source) { return simple(LayerKind::Flatten, {source}); }
    std::uint32_t softmax(std::uint32_t source) { return simple(LayerKind::Softmax, {source}); }
    std::uint32_t tanh(std::uint32_t source) { return simple(LayerKind::Tanh, {source}); }

    /// Declares `tensor` as a model output; its shape is filled in by build().
    void output(const std::string& name, std::uint32_t tensor);

    /// The finished graph, checked. Throws InconsistentModel on a bad graph.
    ModelGraph build() const;

private:
    std::uint32_t simple(LayerKind kind, std::vector<std::uint32_t> inputs);
    std::uint32_t push(Layer layer);

    ModelGraph graph_;
};

}  // namespace qvr
