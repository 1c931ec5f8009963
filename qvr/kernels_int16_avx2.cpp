// Int16 Winograd products for AVX2 (compiled with -mavx2 -mfma; only called
// after the CPU was checked): vpmaddwd does 16 int16 products into 8 int32
// pair sums, then vpaddd accumulates them.
#include "qvr/int16_kernel_table.h"

#define QVR_INT16_NAMESPACE int16_avx2
#define QVR_INT16_AVXVNNI 0
#include "qvr/int16_avx2_ops.inl"

namespace qvr {

const Int16KernelTable& int16_avx2_kernel_table() {
    static const Int16KernelTable table = int16_avx2::make_int16_table();
    return table;
}

}  // namespace qvr
