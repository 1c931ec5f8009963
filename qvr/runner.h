// Executes a checked ModelGraph. Two kinds stand behind this interface: the
// reference runner (a direct, layer-by-layer interpreter that other runners
// are checked against and that runs on any CPU) and the fast runner (Winograd
// convolutions on SIMD kernels, see fast_runner.h).
//
// Thread rules: a runner keeps scratch buffers, so one thread at a time.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "qvr/int16_weights.h"
#include "qvr/model_graph.h"

namespace qvr {

class Runner {
public:
    virtual ~Runner() = default;

    /// Runs `batch` samples. inputs[i] holds batch samples of model input i,
    /// each laid out row-major in its per-sample shape (null for an input that
    /// no layer reads); outputs[o] receives
    /// batch samples of model output o the same way. The caller sized and
    /// checked everything.
    virtual void run(std::size_t batch, const std::vector<const float*>& inputs,
                     const std::vector<float*>& outputs) = 0;
};

struct KernelTable;
struct Int8KernelTable;
struct Int16KernelTable;

/// `shapes` is what check_graph returned for `graph`.
std::unique_ptr<Runner> make_reference_runner(ModelGraph graph, std::vector<TShape> shapes);

/// The Winograd runner on `kernels` (which must outlive it); copies what it
/// needs from `graph`. With `int8` (null or outliving it), the 3x3
/// convolutions that carry an input scale run in int8 on those kernels. With
/// `int16` (the same), the other 3x3 convolutions' Winograd products run in
/// int16, on rows rounded after a float32 input transform or, with
/// `int16_input` integer_transform, after an integer one.
std::unique_ptr<Runner> make_fast_runner(const ModelGraph& graph, const std::vector<TShape>& shapes,
                                         const KernelTable& kernels, const Int8KernelTable* int8 = nullptr,
                                         const Int16KernelTable* int16 = nullptr,
                                         Int16Input int16_input = Int16Input::rounded_rows);

}  // namespace qvr
