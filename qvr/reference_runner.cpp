// The plain interpreter: every layer exactly as the file states it, tensors in
// (channels, rows, columns) order, no fusion and no reordering. It is kept
// simple rather than fast so that it can serve as the yardstick.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "qvr/runner.h"

namespace qvr {

namespace {

void conv2d(const Layer& layer, const TShape& in_shape, const std::vector<float>& in, std::vector<float>& out) {
    const int in_channels = static_cast<int>(layer.in_size);
    const int out_channels = static_cast<int>(layer.out_size);
    const int rows = static_cast<int>(in_shape[1]);
    const int cols = static_cast<int>(in_shape[2]);
    const int kernel = static_cast<int>(layer.kernel);
    const int pad = kernel / 2;
    out.assign(static_cast<std::size_t>(out_channels) * rows * cols, 0.0f);
    for (int o = 0; o < out_channels; ++o) {
        float* out_plane = out.data() + static_cast<std::size_t>(o) * rows * cols;
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < cols; ++x) {
                float sum = layer.bias[o];
                for (int i = 0; i < in_channels; ++i) {
                    const float* in_plane = in.data() + static_cast<std::size_t>(i) * rows * cols;
                    const float* w = layer.weights.data() + (static_cast<std::size_t>(o) * in_channels + i) * kernel * kernel;
                    for (int ky = 0; ky < kernel; ++ky) {
                        const int sy = y + ky - pad;
                        if (sy < 0 || sy >= rows) continue;
                        for (int kx = 0; kx < kernel; ++kx) {
                            const int sx = x + kx - pad;
                            if (sx < 0 || sx >= cols) continue;
                            sum += w[ky * kernel + kx] * in_plane[sy * cols + sx];
                        }
                    }
                }
                out_plane[y * cols + x] = sum;
            }
        }
    }
}

void dense(const Layer& layer, const std::vector<float>& in, std::vector<float>& out) {
    out.resize(layer.out_size);
    for (std::uint32_t o = 0; o < layer.out_size; ++o) {
        const float* w = layer.weights.data() + static_cast<std::size_t>(o) * layer.in_size;
        float sum = layer.bias[o];
        for (std::uint32_t i = 0; i < layer.in_size; ++i) sum += w[i] * in[i];
        out[o] = sum;
    }
}

void softmax(const std::vector<float>& in, std::vector<float>& out) {
    out.resize(in.size());
    const float largest = *std::max_element(in.begin(), in.end());
    double total = 0.0;
    for (std::size_t i = 0; i < in.size(); ++i) {
        out[i] = std::exp(in[i] - largest);
        total += out[i];
    }
    for (float& value : out) value = static_cast<float>(value / total);
}

class ReferenceRunner final : public Runner {
public:
    ReferenceRunner(ModelGraph graph, std::vector<TShape> shapes)
        : graph_(std::move(graph)), shapes_(std::move(shapes)), tensors_(graph_.tensor_count()) {}

    void run(std::size_t batch, const std::vector<const float*>& inputs,
             const std::vector<float*>& outputs) override {
        for (std::size_t sample = 0; sample < batch; ++sample) {
            for (std::size_t i = 0; i < graph_.inputs.size(); ++i) {
                if (inputs[i] == nullptr) continue;  // an input nothing reads
                const std::size_t size = shapes_[i].element_count();
                tensors_[i].assign(inputs[i] + sample * size, inputs[i] + (sample + 1) * size);
            }
            const std::size_t first_layer_tensor = graph_.inputs.size();
            for (std::size_t l = 0; l < graph_.layers.size(); ++l)
                run_layer(graph_.layers[l], tensors_[first_layer_tensor + l]);
            for (std::size_t o = 0; o < graph_.outputs.size(); ++o) {
                const std::vector<float>& result = tensors_[graph_.outputs[o].tensor];
                std::memcpy(outputs[o] + sample * result.size(), result.data(), result.size() * sizeof(float));
            }
        }
    }

private:
    void run_layer(const Layer& layer, std::vector<float>& out) {
        const std::vector<float>& in = tensors_[layer.inputs[0]];
        switch (layer.kind) {
            case LayerKind::Conv2D: conv2d(layer, shapes_[layer.inputs[0]], in, out); break;
            case LayerKind::Dense: dense(layer, in, out); break;
            case LayerKind::Softmax: softmax(in, out); break;
            case LayerKind::Flatten: out = in; break;
            case LayerKind::ReLU:
                out.resize(in.size());
                std::transform(in.begin(), in.end(), out.begin(), [](float v) { return std::max(v, 0.0f); });
                break;
            case LayerKind::Tanh:
                out.resize(in.size());
                std::transform(in.begin(), in.end(), out.begin(), [](float v) { return std::tanh(v); });
                break;
            case LayerKind::Add: {
                const std::vector<float>& other = tensors_[layer.inputs[1]];
                out.resize(in.size());
                for (std::size_t i = 0; i < in.size(); ++i) out[i] = in[i] + other[i];
                break;
            }
        }
    }

    ModelGraph graph_;
    std::vector<TShape> shapes_;
    std::vector<std::vector<float>> tensors_;
};

}  // namespace

std::unique_ptr<Runner> make_reference_runner(ModelGraph graph, std::vector<TShape> shapes) {
    return std::make_unique<ReferenceRunner>(std::move(graph), std::move(shapes));
}

}  // namespace qvr
