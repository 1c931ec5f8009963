#include "qvr/model_base.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "qvr/limits.h"
#include "qvr/model_file.h"
#include "qvr/precision_check.h"
#include "qvr/runner.h"
#include "qvr/runner_factory.h"

namespace qvr {

struct ModelBase::Loaded {
    std::string path;
    std::vector<NamedTensor> inputs;
    std::vector<NamedTensor> outputs;
    std::vector<bool> input_required;  // read by some layer or output; others may be left out
    KernelPath path_used = KernelPath::reference;
    std::unique_ptr<Runner> runner;
};

namespace {

struct LoadOptions {
    KernelPath kernels = KernelPath::automatic;
};

LoadOptions parse_options(const std::string& text) {
    LoadOptions options;
    std::string item;
    auto apply = [&](const std::string& entry) {
        if (entry.empty()) return;
        const auto equals = entry.find('=');
        if (equals == std::string::npos) throw BadOption("load option '" + entry + "' is not key=value");
        const std::string key = entry.substr(0, equals);
        const std::string value = entry.substr(equals + 1);
        if (key == "gpu_id") {
            if (value.empty() || !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
                throw BadOption("load option gpu_id needs a number, got '" + value + "'");
        } else if (key == "kernels") {
            const auto path = parse_kernel_path(value);
            if (!path) throw BadOption("load option kernels: unknown path '" + value + "'");
            if (!cpu_supports(*path)) throw BadOption("load option kernels: this CPU cannot run '" + value + "'");
            options.kernels = *path;
        } else {
            throw BadOption("unknown load option '" + key + "'");
        }
    };
    for (char c : text) {
        if (c == ',' || c == ';' || c == ' ' || c == '\t') {
            apply(item);
            item.clear();
        } else {
            item += c;
        }
    }
    apply(item);
    return options;
}

}  // namespace

ModelBase::ModelBase(const std::string& name, const std::string& reserved) : name_(name), reserved_(reserved) {}

ModelBase::~ModelBase() = default;

void ModelBase::LoadModelFromFile(const std::string& path, const std::string& options) {
    const LoadOptions parsed = parse_options(options);
    ModelGraph graph = read_model_file(path);
    std::vector<TShape> shapes = check_graph(graph, path);
    auto loaded = std::make_unique<Loaded>();
    loaded->path = path;
    loaded->inputs = graph.inputs;
    loaded->outputs = graph.outputs;
    loaded->input_required.assign(graph.inputs.size(), false);
    for (const Layer& layer : graph.layers)
        for (std::uint32_t source : layer.inputs)
            if (source < graph.inputs.size()) loaded->input_required[source] = true;
    for (const NamedTensor& output : graph.outputs)
        if (output.tensor < graph.inputs.size()) loaded->input_required[output.tensor] = true;
    if (is_int8(parsed.kernels) && !graph.quantised())
        throw BadOption("load option kernels: '" + std::string(kernel_path_name(parsed.kernels)) + "' needs a " +
                        "quantised model file, and '" + path + "' holds float32 weights only");
    loaded->path_used = resolve_kernel_path(parsed.kernels, graph.quantised());
    if (parsed.kernels == KernelPath::automatic && is_int16(loaded->path_used)) {
        // Chosen for speed, kept only if it follows float32 on this network.
        const KernelPath exact_path = float32_counterpart(loaded->path_used);
        auto low = make_runner(graph, shapes, loaded->path_used);
        auto exact = make_runner(graph, shapes, exact_path);
        if (low_precision_agrees(graph, *low, *exact)) {
            loaded->runner = std::move(low);
        } else {
            loaded->path_used = exact_path;
            loaded->runner = std::move(exact);
        }
    } else {
        loaded->runner = make_runner(std::move(graph), std::move(shapes), loaded->path_used);
    }
    loaded_ = std::move(loaded);
}

const ModelBase::Loaded& ModelBase::loaded() const {
    if (!loaded_) throw UsageError("model '" + name_ + "': no model file loaded");
    return *loaded_;
}

KernelPath ModelBase::kernel_path() const { return loaded().path_used; }

std::vector<std::string> ModelBase::ListInputBlobNames() const {
    std::vector<std::string> names;
    for (const NamedTensor& input : loaded().inputs) names.push_back(input.name);
    return names;
}

std::vector<std::string> ModelBase::ListOutputBlobNames() const {
    std::vector<std::string> names;
    for (const NamedTensor& output : loaded().outputs) names.push_back(output.name);
    return names;
}

TShape ModelBase::GetInputBlobShape(const std::string& name) const {
    for (const NamedTensor& input : loaded().inputs)
        if (input.name == name) return input.shape;
    throw UsageError("model '" + loaded().path + "' has no input blob '" + name + "'");
}

void ModelBase::InferBatch(const std::vector<TBlob>& inputs, std::vector<TBlob>& outputs) {
    const Loaded& model = loaded();
    const std::string where = "InferBatch on '" + model.path + "': ";
    if (inputs.empty() || inputs.size() > model.inputs.size())
        throw UsageError(where + "expects 1 to " + std::to_string(model.inputs.size()) + " input blobs, got " +
                         std::to_string(inputs.size()));

    std::vector<const float*> input_data(model.inputs.size(), nullptr);
    std::uint64_t batch = 0;
    for (const TBlob& blob : inputs) {
        const auto match = std::find_if(model.inputs.begin(), model.inputs.end(),
                                        [&](const NamedTensor& input) { return input.name == blob.name(); });
        if (match == model.inputs.end()) throw UsageError(where + "no input blob named '" + blob.name() + "'");
        const std::size_t index = static_cast<std::size_t>(match - model.inputs.begin());
        if (input_data[index] != nullptr) throw UsageError(where + "input '" + blob.name() + "' given twice");
        if (blob.type() != Float32)
            throw UsageError(where + "input '" + blob.name() + "' holds " + value_type_name(blob.type()) +
                             ", expected float32");
        const TShape& shape = blob.shape();
        const TShape& expected = match->shape;
        bool shape_fits = shape.size() == expected.size() + 1;
        for (std::size_t axis = 0; shape_fits && axis < expected.size(); ++axis)
            shape_fits = shape[axis + 1] == expected[axis];
        if (!shape_fits)
            throw UsageError(where + "input '" + blob.name() + "' has shape " + shape.to_string() +
                             ", expected (batch) + " + expected.to_string());
        if (&blob != &inputs.front() && shape[0] != batch)
            throw UsageError(where + "inputs disagree on the batch size");
        batch = shape[0];
        if (batch > limits::max_batch) throw UsageError(where + "batch of " + std::to_string(batch) + " is too large");
        if (blob.__Data() == nullptr) throw UsageError(where + "input '" + blob.name() + "' has no data");
        input_data[index] = static_cast<const float*>(blob.__Data());
    }

    for (std::size_t i = 0; i < model.inputs.size(); ++i)
        if (model.input_required[i] && input_data[i] == nullptr)
            throw UsageError(where + "input '" + model.inputs[i].name + "' is missing");

    std::uint64_t output_floats = 0;
    for (const NamedTensor& output : model.outputs) output_floats += batch * output.shape.element_count();
    if (output_floats > limits::max_batch_floats)
        throw UsageError(where + "a batch of " + std::to_string(batch) + " needs too much output memory");

    std::vector<std::shared_ptr<float[]>> storage;
    std::vector<float*> output_data;
    for (const NamedTensor& output : model.outputs) {
        storage.push_back(std::make_shared_for_overwrite<float[]>(batch * output.shape.element_count()));
        output_data.push_back(storage.back().get());
    }
    if (batch > 0) model.runner->run(batch, input_data, output_data);

    outputs.clear();
    for (std::size_t o = 0; o < model.outputs.size(); ++o) {
        std::vector<std::uint64_t> extents{batch};
        const auto& per_sample = model.outputs[o].shape.extents();
        extents.insert(extents.end(), per_sample.begin(), per_sample.end());
        outputs.emplace_back(Float32, model.outputs[o].name, TShape(std::move(extents)),
                             std::shared_ptr<const void>(std::move(storage[o])));
    }
}

}  // namespace qvr
