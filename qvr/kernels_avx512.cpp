// Kernels for AVX-512F (compiled with -mavx512f -mfma; only called after the
// CPU was checked).
// GCC 12 flags the self-initialised placeholder inside _mm512_undefined_ps()
// (used by _mm512_max_ps and the reductions) as maybe-uninitialized.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include "qvr/kernel_table.h"

namespace qvr::avx512_simd {
namespace {

struct Vec {
    static constexpr int width = 16;
    __m512 v;

    static Vec zero() { return {_mm512_setzero_ps()}; }
    static Vec broadcast(float value) { return {_mm512_set1_ps(value)}; }
    static Vec load(const float* p) { return {_mm512_loadu_ps(p)}; }
    static void store(float* p, const Vec& a) { _mm512_storeu_ps(p, a.v); }
    static Vec add(const Vec& a, const Vec& b) { return {_mm512_add_ps(a.v, b.v)}; }
    static Vec sub(const Vec& a, const Vec& b) { return {_mm512_sub_ps(a.v, b.v)}; }
    static Vec mul(const Vec& a, const Vec& b) { return {_mm512_mul_ps(a.v, b.v)}; }
    static Vec fmadd(const Vec& a, const Vec& b, const Vec& c) { return {_mm512_fmadd_ps(a.v, b.v, c.v)}; }
    static Vec max(const Vec& a, const Vec& b) { return {_mm512_max_ps(a.v, b.v)}; }
    static float reduce_add(const Vec& a) { return _mm512_reduce_add_ps(a.v); }
};

// 32 zmm registers: rows x vectors accumulators + the weight vectors + one
// broadcast. Four vectors cover 64 output channels and five rows split the 25
// tiles of a 20x20 plane evenly; narrower blocks (32 or 48 channels) go taller.
constexpr int row_block(int vectors) { return vectors >= 4 ? 5 : vectors == 3 ? 8 : vectors == 2 ? 13 : 24; }
constexpr int kPrefetchLocality = 2;  // into L2
constexpr int kColumnVectors = 4;

}  // namespace
}  // namespace qvr::avx512_simd

#define QVR_SIMD_NAMESPACE avx512_simd
#include "qvr/simd_kernels.inl"

namespace qvr {

const KernelTable& avx512_kernel_table() {
    static const KernelTable table = avx512_simd::make_table();
    return table;
}

}  // namespace qvr
