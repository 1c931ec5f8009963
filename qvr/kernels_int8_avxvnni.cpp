// Int8 kernels for AVX-VNNI (compiled with -mavx2 -mavxvnni; only called
// after the CPU was checked): the VEX form of vpdpbusd on 256-bit registers,
// for CPUs that have it without AVX-512. 32 byte products into 8 int32 sums
// per instruction, four times a 256-bit float32 FMA.
#include <immintrin.h>

#include <cstdint>

#include "qvr/int8_kernel_table.h"

namespace qvr::int8_avxvnni {
namespace {

struct Ops {
    static constexpr int width = 8;
    using Acc = __m256i;

    static Acc zero() { return _mm256_setzero_si256(); }
    static Acc weights(const std::int8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static Acc broadcast(const std::uint8_t* p) {
        std::int32_t four;
        __builtin_memcpy(&four, p, sizeof four);
        return _mm256_set1_epi32(four);
    }
    static Acc dot(Acc acc, Acc a, Acc b) { return _mm256_dpbusd_avx_epi32(acc, a, b); }
    static void store(float* out, Acc acc, const float* multipliers, const float* bias, const float* residual,
                      bool relu) {
        __m256 value = _mm256_fmadd_ps(_mm256_cvtepi32_ps(acc), _mm256_loadu_ps(multipliers), _mm256_loadu_ps(bias));
        if (residual) value = _mm256_add_ps(value, _mm256_loadu_ps(residual));
        if (relu) value = _mm256_max_ps(value, _mm256_setzero_ps());
        _mm256_storeu_ps(out, value);
    }
    static void quantise16(const float* in, float inverse_scale, std::uint8_t* out) {
        const __m256 scale = _mm256_set1_ps(inverse_scale);
        const __m256 limit = _mm256_set1_ps(static_cast<float>(int8_input_limit));
        __m256i q[2];
        for (int half = 0; half < 2; ++half) {
            const __m256 v = _mm256_mul_ps(_mm256_loadu_ps(in + 8 * half), scale);
            // Nearest even, the default rounding mode.
            q[half] = _mm256_cvtps_epi32(_mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), limit));
        }
        // packs works within 128-bit lanes: restore the order, then narrow
        // without saturating below 255 (values are 0..255 already).
        const __m256i words = _mm256_permute4x64_epi64(_mm256_packs_epi32(q[0], q[1]), 0xD8);
        const __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    }
};

// 16 ymm registers: 2 vectors x 6 cells of accumulators, 2 weight vectors and
// one broadcast; a board row of 20 cells splits 6 + 6 + 6 + 2.
constexpr int row_block(int vectors) { return vectors >= 2 ? 6 : 12; }
constexpr int kColumnVectors = 2;

}  // namespace
}  // namespace qvr::int8_avxvnni

#define QVR_INT8_NAMESPACE int8_avxvnni
#include "qvr/int8_kernels.inl"

namespace qvr {

const Int8KernelTable& int8_avxvnni_kernel_table() {
    static const Int8KernelTable table = int8_avxvnni::make_int8_table();
    return table;
}

}  // namespace qvr
