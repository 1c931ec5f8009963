// Kernels for AVX2 + FMA (compiled with -mavx2 -mfma; only called after the
// CPU was checked for both).
#include <immintrin.h>

#include "qvr/kernel_table.h"

namespace qvr::avx2_simd {
namespace {

struct Vec {
    static constexpr int width = 8;
    __m256 v;

    static Vec zero() { return {_mm256_setzero_ps()}; }
    static Vec broadcast(float value) { return {_mm256_set1_ps(value)}; }
    static Vec load(const float* p) { return {_mm256_loadu_ps(p)}; }
    static void store(float* p, const Vec& a) { _mm256_storeu_ps(p, a.v); }
    static Vec add(const Vec& a, const Vec& b) { return {_mm256_add_ps(a.v, b.v)}; }
    static Vec sub(const Vec& a, const Vec& b) { return {_mm256_sub_ps(a.v, b.v)}; }
    static Vec mul(const Vec& a, const Vec& b) { return {_mm256_mul_ps(a.v, b.v)}; }
    static Vec fmadd(const Vec& a, const Vec& b, const Vec& c) { return {_mm256_fmadd_ps(a.v, b.v, c.v)}; }
    static Vec max(const Vec& a, const Vec& b) { return {_mm256_max_ps(a.v, b.v)}; }
    static float reduce_add(const Vec& a) {
        __m128 sum = _mm_add_ps(_mm256_castps256_ps128(a.v), _mm256_extractf128_ps(a.v, 1));
        sum = _mm_add_ps(sum, _mm_movehl_ps(sum, sum));
        sum = _mm_add_ss(sum, _mm_movehdup_ps(sum));
        return _mm_cvtss_f32(sum);
    }
};

// 16 ymm registers: 6 x 2 accumulators + 2 weight vectors + 1 broadcast;
// one vector goes taller. Six rows measured a little faster than five here
// (the product runs at the FMA ports' limit either way).
constexpr int row_block(int vectors) { return vectors >= 2 ? 6 : 12; }
constexpr int kPrefetchLocality = 2;  // into L2
constexpr int kColumnVectors = 2;

}  // namespace
}  // namespace qvr::avx2_simd

#define QVR_SIMD_NAMESPACE avx2_simd
#include "qvr/simd_kernels.inl"

namespace qvr {

const KernelTable& avx2_kernel_table() {
    static const KernelTable table = avx2_simd::make_table();
    return table;
}

}  // namespace qvr
