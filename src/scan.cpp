// Chooses the scan kernel: the one that the build pinned, or on x86-64 the
// fastest that the processor runs, picked at the first call.
#include "scan.h"
#include "scan_kernels.h"

namespace scan {
namespace {

typedef void Kernel(const char* line, const char* end, int* minimum, int* maximum);

Kernel* choose()
{
#if defined(TAVRIN_SCAN_PORTABLE)
    return portable_fold_line;
#elif defined(TAVRIN_SCAN_SSE2)
    return sse2_fold_line;
#elif defined(TAVRIN_SCAN_AVX512)
    return avx512_fold_line;
#elif defined(__x86_64__)
    __builtin_cpu_init();
    const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                        __builtin_cpu_supports("avx512vbmi") &&
                        __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("popcnt") &&
                        __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
                        __builtin_cpu_supports("lzcnt");
    return avx512 ? avx512_fold_line : sse2_fold_line;
#else
    return portable_fold_line;
#endif
}

Kernel* chosen = nullptr;

}  // namespace

void fold_line(const char* line, std::size_t length, int (&minimum)[kTokens],
               int (&maximum)[kTokens])
{
    if (chosen == nullptr) chosen = choose();
    chosen(line, line + length, minimum, maximum);
}

}  // namespace scan
