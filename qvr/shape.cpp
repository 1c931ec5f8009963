#include "qvr/shape.h"

namespace qvr {

std::uint64_t TShape::element_count() const {
    std::uint64_t count = 1;
    for (std::uint64_t extent : extents_) count *= extent;
    return count;
}

std::string TShape::to_string() const {
    std::string text = "(";
    for (std::size_t axis = 0; axis < extents_.size(); ++axis) {
        if (axis > 0) text += ", ";
        text += std::to_string(extents_[axis]);
    }
    return text + ")";
}

}  // namespace qvr
