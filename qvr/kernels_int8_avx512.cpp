// Int8 kernels for AVX-512 VNNI (compiled with -mavx512f -mavx512bw
// -mavx512vnni; only called after the CPU was checked): one vpdpbusd does 64
// unsigned x signed byte products into 16 int32 sums, four times the
// multiply-adds of a float32 FMA of the same width.
// GCC 12 flags the placeholders inside _mm512_undefined_* (used by the
// conversions and max) as uninitialised; clang does not know the second name.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <cstdint>

#include "qvr/int8_kernel_table.h"

namespace qvr::int8_avx512 {
namespace {

struct Ops {
    static constexpr int width = 16;
    using Acc = __m512i;

    static Acc zero() { return _mm512_setzero_si512(); }
    static Acc weights(const std::int8_t* p) { return _mm512_loadu_si512(p); }
    static Acc broadcast(const std::uint8_t* p) {
        std::int32_t four;
        __builtin_memcpy(&four, p, sizeof four);
        return _mm512_set1_epi32(four);
    }
    static Acc dot(Acc acc, Acc a, Acc b) { return _mm512_dpbusd_epi32(acc, a, b); }
    static void store(float* out, Acc acc, const float* multipliers, const float* bias, const float* residual,
                      bool relu) {
        __m512 value = _mm512_fmadd_ps(_mm512_cvtepi32_ps(acc), _mm512_loadu_ps(multipliers), _mm512_loadu_ps(bias));
        if (residual) value = _mm512_add_ps(value, _mm512_loadu_ps(residual));
        if (relu) value = _mm512_max_ps(value, _mm512_setzero_ps());
        _mm512_storeu_ps(out, value);
    }
    static void quantise16(const float* in, float inverse_scale, std::uint8_t* out) {
        __m512 v = _mm512_mul_ps(_mm512_loadu_ps(in), _mm512_set1_ps(inverse_scale));
        v = _mm512_min_ps(_mm512_max_ps(v, _mm512_setzero_ps()), _mm512_set1_ps(static_cast<float>(int8_input_limit)));
        // Round to nearest even (the default rounding mode), then narrow to bytes.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm512_cvtepi32_epi8(_mm512_cvtps_epi32(v)));
    }
};

// 32 zmm registers: rows x vectors accumulators + the weight vectors + one
// broadcast; a board row of 20 cells splits into blocks of 5, 7 (7 + 7 + 6)
// or 10 for 4, 3 or 2 vectors.
constexpr int row_block(int vectors) { return vectors >= 4 ? 5 : vectors == 3 ? 7 : vectors == 2 ? 10 : 20; }
constexpr int kColumnVectors = 4;

}  // namespace
}  // namespace qvr::int8_avx512

#define QVR_INT8_NAMESPACE int8_avx512
#include "qvr/int8_kernels.inl"

namespace qvr {

const Int8KernelTable& int8_avx512_kernel_table() {
    static const Int8KernelTable table = int8_avx512::make_int8_table();
    return table;
}

}  // namespace qvr
