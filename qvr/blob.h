// Named tensors passed into and out of a model.
//
// An input blob only points at the caller's data: the caller keeps it alive and
// unchanged for the whole InferBatch call. An output blob shares ownership of
// the storage the library allocated for it, so every copy of it keeps the data
// alive for as long as the copy lives.
//
// A plain value type; copies may be used on any thread, one thread per copy.
#pragma once

#include <memory>
#include <string>

#include "qvr/shape.h"

namespace qvr {

/// Element types. Only Float32 is computed with; the other values exist so a
/// blob can say what it holds and be refused with a clear message.
enum ValueType : int {
    Undefined = 0,
    Int8 = 1,
    UInt8 = 2,
    Int16 = 3,
    Int32 = 4,
    Int64 = 5,
    Float16 = 6,
    Float32 = 7,
    Float64 = 8,
};

const char* value_type_name(ValueType type);

class TBlob {
public:
    TBlob() = default;
    /// A blob over data that someone else owns (the caller's input).
    TBlob(ValueType type, std::string name, TShape shape, const void* data);
    /// A blob that shares ownership of its storage (the library's outputs).
    TBlob(ValueType type, std::string name, TShape shape, std::shared_ptr<const void> storage);

    ValueType type() const { return type_; }
    const std::string& name() const { return name_; }
    const TShape& shape() const { return shape_; }

    /// First element; elements lie contiguous in row-major order of shape().
    const void* __Data() const { return data_; }

private:
    ValueType type_ = Undefined;
    std::string name_;
    TShape shape_;
    const void* data_ = nullptr;
    std::shared_ptr<const void> storage_;  // empty for blobs over caller data
};

}  // namespace qvr
