// Bounds a model must stay within. They keep a damaged file from asking for
// absurd allocations; real networks for board games sit far below them.
#pragma once

#include <cstdint>

namespace qvr::limits {

inline constexpr std::uint32_t max_name_bytes = 256;
inline constexpr std::uint32_t max_blobs = 64;
inline constexpr std::uint32_t max_rank = 4;
inline constexpr std::uint64_t max_extent = 1u << 16;
inline constexpr std::uint64_t max_tensor_elements = 1u << 24;
inline constexpr std::uint32_t max_layers = 1u << 16;
inline constexpr std::uint32_t max_channels = 1u << 12;
inline constexpr std::uint32_t max_features = 1u << 20;
inline constexpr std::uint64_t max_layer_weights = 1u << 26;
inline constexpr std::uint64_t max_batch = 1u << 16;
inline constexpr std::uint64_t max_batch_floats = 1u << 28;  // 1 GiB of outputs per call

}  // namespace qvr::limits
