// A zero-initialised float array on a 64-byte boundary (one cache line, one
// AVX-512 register), owned by whoever holds the buffer.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace qvr {

class AlignedBuffer {
public:
    static constexpr std::size_t alignment = 64;

    AlignedBuffer() = default;
    explicit AlignedBuffer(std::size_t floats) : size_(floats) {
        const std::size_t bytes = (floats * sizeof(float) + alignment - 1) / alignment * alignment;
        // Aligned operator new rather than std::aligned_alloc, which Windows'
        // C library lacks; it throws std::bad_alloc itself.
        data_.reset(static_cast<float*>(::operator new(bytes == 0 ? alignment : bytes, std::align_val_t(alignment))));
        std::memset(data_.get(), 0, bytes == 0 ? alignment : bytes);
    }

    float* data() { return data_.get(); }
    const float* data() const { return data_.get(); }
    std::size_t size() const { return size_; }

private:
    struct Free {
        void operator()(float* memory) const { ::operator delete(memory, std::align_val_t(alignment)); }
    };
    std::unique_ptr<float, Free> data_;
    std::size_t size_ = 0;
};

}  // namespace qvr
