#include "qvr/runner_factory.h"

#include <utility>

#include "qvr/int16_kernel_table.h"
#include "qvr/int8_kernel_table.h"
#include "qvr/kernel_table.h"

namespace qvr {

std::unique_ptr<Runner> make_runner(ModelGraph graph, std::vector<TShape> shapes, KernelPath path) {
    switch (path) {
        case KernelPath::generic: return make_fast_runner(graph, shapes, generic_kernel_table());
        case KernelPath::int8_generic:
            return make_fast_runner(graph, shapes, generic_kernel_table(), &int8_generic_kernel_table());
        case KernelPath::int16_generic:
            return make_fast_runner(graph, shapes, generic_kernel_table(), nullptr, &int16_generic_kernel_table());
        case KernelPath::int16i_generic:
            return make_fast_runner(graph, shapes, generic_kernel_table(), nullptr, &int16_generic_kernel_table(),
                                    Int16Input::integer_transform);
#if defined(__x86_64__)
        case KernelPath::avx2: return make_fast_runner(graph, shapes, avx2_kernel_table());
        case KernelPath::avx512: return make_fast_runner(graph, shapes, avx512_kernel_table());
        case KernelPath::int8_avxvnni:
            return make_fast_runner(graph, shapes, avx2_kernel_table(), &int8_avxvnni_kernel_table());
        case KernelPath::int8_avx512:
            return make_fast_runner(graph, shapes, avx512_kernel_table(), &int8_avx512_kernel_table());
        case KernelPath::int16_avx2:
            return make_fast_runner(graph, shapes, avx2_kernel_table(), nullptr, &int16_avx2_kernel_table());
        case KernelPath::int16_avxvnni:
            return make_fast_runner(graph, shapes, avx2_kernel_table(), nullptr, &int16_avxvnni_kernel_table());
        case KernelPath::int16_avx512:
            return make_fast_runner(graph, shapes, avx512_kernel_table(), nullptr, &int16_avx512_kernel_table());
        case KernelPath::int16i_avx2:
            return make_fast_runner(graph, shapes, avx2_kernel_table(), nullptr, &int16_avx2_kernel_table(),
                                    Int16Input::integer_transform);
        case KernelPath::int16i_avxvnni:
            return make_fast_runner(graph, shapes, avx2_kernel_table(), nullptr, &int16_avxvnni_kernel_table(),
                                    Int16Input::integer_transform);
        case KernelPath::int16i_avx512:
            return make_fast_runner(graph, shapes, avx512_kernel_table(), nullptr, &int16_avx512_kernel_table(),
                                    Int16Input::integer_transform);
#else
        case KernelPath::avx2:  // never supported off x86-64 (cpu_supports says so)
        case KernelPath::avx512: return make_fast_runner(graph, shapes, generic_kernel_table());
        case KernelPath::int8_avxvnni:
        case KernelPath::int8_avx512:
            return make_fast_runner(graph, shapes, generic_kernel_table(), &int8_generic_kernel_table());
        case KernelPath::int16_avx2:
        case KernelPath::int16_avxvnni:
        case KernelPath::int16_avx512:
            return make_fast_runner(graph, shapes, generic_kernel_table(), nullptr, &int16_generic_kernel_table());
        case KernelPath::int16i_avx2:
        case KernelPath::int16i_avxvnni:
        case KernelPath::int16i_avx512:
            return make_fast_runner(graph, shapes, generic_kernel_table(), nullptr, &int16_generic_kernel_table(),
                                    Int16Input::integer_transform);
#endif
        case KernelPath::automatic:  // resolved by the caller; the reference is the safe answer
        case KernelPath::reference: break;
    }
    return make_reference_runner(std::move(graph), std::move(shapes));
}

}  // namespace qvr
