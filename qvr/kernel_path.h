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
//
// Normal use asks for `automatic`: the best path this CPU supports, int8 only
// for a quantised file, so a float32 file runs exactly as before. Tests and
// benchmarks force a path through the load option "kernels=<name>".
//
// Free functions without state: safe on any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qvr {

enum class KernelPath { automatic, reference, generic, avx2, avx512, int8_generic, int8_avxvnni, int8_avx512 };

const char* kernel_path_name(KernelPath path);
std::optional<KernelPath> parse_kernel_path(const std::string& name);

/// Whether this CPU can run `path` (automatic, reference and generic always can).
bool cpu_supports(KernelPath path);

/// Whether `path` runs convolutions in int8 (and so needs a quantised model).
bool is_int8(KernelPath path);

/// `automatic` resolved to the fastest path this CPU supports for a model that
/// is `quantised` or not; other paths unchanged.
KernelPath resolve_kernel_path(KernelPath requested, bool quantised = false);

/// Every concrete path this CPU can run on a float32 model, slowest first; for
/// a `quantised` model the int8 paths follow.
std::vector<KernelPath> supported_kernel_paths(bool quantised = false);

}  // namespace qvr
