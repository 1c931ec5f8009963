#include "qvr/blob.h"

#include <utility>

namespace qvr {

const char* value_type_name(ValueType type) {
    switch (type) {
        case Undefined: return "undefined";
        case Int8: return "int8";
        case UInt8: return "uint8";
        case Int16: return "int16";
        case Int32: return "int32";
        case Int64: return "int64";
        case Float16: return "float16";
        case Float32: return "float32";
        case Float64: return "float64";
    }
    return "unknown";
}

TBlob::TBlob(ValueType type, std::string name, TShape shape, const void* data)
    : type_(type), name_(std::move(name)), shape_(std::move(shape)), data_(data) {}

TBlob::TBlob(ValueType type, std::string name, TShape shape, std::shared_ptr<const void> storage)
    : type_(type),
      name_(std::move(name)),
      shape_(std::move(shape)),
      data_(storage.get()),
      storage_(std::move(storage)) {}

}  // namespace qvr
