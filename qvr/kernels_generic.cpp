// Kernels in plain C++ for any CPU: an 8-lane "vector" of floats that the
// compiler maps onto whatever SIMD the baseline target has.
#include "qvr/kernel_table.h"

namespace qvr::generic_simd {
namespace {

struct Vec {
    static constexpr int width = 8;
    float lane[width];

    static Vec zero() { return broadcast(0.0f); }
    static Vec broadcast(float value) {
        Vec v;
        for (float& l : v.lane) l = value;
        return v;
    }
    static Vec load(const float* p) {
        Vec v;
        for (int i = 0; i < width; ++i) v.lane[i] = p[i];
        return v;
    }
    static void store(float* p, const Vec& v) {
        for (int i = 0; i < width; ++i) p[i] = v.lane[i];
    }
    static Vec add(const Vec& a, const Vec& b) {
        Vec v;
        for (int i = 0; i < width; ++i) v.lane[i] = a.lane[i] + b.lane[i];
        return v;
    }
    static Vec sub(const Vec& a, const Vec& b) {
        Vec v;
        for (int i = 0; i < width; ++i) v.lane[i] = a.lane[i] - b.lane[i];
        return v;
    }
    static Vec mul(const Vec& a, const Vec& b) {
        Vec v;
        for (int i = 0; i < width; ++i) v.lane[i] = a.lane[i] * b.lane[i];
        return v;
    }
    static Vec fmadd(const Vec& a, const Vec& b, const Vec& c) {
        Vec v;
        for (int i = 0; i < width; ++i) v.lane[i] = a.lane[i] * b.lane[i] + c.lane[i];
        return v;
    }
    static Vec max(const Vec& a, const Vec& b) {
        Vec v;
        for (int i = 0; i < width; ++i) v.lane[i] = a.lane[i] > b.lane[i] ? a.lane[i] : b.lane[i];
        return v;
    }
    static float reduce_add(const Vec& v) {
        float sum = 0.0f;
        for (float l : v.lane) sum += l;
        return sum;
    }
};

// Small blocks: without known registers, keep the working set modest.
constexpr int row_block(int) { return 4; }
constexpr int kPrefetchLocality = 2;  // into L2
constexpr int kColumnVectors = 2;

}  // namespace
}  // namespace qvr::generic_simd

#define QVR_SIMD_NAMESPACE generic_simd
#include "qvr/simd_kernels.inl"

namespace qvr {

const KernelTable& generic_kernel_table() {
    static const KernelTable table = generic_simd::make_table();
    return table;
}

}  // namespace qvr
