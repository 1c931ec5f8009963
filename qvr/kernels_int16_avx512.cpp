// Int16 Winograd products for AVX-512 VNNI (compiled with -mavx512f
// -mavx512bw -mavx512vnni; only called after the CPU was checked): one
// vpdpwssd does 32 int16 products into 16 int32 sums, twice the multiply-adds
// of a float32 FMA of the same width.
// GCC 12 flags the placeholders inside _mm512_undefined_* (used by the
// reductions and conversions) as uninitialised; clang does not know the second name.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <cstdint>

#include "qvr/int16_kernel_table.h"

namespace qvr::int16_avx512 {
namespace {

struct Int16x32 {
    using V = __m512i;
    static constexpr int width = 32;
    static V load(const std::int16_t* p) { return _mm512_loadu_si512(p); }
    static void store(std::int16_t* p, V v) { _mm512_storeu_si512(p, v); }
    static V add(V a, V b) { return _mm512_add_epi16(a, b); }
    static V sub(V a, V b) { return _mm512_sub_epi16(a, b); }
    template <int Bits>
    static V shl(V a) { return _mm512_slli_epi16(a, Bits); }
};

struct Int16x16 {
    using V = __m256i;
    static constexpr int width = 16;
    static V load(const std::int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void store(std::int16_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    static V add(V a, V b) { return _mm256_add_epi16(a, b); }
    static V sub(V a, V b) { return _mm256_sub_epi16(a, b); }
    template <int Bits>
    static V shl(V a) { return _mm256_slli_epi16(a, Bits); }
};

struct Sums32x16 {
    using I = __m512i;
    using F = __m512;
    static constexpr int width = 16;
    static I load(const std::int32_t* p) { return _mm512_loadu_si512(p); }
    static I add(I a, I b) { return _mm512_add_epi32(a, b); }
    static I sub(I a, I b) { return _mm512_sub_epi32(a, b); }
    template <int Bits>
    static I shl(I a) { return _mm512_slli_epi32(a, Bits); }
    static F scale(I value, F scale, F bias) { return _mm512_fmadd_ps(_mm512_cvtepi32_ps(value), scale, bias); }
    static F loadf(const float* p) { return _mm512_loadu_ps(p); }
    static void storef(float* p, F v) { _mm512_storeu_ps(p, v); }
    static F addf(F a, F b) { return _mm512_add_ps(a, b); }
    static F maxf(F a, F b) { return _mm512_max_ps(a, b); }
    static F zero() { return _mm512_setzero_ps(); }
    static float reduce_max(F v) { return _mm512_reduce_max_ps(v); }
};

struct Ops {
    using Wide = Int16x32;
    using Sums = Sums32x16;
    using Narrow = Int16x16;
    static constexpr int width = 16;
    static constexpr int kRowBatch = 16;
    using Acc = __m512i;

    static Acc zero() { return _mm512_setzero_si512(); }
    static Acc weights(const std::int16_t* p) { return _mm512_loadu_si512(p); }
    static Acc pair(const std::int16_t* p) {
        std::int32_t two;
        __builtin_memcpy(&two, p, sizeof two);
        return _mm512_set1_epi32(two);
    }
    // In place through asm: with the intrinsic, GCC 12 copied every
    // accumulator once per step (measured: a third of the product's time).
    static Acc dot(Acc acc, Acc a, Acc b) {
#if defined(__GNUC__)
        __asm__("vpdpwssd %2, %1, %0" : "+v"(acc) : "v"(a), "v"(b));
        return acc;
#else
        return _mm512_dpwssd_epi32(acc, a, b);
#endif
    }
    // For the int32 sums the other way round: there the asm made GCC 12 copy
    // ten of the fifteen accumulators through one register at every step,
    // and the intrinsic copies none (measured: int16i-avx512 4% faster; the
    // float-scaled products 10% slower with it).
    static Acc dot_sums(Acc acc, Acc a, Acc b) { return _mm512_dpwssd_epi32(acc, a, b); }
    static __m512 scales(float row_scale, const float* weight_scales) {
        return _mm512_mul_ps(_mm512_set1_ps(row_scale), _mm512_loadu_ps(weight_scales));
    }
    static void store(float* out, Acc acc, __m512 scale) {
        _mm512_storeu_ps(out, _mm512_mul_ps(_mm512_cvtepi32_ps(acc), scale));
    }
    static void store_sums(std::int32_t* out, Acc acc) { _mm512_storeu_si512(out, acc); }
    static float largest_magnitude(const float* in, int count) {
        __m512 largest = _mm512_setzero_ps();
        for (int c = 0; c < count; c += 16) largest = _mm512_max_ps(largest, _mm512_abs_ps(_mm512_loadu_ps(in + c)));
        return _mm512_reduce_max_ps(largest);
    }
    // Lane l of the result: the largest magnitude of row l of the 16. A
    // transpose: each step halves the vectors, folding 128-bit blocks, then
    // lanes, so that lane l ends up holding row 4 (l % 4) + l / 4, which one
    // permute puts in order.
    static __m512 largest_magnitudes(const float* rows, int count) {
        __m512 m[16];
        for (int r = 0; r < 16; ++r) {
            const float* in = rows + static_cast<long>(r) * count;
            __m512 largest = _mm512_abs_ps(_mm512_loadu_ps(in));
            for (int c = 16; c < count; c += 16) largest = _mm512_max_ps(largest, _mm512_abs_ps(_mm512_loadu_ps(in + c)));
            m[r] = largest;
        }
        __m512 n[8];
        for (int i = 0; i < 8; ++i)
            n[i] = _mm512_max_ps(_mm512_shuffle_f32x4(m[2 * i], m[2 * i + 1], 0x44),
                                 _mm512_shuffle_f32x4(m[2 * i], m[2 * i + 1], 0xEE));
        __m512 p[4];  // p[i]'s block k: row 4 i + k
        for (int i = 0; i < 4; ++i)
            p[i] = _mm512_max_ps(_mm512_shuffle_f32x4(n[2 * i], n[2 * i + 1], 0x88),
                                 _mm512_shuffle_f32x4(n[2 * i], n[2 * i + 1], 0xDD));
        const __m512 u = _mm512_max_ps(_mm512_unpacklo_ps(p[0], p[1]), _mm512_unpackhi_ps(p[0], p[1]));
        const __m512 v = _mm512_max_ps(_mm512_unpacklo_ps(p[2], p[3]), _mm512_unpackhi_ps(p[2], p[3]));
        const __m512 folded = _mm512_max_ps(
            _mm512_castpd_ps(_mm512_unpacklo_pd(_mm512_castps_pd(u), _mm512_castps_pd(v))),
            _mm512_castpd_ps(_mm512_unpackhi_pd(_mm512_castps_pd(u), _mm512_castps_pd(v))));
        const __m512i order = _mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
        return _mm512_permutexvar_ps(order, folded);
    }
    // 16 rows, back to back in `rows`, each rounded as round_tensor does a
    // tensor (two vectors at a time: vpackssdw and one permute narrow two;
    // vpmovdw, one at a time, measured slower). No clamp: |x| <= largest
    // makes |x x limit / largest| at most limit plus a rounding, below
    // limit + 0.5.
    static void quantise_batch(const float* rows, int count, int limit, std::int16_t* out, long out_stride,
                               float* row_scales, long scale_stride) {
        const __m512 largest = largest_magnitudes(rows, count);
        const __m512 limit_vector = _mm512_set1_ps(static_cast<float>(limit));
        const __mmask16 nonzero = _mm512_cmp_ps_mask(largest, _mm512_setzero_ps(), _CMP_NEQ_OQ);
        float inverse[16], scales[16];
        _mm512_storeu_ps(inverse, _mm512_maskz_div_ps(nonzero, limit_vector, largest));
        _mm512_storeu_ps(scales, _mm512_div_ps(largest, limit_vector));
        for (int r = 0; r < 16; ++r) {
            row_scales[r * scale_stride] = scales[r];
            round_tensor(rows + static_cast<long>(r) * count, count, inverse[r], out + r * out_stride);
        }
    }
    // Four chains, so that the loop waits on loads rather than on vminps/vmaxps latency.
    static void range(const float* source, long count, float* lowest, float* highest) {
        __m512 low[4], high[4];
        for (int j = 0; j < 4; ++j) low[j] = high[j] = _mm512_loadu_ps(source);
        long i = 0;
        for (; i + 64 <= count; i += 64)
            for (int j = 0; j < 4; ++j) {
                const __m512 value = _mm512_loadu_ps(source + i + 16 * j);
                low[j] = _mm512_min_ps(low[j], value);
                high[j] = _mm512_max_ps(high[j], value);
            }
        for (; i < count; i += 16) {
            const __m512 value = _mm512_loadu_ps(source + i);
            low[0] = _mm512_min_ps(low[0], value);
            high[0] = _mm512_max_ps(high[0], value);
        }
        *lowest = _mm512_reduce_min_ps(_mm512_min_ps(_mm512_min_ps(low[0], low[1]), _mm512_min_ps(low[2], low[3])));
        *highest = _mm512_reduce_max_ps(_mm512_max_ps(_mm512_max_ps(high[0], high[1]), _mm512_max_ps(high[2], high[3])));
    }
    // vpackssdw saturates (a NaN converts to INT_MIN, then -32768); so does
    // vpmovsdw for a last 16.
    static void round_tensor(const float* source, long count, float factor, std::int16_t* rounded) {
        const __m512 f = _mm512_set1_ps(factor);
        const __m512i order = _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7);
        long i = 0;
        for (; i + 32 <= count; i += 32) {
            const __m512i first = _mm512_cvtps_epi32(_mm512_mul_ps(_mm512_loadu_ps(source + i), f));
            const __m512i second = _mm512_cvtps_epi32(_mm512_mul_ps(_mm512_loadu_ps(source + i + 16), f));
            _mm512_storeu_si512(rounded + i, _mm512_permutexvar_epi64(order, _mm512_packs_epi32(first, second)));
        }
        if (i < count)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(rounded + i),
                                _mm512_cvtsepi32_epi16(_mm512_cvtps_epi32(_mm512_mul_ps(_mm512_loadu_ps(source + i), f))));
    }
    // One row; counts are multiples of 16. Round to nearest even (the default mode).
    static void quantise(const float* in, int count, float inverse, int limit, std::int16_t* out) {
        const __m512 factor = _mm512_set1_ps(inverse);
        const __m512i high = _mm512_set1_epi32(limit), low = _mm512_set1_epi32(-limit);
        for (int c = 0; c < count; c += 16) {
            __m512i value = _mm512_cvtps_epi32(_mm512_mul_ps(_mm512_loadu_ps(in + c), factor));
            value = _mm512_max_epi32(_mm512_min_epi32(value, high), low);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + c), _mm512_cvtepi32_epi16(value));
        }
    }
};

// 32 zmm registers: rows x vectors accumulators, the weight vectors and one
// broadcast; five rows split the 25 tiles of a 20x20 plane evenly.
constexpr int row_block(int vectors) { return vectors >= 3 ? 5 : vectors == 2 ? 9 : 13; }
constexpr int kColumnVectors = 4;

}  // namespace
}  // namespace qvr::int16_avx512

#define QVR_INT16_NAMESPACE int16_avx512
#include "qvr/int16_kernels.inl"

namespace qvr {

const Int16KernelTable& int16_avx512_kernel_table() {
    static const Int16KernelTable table = int16_avx512::make_int16_table();
    return table;
}

}  // namespace qvr
