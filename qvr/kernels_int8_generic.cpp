// Int8 kernels in plain C++ for any CPU: eight int32 "lanes", each holding
// four bytes like one lane of vpdpbusd. Also the yardstick the instruction-set
// kernels are tested against: the sums are exact, so theirs must equal them.
#include <cstdint>

#include "qvr/int8_kernel_table.h"

namespace qvr::int8_generic {
namespace {

struct Ops {
    static constexpr int width = 8;
    struct Acc {
        std::int32_t lane[width];
    };

    static Acc zero() { return Acc{}; }
    static Acc weights(const std::int8_t* p) {
        Acc a;
        __builtin_memcpy(a.lane, p, sizeof a.lane);
        return a;
    }
    static Acc broadcast(const std::uint8_t* p) {
        Acc a;
        std::int32_t four;
        __builtin_memcpy(&four, p, sizeof four);
        for (std::int32_t& lane : a.lane) lane = four;
        return a;
    }
    static Acc dot(Acc acc, const Acc& a, const Acc& b) {
        for (int l = 0; l < width; ++l) {
            std::uint8_t a_bytes[4];
            std::int8_t b_bytes[4];
            __builtin_memcpy(a_bytes, &a.lane[l], 4);
            __builtin_memcpy(b_bytes, &b.lane[l], 4);
            for (int i = 0; i < 4; ++i) acc.lane[l] += a_bytes[i] * b_bytes[i];
        }
        return acc;
    }
    static void store(float* out, const Acc& acc, const float* multipliers, const float* bias, const float* residual,
                      bool relu) {
        for (int l = 0; l < width; ++l) {
            float value = static_cast<float>(acc.lane[l]) * multipliers[l] + bias[l];
            if (residual) value += residual[l];
            if (relu && value < 0.0f) value = 0.0f;
            out[l] = value;
        }
    }
    static void quantise16(const float* in, float inverse_scale, std::uint8_t* out) {
        for (int i = 0; i < 16; ++i) {
            float v = in[i] * inverse_scale;
            // Clamped before the conversion, which is undefined out of range
            // (NaN, never produced from finite weights, would become 0).
            v = v > 0.0f ? v : 0.0f;
            v = v < int8_input_limit ? v : int8_input_limit;
            out[i] = static_cast<std::uint8_t>(__builtin_nearbyintf(v));
        }
    }
};

constexpr int row_block(int) { return 4; }
constexpr int kColumnVectors = 2;

}  // namespace
}  // namespace qvr::int8_generic

#define QVR_INT8_NAMESPACE int8_generic
#include "qvr/int8_kernels.inl"

namespace qvr {

const Int8KernelTable& int8_generic_kernel_table() {
    static const Int8KernelTable table = int8_generic::make_int8_table();
    return table;
}

}  // namespace qvr
