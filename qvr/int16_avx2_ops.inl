// The 256-bit int16 operations shared by the AVX2 and AVX-VNNI tables. Each
// includer defines QVR_INT16_NAMESPACE (a namespace of its own, as for
// int16_kernels.inl) and QVR_INT16_AVXVNNI (1: accumulate with the VEX
// vpdpwssd of AVX-VNNI; 0: vpmaddwd then vpaddd), then includes this file,
// which includes int16_kernels.inl after it.
#include <immintrin.h>

#include <cstdint>

namespace qvr::QVR_INT16_NAMESPACE {
namespace {

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

struct Sums32x8 {
    using I = __m256i;
    using F = __m256;
    static constexpr int width = 8;
    static I load(const std::int32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static I add(I a, I b) { return _mm256_add_epi32(a, b); }
    static I sub(I a, I b) { return _mm256_sub_epi32(a, b); }
    template <int Bits>
    static I shl(I a) { return _mm256_slli_epi32(a, Bits); }
    static F scale(I value, F scale, F bias) { return _mm256_fmadd_ps(_mm256_cvtepi32_ps(value), scale, bias); }
    static F loadf(const float* p) { return _mm256_loadu_ps(p); }
    static void storef(float* p, F v) { _mm256_storeu_ps(p, v); }
    static F addf(F a, F b) { return _mm256_add_ps(a, b); }
    static F maxf(F a, F b) { return _mm256_max_ps(a, b); }
    static F zero() { return _mm256_setzero_ps(); }
    static float reduce_max(F v) {
        const __m128 half = _mm_max_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
        const __m128 quarter = _mm_max_ps(half, _mm_movehl_ps(half, half));
        return _mm_cvtss_f32(_mm_max_ss(quarter, _mm_shuffle_ps(quarter, quarter, 1)));
    }
};

struct Ops {
    using Wide = Int16x16;
    using Sums = Sums32x8;
    using Narrow = Int16x16;
    static constexpr int width = 8;
    static constexpr int kRowBatch = 8;
    using Acc = __m256i;

    static Acc zero() { return _mm256_setzero_si256(); }
    static Acc weights(const std::int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static Acc pair(const std::int16_t* p) {
        std::int32_t two;
        __builtin_memcpy(&two, p, sizeof two);
        return _mm256_set1_epi32(two);
    }
#if QVR_INT16_AVXVNNI
    // In place through asm, as on AVX-512: the intrinsic lets GCC 12 copy the
    // accumulators. {vex}: the EVEX form would need AVX-512VL.
    static Acc dot(Acc acc, Acc a, Acc b) {
#if defined(__GNUC__)
        __asm__("%{vex%} vpdpwssd %2, %1, %0" : "+x"(acc) : "x"(a), "x"(b));
        return acc;
#else
        return _mm256_dpwssd_avx_epi32(acc, a, b);
#endif
    }
#else
    static Acc dot(Acc acc, Acc a, Acc b) { return _mm256_add_epi32(acc, _mm256_madd_epi16(a, b)); }
#endif
    static Acc dot_sums(Acc acc, Acc a, Acc b) { return dot(acc, a, b); }
    static __m256 scales(float row_scale, const float* weight_scales) {
        return _mm256_mul_ps(_mm256_set1_ps(row_scale), _mm256_loadu_ps(weight_scales));
    }
    static void store(float* out, Acc acc, __m256 scale) {
        _mm256_storeu_ps(out, _mm256_mul_ps(_mm256_cvtepi32_ps(acc), scale));
    }
    static void store_sums(std::int32_t* out, Acc acc) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), acc); }
    static float largest_magnitude(const float* in, int count) {
        const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
        __m256 largest = _mm256_setzero_ps();
        for (int c = 0; c < count; c += 8) largest = _mm256_max_ps(largest, _mm256_and_ps(_mm256_loadu_ps(in + c), magnitude));
        __m128 half = _mm_max_ps(_mm256_castps256_ps128(largest), _mm256_extractf128_ps(largest, 1));
        half = _mm_max_ps(half, _mm_movehl_ps(half, half));
        half = _mm_max_ss(half, _mm_movehdup_ps(half));
        return _mm_cvtss_f32(half);
    }
    // Lane l of the result: the largest magnitude of row l of the 8. A
    // transpose that folds as it goes: pairs of rows, then quads within each
    // 128-bit half, then the halves.
    static __m256 largest_magnitudes(const float* rows, int count) {
        const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
        __m256 m[8];
        for (int r = 0; r < 8; ++r) {
            const float* in = rows + static_cast<long>(r) * count;
            __m256 largest = _mm256_and_ps(_mm256_loadu_ps(in), magnitude);
            for (int c = 8; c < count; c += 8) largest = _mm256_max_ps(largest, _mm256_and_ps(_mm256_loadu_ps(in + c), magnitude));
            m[r] = largest;
        }
        __m256 n[4];  // per half: rows 2i and 2i + 1, interleaved, half folded
        for (int i = 0; i < 4; ++i)
            n[i] = _mm256_max_ps(_mm256_unpacklo_ps(m[2 * i], m[2 * i + 1]), _mm256_unpackhi_ps(m[2 * i], m[2 * i + 1]));
        __m256 p[2];  // per half: rows 4i .. 4i + 3, each over that half's lanes
        for (int i = 0; i < 2; ++i) {
            const __m256d a = _mm256_castps_pd(n[2 * i]), b = _mm256_castps_pd(n[2 * i + 1]);
            p[i] = _mm256_max_ps(_mm256_castpd_ps(_mm256_unpacklo_pd(a, b)), _mm256_castpd_ps(_mm256_unpackhi_pd(a, b)));
        }
        return _mm256_max_ps(_mm256_permute2f128_ps(p[0], p[1], 0x20), _mm256_permute2f128_ps(p[0], p[1], 0x31));
    }
    // 8 rows, back to back in `rows`, with the results of quantise_rows one
    // row at a time. No clamp: |x| <= largest makes |x x limit / largest| at
    // most limit plus a rounding, below limit + 0.5.
    static void quantise_batch(const float* rows, int count, int limit, std::int16_t* out, long out_stride,
                               float* row_scales, long scale_stride) {
        const __m256 largest = largest_magnitudes(rows, count);
        const __m256 limit_vector = _mm256_set1_ps(static_cast<float>(limit));
        const __m256 nonzero = _mm256_cmp_ps(largest, _mm256_setzero_ps(), _CMP_NEQ_OQ);
        float inverse[8], scales[8];
        _mm256_storeu_ps(inverse, _mm256_and_ps(nonzero, _mm256_div_ps(limit_vector, largest)));
        _mm256_storeu_ps(scales, _mm256_div_ps(largest, limit_vector));
        for (int r = 0; r < 8; ++r) {
            row_scales[r * scale_stride] = scales[r];
            const float* in = rows + static_cast<long>(r) * count;
            std::int16_t* row_out = out + r * out_stride;
            const __m256 factor = _mm256_set1_ps(inverse[r]);
            for (int c = 0; c < count; c += 16) {
                const __m256i first = _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_loadu_ps(in + c), factor));
                const __m256i second = _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_loadu_ps(in + c + 8), factor));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(row_out + c),
                                    _mm256_permute4x64_epi64(_mm256_packs_epi32(first, second), 0xD8));
            }
        }
    }
    static void range(const float* source, long count, float* lowest, float* highest) {
        __m256 low = _mm256_loadu_ps(source), high = low;
        for (long i = 8; i < count; i += 8) {
            const __m256 value = _mm256_loadu_ps(source + i);
            low = _mm256_min_ps(low, value);
            high = _mm256_max_ps(high, value);
        }
        float lows[8], highs[8];
        _mm256_storeu_ps(lows, low);
        _mm256_storeu_ps(highs, high);
        *lowest = lows[0];
        *highest = highs[0];
        for (int l = 1; l < 8; ++l) {
            *lowest = lows[l] < *lowest ? lows[l] : *lowest;
            *highest = highs[l] > *highest ? highs[l] : *highest;
        }
    }
    // vpackssdw saturates (a NaN converts to INT_MIN, then -32768).
    static void round_tensor(const float* source, long count, float factor, std::int16_t* rounded) {
        const __m256 f = _mm256_set1_ps(factor);
        for (long i = 0; i < count; i += 16) {
            const __m256i first = _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_loadu_ps(source + i), f));
            const __m256i second = _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_loadu_ps(source + i + 8), f));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(rounded + i),
                                _mm256_permute4x64_epi64(_mm256_packs_epi32(first, second), 0xD8));
        }
    }
    // One row. Counts are multiples of 16. Round to nearest even (the default mode).
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

#if QVR_INT16_AVXVNNI
// 16 ymm registers: 5 x 2 accumulators, 2 weight vectors and the broadcast
// (no vpmaddwd result to hold); five rows split the 25 tiles of a 20x20
// plane evenly.
constexpr int row_block(int vectors) { return vectors >= 2 ? 5 : 12; }
#else
// 16 ymm registers: 4 x 2 accumulators, 2 weight vectors, the broadcast and
// vpmaddwd's result.
constexpr int row_block(int vectors) { return vectors >= 2 ? 4 : 8; }
#endif
constexpr int kColumnVectors = 2;

}  // namespace
}  // namespace qvr::QVR_INT16_NAMESPACE

#include "qvr/int16_kernels.inl"
