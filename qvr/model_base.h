// The inference library's model object: load a .qvm model file, ask it for its
// blob names and shapes, and run batches through it. It knows nothing of the
// game; names, shapes and layers all come from the file.
//
// Ownership: the caller owns the ModelBase; the ModelBase owns the loaded
// network and its scratch memory. Output blobs share ownership of their own
// storage and stay valid after the model is gone.
//
// Thread rules: not safe for concurrent use. One thread at a time may call
// any member; different ModelBase objects are independent.
//
// Failures: LoadModelFromFile throws ModelLoadError kinds (qvr/errors.h) and
// BadOption, leaving a previously loaded model in place. The other members
// throw UsageError on calls that do not fit the loaded model.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "qvr/blob.h"
#include "qvr/errors.h"
#include "qvr/kernel_path.h"
#include "qvr/shape.h"

namespace qvr {

class ModelBase {
public:
    /// `name` labels the model (kept, not interpreted). `reserved` is kept for
    /// callers that pass a second configuration string; it is not used.
    ModelBase(const std::string& name, const std::string& reserved);
    virtual ~ModelBase();

    ModelBase(const ModelBase&) = delete;
    ModelBase& operator=(const ModelBase&) = delete;

    /// Loads the model at `path`. `options` is a list of key=value items
    /// separated by commas, semicolons or spaces:
    ///   gpu_id=N      accepted for compatibility; everything runs on the CPU
    ///   kernels=NAME  force auto|reference|generic|avx2|avx512|int8-generic|int8-avx512
    ///                 (tests, benchmarks; int8 needs a quantised file)
    void LoadModelFromFile(const std::string& path, const std::string& options);

    std::vector<std::string> ListInputBlobNames() const;
    std::vector<std::string> ListOutputBlobNames() const;

    /// Per-sample shape of input `name`, without the batch extent.
    TShape GetInputBlobShape(const std::string& name) const;

    /// Runs one batch. `inputs` holds one float32 blob per model input, matched
    /// by name, each shaped (batch, per-sample shape...) with the same batch.
    /// Inputs that no layer reads may be left out.
    /// `outputs` is cleared and receives one blob per model output in the
    /// model's order, each shaped (batch, per-sample shape...).
    void InferBatch(const std::vector<TBlob>& inputs, std::vector<TBlob>& outputs);

    const std::string& name() const { return name_; }

    /// The path that runs the loaded model (never `automatic`).
    KernelPath kernel_path() const;

private:
    struct Loaded;

    const Loaded& loaded() const;

    std::string name_;
    std::string reserved_;
    std::unique_ptr<Loaded> loaded_;
};

}  // namespace qvr
