// Int16 Winograd products for AVX2 (compiled with -mavx2 -mfma; only called
// after the CPU was checked): vpmaddwd does 16 int16 products into 8 int32
// pair sums, then vpaddd accumulates them.
#include <immintrin.h>

#include <cstdint>

#include "qvr/int16_kernel_table.h"

namespace qvr::int16_avx2 {
namespace {

struct Ops {
    static constexpr int width = 8;
    static constexpr int kRowBatch = 1;
    using Acc = __m256i;

    static Acc zero() { return _mm256_setzero_si256(); }
    static Acc weights(const std::int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static Acc pair(const std::int16_t* p) {
        std::int32_t two;
        __builtin_memcpy(&two, p, sizeof two);
        return _mm256_set1_epi32(two);
    }
    static Acc dot(Acc acc, Acc a, Acc b) { return _mm256_add_epi32(acc, _mm256_madd_epi16(a, b)); }
    static __m256 scales(float row_scale, const float* weight_scales) {
        return _mm256_mul_ps(_mm256_set1_ps(row_scale), _mm256_loadu_ps(weight_scales));
    }
    static void store(float* out, Acc acc, __m256 scale) {
        _mm256_storeu_ps(out, _mm256_mul_ps(_mm256_cvtepi32_ps(acc), scale));
    }
    static float largest_magnitude(const float* in, int count) {
        const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
        __m256 largest = _mm256_setzero_ps();
        for (int c = 0; c < count; c += 8) largest = _mm256_max_ps(largest, _mm256_and_ps(_mm256_loadu_ps(in + c), magnitude));
        __m128 half = _mm_max_ps(_mm256_castps256_ps128(largest), _mm256_extractf128_ps(largest, 1));
        half = _mm_max_ps(half, _mm_movehl_ps(half, half));
        half = _mm_max_ss(half, _mm_movehdup_ps(half));
        return _mm_cvtss_f32(half);
    }
    // Counts are multiples of 16. Round to nearest even (the default mode).
    static void quantise(const float* in, int count, float inverse, int limit, std::int16_t* out) {
        const __m256 factor = _mm256_set1_ps(inverse);
        const __m256i high = _mm256_set1_epi32(limit), low = _mm256_set1_epi32(-limit);
        for (int c = 0; c < count; c += 16) {
            __m256i first = _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_loadu_ps(in + c), factor));
            __m256i second = _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_loadu_ps(in + c + 8), factor));
            first = _mm256_max_epi32(_mm256_min_epi32(first, high), low);
            second = _mm256_max_epi32(_mm256_min_epi32(second, high), low);
            // packs works within 128-bit lanes; the permute puts the halves back in order.
            const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(first, second), 0xD8);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + c), packed);
        }
    }
};

// 16 ymm registers: 5 x 2 accumulators, 2 weight vectors, the broadcast and
// vpmaddwd's result; five rows split the 25 tiles of a 20x20 plane evenly.
constexpr int row_block(int vectors) { return vectors >= 2 ? 4 : 8; }
constexpr int kColumnVectors = 2;

}  // namespace
}  // namespace qvr::int16_avx2

#define QVR_INT16_NAMESPACE int16_avx2
#include "qvr/int16_kernels.inl"

namespace qvr {

const Int16KernelTable& int16_avx2_kernel_table() {
    static const Int16KernelTable table = int16_avx2::make_int16_table();
    return table;
}

}  // namespace qvr
