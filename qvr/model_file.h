// Reading and writing the .qvm model file (layout in qvr/FORMAT.md).
//
// Reading checks everything: magic, version, every count and size against
// the bytes that are really there, the graph's shapes and the weights'
// finiteness, and that nothing follows the model. Writing checks the graph
// the same way first, so a writer cannot produce a file the reader refuses.
//
// Free functions without shared state: safe on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "qvr/model_graph.h"

namespace qvr {

inline constexpr char model_magic[8] = {'Q', 'V', 'R', 'M', 'O', 'D', 'E', 'L'};
/// Version 1: float32 only. Version 2: version 1 + the input scales of the
/// int8 convolutions (FORMAT.md). The reader takes both; the writer
/// writes 2 exactly when the graph is quantised (ModelGraph::quantised).
inline constexpr std::uint32_t model_format_version = 1;
inline constexpr std::uint32_t quantised_model_format_version = 2;
/// The one quantisation scheme of version 2: direct 3x3 convolutions on
/// unsigned byte inputs (one scale per layer) and signed byte weights (one
/// scale per output channel, derived from the float32 weights on load).
inline constexpr std::uint32_t int8_conv_scheme = 1;

/// Parses a whole model file held in memory; `path` only names it in errors.
ModelGraph parse_model(std::string_view bytes, const std::string& path);

/// Reads and parses the file at `path`. Throws ModelLoadError kinds.
ModelGraph read_model_file(const std::string& path);

/// The file bytes for `graph`. Throws InconsistentModel / NonFiniteWeights.
std::string serialize_model(const ModelGraph& graph);

/// The file bytes for `graph` without checking it: only for tests that need
/// damaged files to feed the reader.
std::string serialize_model_unchecked(const ModelGraph& graph);

/// Writes `graph` to `path`. Throws qvr::Error when the file cannot be written.
void write_model_file(const ModelGraph& graph, const std::string& path);

}  // namespace qvr
