// Int16 Winograd products for AVX-VNNI (compiled with -mavx2 -mfma -mavxvnni;
// only called after the CPU was checked): the VEX form of vpdpwssd on 256-bit
// registers, for CPUs that have it without AVX-512. One instruction does what
// vpmaddwd and vpaddd do on AVX2.
#include "qvr/int16_kernel_table.h"

#define QVR_INT16_NAMESPACE int16_avxvnni
#define QVR_INT16_AVXVNNI 1
#include "qvr/int16_avx2_ops.inl"

namespace qvr {

const Int16KernelTable& int16_avxvnni_kernel_table() {
    static const Int16KernelTable table = int16_avxvnni::make_int16_table();
    return table;
}

}  // namespace qvr
