// Which implementation runs a loaded model.
//
//   reference  the direct interpreter (reference_runner.cpp), any CPU
//   generic    Winograd fast runner on plain C++ kernels, any CPU
//   avx2       fast runner on AVX2+FMA kernels
//   avx512     fast runner on AVX-512F kernels
//   int8-generic, int8-avxvnni, int8-avx512
//              the same, with the quantised 3x3 convolutions in int8
//              (int8_kernel_table.h): plain C++, AVX-VNNI (256-bit, beside the
//              AVX2 float32 kernels), AVX-512 VNNI. Only for a
//              quantised model file (format version 2), whose scales were
//              calibrated and checked for accuracy when it was written.
//   int16-generic, int16-avx2, int16-avxvnni, int16-avx512
//              the fast runner with the Winograd products in int16
//              (int16_kernel_table.h): plain C++, AVX2, AVX-VNNI (256-bit,
//              beside the AVX2 float32 kernels), AVX-512 VNNI. Any model
//              file; scales are found at load and run time.
//   int16i-generic, int16i-avx2, int16i-avxvnni, int16i-avx512
//              the same products after an integer input transform: the
//              input rounded with one scale per tensor, transformed exactly
//              in int16 (int16_kernel_table.h). Forced only: faster, less
//              exact, not measured stronger at equal time (qvr/README.md).
//
// Normal use asks for `automatic`: the fastest path this CPU supports, int8
// only for a quantised file, int16 (never int16i) only where the network
// passes a load-time check against float32. Tests and benchmarks force a path through the load
// option "kernels=<name>".
//
// Free functions without state: safe on any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qvr {

enum class KernelPath {
    automatic,
    reference,
    generic,
    avx2,
    avx512,
    int8_generic,
    int8_avxvnni,
    int8_avx512,
    int16_generic,
    int16_avx2,
    int16_avxvnni,
    int16_avx512,
    int16i_generic,
    int16i_avx2,
    int16i_avxvnni,
    int16i_avx512,
};

const char* kernel_path_name(KernelPath path);
std::optional<KernelPath> parse_kernel_path(const std::string& name);

/// Whether this CPU can run `path` (automatic, reference and generic always can).
bool cpu_supports(KernelPath path);

/// Whether `path` runs convolutions in int8 (and so needs a quantised model).
bool is_int8(KernelPath path);

/// Whether `path` runs the Winograd products in int16 (int16i included).
bool is_int16(KernelPath path);

/// Whether `path` does the Winograd input transform in int16 (int16i).
bool is_integer_transform(KernelPath path);

/// Whether `path` gives up float32 accuracy (int8 or int16).
inline bool is_low_precision(KernelPath path) { return is_int8(path) || is_int16(path); }

/// `automatic` resolved to the fastest path this CPU supports for a model that
/// is `quantised` or not; other paths unchanged. An int16 answer is the
/// loader's first choice: it keeps it only if the network passes the check of
/// precision_check.h, and falls back to float32_counterpart() otherwise.
KernelPath resolve_kernel_path(KernelPath requested, bool quantised = false);

/// The float32 path of the same instruction set as an int16 `path`; any
/// other path unchanged.
KernelPath float32_counterpart(KernelPath path);

/// Every concrete path this CPU can run on a float32 model: the float32 ones
/// slowest first, then the int16 ones; for a `quantised` model the int8 paths
/// follow.
std::vector<KernelPath> supported_kernel_paths(bool quantised = false);

}  // namespace qvr
