// A zero-initialised float array on a 64-byte boundary (one cache line, one
// AVX-512 register), owned by whoever holds the buffer.
#pragma once

#include <cstddef>
#include <cstdlib>
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
        data_.reset(static_cast<float*>(std::aligned_alloc(alignment, bytes == 0 ? alignment : bytes)));
        if (!data_) throw std::bad_alloc();
        std::memset(data_.get(), 0, bytes == 0 ? alignment : bytes);
    }

    float* data() { return data_.get(); }
    const float* data() const { return data_.get(); }
    std::size_t size() const { return size_; }

private:
    struct Free {
        void operator()(float* memory) const { std::free(memory); }
    };
    std::unique_ptr<float, Free> data_;
    std::size_t size_ = 0;
};

}  // namespace qvr
