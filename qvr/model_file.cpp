#include "qvr/model_file.h"

#include <bit>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "qvr/errors.h"
#include "qvr/limits.h"

static_assert(std::endian::native == std::endian::little, "the model file is read in place as little-endian");

namespace qvr {

namespace {

// Cursor over the file bytes; every read names what it was reading when the
// file runs out, so a truncated file says where it stops.
class ByteReader {
public:
    ByteReader(std::string_view bytes, const std::string& path) : bytes_(bytes), path_(path) {}

    std::uint32_t u32(const char* what) {
        std::uint32_t value;
        copy_out(&value, sizeof value, what);
        return value;
    }

    std::uint64_t u64(const char* what) {
        std::uint64_t value;
        copy_out(&value, sizeof value, what);
        return value;
    }

    std::string name(const char* what) {
        const std::uint32_t length = u32(what);
        if (length == 0 || length > limits::max_name_bytes)
            throw InconsistentModel(path_, std::string(what) + " has length " + std::to_string(length));
        std::string text(length, '\0');
        copy_out(text.data(), length, what);
        return text;
    }

    TShape shape(const char* what) {
        const std::uint32_t rank = u32(what);
        if (rank == 0 || rank > limits::max_rank)
            throw InconsistentModel(path_, std::string(what) + " has rank " + std::to_string(rank));
        std::vector<std::uint64_t> extents(rank);
        for (auto& extent : extents) extent = u64(what);
        return TShape(std::move(extents));
    }

    std::vector<float> floats(std::uint64_t count, const char* what) {
        if (count > limits::max_layer_weights)
            throw InconsistentModel(path_, std::string(what) + " too many (" + std::to_string(count) + ")");
        if (count * sizeof(float) > remaining())
            throw TruncatedModel(path_, std::string("file ends inside ") + what + " (needs " +
                                            std::to_string(count * sizeof(float)) + " bytes, " +
                                            std::to_string(remaining()) + " left)");
        std::vector<float> values(count);
        copy_out(values.data(), count * sizeof(float), what);
        return values;
    }

    void raw(void* out, std::size_t size, const char* what) { copy_out(out, size, what); }

    std::size_t remaining() const { return bytes_.size() - position_; }

private:
    void copy_out(void* out, std::size_t size, const char* what) {
        if (size > remaining())
            throw TruncatedModel(path_, std::string("file ends inside ") + what + " at byte " +
                                            std::to_string(bytes_.size()));
        // An empty read may come with a null destination (the data of an
        // empty vector), which memcpy must not be given even for no bytes.
        if (size == 0) return;
        std::memcpy(out, bytes_.data() + position_, size);
        position_ += size;
    }

    std::string_view bytes_;
    const std::string& path_;
    std::size_t position_ = 0;
};

class ByteWriter {
public:
    void u32(std::uint32_t value) { append(&value, sizeof value); }
    void u64(std::uint64_t value) { append(&value, sizeof value); }
    void name(const std::string& text) {
        u32(static_cast<std::uint32_t>(text.size()));
        append(text.data(), text.size());
    }
    void shape(const TShape& shape) {
        u32(static_cast<std::uint32_t>(shape.size()));
        for (std::uint64_t extent : shape.extents()) u64(extent);
    }
    void floats(const std::vector<float>& values) { append(values.data(), values.size() * sizeof(float)); }
    void raw(const void* data, std::size_t size) { append(data, size); }
    std::string take() { return std::move(bytes_); }

private:
    void append(const void* data, std::size_t size) {
        if (size > 0) bytes_.append(static_cast<const char*>(data), size);  // data may be null when empty
    }
    std::string bytes_;
};

bool has_weights(LayerKind kind) { return kind == LayerKind::Conv2D || kind == LayerKind::Dense; }

constexpr std::uint32_t max_layer_inputs = 8;

Layer read_layer(ByteReader& reader, const std::string& path, std::size_t index) {
    Layer layer;
    const std::uint32_t kind = reader.u32("layer kind");
    if (kind < static_cast<std::uint32_t>(LayerKind::Conv2D) || kind > static_cast<std::uint32_t>(LayerKind::Tanh))
        throw InconsistentModel(path, "layer " + std::to_string(index) + " has unknown kind " + std::to_string(kind));
    layer.kind = static_cast<LayerKind>(kind);
    const std::uint32_t input_count = reader.u32("layer input count");
    if (input_count > max_layer_inputs)
        throw InconsistentModel(path, "layer " + std::to_string(index) + " has " + std::to_string(input_count) +
                                          " inputs");
    layer.inputs.resize(input_count);
    for (auto& input : layer.inputs) input = reader.u32("layer input");
    if (layer.kind == LayerKind::Conv2D) {
        layer.in_size = reader.u32("convolution channels");
        layer.out_size = reader.u32("convolution channels");
        layer.kernel = reader.u32("convolution kernel");
        if (layer.kernel != 1 && layer.kernel != 3)
            throw InconsistentModel(path, "layer " + std::to_string(index) + " (conv2d): kernel size must be 1 or 3");
        if (layer.in_size > limits::max_channels || layer.out_size > limits::max_channels)
            throw InconsistentModel(path, "layer " + std::to_string(index) + " (conv2d) has sizes out of range");
        layer.weights = reader.floats(std::uint64_t{layer.out_size} * layer.in_size * layer.kernel * layer.kernel,
                                      "convolution weights");
        layer.bias = reader.floats(layer.out_size, "convolution bias");
    } else if (layer.kind == LayerKind::Dense) {
        layer.in_size = reader.u32("dense features");
        layer.out_size = reader.u32("dense features");
        if (layer.in_size > limits::max_features || layer.out_size > limits::max_features)
            throw InconsistentModel(path, "layer " + std::to_string(index) + " (dense) has sizes out of range");
        layer.weights = reader.floats(std::uint64_t{layer.out_size} * layer.in_size, "dense weights");
        layer.bias = reader.floats(layer.out_size, "dense bias");
    }
    return layer;
}

void write_layer(ByteWriter& writer, const Layer& layer) {
    writer.u32(static_cast<std::uint32_t>(layer.kind));
    writer.u32(static_cast<std::uint32_t>(layer.inputs.size()));
    for (std::uint32_t input : layer.inputs) writer.u32(input);
    if (layer.kind == LayerKind::Conv2D) {
        writer.u32(layer.in_size);
        writer.u32(layer.out_size);
        writer.u32(layer.kernel);
    } else if (layer.kind == LayerKind::Dense) {
        writer.u32(layer.in_size);
        writer.u32(layer.out_size);
    }
    if (has_weights(layer.kind)) {
        writer.floats(layer.weights);
        writer.floats(layer.bias);
    }
}

// Version 2's section: scheme, entry count, then per entry the layer and its
// scale. Layers ascend strictly, so none appears twice; which layers may carry
// a scale, and what it may be, is check_graph's to say.
void read_input_scales(ByteReader& reader, const std::string& path, ModelGraph& graph) {
    const std::uint32_t scheme = reader.u32("quantisation scheme");
    if (scheme != int8_conv_scheme)
        throw InconsistentModel(path, "unknown quantisation scheme " + std::to_string(scheme));
    const std::uint32_t count = reader.u32("quantised layer count");
    if (count == 0 || count > graph.layers.size())
        throw InconsistentModel(path, "quantised layer count " + std::to_string(count) + " out of range");
    std::int64_t previous = -1;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t layer = reader.u32("quantised layer");
        if (layer >= graph.layers.size() || static_cast<std::int64_t>(layer) <= previous)
            throw InconsistentModel(path, "quantised layer " + std::to_string(layer) +
                                              " does not exist or is out of order");
        previous = layer;
        float scale;
        reader.raw(&scale, sizeof scale, "input scale");
        if (scale == 0.0f) throw InconsistentModel(path, "layer " + std::to_string(layer) + " has input scale 0");
        graph.layers[layer].input_scale = scale;
    }
}

void write_input_scales(ByteWriter& writer, const ModelGraph& graph) {
    std::uint32_t count = 0;
    for (const Layer& layer : graph.layers) count += layer.input_scale != 0.0f ? 1 : 0;
    writer.u32(int8_conv_scheme);
    writer.u32(count);
    for (std::uint32_t l = 0; l < graph.layers.size(); ++l) {
        if (graph.layers[l].input_scale == 0.0f) continue;
        writer.u32(l);
        writer.raw(&graph.layers[l].input_scale, sizeof(float));
    }
}

}  // namespace

ModelGraph parse_model(std::string_view bytes, const std::string& path) {
    ByteReader reader(bytes, path);
    char magic[sizeof model_magic];
    if (bytes.size() < sizeof magic || std::memcmp(bytes.data(), model_magic, sizeof magic) != 0)
        throw BadModelMagic(path, "not a model file (wrong magic)");
    reader.raw(magic, sizeof magic, "magic");
    const std::uint32_t version = reader.u32("format version");
    if (version != model_format_version && version != quantised_model_format_version)
        throw UnsupportedModelVersion(path, "format version " + std::to_string(version) + " is not supported (this "
                                            "library reads versions " + std::to_string(model_format_version) + " and " +
                                            std::to_string(quantised_model_format_version) + ")");

    ModelGraph graph;
    const std::uint32_t input_count = reader.u32("input count");
    if (input_count == 0 || input_count > limits::max_blobs)
        throw InconsistentModel(path, "input count " + std::to_string(input_count) + " out of range");
    for (std::uint32_t i = 0; i < input_count; ++i) {
        NamedTensor input;
        input.name = reader.name("input name");
        input.tensor = i;
        input.shape = reader.shape("input shape");
        graph.inputs.push_back(std::move(input));
    }
    const std::uint32_t layer_count = reader.u32("layer count");
    if (layer_count > limits::max_layers)
        throw InconsistentModel(path, "layer count " + std::to_string(layer_count) + " out of range");
    for (std::uint32_t i = 0; i < layer_count; ++i) graph.layers.push_back(read_layer(reader, path, i));
    const std::uint32_t output_count = reader.u32("output count");
    if (output_count == 0 || output_count > limits::max_blobs)
        throw InconsistentModel(path, "output count " + std::to_string(output_count) + " out of range");
    for (std::uint32_t i = 0; i < output_count; ++i) {
        NamedTensor output;
        output.name = reader.name("output name");
        output.tensor = reader.u32("output tensor");
        output.shape = reader.shape("output shape");
        graph.outputs.push_back(std::move(output));
    }
    if (version == quantised_model_format_version) read_input_scales(reader, path, graph);
    if (reader.remaining() != 0)
        throw TrailingModelBytes(path, std::to_string(reader.remaining()) + " bytes follow the end of the model");
    check_graph(graph, path);
    return graph;
}

ModelGraph read_model_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw ModelFileUnreadable(path, "cannot be opened (missing or unreadable)");
    std::ostringstream contents;
    contents << file.rdbuf();
    if (file.bad()) throw ModelFileUnreadable(path, "read failed");
    const std::string bytes = std::move(contents).str();
    return parse_model(bytes, path);
}

std::string serialize_model(const ModelGraph& graph) {
    check_graph(graph, "<being written>");
    return serialize_model_unchecked(graph);
}

std::string serialize_model_unchecked(const ModelGraph& graph) {
    ByteWriter writer;
    writer.raw(model_magic, sizeof model_magic);
    const bool quantised = graph.quantised();
    writer.u32(quantised ? quantised_model_format_version : model_format_version);
    writer.u32(static_cast<std::uint32_t>(graph.inputs.size()));
    for (const NamedTensor& input : graph.inputs) {
        writer.name(input.name);
        writer.shape(input.shape);
    }
    writer.u32(static_cast<std::uint32_t>(graph.layers.size()));
    for (const Layer& layer : graph.layers) write_layer(writer, layer);
    writer.u32(static_cast<std::uint32_t>(graph.outputs.size()));
    for (const NamedTensor& output : graph.outputs) {
        writer.name(output.name);
        writer.u32(output.tensor);
        writer.shape(output.shape);
    }
    if (quantised) write_input_scales(writer, graph);
    return writer.take();
}

void write_model_file(const ModelGraph& graph, const std::string& path) {
    const std::string bytes = serialize_model(graph);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) throw Error("cannot write model file '" + path + "'");
}

}  // namespace qvr
