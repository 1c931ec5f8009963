// The fast runner: the model's layers compiled once into a short list of
// fused steps over preallocated buffers, run on one instruction set's kernels.
//
// Spatial tensors live position-major with channels contiguous and a zero
// border (kernel_table.h); flat tensors live as the file orders them. At load
// time the plan
//   1. fuses each convolution with a following residual add and ReLU, and a
//      1x1 convolution that feeds a flatten (the heads) into one step that
//      writes the flattened planes directly; dense layers absorb a ReLU;
//   2. transforms 3x3 weights for Winograd and pads channel counts; with int8
//      kernels, a 3x3 convolution that carries an input scale becomes a direct
//      int8 convolution instead (int8_kernel_table.h); with int16 kernels,
//      the Winograd products run in int16 (int16_kernel_table.h);
//   3. gives each tensor a buffer, reusing buffers whose tensor is dead.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <tuple>
#include <utility>

#include "qvr/aligned_buffer.h"
#include "qvr/int16_kernel_table.h"
#include "qvr/int16_weights.h"
#include "qvr/int8_kernel_table.h"
#include "qvr/int8_weights.h"
#include "qvr/kernel_table.h"
#include "qvr/runner.h"
#include "qvr/winograd_weights.h"

namespace qvr {

namespace {

int round_up(int value, int multiple) { return (value + multiple - 1) / multiple * multiple; }

enum class StepKind {
    load_spatial_input,
    load_flat_input,
    winograd_conv,
    int8_conv,
    conv1x1_spatial,
    conv1x1_planar,
    dense,
    relu,
    tanh,
    add,
    softmax,
    flatten_spatial,
    copy_flat,
};

struct TensorLayout {
    bool spatial = false;
    SpatialGeometry geometry;
    int channels = 0;         // spatial: true channel count
    int padded_channels = 0;  // spatial: rounded up to channel_multiple
    std::size_t elements = 0; // flat: element count
    int buffer = -1;

    std::size_t floats() const {
        return spatial ? static_cast<std::size_t>(geometry.positions()) * padded_channels
                       : static_cast<std::size_t>(round_up(static_cast<int>(elements), channel_multiple));
    }
    auto reuse_key() const {
        return std::make_tuple(spatial, geometry.rows, geometry.columns, channels, padded_channels, elements);
    }
};

struct Step {
    StepKind kind;
    std::uint32_t source = 0;
    std::uint32_t destination = 0;
    std::int64_t second = -1;  // add's other operand or a convolution's residual, -1 for none
    bool relu = false;
    std::size_t model_input = 0;
    int in_size = 0;   // padded input channels / features
    int out_size = 0;  // output channels (padded for spatial outputs) / features
    AlignedBuffer weights;
    AlignedBuffer bias;
    Int8ConvWeights int8;  // int8_conv's weights (`weights` stays empty)
    Int16WinogradWeights int16;  // winograd_conv's weights with int16 kernels (`weights` stays empty)
    // The integer transform's ReLU convolutions find their output's largest
    // value as they write it; a convolution reading such an output takes it
    // from there instead of reading the tensor once more.
    bool source_largest_known = false;
    int rounded_slot = -1;  // the integer transform's rounded input: rounded_inputs_[slot]
};

class FastRunner final : public Runner {
public:
    FastRunner(const ModelGraph& graph, const std::vector<TShape>& shapes, const KernelTable& kernels,
               const Int8KernelTable* int8, const Int16KernelTable* int16, Int16Input int16_input)
        : kernels_(kernels), int8_(int8), int16_(int16), int16_input_(int16_input) {
        lay_out_tensors(shapes);
        plan_steps(graph);
        plan_ranges();
        assign_buffers(graph);
    }

    void run(std::size_t batch, const std::vector<const float*>& inputs,
             const std::vector<float*>& outputs) override {
        for (std::size_t sample = 0; sample < batch; ++sample) {
            for (const Step& step : steps_) execute(step, sample, inputs);
            for (std::size_t o = 0; o < output_tensors_.size(); ++o) store_output(output_tensors_[o], sample, outputs[o]);
        }
    }

private:
    // ---- planning ------------------------------------------------------------

    void lay_out_tensors(const std::vector<TShape>& shapes) {
        layouts_.resize(shapes.size());
        for (std::size_t t = 0; t < shapes.size(); ++t) {
            TensorLayout& layout = layouts_[t];
            const TShape& shape = shapes[t];
            layout.spatial = shape.size() == 3;  // (channels, rows, columns)
            if (layout.spatial) {
                layout.channels = static_cast<int>(shape[0]);
                layout.padded_channels = round_up(layout.channels, channel_multiple);
                layout.geometry = SpatialGeometry::for_plane(static_cast<int>(shape[1]), static_cast<int>(shape[2]));
            } else {
                layout.elements = shape.element_count();
            }
        }
    }

    // Who reads each tensor: layers, and the model outputs (counted as readers too).
    void count_readers(const ModelGraph& graph) {
        readers_.assign(layouts_.size(), {});
        is_output_.assign(layouts_.size(), false);
        for (std::size_t l = 0; l < graph.layers.size(); ++l)
            for (std::uint32_t source : graph.layers[l].inputs) readers_[source].push_back(l);
        for (const NamedTensor& output : graph.outputs) is_output_[output.tensor] = true;
    }

    // The single layer that reads `tensor`, if it is read by exactly one layer
    // of `kind` and is no model output: then it may be fused away.
    std::int64_t sole_reader(const ModelGraph& graph, std::uint32_t tensor, LayerKind kind) const {
        if (is_output_[tensor] || readers_[tensor].size() != 1) return -1;
        const std::size_t reader = readers_[tensor][0];
        return graph.layers[reader].kind == kind ? static_cast<std::int64_t>(reader) : -1;
    }

    void plan_ranges() {
        largest_.assign(layouts_.size(), 0.0f);
        if (int16_ == nullptr || int16_input_ != Int16Input::integer_transform) return;
        std::vector<bool> known(layouts_.size(), false);
        for (Step& step : steps_) {
            if (step.kind != StepKind::winograd_conv) continue;
            step.source_largest_known = known[step.source];
            known[step.destination] = step.relu;
        }
    }

    void plan_steps(const ModelGraph& graph) {
        count_readers(graph);
        const std::uint32_t first_layer_tensor = static_cast<std::uint32_t>(graph.inputs.size());
        auto tensor_of = [&](std::size_t layer) { return static_cast<std::uint32_t>(first_layer_tensor + layer); };
        std::vector<bool> absorbed(graph.layers.size(), false);

        for (std::uint32_t i = 0; i < graph.inputs.size(); ++i) {
            Step step;
            step.kind = layouts_[i].spatial ? StepKind::load_spatial_input : StepKind::load_flat_input;
            step.destination = i;
            step.model_input = i;
            steps_.push_back(std::move(step));
        }

        for (std::size_t l = 0; l < graph.layers.size(); ++l) {
            if (absorbed[l]) continue;
            const Layer& layer = graph.layers[l];
            Step step;
            step.source = layer.inputs[0];
            step.destination = tensor_of(l);
            switch (layer.kind) {
                case LayerKind::Conv2D: {
                    // conv -> add(skip) -> relu, conv -> relu, 1x1 conv [-> relu] -> flatten.
                    std::uint32_t result = tensor_of(l);
                    const std::int64_t add = sole_reader(graph, result, LayerKind::Add);
                    if (add >= 0) {
                        const Layer& add_layer = graph.layers[add];
                        const std::uint32_t other = add_layer.inputs[0] == result ? add_layer.inputs[1] : add_layer.inputs[0];
                        if (other < result) {  // the skip must exist before the convolution runs
                            step.second = other;
                            absorbed[add] = true;
                            result = tensor_of(add);
                        }
                    }
                    const std::int64_t relu = sole_reader(graph, result, LayerKind::ReLU);
                    if (relu >= 0) {
                        step.relu = true;
                        absorbed[relu] = true;
                        result = tensor_of(relu);
                    }
                    const std::int64_t flatten =
                        layer.kernel == 1 && step.second < 0 ? sole_reader(graph, result, LayerKind::Flatten) : -1;
                    if (flatten >= 0) {
                        absorbed[flatten] = true;
                        result = tensor_of(flatten);
                    }
                    step.destination = result;
                    plan_convolution(layer, flatten >= 0, step);
                    break;
                }
                case LayerKind::Dense: {
                    std::uint32_t result = tensor_of(l);
                    const std::int64_t relu = sole_reader(graph, result, LayerKind::ReLU);
                    if (relu >= 0) {
                        step.relu = true;
                        absorbed[relu] = true;
                        result = tensor_of(relu);
                    }
                    step.destination = result;
                    step.kind = StepKind::dense;
                    step.in_size = round_up(static_cast<int>(layer.in_size), channel_multiple);
                    step.out_size = static_cast<int>(layer.out_size);
                    step.weights = AlignedBuffer(static_cast<std::size_t>(step.out_size) * step.in_size);
                    for (std::uint32_t o = 0; o < layer.out_size; ++o)
                        std::copy_n(layer.weights.data() + std::size_t{o} * layer.in_size, layer.in_size,
                                    step.weights.data() + std::size_t{o} * step.in_size);
                    step.bias = AlignedBuffer(layer.out_size);
                    std::copy(layer.bias.begin(), layer.bias.end(), step.bias.data());
                    break;
                }
                case LayerKind::ReLU: step.kind = StepKind::relu; break;
                case LayerKind::Tanh: step.kind = StepKind::tanh; break;
                case LayerKind::Softmax: step.kind = StepKind::softmax; break;
                case LayerKind::Add:
                    step.kind = StepKind::add;
                    step.second = layer.inputs[1];
                    break;
                case LayerKind::Flatten:
                    step.kind = layouts_[step.source].spatial ? StepKind::flatten_spatial : StepKind::copy_flat;
                    break;
            }
            steps_.push_back(std::move(step));
        }
        for (const NamedTensor& output : graph.outputs) output_tensors_.push_back(output.tensor);
    }

    void plan_convolution(const Layer& layer, bool planar, Step& step) {
        const TensorLayout& in = layouts_[step.source];
        const int in_channels = static_cast<int>(layer.in_size);
        const int out_channels = static_cast<int>(layer.out_size);
        step.in_size = in.padded_channels;
        if (layer.kernel == 3 && int8_ != nullptr && layer.input_scale != 0.0f) {
            step.kind = StepKind::int8_conv;
            step.out_size = round_up(out_channels, channel_multiple);
            step.int8 = quantise_conv_weights(layer.weights, in_channels, out_channels, step.in_size, step.out_size,
                                              layer.input_scale);
            quantised_bytes_ = std::max(quantised_bytes_, static_cast<std::size_t>(in.geometry.positions()) * step.in_size);
        } else if (layer.kernel == 3) {
            step.kind = StepKind::winograd_conv;
            step.out_size = round_up(out_channels, channel_multiple);
            step.weights = winograd_transform_weights(layer.weights, in_channels, out_channels, step.in_size, step.out_size);
            if (int16_ != nullptr) {
                step.int16 = quantise_winograd_weights(step.weights, step.in_size, step.out_size, int16_input_);
                step.weights = AlignedBuffer();
                const std::size_t rows = static_cast<std::size_t>(winograd_points) * in.geometry.tiles();
                int16_rows_ = std::max(int16_rows_, rows);
                int16_values_ = std::max(int16_values_, rows * step.in_size);
                if (int16_input_ == Int16Input::integer_transform) {
                    step.rounded_slot = rounded_slot(in.geometry, step.in_size);
                    sums_values_ = std::max(sums_values_, rows * step.out_size);
                    channel_scale_values_ = std::max(channel_scale_values_, static_cast<std::size_t>(step.out_size));
                }
            }
            const std::size_t scratch = static_cast<std::size_t>(winograd_points) * in.geometry.tiles() *
                                        std::max(step.in_size, step.out_size);
            scratch_floats_ = std::max(scratch_floats_, scratch);
        } else if (planar) {
            step.kind = StepKind::conv1x1_planar;
            step.out_size = out_channels;
            step.weights = AlignedBuffer(static_cast<std::size_t>(out_channels) * step.in_size);
            for (int o = 0; o < out_channels; ++o)
                std::copy_n(layer.weights.data() + static_cast<std::size_t>(o) * in_channels, in_channels,
                            step.weights.data() + static_cast<std::size_t>(o) * step.in_size);
        } else {
            step.kind = StepKind::conv1x1_spatial;
            step.out_size = round_up(out_channels, channel_multiple);
            step.weights = AlignedBuffer(static_cast<std::size_t>(step.in_size) * step.out_size);
            for (int o = 0; o < out_channels; ++o)
                for (int i = 0; i < in_channels; ++i)
                    step.weights.data()[static_cast<std::size_t>(i) * step.out_size + o] =
                        layer.weights[static_cast<std::size_t>(o) * in_channels + i];
        }
        step.bias = AlignedBuffer(std::max(step.out_size, out_channels));
        std::copy(layer.bias.begin(), layer.bias.end(), step.bias.data());
    }

    void assign_buffers(const ModelGraph& graph) {
        std::vector<std::size_t> last_use(layouts_.size(), 0);
        auto loads_input = [](const Step& step) {
            return step.kind == StepKind::load_spatial_input || step.kind == StepKind::load_flat_input;
        };
        for (std::size_t s = 0; s < steps_.size(); ++s) {
            if (loads_input(steps_[s])) continue;
            last_use[steps_[s].source] = s;
            if (steps_[s].second >= 0) last_use[steps_[s].second] = s;
        }
        for (const NamedTensor& output : graph.outputs) last_use[output.tensor] = steps_.size();

        std::multimap<decltype(TensorLayout{}.reuse_key()), int> free_buffers;
        for (std::size_t s = 0; s < steps_.size(); ++s) {
            TensorLayout& out = layouts_[steps_[s].destination];
            const auto key = out.reuse_key();
            const auto reusable = free_buffers.find(key);
            if (reusable != free_buffers.end()) {
                out.buffer = reusable->second;
                free_buffers.erase(reusable);
            } else {
                out.buffer = static_cast<int>(buffers_.size());
                buffers_.emplace_back(out.floats());
            }
            // A step's inputs die after it, never before its output is placed,
            // so no step writes a buffer it reads.
            for (std::int64_t read : {static_cast<std::int64_t>(steps_[s].source), steps_[s].second}) {
                if (read < 0 || loads_input(steps_[s]) || last_use[read] != s) continue;
                const TensorLayout& dead = layouts_[read];
                free_buffers.emplace(dead.reuse_key(), dead.buffer);
            }
        }
        transformed_ = AlignedBuffer(scratch_floats_);
        products_ = AlignedBuffer(scratch_floats_);
        quantised_.assign(quantised_bytes_, 0);
        quantised16_.assign(int16_values_, 0);
        row_scales_.assign(int16_rows_, 0.0f);
        sums_.assign(sums_values_, 0);
        channel_scales_.assign(channel_scale_values_, 0.0f);
    }

    // ---- execution -----------------------------------------------------------

    // The integer input transform: the whole input rounded with one scale
    // (its largest magnitude to the most levels whose transform fits int16),
    // transformed in int16; returns that scale.
    float round_and_transform(const Step& step, const TensorLayout& in) {
        const float* source = buffer(step.source);
        float lowest = 0.0f, highest = largest_[step.source];
        if (!step.source_largest_known) int16_->range(source, static_cast<long>(in.floats()), &lowest, &highest);
        const bool nonnegative = lowest >= 0.0f;
        const float largest = std::max(-lowest, highest);
        const int limit = integer_input_limit(nonnegative);
        // All zeros (or a NaN from an overflowing network): scale 0 keeps the
        // products at zero and defined.
        const bool usable = largest > 0.0f && largest <= std::numeric_limits<float>::max();
        const float factor = usable ? static_cast<float>(limit) / largest : 0.0f;
        const float scale = usable ? largest / static_cast<float>(limit) : 0.0f;
        // Only the plane's cells: the border and the tiles' overhang stay
        // the zeros they were made with, as no other layout shares the slot.
        std::int16_t* rounded = rounded_inputs_[step.rounded_slot].data();
        const SpatialGeometry& g = in.geometry;
        const long row_floats = static_cast<long>(g.columns) * step.in_size;
        for (int y = 1; y <= g.rows; ++y) {
            const long first = (static_cast<long>(y) * g.padded_columns + 1) * step.in_size;
            int16_->round_tensor(source + first, row_floats, factor, rounded + first);
        }
        int16_->input_tiles(rounded, g, step.in_size, quantised16_.data());
        return scale;
    }

    // One zeroed buffer per plane shape and channel count.
    int rounded_slot(const SpatialGeometry& g, int channels) {
        const std::array<int, 5> key{g.rows, g.columns, g.padded_rows, g.padded_columns, channels};
        const auto [found, added] = rounded_slots_.emplace(key, static_cast<int>(rounded_inputs_.size()));
        if (added) rounded_inputs_.emplace_back(static_cast<std::size_t>(g.positions()) * channels, std::int16_t{0});
        return found->second;
    }

    float* buffer(std::uint32_t tensor) { return buffers_[layouts_[tensor].buffer].data(); }

    void execute(const Step& step, std::size_t sample, const std::vector<const float*>& inputs) {
        const TensorLayout& out = layouts_[step.destination];
        float* destination = buffer(step.destination);
        switch (step.kind) {
            case StepKind::load_spatial_input: {
                if (inputs[step.model_input] == nullptr) return;
                const SpatialGeometry& g = out.geometry;
                const std::size_t plane = static_cast<std::size_t>(g.rows) * g.columns;
                const float* source = inputs[step.model_input] + sample * plane * out.channels;
                for (int y = 0; y < g.rows; ++y)
                    for (int x = 0; x < g.columns; ++x) {
                        float* cell = destination + (static_cast<std::size_t>(y + 1) * g.padded_columns + x + 1) * out.padded_channels;
                        for (int c = 0; c < out.channels; ++c) cell[c] = source[c * plane + y * g.columns + x];
                    }
                return;
            }
            case StepKind::load_flat_input:
                if (inputs[step.model_input] == nullptr) return;
                std::memcpy(destination, inputs[step.model_input] + sample * out.elements, out.elements * sizeof(float));
                return;
            case StepKind::winograd_conv: {
                const TensorLayout& in = layouts_[step.source];
                const int tiles = in.geometry.tiles();
                if (int16_ != nullptr && int16_input_ == Int16Input::integer_transform) {
                    // Integer from the rounded input to the outputs: one
                    // conversion per output, scaled per channel.
                    const float scale = round_and_transform(step, in);
                    int16_->multiply_sums(quantised16_.data(), step.int16.packed.data(), tiles, step.in_size,
                                          step.out_size, sums_.data());
                    for (int o = 0; o < step.out_size; ++o) channel_scales_[o] = scale * step.int16.scales[o];
                    int16_->output_sums(sums_.data(), channel_scales_.data(), step.bias.data(),
                                        step.second >= 0 ? buffer(step.second) : nullptr, step.relu, in.geometry,
                                        step.out_size, destination, &largest_[step.destination]);
                    return;
                } else if (int16_ != nullptr) {
                    // A tile at a time, so that the transformed floats stay in
                    // the first-level cache until they are rounded.
                    const long row_stride = static_cast<long>(tiles) * step.in_size;
                    for (int tile = 0; tile < tiles; ++tile) {
                        kernels_.winograd_input_tile(buffer(step.source), in.geometry, step.in_size, tile,
                                                     transformed_.data());
                        int16_->quantise_rows(transformed_.data(), winograd_points, step.in_size, step.int16.limit,
                                              quantised16_.data() + tile * static_cast<long>(step.in_size), row_stride,
                                              row_scales_.data() + tile, tiles);
                    }
                    int16_->multiply(quantised16_.data(), row_scales_.data(), step.int16.packed.data(),
                                     step.int16.scales.data(), tiles, step.in_size, step.out_size, products_.data());
                } else {
                    prefetch_first_point(step);
                    kernels_.winograd_input(buffer(step.source), in.geometry, step.in_size, transformed_.data());
                    kernels_.winograd_multiply(transformed_.data(), step.weights.data(), tiles, step.in_size,
                                               step.out_size, products_.data());
                }
                kernels_.winograd_output(products_.data(), step.bias.data(), step.second >= 0 ? buffer(step.second) : nullptr,
                                         step.relu, in.geometry, step.out_size, destination);
                return;
            }
            case StepKind::int8_conv: {
                // The whole input, border included: the border's zeros stay zero.
                const TensorLayout& in = layouts_[step.source];
                int8_->quantise(buffer(step.source), in.floats(), step.int8.inverse_input_scale, quantised_.data());
                int8_->conv3x3(quantised_.data(), in.geometry, step.in_size, step.int8.packed.data(),
                               step.int8.multipliers.data(), step.bias.data(),
                               step.second >= 0 ? buffer(step.second) : nullptr, step.relu, step.out_size, destination);
                return;
            }
            case StepKind::conv1x1_planar:
                kernels_.conv1x1_planar(buffer(step.source), layouts_[step.source].geometry, step.in_size,
                                        step.weights.data(), step.bias.data(), step.out_size, step.relu, destination);
                return;
            case StepKind::conv1x1_spatial: conv1x1_spatial(step, destination); return;
            case StepKind::dense:
                kernels_.dense(buffer(step.source), step.in_size, step.weights.data(), step.bias.data(), step.out_size,
                               step.relu, destination);
                return;
            case StepKind::relu:
            case StepKind::tanh:
            case StepKind::add: elementwise(step, destination); return;
            case StepKind::softmax: softmax(buffer(step.source), out.elements, destination); return;
            case StepKind::flatten_spatial: flatten(step.source, destination); return;
            case StepKind::copy_flat:
                std::memcpy(destination, buffer(step.source), out.elements * sizeof(float));
                return;
        }
    }

    // The product prefetches each point's weights while it computes the one
    // before (simd_kernels.inl); the first point's are fetched here, so they
    // arrive while the input transform runs.
    static void prefetch_first_point(const Step& step) {
        constexpr std::size_t floats_per_line = 16;
        const std::size_t floats = static_cast<std::size_t>(step.in_size) * step.out_size;
        for (std::size_t i = 0; i < floats; i += floats_per_line) __builtin_prefetch(step.weights.data() + i, 0, 2);
    }

    // Rare outside the heads: a 1x1 convolution that stays spatial.
    void conv1x1_spatial(const Step& step, float* destination) {
        const TensorLayout& in = layouts_[step.source];
        const SpatialGeometry& g = in.geometry;
        const float* source = buffer(step.source);
        const float* residual = step.second >= 0 ? buffer(step.second) : nullptr;
        for (int y = 0; y < g.rows; ++y)
            for (int x = 0; x < g.columns; ++x) {
                const std::size_t position = static_cast<std::size_t>(y + 1) * g.padded_columns + x + 1;
                const float* cell = source + position * step.in_size;
                float* result = destination + position * step.out_size;
                for (int o = 0; o < step.out_size; ++o) result[o] = step.bias.data()[o];
                for (int i = 0; i < step.in_size; ++i) {
                    const float* row = step.weights.data() + static_cast<std::size_t>(i) * step.out_size;
                    for (int o = 0; o < step.out_size; ++o) result[o] += cell[i] * row[o];
                }
                for (int o = 0; o < step.out_size; ++o) {
                    if (residual) result[o] += residual[position * step.out_size + o];
                    if (step.relu) result[o] = std::max(result[o], 0.0f);
                }
            }
    }

    // Zero stays zero under relu, tanh and add, so spatial tensors can be
    // processed whole, border and padding channels included.
    void elementwise(const Step& step, float* destination) {
        const TensorLayout& out = layouts_[step.destination];
        const std::size_t count = out.spatial ? out.floats() : out.elements;
        const float* a = buffer(step.source);
        if (step.kind == StepKind::add) {
            const float* b = buffer(static_cast<std::uint32_t>(step.second));
            for (std::size_t i = 0; i < count; ++i) destination[i] = a[i] + b[i];
        } else if (step.kind == StepKind::relu) {
            for (std::size_t i = 0; i < count; ++i) destination[i] = std::max(a[i], 0.0f);
        } else {
            for (std::size_t i = 0; i < count; ++i) destination[i] = std::tanh(a[i]);
        }
    }

    static void softmax(const float* in, std::size_t count, float* out) {
        const float largest = *std::max_element(in, in + count);
        double total = 0.0;
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = std::exp(in[i] - largest);
            total += out[i];
        }
        const float scale = static_cast<float>(1.0 / total);
        for (std::size_t i = 0; i < count; ++i) out[i] *= scale;
    }

    // Spatial -> (channels, rows, columns) order.
    void flatten(std::uint32_t tensor, float* destination) {
        const TensorLayout& in = layouts_[tensor];
        const SpatialGeometry& g = in.geometry;
        const float* source = buffer(tensor);
        for (int c = 0; c < in.channels; ++c)
            for (int y = 0; y < g.rows; ++y)
                for (int x = 0; x < g.columns; ++x)
                    *destination++ = source[(static_cast<std::size_t>(y + 1) * g.padded_columns + x + 1) * in.padded_channels + c];
    }

    void store_output(std::uint32_t tensor, std::size_t sample, float* output) {
        const TensorLayout& layout = layouts_[tensor];
        if (layout.spatial) {
            const std::size_t size = static_cast<std::size_t>(layout.channels) * layout.geometry.rows * layout.geometry.columns;
            flatten(tensor, output + sample * size);
        } else {
            std::memcpy(output + sample * layout.elements, buffer(tensor), layout.elements * sizeof(float));
        }
    }

    const KernelTable& kernels_;
    const Int8KernelTable* int8_;  // null: every convolution in float32
    const Int16KernelTable* int16_;  // null: Winograd products in float32
    Int16Input int16_input_;
    std::vector<TensorLayout> layouts_;
    std::vector<std::vector<std::size_t>> readers_;
    std::vector<bool> is_output_;
    std::vector<Step> steps_;
    std::vector<std::uint32_t> output_tensors_;
    std::vector<AlignedBuffer> buffers_;
    std::size_t scratch_floats_ = 0;
    AlignedBuffer transformed_;
    AlignedBuffer products_;
    std::size_t quantised_bytes_ = 0;
    std::vector<std::uint8_t> quantised_;  // int8_conv's input
    std::size_t int16_rows_ = 0;
    std::size_t int16_values_ = 0;
    std::vector<std::int16_t> quantised16_;  // the int16 products' input
    std::map<std::array<int, 5>, int> rounded_slots_;
    std::vector<std::vector<std::int16_t>> rounded_inputs_;  // the integer input transform's inputs
    std::vector<float> row_scales_;
    std::size_t sums_values_ = 0;
    std::vector<std::int32_t> sums_;  // the integer output transform's input
    std::size_t channel_scale_values_ = 0;
    std::vector<float> channel_scales_;
    std::vector<float> largest_;  // per tensor: the largest value a ReLU convolution wrote
};

}  // namespace

std::unique_ptr<Runner> make_fast_runner(const ModelGraph& graph, const std::vector<TShape>& shapes,
                                         const KernelTable& kernels, const Int8KernelTable* int8,
                                         const Int16KernelTable* int16, Int16Input int16_input) {
    return std::make_unique<FastRunner>(graph, shapes, kernels, int8, int16, int16_input);
}

}  // namespace qvr
