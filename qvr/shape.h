// Tensor shapes: an ordered list of unsigned 64-bit extents.
//
// A plain value type; any thread may use its own copies.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace qvr {

class TShape {
public:
    TShape() = default;
    TShape(std::initializer_list<std::uint64_t> extents) : extents_(extents) {}
    explicit TShape(std::vector<std::uint64_t> extents) : extents_(std::move(extents)) {}

    TShape(const TShape&) = default;
    TShape(TShape&&) noexcept = default;
    TShape& operator=(const TShape&) = default;
    TShape& operator=(TShape&&) noexcept = default;
    ~TShape() = default;

    /// Extent `axis`; the caller keeps axis < size().
    std::uint64_t& operator[](std::size_t axis) { return extents_[axis]; }
    const std::uint64_t& operator[](std::size_t axis) const { return extents_[axis]; }

    std::size_t size() const { return extents_.size(); }
    bool empty() const { return extents_.empty(); }

    /// Product of the extents (1 for an empty shape).
    std::uint64_t element_count() const;

    const std::vector<std::uint64_t>& extents() const { return extents_; }

    /// "(3, 20, 20)", for error messages.
    std::string to_string() const;

    friend bool operator==(const TShape&, const TShape&) = default;

private:
    std::vector<std::uint64_t> extents_;
};

}  // namespace qvr
