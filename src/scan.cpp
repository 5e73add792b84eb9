// Chooses the scan kernel: the one that the build pinned, or the fastest of
// this build's kernels that the processor runs, picked at the first call.
// The build defines TAVRIN_KERNEL_<NAME> for each kernel it links in.
#include "scan.h"
#include "scan_kernels.h"

#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace scan {
namespace {

#if defined(__x86_64__)
// Feature bits that cpuid reports, by leaf and register, and the register
// states that the system must save for the wider vectors to be usable.
const unsigned kPopcnt = 1u << 23, kOsXsave = 1u << 27, kAvx = 1u << 28;  // leaf 1, ecx
const unsigned kBmi1 = 1u << 3, kAvx2 = 1u << 5, kBmi2 = 1u << 8;         // leaf 7, ebx
const unsigned kAvx512F = 1u << 16, kAvx512Bw = 1u << 30;                 // leaf 7, ebx
const unsigned kAvx512Vbmi = 1u << 1, kAvx512Vbmi2 = 1u << 6;             // leaf 7, ecx
const unsigned kLzcnt = 1u << 5;                                          // leaf 0x80000001, ecx
const unsigned kYmmState = 0x06;  // SSE and AVX registers
const unsigned kZmmState = 0xE6;  // and the AVX-512 ones

struct Features {
    unsigned leaf1_ecx, leaf7_ebx, leaf7_ecx, extended_ecx, saved_state;
};

bool has(unsigned word, unsigned bits)
{
    return (word & bits) == bits;
}

Features read_features()
{
    Features f = {0, 0, 0, 0, 0};
    unsigned a, b, c, d;
    if (__get_cpuid(1, &a, &b, &c, &d)) f.leaf1_ecx = c;
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
        f.leaf7_ebx = b;
        f.leaf7_ecx = c;
    }
    if (__get_cpuid(0x80000001, &a, &b, &c, &d)) f.extended_ecx = c;
    if (has(f.leaf1_ecx, kOsXsave)) {
        unsigned high;
        __asm__("xgetbv" : "=a"(f.saved_state), "=d"(high) : "c"(0));
    }
    return f;
}

// cpuid is slow (under a hypervisor it traps), so it is asked once.
const Features& features()
{
    static const Features f = read_features();
    return f;
}

// A pinned build lists one kernel, so some of these go unused.
[[gnu::unused]] bool avx2_runs()
{
    const Features& f = features();
    return has(f.leaf1_ecx, kPopcnt | kAvx) && has(f.leaf7_ebx, kAvx2 | kBmi1 | kBmi2) &&
           has(f.saved_state, kYmmState);
}

[[gnu::unused]] bool avx512_runs()
{
    const Features& f = features();
    return avx2_runs() && has(f.leaf7_ebx, kAvx512F | kAvx512Bw) &&
           has(f.leaf7_ecx, kAvx512Vbmi | kAvx512Vbmi2) && has(f.extended_ecx, kLzcnt) &&
           has(f.saved_state, kZmmState);
}
#endif

[[gnu::unused]] bool always()
{
    return true;
}

const KernelEntry kKernels[] = {
#if defined(TAVRIN_KERNEL_AVX512)
    {"avx512", avx512_fold_line, avx512_runs},
#endif
#if defined(TAVRIN_KERNEL_AVX2)
    {"avx2", avx2_fold_line, avx2_runs},
#endif
#if defined(TAVRIN_KERNEL_SSE2)
    {"sse2", sse2_fold_line, always},
#endif
#if defined(TAVRIN_KERNEL_NEON)
    {"neon", neon_fold_line, always},
#endif
#if defined(TAVRIN_KERNEL_PORTABLE)
    {"portable", portable_fold_line, always},
#endif
    {nullptr, nullptr, nullptr},
};

const KernelEntry* chosen = nullptr;

const KernelEntry* fastest()
{
    for (const KernelEntry* k = kKernels; k->name != nullptr; ++k) {
        if (k->runs_here()) return k;
    }
    return kKernels;  // a pinned kernel, which the processor may lack
}

// The kernel in use, chosen at the first call.
const KernelEntry& current()
{
    if (chosen == nullptr) chosen = fastest();
    return *chosen;
}

}  // namespace

const KernelEntry* kernels()
{
    return kKernels;
}

const char* kernel_in_use()
{
    return current().name;
}

bool use_kernel(const char* name)
{
    for (const KernelEntry* k = kKernels; k->name != nullptr; ++k) {
        if (std::strcmp(k->name, name) == 0 && k->runs_here()) {
            chosen = k;
            return true;
        }
    }
    return false;
}

int fold_line(const char* line, std::size_t length, int (&minimum)[kTokens], int (&maximum)[kTokens],
              SurveyLine* survey)
{
    return current().fold(line, line + length, minimum, maximum, survey);
}

}  // namespace scan
